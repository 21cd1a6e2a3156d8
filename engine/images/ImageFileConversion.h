#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/ImageConversion.h"
#include "platform/Bitmap.h"
#include "platform/imageio/readers/ImageSource.h"

// The engine's image-file operations: a raster image file written in another output type, and
// (with the redraw) written at another size or handed back.

// Writes every representation of `sourceURL` in the output type at `outputFolderURL` (the output
// FILE), with the record's resolution or the source's own when it is 0, the source's metadata
// when `keepMetadata` is set. Several representations go into a folder named after the output
// file ("name.ext", "name 1.ext", ...), or into one PDF of one page each. 1 when every
// representation was written.
std::uint8_t ConvertImageFile(const ImageConversion* conversion);

// Writes the source at the record's target size, or hands the image back in `outputImage`
// (`returnImageInstead`). 1 on success.
std::uint8_t RenderImageFileToImage(ImageConversion* conversion);

// The output type code of a uniform type identifier (exact comparison), 0 for any other; with
// `commonTypesOnly` the first ten identifiers only (JPEG to ICNS).
std::int32_t ImageTypeForUTI(std::string_view typeIdentifier, bool commonTypesOnly);
// The type identifier the name of an existing file gives, "" when none.
std::string TypeIdentifierOfURL(const std::filesystem::path& url);
// ImageTypeForUTI of the file's type identifier, common types only; 0 when it has none.
std::int32_t ImageTypeOfURL(const std::filesystem::path& url);

// The first image of encoded image data; false (and `image` untouched) when none can be read.
bool CreateImageFromData(const std::vector<std::uint8_t>& data, std::shared_ptr<platform::Bitmap>& image);

// The first representation of an opened source, or null.
std::shared_ptr<const platform::ImageRepresentation> BitmapImageRepForImage(platform::ImageSource* image);
