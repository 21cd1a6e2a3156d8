#include "PreferenceStore.h"

#include "SettingsRules.h"

#include <cmath>

namespace settings {

PreferenceDictionary DefaultGeneralPreferences() {
    return {
        {key::kImageType, std::int64_t{4}},
        {key::kColorModel, std::int64_t{1}},
        {key::kJPEGQuality, 0.8},
        {key::kImageResolutionOption, std::int64_t{200}},
        {key::kCreateSeparateFolder, true},
        {key::kOverWriteExistingFile, false},
        {key::kProcessingType, std::int64_t{1}},
        {key::kPassword, std::string()},
    };
}

namespace {

const PreferenceValue* Find(const PreferenceDictionary& dictionary, std::string_view key) {
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : &found->second;
}

}  // namespace

std::optional<std::int64_t> IntegerPreference(const PreferenceDictionary& dictionary, std::string_view key) {
    const PreferenceValue* value = Find(dictionary, key);
    if (!value) return std::nullopt;
    if (const auto* integer = std::get_if<std::int64_t>(value)) return *integer;
    if (const auto* boolean = std::get_if<bool>(value)) return *boolean ? 1 : 0;
    if (const auto* real = std::get_if<double>(value)) {
        const double truncated = std::trunc(*real);
        // 2^63 is the first value past the range.
        if (!std::isfinite(truncated) || truncated < -9223372036854775808.0 || truncated >= 9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(truncated);
    }
    return std::nullopt;
}

std::optional<double> RealPreference(const PreferenceDictionary& dictionary, std::string_view key) {
    const PreferenceValue* value = Find(dictionary, key);
    if (!value) return std::nullopt;
    if (const auto* real = std::get_if<double>(value)) return *real;
    if (const auto* integer = std::get_if<std::int64_t>(value)) return static_cast<double>(*integer);
    if (const auto* boolean = std::get_if<bool>(value)) return *boolean ? 1.0 : 0.0;
    return std::nullopt;
}

std::optional<bool> BoolPreference(const PreferenceDictionary& dictionary, std::string_view key) {
    const PreferenceValue* value = Find(dictionary, key);
    if (!value) return std::nullopt;
    if (const auto* boolean = std::get_if<bool>(value)) return *boolean;
    if (const auto* integer = std::get_if<std::int64_t>(value)) return *integer != 0;
    if (const auto* real = std::get_if<double>(value)) return *real != 0;
    return std::nullopt;
}

std::optional<std::string> StringPreference(const PreferenceDictionary& dictionary, std::string_view key) {
    const PreferenceValue* value = Find(dictionary, key);
    if (!value) return std::nullopt;
    if (const auto* string = std::get_if<std::string>(value)) return *string;
    return std::nullopt;
}

int StoredImageType(std::int64_t type) {
    return IsOutputTypeCode(type) ? static_cast<int>(type) : kDefaultOutputType;
}

std::int64_t StoredResolution(std::int64_t resolution) {
    return resolution >= 1 && resolution <= kMaximumResolution ? resolution : 72;
}

std::optional<double> StoredQuality(double quality) {
    if (std::isnan(quality)) return std::nullopt;
    return quality < 0 ? 0.0 : quality > 1 ? 1.0 : quality;
}

}  // namespace settings
