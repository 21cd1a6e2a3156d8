#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// TIFF's LZW compression (compression code 5) of one strip, on its own: every strip starts
// with a fresh string table, so the strips of a picture can be compressed side by side and
// handed to libtiff as raw strips.
namespace platform {

// The compressed form of `size` bytes at `data`, in place of what `out` held (its memory is
// used again, so that one vector can take strip after strip): a Clear code, the codes
// (9 to 12 bits, most significant bit first, the width growing one code early as TIFF readers
// expect, a Clear code whenever the table fills), End of Information, the last byte padded.
void CompressLzwStrip(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);

// GIF's LZW of 8-bit colour indices (a minimum code size of 8), likewise in place of what `out`
// held: the codes least significant bit first, the width growing once the reader's table holds
// every code of the width, a Clear code when all 4096 are taken. Not yet cut into sub-blocks.
void CompressGifLzw(const std::uint8_t* indices, std::size_t size, std::vector<std::uint8_t>& out);

}  // namespace platform
