// JPEG 2000 (JP2 file) through OpenJPEG, in tiles of 512 pixels a side. Quality 1 is lossless
// (5/3 wavelet); below it the 9/7 wavelet aims at a peak signal-to-noise ratio rising with the
// quality. OpenJPEG writes no resolution box, so one is added to the header box afterwards.
#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/WorkerBudget.h"
#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"

namespace platform {
namespace {

struct Sink {
    std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* s = static_cast<Sink*>(user);
    try {
        const std::size_t end = s->position + size;
        if (end > s->bytes->size()) s->bytes->resize(end);
        std::memcpy(s->bytes->data() + s->position, buffer, size);
        s->position = end;
        return size;
    } catch (...) {
        return static_cast<OPJ_SIZE_T>(-1);
    }
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T skip, void* user) {
    auto* s = static_cast<Sink*>(user);
    if (skip < 0 && static_cast<std::size_t>(-skip) > s->position) return -1;
    s->position = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(s->position) + skip);
    return skip;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T offset, void* user) {
    if (offset < 0) return OPJ_FALSE;
    static_cast<Sink*>(user)->position = static_cast<std::size_t>(offset);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

using bytes::StoreBE32;
// The picture goes to OpenJPEG a tile at a time: its working memory (some 20 bytes a pixel of
// what it holds at once) is then that of one tile whatever the page's size, and every worker
// encodes a page of its own. Against tiles of 768 and 1024 pixels and one tile for the whole
// picture, 512 measured fastest and smallest in memory; each tile reaches the quality's
// signal-to-noise ratio on its own, so lossy files come out some 10 % larger than one tile's
// and some 1 dB closer to the page. Lossless files hardly change.
constexpr int kTileSide = 512;

std::uint32_t GetBE32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// Pixels per metre as numerator, denominator 1 and a decimal exponent, numerator in 16 bits.
void Resolution(float dpi, std::uint8_t* numerator, std::int8_t* exponent) {
    double perMetre = dpi / 0.0254;
    int e = 0;
    while (perMetre > 65535 && e < 127) {
        perMetre /= 10;
        ++e;
    }
    const auto n = static_cast<std::uint16_t>(std::lround(perMetre));
    numerator[0] = static_cast<std::uint8_t>(n >> 8);
    numerator[1] = static_cast<std::uint8_t>(n);
    *exponent = static_cast<std::int8_t>(e);
}

// Adds a capture-resolution box at the end of the JP2 header box.
void AddResolutionBox(std::vector<std::uint8_t>& jp2, float dpiX, float dpiY) {
    std::size_t at = 0;
    while (at + 8 <= jp2.size()) {
        const std::uint32_t length = GetBE32(jp2.data() + at);
        if (length < 8 || at + length > jp2.size()) return;
        if (std::memcmp(jp2.data() + at + 4, "jp2h", 4) == 0) {
            std::uint8_t box[8 + 8 + 10];
            StoreBE32(box, sizeof box);
            std::memcpy(box + 4, "res ", 4);
            StoreBE32(box + 8, 18);
            std::memcpy(box + 12, "resc", 4);
            std::uint8_t* r = box + 16;
            std::int8_t ev = 0, eh = 0;
            Resolution(dpiY, r, &ev);
            r[2] = 0, r[3] = 1;
            Resolution(dpiX, r + 4, &eh);
            r[6] = 0, r[7] = 1;
            r[8] = static_cast<std::uint8_t>(ev);
            r[9] = static_cast<std::uint8_t>(eh);
            jp2.insert(jp2.begin() + static_cast<std::ptrdiff_t>(at + length), box, box + sizeof box);
            StoreBE32(jp2.data() + at, length + static_cast<std::uint32_t>(sizeof box));
            return;
        }
        at += length;
    }
}

}  // namespace

namespace encoders {

bool EncodeJPEG2000(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    const PixelLayout layout = LayoutFor(image, properties.hasAlpha, false);
    const int components = BytesPerPixel(layout);
    const bool alpha = layout == PixelLayout::GrayAlpha || layout == PixelLayout::RGBA;
    const bool grey = layout == PixelLayout::Gray || layout == PixelLayout::GrayAlpha;

    opj_image_cmptparm_t parms[4];
    std::memset(parms, 0, sizeof parms);
    for (int i = 0; i < components; ++i) {
        parms[i].dx = parms[i].dy = 1;
        parms[i].w = static_cast<OPJ_UINT32>(image.width);
        parms[i].h = static_cast<OPJ_UINT32>(image.height);
        parms[i].prec = 8;
        parms[i].sgnd = 0;
    }
    // The image without samples of its own: they come a tile at a time.
    opj_image_t* j2k = opj_image_tile_create(static_cast<OPJ_UINT32>(components), parms,
                                             grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    if (!j2k) return false;
    j2k->x0 = j2k->y0 = 0;
    j2k->x1 = static_cast<OPJ_UINT32>(image.width);
    j2k->y1 = static_cast<OPJ_UINT32>(image.height);
    if (alpha) j2k->comps[components - 1].alpha = 1;

    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    const float quality = properties.lossyQuality.value_or(1.0f);
    parameters.tcp_numlayers = 1;
    parameters.cp_fixed_quality = 1;
    if (quality >= 1.0f) {
        parameters.irreversible = 0;
        parameters.tcp_distoratio[0] = 0;  // lossless
    } else {
        parameters.irreversible = 1;
        parameters.tcp_distoratio[0] = 20.0f + 30.0f * std::max(0.0f, quality);
    }
    parameters.tcp_mct = components >= 3 ? 1 : 0;
    parameters.tile_size_on = OPJ_TRUE;
    parameters.cp_tx0 = parameters.cp_ty0 = 0;
    parameters.cp_tdx = parameters.cp_tdy = kTileSide;
    const int tileWidth = std::min(image.width, kTileSide), tileHeight = std::min(image.height, kTileSide);
    // Fewer wavelet levels for small tiles: each level halves the smallest side.
    int levels = 6;
    while (levels > 1 && ((tileWidth >> (levels - 1)) < 1 || (tileHeight >> (levels - 1)) < 1)) --levels;
    parameters.numresolution = levels;

    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_JP2);
    bool ok = codec != nullptr;
    opj_stream_t* stream = nullptr;
    Sink sink{&out, 0};
    if (ok) {
        opj_set_info_handler(codec, Quiet, nullptr);
        opj_set_warning_handler(codec, Quiet, nullptr);
        opj_set_error_handler(codec, Quiet, nullptr);
        ok = opj_setup_encoder(codec, &parameters, j2k) != 0;
        if (ok && WorkerBudget() > 1) opj_codec_set_threads(codec, WorkerBudget());
    }
    if (ok) {
        stream = opj_stream_create(1 << 20, OPJ_FALSE);
        ok = stream != nullptr;
    }
    if (ok) {
        opj_stream_set_user_data(stream, &sink, nullptr);
        opj_stream_set_write_function(stream, SinkWrite);
        opj_stream_set_skip_function(stream, SinkSkip);
        opj_stream_set_seek_function(stream, SinkSeek);
        ok = opj_start_compress(codec, j2k, stream) != 0;
    }
    if (ok) {
        // The tiles in order, left to right and top to bottom, each as its planes one after
        // another, a byte a sample.
        const int across = (image.width + kTileSide - 1) / kTileSide;
        const int down = (image.height + kTileSide - 1) / kTileSide;
        try {
            // A row of tiles at a time: each row of the picture is converted once and laid into
            // the tiles across.
            std::vector<std::vector<std::uint8_t>> tiles(static_cast<std::size_t>(across));
            PixelRows rows(image, layout);
            for (int ty = 0; ok && ty < down; ++ty) {
                const int y0 = ty * kTileSide, h = std::min(kTileSide, image.height - y0);
                for (int tx = 0; tx < across; ++tx) {
                    const int w = std::min(kTileSide, image.width - tx * kTileSide);
                    tiles[static_cast<std::size_t>(tx)].resize(static_cast<std::size_t>(w) * h * components);
                }
                for (int y = 0; y < h; ++y) {
                    const std::uint8_t* row = rows.Row(y0 + y);
                    for (int tx = 0; tx < across; ++tx) {
                        const int x0 = tx * kTileSide, w = std::min(kTileSide, image.width - x0);
                        const std::size_t plane = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
                        const std::uint8_t* in = row + static_cast<std::size_t>(x0) * components;
                        for (int c = 0; c < components; ++c) {
                            std::uint8_t* dest = tiles[static_cast<std::size_t>(tx)].data() +
                                                 plane * static_cast<std::size_t>(c) + static_cast<std::size_t>(y) * w;
                            for (int x = 0; x < w; ++x) dest[x] = in[x * components + c];
                        }
                    }
                }
                for (int tx = 0; ok && tx < across; ++tx) {
                    std::vector<std::uint8_t>& tile = tiles[static_cast<std::size_t>(tx)];
                    ok = opj_write_tile(codec, static_cast<OPJ_UINT32>(ty * across + tx), tile.data(),
                                        static_cast<OPJ_UINT32>(tile.size()), stream) != 0;
                }
            }
        } catch (...) {
            ok = false;  // no memory for a tile: the codec and the image still go below
        }
        ok = ok && opj_end_compress(codec, stream) != 0;
    }
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
    opj_image_destroy(j2k);
    if (!ok || out.empty()) {
        out.clear();
        return false;
    }
    const float dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
    const float dpiY = properties.dpiHeight.value_or(dpiX);
    if (dpiX > 0 && dpiY > 0) AddResolutionBox(out, dpiX, dpiY);
    return true;
}

}  // namespace encoders
}  // namespace platform
