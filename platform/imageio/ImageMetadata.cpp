#include "platform/imageio/ImageMetadata.h"

#include <cmath>
#include <cstring>

namespace platform {
namespace {

// A bounds-checked view of a TIFF structure in either byte order.
struct TiffView {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    bool little = true;

    bool Has(std::size_t at, std::size_t n) const { return at <= size && n <= size - at; }
    std::uint32_t U16(std::size_t at) const {
        return little ? data[at] | data[at + 1] << 8 : data[at] << 8 | data[at + 1];
    }
    std::uint32_t U32(std::size_t at) const {
        return little ? U16(at) | U16(at + 2) << 16 : U16(at) << 16 | U16(at + 2);
    }
    static bool Open(const std::uint8_t* p, std::size_t n, TiffView& view) {
        if (!p || n < 8) return false;
        if (p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0)
            view.little = true;
        else if (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42)
            view.little = false;
        else
            return false;
        view.data = p;
        view.size = n;
        return true;
    }
};

// Calls `visit(tag, type, count, entryOffset)` for each entry of the first directory.
template <typename Visit>
void ForEachEntry(const TiffView& t, Visit visit) {
    const std::size_t ifd = t.U32(4);
    if (!t.Has(ifd, 2)) return;
    const std::size_t entries = t.U16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t e = ifd + 2 + 12 * i;
        if (!t.Has(e, 12)) return;
        visit(t.U16(e), t.U16(e + 2), t.U32(e + 4), e);
    }
}

}  // namespace

IccSpace IccColorSpace(const std::vector<std::uint8_t>& profile) {
    if (profile.size() < 128) return IccSpace::Unknown;
    const char* space = reinterpret_cast<const char*>(profile.data() + 16);
    if (std::memcmp(space, "GRAY", 4) == 0) return IccSpace::Grey;
    if (std::memcmp(space, "RGB ", 4) == 0) return IccSpace::RGB;
    if (std::memcmp(space, "CMYK", 4) == 0) return IccSpace::CMYK;
    return IccSpace::Unknown;
}

ExifFacts ReadExifFacts(const std::uint8_t* data, std::size_t size) {
    ExifFacts facts;
    TiffView t;
    if (!TiffView::Open(data, size, t)) return facts;
    float xres = 0, yres = 0;
    int unit = 2;
    ForEachEntry(t, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::size_t e) {
        if (tag == 274 && type == 3 && count == 1) {
            const int v = static_cast<int>(t.U16(e + 8));
            if (v >= 1 && v <= 8) facts.orientation = v;
        } else if ((tag == 282 || tag == 283) && type == 5 && count == 1) {
            const std::size_t at = t.U32(e + 8);
            if (!t.Has(at, 8)) return;
            const std::uint32_t den = t.U32(at + 4);
            const float v = den ? static_cast<float>(t.U32(at)) / static_cast<float>(den) : 0.0f;
            (tag == 282 ? xres : yres) = v;
        } else if (tag == 296 && type == 3 && count == 1) {
            unit = static_cast<int>(t.U16(e + 8));
        }
    });
    if (unit == 3) {  // centimetres
        xres *= 2.54f;
        yres *= 2.54f;
    } else if (unit != 2) {
        xres = yres = 0;
    }
    if (std::isfinite(xres) && std::isfinite(yres) && xres > 0 && yres > 0) {
        facts.dpiX = xres;
        facts.dpiY = yres;
    }
    return facts;
}

std::vector<std::uint8_t> ExifWithResolution(const std::vector<std::uint8_t>& exif, float dpiX, float dpiY) {
    std::vector<std::uint8_t> out = exif;
    TiffView t;
    if (!(dpiX > 0) || !(dpiY > 0) || !TiffView::Open(out.data(), out.size(), t)) return out;
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        if (t.little) {
            out[at] = static_cast<std::uint8_t>(v);
            out[at + 1] = static_cast<std::uint8_t>(v >> 8);
        } else {
            out[at] = static_cast<std::uint8_t>(v >> 8);
            out[at + 1] = static_cast<std::uint8_t>(v);
        }
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        if (t.little) {
            put16(at, v & 0xFFFF);
            put16(at + 2, v >> 16);
        } else {
            put16(at, v >> 16);
            put16(at + 2, v & 0xFFFF);
        }
    };
    ForEachEntry(t, [&](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::size_t e) {
        if ((tag == 282 || tag == 283) && type == 5 && count == 1) {
            const std::size_t at = t.U32(e + 8);
            if (!t.Has(at, 8)) return;
            const float dpi = tag == 282 ? dpiX : dpiY;
            put32(at, static_cast<std::uint32_t>(std::lround(dpi * 100.0f)));
            put32(at + 4, 100);
        } else if (tag == 296 && type == 3 && count == 1) {
            put16(e + 8, 2);  // inches
        }
    });
    return out;
}

}  // namespace platform
