#include "engine/extraction/PDFColorSpaces.h"

#include <lcms2.h>
#include <qpdf/Buffer.hh>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/extraction/PDFFunction.h"

namespace extraction {
namespace {

using platform::ColorModel;

constexpr int kMaxDepth = 6;

std::vector<double> Numbers(QPDFObjectHandle array) {
    std::vector<double> numbers;
    if (!array.isArray()) return numbers;
    for (QPDFObjectHandle item : array.aitems())
        if (item.isNumber()) numbers.push_back(item.getNumericValue());
    return numbers;
}

bool AllFiniteNumbers(const std::vector<double>& v) {
    return std::all_of(v.begin(), v.end(), [](double x) { return std::isfinite(x); });
}

// `value` under the white point `white` adapted to D50 (Bradford). False when the white point
// gives no usable adaptation (a cone response near zero, values out of all proportion).
bool AdaptToD50(const cmsCIEXYZ& white, const cmsCIEXYZ& value, cmsCIEXYZ* out) {
    if (!cmsAdaptToIlluminant(out, &white, cmsD50_XYZ(), &value)) return false;
    for (double v : {out->X, out->Y, out->Z})
        if (!std::isfinite(v) || std::fabs(v) > 1000) return false;
    return true;
}

inline std::uint8_t Byte01(double v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<std::uint8_t>(std::lround(v * 255));
}

// ---- Colours of natural values: the device spaces and the lcms2 ones -------------------------

// Turns one colour of a space, given as the space's own values (0..1 for device and ICC
// components within their range, L* a* b* for Lab), into device samples.
class ValueColor {
public:
    virtual ~ValueColor() = default;
    virtual ColorModel model() const = 0;
    virtual int inputs() const = 0;
    virtual void Convert(const double* values, std::size_t pixels, std::uint8_t* out) = 0;
    // Converts 8-bit codes that span 0..1 in every component straight from the codes; false
    // when the space cannot (the caller then converts values).
    virtual bool ConvertCodes(const std::uint8_t* codes, std::size_t pixels, std::uint8_t* out) {
        (void)codes;
        (void)pixels;
        (void)out;
        return false;
    }
    // The values a component takes over its whole code range, by default.
    virtual std::pair<double, double> DefaultRange(int component) const {
        (void)component;
        return {0, 1};
    }
};

class DeviceValueColor : public ValueColor {
public:
    explicit DeviceValueColor(ColorModel m) : model_(m) {}
    ColorModel model() const override { return model_; }
    int inputs() const override { return platform::ComponentsOf(model_); }
    void Convert(const double* values, std::size_t pixels, std::uint8_t* out) override {
        const std::size_t n = pixels * static_cast<std::size_t>(inputs());
        for (std::size_t i = 0; i < n; ++i) out[i] = Byte01(values[i]);
    }

private:
    ColorModel model_;
};

struct ProfileCloser {
    void operator()(void* p) const { if (p) cmsCloseProfile(p); }
};
struct TransformDeleter {
    void operator()(void* t) const { if (t) cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// The grey the writers take: sRGB's tone curve under a D65 white.
Profile GreyTarget() {
    const double sRGB[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, sRGB);
    cmsCIExyY d65;
    cmsWhitePointFromTemp(&d65, 6504);
    Profile p(cmsCreateGrayProfile(&d65, curve));
    cmsFreeToneCurve(curve);
    return p;
}

// sRGB's primaries and white with a linear tone curve.
Profile LinearSrgb() {
    const cmsCIExyY d65{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.6400, 0.3300, 1.0}, {0.3000, 0.6000, 1.0}, {0.1500, 0.0600, 1.0}};
    // A two-point table rather than a gamma of 1, which lcms2 would evaluate with pow().
    const cmsUInt16Number ends[2] = {0, 65535};
    cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 2, ends);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile p(cmsCreateRGBProfile(&d65, &primaries, curves));
    cmsFreeToneCurve(curve);
    return p;
}

// 16-bit linear light to 8-bit sRGB codes.
const std::uint8_t* SrgbEncoding() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> t(65536);
        for (int i = 0; i < 65536; ++i) {
            const double v = i / 65535.0;
            const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(std::clamp(e, 0.0, 1.0) * 255));
        }
        return t;
    }();
    return table.data();
}

class LcmsValueColor : public ValueColor {
public:
    // `source` is the space's profile; its colours go to sRGB, grey ones to grey.
    static std::unique_ptr<LcmsValueColor> Create(Profile source, int inputs, std::vector<std::pair<double, double>> ranges,
                                                  bool lab) {
        if (!source) return nullptr;
        const cmsColorSpaceSignature signature = cmsGetColorSpace(source.get());
        cmsUInt32Number inFormat;
        if (lab && signature == cmsSigXYZData && inputs == 3)
            inFormat = TYPE_XYZ_DBL;
        else if (signature == cmsSigGrayData && inputs == 1)
            inFormat = TYPE_GRAY_DBL;
        else if (signature == cmsSigRgbData && inputs == 3)
            inFormat = TYPE_RGB_DBL;
        else if (signature == cmsSigCmykData && inputs == 4)
            inFormat = TYPE_CMYK_DBL;
        else
            return nullptr;
        const bool grey = inputs == 1;
        // XYZ goes to sRGB's linear light as floats (lcms2's float path keeps negative XYZ of
        // colours outside the gamut, and has no curve to evaluate per pixel); the light is
        // clipped per channel and the sRGB tone curve applied by a table.
        const bool linear = inFormat == TYPE_XYZ_DBL;
        Profile target(grey ? GreyTarget().release() : linear ? LinearSrgb().release() : cmsCreate_sRGBProfile());
        if (!target) return nullptr;
        cmsHTRANSFORM transform =
            cmsCreateTransform(source.get(), inFormat, target.get(), grey ? TYPE_GRAY_8 : linear ? TYPE_RGB_FLT : TYPE_RGB_8,
                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
        if (!transform) return nullptr;
        auto color = std::unique_ptr<LcmsValueColor>(new LcmsValueColor);
        color->transform_.reset(transform);
        // Codes that span 0..1 go through lcms2's own 8-bit path (CMYK codes there are ink
        // from 0 to 100 %, as in PDF).
        if (inFormat != TYPE_XYZ_DBL) {
            const cmsUInt32Number codeFormat = grey                     ? TYPE_GRAY_8
                                               : inFormat == TYPE_CMYK_DBL ? TYPE_CMYK_8
                                                                           : TYPE_RGB_8;
            color->codeTransform_.reset(cmsCreateTransform(source.get(), codeFormat, target.get(),
                                                           grey ? TYPE_GRAY_8 : TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                                           cmsFLAGS_NOCACHE));
        }
        color->inputs_ = inputs;
        color->grey_ = grey;
        color->cmyk_ = inFormat == TYPE_CMYK_DBL;
        color->ranges_ = std::move(ranges);
        return color;
    }
    ColorModel model() const override { return grey_ ? ColorModel::Monochrome : ColorModel::RGB; }
    int inputs() const override { return inputs_; }
    bool ConvertCodes(const std::uint8_t* codes, std::size_t pixels, std::uint8_t* out) override {
        if (!codeTransform_) return false;
        cmsDoTransform(codeTransform_.get(), codes, out, static_cast<cmsUInt32Number>(pixels));
        return true;
    }
    std::pair<double, double> DefaultRange(int component) const override { return ranges_[component]; }
    // Lab values are taken relative to `white` (the space's own white point): turned into XYZ
    // under it and adapted to D50, the white of lcms2's XYZ profile.
    // False when the white point admits no adaptation.
    bool SetLabWhite(const cmsCIEXYZ& white) {
        labWhite_ = white;
        relativeLab_ = true;
        // The adaptation is linear: its matrix from the images of the unit vectors, once.
        for (int column = 0; column < 3; ++column) {
            cmsCIEXYZ unit{column == 0 ? 1.0 : 0.0, column == 1 ? 1.0 : 0.0, column == 2 ? 1.0 : 0.0}, adapted;
            if (!AdaptToD50(white, unit, &adapted)) return false;
            toD50_[0][column] = adapted.X;
            toD50_[1][column] = adapted.Y;
            toD50_[2][column] = adapted.Z;
        }
        return true;
    }
    void Convert(const double* values, std::size_t pixels, std::uint8_t* out) override {
        // Values outside their ranges are clipped to them (a* and b* excepted: their Range
        // bounds only what samples encode, as other readers take it); lcms2 takes CMYK in percent.
        const std::size_t n = pixels * static_cast<std::size_t>(inputs_);
        scratch_.resize(n);
        const double scale = cmyk_ ? 100 : 1;
        const int clipped = relativeLab_ ? 1 : inputs_;
        for (std::size_t i = 0; i < n; i += static_cast<std::size_t>(inputs_))
            for (int c = 0; c < inputs_; ++c) {
                const auto& r = ranges_[static_cast<std::size_t>(c)];
                double v = std::isnan(values[i + c]) ? r.first : values[i + c];
                if (c < clipped) v = v < r.first ? r.first : v > r.second ? r.second : v;
                scratch_[i + c] = v * scale;
            }
        if (relativeLab_) {
            // L*a*b* under the space's white to XYZ, adapted to D50 (Bradford): a white point
            // that is sRGB's own then maps to sRGB without a shift. (lcms2's 16-bit path would
            // be faster, through a table that puts white a few levels off.)
            for (std::size_t i = 0; i < n; i += 3) {
                const cmsCIELab lab{scratch_[i], scratch_[i + 1], scratch_[i + 2]};
                cmsCIEXYZ xyz;
                cmsLab2XYZ(&labWhite_, &xyz, &lab);
                const double v[3] = {xyz.X, xyz.Y, xyz.Z};
                double a[3];
                for (int r = 0; r < 3; ++r) a[r] = toD50_[r][0] * v[0] + toD50_[r][1] * v[1] + toD50_[r][2] * v[2];
                scratch_[i] = a[0];
                scratch_[i + 1] = a[1];
                scratch_[i + 2] = a[2];
            }
            light_.resize(n);
            cmsDoTransform(transform_.get(), scratch_.data(), light_.data(), static_cast<cmsUInt32Number>(pixels));
            const std::uint8_t* encode = SrgbEncoding();
            for (std::size_t i = 0; i < n; ++i) {
                const float v = light_[i];
                out[i] = encode[!(v > 0) ? 0 : v >= 1 ? 65535 : static_cast<int>(v * 65535.0f + 0.5f)];
            }
            return;
        }
        cmsDoTransform(transform_.get(), scratch_.data(), out, static_cast<cmsUInt32Number>(pixels));
    }

private:
    LcmsValueColor() = default;
    std::unique_ptr<void, TransformDeleter> transform_;
    std::unique_ptr<void, TransformDeleter> codeTransform_;
    int inputs_ = 0;
    bool grey_ = false;
    bool cmyk_ = false;
    std::vector<std::pair<double, double>> ranges_;
    std::vector<double> scratch_;
    std::vector<float> light_;
    bool relativeLab_ = false;
    cmsCIEXYZ labWhite_{};
    double toD50_[3][3] = {};
};

cmsCIExyY WhitePoint(const std::vector<double>& xyz) {
    cmsCIEXYZ w{xyz[0], xyz[1], xyz[2]};
    cmsCIExyY out;
    cmsXYZ2xyY(&out, &w);
    return out;
}

// ---- Converters of image samples ------------------------------------------------------------

// Samples (8-bit codes, code c lying c/255 of the way through its Decode pair) of a space with
// values: mapped to the values, then converted.
class ValueConverter : public PixelConverter {
public:
    explicit ValueConverter(std::shared_ptr<ValueColor> color) : color_(std::move(color)) {}
    void Prepare(const std::vector<double>& decode) override {
        const int n = color_->inputs();
        pairs_.assign(static_cast<std::size_t>(n), {0, 1});
        const std::size_t given = decode.size() / 2;
        for (int c = 0; c < n; ++c)
            pairs_[c] = given > 0 ? std::pair<double, double>{decode[2 * (c % given)], decode[2 * (c % given) + 1]}
                                  : color_->DefaultRange(c);
        plainCodes_ = std::all_of(pairs_.begin(), pairs_.end(), [](const auto& p) { return p.first == 0 && p.second == 1; });
    }
    void Convert(const std::uint8_t* codes, std::size_t pixels, std::uint8_t* out) override {
        if (plainCodes_ && color_->ConvertCodes(codes, pixels, out)) return;
        const int n = color_->inputs();
        values_.resize(pixels * n);
        for (std::size_t i = 0; i < pixels * n; ++i) {
            const auto& p = pairs_[i % n];
            values_[i] = p.first + codes[i] * (p.second - p.first) / 255.0;
        }
        color_->Convert(values_.data(), pixels, out);
    }

private:
    std::shared_ptr<ValueColor> color_;
    std::vector<std::pair<double, double>> pairs_;
    std::vector<double> values_;
    bool plainCodes_ = false;
};

// Tints through a tint transform into the alternate space. One input: a table of the 256 codes,
// made once per image; more: a cache of the colours met.
class TintConverter : public PixelConverter {
public:
    TintConverter(std::shared_ptr<PDFFunction> function, std::shared_ptr<ValueColor> alternate)
        : function_(std::move(function)), alternate_(std::move(alternate)) {}
    void Prepare(const std::vector<double>& decode) override {
        const int m = function_->inputCount();
        pairs_.assign(static_cast<std::size_t>(m), {0, 1});
        const std::size_t given = decode.size() / 2;
        for (int c = 0; c < m && given > 0; ++c) pairs_[c] = {decode[2 * (c % given)], decode[2 * (c % given) + 1]};
        table_.clear();
        cache_.clear();
        if (m == 1) {
            const int k = platform::ComponentsOf(alternate_->model());
            table_.resize(256 * static_cast<std::size_t>(k));
            for (int code = 0; code < 256; ++code) {
                const std::uint8_t c = static_cast<std::uint8_t>(code);
                Colour(&c, table_.data() + code * k);
            }
        }
    }
    void Convert(const std::uint8_t* codes, std::size_t pixels, std::uint8_t* out) override {
        const int m = function_->inputCount();
        const int k = platform::ComponentsOf(alternate_->model());
        for (std::size_t i = 0; i < pixels; ++i, codes += m, out += k) {
            if (m == 1) {
                std::memcpy(out, table_.data() + *codes * k, k);
                continue;
            }
            if (m > 8) {
                Colour(codes, out);
                continue;
            }
            std::uint64_t key = 0;
            for (int c = 0; c < m; ++c) key = (key << 8) | codes[c];
            auto found = cache_.find(key);
            if (found == cache_.end()) {
                std::uint32_t packed = 0;
                Colour(codes, reinterpret_cast<std::uint8_t*>(&packed));
                if (cache_.size() < (1u << 20)) found = cache_.emplace(key, packed).first;
                else {
                    std::memcpy(out, &packed, k);
                    continue;
                }
            }
            std::memcpy(out, &found->second, k);
        }
    }

private:
    void Colour(const std::uint8_t* codes, std::uint8_t* out) {
        const int m = function_->inputCount();
        double inputs[32];
        double outputs[32];
        for (int c = 0; c < m; ++c) inputs[c] = pairs_[c].first + codes[c] * (pairs_[c].second - pairs_[c].first) / 255.0;
        function_->Evaluate(inputs, outputs);
        alternate_->Convert(outputs, 1, out);
    }

    std::shared_ptr<PDFFunction> function_;
    std::shared_ptr<ValueColor> alternate_;
    std::vector<std::pair<double, double>> pairs_;
    std::vector<std::uint8_t> table_;
    std::unordered_map<std::uint64_t, std::uint32_t> cache_;
};

// ---- Building spaces ------------------------------------------------------------------------

struct Built {
    ResolvedSpace resolved;
    std::shared_ptr<ValueColor> values;  // the space's colours from values, for use as an alternate
};

std::optional<Built> Build(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces, int depth);

Built DeviceSpace(ColorModel model, std::int32_t family = kFamilyNone) {
    Built b;
    b.resolved.space = SampleSpace::Device(model);
    b.resolved.family = family;
    b.values = std::make_shared<DeviceValueColor>(model);
    return b;
}

Built ValueSpace(std::shared_ptr<ValueColor> color, std::int32_t family) {
    Built b;
    b.resolved.family = family;
    b.resolved.space = SampleSpace::Device(color->model());
    b.resolved.space.own = color->inputs();
    b.resolved.space.converter = std::make_shared<ValueConverter>(color);
    b.values = std::move(color);
    return b;
}

std::optional<Built> BuildICC(QPDFObjectHandle array, QPDFObjectHandle pageColorSpaces, int depth) {
    if (array.getArrayNItems() < 2 || !array.getArrayItem(1).isStream()) return std::nullopt;
    QPDFObjectHandle stream = array.getArrayItem(1);
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle nObject = dict.getKey("/N");
    const int n = nObject.isInteger() ? static_cast<int>(nObject.getIntValue()) : 0;
    std::vector<std::pair<double, double>> ranges;
    const std::vector<double> range = Numbers(dict.getKey("/Range"));
    for (int c = 0; c < n && c < 4; ++c)
        ranges.push_back(range.size() >= 2 * static_cast<std::size_t>(c) + 2 ? std::pair{range[2 * c], range[2 * c + 1]}
                                                                             : std::pair{0.0, 1.0});
    if (n == 1 || n == 3 || n == 4) {
        std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
        Profile profile(cmsOpenProfileFromMem(data->getBuffer(), static_cast<cmsUInt32Number>(data->getSize())));
        if (auto color = LcmsValueColor::Create(std::move(profile), n, ranges, false))
            return ValueSpace(std::shared_ptr<ValueColor>(std::move(color)), kFamilyICCBased);
    }
    // A profile that cannot be used: the alternate, else the device space of its count.
    QPDFObjectHandle alternate = dict.getKey("/Alternate");
    if (!alternate.isNull())
        if (std::optional<Built> b = Build(alternate, pageColorSpaces, depth + 1);
            b && b->resolved.space.components() == n) {
            b->resolved.family = kFamilyICCBased;
            return b;
        }
    if (n == 1) return DeviceSpace(ColorModel::Monochrome, kFamilyICCBased);
    if (n == 3) return DeviceSpace(ColorModel::RGB, kFamilyICCBased);
    if (n == 4) return DeviceSpace(ColorModel::CMYK, kFamilyICCBased);
    return std::nullopt;
}

std::optional<Built> BuildCalibrated(const std::string& family, QPDFObjectHandle array) {
    QPDFObjectHandle dict = array.getArrayNItems() >= 2 ? array.getArrayItem(1) : QPDFObjectHandle::newNull();
    const std::vector<double> white = dict.isDictionary() ? Numbers(dict.getKey("/WhitePoint")) : std::vector<double>{};
    const bool usable = white.size() >= 3 && white[1] > 0 && white[0] >= 0 && white[2] >= 0;
    if (family == "/CalGray") {
        if (!usable) return DeviceSpace(ColorModel::Monochrome, kFamilyCalGray);
        QPDFObjectHandle g = dict.getKey("/Gamma");
        const double gamma = g.isNumber() && g.getNumericValue() > 0 ? g.getNumericValue() : 1;
        cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
        const cmsCIExyY wp = WhitePoint(white);
        Profile profile(cmsCreateGrayProfile(&wp, curve));
        cmsFreeToneCurve(curve);
        if (auto color = LcmsValueColor::Create(std::move(profile), 1, {{0, 1}}, false))
            return ValueSpace(std::shared_ptr<ValueColor>(std::move(color)), kFamilyCalGray);
        return DeviceSpace(ColorModel::Monochrome, kFamilyCalGray);
    }
    if (family == "/CalRGB") {
        if (!usable) return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
        std::vector<double> gamma = Numbers(dict.getKey("/Gamma"));
        std::vector<double> matrix = Numbers(dict.getKey("/Matrix"));
        if (gamma.size() < 3) gamma = {1, 1, 1};
        if (matrix.size() < 9) matrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        if (!AllFiniteNumbers(gamma) || !AllFiniteNumbers(matrix) || !AllFiniteNumbers(white))
            return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
        // The Matrix's columns are the XYZ of the three components at full strength, as they
        // stand (they need not add up to the white point): adapted from the space's white to
        // D50 they are the colorants of a matrix-shaper profile.
        const cmsCIEXYZ whiteXYZ{white[0], white[1], white[2]};
        cmsCIEXYZ colorants[3];
        for (int i = 0; i < 3; ++i) {
            const cmsCIEXYZ column{matrix[3 * i], matrix[3 * i + 1], matrix[3 * i + 2]};
            if (!AdaptToD50(whiteXYZ, column, &colorants[i])) return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
        }
        Profile profile(cmsCreateProfilePlaceholder(nullptr));
        if (!profile) return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
        cmsSetProfileVersion(profile.get(), 4.3);
        cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
        cmsSetColorSpace(profile.get(), cmsSigRgbData);
        cmsSetPCS(profile.get(), cmsSigXYZData);
        bool written = cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, cmsD50_XYZ()) &&
                       cmsWriteTag(profile.get(), cmsSigRedColorantTag, &colorants[0]) &&
                       cmsWriteTag(profile.get(), cmsSigGreenColorantTag, &colorants[1]) &&
                       cmsWriteTag(profile.get(), cmsSigBlueColorantTag, &colorants[2]);
        const cmsTagSignature trcTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
        for (int i = 0; i < 3 && written; ++i) {
            cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma[i] > 0 ? gamma[i] : 1);
            written = curve && cmsWriteTag(profile.get(), trcTags[i], curve);
            if (curve) cmsFreeToneCurve(curve);
        }
        if (!written) return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
        if (auto color = LcmsValueColor::Create(std::move(profile), 3, {{0, 1}, {0, 1}, {0, 1}}, false))
            return ValueSpace(std::shared_ptr<ValueColor>(std::move(color)), kFamilyCalRGB);
        return DeviceSpace(ColorModel::RGB, kFamilyCalRGB);
    }
    // Lab
    if (!usable) return DeviceSpace(ColorModel::RGB, kFamilyLab);
    std::vector<double> range = Numbers(dict.getKey("/Range"));
    if (range.size() < 4) range = {-100, 100, -100, 100};
    Profile profile(cmsCreateXYZProfile());
    if (auto color = LcmsValueColor::Create(std::move(profile), 3, {{0, 100}, {range[0], range[1]}, {range[2], range[3]}}, true))
        if (color->SetLabWhite(cmsCIEXYZ{white[0], white[1], white[2]}))
            return ValueSpace(std::shared_ptr<ValueColor>(std::move(color)), kFamilyLab);
    return DeviceSpace(ColorModel::RGB, kFamilyLab);
}

std::optional<Built> BuildTint(const std::string& family, QPDFObjectHandle array, QPDFObjectHandle pageColorSpaces,
                               int depth) {
    if (array.getArrayNItems() < 4) return std::nullopt;
    int inputs = 1;
    if (family == "/DeviceN") {
        QPDFObjectHandle names = array.getArrayItem(1);
        inputs = names.isArray() ? names.getArrayNItems() : 1;
        if (inputs < 1 || inputs > 32) return std::nullopt;
    }
    std::optional<Built> alternate = Build(array.getArrayItem(2), pageColorSpaces, depth + 1);
    if (!alternate || alternate->resolved.space.indexed || !alternate->values) return std::nullopt;
    auto function = std::make_shared<PDFFunction>();
    if (!function->Load(array.getArrayItem(3), inputs)) return std::nullopt;
    // The outputs must be the alternate's colour: a count that differs is refused.
    if (function->outputCount() != alternate->values->inputs()) return std::nullopt;
    Built b;
    b.resolved.family = family == "/DeviceN" ? kFamilyDeviceN : kFamilySeparation;
    b.resolved.space = SampleSpace::Device(alternate->values->model());
    b.resolved.space.own = inputs;
    b.resolved.space.converter = std::make_shared<TintConverter>(function, alternate->values);
    return b;
}

std::optional<Built> BuildIndexed(QPDFObjectHandle array, QPDFObjectHandle pageColorSpaces, int depth) {
    if (array.getArrayNItems() < 4) return std::nullopt;
    std::optional<Built> base = Build(array.getArrayItem(1), pageColorSpaces, depth + 1);
    if (!base || base->resolved.space.indexed) return std::nullopt;
    QPDFObjectHandle hivalObject = array.getArrayItem(2);
    if (!hivalObject.isNumber()) return std::nullopt;
    const double hival = hivalObject.getNumericValue();
    if (!(hival >= 0) || hival > 255) return std::nullopt;
    const int entries = static_cast<int>(hival) + 1;
    QPDFObjectHandle table = array.getArrayItem(3);
    std::string bytes;
    if (table.isString()) {
        bytes = table.getStringValue();
    } else if (table.isStream()) {
        std::shared_ptr<Buffer> b = table.getStreamData(qpdf_dl_generalized);
        bytes.assign(reinterpret_cast<const char*>(b->getBuffer()), b->getSize());
    } else {
        return std::nullopt;
    }
    // The table holds base-space samples; a short one reads as zeros beyond its end.
    const SampleSpace& baseSpace = base->resolved.space;
    const int own = baseSpace.components();
    std::vector<std::uint8_t> codes(static_cast<std::size_t>(entries) * own, 0);
    std::memcpy(codes.data(), bytes.data(), std::min(bytes.size(), codes.size()));
    Built b;
    b.resolved.family = kFamilyIndexed;
    b.resolved.space = SampleSpace::Device(baseSpace.model);
    b.resolved.space.indexed = true;
    b.resolved.space.hival = entries - 1;
    const int out = platform::ComponentsOf(baseSpace.model);
    if (baseSpace.converter) {
        b.resolved.space.lookup.resize(static_cast<std::size_t>(entries) * out);
        baseSpace.converter->Prepare({});
        baseSpace.converter->Convert(codes.data(), static_cast<std::size_t>(entries), b.resolved.space.lookup.data());
    } else {
        b.resolved.space.lookup = std::move(codes);
    }
    return b;
}

std::optional<Built> Build(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces, int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    if (object.isName()) {
        const std::string name = object.getName();
        if (std::optional<SampleSpace> device = CreateDeviceColorSpaceForName(name)) return DeviceSpace(device->model);
        if (pageColorSpaces.isDictionary() && pageColorSpaces.hasKey(name))
            return Build(pageColorSpaces.getKey(name), pageColorSpaces, depth + 1);
        return std::nullopt;
    }
    if (!object.isArray() || object.getArrayNItems() < 1) return std::nullopt;
    QPDFObjectHandle first = object.getArrayItem(0);
    if (!first.isName()) return std::nullopt;
    const std::string family = first.getName();
    if (std::optional<SampleSpace> device = CreateDeviceColorSpaceForName(family)) return DeviceSpace(device->model);
    if (family == "/Indexed" || family == "/I") return BuildIndexed(object, pageColorSpaces, depth);
    if (family == "/ICCBased") return BuildICC(object, pageColorSpaces, depth);
    if (family == "/CalGray" || family == "/CalRGB" || family == "/Lab") return BuildCalibrated(family, object);
    if (family == "/Separation" || family == "/DeviceN") return BuildTint(family, object, pageColorSpaces, depth);
    return std::nullopt;
}

// A space from a name or an array, with the family it reports.
std::optional<ResolvedSpace> Resolve(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces) {
    std::optional<Built> b = Build(object, pageColorSpaces, 0);
    if (!b) return std::nullopt;
    return b->resolved;
}

// The family code a colour-space array's first element names; none for device names, Pattern
// and unknown names.
std::int32_t FamilyOfName(const std::string& name) {
    if (name == "/ICCBased") return kFamilyICCBased;
    if (name == "/Indexed" || name == "/I") return kFamilyIndexed;
    if (name == "/CalRGB") return kFamilyCalRGB;
    if (name == "/CalGray") return kFamilyCalGray;
    if (name == "/Lab") return kFamilyLab;
    if (name == "/Separation") return kFamilySeparation;
    if (name == "/DeviceN") return kFamilyDeviceN;
    return kFamilyNone;
}

// The count a space reports: its samples' components, the alternate's for tints.
std::uint64_t CountOf(const Built& b) {
    const bool tints = b.resolved.family == kFamilySeparation || b.resolved.family == kFamilyDeviceN;
    return static_cast<std::uint64_t>(tints ? platform::ComponentsOf(b.resolved.space.model) : b.resolved.space.components());
}

std::optional<SampleBytes> ConvertTints(const char* familyName, QPDFObjectHandle array, std::span<const std::uint8_t> tints,
                                        QPDFObjectHandle pageColorSpaces, const std::vector<double>& decode) {
    try {
        if (!array.isArray() || array.getArrayNItems() < 1 || !array.getArrayItem(0).isName() ||
            array.getArrayItem(0).getName() != familyName)
            return std::nullopt;
        std::optional<Built> b = Build(array, pageColorSpaces, 0);
        if (!b || !b->resolved.space.converter || b->resolved.space.own < 1) return std::nullopt;
        const SampleSpace& space = b->resolved.space;
        const std::size_t pixels = tints.size() / static_cast<std::size_t>(space.own);
        const std::size_t components = static_cast<std::size_t>(platform::ComponentsOf(space.model));
        if (pixels > platform::kMaxBitmapBytes / components) return std::nullopt;
        SampleBytes out;
        out.size = pixels * components;
        out.memory.reset(platform::AllocateLarge(out.size), std::free);
        if (!out.memory) return std::nullopt;
        space.converter->Prepare(decode);
        if (pixels > 0) space.converter->Convert(tints.data(), pixels, out.data());
        return out;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<SampleSpace> CreateDeviceColorSpaceForName(const std::string& name) {
    const std::string bare = !name.empty() && name[0] == '/' ? name.substr(1) : name;
    if (bare == "DeviceGray" || bare == "G") return SampleSpace::Device(ColorModel::Monochrome);
    if (bare == "DeviceRGB" || bare == "RGB") return SampleSpace::Device(ColorModel::RGB);
    if (bare == "DeviceCMYK" || bare == "CMYK") return SampleSpace::Device(ColorModel::CMYK);
    return std::nullopt;
}

std::optional<SampleSpace> CreateDeviceColorSpaceAndCount(const std::string& name, std::uint64_t* count) {
    std::optional<SampleSpace> space = CreateDeviceColorSpaceForName(name);
    if (space) *count = static_cast<std::uint64_t>(platform::ComponentsOf(space->model));
    return space;
}

std::optional<SampleSpace> CreateDeviceColorSpaceForCode(std::int32_t family) {
    switch (family) {
        case kFamilyDeviceGray: return SampleSpace::Device(ColorModel::Monochrome);
        case kFamilyDeviceRGB: return SampleSpace::Device(ColorModel::RGB);
        case kFamilyDeviceCMYK: return SampleSpace::Device(ColorModel::CMYK);
        default: return std::nullopt;
    }
}

std::optional<SampleSpace> CreateColorSpaceWithICCData(const std::vector<std::uint8_t>& data) {
    if (data.empty()) return std::nullopt;
    Profile profile(cmsOpenProfileFromMem(data.data(), static_cast<cmsUInt32Number>(data.size())));
    if (!profile) return std::nullopt;
    const int components = static_cast<int>(cmsChannelsOf(cmsGetColorSpace(profile.get())));
    if (components != 1 && components != 3 && components != 4) return std::nullopt;
    std::vector<std::pair<double, double>> ranges(static_cast<std::size_t>(components), {0.0, 1.0});
    auto color = LcmsValueColor::Create(std::move(profile), components, ranges, false);
    if (!color) return std::nullopt;
    return ValueSpace(std::shared_ptr<ValueColor>(std::move(color)), kFamilyICCBased).resolved.space;
}

std::optional<ResolvedSpace> CreatePatternImageSpace(QPDFObjectHandle object, QPDFObjectHandle pageColorSpaces) {
    try {
        if (object.isName() && object.getName() != "/Pattern" && pageColorSpaces.isDictionary() &&
            pageColorSpaces.hasKey(object.getName()))
            object = pageColorSpaces.getKey(object.getName());
        if (object.isName() && object.getName() == "/Pattern")
            return ResolvedSpace{SampleSpace::Device(ColorModel::Monochrome), kFamilyNone};
        if (!object.isArray() || object.getArrayNItems() < 1 || !object.getArrayItem(0).isName() ||
            object.getArrayItem(0).getName() != "/Pattern")
            return std::nullopt;
        if (object.getArrayNItems() >= 2) {
            QPDFObjectHandle base = object.getArrayItem(1);
            // A base that is itself a Pattern space is no base.
            if (!(base.isName() && base.getName() == "/Pattern") &&
                !(base.isArray() && base.getArrayNItems() >= 1 && base.getArrayItem(0).isName() &&
                  base.getArrayItem(0).getName() == "/Pattern"))
                if (std::optional<ResolvedSpace> space = Resolve(base, pageColorSpaces)) return space;
        }
        return ResolvedSpace{SampleSpace::Device(ColorModel::Monochrome), kFamilyNone};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<SampleSpace> CreateColorSpaceFromArray(QPDFObjectHandle pageColorSpaces, QPDFObjectHandle array,
                                                     std::int32_t* family, std::uint64_t* count) {
    try {
        if (!array.isArray() || array.getArrayNItems() < 1 || !array.getArrayItem(0).isName()) return std::nullopt;
        const std::int32_t code = FamilyOfName(array.getArrayItem(0).getName());
        std::optional<Built> b = Build(array, pageColorSpaces, 0);
        if (code != kFamilyNone) {
            *family = code;
            *count = b ? CountOf(*b) : 0;
        } else if (b) {
            *count = CountOf(*b);
        }
        if (!b) return std::nullopt;
        return b->resolved.space;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<SampleBytes> ConvertSeparationSamples(QPDFObjectHandle array, std::span<const std::uint8_t> tints,
                                                    QPDFObjectHandle pageColorSpaces, const std::vector<double>& decode) {
    return ConvertTints("/Separation", array, tints, pageColorSpaces, decode);
}

std::optional<SampleBytes> ConvertDeviceNSamples(QPDFObjectHandle array, std::span<const std::uint8_t> tints,
                                                 QPDFObjectHandle pageColorSpaces, const std::vector<double>& decode) {
    return ConvertTints("/DeviceN", array, tints, pageColorSpaces, decode);
}

}  // namespace extraction
