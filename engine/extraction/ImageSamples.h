#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/Bitmap.h"

// The sample side of image extraction: PDF image samples of 1 to 16 bits in a device or an
// Indexed colour space turned into an 8-bit bitmap, with Decode arrays, colour-key masks and
// mask images. Nothing here knows the PDF objects; ImageStreamDecoding reads them.
namespace extraction {

// Converts the samples of a space that is not a device space into device samples. The samples
// arrive as 8-bit codes, code c lying c/255 of the way through its component's Decode pair.
class PixelConverter {
public:
    virtual ~PixelConverter() = default;
    // The image's Decode array (empty for the space's default), before the first Convert.
    virtual void Prepare(const std::vector<double>& decode) = 0;
    virtual void Convert(const std::uint8_t* codes, std::size_t pixels, std::uint8_t* out) = 0;
};

// The colour space of an image's samples as far as the samples go: a device space, an Indexed
// space whose colour table holds device colours (padded to hival + 1 entries), or a space whose
// samples a converter turns into device ones.
struct SampleSpace {
    platform::ColorModel model = platform::ColorModel::Monochrome;  // the device space of the colours
    bool indexed = false;
    int hival = 0;
    std::vector<std::uint8_t> lookup;  // (hival + 1) x ComponentsOf(model) bytes
    int own = 0;                       // with a converter: components of the image's own space
    std::shared_ptr<PixelConverter> converter;

    static SampleSpace Device(platform::ColorModel m) {
        SampleSpace s;
        s.model = m;
        return s;
    }
    // Samples per pixel in the image's own space.
    int components() const { return indexed ? 1 : converter ? own : platform::ComponentsOf(model); }
};

// Bytes in one row of `width` pixels of `components` samples of `bits` each, rows padded to a
// byte; nothing when the bit depth is not 1, 2, 4, 8 or 16, the width is not positive or the
// row would pass the bitmap cap.
std::optional<std::size_t> SampleRowBytes(std::int64_t width, int components, std::int64_t bits);

// The image's samples (`rowBytes` a row, rows top to bottom; `size` may be short, the missing
// bytes count as zero) as an 8-bit bitmap of the space's device model: Decode applied (pairs
// taken in turn per component; an unpaired last value is ignored), Indexed samples looked up
// (index = round(Dmin + s * (Dmax - Dmin) / (2^bits - 1)), clamped to 0..hival), converted
// spaces through their converter, 16-bit samples by their high byte when no Decode array is
// given. An empty bitmap when the sizes are not sane.
platform::Bitmap ConvertSamples(const std::uint8_t* data, std::size_t size, int width, int height, int bits,
                                const SampleSpace& space, const std::vector<double>& decode);

// The samples of `components` a pixel as 8-bit codes, pixel-interleaved, rows top to bottom
// without padding: code c lying c/255 of the way through the sample's range (16-bit samples by
// their high byte); missing data counts as zero. Nothing when the sizes are not sane.
std::optional<std::vector<std::uint8_t>> SampleCodes(const std::uint8_t* data, std::size_t size, int width, int height,
                                                     int bits, int components);

// The opacity of a colour-key mask: 0 where every raw sample of the pixel lies within its
// [min, max] pair of `ranges`, 255 elsewhere. Nothing when `ranges` holds fewer than two values
// per component of the image's own space.
std::optional<std::vector<std::uint8_t>> ColorKeyOpacity(const std::uint8_t* data, std::size_t size, int width,
                                                         int height, int bits, int components,
                                                         const std::vector<double>& ranges);

// The opacity an 8-bit single-channel mask image gives a `width` x `height` image, the mask
// scaled to it by nearest sample; `invert` for stencil masks, whose set samples hide.
std::vector<std::uint8_t> MaskOpacity(const platform::Bitmap& mask, int width, int height, bool invert);

// The colour bitmap with the opacity attached: a new bitmap with alpha, colours premultiplied.
platform::Bitmap AttachOpacity(const platform::Bitmap& colour, const std::vector<std::uint8_t>& opacity);

}  // namespace extraction
