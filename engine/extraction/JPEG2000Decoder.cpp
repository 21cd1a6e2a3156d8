#include "engine/extraction/JPEG2000Decoder.h"

#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/Bitmap.h"

namespace {

void IgnoreJPEG2000Message(const char*, void*) {}

// The caller's bytes as an OpenJPEG input stream: read, skip and seek within them.
struct MemoryInput {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
};

OPJ_SIZE_T ReadInput(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (in->offset >= in->size) return static_cast<OPJ_SIZE_T>(-1);
    const std::size_t n = std::min<std::size_t>(count, in->size - in->offset);
    std::memcpy(buffer, in->data + in->offset, n);
    in->offset += n;
    return n;
}

OPJ_OFF_T SkipInput(OPJ_OFF_T count, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (count < 0) {
        const std::size_t back = std::min<std::size_t>(static_cast<std::size_t>(-count), in->offset);
        in->offset -= back;
        return -static_cast<OPJ_OFF_T>(back);
    }
    const std::size_t forward = std::min<std::size_t>(static_cast<std::size_t>(count), in->size - in->offset);
    in->offset += forward;
    return static_cast<OPJ_OFF_T>(forward);
}

OPJ_BOOL SeekInput(OPJ_OFF_T position, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (position < 0 || static_cast<std::uint64_t>(position) > in->size) return OPJ_FALSE;
    in->offset = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

struct Decoder {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~Decoder() {
        if (image) opj_image_destroy(image);
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
    }
};

// One component sample as 8 bits: signed samples moved up by half their range, precisions above
// 8 shifted down to 8 bits, lower ones spread over 0..255.
inline std::uint8_t To8Bits(OPJ_INT32 value, OPJ_UINT32 precision, bool isSigned) {
    std::int64_t v = value;
    if (isSigned) v += std::int64_t{1} << (precision - 1);
    const std::int64_t top = (std::int64_t{1} << precision) - 1;
    v = std::clamp<std::int64_t>(v, 0, top);
    if (precision > 8) return static_cast<std::uint8_t>(v >> (precision - 8));
    if (precision == 8) return static_cast<std::uint8_t>(v);
    return static_cast<std::uint8_t>((v * 255 + top / 2) / top);
}

inline std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

int DecodeJPEG2000Data(const std::uint8_t* data, std::size_t size, JPEG2000Image& out, std::int32_t& family) {
    out = JPEG2000Image{};
    if (!data || size < 2) return -1;
    const bool codestream = data[0] == 0xFF && data[1] == 0x4F;

    Decoder d;
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    d.codec = opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (!d.codec) return -1;
    opj_set_error_handler(d.codec, IgnoreJPEG2000Message, nullptr);
    opj_set_warning_handler(d.codec, IgnoreJPEG2000Message, nullptr);
    opj_set_info_handler(d.codec, IgnoreJPEG2000Message, nullptr);
    if (!opj_setup_decoder(d.codec, &parameters)) return -1;

    MemoryInput input{data, size, 0};
    d.stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    if (!d.stream) return -1;
    opj_stream_set_user_data(d.stream, &input, nullptr);
    opj_stream_set_user_data_length(d.stream, size);
    opj_stream_set_read_function(d.stream, ReadInput);
    opj_stream_set_skip_function(d.stream, SkipInput);
    opj_stream_set_seek_function(d.stream, SeekInput);
    if (!opj_read_header(d.stream, d.codec, &d.image) || !d.image) return -1;

    // The declared size, checked before anything is decoded.
    const opj_image_t* header = d.image;
    const OPJ_UINT32 n = header->numcomps;
    if (n < 1 || !header->comps) return -1;
    const std::uint64_t declaredWidth = header->x1 > header->x0 ? header->x1 - header->x0 : 0;
    const std::uint64_t declaredHeight = header->y1 > header->y0 ? header->y1 - header->y0 : 0;
    if (declaredWidth == 0 || declaredHeight == 0) return -1;
    if (declaredWidth > platform::kMaxBitmapBytes / declaredHeight / std::min<OPJ_UINT32>(n, 5)) return -1;

    if (!opj_decode(d.codec, d.stream, d.image) || !opj_end_decompress(d.codec, d.stream)) return -1;
    const opj_image_t* image = d.image;
    const opj_image_comp_t& first = image->comps[0];
    const OPJ_UINT32 w = first.w, h = first.h, p = first.prec;
    const bool isSigned = first.sgnd != 0;
    if (w < 1 || h < 1 || p < 1 || p > 31 || w > 0x7FFFFFFF || h > 0x7FFFFFFF) return -1;
    for (OPJ_UINT32 c = 0; c < n; ++c) {
        const opj_image_comp_t& comp = image->comps[c];
        if (comp.w != w || comp.h != h || comp.prec != p || !comp.data) return -1;
    }

    // Colour components and an opacity sample: RGB or YCC with a fourth, grey with a second;
    // otherwise up to four colours, and the fifth of five or more as opacity. Further
    // components are dropped.
    const bool rgbLike = image->color_space == OPJ_CLRSPC_SRGB || image->color_space == OPJ_CLRSPC_SYCC;
    int colours;
    bool alpha;
    if (n == 4 && rgbLike) {
        colours = 3;
        alpha = true;
    } else if (n == 2) {
        colours = 1;
        alpha = true;
    } else {
        colours = static_cast<int>(std::min<OPJ_UINT32>(n, 4));
        alpha = n > 4;
    }
    if (colours == 2) return -1;
    const int m = colours + (alpha ? 1 : 0);
    const std::size_t pixels = static_cast<std::size_t>(w) * h;
    if (pixels > platform::kMaxBitmapBytes / static_cast<std::size_t>(m)) return -1;

    std::vector<std::uint8_t> samples(pixels * m);
    for (int c = 0; c < m; ++c) {
        const OPJ_INT32* src = image->comps[c].data;
        std::uint8_t* dst = samples.data() + c;
        for (std::size_t i = 0; i < pixels; ++i, dst += m) *dst = To8Bits(src[i], p, isSigned);
    }
    if (image->color_space == OPJ_CLRSPC_SYCC && colours == 3) {
        // Full-range YCbCr to RGB.
        for (std::size_t i = 0; i < pixels; ++i) {
            std::uint8_t* px = samples.data() + i * m;
            const double y = px[0], cb = px[1] - 128.0, cr = px[2] - 128.0;
            px[0] = Clamp8(y + 1.402 * cr);
            px[1] = Clamp8(y - 0.344136 * cb - 0.714136 * cr);
            px[2] = Clamp8(y + 1.772 * cb);
        }
    }

    const bool callerHadSpace = family != 0;
    if (!callerHadSpace) family = colours == 4 ? 3 : colours == 3 ? 2 : 1;
    if (!callerHadSpace && image->icc_profile_buf && image->icc_profile_len > 0)
        out.iccProfile.assign(image->icc_profile_buf, image->icc_profile_buf + image->icc_profile_len);
    out.width = static_cast<int>(w);
    out.height = static_cast<int>(h);
    out.colorComponents = colours;
    out.hasAlpha = alpha;
    out.samples = std::move(samples);
    return 0;
}
