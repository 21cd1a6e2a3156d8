#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The zlib stream of PNG-filtered rows, made faster than compressing them in one go: rendered
// pages are half made of rows of one colour (margins, the space between lines), which a general
// compressor pays for byte by byte. Runs of such rows are written here as deflate blocks of our
// own (a few bytes per row). At the fast levels (1 and 2) the rows between them go through a
// compressor of our own too, made for rendered pixels; at the other levels through libdeflate,
// whose streams are joined to ours. The result is one ordinary zlib stream.
namespace platform {

// One zlib stream of rows that arrive a band at a time. Each band's bytes are complete up to
// where the band ends (an empty stored block rounds them to a byte), so that they can be
// written out before the next band comes.
class RowDeflater {
public:
    explicit RowDeflater(int level) : level_(level) {}
    // Appends the stream's part for `height` more rows of `1 + rowBytes` bytes each: the zlib
    // header before the first rows, the checksum after the `last`. The bytes appended; 0 on
    // failure. `releaseRows` as for DeflateRows below.
    std::size_t Add(const std::uint8_t* rows, std::size_t rowBytes, int height, int bpp, bool last,
                    std::vector<std::uint8_t>& out, bool releaseRows = false);
    bool started() const { return started_; }

private:
    int level_;
    bool started_ = false;
    bool ended_ = false;
    std::uint32_t adler_ = 1;
};

// Appends to `out` the zlib stream of `height` rows of `1 + rowBytes` bytes each (a filter-type
// byte, then the samples), `bpp` bytes per pixel. Returns the bytes appended, 0 on failure.
// With `releaseRows` the rows are of no use to the caller afterwards: the memory of those that
// have been compressed is given back to the system on the way (they then read as zero), and a
// failure cannot be retried from them.
std::size_t DeflateRows(const std::uint8_t* rows, std::size_t rowBytes, int height, int bpp, int level,
                        std::vector<std::uint8_t>& out, bool releaseRows = false);

// Finds, in a raw deflate stream, the bit where its final block's header starts and the bit
// just past its end. False when the stream is malformed. (Exposed for tests.)
bool FindFinalDeflateBlock(const std::uint8_t* data, std::size_t size, std::size_t* finalHeaderBit,
                           std::size_t* endBit);

// The code lengths of a Huffman code for the frequencies, none longer than `limit`; symbols of
// frequency 0 get none. (Exposed for tests.)
std::vector<std::uint8_t> HuffmanLengths(const std::vector<std::uint32_t>& freq, int limit);

}  // namespace platform
