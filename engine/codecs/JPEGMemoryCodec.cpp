#include "engine/codecs/JPEGMemoryCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "platform/Bitmap.h"

// libjpeg reports fatal errors through its error-exit method, which must not return: ours jump
// back with longjmp. Every function between a setjmp and a possible longjmp therefore holds only
// C state (no object with a destructor), and all state that the error path needs lives in a
// plain struct reached through a pointer, so nothing is clobbered by the jump.

namespace {

// ---------------------------------------------------------------------------------------------
// Decoder

struct JPEGDecodeErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JPEGDecodeErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JPEGDecodeErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

// A library has no business writing warnings ("Premature end of JPEG file") to standard error.
void JPEGSilentOutput(j_common_ptr) {}

// Completes data that ends early, so that the decoder sees an end of image instead of reading on.
const JOCTET kEndOfImageFiller[2] = {0xFF, JPEG_EOI};

struct JPEGMemorySource {
    jpeg_source_mgr pub;  // next_input_byte and bytes_in_buffer: the caller's bytes not yet read
};

void JPEGMemorySourceInit(j_decompress_ptr) {}

boolean JPEGMemorySourceFill(j_decompress_ptr cinfo) {
    cinfo->src->next_input_byte = kEndOfImageFiller;
    cinfo->src->bytes_in_buffer = sizeof kEndOfImageFiller;
    return TRUE;
}

void JPEGMemorySourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) {
        // Never move past the data: what is left is consumed, then the filler follows.
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
        JPEGMemorySourceFill(cinfo);
        return;
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void JPEGMemorySourceTerm(j_decompress_ptr) {}

struct DecodeState {
    jpeg_decompress_struct cinfo;
    JPEGDecodeErrorManager error;
    JPEGMemorySource source;
    unsigned char* samples;  // owned until handed to the caller
    unsigned char* row;
};

struct DecodeResult {
    std::int32_t colorCode;
    std::size_t size;
    std::uint32_t width;
    std::uint32_t height;
    bool hasDensity;
    double dpiX;
    double dpiY;
};

// The work of the decoder; may leave by a longjmp at any library call.
[[gnu::noinline]] int DecodeSteps(DecodeState* s, const std::uint8_t* data, std::size_t length, DecodeResult* out) {
    jpeg_create_decompress(&s->cinfo);

    s->source.pub.init_source = JPEGMemorySourceInit;
    s->source.pub.fill_input_buffer = JPEGMemorySourceFill;
    s->source.pub.skip_input_data = JPEGMemorySourceSkip;
    s->source.pub.resync_to_restart = jpeg_resync_to_restart;
    s->source.pub.term_source = JPEGMemorySourceTerm;
    s->source.pub.next_input_byte = data;
    s->source.pub.bytes_in_buffer = data ? length : 0;
    s->cinfo.src = &s->source.pub;

    // Exif and ICC profile markers are kept with the decompression object.
    jpeg_save_markers(&s->cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&s->cinfo, JPEG_APP0 + 2, 0xFFFF);

    jpeg_read_header(&s->cinfo, TRUE);
    jpeg_start_decompress(&s->cinfo);

    const int components = s->cinfo.output_components;
    switch (components) {
        case 4: out->colorCode = 4; break;
        case 3: out->colorCode = 2; break;
        case 1: out->colorCode = 1; break;
        default: return 1;
    }

    if (s->cinfo.density_unit == 2) {
        out->hasDensity = true;
        out->dpiX = static_cast<double>(static_cast<float>(s->cinfo.X_density) * 254.0f / 100.0f);
        out->dpiY = static_cast<double>(static_cast<float>(s->cinfo.Y_density) * 254.0f / 100.0f);
    } else if (s->cinfo.density_unit == 1) {
        out->hasDensity = true;
        out->dpiX = s->cinfo.X_density;
        out->dpiY = s->cinfo.Y_density;
    }

    const std::size_t width = s->cinfo.output_width;
    const std::size_t height = s->cinfo.output_height;
    std::size_t rowLength = 0;
    std::size_t size = 0;
    if (__builtin_mul_overflow(width, static_cast<std::size_t>(components), &rowLength) ||
        __builtin_mul_overflow(rowLength, height, &size))
        return 1;
    // A header can claim 65500 x 65500 pixels in a few bytes: refuse what no page could need.
    if (size == 0 || size > platform::kMaxBitmapBytes) return 1;

    s->samples = static_cast<unsigned char*>(std::malloc(size));
    s->row = static_cast<unsigned char*>(std::malloc(rowLength));
    if (!s->samples || !s->row) return 1;

    out->size = size;
    out->width = static_cast<std::uint32_t>(width);
    out->height = static_cast<std::uint32_t>(height);

    const bool invert = components == 4 && s->cinfo.out_color_space == JCS_CMYK && s->cinfo.saw_Adobe_marker;
    while (s->cinfo.output_scanline < s->cinfo.output_height) {
        const std::size_t r = s->cinfo.output_scanline;
        JSAMPROW rows[1] = {s->row};
        if (jpeg_read_scanlines(&s->cinfo, rows, 1) != 1) return 1;
        unsigned char* target = s->samples + r * rowLength;
        if (invert) {
            for (std::size_t i = 0; i < rowLength; ++i) target[i] = static_cast<unsigned char>(255 - s->row[i]);
        } else {
            std::memcpy(target, s->row, rowLength);
        }
    }

    std::free(s->row);
    s->row = nullptr;
    jpeg_finish_decompress(&s->cinfo);
    return 0;
}

int DecodeGuarded(DecodeState* s, const std::uint8_t* data, std::size_t length, DecodeResult* out) {
    if (setjmp(s->error.jump) != 0) return 1;
    return DecodeSteps(s, data, length, out);
}

// ---------------------------------------------------------------------------------------------
// Encoder

struct JPEGEncodeErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JPEGEncodeErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JPEGEncodeErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

struct EncodeState {
    jpeg_compress_struct cinfo;
    JPEGEncodeErrorManager error;
    unsigned char* buffer;  // the memory destination's buffer (malloc'd by the library)
    unsigned long size;
    bool destinationReady;  // jpeg_mem_dest has returned: its term method may be called
};

struct EncodeInput {
    std::uint32_t width;
    std::uint32_t height;
    const std::uint8_t* samples;
    J_COLOR_SPACE colorSpace;
    int components;
    unsigned int densityX;
    unsigned int densityY;
    int quality;
};

[[gnu::noinline]] void EncodeSteps(EncodeState* s, const EncodeInput* in) {
    jpeg_create_compress(&s->cinfo);
    jpeg_mem_dest(&s->cinfo, &s->buffer, &s->size);
    s->destinationReady = true;

    s->cinfo.image_width = in->width;
    s->cinfo.image_height = in->height;
    s->cinfo.input_components = in->components;
    s->cinfo.in_color_space = in->colorSpace;
    jpeg_set_defaults(&s->cinfo);

    // The JFIF header carries the density; the defaults leave it out for CMYK, which then also
    // gets its Adobe marker.
    s->cinfo.write_JFIF_header = TRUE;
    s->cinfo.density_unit = 1;
    s->cinfo.X_density = static_cast<UINT16>(in->densityX);
    s->cinfo.Y_density = static_cast<UINT16>(in->densityY);

    jpeg_set_quality(&s->cinfo, in->quality, TRUE);
    jpeg_start_compress(&s->cinfo, TRUE);

    const std::size_t rowLength = static_cast<std::size_t>(in->width) * static_cast<std::size_t>(in->components);
    const bool invert = in->colorSpace == JCS_CMYK;
    JSAMPARRAY inverted = nullptr;
    if (invert)  // from the library's image pool: released with the compression object
        inverted = (*s->cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&s->cinfo), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(rowLength), 1);

    while (s->cinfo.next_scanline < s->cinfo.image_height) {
        const std::uint8_t* source = in->samples + static_cast<std::size_t>(s->cinfo.next_scanline) * rowLength;
        JSAMPROW rows[1];
        if (invert) {
            // Our samples say 0 = no ink; the file says 0 = full ink (the Adobe convention).
            for (std::size_t i = 0; i < rowLength; ++i) inverted[0][i] = static_cast<JSAMPLE>(255 - source[i]);
            rows[0] = inverted[0];
        } else {
            rows[0] = const_cast<JSAMPROW>(source);  // read only by the library
        }
        jpeg_write_scanlines(&s->cinfo, rows, 1);
    }
    jpeg_finish_compress(&s->cinfo);
}

bool EncodeGuarded(EncodeState* s, const EncodeInput* in) {
    if (setjmp(s->error.jump) != 0) return false;
    EncodeSteps(s, in);
    return true;
}

unsigned int DensityOf(double dpi) {
    if (!(dpi >= 0)) return 0;  // negative or not a number
    if (dpi >= 65535.0) return 65535;
    return static_cast<unsigned int>(dpi);
}

}  // namespace

int DecodeJPEGData(const std::uint8_t* data, std::size_t length, std::int32_t* colorCode,
                   std::uint8_t** samples, std::size_t* sampleSize, std::uint32_t* width,
                   std::uint32_t* height, double* dpiX, double* dpiY) {
    if (samples) *samples = nullptr;
    if (!colorCode || !samples || !sampleSize || !width || !height) return 1;

    auto* s = static_cast<DecodeState*>(std::calloc(1, sizeof(DecodeState)));
    if (!s) return 1;
    s->cinfo.err = jpeg_std_error(&s->error.pub);
    s->error.pub.error_exit = JPEGDecodeErrorExit;
    s->error.pub.output_message = JPEGSilentOutput;

    DecodeResult result{};
    const int status = DecodeGuarded(s, data, length, &result);

    std::free(s->row);
    jpeg_destroy_decompress(&s->cinfo);
    if (status == 0) {
        *colorCode = result.colorCode;
        *samples = s->samples;
        *sampleSize = result.size;
        *width = result.width;
        *height = result.height;
        if (result.hasDensity) {
            if (dpiX) *dpiX = result.dpiX;
            if (dpiY) *dpiY = result.dpiY;
        }
    } else {
        std::free(s->samples);
    }
    std::free(s);
    return status;
}

void EncodeJPEGData(std::uint32_t width, std::uint32_t height, const std::uint8_t* samples,
                    std::int32_t colorSpace, std::int32_t components, double dpiX, double dpiY,
                    std::int32_t quality, std::uint8_t** jpeg, std::size_t* jpegSize) {
    if (!jpeg || !jpegSize) return;
    *jpeg = nullptr;
    *jpegSize = 0;
    // Input colour spaces that libjpeg knows; it checks that the components agree.
    if (!samples || colorSpace < JCS_UNKNOWN || colorSpace > JCS_EXT_ARGB || components < 1) return;
    std::size_t rowLength = 0;
    std::size_t total = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(components), &rowLength) ||
        __builtin_mul_overflow(rowLength, static_cast<std::size_t>(height), &total) ||
        rowLength > 0xFFFFFFFFu)
        return;

    auto* s = static_cast<EncodeState*>(std::calloc(1, sizeof(EncodeState)));
    if (!s) return;
    s->cinfo.err = jpeg_std_error(&s->error.pub);
    s->error.pub.error_exit = JPEGEncodeErrorExit;
    s->error.pub.output_message = JPEGSilentOutput;

    const EncodeInput input{width, height, samples, static_cast<J_COLOR_SPACE>(colorSpace), components,
                            DensityOf(dpiX), DensityOf(dpiY), quality};
    if (EncodeGuarded(s, &input)) {
        *jpeg = s->buffer;
        *jpegSize = s->size;
    } else {
        // The memory destination may have moved its buffer since it gave us the first one; its
        // term method hands over the current one, which we then free.
        if (s->destinationReady && s->cinfo.dest) s->cinfo.dest->term_destination(&s->cinfo);
        std::free(s->buffer);
    }
    jpeg_destroy_compress(&s->cinfo);
    std::free(s);
}
