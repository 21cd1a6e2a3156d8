#include "SettingsRules.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace settings {

namespace {

// The facts of a menu type, or those of an unknown type (nothing usable, RGB only).
const OutputTypeFacts& RulesFor(std::int64_t type) {
    static constexpr OutputTypeFacts kUnknown{};
    const OutputTypeFacts* row = MenuOutputType(type);
    return row ? *row : kUnknown;
}

// The number text at the start of `text`: white space skipped, an optional sign, digits and, for
// floating numbers, a fraction and an exponent. Empty when no digit is found.
struct NumberText {
    std::string chars;     // sign (only "-"), digits, "." and exponent, ready for from_chars
    int integerDigits = 0; // significant digits before the point
    long exponent = 0;     // the exponent written after "e"
};

std::optional<NumberText> ScanNumber(QStringView text, bool floating) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace()) ++i;
    NumberText number;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-') number.chars += '-';
        ++i;
    }
    bool anyDigit = false;
    bool leading = true;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        if (text[i] != u'0') leading = false;
        if (!leading) ++number.integerDigits;
        number.chars += static_cast<char>(text[i].unicode());
        anyDigit = true;
        ++i;
    }
    if (floating && i < n && text[i] == u'.') {
        std::string fraction;
        qsizetype j = i + 1;
        while (j < n && text[j] >= u'0' && text[j] <= u'9') fraction += static_cast<char>(text[j++].unicode());
        if (anyDigit || !fraction.empty()) {
            number.chars += '.';
            number.chars += fraction;
            anyDigit = true;
            i = j;
        }
    }
    if (!anyDigit) return std::nullopt;
    if (floating && i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            if (text[j] == u'-') exponent += '-';
            ++j;
        }
        const qsizetype digitsStart = j;
        while (j < n && text[j] >= u'0' && text[j] <= u'9') exponent += static_cast<char>(text[j++].unicode());
        if (j > digitsStart) {
            number.chars += exponent;
            const char* first = exponent.data() + 1;
            long value = 0;
            const auto [end, error] = std::from_chars(first, exponent.data() + exponent.size(), value);
            (void)end;
            number.exponent = error == std::errc() ? value
                                                   : (exponent[1] == '-' ? std::numeric_limits<long>::min() / 2
                                                                         : std::numeric_limits<long>::max() / 2);
        }
    }
    return number;
}

}  // namespace

bool IsOutputTypeCode(std::int64_t type) { return MenuOutputType(type) != nullptr; }

bool ResolutionEnabledForType(std::int64_t type) { return RulesFor(type).resolutionEditable; }

bool ConversionUsesResolutionForType(std::int64_t type) { return RulesFor(type).recordCarriesResolution; }

bool QualityEnabledForType(std::int64_t type) { return RulesFor(type).lossy; }

ColorModels EnabledColorModelsForType(std::int64_t type) { return RulesFor(type).colorModels; }

int ColorModelAfterTypeChange(std::int64_t type, int selected) {
    const ColorModels offered = EnabledColorModelsForType(type);
    if ((selected == kColorCMYK && !offered.cmyk) || (selected == kColorGray && !offered.gray)) return kColorRGB;
    return selected;
}

int QualityPercent(double quality) {
    if (!(quality >= 0)) return 0;
    if (quality > 1) quality = 1;
    return static_cast<int>(quality * 100);
}

QString QualityLabelText(const char* format, double quality) {
    return QString::asprintf(format, QualityPercent(quality));
}

std::optional<double> LengthToPixels(int unit, double length, double resolution) {
    switch (unit) {
    case kSizePixels: return length;
    case kSizeInches: return length * resolution;
    case kSizeCentimetres: return length / 2.54 * resolution;
    case kSizeMillimetres: return length / 25.4 * resolution;
    case kSizePoints: return length * (resolution / 72);
    default: return std::nullopt;
    }
}

std::optional<double> PixelsToLength(int unit, double pixels, double resolution) {
    switch (unit) {
    case kSizePixels: return pixels;
    case kSizeInches: return pixels / resolution;
    case kSizeCentimetres: return pixels / resolution * 2.54;
    case kSizeMillimetres: return pixels / resolution * 25.4;
    case kSizePoints: return pixels * 72 / resolution;
    default: return std::nullopt;
    }
}

std::optional<QString> GetStringValueFromNumberForType(int unit, double value) {
    switch (unit) {
    case kSizePixels: return QString::asprintf("%.0f", value);
    case kSizePercent:
    case kSizeInches:
    case kSizeCentimetres:
    case kSizeMillimetres:
    case kSizePoints: return QString::asprintf("%.2f", value);
    default: return std::nullopt;
    }
}

std::optional<SizeTexts> ConvertSizeTexts(int fromUnit, int toUnit, double resolution, float width, float height) {
    if (!LengthToPixels(fromUnit, 0, 1) || !PixelsToLength(toUnit, 0, 1) || !GetStringValueFromNumberForType(toUnit, 0))
        return std::nullopt;
    const double lengths[2] = {width, height};
    const bool needsResolution = fromUnit != kSizePixels || toUnit != kSizePixels;
    SizeTexts texts;
    std::optional<QString>* outputs[2] = {&texts.width, &texts.height};
    for (int i = 0; i < 2; ++i) {
        if (lengths[i] == 0) continue;
        if (needsResolution && !(resolution > 0)) return std::nullopt;
        const double converted = *PixelsToLength(toUnit, *LengthToPixels(fromUnit, lengths[i], resolution), resolution);
        if (!std::isfinite(converted)) return std::nullopt;
        *outputs[i] = GetStringValueFromNumberForType(toUnit, converted);
    }
    return texts;
}

std::int64_t IntegerValue(QStringView text) {
    const std::optional<NumberText> number = ScanNumber(text, false);
    if (!number) return 0;
    std::int64_t value = 0;
    const char* first = number->chars.data();
    const auto [end, error] = std::from_chars(first, first + number->chars.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range)
        return number->chars[0] == '-' ? std::numeric_limits<std::int64_t>::min()
                                       : std::numeric_limits<std::int64_t>::max();
    return error == std::errc() ? value : 0;
}

std::int32_t IntValue(QStringView text) {
    const std::int64_t value = IntegerValue(text);
    if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

double DoubleValue(QStringView text) {
    const std::optional<NumberText> number = ScanNumber(text, true);
    if (!number) return 0;
    double value = 0;
    const char* first = number->chars.data();
    const auto [end, error] = std::from_chars(first, first + number->chars.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // Out of range at either end: a large magnitude saturates, a tiny one is 0.
        const bool large = number->integerDigits + number->exponent > 0;
        const bool negative = number->chars[0] == '-';
        if (!large) return negative ? -0.0 : 0.0;
        return negative ? std::numeric_limits<double>::lowest() : std::numeric_limits<double>::max();
    }
    return error == std::errc() ? value : 0;
}

float FloatValue(QStringView text) {
    const double value = DoubleValue(text);
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::max();
    if (value < std::numeric_limits<float>::lowest()) return std::numeric_limits<float>::lowest();
    return static_cast<float>(value);
}

}  // namespace settings
