// JPEG through libjpeg-turbo: grey, RGB (YCbCr) and CMYK (YCCK too; Adobe files store their ink
// inverted), with the resolution from JFIF or EXIF, the EXIF orientation, and the ICC profile,
// EXIF and XMP markers.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void Silent(j_common_ptr, int) {}

constexpr char kExifId[] = "Exif\0";  // followed by a pad byte
constexpr char kXmpId[] = "http://ns.adobe.com/xap/1.0/";

// What the header says; filled by ReadJpeg, which holds only C state between setjmp and the
// library's longjmp.
struct JpegJob {
    const std::uint8_t* data;
    std::size_t size;
    bool decode;  // false: the header only
    // Out:
    int width, height, components;
    J_COLOR_SPACE space;
    bool adobe;
    int densityUnit, xDensity, yDensity;
    unsigned char* icc;
    unsigned int iccLength;
    // The APP1 markers, copied by the caller from the saved list before it is freed.
    void (*onMarker)(void* context, const std::uint8_t* data, unsigned length);
    void* context;
    // Rows are written here when decoding: `rows` of `stride` bytes.
    std::uint8_t* pixels;
    std::ptrdiff_t stride;
};

int ReadJpeg(JpegJob* job) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.emit_message = Silent;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return 0;
    }
    job->width = static_cast<int>(cinfo.image_width);
    job->height = static_cast<int>(cinfo.image_height);
    job->space = cinfo.jpeg_color_space;
    job->adobe = cinfo.saw_Adobe_marker;
    job->densityUnit = cinfo.saw_JFIF_marker ? cinfo.density_unit : 0;
    job->xDensity = cinfo.X_density;
    job->yDensity = cinfo.Y_density;
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE: cinfo.out_color_space = JCS_GRAYSCALE; break;
        case JCS_CMYK:
        case JCS_YCCK: cinfo.out_color_space = JCS_CMYK; break;
        default: cinfo.out_color_space = JCS_RGB; break;
    }
    job->components = cinfo.out_color_space == JCS_GRAYSCALE ? 1 : cinfo.out_color_space == JCS_CMYK ? 4 : 3;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1) job->onMarker(job->context, m->data, m->data_length);
    if (!jpeg_read_icc_profile(&cinfo, &job->icc, &job->iccLength)) {
        job->icc = nullptr;
        job->iccLength = 0;
    }
    if (!job->decode) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[4];
        for (int i = 0; i < 4; ++i)
            rows[i] = job->pixels + job->stride * std::min<int>(static_cast<int>(cinfo.output_scanline) + i,
                                                                static_cast<int>(cinfo.output_height) - 1);
        jpeg_read_scanlines(&cinfo, rows, 4);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 1;
}

struct Header {
    JpegJob job{};
    std::shared_ptr<ImageMetadata> metadata = std::make_shared<ImageMetadata>();
};

void OnApp1(void* context, const std::uint8_t* data, unsigned length) {
    auto* metadata = static_cast<ImageMetadata*>(context);
    if (length > 6 && std::memcmp(data, kExifId, 6) == 0 && metadata->exif.empty())
        metadata->exif.assign(data + 6, data + length);
    else if (length > sizeof kXmpId && std::memcmp(data, kXmpId, sizeof kXmpId) == 0 && metadata->xmp.empty())
        metadata->xmp.assign(reinterpret_cast<const char*>(data) + sizeof kXmpId, length - sizeof kXmpId);
}

bool ReadHeader(const Bytes& bytes, bool decode, Header& header, std::uint8_t* pixels = nullptr,
                std::ptrdiff_t stride = 0) {
    JpegJob& job = header.job;
    job = {};
    header.metadata = std::make_shared<ImageMetadata>();
    job.data = bytes->data();
    job.size = bytes->size();
    job.decode = decode;
    job.onMarker = OnApp1;
    job.context = header.metadata.get();
    job.pixels = pixels;
    job.stride = stride;
    const int ok = ReadJpeg(&job);
    if (job.icc) {
        header.metadata->icc.assign(job.icc, job.icc + job.iccLength);
        std::free(job.icc);
        job.icc = nullptr;
    }
    return ok == 1;
}

class JpegSource : public ImageSource {
public:
    explicit JpegSource(Bytes bytes) : ImageSource("public.jpeg"), bytes_(std::move(bytes)) {}
    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        Header header;
        if (index != 0 || !ReadHeader(bytes_, false, header)) return false;
        const JpegJob& info = header.job;
        if (!FitsBitmapCap(info.width, info.height, info.components)) return false;
        const ColorModel model = info.components == 1   ? ColorModel::Monochrome
                                 : info.components == 4 ? ColorModel::CMYK
                                                        : ColorModel::RGB;
        Bitmap bitmap = Bitmap::Allocate(info.width, info.height, model, false);
        const bool decoded = bitmap && ReadHeader(bytes_, true, header, bitmap.data, bitmap.stride);
        bytes_->Evict();
        if (!decoded) return false;
        if (model == ColorModel::CMYK && header.job.adobe) {
            // Adobe's writers store ink inverted (255 = none).
            const std::size_t n = static_cast<std::size_t>(bitmap.stride) * bitmap.height;
            for (std::size_t i = 0; i < n; ++i) bitmap.data[i] = static_cast<std::uint8_t>(255 - bitmap.data[i]);
        }
        out.bitmap = std::move(bitmap);
        out.colorKind = model == ColorModel::Monochrome ? SourceColorKind::Grey
                        : model == ColorModel::CMYK     ? SourceColorKind::CMYK
                                                        : SourceColorKind::RGB;
        out.bitsPerSample = 8;
        const ExifFacts facts = header.metadata->exif.empty()
                                    ? ExifFacts{}
                                    : ReadExifFacts(header.metadata->exif.data(), header.metadata->exif.size());
        out.orientation = facts.orientation ? facts.orientation : 1;
        if ((header.job.densityUnit == 1 || header.job.densityUnit == 2) && header.job.xDensity > 0 &&
            header.job.yDensity > 0) {
            const float scale = header.job.densityUnit == 2 ? 2.54f : 1.0f;
            out.dpiX = static_cast<float>(header.job.xDensity) * scale;
            out.dpiY = static_cast<float>(header.job.yDensity) * scale;
        } else if (facts.dpiX > 0) {
            out.dpiX = facts.dpiX;
            out.dpiY = facts.dpiY;
        }
        out.metadata = std::move(header.metadata);
        return true;
    }

private:
    Bytes bytes_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenJpeg(Bytes bytes) {
    Header header;
    if (!ReadHeader(bytes, false, header) || !FitsBitmapCap(header.job.width, header.job.height, 1)) return nullptr;
    return std::make_unique<JpegSource>(std::move(bytes));
}

}  // namespace platform::readers
