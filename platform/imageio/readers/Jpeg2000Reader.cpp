// JPEG 2000 (JP2 files and bare codestreams) through OpenJPEG: grey, RGB, sYCC and CMYK
// components of any precision scaled to 8 bits, alpha, and the capture resolution box.
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

struct Stream {
    const std::uint8_t* data;
    OPJ_SIZE_T size;
    OPJ_SIZE_T position;
};

OPJ_SIZE_T StreamRead(void* buffer, OPJ_SIZE_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    if (s->position >= s->size) return static_cast<OPJ_SIZE_T>(-1);
    n = std::min(n, s->size - s->position);
    std::memcpy(buffer, s->data + s->position, n);
    s->position += n;
    return n;
}
OPJ_OFF_T StreamSkip(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    const OPJ_OFF_T to = std::clamp<OPJ_OFF_T>(static_cast<OPJ_OFF_T>(s->position) + n, 0, static_cast<OPJ_OFF_T>(s->size));
    const OPJ_OFF_T moved = to - static_cast<OPJ_OFF_T>(s->position);
    s->position = static_cast<OPJ_SIZE_T>(to);
    return moved;
}
OPJ_BOOL StreamSeek(OPJ_OFF_T n, void* user) {
    auto* s = static_cast<Stream*>(user);
    if (n < 0 || static_cast<OPJ_SIZE_T>(n) > s->size) return OPJ_FALSE;
    s->position = static_cast<OPJ_SIZE_T>(n);
    return OPJ_TRUE;
}
void Quiet(const char*, void*) {}

std::uint32_t Be32(const std::uint8_t* p) { return std::uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The capture (or else display) resolution of a JP2 header, in dots per inch.
void ReadResolution(const std::uint8_t* d, std::size_t n, float& dpiX, float& dpiY) {
    auto find = [](const std::uint8_t* p, std::size_t size, const char* type, std::size_t& at, std::size_t& length) {
        std::size_t i = 0;
        while (i + 8 <= size) {
            std::size_t box = Be32(p + i);
            if (box == 0) box = size - i;
            if (box < 8 || box > size - i) return false;
            if (std::memcmp(p + i + 4, type, 4) == 0) {
                at = i + 8;
                length = box - 8;
                return true;
            }
            i += box;
        }
        return false;
    };
    std::size_t hAt, hLen, rAt, rLen, cAt, cLen;
    if (!find(d, n, "jp2h", hAt, hLen) || !find(d + hAt, hLen, "res ", rAt, rLen)) return;
    const std::uint8_t* res = d + hAt + rAt;
    if (!find(res, rLen, "resc", cAt, cLen) && !find(res, rLen, "resd", cAt, cLen)) return;
    if (cLen < 10) return;
    const std::uint8_t* r = res + cAt;
    auto value = [&](int at, int exponentAt) {
        const unsigned num = r[at] << 8 | r[at + 1], den = r[at + 2] << 8 | r[at + 3];
        if (!num || !den) return 0.0f;
        const double perMetre = static_cast<double>(num) / den * std::pow(10.0, static_cast<std::int8_t>(r[exponentAt]));
        return static_cast<float>(perMetre * 0.0254);
    };
    dpiY = value(0, 8);
    dpiX = value(4, 9);
    if (!(dpiX > 0) || !(dpiY > 0)) dpiX = dpiY = 0;
}

struct ImageFree {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};

std::unique_ptr<opj_image_t, ImageFree> Decode(const Bytes& bytes, bool headerOnly) {
    const bool codestream = bytes->size() >= 2 && bytes->data()[0] == 0xFF && bytes->data()[1] == 0x4F;
    opj_codec_t* codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!codec) return nullptr;
    opj_set_info_handler(codec, Quiet, nullptr);
    opj_set_warning_handler(codec, Quiet, nullptr);
    opj_set_error_handler(codec, Quiet, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    Stream state{bytes->data(), bytes->size(), 0};
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(stream, &state, nullptr);
    opj_stream_set_user_data_length(stream, bytes->size());
    opj_stream_set_read_function(stream, StreamRead);
    opj_stream_set_skip_function(stream, StreamSkip);
    opj_stream_set_seek_function(stream, StreamSeek);
    opj_image_t* raw = nullptr;
    bool ok = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &raw);
    std::unique_ptr<opj_image_t, ImageFree> image(raw);
    if (ok && !headerOnly) {
        opj_codec_set_threads(codec, 4);
        ok = opj_decode(codec, stream, image.get()) && opj_end_decompress(codec, stream);
    }
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    if (!ok) image.reset();
    return image;
}

class Jpeg2000Source : public ImageSource {
public:
    explicit Jpeg2000Source(Bytes bytes) : ImageSource("public.jpeg-2000"), bytes_(std::move(bytes)) {}
    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        if (index != 0) return false;
        auto image = Decode(bytes_, false);
        if (!image || image->numcomps == 0) return false;
        const int numcomps = static_cast<int>(image->numcomps);
        const opj_image_comp_t* comps = image->comps;
        const std::uint32_t width = comps[0].w, height = comps[0].h;
        for (int c = 0; c < numcomps; ++c)
            if (!comps[c].data || comps[c].w != width || comps[c].h != height) return false;  // subsampled
        const bool cmyk = image->color_space == OPJ_CLRSPC_CMYK && numcomps >= 4;
        const int colours = cmyk ? 4 : numcomps >= 3 ? 3 : 1;
        bool alpha = numcomps > colours && (comps[colours].alpha || numcomps == colours + 1);
        const ColorModel model = cmyk ? ColorModel::CMYK : colours == 3 ? ColorModel::RGB : ColorModel::Monochrome;
        if (!FitsBitmapCap(width, height, colours + (alpha ? 1 : 0))) return false;
        Bitmap bitmap = Bitmap::Allocate(static_cast<int>(width), static_cast<int>(height), model, alpha);
        if (!bitmap) return false;
        const int n = bitmap.components;
        const bool ycc = image->color_space == OPJ_CLRSPC_SYCC && colours == 3;
        for (std::uint32_t y = 0; y < height; ++y) {
            std::uint8_t* row = bitmap.row(static_cast<int>(y));
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                int v[5];
                for (int c = 0; c < n; ++c) {
                    const opj_image_comp_t& comp = comps[c];
                    long s = comp.data[i] + (comp.sgnd ? 1L << (comp.prec - 1) : 0);
                    const long max = (1L << comp.prec) - 1;
                    s = std::clamp(s, 0L, max);
                    v[c] = static_cast<int>((s * 255 + max / 2) / max);
                }
                if (ycc) {
                    const double yy = v[0], cb = v[1] - 128.0, cr = v[2] - 128.0;
                    v[0] = std::clamp(static_cast<int>(std::lround(yy + 1.402 * cr)), 0, 255);
                    v[1] = std::clamp(static_cast<int>(std::lround(yy - 0.344136 * cb - 0.714136 * cr)), 0, 255);
                    v[2] = std::clamp(static_cast<int>(std::lround(yy + 1.772 * cb)), 0, 255);
                }
                for (int c = 0; c < n; ++c) row[x * n + c] = static_cast<std::uint8_t>(v[c]);
            }
            if (alpha) PremultiplyRow(row, static_cast<int>(width), n);
        }
        out.bitmap = std::move(bitmap);
        out.colorKind = cmyk ? SourceColorKind::CMYK : colours == 3 ? SourceColorKind::RGB : SourceColorKind::Grey;
        out.bitsPerSample = static_cast<int>(comps[0].prec);
        out.hasAlpha = alpha;
        ReadResolution(bytes_->data(), bytes_->size(), out.dpiX, out.dpiY);
        auto metadata = std::make_shared<ImageMetadata>();
        if (image->icc_profile_buf && image->icc_profile_len)
            metadata->icc.assign(image->icc_profile_buf, image->icc_profile_buf + image->icc_profile_len);
        out.metadata = std::move(metadata);
        return true;
    }

private:
    Bytes bytes_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenJpeg2000(Bytes bytes) {
    auto image = Decode(bytes, true);
    if (!image || image->numcomps == 0) return nullptr;
    if (!FitsBitmapCap(image->x1 - image->x0, image->y1 - image->y0, 1)) return nullptr;
    return std::make_unique<Jpeg2000Source>(std::move(bytes));
}

}  // namespace platform::readers
