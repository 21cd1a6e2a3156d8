#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

#include "engine/ImageConversion.h"
#include "engine/OutputTypes.h"

// The rules that tie the conversion settings controls together, as pure functions: which
// controls an output type enables, which colour models it offers, the quality label, the size
// units and the reading of numbers from field texts. The main window and the preference sheet
// apply them to their own controls.
namespace settings {

// Codes: OutputImageType, OutputColorModel and SizeFormatType of engine/ImageConversion.h.

// --- Output types ---------------------------------------------------------------------------
// What each type enables and offers is a column of the engine's output type table
// (engine/OutputTypes.h); these read it.
inline constexpr int kDefaultOutputType = kOutputJPEG;  // what an unknown code is written as
inline constexpr int kTIFFOutputType = kOutputTIFF;
inline constexpr int kMultiPageTIFFOutputType = kOutputMultiPageTIFF;

// The convert/extract menu's tags.
inline constexpr int kConvertMode = 1;
inline constexpr int kExtractMode = 2;
// What the controls show when the preference file gives nothing usable: the resolution list's
// item at this index (200 dpi) and this quality.
inline constexpr int kFallbackResolutionIndex = 3;
inline constexpr double kFallbackQuality = 0.9;

// The menus' types; every other code takes the rules of an unknown type.
bool IsOutputTypeCode(std::int64_t type);

// Whether the resolution box is usable for the type; the others are written at 72 dots per inch.
bool ResolutionEnabledForType(std::int64_t type);
// Whether the conversion takes the box's resolution (TIFF in CMYK is written at 72 although its
// box is usable).
bool ConversionUsesResolutionForType(std::int64_t type);
// Whether the type has a quality.
bool QualityEnabledForType(std::int64_t type);

using ColorModels = OutputColorModels;
ColorModels EnabledColorModelsForType(std::int64_t type);
// The colour model selected after choosing `type` with `selected` selected: a model the type
// does not offer becomes RGB.
int ColorModelAfterTypeChange(std::int64_t type, int selected);

// --- Quality --------------------------------------------------------------------------------
inline constexpr char kMainQualityLabelFormat[] = "JPEG Quality (%d%%):";
inline constexpr char kSheetQualityLabelFormat[] = "Image Quality (%d%%):";
// The quality (0..1) in percent, truncated: 0.29 shows 28, since 0.29 * 100 lies just below 29.
int QualityPercent(double quality);
// `format` is one of the two label formats above.
QString QualityLabelText(const char* format, double quality);

// --- Sizes ----------------------------------------------------------------------------------
// A length in `unit` in pixels at `resolution` dots per inch, and back; nothing for a unit that
// has no length in pixels.
std::optional<double> LengthToPixels(int unit, double length, double resolution);
std::optional<double> PixelsToLength(int unit, double pixels, double resolution);
// The text of a length in its unit: "%.0f" for pixels, "%.2f" for percent and the lengths,
// nothing for any other unit.
std::optional<QString> GetStringValueFromNumberForType(int unit, double value);

// The new texts of the width and height fields after a change of unit; an absent text leaves its
// field as it is (a field of 0 is never rewritten). Nothing when the change cannot be made: an
// unknown unit, or a non-zero size with no usable resolution (empty, 0 or negative), which would
// give infinite or undefined lengths.
struct SizeTexts {
    std::optional<QString> width;
    std::optional<QString> height;
};
std::optional<SizeTexts> ConvertSizeTexts(int fromUnit, int toUnit, double resolution, float width, float height);

// --- Numbers in field texts -----------------------------------------------------------------
// The number at the start of a text (after white space), or 0 when there is none: "12a" is 12,
// "abc" is 0. An integer too large for its kind reads as the kind's largest (smallest) value; a
// floating number too large as the largest finite value, one too small as 0.
std::int32_t IntValue(QStringView text);
std::int64_t IntegerValue(QStringView text);
float FloatValue(QStringView text);
double DoubleValue(QStringView text);

}  // namespace settings
