// Uniform type identifiers of image files and their output type codes.
#include <algorithm>
#include <cctype>
#include <string>
#include <system_error>
#include <utility>

#include "engine/images/ImageFileConversion.h"

namespace {

// In the order they are tried; the first ten are the common types.
constexpr std::pair<std::string_view, std::int32_t> kTypesByIdentifier[] = {
    {"public.jpeg", kOutputJPEG},
    {"public.tiff", kOutputTIFF},
    {"public.png", kOutputPNG},
    {"com.compuserve.gif", kOutputGIF},
    {"public.jpeg-2000", kOutputJPEG2000},
    {"com.microsoft.bmp", kOutputBMP},
    {"com.adobe.photoshop-image", kOutputPhotoshop},
    {"com.ilm.openexr-image", kOutputOpenEXR},
    {"com.truevision.tga-image", kOutputTGA},
    {"com.apple.icns", kOutputICNS},
    {"com.sgi.sgi-image", kOutputSGI},
    {"public.camera-raw-image", kOutputCameraRaw},
    {"com.apple.pict", kOutputPICT},
    {"com.apple.macpaint-image", kOutputMacPaint},
    {"public.xbitmap-image", kOutputXBitmap},
    {"com.apple.quicktime-image", kOutputQuickTimeImage},
    {"public.fax", kOutputFax},
    {"com.kodak.flashpix.image", kOutputFlashPix},
    {"com.adobe.illustrator.ai-image", kOutputIllustrator},
    {"com.microsoft.ico", kOutputICO},
};
constexpr std::size_t kCommonTypes = 10;

// The identifiers file names give, by extension. A camera's own raw format has an identifier of
// its maker's, never the general camera-raw one.
constexpr std::pair<std::string_view, std::string_view> kIdentifiersByExtension[] = {
    {"jpg", "public.jpeg"},          {"jpeg", "public.jpeg"},         {"jpe", "public.jpeg"},
    {"tif", "public.tiff"},          {"tiff", "public.tiff"},         {"png", "public.png"},
    {"gif", "com.compuserve.gif"},   {"jp2", "public.jpeg-2000"},     {"j2k", "public.jpeg-2000"},
    {"jpf", "public.jpeg-2000"},     {"jpx", "public.jpeg-2000"},     {"bmp", "com.microsoft.bmp"},
    {"psd", "com.adobe.photoshop-image"}, {"exr", "com.ilm.openexr-image"},
    {"tga", "com.truevision.tga-image"},  {"icns", "com.apple.icns"},
    {"sgi", "com.sgi.sgi-image"},    {"rgb", "com.sgi.sgi-image"},    {"pict", "com.apple.pict"},
    {"pct", "com.apple.pict"},       {"pic", "com.apple.pict"},       {"mac", "com.apple.macpaint-image"},
    {"pntg", "com.apple.macpaint-image"}, {"xbm", "public.xbitmap-image"},
    {"qtif", "com.apple.quicktime-image"}, {"qti", "com.apple.quicktime-image"},
    {"fpx", "com.kodak.flashpix.image"},  {"ai", "com.adobe.illustrator.ai-image"},
    {"ico", "com.microsoft.ico"},    {"pdf", "com.adobe.pdf"},        {"webp", "org.webmproject.webp"},
    {"dng", "com.adobe.raw-image"},  {"cr2", "com.canon.cr2-raw-image"}, {"nef", "com.nikon.raw-image"},
    {"pbm", "public.pbm"},           {"pgm", "public.pgm"},           {"ppm", "public.ppm"},
};

}  // namespace

std::int32_t ImageTypeForUTI(std::string_view typeIdentifier, bool commonTypesOnly) {
    const std::size_t rows = commonTypesOnly ? kCommonTypes : std::size(kTypesByIdentifier);
    for (std::size_t i = 0; i < rows; ++i)
        if (kTypesByIdentifier[i].first == typeIdentifier) return kTypesByIdentifier[i].second;
    return 0;
}

std::string TypeIdentifierOfURL(const std::filesystem::path& url) {
    std::error_code ec;
    if (url.empty() || !std::filesystem::exists(url, ec)) return {};
    std::string ext = url.extension().string();
    if (ext.size() < 2) return {};
    ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& [extension, identifier] : kIdentifiersByExtension)
        if (extension == ext) return std::string(identifier);
    return {};
}

std::int32_t ImageTypeOfURL(const std::filesystem::path& url) {
    const std::string identifier = TypeIdentifierOfURL(url);
    return identifier.empty() ? 0 : ImageTypeForUTI(identifier, true);
}
