#include "engine/extraction/Jpeg2000Writer.h"

#include <openjpeg.h>

#include <cstring>

namespace testj2k {
namespace {

// The encoder's output: it seeks back to fill in box lengths.
struct Output {
    std::string bytes;
    std::size_t position = 0;
};

OPJ_SIZE_T Write(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* out = static_cast<Output*>(user);
    if (out->bytes.size() < out->position + size) out->bytes.resize(out->position + size);
    std::memcpy(out->bytes.data() + out->position, buffer, size);
    out->position += size;
    return size;
}
OPJ_OFF_T Skip(OPJ_OFF_T size, void* user) {
    auto* out = static_cast<Output*>(user);
    out->position += static_cast<std::size_t>(size);
    if (out->bytes.size() < out->position) out->bytes.resize(out->position);
    return size;
}
OPJ_BOOL Seek(OPJ_OFF_T position, void* user) {
    static_cast<Output*>(user)->position = static_cast<std::size_t>(position);
    return OPJ_TRUE;
}

}  // namespace

std::string Encode(const Spec& spec) {
    std::vector<opj_image_cmptparm_t> parms(spec.components);
    for (auto& p : parms) {
        std::memset(&p, 0, sizeof p);
        p.dx = p.dy = 1;
        p.w = spec.width;
        p.h = spec.height;
        p.prec = spec.precision;
        p.sgnd = spec.isSigned;
    }
    opj_image_t* image = opj_image_create(spec.components, parms.data(), static_cast<OPJ_COLOR_SPACE>(spec.colorSpace));
    if (!image) return {};
    image->x1 = spec.width;
    image->y1 = spec.height;
    const std::size_t plane = static_cast<std::size_t>(spec.width) * spec.height;
    for (int c = 0; c < spec.components; ++c)
        for (std::size_t i = 0; i < plane; ++i)
            image->comps[c].data[i] = c * plane + i < spec.planes.size() ? spec.planes[c * plane + i] : 0;
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;  // lossless
    parameters.cp_disto_alloc = 1;
    parameters.irreversible = 0;
    parameters.numresolution = 1;
    parameters.tcp_mct = 0;
    opj_codec_t* codec = opj_create_compress(spec.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    Output out;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &out, nullptr);
    opj_stream_set_write_function(stream, Write);
    opj_stream_set_skip_function(stream, Skip);
    opj_stream_set_seek_function(stream, Seek);
    const bool ok = opj_setup_encoder(codec, &parameters, image) && opj_start_compress(codec, image, stream) &&
                    opj_encode(codec, stream) && opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    return ok ? out.bytes : std::string();
}

}  // namespace testj2k
