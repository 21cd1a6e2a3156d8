#include "platform/imageio/encoders/WebPEncoder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/LargeAllocations.h"
#include "platform/WorkerBudget.h"

namespace platform {

namespace {

constexpr std::uint64_t kLargestRiffSize = 4294967286u;  // 2^32 - 10
constexpr std::size_t kRiffHeader = 12;                   // "RIFF", size, "WEBP"
constexpr std::size_t kVP8XChunk = 18;                     // tag, size 10, flags, width, height
constexpr std::uint8_t kFlagICC = 0x20, kFlagAlpha = 0x10, kFlagEXIF = 0x08, kFlagXMP = 0x04;

std::uint64_t ChunkBytes(const MetadataBlob& blob) { return 8 + blob.size + (blob.size & 1); }

bool Put(std::FILE* file, const void* bytes, std::size_t size) {
    return size == 0 || std::fwrite(bytes, 1, size, file) == size;
}

// A file written under a temporary name in the folder of its destination, which it replaces
// only once complete.
class TemporaryBeside {
public:
    explicit TemporaryBeside(const char* destination) : destination_(destination) {
        const std::string::size_type slash = destination_.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : destination_.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? destination_ : destination_.substr(slash + 1);
        std::mt19937_64 random{std::random_device{}()};
        for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
            std::string path = folder + "." + name + "." + suffix + ".part";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno != EEXIST) return;
                continue;
            }
            file_ = ::fdopen(fd, "wb");
            if (!file_) {
                ::close(fd);
                ::unlink(path.c_str());
                return;
            }
            path_ = std::move(path);
        }
    }
    ~TemporaryBeside() {
        if (file_) std::fclose(file_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryBeside(const TemporaryBeside&) = delete;
    TemporaryBeside& operator=(const TemporaryBeside&) = delete;

    std::FILE* file() const { return file_; }
    // Closes the file and gives it the destination's name.
    bool Commit() {
        if (!file_) return false;
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!closed || ::rename(path_.c_str(), destination_.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    std::string destination_;
    std::string path_;
    std::FILE* file_ = nullptr;
};

// The working state of one encoding, released on every way out.
struct Encoding {
    WebPPicture picture;
    WebPMemoryWriter stream;
    PictureMetadata metadata;
    bool pictureReady = false;
    Encoding() {
        PictureMetadataInit(&metadata);
        WebPMemoryWriterInit(&stream);
    }
    ~Encoding() {
        WebPMemoryWriterClear(&stream);
        PictureMetadataFree(&metadata);
        if (pictureReady) WebPPictureFree(&picture);
    }
};

// The lossy encoder's first step, the ARGB pixels to YUV 4:2:0, done beforehand in bands of an
// even number of rows on the call's threads, each band by the library's own conversion: it
// averages U and V over pairs of rows and no further, so the planes are those the encoder would
// make. Only for the plain conversion (no dithering, no sharp YUV) of an opaque picture; the
// picture is otherwise left for the encoder to convert.
void ConvertToYUVInBands(WebPPicture* picture, const WebPConfig* config) {
    if (config->lossless || config->use_sharp_yuv || (config->preprocessing & ~1) != 0 || !picture->use_argb ||
        !picture->argb || picture->width < 1 || picture->height < 2 || WorkerBudget() < 2)
        return;
    const int width = picture->width, height = picture->height;
    const int parts = std::min(WorkerBudget(), (height + 1) / 2);
    const int bandRows = ((height + parts - 1) / parts + 1) & ~1;
    const int bands = (height + bandRows - 1) / bandRows;
    std::vector<WebPPicture> views(static_cast<std::size_t>(bands));
    std::vector<char> ok(static_cast<std::size_t>(bands), 0);
    ParallelFor(bands, [&](int k) {
        WebPPicture& view = views[static_cast<std::size_t>(k)];
        const int top = k * bandRows;
        const int rows = std::min(bandRows, height - top);
        if (!WebPPictureView(picture, 0, top, width, rows, &view)) return;
        // A band with transparent pixels gets an alpha plane: the picture is then left whole.
        ok[static_cast<std::size_t>(k)] = WebPPictureARGBToYUVA(&view, WEBP_YUV420) && view.a == nullptr;
    });
    const bool converted = std::all_of(ok.begin(), ok.end(), [](char v) { return v != 0; });
    if (converted) {
        picture->use_argb = 0;
        picture->colorspace = WEBP_YUV420;
        if (WebPPictureAlloc(picture)) {
            const int uvWidth = (width + 1) / 2;
            ParallelFor(bands, [&](int k) {
                const WebPPicture& view = views[static_cast<std::size_t>(k)];
                const int top = k * bandRows;
                for (int y = 0; y < view.height; ++y)
                    std::memcpy(picture->y + static_cast<std::ptrdiff_t>(top + y) * picture->y_stride,
                                view.y + static_cast<std::ptrdiff_t>(y) * view.y_stride,
                                static_cast<std::size_t>(width));
                for (int y = 0; y < (view.height + 1) / 2; ++y) {
                    const std::ptrdiff_t to = static_cast<std::ptrdiff_t>(top / 2 + y) * picture->uv_stride;
                    const std::ptrdiff_t from = static_cast<std::ptrdiff_t>(y) * view.uv_stride;
                    std::memcpy(picture->u + to, view.u + from, static_cast<std::size_t>(uvWidth));
                    std::memcpy(picture->v + to, view.v + from, static_cast<std::size_t>(uvWidth));
                }
            });
        } else {
            picture->use_argb = 1;  // the encoder converts, or fails as it would have
        }
    }
    for (WebPPicture& view : views) WebPPictureFree(&view);
}

}  // namespace

bool PutLittleEndian(std::FILE* file, std::uint32_t value, int byteCount) {
    if (byteCount < 1 || byteCount > 4) return false;
    std::uint8_t bytes[4];
    for (int i = 0; i < byteCount; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return Put(file, bytes, static_cast<std::size_t>(byteCount));
}

bool PutMetadataChunk(std::FILE* file, const char tag[4], const MetadataBlob* blob) {
    if (!blob || blob->size > kLargestRiffSize) return false;
    static const std::uint8_t zero = 0;
    return Put(file, tag, 4) && PutLittleEndian(file, static_cast<std::uint32_t>(blob->size), 4) &&
           Put(file, blob->bytes, static_cast<std::size_t>(blob->size)) && ((blob->size & 1) == 0 || Put(file, &zero, 1));
}

bool WriteWebPFileWithMetadata(std::FILE* file, const WebPPicture* picture, const WebPMemoryWriter* stream,
                               const PictureMetadata* metadata, KeepMetadataBits keepMetadata,
                               KeepMetadataBits* written) {
    if (written) *written = 0;
    if (!file || !picture || !stream || !stream->mem) return false;
    struct Added {
        KeepMetadataBits bit;
        std::uint8_t flag;
        const MetadataBlob* blob;
        bool on;
    };
    Added added[] = {{kKeepMetadataEXIF, kFlagEXIF, metadata ? &metadata->exif : nullptr, false},
                     {kKeepMetadataICC, kFlagICC, metadata ? &metadata->icc : nullptr, false},
                     {kKeepMetadataXMP, kFlagXMP, metadata ? &metadata->xmp : nullptr, false}};
    std::uint64_t extra = 0;
    std::uint8_t flags = 0;
    for (Added& a : added) {
        a.on = (keepMetadata & a.bit) && a.blob && a.blob->bytes && a.blob->size != 0;
        if (!a.on) continue;
        flags |= a.flag;
        extra += ChunkBytes(*a.blob);
    }
    const Added& exif = added[0];
    const Added& icc = added[1];
    const Added& xmp = added[2];

    const std::uint8_t* s = stream->mem;
    const std::uint64_t size = stream->size;
    if (size < kRiffHeader + 8) return false;
    if (std::memcmp(s, "RIFF", 4) != 0 || std::memcmp(s + 8, "WEBP", 4) != 0) return false;
    const bool extended = std::memcmp(s + 12, "VP8X", 4) == 0;
    const bool lossless = std::memcmp(s + 12, "VP8L", 4) == 0;
    if (!extended && !lossless && std::memcmp(s + 12, "VP8 ", 4) != 0) return false;
    if (extended && size < kRiffHeader + kVP8XChunk) return false;   // the whole "VP8X" chunk
    if (lossless && size < kRiffHeader + 8 + 5) return false;        // the byte of the alpha bit

    const std::uint64_t riffSize = size - 8 + extra + (extended || extra == 0 ? 0 : kVP8XChunk);
    if (riffSize > kLargestRiffSize) {
        std::fprintf(stderr, "Error! Addition of metadata would exceed container size limit.\n");
        return false;
    }
    if (extra == 0) return Put(file, s, static_cast<std::size_t>(size));

    bool ok = Put(file, s, 4) && PutLittleEndian(file, static_cast<std::uint32_t>(riffSize), 4) && Put(file, s + 8, 4);
    std::size_t rest;
    if (extended) {
        std::uint8_t chunk[kVP8XChunk];
        std::memcpy(chunk, s + 12, kVP8XChunk);
        chunk[8] |= flags;
        ok = ok && Put(file, chunk, kVP8XChunk);
        rest = kRiffHeader + kVP8XChunk;
    } else {
        if (lossless && (s[kRiffHeader + 8 + 4] & 0x10)) flags |= kFlagAlpha;
        ok = ok && Put(file, "VP8X", 4) && PutLittleEndian(file, 10, 4) && PutLittleEndian(file, flags, 4) &&
             PutLittleEndian(file, static_cast<std::uint32_t>(picture->width - 1), 3) &&
             PutLittleEndian(file, static_cast<std::uint32_t>(picture->height - 1), 3);
        rest = kRiffHeader;
    }
    if (ok && icc.on) {
        ok = PutMetadataChunk(file, "ICCP", icc.blob);
        if (ok && written) *written |= kKeepMetadataICC;
    }
    ok = ok && Put(file, s + rest, static_cast<std::size_t>(size - rest));
    if (ok && exif.on) {
        ok = PutMetadataChunk(file, "EXIF", exif.blob);
        if (ok && written) *written |= kKeepMetadataEXIF;
    }
    if (ok && xmp.on) {
        ok = PutMetadataChunk(file, "XMP ", xmp.blob);
        if (ok && written) *written |= kKeepMetadataXMP;
    }
    return ok;
}

int EncodePictureFileToWebP(const char* inputPath, const char* outputPath, const WebPConfig* config,
                            KeepMetadataBits keepMetadata) {
    // The encoder fills some 40 bytes a pixel of fresh blocks on this one thread.
    const PrefaultedAllocations prefaulted;
    Encoding work;
    if (!WebPPictureInit(&work.picture)) return kWebPEncodePictureInit;
    work.pictureReady = true;
    if (!config || !WebPValidateConfig(config)) return kWebPEncodeBadConfig;
    if (!inputPath || !ReadPictureFile(inputPath, &work.picture, 1, &work.metadata)) return kWebPEncodeUnreadable;
    work.picture.progress_hook = nullptr;
    if (outputPath) {
        work.picture.writer = WebPMemoryWrite;
        work.picture.custom_ptr = &work.stream;
    }
    ConvertToYUVInBands(&work.picture, config);
    if (!WebPEncode(config, &work.picture)) return kWebPEncodeFailed;
    if (!outputPath) return kWebPEncodeDone;
    TemporaryBeside output(outputPath);
    if (!output.file()) return kWebPEncodeCannotCreate;
    KeepMetadataBits written = 0;
    if (!WriteWebPFileWithMetadata(output.file(), &work.picture, &work.stream, &work.metadata, keepMetadata, &written))
        return kWebPEncodeWriteFailed;
    return output.Commit() ? kWebPEncodeDone : kWebPEncodeWriteFailed;
}

}  // namespace platform
