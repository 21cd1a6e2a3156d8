#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The two bitonal image filters that the PDF object library leaves encoded, decoded by MuPDF's
// filters. Both give packed 1-bit rows, most significant bit first, each row padded to a byte.

struct FaxParameters {
    int k = 0;
    bool endOfLine = false;
    bool encodedByteAlign = false;
    int columns = 1728;
    int rows = 0;
    bool endOfBlock = true;
    bool blackIs1 = false;
};

// Decodes at most `limit` bytes of output into `out`; false when the filter fails before giving
// any. Output that ends early is returned as far as it goes.
bool DecodeCCITTFax(const std::uint8_t* data, std::size_t size, const FaxParameters& parameters, std::size_t limit,
                    std::vector<std::uint8_t>& out);
// `globals` is the /JBIG2Globals stream's decoded data, or null.
bool DecodeJBIG2(const std::uint8_t* data, std::size_t size, const std::uint8_t* globals, std::size_t globalsSize,
                 std::size_t limit, std::vector<std::uint8_t>& out);
