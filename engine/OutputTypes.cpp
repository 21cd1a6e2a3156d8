#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "engine/ImageConversion.h"
#include "platform/Resources.h"

namespace {

constexpr const char* kTypeIdentifiers[] = {
    nullptr,
    "com.adobe.photoshop-image",        // 1
    "com.compuserve.gif",               // 2
    "public.jpeg-2000",                 // 3
    "public.jpeg",                      // 4
    "com.ilm.openexr-image",            // 5
    "com.apple.icns",                   // 6
    "public.png",                       // 7
    "com.adobe.pdf",                    // 8
    "com.truevision.tga-image",         // 9
    "public.tiff",                      // 10
    "com.microsoft.bmp",                // 11
    "com.sgi.sgi-image",                // 12
    "public.tiff",                      // 13
    "com.apple.pict",                   // 14
    "com.adobe.illustrator.ai-image",   // 15
    "com.apple.macpaint-image",         // 16
    "com.apple.quicktime-image",        // 17
    "com.microsoft.ico",                // 18
    "public.xbitmap-image",             // 19
    "com.kodak.flashpix.image",         // 20
    "public.fax",                       // 21
    "public.camera-raw-image",          // 22
    "public.tiff",                      // 23
};

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

const char* TypeIdentifierForOutputType(std::int32_t imageType) {
    if (imageType < 1 || imageType > kOutputMultiPageTIFF) return "public.jpeg";
    return kTypeIdentifiers[imageType];
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
