#include "platform/imageio/LzwStrip.h"

#include <cstring>
#include <memory>

namespace platform {

namespace {

constexpr unsigned kClear = 256, kEnd = 257, kFirst = 258;
// The table holds codes up to 4093: adding 4093 makes the next free code 4094, and a Clear
// code goes out (at 12 bits) instead of a 13-bit width.
constexpr unsigned kFull = 4094;
constexpr int kMinBits = 9;

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

}  // namespace

void CompressLzwStrip(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
    // At most one code per byte, a Clear code per table, the first Clear and End: 12 bits each.
    const std::size_t codes = size + size / (kFull - kFirst) + 4;
    const std::size_t most = codes * 3 / 2 + 2;
    if (out.size() < most) out.resize(most);
    std::uint8_t* op = out.data();

    std::uint64_t pending = 0;
    int pendingBits = 0;
    int bits = kMinBits;
    unsigned limit = (1u << kMinBits) - 1;  // the largest code of the current width
    const auto put = [&](unsigned code) {
        pending = pending << bits | code;
        pendingBits += bits;
        while (pendingBits >= 8) {
            pendingBits -= 8;
            *op++ = static_cast<std::uint8_t>(pending >> pendingBits);
        }
    };

    auto table = std::make_unique<StringTable>();
    unsigned next = kFirst;
    put(kClear);
    if (size > 0) {
        unsigned prefix = data[0];
        for (std::size_t i = 1; i < size; ++i) {
            const unsigned byte = data[i];
            const std::uint32_t key = prefix << 8 | byte;
            std::uint32_t slot = 0;
            const int found = table->Find(key, slot);
            if (found >= 0) {
                prefix = static_cast<unsigned>(found);
                continue;
            }
            put(prefix);
            table->Put(slot, key, next++);
            prefix = byte;
            if (next == kFull) {
                put(kClear);
                table->Reset();
                next = kFirst;
                bits = kMinBits;
                limit = (1u << kMinBits) - 1;
            } else if (next > limit) {
                ++bits;
                limit = (1u << bits) - 1;
            }
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
    if (pendingBits > 0) *op++ = static_cast<std::uint8_t>(pending << (8 - pendingBits));
    out.resize(static_cast<std::size_t>(op - out.data()));
}

}  // namespace platform
