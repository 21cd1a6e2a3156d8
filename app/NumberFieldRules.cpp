#include "NumberFieldRules.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace numberfield {
namespace {

bool IsSkipped(QChar c, SkipSet skip) { return skip == SkipSet::Percent ? c == u'%' : c.isSpace(); }

qsizetype SkipFrom(QStringView text, qsizetype i, SkipSet skip) {
    while (i < text.size() && IsSkipped(text[i], skip)) ++i;
    return i;
}

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// One number read from a text: where it ends and its ASCII spelling (sign, digits, fraction,
// exponent), ready for the standard conversions. end < 0: no number.
struct Scanned {
    qsizetype end = -1;
    bool negative = false;
    std::string integerDigits;
    std::string fractionDigits;
    std::string exponent;  // with its sign, without the 'e'
    bool ok() const { return end >= 0; }
};

Scanned ScanNumber(QStringView text, qsizetype i, bool floating) {
    Scanned s;
    qsizetype p = i;
    if (p < text.size() && (text[p] == u'+' || text[p] == u'-')) {
        s.negative = text[p] == u'-';
        ++p;
    }
    while (p < text.size() && IsDigit(text[p])) s.integerDigits += static_cast<char>(text[p++].unicode());
    if (floating) {
        if (p < text.size() && text[p] == u'.') {
            qsizetype q = p + 1;
            std::string fraction;
            while (q < text.size() && IsDigit(text[q])) fraction += static_cast<char>(text[q++].unicode());
            if (!s.integerDigits.empty() || !fraction.empty()) {
                s.fractionDigits = std::move(fraction);
                p = q;
            }
        }
        const bool anyDigit = !s.integerDigits.empty() || !s.fractionDigits.empty();
        if (anyDigit && p < text.size() && (text[p] == u'e' || text[p] == u'E')) {
            qsizetype q = p + 1;
            std::string exponent;
            if (q < text.size() && (text[q] == u'+' || text[q] == u'-')) {
                if (text[q] == u'-') exponent += '-';
                ++q;
            }
            const std::size_t signLength = exponent.size();
            while (q < text.size() && IsDigit(text[q])) exponent += static_cast<char>(text[q++].unicode());
            // An 'e' without digits is not part of the number.
            if (exponent.size() > signLength) {
                s.exponent = std::move(exponent);
                p = q;
            }
        }
    }
    if (s.integerDigits.empty() && s.fractionDigits.empty()) return {};
    s.end = p;
    return s;
}

template <typename T>
T IntegerOf(const Scanned& s) {
    // Saturating accumulation of the magnitude; out-of-range numbers clamp to the kind's ends.
    constexpr std::uint64_t kCap = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (char c : s.integerDigits) {
        const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (kCap - d) / 10) {
            magnitude = kCap;
            break;
        }
        magnitude = magnitude * 10 + d;
    }
    constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    if (s.negative) {
        if (magnitude > kMax + 1) magnitude = kMax + 1;
        if (magnitude == kMax + 1) return std::numeric_limits<T>::min();
        return static_cast<T>(-static_cast<std::int64_t>(magnitude));
    }
    return static_cast<T>(magnitude > kMax ? kMax : magnitude);
}

// The decimal exponent of the first significant digit (12.5 -> 1, 0.03 -> -2); only called for
// numbers that did not fit, to tell an overflow from an underflow.
long long LeadingDecimalExponent(const Scanned& s) {
    long long exponent = 0;
    if (!s.exponent.empty()) {
        // Saturate: a huge exponent only needs its sign and size.
        const bool negative = s.exponent[0] == '-';
        long long value = 0;
        for (char c : s.exponent) {
            if (c == '-') continue;
            value = value > 1000000000LL ? value : value * 10 + (c - '0');
        }
        exponent = negative ? -value : value;
    }
    const std::size_t firstIntegral = s.integerDigits.find_first_not_of('0');
    if (firstIntegral != std::string::npos)
        return exponent + static_cast<long long>(s.integerDigits.size() - firstIntegral) - 1;
    const std::size_t firstFraction = s.fractionDigits.find_first_not_of('0');
    if (firstFraction != std::string::npos) return exponent - static_cast<long long>(firstFraction) - 1;
    return 0;
}

template <typename T>
T FloatingOf(const Scanned& s) {
    std::string spelled;
    if (s.negative) spelled += '-';
    spelled += s.integerDigits.empty() ? std::string("0") : s.integerDigits;
    if (!s.fractionDigits.empty()) spelled += '.' + s.fractionDigits;
    if (!s.exponent.empty()) spelled += 'e' + s.exponent;
    T value = 0;
    const auto result = std::from_chars(spelled.data(), spelled.data() + spelled.size(), value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        const bool overflow = LeadingDecimalExponent(s) > 0;
        const T magnitude = overflow ? std::numeric_limits<T>::max() : T(0);
        return s.negative ? -magnitude : magnitude;
    }
    if (result.ec != std::errc() || !std::isfinite(value)) return 0;
    return value;
}

Scanned ScanValue(QStringView text, bool floating) {
    return ScanNumber(text, SkipFrom(text, 0, SkipSet::WhiteSpace), floating);
}

template <typename T>
QString FormatWithCharconv(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

SkipSet SkipOf(FieldRule rule) {
    return rule == FieldRule::PDFScale || rule == FieldRule::Scale ? SkipSet::Percent : SkipSet::WhiteSpace;
}

}  // namespace

bool ScansWholly(QStringView text, NumberKind kind, SkipSet skip) {
    const bool floating = kind == NumberKind::Float || kind == NumberKind::Double;
    const Scanned s = ScanNumber(text, SkipFrom(text, 0, skip), floating);
    return s.ok() && SkipFrom(text, s.end, skip) == text.size();
}

std::int32_t IntValue(QStringView text) {
    const Scanned s = ScanValue(text, false);
    return s.ok() ? IntegerOf<std::int32_t>(s) : 0;
}

std::int64_t LongLongValue(QStringView text) {
    const Scanned s = ScanValue(text, false);
    return s.ok() ? IntegerOf<std::int64_t>(s) : 0;
}

float FloatValue(QStringView text) {
    const Scanned s = ScanValue(text, true);
    return s.ok() ? FloatingOf<float>(s) : 0.0f;
}

double DoubleValue(QStringView text) {
    const Scanned s = ScanValue(text, true);
    return s.ok() ? FloatingOf<double>(s) : 0.0;
}

QString FormatInteger(std::int64_t value) { return QString::number(value); }
QString FormatFloat(float value) { return FormatWithCharconv(value); }
QString FormatDouble(double value) { return FormatWithCharconv(value); }

NumberKind KindOf(FieldRule rule) {
    switch (rule) {
        case FieldRule::WholeNumber: return NumberKind::Int32;
        case FieldRule::Number:
        case FieldRule::CharSpace: return NumberKind::Double;
        case FieldRule::StartDigit:
        case FieldRule::FileSize: return NumberKind::Float;
        default: return NumberKind::Int64;
    }
}

QString FixTypedText(FieldRule rule, const QString& text) {
    if (rule == FieldRule::PageRange) return FixPageRangeText(text);

    if (ScansWholly(text, KindOf(rule), SkipOf(rule))) {
        if (rule == FieldRule::Scale && LongLongValue(text) >= 6401) return FormatInteger(6400);
        return text;
    }
    if (text.isEmpty()) return text;
    if (rule == FieldRule::ShadowOffset && text == QLatin1String("-")) return text;

    switch (rule) {
        case FieldRule::WholeNumber: {
            const std::int32_t v = IntValue(text);
            return FormatInteger(v > 0 ? v : 0);
        }
        case FieldRule::Number:
        case FieldRule::CharSpace: {
            const double v = DoubleValue(text);
            return FormatDouble(v > 0 ? v : 0.0);
        }
        case FieldRule::StartDigit: {
            const float v = FloatValue(text);
            return FormatFloat(v >= 0 ? v : 0.0f);
        }
        case FieldRule::FileSize: {
            const float v = FloatValue(text);
            return FormatFloat(v >= 0.5f ? v : 0.5f);
        }
        case FieldRule::ZeroCount:
        case FieldRule::RotationAngle:
        case FieldRule::ShadowBlur: {
            const std::int64_t v = LongLongValue(text);
            return FormatInteger(v >= 0 ? v : 0);
        }
        case FieldRule::PageCount:
        case FieldRule::Resolution:
        case FieldRule::FontSize:
        case FieldRule::PDFScale: {
            const std::int64_t v = LongLongValue(text);
            return FormatInteger(v > 0 ? v : 1);
        }
        case FieldRule::ShadowOffset: {
            const std::int64_t v = LongLongValue(text);
            return FormatInteger(v >= -5000 ? v : -5000);
        }
        case FieldRule::Scale: {
            std::int64_t v = LongLongValue(text);
            if (v <= 0) v = 1;
            if (v >= 6401) v = 6400;
            return FormatInteger(v);
        }
        case FieldRule::PageRange: break;
    }
    return text;
}

QString FixEndedText(FieldRule rule, const QString& text) {
    switch (rule) {
        case FieldRule::WholeNumber:
            return IntValue(text) < 0 ? FormatInteger(0) : text;
        case FieldRule::Number:
        case FieldRule::CharSpace:
            return DoubleValue(text) < 0 ? FormatInteger(0) : text;
        case FieldRule::StartDigit:
            return FloatValue(text) < 0 ? FormatInteger(0) : text;
        case FieldRule::FileSize:
            return FloatValue(text) < 0.5f ? FormatInteger(0) : text;
        case FieldRule::ZeroCount:
        case FieldRule::RotationAngle:
        case FieldRule::ShadowBlur:
            return LongLongValue(text) < 0 ? FormatInteger(0) : text;
        case FieldRule::PageCount:
        case FieldRule::Resolution:
        case FieldRule::FontSize:
            return LongLongValue(text) <= 0 ? FormatInteger(1) : text;
        case FieldRule::PDFScale:
            return LongLongValue(text) <= 1 ? FormatInteger(1) : text;
        case FieldRule::ShadowOffset:
            return LongLongValue(text) <= -5000 ? FormatInteger(-5000) : text;
        case FieldRule::Scale:
        case FieldRule::PageRange:
            return text;
    }
    return text;
}

QString FixPageRangeText(const QString& text) {
    static const QString kAllowed = QStringLiteral("1234567890-,");
    const qsizetype start = SkipFrom(text, 0, SkipSet::WhiteSpace);
    qsizetype end = start;
    while (end < text.size() && kAllowed.contains(text[end])) ++end;
    QString run = text.mid(start, end - start);
    if (run.size() == 1 && (run == QLatin1String("-") || run == QLatin1String(","))) return QString();
    if (run.size() > 1) {
        const QChar a = run[run.size() - 2];
        const QChar b = run[run.size() - 1];
        const bool separators = (a == u'-' || a == u',') && (b == u'-' || b == u',');
        if (separators) run.chop(1);
    }
    return run;
}

}  // namespace numberfield
