#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/OutputTypes.h"
#include "platform/Resources.h"

namespace {

constexpr OutputColorModels kRGB{true, false, false};
constexpr OutputColorModels kRGBGrey{true, false, true};
constexpr OutputColorModels kEveryModel{true, true, true};
constexpr bool Y = true, n = false;
constexpr int kLZW = 5;
using enum BitmapFileType;

// Columns: code, menu title and place, type identifier, colour models, resolution box usable,
// record carries the box's resolution, lossy quality, alpha, TIFF compression, metadata kept,
// bitmap representation writes it, bitmap file type.
constexpr OutputTypeFacts kTable[] = {
    {1,  "Photoshop (PSD)", 10, "com.adobe.photoshop-image",      kEveryModel, Y, Y, n, n, 0,    Y, n, JPEG},
    {2,  "GIF",              7, "com.compuserve.gif",             kRGBGrey,    n, n, n, Y, 0,    Y, Y, GIF},
    {3,  "JPEG 2000",        2, "public.jpeg-2000",               kRGBGrey,    n, n, Y, Y, 0,    n, Y, JPEG2000},
    {4,  "JPEG",             1, "public.jpeg",                    kEveryModel, Y, Y, Y, n, 0,    Y, Y, JPEG},
    {5,  "OpenEXR",         11, "com.ilm.openexr-image",          kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {6,  "ICNS",            14, "com.apple.icns",                 kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {7,  "PNG",              3, "public.png",                     kRGBGrey,    Y, Y, n, Y, 0,    Y, Y, PNG},
    {8,  "PDF",              9, "com.adobe.pdf",                  kEveryModel, Y, Y, n, n, 0,    n, n, JPEG},
    {9,  "TGA",             12, "com.truevision.tga-image",       kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {10, "TIFF",             4, "public.tiff",                    kEveryModel, Y, Y, n, n, kLZW, Y, Y, TIFF},
    {11, "BMP",              8, "com.microsoft.bmp",              kRGB,        Y, Y, n, n, 0,    n, Y, BMP},
    {12, "SGI",             13, "com.sgi.sgi-image",              kRGB,        n, n, n, n, 0,    n, n, JPEG},
    // Rendered in CMYK whatever the colour model, and written at 72 dots per inch although its
    // resolution box is usable.
    {13, "TIFF (CMYK)",      5, "public.tiff",                    kRGB,        Y, n, n, n, kLZW, Y, Y, TIFF},
    {14, "PICT",            16, "com.apple.pict",                 kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {15, "Illustrator",     17, "com.adobe.illustrator.ai-image", kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {16, "MacPaint",        18, "com.apple.macpaint-image",       kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {17, "QuickTime Image", 19, "com.apple.quicktime-image",      kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {18, "ICO",             15, "com.microsoft.ico",              kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {19, "X Bitmap",        20, "public.xbitmap-image",           kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {20, "FlashPix",        21, "com.kodak.flashpix.image",       kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {21, "Fax",             22, "public.fax",                     kRGB,        n, n, n, n, 0,    n, n, JPEG},
    {22, "Camera Raw",      23, "public.camera-raw-image",        kRGB,        n, n, n, n, 0,    n, n, JPEG},
    // One file per document (a range of one page is written as type 10).
    {23, "Multi-Page TIFF",  6, "public.tiff",                    kEveryModel, Y, Y, n, n, kLZW, n, n, TIFF},
    // The image-file path only: no menu, no identifier, no extension entry. Written through the
    // WebP encoder from an LZW TIFF of the picture, at the quality (lossless at 1).
    {24, nullptr,            0, nullptr,                          kRGB,        n, n, Y, Y, 0,    n, n, JPEG},
};

constexpr bool InCodeOrder() {
    for (std::size_t i = 0; i < std::size(kTable); ++i)
        if (kTable[i].code != static_cast<std::int32_t>(i + 1)) return false;
    return true;
}
static_assert(InCodeOrder(), "one row per code, in code order from 1");

// What an unknown code is written by: JPEG, with nothing asked of the writer.
constexpr OutputTypeFacts kUnknownType{0, nullptr, 0, "public.jpeg"};

// The "ImageExtension" array, read anew on every call; nullptr when missing or not an array.
plist_t ReadExtensionTable() {
    const std::filesystem::path path = platform::ResourcePath("ImageExtension.plist");
    if (path.empty()) return nullptr;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty()) return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    if (root && plist_get_node_type(root) != PLIST_ARRAY) {
        plist_free(root);
        return nullptr;
    }
    return root;
}

std::string StringAt(plist_t array, std::int32_t index) {
    if (index < 0 || static_cast<uint32_t>(index) >= plist_array_get_size(array)) return {};
    plist_t item = plist_array_get_item(array, static_cast<uint32_t>(index));
    if (!item || plist_get_node_type(item) != PLIST_STRING) return {};
    char* value = nullptr;
    plist_get_string_val(item, &value);
    std::string result = value ? value : "";
    std::free(value);
    return result;
}

}  // namespace

std::span<const OutputTypeFacts> OutputTypeTable() { return kTable; }

const OutputTypeFacts* FindOutputType(std::int32_t code) {
    if (code < 1 || static_cast<std::size_t>(code) > std::size(kTable)) return nullptr;
    return &kTable[code - 1];
}

const OutputTypeFacts& WriterFactsForOutputType(std::int32_t code) {
    const OutputTypeFacts* row = FindOutputType(code);
    return row && row->typeIdentifier ? *row : kUnknownType;
}

const OutputTypeFacts* MenuOutputType(std::int64_t code) {
    if (code < 1 || code > static_cast<std::int64_t>(std::size(kTable))) return nullptr;
    const OutputTypeFacts& row = kTable[code - 1];
    return row.menuTitle ? &row : nullptr;
}

const char* TypeIdentifierForOutputType(std::int32_t imageType) { return WriterFactsForOutputType(imageType).typeIdentifier; }

bool TypeKeepsMetadata(std::int32_t imageType) {
    const OutputTypeFacts* row = FindOutputType(imageType);
    return row && row->keepsMetadata;
}

BitmapFileType BitmapFileTypeForImageType(std::int32_t imageType) {
    const OutputTypeFacts* row = FindOutputType(imageType);
    return row ? row->bitmapFileType : BitmapFileType::JPEG;
}

bool TypeSupportedByBitmapRep(std::int32_t imageType) {
    const OutputTypeFacts* row = FindOutputType(imageType);
    return row && row->bitmapRepWrites;
}

std::string ImageFileExtensionForType(std::int32_t imageType) {
    plist_t table = ReadExtensionTable();
    if (!table) return {};
    const bool inTable = imageType >= 1 && static_cast<uint32_t>(imageType) < plist_array_get_size(table);
    std::string extension = StringAt(table, inTable ? imageType : kOutputJPEG);
    plist_free(table);
    return extension;
}

double LengthToPoints(std::int32_t unit, double length) {
    double inches;
    if (unit == kSizeMillimetres)
        inches = length / 25.4;
    else if (unit == kSizeCentimetres)
        inches = length / 2.54;
    else
        inches = length;
    return inches * 72.0;
}
