#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>

// The rules that keep a number field's text a number while the user types and when the editing
// ends, as pure functions over the text. The fields themselves (NumberFields.h) only apply them.
namespace numberfield {

// --- Scanning -------------------------------------------------------------------------------
// A scanner in the manner of the platform's text scanners: it first skips a set of characters
// (white space, or "%" for the percentage fields), then reads one number: an optional sign and
// decimal digits; for the floating kinds also a fraction and an exponent ("1.5e-3", ".5", "5.").
// No "inf", "nan" or hexadecimal forms. An integer that does not fit is read as the largest
// (smallest) value of its kind, as the scanners do.
enum class NumberKind { Int32, Int64, Float, Double };
enum class SkipSet { WhiteSpace, Percent };

// Whether the whole text is one number of the kind: the scan succeeds and nothing but skipped
// characters follows it.
bool ScansWholly(QStringView text, NumberKind kind, SkipSet skip = SkipSet::WhiteSpace);

// The number at the start of a text (after white space), or 0 when there is none: "12a" is 12,
// "abc" is 0. A floating number too large for its kind reads as the largest finite value, one
// too small as 0, so a field never holds an infinite value.
std::int32_t IntValue(QStringView text);
std::int64_t LongLongValue(QStringView text);
float FloatValue(QStringView text);
double DoubleValue(QStringView text);

// The texts that the fields write back for a value of each kind ("12", "12.5", "0.5").
QString FormatInteger(std::int64_t value);
QString FormatFloat(float value);
QString FormatDouble(double value);

// --- Field rules ----------------------------------------------------------------------------
// One rule per field class, named after the class.
enum class FieldRule {
    WholeNumber,
    Number,
    ZeroCount,
    StartDigit,
    PageCount,
    FileSize,
    Resolution,
    FontSize,
    RotationAngle,
    ShadowBlur,
    ShadowOffset,
    PDFScale,
    CharSpace,
    Scale,
    PageRange,
};

NumberKind KindOf(FieldRule rule);

// The text after a change while typing: a text that is wholly a number of the rule's kind stays
// as typed (even outside the rule's bound, which the end of editing deals with); any other text
// that is not empty becomes the field's value, clamped to the rule's bound.
QString FixTypedText(FieldRule rule, const QString& text);

// The text after the editing ended: the rule's bound applied to the field's value.
QString FixEndedText(FieldRule rule, const QString& text);

// The page-list rule on its own: the longest run of "1234567890-," at the start of the text,
// without a lone or doubled separator at its end.
QString FixPageRangeText(const QString& text);

}  // namespace numberfield
