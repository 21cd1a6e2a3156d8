#include "platform/imageio/LzwStrip.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>

namespace platform {

namespace {

constexpr unsigned kClear = 256, kEnd = 257, kFirst = 258;
constexpr int kMinBits = 9;

// The two ways of writing the codes. TIFF: most significant bit first, the width growing one
// code early; the table holds codes up to 4093 (adding 4093 makes the next free code 4094, and
// a Clear code goes out at 12 bits instead of a 13-bit width). GIF: least significant bit
// first, the width growing once the reader's table reaches the width's codes; a Clear code
// goes out when all 4096 codes are taken.
struct Tiff {
    static constexpr bool kLowBitFirst = false;
    static constexpr unsigned kFull = 4094;
    static constexpr unsigned Limit(int bits) { return (1u << bits) - 1; }  // the next free code may reach this
};
struct Gif {
    static constexpr bool kLowBitFirst = true;
    static constexpr unsigned kFull = 4096;
    static constexpr unsigned Limit(int bits) { return bits < 12 ? 1u << bits : 4096; }
};
constexpr unsigned kMostCodes = 4096 - kFirst;  // in one table

// The string table: (prefix code, next byte) → code, by open addressing. A slot belongs to the
// current table when its generation is the table's, so that starting afresh clears nothing.
class StringTable {
public:
    StringTable() { std::memset(tags_, 0, sizeof tags_); }

    void Reset() {
        if (++generation_ == 1u << kGenerationBits) {
            std::memset(tags_, 0, sizeof tags_);
            generation_ = 1;
        }
    }
    // The code of `key` (prefix << 8 | byte), or -1 with `slot` where it goes.
    int Find(std::uint32_t key, std::uint32_t& slot) const {
        const std::uint32_t tag = generation_ << kKeyBits | key;
        std::uint32_t s = (key * 2654435761u) >> (32 - kSlotBits);
        for (;;) {
            const std::uint32_t t = tags_[s];
            if (t == tag) return codes_[s];
            if ((t >> kKeyBits) != generation_) {
                slot = s;
                return -1;
            }
            s = (s + 1) & (kSlots - 1);
        }
    }
    void Put(std::uint32_t slot, std::uint32_t key, unsigned code) {
        tags_[slot] = generation_ << kKeyBits | key;
        codes_[slot] = static_cast<std::uint16_t>(code);
    }

private:
    static constexpr int kKeyBits = 20, kGenerationBits = 12, kSlotBits = 14;
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;  // four times the codes
    std::uint32_t tags_[kSlots];
    std::uint16_t codes_[kSlots];
    std::uint32_t generation_ = 1;
};

// The strings of one byte repeated that the table holds: those of every length from 1 up to
// `length[b]` (a run string enters the table only when the one a byte shorter goes out and the
// byte follows), with their codes. Inside a run of one byte, the table's answer for each next
// byte is then known without looking it up: rendered pages are mostly such runs (white).
struct RunStrings {
    static constexpr unsigned kLongest = kMostCodes + 1;  // one table's worth, at most
    std::uint16_t length[256];
    // [byte][length - 2]: the codes of the strings of 2 bytes and more (a single byte is its
    // own code). Only the rows of bytes that run are ever touched.
    std::unique_ptr<std::uint16_t[]> codes{new std::uint16_t[256 * kLongest]};

    void Reset() { std::fill(std::begin(length), std::end(length), std::uint16_t{1}); }
    unsigned Code(unsigned byte, unsigned len) const { return len == 1 ? byte : codes[byte * kLongest + len - 2]; }
    void Add(unsigned byte, unsigned code) {  // the string one longer than the longest held
        codes[byte * kLongest + length[byte] - 1] = static_cast<std::uint16_t>(code);
        ++length[byte];
    }
};

// How many bytes from `p` (up to `end`) are `byte`.
std::size_t RunLength(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t byte) {
    const std::uint64_t pattern = 0x0101010101010101ull * byte;
    const std::uint8_t* q = p;
    while (end - q >= 8) {
        std::uint64_t v;
        std::memcpy(&v, q, 8);
        if (const std::uint64_t d = v ^ pattern) return static_cast<std::size_t>(q - p) + static_cast<std::size_t>(std::countr_zero(d) >> 3);
        q += 8;
    }
    while (q < end && *q == byte) ++q;
    return static_cast<std::size_t>(q - p);
}

template <class Flavour>
void CompressLzw(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    constexpr unsigned kFull = Flavour::kFull;
    // At most one code per byte, a Clear code per table, the first Clear and End: 12 bits each.
    const std::size_t codes = size + size / (kFull - kFirst) + 4;
    const std::size_t most = codes * 3 / 2 + 2;
    if (out.size() < most) out.resize(most);
    std::uint8_t* op = out.data();

    std::uint64_t pending = 0;
    int pendingBits = 0;
    int bits = kMinBits;
    unsigned limit = Flavour::Limit(kMinBits);  // what the next free code may reach at this width
    const auto put = [&](unsigned code) {
        if constexpr (Flavour::kLowBitFirst) {
            pending |= std::uint64_t{code} << pendingBits;
            pendingBits += bits;
            while (pendingBits >= 8) {
                *op++ = static_cast<std::uint8_t>(pending);
                pending >>= 8;
                pendingBits -= 8;
            }
        } else {
            pending = pending << bits | code;
            pendingBits += bits;
            while (pendingBits >= 8) {
                pendingBits -= 8;
                *op++ = static_cast<std::uint8_t>(pending >> pendingBits);
            }
        }
    };

    auto table = std::make_unique<StringTable>();
    // Kept by the thread: strip after strip, only the lengths start again.
    thread_local std::unique_ptr<RunStrings> threadRuns;
    if (!threadRuns) threadRuns = std::make_unique<RunStrings>();
    RunStrings* const runs = threadRuns.get();
    runs->Reset();
    unsigned next = kFirst;
    // After a code is added: a wider code, or a fresh table once it is full.
    const auto added = [&] {
        if (next == kFull) {
            put(kClear);
            table->Reset();
            runs->Reset();
            next = kFirst;
            bits = kMinBits;
            limit = Flavour::Limit(kMinBits);
        } else if (next > limit) {
            ++bits;
            limit = Flavour::Limit(bits);
        }
    };
    put(kClear);
    if (size > 0) {
        const std::uint8_t* const end = data + size;
        unsigned prefix = data[0];
        // The string `prefix` stands for is `run` times `runByte`; 0 when it is not one byte repeated.
        unsigned run = 1, runByte = data[0];
        for (const std::uint8_t* p = data + 1; p < end;) {
            const unsigned byte = *p;
            if (run && byte == runByte) {
                // Along the run as far as the table's strings of that byte go (looking no
                // further than one byte past them).
                const unsigned held = runs->length[byte];
                const std::uint8_t* stop = std::min<const std::uint8_t*>(end, p + (held - run) + 1);
                const std::size_t more = RunLength(p, stop, static_cast<std::uint8_t>(byte));
                if (run + more <= held) {
                    run += static_cast<unsigned>(more);
                    prefix = runs->Code(byte, run);
                    p += more;
                    continue;
                }
                p += held - run;
                prefix = runs->Code(byte, held);
                // The string one byte longer is new: out goes the one held, in the longer one.
                put(prefix);
                std::uint32_t slot = 0;
                const std::uint32_t key = prefix << 8 | byte;
                if (table->Find(key, slot) < 0) table->Put(slot, key, next);
                runs->Add(byte, next);
                ++next;
                added();
                prefix = byte;
                run = 1;
                ++p;
                continue;
            }
            const std::uint32_t key = prefix << 8 | byte;
            std::uint32_t slot = 0;
            const int found = table->Find(key, slot);
            ++p;
            if (found >= 0) {
                prefix = static_cast<unsigned>(found);
                run = 0;
                continue;
            }
            put(prefix);
            table->Put(slot, key, next++);
            added();
            prefix = byte;
            run = 1;
            runByte = byte;
        }
        put(prefix);
        // A reader adds an entry for this code too: End goes out at the width it then reads.
        if (++next == kFull) {
            put(kClear);
            bits = kMinBits;
        } else if (next > limit) {
            ++bits;
        }
    }
    put(kEnd);
    if (pendingBits > 0)
        *op++ = static_cast<std::uint8_t>(Flavour::kLowBitFirst ? pending : pending << (8 - pendingBits));
    out.resize(static_cast<std::size_t>(op - out.data()));
}

}  // namespace

void CompressLzwStrip(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    CompressLzw<Tiff>(data, size, out);
}

void CompressGifLzw(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    CompressLzw<Gif>(data, size, out);
}

}  // namespace platform
