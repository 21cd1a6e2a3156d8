// The classic Macintosh picture files, which no packaged library reads: MacPaint documents,
// QuickDraw pictures made of direct-pixel opcodes (DirectBitsRect, the form this system's writer
// and most later programs produce), and QuickTime image files (their payload read by the
// registry).
#include <algorithm>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

std::uint32_t Be16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] << 8 | p[1]); }
std::uint32_t Be32(const std::uint8_t* p) { return Be16(p) << 16 | Be16(p + 2); }

std::unique_ptr<ImageSource> Single(const char* type, ImageRepresentation rep) {
    if (!rep.metadata) rep.metadata = NoMetadata();
    std::vector<ImageRepresentation> reps;
    reps.push_back(std::move(rep));
    return MakeDecodedSource(type, std::move(reps));
}

struct Rect {
    int top = 0, left = 0, bottom = 0, right = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

Rect ReadRect(const std::uint8_t* p) {
    auto s16 = [](const std::uint8_t* q) { return static_cast<int>(static_cast<std::int16_t>(Be16(q))); };
    return {s16(p), s16(p + 2), s16(p + 4), s16(p + 6)};
}

// One DirectBitsRect opcode's pixels (after the opcode word) drawn into the canvas; the bytes
// it took go to `used`.
bool DrawDirectBits(const std::uint8_t* d, std::size_t n, const Rect& frame, Bitmap& canvas, std::size_t& used) {
    if (n < 4 + 46 + 18) return false;
    std::size_t at = 4;  // base address
    const std::uint32_t rowBytes = Be16(d + at) & 0x3FFF;
    const Rect bounds = ReadRect(d + at + 2);
    const int packType = static_cast<int>(Be16(d + at + 12));
    const int pixelSize = static_cast<int>(Be16(d + at + 28));
    const int components = static_cast<int>(Be16(d + at + 30));
    at += 46;
    const Rect source = ReadRect(d + at);
    const Rect dest = ReadRect(d + at + 8);
    at += 18;  // the two rectangles and the transfer mode
    const int width = bounds.width(), height = bounds.height();
    if (pixelSize != 32 || (components != 3 && components != 4) || width <= 0 || height <= 0 ||
        rowBytes < static_cast<std::uint32_t>(width) * 3)
        return false;
    const int planes = components;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * planes);
    for (int y = 0; y < height; ++y) {
        if (rowBytes < 8) {  // rows of fewer than 8 bytes are stored unpacked, 4 bytes a pixel
            if (at + rowBytes > n) return false;
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < planes; ++c)
                    row[static_cast<std::size_t>(c) * width + x] = d[at + 4 * x + (4 - planes) + c];
            at += rowBytes;
        } else if (packType == 4 || packType == 0) {
            std::size_t count;
            if (rowBytes > 250) {
                if (at + 2 > n) return false;
                count = Be16(d + at);
                at += 2;
            } else {
                if (at + 1 > n) return false;
                count = d[at++];
            }
            if (at + count > n || !UnpackBits(d + at, count, row.data(), row.size())) return false;
            at += count;
        } else {
            return false;
        }
        const int cy = dest.top - frame.top + (y - (source.top - bounds.top));
        if (y < source.top - bounds.top || y >= source.bottom - bounds.top || cy < 0 || cy >= canvas.height) continue;
        std::uint8_t* out = canvas.row(cy);
        for (int x = source.left - bounds.left; x < source.right - bounds.left && x < width; ++x) {
            const int cx = dest.left - frame.left + (x - (source.left - bounds.left));
            if (x < 0 || cx < 0 || cx >= canvas.width) continue;
            const int skip = planes - 3;  // an alpha plane comes first
            for (int c = 0; c < 3; ++c) out[cx * 3 + c] = row[static_cast<std::size_t>(c + skip) * width + x];
        }
    }
    used = at;
    return true;
}

}  // namespace

std::unique_ptr<ImageSource> OpenMacPaint(Bytes bytes) {
    constexpr int kWidth = 576, kHeight = 720, kRowBytes = kWidth / 8;
    const std::uint8_t* d = bytes->data();
    const std::size_t n = bytes->size();
    if (n <= 512) return nullptr;
    ImageRepresentation rep;
    rep.bitmap = Bitmap::Allocate(kWidth, kHeight, ColorModel::Monochrome, false);
    if (!rep.bitmap) return nullptr;
    std::uint8_t bits[kRowBytes];
    std::size_t at = 512;
    for (int y = 0; y < kHeight; ++y) {
        std::size_t used = 0;
        if (!UnpackBits(d + at, n - at, bits, kRowBytes, &used)) return nullptr;
        at += used;
        std::uint8_t* out = rep.bitmap.row(y);
        for (int x = 0; x < kWidth; ++x) out[x] = (bits[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
    }
    rep.colorKind = SourceColorKind::Grey;
    rep.bitsPerSample = 1;
    return Single("com.apple.macpaint-image", std::move(rep));
}

std::unique_ptr<ImageSource> OpenPict(Bytes bytes) {
    const std::uint8_t* d = bytes->data();
    const std::size_t n = bytes->size();
    if (n < 512 + 14) return nullptr;
    const Rect frame = ReadRect(d + 514);
    if (frame.width() <= 0 || frame.height() <= 0 ||
        !FitsBitmapCap(static_cast<std::uint64_t>(frame.width()), static_cast<std::uint64_t>(frame.height()), 3))
        return nullptr;
    ImageRepresentation rep;
    rep.bitmap = Bitmap::Allocate(frame.width(), frame.height(), ColorModel::RGB, false);
    if (!rep.bitmap) return nullptr;
    std::memset(rep.bitmap.data, 255, static_cast<std::size_t>(rep.bitmap.stride) * rep.bitmap.height);
    std::size_t at = 522;
    bool drawn = false;
    while (at + 2 <= n) {
        const std::uint32_t op = Be16(d + at);
        at += 2;
        if (op == 0x00FF) break;
        std::size_t skip;
        switch (op) {
            case 0x0000: case 0x001E: skip = 0; break;  // no operation, default highlight
            case 0x0011: skip = 2; break;                // version
            case 0x0C00: {                               // extended header: the resolution
                if (at + 24 > n) return nullptr;
                if (Be16(d + at) == 0xFFFE) {
                    rep.dpiX = static_cast<float>(Be32(d + at + 4)) / 65536.0f;
                    rep.dpiY = static_cast<float>(Be32(d + at + 8)) / 65536.0f;
                }
                skip = 24;
                break;
            }
            case 0x0001:  // clip region
                if (at + 2 > n) return nullptr;
                skip = Be16(d + at);
                break;
            case 0x00A0: skip = 2; break;  // short comment
            case 0x00A1:                   // long comment
                if (at + 4 > n) return nullptr;
                skip = 4 + Be16(d + at + 2);
                break;
            case 0x009A:
            case 0x009B: {
                std::size_t used = 0;
                if (!DrawDirectBits(d + at, n - at, frame, rep.bitmap, used)) return nullptr;
                // Opcodes start on even offsets from the picture's start.
                at += used;
                if ((at - 512) % 2) ++at;
                drawn = true;
                continue;
            }
            default: return nullptr;  // opcodes this reader does not draw
        }
        at += skip;
        if ((at - 512) % 2) ++at;
    }
    if (!drawn) return nullptr;
    if (!(rep.dpiX > 0 && rep.dpiY > 0)) rep.dpiX = rep.dpiY = 0;
    rep.colorKind = SourceColorKind::RGB;
    return Single("com.apple.pict", std::move(rep));
}

std::unique_ptr<ImageSource> OpenQuickTimeImage(Bytes bytes) {
    const std::uint8_t* d = bytes->data();
    const std::size_t n = bytes->size();
    std::size_t at = 0;
    const std::uint8_t* payload = nullptr;
    std::size_t payloadSize = 0;
    while (at + 8 <= n) {
        std::size_t size = Be32(d + at);
        if (size == 0) size = n - at;
        if (size < 8 || size > n - at) return nullptr;
        if (std::memcmp(d + at + 4, "idat", 4) == 0) {
            payload = d + at + 8;
            payloadSize = size - 8;
        }
        at += size;
    }
    if (!payload) return nullptr;
    std::unique_ptr<ImageSource> inner = OpenImageBytes(ImageBytes::Copy(payload, payloadSize), {});
    if (!inner) return nullptr;
    std::vector<ImageRepresentation> reps;
    for (std::size_t i = 0; i < inner->count(); ++i) {
        ImageRepresentation rep;
        if (!inner->Read(i, rep)) return nullptr;
        reps.push_back(std::move(rep));
    }
    return MakeDecodedSource("com.apple.quicktime-image", std::move(reps));
}

}  // namespace platform::readers
