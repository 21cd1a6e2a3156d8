#include "platform/imageio/readers/ImageSource.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform {
namespace {

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* signature, std::size_t n) {
    return size >= n && std::memcmp(data, signature, n) == 0;
}

std::string LowerExtension(const std::filesystem::path& name) {
    std::string ext = name.extension().string();
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool IsTiff(const std::uint8_t* d, std::size_t n) {
    return StartsWith(d, n, "II*\0", 4) || StartsWith(d, n, "MM\0*", 4) || StartsWith(d, n, "II+\0", 4) ||
           StartsWith(d, n, "MM\0+", 4);
}

// Whether the first directory of a classic TIFF file holds the DNG version tag.
bool IsDng(const std::uint8_t* d, std::size_t n) {
    if (n < 8 || !(StartsWith(d, n, "II*\0", 4) || StartsWith(d, n, "MM\0*", 4))) return false;
    const bool little = d[0] == 'I';
    auto u16 = [&](std::size_t at) { return little ? d[at] | d[at + 1] << 8 : d[at] << 8 | d[at + 1]; };
    auto u32 = [&](std::size_t at) {
        return little ? static_cast<std::uint32_t>(u16(at) | u16(at + 2) << 16)
                      : static_cast<std::uint32_t>(u16(at) << 16 | u16(at + 2));
    };
    const std::size_t ifd = u32(4);
    if (ifd > n || n - ifd < 2) return false;
    const std::size_t entries = static_cast<std::size_t>(u16(ifd));
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (e + 12 > n) return false;
        if (u16(e) == 50706) return true;  // DNGVersion
    }
    return false;
}

// Raw formats of cameras, known by their extension (most of them are TIFF files inside).
bool IsCameraRawExtension(const std::string& ext) {
    static constexpr std::array<const char*, 26> kRaw = {
        "dng", "crw", "cr2", "cr3", "nef", "nrw", "arw", "srf", "sr2", "orf", "rw2", "raf", "pef",
        "srw", "x3f", "kdc", "dcr", "mrw", "3fr", "erf", "mef", "mos", "iiq", "rwl", "raw", "dcs"};
    return std::find(kRaw.begin(), kRaw.end(), ext) != kRaw.end();
}

bool LooksLikeTga(const std::uint8_t* d, std::size_t n) {
    if (n < 18) return false;
    const int colourMapType = d[1], imageType = d[2];
    if (colourMapType > 1) return false;
    switch (imageType) {
        case 1: case 2: case 3: case 9: case 10: case 11: break;
        default: return false;
    }
    const int width = d[12] | d[13] << 8, height = d[14] | d[15] << 8, depth = d[16];
    return width > 0 && height > 0 && (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32);
}

bool LooksLikeXbm(const std::uint8_t* d, std::size_t n) {
    const std::string_view head(reinterpret_cast<const char*>(d), std::min<std::size_t>(n, 256));
    return head.find("#define") != std::string_view::npos && head.find("_width") != std::string_view::npos;
}

bool LooksLikePnm(const std::uint8_t* d, std::size_t n) {
    return n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '6' && std::isspace(d[2]);
}

// A compound file whose root storage is a FlashPix image view (its class identifier, stored in
// the first directory sector's first entry).
bool IsFlashPix(const std::uint8_t* d, std::size_t n) {
    if (!StartsWith(d, n, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) || n < 512) return false;
    const unsigned shift = d[30] | d[31] << 8;
    if (shift < 9 || shift > 16) return false;
    const std::size_t sector = std::size_t{1} << shift;
    const std::size_t first = static_cast<std::size_t>(d[48] | d[49] << 8 | d[50] << 16) | std::size_t{d[51]} << 24;
    if (first >= 0xFFFFFFFA) return false;
    const std::size_t root = (first + 1) * sector;
    if (root > n || n - root < 96) return false;
    static const std::uint8_t kImageView[16] = {0x00, 0x67, 0x61, 0x56, 0x54, 0xC1, 0xCE, 0x11,
                                                0x85, 0x53, 0x00, 0xAA, 0x00, 0xA1, 0xF9, 0x5B};
    return std::memcmp(d + root + 80, kImageView, 16) == 0;
}

bool LooksLikePict(const std::uint8_t* d, std::size_t n) {
    // A 512-byte header of the application's own, the picture size and frame, then the version
    // 2 opcode and its argument.
    return n >= 528 && d[522] == 0x00 && d[523] == 0x11 && d[524] == 0x02 && d[525] == 0xFF;
}

bool LooksLikeMacPaint(const std::uint8_t* d, std::size_t n, const std::string& ext) {
    if (ext != "mac" && ext != "pntg" && ext != "pnt") return false;
    return n > 512 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] <= 3;
}

using Opener = std::unique_ptr<ImageSource> (*)(readers::Bytes);

struct Format {
    const char* typeIdentifier;
    Opener open;
    const char* qtFormat;  // read by Qt's image reader of this name instead of `open`
};

}  // namespace

double ImageRepresentation::widthInPoints() const {
    const float dpi = dpiX > 0 ? dpiX : 72.0f;
    return 72.0 * bitmap.width / dpi;
}

double ImageRepresentation::heightInPoints() const {
    const float dpi = dpiY > 0 ? dpiY : 72.0f;
    return 72.0 * bitmap.height / dpi;
}

std::shared_ptr<const ImageBytes> ImageBytes::MapFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        return nullptr;
    }
    // The whole file is read: its pages are mapped in one go rather than faulted in one by one.
    void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) return nullptr;
    std::shared_ptr<ImageBytes> bytes(new ImageBytes);
    bytes->data_ = static_cast<const std::uint8_t*>(p);
    bytes->size_ = static_cast<std::size_t>(st.st_size);
    bytes->mapped_ = true;
    return bytes;
}

std::shared_ptr<const ImageBytes> ImageBytes::Copy(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0) return nullptr;
    std::shared_ptr<ImageBytes> bytes(new ImageBytes);
    bytes->owned_.assign(data, data + size);
    bytes->data_ = bytes->owned_.data();
    bytes->size_ = size;
    return bytes;
}

void ImageBytes::Evict() const {
    if (mapped_) ::madvise(const_cast<std::uint8_t*>(data_), size_, MADV_DONTNEED);
}

ImageBytes::~ImageBytes() {
    if (mapped_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

std::string SniffTypeIdentifier(const std::uint8_t* d, std::size_t n, const std::filesystem::path& name) {
    if (!d || n < 2) return {};
    const std::string ext = LowerExtension(name);
    if (StartsWith(d, n, "\x89PNG\r\n\x1a\n", 8)) return "public.png";
    if (StartsWith(d, n, "\xFF\xD8\xFF", 3)) return "public.jpeg";
    if (IsTiff(d, n)) return IsDng(d, n) || IsCameraRawExtension(ext) ? "public.camera-raw-image" : "public.tiff";
    if (StartsWith(d, n, "GIF87a", 6) || StartsWith(d, n, "GIF89a", 6)) return "com.compuserve.gif";
    if (StartsWith(d, n, "\0\0\0\x0CjP  \r\n\x87\n", 12) || StartsWith(d, n, "\xFF\x4F\xFF\x51", 4))
        return "public.jpeg-2000";
    if (StartsWith(d, n, "\x76\x2F\x31\x01", 4)) return "com.ilm.openexr-image";
    if (StartsWith(d, n, "8BPS", 4)) return "com.adobe.photoshop-image";
    if (StartsWith(d, n, "icns", 4)) return "com.apple.icns";
    if (StartsWith(d, n, "BM", 2) && n >= 26) return "com.microsoft.bmp";
    if (n >= 6 && StartsWith(d, n, "\0\0\1\0", 4) && (d[4] | d[5] << 8) > 0) return "com.microsoft.ico";
    if (StartsWith(d, n, "\x01\xDA", 2) && n >= 512) return "com.sgi.sgi-image";
    if (n >= 12 && std::memcmp(d + 4, "idsc", 4) == 0) return "com.apple.quicktime-image";
    if (LooksLikePnm(d, n)) return d[1] == '1' || d[1] == '4' ? "public.pbm" : d[1] == '2' || d[1] == '5' ? "public.pgm" : "public.ppm";
    if (LooksLikeXbm(d, n)) return "public.xbitmap-image";
    if (LooksLikePict(d, n)) return "com.apple.pict";
    if (IsFlashPix(d, n)) return "com.kodak.flashpix.image";
    if (LooksLikeMacPaint(d, n, ext)) return "com.apple.macpaint-image";
    if (IsCameraRawExtension(ext)) return "public.camera-raw-image";
    const bool tgaFooter = n >= 44 && std::memcmp(d + n - 18, "TRUEVISION-XFILE.\0", 18) == 0;
    if ((tgaFooter || ext == "tga" || ext == "icb" || ext == "vda" || ext == "vst") && LooksLikeTga(d, n))
        return "com.truevision.tga-image";
    return {};
}

bool FitsBitmapCap(std::uint64_t width, std::uint64_t height, int components) {
    if (width == 0 || height == 0 || components <= 0) return false;
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
    const std::uint64_t rowBytes = width * static_cast<std::uint64_t>(components);
    return rowBytes <= kMaxBitmapBytes / height;
}

std::unique_ptr<ImageSource> OpenImageData(const std::uint8_t* data, std::size_t size,
                                           const std::filesystem::path& nameHint) {
    return readers::OpenImageBytes(ImageBytes::Copy(data, size), nameHint);
}

std::unique_ptr<ImageSource> OpenImageFile(const std::filesystem::path& path) {
    return readers::OpenImageBytes(ImageBytes::MapFile(path), path);
}

namespace readers {

std::unique_ptr<ImageSource> OpenImageBytes(Bytes bytes, const std::filesystem::path& name) {
    if (!bytes) return nullptr;
    static constexpr Format kFormats[] = {
        {"public.png", OpenPng, nullptr},
        {"public.jpeg", OpenJpeg, nullptr},
        {"public.tiff", OpenTiff, nullptr},
        {"public.camera-raw-image", OpenCameraRaw, nullptr},
        {"com.compuserve.gif", OpenGif, nullptr},
        {"public.jpeg-2000", OpenJpeg2000, nullptr},
        {"com.ilm.openexr-image", OpenExr, nullptr},
        {"com.adobe.photoshop-image", OpenPsd, nullptr},
        {"com.sgi.sgi-image", OpenSgi, nullptr},
        {"com.apple.pict", OpenPict, nullptr},
        {"com.apple.macpaint-image", OpenMacPaint, nullptr},
        {"com.apple.quicktime-image", OpenQuickTimeImage, nullptr},
        {"com.kodak.flashpix.image", OpenFlashPix, nullptr},
        {"com.microsoft.bmp", nullptr, "bmp"},
        {"com.microsoft.ico", nullptr, "ico"},
        {"com.apple.icns", nullptr, "icns"},
        {"com.truevision.tga-image", OpenTga, nullptr},
        {"public.pbm", nullptr, "pbm"},
        {"public.pgm", nullptr, "pgm"},
        {"public.ppm", nullptr, "ppm"},
        {"public.xbitmap-image", nullptr, "xbm"},
    };
    const std::string type = SniffTypeIdentifier(bytes->data(), bytes->size(), name);
    for (const Format& format : kFormats) {
        if (type != format.typeIdentifier) continue;
        return format.qtFormat ? OpenWithQt(std::move(bytes), format.qtFormat, format.typeIdentifier)
                               : format.open(std::move(bytes));
    }
    return nullptr;
}

std::unique_ptr<ImageSource> MakeDecodedSource(const char* typeIdentifier,
                                               std::vector<ImageRepresentation> representations) {
    if (representations.empty()) return nullptr;
    return std::make_unique<DecodedSource>(typeIdentifier, std::move(representations));
}

void PremultiplyRow(std::uint8_t* row, int width, int components) {
    const int colours = components - 1;
    for (int x = 0; x < width; ++x, row += components) {
        const unsigned a = row[colours];
        if (a == 255) continue;
        for (int c = 0; c < colours; ++c) row[c] = static_cast<std::uint8_t>((row[c] * a + 127) / 255);
    }
}

bool UnpackBits(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t n, std::size_t* consumed) {
    std::size_t i = 0, o = 0;
    while (o < n && i < inSize) {
        const int code = static_cast<std::int8_t>(in[i++]);
        if (code >= 0) {
            const std::size_t count = static_cast<std::size_t>(code) + 1;
            if (i + count > inSize || o + count > n) return false;
            std::memcpy(out + o, in + i, count);
            i += count;
            o += count;
        } else if (code != -128) {
            const std::size_t count = static_cast<std::size_t>(1 - code);
            if (i >= inSize || o + count > n) return false;
            std::memset(out + o, in[i++], count);
            o += count;
        }
    }
    if (consumed) *consumed = i;
    return o == n;
}

std::shared_ptr<const ImageMetadata> NoMetadata() {
    static const auto empty = std::make_shared<const ImageMetadata>();
    return empty;
}

}  // namespace readers
}  // namespace platform
