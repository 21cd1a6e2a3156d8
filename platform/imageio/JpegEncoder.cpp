// JPEG through libjpeg-turbo: RGB and grey straight from the bitmap's rows, CMYK with its
// samples inverted as Adobe's writers store them (readers that see the Adobe marker invert
// them back; plain samples would show as a negative).
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>

#include <jpeglib.h>

#include "platform/imageio/Encoders.h"
#include "platform/imageio/JpegQuality.h"
#include "platform/imageio/PixelRows.h"

namespace platform {
namespace {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

void Put16(unsigned char* p, unsigned v) {  // little-endian
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, unsigned v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

// An Exif block that holds only the resolution: CMYK files carry no JFIF marker, whose density
// fields would otherwise give it.
int MakeResolutionExif(unsigned char* out, float dpiX, float dpiY) {
    std::memcpy(out, "Exif\0\0", 6);
    unsigned char* t = out + 6;
    std::memcpy(t, "II*\0", 4);
    Put32(t + 4, 8);
    Put16(t + 8, 3);  // entries
    unsigned char* e = t + 10;
    const unsigned rationals = 10 + 3 * 12 + 4;
    auto entry = [&](unsigned tag, unsigned type, unsigned value) {
        Put16(e, tag);
        Put16(e + 2, type);
        Put32(e + 4, 1);
        Put32(e + 8, value);
        e += 12;
    };
    entry(282, 5, rationals);      // XResolution
    entry(283, 5, rationals + 8);  // YResolution
    entry(296, 3, 2);              // ResolutionUnit: inch
    Put32(e, 0);                   // no next directory
    unsigned char* r = t + rationals;
    Put32(r, static_cast<unsigned>(dpiX * 100 + 0.5f));
    Put32(r + 4, 100);
    Put32(r + 8, static_cast<unsigned>(dpiY * 100 + 0.5f));
    Put32(r + 12, 100);
    return 6 + static_cast<int>(rationals) + 16;
}

struct JpegJob {
    const Bitmap* image;
    PixelLayout layout;
    int quality;
    float dpiX, dpiY;
    unsigned char* row;  // a row buffer, for rows that need converting
    unsigned char* output;
    unsigned long outputSize;
};

// Holds only C state between setjmp and the library's longjmp. 1 on success.
int CompressJpeg(JpegJob* job) {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &job->output, &job->outputSize);
    const Bitmap& image = *job->image;
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    switch (job->layout) {
        case PixelLayout::Gray:
            cinfo.input_components = 1;
            cinfo.in_color_space = JCS_GRAYSCALE;
            break;
        case PixelLayout::CMYK:
            cinfo.input_components = 4;
            cinfo.in_color_space = JCS_CMYK;
            break;
        default:
            cinfo.input_components = 3;
            cinfo.in_color_space = JCS_RGB;
            break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job->quality, TRUE);
    if (job->dpiX > 0 && job->dpiY > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = static_cast<UINT16>(job->dpiX + 0.5f);
        cinfo.Y_density = static_cast<UINT16>(job->dpiY + 0.5f);
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (job->layout == PixelLayout::CMYK && job->dpiX > 0 && job->dpiY > 0) {
        unsigned char exif[96];
        const int length = MakeResolutionExif(exif, job->dpiX, job->dpiY);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, static_cast<unsigned>(length));
    }
    const int rowBytes = image.width * BytesPerPixel(job->layout);
    const bool asIs = (job->layout == PixelLayout::Gray && image.model == ColorModel::Monochrome && !image.hasAlpha) ||
                      (job->layout == PixelLayout::RGB && image.model == ColorModel::RGB && !image.hasAlpha);
    for (int y = 0; y < image.height; ++y) {
        JSAMPROW row;
        if (asIs) {
            row = const_cast<JSAMPROW>(image.row(y));
        } else {
            ConvertRow(image, image.row(y), image.width, job->layout, job->row);
            if (job->layout == PixelLayout::CMYK)
                for (int i = 0; i < rowBytes; ++i) job->row[i] = static_cast<unsigned char>(255 - job->row[i]);
            row = job->row;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

}  // namespace

namespace encoders {

bool EncodeJPEG(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    out.clear();
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) return false;
    const PixelLayout layout = image.model == ColorModel::Monochrome ? PixelLayout::Gray
                               : image.model == ColorModel::CMYK     ? PixelLayout::CMYK
                                                                     : PixelLayout::RGB;
    std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * BytesPerPixel(layout));
    JpegJob job{};
    job.image = &image;
    job.layout = layout;
    // The quality as a whole percentage, truncated (0.8 gives 80); libjpeg takes 1 to 100.
    job.quality = std::max(1, JpegQualityPercent(properties.lossyQuality.value_or(0.75f)));
    job.dpiX = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
    job.dpiY = properties.dpiHeight.value_or(job.dpiX);
    if (job.dpiX > 65535 || job.dpiY > 65535) job.dpiX = job.dpiY = 0;
    job.row = row.data();
    const int ok = CompressJpeg(&job);
    if (ok && job.output && job.outputSize) out.assign(job.output, job.output + job.outputSize);
    std::free(job.output);
    return ok && !out.empty();
}

}  // namespace encoders
}  // namespace platform
