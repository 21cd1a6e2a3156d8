// JPEG through libjpeg-turbo: RGB and grey straight from the bitmap's rows, CMYK with its
// samples inverted as Adobe's writers store them (readers that see the Adobe marker invert
// them back; plain samples would show as a negative). Rows arrive a band at a time and the
// compressed bytes go out as they come.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/imageio/ByteWriter.h"
#include "platform/imageio/JpegQuality.h"
#include "platform/imageio/encoders/Encoders.h"
#include "platform/imageio/PixelRows.h"
#include "platform/imageio/RowEncoder.h"

namespace platform {
namespace {

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

using bytes::StoreLE16;
using bytes::StoreLE32;

// An Exif block that holds only the resolution: CMYK files carry no JFIF marker, whose density
// fields would otherwise give it.
int MakeResolutionExif(unsigned char* out, float dpiX, float dpiY) {
    std::memcpy(out, "Exif\0\0", 6);
    unsigned char* t = out + 6;
    std::memcpy(t, "II*\0", 4);
    StoreLE32(t + 4, 8);
    StoreLE16(t + 8, 3);  // entries
    unsigned char* e = t + 10;
    const unsigned rationals = 10 + 3 * 12 + 4;
    auto entry = [&](unsigned tag, unsigned type, unsigned value) {
        StoreLE16(e, tag);
        StoreLE16(e + 2, type);
        StoreLE32(e + 4, 1);
        StoreLE32(e + 8, value);
        e += 12;
    };
    entry(282, 5, rationals);      // XResolution
    entry(283, 5, rationals + 8);  // YResolution
    entry(296, 3, 2);              // ResolutionUnit: inch
    StoreLE32(e, 0);                   // no next directory
    unsigned char* r = t + rationals;
    StoreLE32(r, static_cast<unsigned>(dpiX * 100 + 0.5f));
    StoreLE32(r + 4, 100);
    StoreLE32(r + 8, static_cast<unsigned>(dpiY * 100 + 0.5f));
    StoreLE32(r + 12, 100);
    return 6 + static_cast<int>(rationals) + 16;
}

constexpr std::size_t kOutputChunk = 64 * 1024;

// The markers of the metadata to embed: the source's EXIF and XMP, and its ICC profile when
// its colour space is the one written.
struct JpegMarkers {
    std::vector<unsigned char> exif;  // "Exif\0\0" and the block
    std::vector<unsigned char> xmp;   // the XMP name space and the packet
    std::shared_ptr<const ImageMetadata> source;  // holds the profile
    const std::vector<std::uint8_t>* icc = nullptr;
};

JpegMarkers MarkersOf(const ImageMetadata* metadata, PixelLayout layout) {
    JpegMarkers m;
    if (!metadata) return m;
    if (!metadata->exif.empty() && metadata->exif.size() <= 65533 - 6) {
        m.exif.assign({'E', 'x', 'i', 'f', 0, 0});
        m.exif.insert(m.exif.end(), metadata->exif.begin(), metadata->exif.end());
    }
    static const char kXmpId[] = "http://ns.adobe.com/xap/1.0/";  // with its terminating zero
    if (!metadata->xmp.empty() && metadata->xmp.size() <= 65533 - sizeof kXmpId) {
        m.xmp.assign(kXmpId, kXmpId + sizeof kXmpId);
        m.xmp.insert(m.xmp.end(), metadata->xmp.begin(), metadata->xmp.end());
    }
    const IccSpace space = IccColorSpace(metadata->icc);
    const bool matches = (space == IccSpace::Grey && layout == PixelLayout::Gray) ||
                         (space == IccSpace::RGB && layout == PixelLayout::RGB) ||
                         (space == IccSpace::CMYK && layout == PixelLayout::CMYK);
    if (matches && !metadata->icc.empty() && metadata->icc.size() < (1u << 24)) m.icc = &metadata->icc;
    return m;
}

class JpegRowEncoder final : public RowEncoder {
public:
    JpegRowEncoder(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink)
        : sink_(sink), width_(shape.width), height_(shape.height) {
        layout_ = shape.model == ColorModel::Monochrome ? PixelLayout::Gray
                  : shape.model == ColorModel::CMYK     ? PixelLayout::CMYK
                                                        : PixelLayout::RGB;
        asIs_ = !shape.hasAlpha && ((layout_ == PixelLayout::Gray && shape.model == ColorModel::Monochrome) ||
                                    (layout_ == PixelLayout::RGB && shape.model == ColorModel::RGB));
        // The quality as a whole percentage, truncated (0.8 gives 80); libjpeg takes 1 to 100.
        quality_ = std::max(1, JpegQualityPercent(properties.lossyQuality.value_or(0.75f)));
        dpiX_ = properties.dpiWidth.value_or(properties.dpiHeight.value_or(0));
        dpiY_ = properties.dpiHeight.value_or(dpiX_);
        if (dpiX_ > 65535 || dpiY_ > 65535) dpiX_ = dpiY_ = 0;
        markers_ = MarkersOf(properties.metadata.get(), layout_);
        markers_.source = properties.metadata;
        row_.resize(static_cast<std::size_t>(width_) * BytesPerPixel(layout_));
        chunk_.resize(kOutputChunk);
    }

    ~JpegRowEncoder() override {
        if (created_) jpeg_destroy_compress(&cinfo_);
    }

    // Starts the file; holds only C state between setjmp and the library's longjmp.
    bool Start() {
        cinfo_.err = jpeg_std_error(&err_.pub);
        err_.pub.error_exit = JpegErrorExit;
        err_.message[0] = 0;
        if (setjmp(err_.jump)) return Failed();
        jpeg_create_compress(&cinfo_);
        created_ = true;
        cinfo_.client_data = this;
        dest_.init_destination = [](j_compress_ptr c) {
            auto* self = static_cast<JpegRowEncoder*>(c->client_data);
            self->dest_.next_output_byte = self->chunk_.data();
            self->dest_.free_in_buffer = self->chunk_.size();
        };
        dest_.empty_output_buffer = [](j_compress_ptr c) -> boolean {
            auto* self = static_cast<JpegRowEncoder*>(c->client_data);
            if (!self->sink_.Append(self->chunk_.data(), self->chunk_.size())) ERREXIT(c, JERR_FILE_WRITE);
            self->dest_.next_output_byte = self->chunk_.data();
            self->dest_.free_in_buffer = self->chunk_.size();
            return TRUE;
        };
        dest_.term_destination = [](j_compress_ptr c) {
            auto* self = static_cast<JpegRowEncoder*>(c->client_data);
            const std::size_t used = self->chunk_.size() - self->dest_.free_in_buffer;
            if (!self->sink_.Append(self->chunk_.data(), used)) ERREXIT(c, JERR_FILE_WRITE);
        };
        cinfo_.dest = &dest_;
        cinfo_.image_width = static_cast<JDIMENSION>(width_);
        cinfo_.image_height = static_cast<JDIMENSION>(height_);
        switch (layout_) {
            case PixelLayout::Gray:
                cinfo_.input_components = 1;
                cinfo_.in_color_space = JCS_GRAYSCALE;
                break;
            case PixelLayout::CMYK:
                cinfo_.input_components = 4;
                cinfo_.in_color_space = JCS_CMYK;
                break;
            default:
                cinfo_.input_components = 3;
                cinfo_.in_color_space = JCS_RGB;
                break;
        }
        jpeg_set_defaults(&cinfo_);
        jpeg_set_quality(&cinfo_, quality_, TRUE);
        if (dpiX_ > 0 && dpiY_ > 0) {
            cinfo_.density_unit = 1;
            cinfo_.X_density = static_cast<UINT16>(dpiX_ + 0.5f);
            cinfo_.Y_density = static_cast<UINT16>(dpiY_ + 0.5f);
        }
        jpeg_start_compress(&cinfo_, TRUE);
        if (!markers_.exif.empty()) {
            // The source's EXIF replaces the resolution-only block (its resolution entries
            // already say the written resolution).
            jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, markers_.exif.data(), static_cast<unsigned>(markers_.exif.size()));
        } else if (layout_ == PixelLayout::CMYK && dpiX_ > 0 && dpiY_ > 0) {
            unsigned char exif[96];
            const int length = MakeResolutionExif(exif, dpiX_, dpiY_);
            jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, exif, static_cast<unsigned>(length));
        }
        if (!markers_.xmp.empty())
            jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, markers_.xmp.data(), static_cast<unsigned>(markers_.xmp.size()));
        if (markers_.icc)
            jpeg_write_icc_profile(&cinfo_, markers_.icc->data(), static_cast<unsigned>(markers_.icc->size()));
        return true;
    }

    bool WriteRows(const Bitmap& band) override {
        if (failed_ || rows_ + band.height > height_) return Failed();
        if (setjmp(err_.jump)) return Failed();
        const int rowBytes = width_ * BytesPerPixel(layout_);
        for (int y = 0; y < band.height; ++y) {
            JSAMPROW row;
            if (asIs_) {
                row = const_cast<JSAMPROW>(band.row(y));
            } else {
                ConvertRow(band, band.row(y), width_, layout_, row_.data());
                if (layout_ == PixelLayout::CMYK)
                    for (int i = 0; i < rowBytes; ++i) row_[i] = static_cast<unsigned char>(255 - row_[i]);
                row = row_.data();
            }
            jpeg_write_scanlines(&cinfo_, &row, 1);
        }
        rows_ += band.height;
        return true;
    }

    bool Finish() override {
        if (failed_ || rows_ != height_) return Failed();
        if (setjmp(err_.jump)) return Failed();
        jpeg_finish_compress(&cinfo_);
        return true;
    }

private:
    bool Failed() {
        failed_ = true;
        if (message_.empty()) message_ = err_.message[0] ? err_.message : "libjpeg stopped";
        return false;
    }

    ByteSink& sink_;
    int width_, height_;
    PixelLayout layout_;
    bool asIs_ = false;
    int quality_ = 75;
    float dpiX_ = 0, dpiY_ = 0;
    JpegMarkers markers_;
    std::vector<unsigned char> row_;
    std::vector<std::uint8_t> chunk_;
    JpegErrorManager err_{};
    jpeg_compress_struct cinfo_{};
    jpeg_destination_mgr dest_{};
    bool created_ = false;
    bool failed_ = false;
    int rows_ = 0;
};

}  // namespace

namespace encoders {

std::unique_ptr<RowEncoder> OpenJPEGRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink) {
    if (shape.width < 1 || shape.height < 1 || shape.width > JPEG_MAX_DIMENSION || shape.height > JPEG_MAX_DIMENSION)
        return nullptr;
    auto encoder = std::make_unique<JpegRowEncoder>(shape, properties, sink);
    if (!encoder->Start()) return nullptr;
    return encoder;
}

bool EncodeJPEG(const Bitmap& image, const DestinationProperties& properties, std::vector<std::uint8_t>& out) {
    return EncodeInOneBand(OpenJPEGRows, image, properties, out) && !out.empty();
}

}  // namespace encoders
}  // namespace platform
