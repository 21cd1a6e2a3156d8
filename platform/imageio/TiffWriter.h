#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/ImageMetadata.h"

typedef struct tiff TIFF;

// Writes bitmaps as TIFF directories through libtiff: shared by the TIFF encoder (one image in
// memory) and the multi-page TIFF (one directory per page in an open file).
namespace platform {

struct TiffDirectoryOptions {
    float dpiX = 0, dpiY = 0;     // 0: no resolution tags
    int compression = 5;          // TIFF compression code (5 LZW, 1 none)
    int orientation = 1;
    bool alpha = false;           // add an alpha sample (straight alpha)
    bool cmykAllowed = true;      // false: CMYK bitmaps are written as RGB
    std::optional<std::uint16_t> pageIndex;  // with pageCount: PageNumber and NewSubfileType 2
    std::uint16_t pageCount = 0;
    const ImageMetadata* metadata = nullptr;  // ICC profile and XMP to embed, or none
};

// Sets the tags, writes the rows and the directory. False when libtiff refused.
bool WriteTiffDirectory(TIFF* tiff, const Bitmap& image, const TiffDirectoryOptions& options);

// A directory's strips compressed ahead, on any thread, for a file written on another.
struct CompressedTiffStrips {
    std::vector<std::vector<std::uint8_t>> strips;
};
// Compresses the picture's strips as WriteTiffDirectory would; nothing when libtiff refused.
std::optional<CompressedTiffStrips> CompressTiffStrips(const Bitmap& image, const TiffDirectoryOptions& options);
// Writes a directory of a picture of `shape`'s size and samples from strips compressed with the
// same options: the same file as WriteTiffDirectory of the picture.
bool WriteCompressedTiffDirectory(TIFF* tiff, const Bitmap& shape, const TiffDirectoryOptions& options,
                                  const CompressedTiffStrips& compressed);

// The same for rows that arrive a band at a time.
class TiffDirectoryWriter {
public:
    // Sets the tags of a directory for a picture of `shape`'s size and samples.
    bool Begin(TIFF* tiff, const Bitmap& shape, const TiffDirectoryOptions& options);
    // The next rows, top to bottom.
    bool WriteRows(const Bitmap& band);
    // After the last rows: writes the directory.
    bool End();

private:
    bool WriteLzwStrips(const Bitmap& image);

    TIFF* tiff_ = nullptr;
    PixelLayout layout_ = PixelLayout::RGB;
    int height_ = 0;
    int rows_ = 0;
    int compression_ = 1;
    int rowsPerStrip_ = 0;
};

}  // namespace platform
