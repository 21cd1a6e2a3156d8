#include "platform/imageio/RowDeflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <queue>

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/BufferPool.h"
#include "platform/WorkerBudget.h"

namespace platform {
namespace {

// The tables of the deflate format (RFC 1951).
constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                             33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                             1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                             6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Runs shorter than this stay with the rows around them: a libdeflate call has a fixed cost,
// and a short run does not cut the 32 KiB window that matches reach back into anyway.
constexpr int kMinimumRun = 8;

// Rows between runs are compressed in pieces of about this size when threads are free.
constexpr std::size_t kPieceBytes = std::size_t{4} << 20;

std::uint32_t Reverse(std::uint32_t code, int length) {
    std::uint32_t r = 0;
    for (int i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// ---------------------------------------------------------------------------------------------
// Reading: just enough of inflate to walk a stream's blocks without producing its bytes.

// Bits are kept in a 64-bit buffer refilled a byte at a time; `pos` counts the bits taken.
struct BitReader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;    // in bits
    std::size_t next = 0;   // the next byte to load
    std::uint64_t buffer = 0;
    int held = 0;           // bits in the buffer

    void Refill() {
        if (next + 8 <= size && held <= 56) {
            // Eight bytes at once (little-endian hosts only, checked by the caller); only the
            // whole bytes that fit are counted.
            std::uint64_t v;
            std::memcpy(&v, data + next, 8);
            buffer |= v << held;
            const int bytes = (63 - held) >> 3;
            next += static_cast<std::size_t>(bytes);
            held += bytes * 8;
            return;
        }
        while (held <= 56) {
            const std::uint64_t b = next < size ? data[next] : 0;  // past the end reads as zero
            ++next;
            buffer |= b << held;
            held += 8;
        }
    }
    std::uint32_t Peek(int count) {  // count <= 32
        if (held < count) Refill();
        return static_cast<std::uint32_t>(buffer & ((std::uint64_t{1} << count) - 1));
    }
    void Skip(int count) {
        if (held < count) Refill();
        buffer >>= count;
        held -= count;
        pos += static_cast<std::size_t>(count);
    }
    std::uint32_t Take(int count) {
        const std::uint32_t v = Peek(count);
        Skip(count);
        return v;
    }
    // Jumps to a later bit (stored blocks): the buffer starts again there.
    void Seek(std::size_t bit) {
        pos = bit;
        next = bit >> 3;
        buffer = 0;
        held = 0;
        const int partial = static_cast<int>(bit & 7);
        if (partial) {
            Refill();
            buffer >>= partial;
            held -= partial;
        }
    }
    bool Past() const { return pos > size * 8; }
};

constexpr int kFastBits = 10;

struct Decoder {
    std::uint16_t count[16] = {};
    std::uint16_t symbol[320] = {};
    std::uint16_t fast[1 << kFastBits] = {};  // length << 9 | symbol; 0 = not in the table

    bool Build(const std::uint8_t* lengths, int n) {
        std::memset(count, 0, sizeof count);
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        count[0] = 0;
        int left = 1;
        for (int len = 1; len <= 15; ++len) {
            left <<= 1;
            left -= count[len];
            if (left < 0) return false;  // over-subscribed
        }
        std::uint16_t offsets[16];
        offsets[1] = 0;
        for (int len = 1; len < 15; ++len) offsets[len + 1] = static_cast<std::uint16_t>(offsets[len] + count[len]);
        for (int i = 0; i < n; ++i)
            if (lengths[i]) symbol[offsets[lengths[i]]++] = static_cast<std::uint16_t>(i);
        // Canonical codes, then the short ones into the table, bit-reversed as they are read.
        std::memset(fast, 0, sizeof fast);
        std::uint32_t next[16] = {};
        std::uint32_t code = 0;
        for (int len = 1; len <= 15; ++len) {
            next[len] = code;
            code = (code + count[len]) << 1;
        }
        for (int i = 0; i < n; ++i) {
            const int len = lengths[i];
            if (!len) continue;
            const std::uint32_t c = next[len]++;
            if (len > kFastBits) continue;
            const std::uint32_t r = Reverse(c, len);
            for (std::uint32_t k = r; k < (1u << kFastBits); k += 1u << len)
                fast[k] = static_cast<std::uint16_t>((len << 9) | i);
        }
        return true;
    }

    int Decode(BitReader& in) const {
        const std::uint16_t e = fast[in.Peek(kFastBits)];
        if (e) {
            in.Skip(e >> 9);
            return e & 0x1FF;
        }
        // A long code (or none): canonical decoding bit by bit.
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            code |= static_cast<int>(in.Take(1));
            const int c = count[len];
            if (code - c < first) return symbol[index + (code - first)];
            index += c;
            first += c;
            first <<= 1;
            code <<= 1;
        }
        return -1;
    }
};

bool SkipSymbols(BitReader& in, const Decoder& literals, const Decoder& distances) {
    for (;;) {
        int s = literals.Decode(in);
        if (s < 0 || in.Past()) return false;
        if (s < 256) continue;
        if (s == 256) return true;
        s -= 257;
        if (s >= 29) return false;
        if (kLengthExtra[s]) in.Skip(kLengthExtra[s]);
        const int d = distances.Decode(in);
        if (d < 0 || d >= 30) return false;
        if (kDistanceExtra[d]) in.Skip(kDistanceExtra[d]);
    }
}

// ---------------------------------------------------------------------------------------------
// Writing.

struct BitWriter {
    std::vector<std::uint8_t>& out;
    std::uint64_t bits = 0;
    int count = 0;

    void Put(std::uint32_t value, int n) {  // n <= 32
        bits |= std::uint64_t{value} << count;
        count += n;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void Align() {
        if (count > 0) out.push_back(static_cast<std::uint8_t>(bits));
        bits = 0;
        count = 0;
    }
};

// An empty stored block: the stream goes on from the next byte boundary.
void EmptyStoredBlock(BitWriter& w) {
    w.Put(0, 3);
    w.Align();
    for (std::uint8_t b : {0x00, 0x00, 0xFF, 0xFF}) w.out.push_back(b);
}

}  // namespace

// Code lengths of a Huffman code for `freq` (a deflate alphabet: at most 288 symbols), none
// above `limit`. Symbols of frequency 0 get no code. The lengths of an optimal code are worked
// out in place over the frequencies in rising order (Moffat and Katajainen); should some exceed
// the limit, they are cut to it, and codes just short of the limit are made one bit longer
// until the code is complete again.
std::vector<std::uint8_t> HuffmanLengths(const std::vector<std::uint32_t>& freq, int limit) {
    const int n = static_cast<int>(freq.size());
    std::vector<std::uint8_t> lengths(freq.size(), 0);
    std::uint64_t order[320];  // frequency << 16 | symbol
    int used = 0;
    for (int i = 0; i < n && used < 320; ++i)
        if (freq[i]) order[used++] = std::uint64_t{freq[i]} << 16 | static_cast<std::uint64_t>(i);
    if (used == 0) return lengths;
    if (used == 1) {
        lengths[order[0] & 0xFFFF] = 1;
        return lengths;
    }
    std::sort(order, order + used);
    std::uint64_t a[320];
    for (int i = 0; i < used; ++i) a[i] = order[i] >> 16;
    // First pass: pair the two lightest of the leaves and the trees made so far; each tree's
    // slot then names its parent.
    a[0] += a[1];
    int root = 0, leaf = 2;
    for (int next = 1; next < used - 1; ++next) {
        if (leaf >= used || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = static_cast<std::uint64_t>(next);
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= used || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = static_cast<std::uint64_t>(next);
        } else {
            a[next] += a[leaf++];
        }
    }
    // Second pass: the depth of each tree, from the root down.
    a[used - 2] = 0;
    for (int next = used - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    // Third pass: the depth of each leaf, the lightest deepest.
    int available = 1, inner = 0, depth = 0, next = used - 1;
    root = used - 2;
    while (available > 0) {
        while (root >= 0 && a[root] == static_cast<std::uint64_t>(depth)) {
            ++inner;
            --root;
        }
        while (available > inner) {
            a[next--] = static_cast<std::uint64_t>(depth);
            --available;
        }
        available = 2 * inner;
        ++depth;
        inner = 0;
    }
    // The number of codes of each length, cut to the limit.
    int count[64] = {};
    for (int i = 0; i < used; ++i) ++count[std::min<int>(static_cast<int>(a[i]), 63)];
    int longest = 0;
    for (int len = 1; len < 64; ++len)
        if (count[len]) longest = len;
    if (longest > limit) {
        for (int len = limit + 1; len < 64; ++len) {
            count[limit] += count[len];
            count[len] = 0;
        }
        // Kraft's sum, in units of the longest code, is now too large: move codes down a level.
        std::uint64_t total = 0;
        for (int len = 1; len <= limit; ++len) total += std::uint64_t(count[len]) << (limit - len);
        while (total > (std::uint64_t{1} << limit)) {
            --count[limit];
            for (int len = limit - 1; len > 0; --len) {
                if (count[len]) {
                    --count[len];
                    count[len + 1] += 2;
                    break;
                }
            }
            --total;
        }
    }
    // The longest codes to the rarest symbols.
    int at = 0;
    for (int len = std::min(longest, limit); len > 0; --len)
        for (int k = 0; k < count[len]; ++k) lengths[order[at++] & 0xFFFF] = static_cast<std::uint8_t>(len);
    return lengths;
}

namespace {

// Canonical codes for the lengths, already bit-reversed for writing.
std::vector<std::uint32_t> Codes(const std::vector<std::uint8_t>& lengths) {
    std::uint32_t count[16] = {}, next[16] = {};
    for (std::uint8_t l : lengths) ++count[l];
    count[0] = 0;
    std::uint32_t code = 0;
    for (int len = 1; len <= 15; ++len) {
        next[len] = code;
        code = (code + count[len]) << 1;
    }
    std::vector<std::uint32_t> codes(lengths.size(), 0);
    for (std::size_t i = 0; i < lengths.size(); ++i)
        if (lengths[i]) codes[i] = Reverse(next[lengths[i]]++, lengths[i]);
    return codes;
}

int LengthSymbol(int length) {  // 3..258 -> 0..28 (add 257)
    int s = 28;
    while (kLengthBase[s] > length) --s;
    return s;
}

int DistanceSymbol(int distance) {
    int s = 29;
    while (kDistanceBase[s] > distance) --s;
    return s;
}

// A dynamic block's header: the code lengths, run-length coded with the code-length alphabet.
struct DynamicHeader {
    struct ClToken {
        std::uint8_t symbol, extra, extraBits;
    };
    int nlit = 257, ndist = 1, hclen = 4;
    std::vector<ClToken> cl;
    std::vector<std::uint8_t> clLengths;
    std::vector<std::uint32_t> clCodes;
    std::size_t bits = 0;  // the header's size

    DynamicHeader(const std::vector<std::uint8_t>& literalLengths, const std::vector<std::uint8_t>& distanceLengths) {
        for (int i = 0; i < 286; ++i)
            if (literalLengths[i]) nlit = std::max(nlit, i + 1);
        for (int i = 0; i < 30; ++i)
            if (distanceLengths[i]) ndist = std::max(ndist, i + 1);
        std::vector<std::uint8_t> all(literalLengths.begin(), literalLengths.begin() + nlit);
        all.insert(all.end(), distanceLengths.begin(), distanceLengths.begin() + ndist);
        for (std::size_t i = 0; i < all.size();) {
            if (all[i] != 0) {
                cl.push_back({all[i], 0, 0});
                ++i;
                continue;
            }
            std::size_t run = 0;
            while (i + run < all.size() && all[i + run] == 0) ++run;
            i += run;
            while (run >= 11) {
                const std::size_t take = std::min<std::size_t>(run, 138);
                cl.push_back({18, static_cast<std::uint8_t>(take - 11), 7});
                run -= take;
            }
            if (run >= 3) {
                cl.push_back({17, static_cast<std::uint8_t>(run - 3), 3});
                run = 0;
            }
            for (; run > 0; --run) cl.push_back({0, 0, 0});
        }
        std::vector<std::uint32_t> clFreq(19, 0);
        for (const ClToken& t : cl) ++clFreq[t.symbol];
        clLengths = HuffmanLengths(clFreq, 7);
        if (std::count_if(clLengths.begin(), clLengths.end(), [](std::uint8_t l) { return l != 0; }) == 1) {
            // A one-symbol code is incomplete; give it a partner so that decoders accept it.
            const int other = clLengths[0] ? 1 : 0;
            clLengths[other] = 1;
        }
        clCodes = Codes(clLengths);
        hclen = 19;
        while (hclen > 4 && clLengths[kCodeLengthOrder[hclen - 1]] == 0) --hclen;
        bits = 3 + 5 + 5 + 4 + 3 * static_cast<std::size_t>(hclen);
        for (const ClToken& t : cl) bits += clLengths[t.symbol] + t.extraBits;
    }

    template <class Writer>
    void Put(Writer& w, bool final) const {
        w.Put(final ? 1 : 0, 1);
        w.Put(2, 2);  // dynamic Huffman
        w.Put(static_cast<std::uint32_t>(nlit - 257), 5);
        w.Put(static_cast<std::uint32_t>(ndist - 1), 5);
        w.Put(static_cast<std::uint32_t>(hclen - 4), 4);
        for (int i = 0; i < hclen; ++i) w.Put(clLengths[kCodeLengthOrder[i]], 3);
        for (const ClToken& t : cl) {
            w.Put(clCodes[t.symbol], clLengths[t.symbol]);
            if (t.extraBits) w.Put(t.extra, t.extraBits);
        }
    }
};

// One row's tokens: literals (value >= 0) or matches (length, at distance `bpp`).
struct Token {
    int literal;  // -1 for a match
    int length;
};

std::vector<Token> UniformRowTokens(const std::uint8_t* row, std::size_t rowBytes, int bpp) {
    std::vector<Token> tokens;
    tokens.push_back({row[0], 0});  // the filter type
    const std::size_t first = std::min<std::size_t>(static_cast<std::size_t>(bpp), rowBytes);
    for (std::size_t i = 0; i < first; ++i) tokens.push_back({row[1 + i], 0});
    std::size_t left = rowBytes - first;
    while (left > 258 + 2) {
        tokens.push_back({-1, 258});
        left -= 258;
    }
    if (left == 259 || left == 260) {
        tokens.push_back({-1, static_cast<int>(left) - 3});
        left = 3;
    }
    if (left >= 3) {
        tokens.push_back({-1, static_cast<int>(left)});
    } else {
        for (std::size_t i = 0; i < left; ++i) tokens.push_back({row[1 + first + i], 0});  // the same sample again
    }
    return tokens;
}

// `rows` identical rows of one colour as one dynamic-Huffman block; with `align`, an empty
// stored block follows so that the stream ends on a byte boundary.
void WriteUniformRun(BitWriter& w, const std::uint8_t* row, std::size_t rowBytes, int bpp, int rows, bool final,
                     bool align) {
    const std::vector<Token> tokens = UniformRowTokens(row, rowBytes, bpp);
    const int distanceSymbol = DistanceSymbol(bpp);
    std::vector<std::uint32_t> literalFreq(286, 0), distanceFreq(30, 0);
    for (const Token& t : tokens) {
        if (t.literal >= 0) {
            literalFreq[t.literal] += static_cast<std::uint32_t>(rows);
        } else {
            literalFreq[257 + LengthSymbol(t.length)] += static_cast<std::uint32_t>(rows);
            distanceFreq[distanceSymbol] += static_cast<std::uint32_t>(rows);
        }
    }
    literalFreq[256] = 1;
    if (distanceFreq[distanceSymbol] == 0) distanceFreq[distanceSymbol] = 1;  // one code, of one bit
    const std::vector<std::uint8_t> literalLengths = HuffmanLengths(literalFreq, 15);
    const std::vector<std::uint8_t> distanceLengths = HuffmanLengths(distanceFreq, 15);
    const std::vector<std::uint32_t> literalCodes = Codes(literalLengths);
    const std::vector<std::uint32_t> distanceCodes = Codes(distanceLengths);

    DynamicHeader(literalLengths, distanceLengths).Put(w, final);

    // One row's bits, then the row again for every row of the run.
    std::vector<std::pair<std::uint32_t, int>> rowBits;
    for (const Token& t : tokens) {
        if (t.literal >= 0) {
            rowBits.push_back({literalCodes[t.literal], literalLengths[t.literal]});
        } else {
            const int ls = LengthSymbol(t.length);
            rowBits.push_back({literalCodes[257 + ls], literalLengths[257 + ls]});
            if (kLengthExtra[ls]) rowBits.push_back({static_cast<std::uint32_t>(t.length - kLengthBase[ls]), kLengthExtra[ls]});
            rowBits.push_back({distanceCodes[distanceSymbol], distanceLengths[distanceSymbol]});
            if (kDistanceExtra[distanceSymbol])
                rowBits.push_back({static_cast<std::uint32_t>(bpp - kDistanceBase[distanceSymbol]),
                                   kDistanceExtra[distanceSymbol]});
        }
    }
    for (int r = 0; r < rows; ++r)
        for (const auto& [value, n] : rowBits) w.Put(value, n);
    w.Put(literalCodes[256], literalLengths[256]);

    if (final) {
        w.Align();
    } else if (align) {
        EmptyStoredBlock(w);
    }
}

// ---------------------------------------------------------------------------------------------
// Our own compressor for the rows between runs. Rendered rows are mostly made of stretches of
// one colour and of stretches that repeat the row above: matches a pixel back and a row back
// find most of what a general compressor finds in them, and a small hash table of recent places
// finds the repeated shapes (the same letter again). Every block gets Huffman codes made for it,
// or is stored when that is smaller. Rendered pages come out some 0.5 % larger than libdeflate's
// fast levels make them, in less than half its time.

// Bits into a buffer with room to spare (8 bytes past the last byte written), 32 or more at a time.
struct FastBits {
    std::uint8_t* p;
    std::uint64_t bits;
    int count;

    void Put(std::uint64_t value, int n) {  // n <= 32, value < 2^n, count < 32 before
        bits |= value << count;
        count += n;
        if (count >= 32) {
            std::memcpy(p, &bits, 8);
            const int bytes = count >> 3;
            p += bytes;
            bits >>= bytes * 8;
            count -= bytes * 8;
        }
    }
    void Flush() {  // the whole bytes out; fewer than 8 bits stay
        while (count >= 8) {
            *p++ = static_cast<std::uint8_t>(bits);
            bits >>= 8;
            count -= 8;
        }
    }
    void Align() {
        Flush();
        if (count > 0) *p++ = static_cast<std::uint8_t>(bits);
        bits = 0;
        count = 0;
    }
};

// How many bytes from `a` equal those from `b`, up to `limit`: the first 8 bytes at once (most
// matches end there), then 16 at a time.
inline std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
    std::size_t n = 0;
    if (limit >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (const std::uint64_t d = x ^ y) return static_cast<std::size_t>(std::countr_zero(d) >> 3);
        n = 8;
#if defined(__SSE2__)
        while (n + 16 <= limit) {
            const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + n));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + n));
            const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(va, vb)));
            if (same != 0xFFFF) return n + static_cast<std::size_t>(std::countr_zero(~same));
            n += 16;
        }
#endif
        while (n + 8 <= limit) {
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (const std::uint64_t d = x ^ y) return n + static_cast<std::size_t>(std::countr_zero(d) >> 3);
            n += 8;
        }
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

inline std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

constexpr std::size_t kBlockBytes = std::size_t{1} << 18;  // input per block
constexpr std::uint32_t kMatch = 1u << 31;                 // a match token: distance << 9 | length
constexpr int kHashBits = 14;
constexpr int kHashWays = 2;

inline std::uint32_t Hash(std::uint32_t v) { return (v * 0x9E3779B1u) >> (32 - kHashBits); }

struct SymbolTables {
    std::uint8_t length[259];     // lengths 3..258: 0..28 (add 257)
    std::uint8_t nearDistance[257];  // distances 1..256
    std::uint8_t farDistance[256];   // distances 257..32768, by (distance - 1) >> 7
    SymbolTables() {
        for (int len = 3; len <= 258; ++len) length[len] = static_cast<std::uint8_t>(LengthSymbol(len));
        for (int d = 1; d <= 256; ++d) nearDistance[d] = static_cast<std::uint8_t>(DistanceSymbol(d));
        for (int k = 2; k < 256; ++k) farDistance[k] = static_cast<std::uint8_t>(DistanceSymbol((k << 7) + 1));
    }
    int Distance(std::uint32_t d) const { return d <= 256 ? nearDistance[d] : farDistance[(d - 1) >> 7]; }
};
const SymbolTables& Symbols() {
    static const SymbolTables tables;
    return tables;
}

// The most FastDeflate writes for one block (stored, at worst), with the room FastBits needs.
constexpr std::size_t kBlockRoom = kBlockBytes + 6 * (kBlockBytes / 65535 + 1) + 32;

// The recent places of 4-byte sequences, kept by each thread. Places are numbered on from one
// call to the next, so that a call sees only its own (the output does not depend on what the
// thread compressed before) without clearing the table.
struct HashTable {
    std::vector<std::uint32_t> slots;
    std::uint32_t next = 1;  // the number of the next call's first place
};

// Compresses [data, data + size) as deflate blocks onto `sink`, the last of them final if
// `final`. Matches may reach back to `base`: the bytes from there to `data` are the stream's
// last ones. Each block is written into a buffer of the thread's, then appended.
void FastDeflate(BitWriter& sink, const std::uint8_t* base, const std::uint8_t* data, std::size_t size,
                 std::size_t stride, int bpp, bool final) {
    if (size == 0) {
        if (final) {  // an empty final block, fixed Huffman: the end code alone
            sink.Put(1, 1);
            sink.Put(1, 2);
            sink.Put(0, 7);
        }
        return;
    }
    if (static_cast<std::size_t>(data - base) > 32768) base = data - 32768;
    const SymbolTables& symbols = Symbols();
    const std::size_t near = static_cast<std::size_t>(bpp);
    const std::size_t far = stride <= 32768 && stride > near ? stride : 0;

    thread_local std::vector<std::uint32_t> threadTokens;
    thread_local HashTable threadHash;
    thread_local std::unique_ptr<std::uint8_t[]> threadStaging;
    if (!threadStaging) threadStaging.reset(new std::uint8_t[kBlockRoom]);
    std::uint8_t* const staging = threadStaging.get();
    // Locals for the loops: each use of a thread-local is a call in a shared library. The token
    // buffer goes back to the thread at the end.
    std::vector<std::uint32_t> tokens = std::move(threadTokens);
    struct GiveBack {
        std::vector<std::uint32_t>& from;
        ~GiveBack() { threadTokens = std::move(from); }
    } giveBack{tokens};
    HashTable& hash = threadHash;
    const std::size_t span = static_cast<std::size_t>(data + size - base);
    if (hash.slots.empty() || hash.next > 0xFFFFFFFFu - span - 1) {
        hash.slots.assign(std::size_t{kHashWays} << kHashBits, 0);
        hash.next = 1;
    }
    const std::uint32_t origin = hash.next;  // the number of `base`
    hash.next = static_cast<std::uint32_t>(origin + span + 1);
    std::uint32_t* const slots = hash.slots.data();
    auto remember = [&](std::uint32_t* slot, std::size_t at) {
        for (int k = kHashWays - 1; k > 0; --k) slot[k] = slot[k - 1];
        slot[0] = static_cast<std::uint32_t>(origin + at);
    };

    for (const std::uint8_t* block = data; block < data + size;) {
        const std::uint8_t* end = block + std::min<std::size_t>(kBlockBytes, static_cast<std::size_t>(data + size - block));
        const bool last = final && end == data + size;
        tokens.clear();
        std::vector<std::uint32_t> literals(286, 0), distances(30, 0);
        FastBits w{staging, sink.bits, sink.count};
        for (const std::uint8_t* p = block; p < end;) {
            // One token at a time (at most 258 bytes), the longest of the three matches: after
            // a stretch a row back, a pixel back may go on for less (no extra bits).
            const std::size_t limit = std::min<std::size_t>(258, static_cast<std::size_t>(end - p));
            const std::size_t at = static_cast<std::size_t>(p - base);
            std::size_t n = at >= near ? MatchLength(p, p - near, limit) : 0;
            std::size_t distance = near;
            if (n < 32 && far && at >= far && n < limit) {
                const std::size_t up = MatchLength(p, p - far, limit);
                if (up > n) {
                    n = up;
                    distance = far;
                }
            }
            if (n < 16 && limit >= 4) {
                const std::uint32_t v = Load32(p);
                std::uint32_t* slot = &slots[std::size_t{kHashWays} * Hash(v)];
                for (int k = 0; k < kHashWays; ++k) {
                    const std::uint32_t place = slot[k];
                    if (place < origin || place - origin >= at) continue;  // another call's, or none
                    const std::size_t before = place - origin;
                    if (at - before > 32768 || Load32(base + before) != v) continue;
                    const std::size_t m = MatchLength(p, base + before, limit);
                    if (m > n) {
                        n = m;
                        distance = at - before;
                    }
                }
                remember(slot, at);
            }
            if (n < 3) {
                tokens.push_back(*p);
                ++literals[*p];
                ++p;
                continue;
            }
            if (n < 16) {
                // The places inside a short match, for later matches to start from.
                const std::uint8_t* stop = std::min(p + n, end - 3);
                for (const std::uint8_t* q = p + 1; q < stop; ++q)
                    remember(&slots[std::size_t{kHashWays} * Hash(Load32(q))], static_cast<std::size_t>(q - base));
            }
            p += n;
            tokens.push_back(kMatch | static_cast<std::uint32_t>(distance << 9) | static_cast<std::uint32_t>(n));
            ++literals[257 + symbols.length[n]];
            ++distances[symbols.Distance(static_cast<std::uint32_t>(distance))];
        }
        literals[256] = 1;
        if (std::all_of(distances.begin(), distances.end(), [](std::uint32_t f) { return f == 0; })) distances[0] = 1;
        const std::vector<std::uint8_t> literalLengths = HuffmanLengths(literals, 15);
        const std::vector<std::uint8_t> distanceLengths = HuffmanLengths(distances, 15);
        const DynamicHeader header(literalLengths, distanceLengths);

        std::size_t bits = header.bits + literalLengths[256];
        for (int s = 0; s < 286; ++s) {
            if (s == 256 || !literals[s]) continue;
            bits += std::size_t{literals[s]} * (literalLengths[s] + (s > 256 ? kLengthExtra[s - 257] : 0));
        }
        for (int d = 0; d < 30; ++d) bits += std::size_t{distances[d]} * (distanceLengths[d] + kDistanceExtra[d]);
        const std::size_t bytes = static_cast<std::size_t>(end - block);
        const std::size_t storedBits = (bytes / 65535 + 1) * 42 + bytes * 8;

        if (storedBits < bits) {
            for (const std::uint8_t* chunk = block; chunk < end;) {
                const std::size_t len = std::min<std::size_t>(65535, static_cast<std::size_t>(end - chunk));
                w.Put(last && chunk + len == end ? 1 : 0, 1);
                w.Put(0, 2);
                w.Align();
                w.Put(len | (std::uint64_t{len ^ 0xFFFF} << 16), 32);
                w.Flush();
                std::memcpy(w.p, chunk, len);
                w.p += len;
                chunk += len;
            }
        } else {
            const std::vector<std::uint32_t> literalCodes = Codes(literalLengths);
            const std::vector<std::uint32_t> distanceCodes = Codes(distanceLengths);
            // A length's code and extra bits in one go.
            std::uint32_t lengthBits[259];
            std::uint8_t lengthCount[259];
            for (int len = 3; len <= 258; ++len) {
                const int s = symbols.length[len];
                lengthBits[len] = literalCodes[257 + s] | (static_cast<std::uint32_t>(len - kLengthBase[s]) << literalLengths[257 + s]);
                lengthCount[len] = static_cast<std::uint8_t>(literalLengths[257 + s] + kLengthExtra[s]);
            }
            header.Put(w, last);
            for (const std::uint32_t t : tokens) {
                if (!(t & kMatch)) {
                    w.Put(literalCodes[t], literalLengths[t]);
                    continue;
                }
                const std::uint32_t len = t & 0x1FF;
                const std::uint32_t distance = (t & ~kMatch) >> 9;
                const int d = symbols.Distance(distance);
                w.Put(lengthBits[len], lengthCount[len]);
                w.Put(distanceCodes[d] | ((distance - kDistanceBase[d]) << distanceLengths[d]),
                      distanceLengths[d] + kDistanceExtra[d]);
            }
            w.Put(literalCodes[256], literalLengths[256]);
        }
        w.Flush();
        sink.out.insert(sink.out.end(), staging, w.p);
        sink.bits = w.bits;
        sink.count = w.count;
        block = end;
    }
}

// Every pixel of the row is the same: the samples repeat with the pixel's period.
bool IsUniform(const std::uint8_t* row, std::size_t rowBytes, int bpp) {
    if (rowBytes <= static_cast<std::size_t>(bpp)) return true;
    return std::memcmp(row + 1 + bpp, row + 1, rowBytes - static_cast<std::size_t>(bpp)) == 0;
}

struct CompressorDeleter {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// Gives the whole pages of [data, data + size) back to the system (they read as zero afterwards).
void ReleasePages(std::uint8_t* data, std::size_t size) {
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(data) + page - 1) & ~(page - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

// Room for a band's compressed pieces, each at its own offset and each taking a small part of
// the room it is given: a mapping of its own in ordinary pages, so that only what the pieces
// write is ever resident (in huge pages every piece would take at least 2 MiB, cleared by the
// kernel, for some hundred kilobytes). Small rooms come from the C heap.
std::shared_ptr<std::uint8_t> PieceBuffer(std::size_t bytes) {
    constexpr std::size_t kMappedFrom = std::size_t{1} << 20;
    if (bytes < kMappedFrom) return std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(std::malloc(bytes)), std::free);
    void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return nullptr;
    madvise(data, bytes, MADV_NOHUGEPAGE);
    return std::shared_ptr<std::uint8_t>(static_cast<std::uint8_t*>(data),
                                         [bytes](std::uint8_t* p) { munmap(p, bytes); });
}

// One compressor per thread and level, kept: making one allocates its tables.
libdeflate_compressor* ThreadCompressor(int level) {
    thread_local std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;
    thread_local int compressorLevel = -1;
    if (!compressor || compressorLevel != level) {
        compressor.reset(libdeflate_alloc_compressor(level));
        compressorLevel = level;
    }
    return compressor.get();
}

}  // namespace

bool FindFinalDeflateBlock(const std::uint8_t* data, std::size_t size, std::size_t* finalHeaderBit,
                           std::size_t* endBit) {
    BitReader in{data, size};
    for (;;) {
        const std::size_t header = in.pos;
        const std::uint32_t final = in.Take(1);
        const std::uint32_t type = in.Take(2);
        if (type == 0) {
            in.Seek((in.pos + 7) & ~std::size_t{7});
            const std::uint32_t len = in.Take(16);
            const std::uint32_t nlen = in.Take(16);
            if ((len ^ 0xFFFF) != nlen) return false;
            in.Seek(in.pos + std::size_t{len} * 8);
        } else if (type == 1 || type == 2) {
            std::uint8_t lengths[320];
            int nlit = 288, ndist = 30;
            if (type == 1) {
                for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
                for (int i = 0; i < 30; ++i) lengths[288 + i] = 5;
            } else {
                nlit = static_cast<int>(in.Take(5)) + 257;
                ndist = static_cast<int>(in.Take(5)) + 1;
                const int hclen = static_cast<int>(in.Take(4)) + 4;
                std::uint8_t clLengths[19] = {};
                for (int i = 0; i < hclen; ++i) clLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.Take(3));
                Decoder cl;
                if (!cl.Build(clLengths, 19)) return false;
                for (int i = 0; i < nlit + ndist;) {
                    const int s = cl.Decode(in);
                    if (s < 0 || in.Past()) return false;
                    if (s < 16) {
                        lengths[i++] = static_cast<std::uint8_t>(s);
                        continue;
                    }
                    int repeat;
                    std::uint8_t value = 0;
                    if (s == 16) {
                        if (i == 0) return false;
                        value = lengths[i - 1];
                        repeat = 3 + static_cast<int>(in.Take(2));
                    } else if (s == 17) {
                        repeat = 3 + static_cast<int>(in.Take(3));
                    } else {
                        repeat = 11 + static_cast<int>(in.Take(7));
                    }
                    if (i + repeat > nlit + ndist) return false;
                    while (repeat--) lengths[i++] = value;
                }
            }
            Decoder literals, distances;
            if (!literals.Build(lengths, nlit) || !distances.Build(lengths + nlit, ndist)) return false;
            if (!SkipSymbols(in, literals, distances)) return false;
        } else {
            return false;
        }
        if (in.Past()) return false;
        if (final) {
            *finalHeaderBit = header;
            *endBit = in.pos;
            return true;
        }
    }
}

std::size_t DeflateRows(const std::uint8_t* rows, std::size_t rowBytes, int height, int bpp, int level,
                        std::vector<std::uint8_t>& out, bool releaseRows) {
    RowDeflater deflater(level);
    return deflater.Add(rows, rowBytes, height, bpp, true, out, releaseRows);
}

namespace {

// Runs of identical rows of one colour, and the rows between them (a stretch of those may be cut
// into pieces, compressed side by side).
struct Segment {
    bool run;
    int first, count;
    bool piece = false;
};

// The rows between runs through libdeflate at `level`: each part compressed on its own (in
// parallel when the work may use more threads) into its slice of one buffer, its final block
// found, and the parts joined to our runs' blocks.
bool WriteWithLibdeflate(const std::uint8_t* rows, std::size_t rowBytes, int bpp, int level,
                         const std::vector<Segment>& segments, bool last, bool releaseRows, std::vector<std::uint8_t>& out) {
    const std::size_t stride = rowBytes + 1;
    struct Compressed {
        std::size_t offset = 0, bound = 0, size = 0, header = 0, end = 0;
        bool ok = false;
    };
    std::vector<Compressed> parts(segments.size());
    std::vector<int> compressedSegments;
    std::size_t total = 0;
    libdeflate_compressor* own = ThreadCompressor(level);
    if (!own) return false;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].run) continue;
        const std::size_t in = static_cast<std::size_t>(segments[i].count) * stride;
        parts[i].offset = total;
        parts[i].bound = libdeflate_deflate_compress_bound(own, in);
        total += parts[i].bound;
        compressedSegments.push_back(static_cast<int>(i));
    }
    // A large picture's compressed pieces give their memory back as they are copied out, so that
    // the stream is not held twice.
    const bool releaseScratch = total > kBufferPoolLimit;
    std::shared_ptr<std::uint8_t> scratch = PieceBuffer(std::max<std::size_t>(total, 1));
    if (!scratch) return false;
    ParallelFor(static_cast<int>(compressedSegments.size()), [&](int k) {
        const std::size_t i = static_cast<std::size_t>(compressedSegments[static_cast<std::size_t>(k)]);
        libdeflate_compressor* c = ThreadCompressor(level);
        if (!c) return;
        Compressed& part = parts[i];
        const std::size_t in = static_cast<std::size_t>(segments[i].count) * stride;
        std::uint8_t* dest = scratch.get() + part.offset;
        part.size = libdeflate_deflate_compress(c, rows + static_cast<std::size_t>(segments[i].first) * stride, in,
                                                dest, part.bound);
        part.ok = part.size > 0 && FindFinalDeflateBlock(dest, part.size, &part.header, &part.end);
        if (releaseRows) ReleasePages(const_cast<std::uint8_t*>(rows) + static_cast<std::size_t>(segments[i].first) * stride, in);
    });
    for (int k : compressedSegments)
        if (!parts[static_cast<std::size_t>(k)].ok) return false;

    // Room for the whole band's part at once: growing it piece by piece would copy it over and over.
    std::size_t runBytes = 0;
    for (const Segment& s : segments)
        if (s.run) runBytes += 64 + static_cast<std::size_t>(s.count) * 8 + stride;
    out.reserve(out.size() + total + runBytes + 16);
    BitWriter w{out};
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        const bool endOfBand = i + 1 == segments.size();
        const bool final = last && endOfBand;
        const std::uint8_t* first = rows + static_cast<std::size_t>(s.first) * stride;
        if (s.run) {
            // What follows the band is not known yet: the band ends on a byte boundary.
            const bool nextIsCompressed = endOfBand ? !last : !segments[i + 1].run;
            WriteUniformRun(w, first, rowBytes, bpp, s.count, final, nextIsCompressed);
            continue;
        }
        // libdeflate's stream joins ours on a byte boundary; its final block is made not final,
        // and our next block starts on the bit where it ends.
        const Compressed& part = parts[i];
        if (w.count != 0) return false;
        std::uint8_t* bytes = scratch.get() + part.offset;
        if (!final) bytes[part.header >> 3] = static_cast<std::uint8_t>(bytes[part.header >> 3] & ~(1u << (part.header & 7)));
        out.insert(out.end(), bytes, bytes + (part.end >> 3));
        if (part.end & 7) {
            w.bits = bytes[part.end >> 3] & ((1u << (part.end & 7)) - 1);
            w.count = static_cast<int>(part.end & 7);
        }
        if (releaseScratch) ReleasePages(bytes, part.size);
        if (final) {
            w.Align();
        } else if (endOfBand ? w.count != 0 : !segments[i + 1].run) {
            // An empty stored block brings the next piece, or the band's end, to a byte boundary.
            EmptyStoredBlock(w);
        }
    }
    return true;
}

// The rows between runs through our own compressor, its blocks following our runs' blocks bit
// by bit. Pieces of a long stretch are compressed side by side, each into a buffer of its own;
// one piece ends on a byte boundary where the next begins.
void WriteWithOwnCompressor(const std::uint8_t* rows, std::size_t rowBytes, int bpp, const std::vector<Segment>& segments,
                            bool last, bool releaseRows, std::vector<std::uint8_t>& out) {
    const std::size_t stride = rowBytes + 1;
    // Matches reach back into the run before a part (runs are kept), never into other parts:
    // those may be given back meanwhile.
    auto compress = [&](std::size_t i, BitWriter& w) {
        const std::uint8_t* first = rows + static_cast<std::size_t>(segments[i].first) * stride;
        const std::uint8_t* base = i > 0 && segments[i - 1].run ? rows + static_cast<std::size_t>(segments[i - 1].first) * stride : first;
        const std::size_t bytes = static_cast<std::size_t>(segments[i].count) * stride;
        const bool final = last && i + 1 == segments.size();
        FastDeflate(w, base, first, bytes, stride, bpp, final);
        if (final) {
            w.Align();
        } else if (i + 1 < segments.size() && segments[i + 1].piece) {
            EmptyStoredBlock(w);
        }
        if (releaseRows) ReleasePages(const_cast<std::uint8_t*>(first), bytes);
    };
    struct Piece {
        std::vector<std::uint8_t> bytes;
        std::uint64_t bits = 0;  // what is left after the whole bytes
        int count = 0;
    };
    std::vector<Piece> pieces(segments.size());
    std::vector<int> parallel;
    for (std::size_t i = 0; i < segments.size(); ++i)
        if (segments[i].piece) parallel.push_back(static_cast<int>(i));
    ParallelFor(static_cast<int>(parallel.size()), [&](int k) {
        const std::size_t i = static_cast<std::size_t>(parallel[static_cast<std::size_t>(k)]);
        Piece& piece = pieces[i];
        BitWriter w{piece.bytes};
        compress(i, w);
        piece.bits = w.bits;
        piece.count = w.count;
    });

    std::size_t reserve = 16;
    for (std::size_t i = 0; i < segments.size(); ++i)
        reserve += segments[i].run ? 64 + static_cast<std::size_t>(segments[i].count) * 8 + stride : pieces[i].bytes.size();
    out.reserve(out.size() + reserve);
    BitWriter w{out};
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        if (s.run) {
            const bool final = last && i + 1 == segments.size();
            WriteUniformRun(w, rows + static_cast<std::size_t>(s.first) * stride, rowBytes, bpp, s.count, final, false);
        } else if (!s.piece) {
            compress(i, w);
        } else {
            if (w.count != 0) EmptyStoredBlock(w);  // the piece starts on a byte boundary
            Piece& piece = pieces[i];
            out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
            w.bits = piece.bits;
            w.count = piece.count;
            std::vector<std::uint8_t>().swap(piece.bytes);
        }
    }
    if (!last && w.count != 0) EmptyStoredBlock(w);  // the band ends on a byte boundary
}

}  // namespace

std::size_t RowDeflater::Add(const std::uint8_t* rows, std::size_t rowBytes, int height, int bpp, bool last,
                             std::vector<std::uint8_t>& out, bool releaseRows) {
    if constexpr (std::endian::native != std::endian::little) return 0;
    if (ended_ || height < 1 || bpp < 1 || bpp > 8) return 0;
    const std::size_t stride = rowBytes + 1;

    std::vector<Segment> segments;
    for (int y = 0; y < height;) {
        const std::uint8_t* row = rows + static_cast<std::size_t>(y) * stride;
        int end = y + 1;
        if (IsUniform(row, rowBytes, bpp)) {
            while (end < height && std::memcmp(rows + static_cast<std::size_t>(end) * stride, row, stride) == 0) ++end;
        }
        const bool run = end - y >= kMinimumRun;
        if (!run && !segments.empty() && !segments.back().run) {
            segments.back().count += end - y;
        } else {
            segments.push_back({run, y, end - y});
        }
        y = end;
    }
    // Long stretches of other rows (photographs) in pieces that compress in parallel.
    const int budget = WorkerBudget();
    const std::size_t pieceRows = std::max<std::size_t>(1, kPieceBytes / stride);
    if (budget > 1) {
        std::vector<Segment> split;
        for (const Segment& s : segments) {
            if (s.run || static_cast<std::size_t>(s.count) * stride < 2 * kPieceBytes) {
                split.push_back(s);
                continue;
            }
            for (int first = s.first; first < s.first + s.count;) {
                const int count = static_cast<int>(std::min<std::size_t>(pieceRows, static_cast<std::size_t>(s.first + s.count - first)));
                split.push_back({false, first, count, true});
                first += count;
            }
        }
        segments.swap(split);
    }

    // Summed before the rows may be given back.
    const std::uint32_t adler = libdeflate_adler32(adler_, rows, stride * static_cast<std::size_t>(height));
    const std::size_t start = out.size();
    if (!started_) {
        out.push_back(0x78);  // deflate, 32 KiB window
        out.push_back(0x5E);  // "fast" level; header check bits
    }
    if (level_ == 1 || level_ == 2) {
        WriteWithOwnCompressor(rows, rowBytes, bpp, segments, last, releaseRows, out);
    } else if (!WriteWithLibdeflate(rows, rowBytes, bpp, level_, segments, last, releaseRows, out)) {
        out.resize(start);
        return 0;
    }
    adler_ = adler;
    started_ = true;
    if (last) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler_ >> shift));
        ended_ = true;
    }
    return out.size() - start;
}

}  // namespace platform
