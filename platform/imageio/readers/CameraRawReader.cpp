// Camera raw files (DNG and the raw formats of common cameras) developed by LibRaw: white balance
// as shot, sRGB primaries and transfer curve, no automatic brightening, turned as the camera
// says, 8 bits a sample.
#include <libraw/libraw.h>

#include <cstring>

#include "platform/imageio/readers/Readers.h"

namespace platform::readers {
namespace {

void Configure(LibRaw& raw) {
    libraw_output_params_t& p = raw.imgdata.params;
    p.use_camera_wb = 1;
    p.no_auto_bright = 1;
    p.output_color = 1;  // sRGB
    p.output_bps = 8;
    p.gamm[0] = 1 / 2.4;
    p.gamm[1] = 12.92;
}

class CameraRawSource : public ImageSource {
public:
    explicit CameraRawSource(Bytes bytes) : ImageSource("public.camera-raw-image"), bytes_(std::move(bytes)) {}
    std::size_t count() const override { return 1; }
    bool Read(std::size_t index, ImageRepresentation& out) override {
        out = {};
        if (index != 0) return false;
        auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
        Configure(*raw);
        if (raw->open_buffer(const_cast<std::uint8_t*>(bytes_->data()), bytes_->size()) != LIBRAW_SUCCESS) return false;
        if (!FitsBitmapCap(raw->imgdata.sizes.width, raw->imgdata.sizes.height, 8)) return false;
        if (raw->unpack() != LIBRAW_SUCCESS || raw->dcraw_process() != LIBRAW_SUCCESS) return false;
        int error = 0;
        libraw_processed_image_t* image = raw->dcraw_make_mem_image(&error);
        if (!image) return false;
        std::shared_ptr<libraw_processed_image_t> owner(image, [](libraw_processed_image_t* p) {
            LibRaw::dcraw_clear_mem(p);
        });
        if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 3 && image->colors != 1))
            return false;
        Bitmap& b = out.bitmap;
        b.width = image->width;
        b.height = image->height;
        b.model = image->colors == 1 ? ColorModel::Monochrome : ColorModel::RGB;
        b.components = image->colors;
        b.stride = static_cast<std::ptrdiff_t>(image->width) * image->colors;
        b.data = image->data;
        b.owner = owner;
        out.colorKind = image->colors == 1 ? SourceColorKind::Grey : SourceColorKind::RGB;
        int bits = 8;
        const unsigned maximum = raw->imgdata.rawdata.color.maximum;
        if (maximum > 0) {
            bits = 0;
            while (bits < 32 && (std::uint64_t{1} << bits) <= maximum) ++bits;
        }
        out.bitsPerSample = bits;
        out.metadata = NoMetadata();
        return true;
    }

private:
    Bytes bytes_;
};

}  // namespace

std::unique_ptr<ImageSource> OpenCameraRaw(Bytes bytes) {
    LibRaw raw(LIBRAW_OPTIONS_NONE);
    if (raw.open_buffer(const_cast<std::uint8_t*>(bytes->data()), bytes->size()) != LIBRAW_SUCCESS) {
        // A TIFF file that only its name called raw is still a TIFF.
        const std::uint8_t* d = bytes->data();
        if (bytes->size() >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0))
            return OpenTiff(std::move(bytes));
        return nullptr;
    }
    if (!FitsBitmapCap(raw.imgdata.sizes.width, raw.imgdata.sizes.height, 1)) return nullptr;
    return std::make_unique<CameraRawSource>(std::move(bytes));
}

}  // namespace platform::readers
