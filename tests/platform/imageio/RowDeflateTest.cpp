// The row compressor of the PNG writer: its streams must inflate, with zlib (an implementation
// that is not the one it builds on), to exactly the rows given.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <cmath>
#include <queue>
#include <random>

#include "platform/WorkerBudget.h"
#include "platform/imageio/RowDeflate.h"

namespace {

// Rows of `width` pixels: runs of one-colour rows of the given lengths, alternating with rows
// of noise (`noisy` rows each); the filter-type byte of every row is `filter`.
std::vector<std::uint8_t> Rows(int width, int bpp, const std::vector<int>& runs, int noisy, std::uint8_t filter,
                               std::mt19937& random, int* height) {
    std::vector<std::uint8_t> out;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * bpp;
    int rows = 0;
    for (std::size_t r = 0; r < runs.size(); ++r) {
        std::vector<std::uint8_t> pixel(static_cast<std::size_t>(bpp));
        for (auto& v : pixel) v = r % 3 == 0 ? 255 : static_cast<std::uint8_t>(random());
        for (int i = 0; i < runs[r]; ++i, ++rows) {
            out.push_back(filter);
            for (int x = 0; x < width; ++x) out.insert(out.end(), pixel.begin(), pixel.end());
        }
        for (int i = 0; i < noisy; ++i, ++rows) {
            out.push_back(filter);
            for (std::size_t k = 0; k < rowBytes; ++k)
                out.push_back(random() % 4 ? 255 : static_cast<std::uint8_t>(random()));
        }
    }
    *height = rows;
    return out;
}

std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& stream, std::size_t expected) {
    std::vector<std::uint8_t> out(expected + 16);
    uLongf size = static_cast<uLongf>(out.size());
    if (uncompress(out.data(), &size, stream.data(), static_cast<uLong>(stream.size())) != Z_OK) return {};
    out.resize(size);
    return out;
}

}  // namespace

TEST(RowDeflate, StreamsInflateToTheRowsGiven) {
    std::mt19937 random(7);
    struct Case {
        int width, bpp;
        std::vector<int> runs;
        int noisy;
        std::uint8_t filter;
    };
    const Case cases[] = {
        {1, 1, {20}, 0, 0},                     // one pixel wide, all one run
        {2, 4, {9, 1, 30}, 2, 0},
        {3, 3, {8, 8, 8}, 0, 0},                // runs of different colours side by side
        {64, 4, {7, 8, 100, 3}, 5, 0},          // around the shortest run
        {65, 2, {40}, 1, 0},
        {87, 3, {12, 50}, 12, 2},               // another filter type
        {1241, 4, {200, 15, 400}, 40, 0},       // a page's width
        {8300, 4, {10, 10}, 3, 0},              // rows longer than the match window
        {100, 1, {0, 9}, 25, 0},                // starts with noise, ends with a run
        {100, 3, {9}, 0, 0},
        {300, 6, {10, 3}, 9, 0},                // 16-bit samples: RGB, RGBA
        {4100, 8, {9}, 4, 0},                   // rows longer than the match window
    };
    for (const Case& c : cases) {
        int height = 0;
        const std::vector<std::uint8_t> rows = Rows(c.width, c.bpp, c.runs, c.noisy, c.filter, random, &height);
        for (int level : {1, 2, 6}) {
            std::vector<std::uint8_t> stream{0xAA};  // appended after what is there
            const std::size_t n = platform::DeflateRows(rows.data(), static_cast<std::size_t>(c.width) * c.bpp, height,
                                                        c.bpp, level, stream);
            ASSERT_GT(n, 0u) << c.width << "x" << c.bpp;
            ASSERT_EQ(stream.size(), n + 1);
            stream.erase(stream.begin());
            EXPECT_EQ(Inflate(stream, rows.size()), rows) << "width " << c.width << " bpp " << c.bpp << " level " << level;
        }
    }
}

TEST(RowDeflate, RunsCostFewBytesPerRow) {
    // A white page of 1000 rows: a few bytes a row, where libdeflate alone spends more.
    const int width = 1241, bpp = 4, height = 1000;
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < height; ++y) {
        rows.push_back(0);
        rows.insert(rows.end(), static_cast<std::size_t>(width) * bpp, 255);
    }
    std::vector<std::uint8_t> stream;
    ASSERT_GT(platform::DeflateRows(rows.data(), width * bpp, height, bpp, 2, stream), 0u);
    EXPECT_LT(stream.size(), static_cast<std::size_t>(height) * 8);
    EXPECT_EQ(Inflate(stream, rows.size()), rows);
}

// Rows like a rendered page of text: lines of antialiased letters, a few shapes repeated at
// different places, white between the letters and a few white rows between the lines (too few to be a run).
static std::vector<std::uint8_t> TextRows(int width, int height, std::mt19937& random) {
    constexpr int kLetters = 24, kLetterWidth = 7, kLetterHeight = 11;
    std::vector<std::array<std::uint8_t, kLetterWidth * kLetterHeight>> letters(kLetters);
    for (auto& letter : letters)
        for (auto& v : letter) v = random() % 3 ? 255 : static_cast<std::uint8_t>(random() % 256);
    const std::size_t stride = static_cast<std::size_t>(width) * 4 + 1;
    std::vector<std::uint8_t> rows(stride * static_cast<std::size_t>(height), 255);
    for (int y = 0; y < height; ++y) rows[static_cast<std::size_t>(y) * stride] = 0;
    for (int line = 10; line + kLetterHeight < height; line += kLetterHeight + 5) {
        for (int x = 20; x + kLetterWidth < width - 20; x += kLetterWidth + (random() % 5 ? 1 : 6)) {
            const auto& letter = letters[random() % kLetters];
            for (int dy = 0; dy < kLetterHeight; ++dy)
                for (int dx = 0; dx < kLetterWidth; ++dx) {
                    std::uint8_t* px = &rows[static_cast<std::size_t>(line + dy) * stride + 1 + static_cast<std::size_t>(x + dx) * 4];
                    px[0] = px[1] = px[2] = letter[static_cast<std::size_t>(dy * kLetterWidth + dx)];
                }
        }
    }
    return rows;
}

// Our compressor at the fast levels: about as small as libdeflate's stream of the same rows,
// never much larger than the rows themselves (noise is stored), and the same stream for the
// same rows whatever the thread compressed before.
TEST(RowDeflate, OwnCompressorAgainstLibdeflate) {
    std::mt19937 random(17);
    const int width = 1240, height = 600;
    const std::vector<std::uint8_t> text = TextRows(width, height, random);
    std::vector<std::uint8_t> ours;
    ASSERT_GT(platform::DeflateRows(text.data(), width * 4, height, 4, 2, ours), 0u);
    EXPECT_EQ(Inflate(ours, text.size()), text);
    libdeflate_compressor* c = libdeflate_alloc_compressor(2);
    std::vector<std::uint8_t> theirs(libdeflate_zlib_compress_bound(c, text.size()));
    theirs.resize(libdeflate_zlib_compress(c, text.data(), text.size(), theirs.data(), theirs.size()));
    libdeflate_free_compressor(c);
    ASSERT_FALSE(theirs.empty());
    EXPECT_LT(ours.size(), theirs.size() * 105 / 100) << "ours " << ours.size() << ", libdeflate " << theirs.size();

    std::vector<std::uint8_t> noise(601 * 400);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = i % 601 == 0 ? 0 : static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> stored;
    ASSERT_GT(platform::DeflateRows(noise.data(), 600, 400, 3, 1, stored), 0u);
    EXPECT_EQ(Inflate(stored, noise.size()), noise);
    EXPECT_LT(stored.size(), noise.size() + 64);

    std::vector<std::uint8_t> again;
    ASSERT_GT(platform::DeflateRows(text.data(), width * 4, height, 4, 2, again), 0u);
    EXPECT_EQ(again, ours);
}

// The cost of an optimal Huffman code, without a limit on the lengths: the sum of the merged
// weights.
static std::uint64_t OptimalCost(const std::vector<std::uint32_t>& freq) {
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> heap;
    for (std::uint32_t f : freq)
        if (f) heap.push(f);
    std::uint64_t cost = 0;
    while (heap.size() > 1) {
        const std::uint64_t a = heap.top();
        heap.pop();
        const std::uint64_t b = heap.top();
        heap.pop();
        cost += a + b;
        heap.push(a + b);
    }
    return cost;
}

// Complete codes of optimal cost when the limit does not bind, and complete codes within the
// limit when it does (frequencies growing like Fibonacci's numbers make the deepest trees).
TEST(RowDeflate, HuffmanLengthsAreCompleteOptimalAndWithinTheLimit) {
    std::mt19937 random(23);
    std::vector<std::vector<std::uint32_t>> tables;
    for (int n : {2, 3, 19, 30, 286}) {
        std::vector<std::uint32_t> freq(static_cast<std::size_t>(n));
        for (auto& f : freq) f = random() % 4 ? 1 + random() % 5000 : 0;
        freq[0] = freq[1] = 1;
        tables.push_back(freq);
    }
    std::vector<std::uint32_t> fibonacci(30);
    fibonacci[0] = fibonacci[1] = 1;
    for (std::size_t i = 2; i < fibonacci.size(); ++i) fibonacci[i] = fibonacci[i - 1] + fibonacci[i - 2];
    tables.push_back(fibonacci);
    tables.push_back(std::vector<std::uint32_t>(19, 0));
    tables.back()[7] = 9;  // one symbol: one code of one bit
    for (const auto& freq : tables) {
        for (int limit : {7, 15}) {
            if (freq.size() > 128 && limit == 7) continue;  // more symbols than codes of 7 bits
            const std::vector<std::uint8_t> lengths = platform::HuffmanLengths(freq, limit);
            ASSERT_EQ(lengths.size(), freq.size());
            double kraft = 0;
            std::uint64_t cost = 0;
            int used = 0, longest = 0;
            for (std::size_t i = 0; i < freq.size(); ++i) {
                EXPECT_EQ(freq[i] == 0, lengths[i] == 0) << "symbol " << i;
                if (!lengths[i]) continue;
                ++used;
                longest = std::max<int>(longest, lengths[i]);
                kraft += std::ldexp(1.0, -lengths[i]);
                cost += std::uint64_t{freq[i]} * lengths[i];
            }
            EXPECT_LE(longest, limit);
            if (used > 1) {
                EXPECT_DOUBLE_EQ(kraft, 1.0) << "complete, " << used << " symbols";
            } else {
                EXPECT_EQ(longest, 1);
            }
            std::uint64_t optimal = OptimalCost(freq);
            if (used == 1) optimal = freq[static_cast<std::size_t>(std::max_element(freq.begin(), freq.end()) - freq.begin())];
            // Cut to the limit, a code costs more than the optimum (a little, at deflate's limit of
            // 15 bits), never less.
            EXPECT_GE(cost, optimal);
            if (used > 1 && longest < limit) {
                EXPECT_EQ(cost, optimal);
            }
            if (limit == 15) {
                EXPECT_LE(cost, optimal + optimal / 100) << freq.size() << " symbols";
            }
        }
    }
}

TEST(RowDeflate, FindsTheFinalBlockOfLibdeflateStreams) {
    std::mt19937 random(3);
    for (int level : {1, 2, 6, 12}) {
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{100}, std::size_t{70000},
                                 std::size_t{900000}}) {
            std::vector<std::uint8_t> data(size);
            for (std::size_t i = 0; i < size; ++i) data[i] = random() % 8 ? static_cast<std::uint8_t>(i / 300) : random();
            libdeflate_compressor* c = libdeflate_alloc_compressor(level);
            std::vector<std::uint8_t> out(libdeflate_deflate_compress_bound(c, size));
            const std::size_t n = libdeflate_deflate_compress(c, data.data(), size, out.data(), out.size());
            libdeflate_free_compressor(c);
            ASSERT_GT(n, 0u);
            std::size_t header = 0, end = 0;
            ASSERT_TRUE(platform::FindFinalDeflateBlock(out.data(), n, &header, &end)) << level << " " << size;
            EXPECT_EQ((out[header >> 3] >> (header & 7)) & 1, 1) << "the final flag";
            EXPECT_LE(end, n * 8);
            EXPECT_GT(end, (n - 1) * 8);
        }
    }
    const std::uint8_t garbage[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x12};
    std::size_t header = 0, end = 0;
    EXPECT_FALSE(platform::FindFinalDeflateBlock(garbage, sizeof garbage, &header, &end));
    EXPECT_FALSE(platform::FindFinalDeflateBlock(garbage, 0, &header, &end));
}

TEST(RowDeflate, SplittingTheWorkOverThreadsGivesTheSameStream) {
    std::mt19937 random(11);
    int height = 0;
    const std::vector<std::uint8_t> rows = Rows(300, 4, {20, 9, 40, 8, 30}, 17, 0, random, &height);
    std::vector<std::uint8_t> alone, shared;
    ASSERT_GT(platform::DeflateRows(rows.data(), 1200, height, 4, 2, alone), 0u);
    {
        platform::ScopedWorkerBudget budget(4);
        EXPECT_EQ(platform::WorkerBudget(), 4);
        ASSERT_GT(platform::DeflateRows(rows.data(), 1200, height, 4, 2, shared), 0u);
    }
    EXPECT_EQ(platform::WorkerBudget(), 1);
    EXPECT_EQ(alone, shared);
    EXPECT_EQ(Inflate(shared, rows.size()), rows);
}

// A photograph has no runs: its rows are compressed in pieces on several threads, pieces that
// follow each other joined by empty stored blocks, runs on either side kept.
TEST(RowDeflate, LongStretchesWithoutRunsCompressInPieces) {
    std::mt19937 random(5);
    int height = 0;
    const std::vector<std::uint8_t> rows = Rows(2000, 3, {12, 0}, 730, 1, random, &height);
    ASSERT_GT(rows.size(), std::size_t{8} << 20);  // at least two pieces
    std::vector<std::uint8_t> alone, pieces;
    ASSERT_GT(platform::DeflateRows(rows.data(), 6000, height, 3, 2, alone), 0u);
    {
        platform::ScopedWorkerBudget budget(4);
        ASSERT_GT(platform::DeflateRows(rows.data(), 6000, height, 3, 2, pieces), 0u);
    }
    EXPECT_EQ(Inflate(pieces, rows.size()), rows);
    EXPECT_NE(pieces, alone);                                      // it was split
    EXPECT_LT(pieces.size(), alone.size() + alone.size() / 100);  // the pieces cost under 1 %
}

// A picture larger than the buffer pool keeps: the rows handed over for release are compressed
// before their memory goes, and the stream is the same as when they are kept.
TEST(RowDeflate, ReleasedRowsAreCompressedFirst) {
    std::mt19937 random(11);
    int height = 0;
    const std::vector<std::uint8_t> rows = Rows(2000, 3, {12, 30}, 3000, 1, random, &height);
    ASSERT_GT(rows.size(), std::size_t{32} << 20);
    std::vector<std::uint8_t> kept, released;
    platform::ScopedWorkerBudget budget(4);
    ASSERT_GT(platform::DeflateRows(rows.data(), 6000, height, 3, 2, kept), 0u);
    std::vector<std::uint8_t> given = rows;
    ASSERT_GT(platform::DeflateRows(given.data(), 6000, height, 3, 2, released, true), 0u);
    EXPECT_EQ(released, kept);
    EXPECT_EQ(Inflate(released, rows.size()), rows);
}

TEST(WorkerBudget, ParallelForRunsEveryIndexOnce) {
    for (int budget : {1, 3, 16}) {
        platform::ScopedWorkerBudget scope(budget);
        std::vector<std::atomic<int>> seen(50);
        std::atomic<int> inner{0};
        platform::ParallelFor(50, [&](int i) {
            ++seen[static_cast<std::size_t>(i)];
            if (platform::WorkerBudget() != 1) ++inner;  // tasks do not split again
        });
        for (const auto& s : seen) EXPECT_EQ(s.load(), 1);
        EXPECT_EQ(inner.load(), 0);
    }
    platform::ParallelFor(0, [](int) { FAIL(); });
}
