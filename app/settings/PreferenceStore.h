#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The application's preference files as the settings code sees them: a flat dictionary of
// property-list values per file, read and written whole through a store. The files are named by
// a format whose "%@" the store fills with the bundle identifier.
namespace settings {

using PreferenceData = std::vector<std::uint8_t>;
// Integer, real, boolean, string or data, each keeping its property-list type.
using PreferenceValue = std::variant<std::int64_t, double, bool, std::string, PreferenceData>;
using PreferenceDictionary = std::map<std::string, PreferenceValue, std::less<>>;

inline constexpr char kGeneralPreferenceFile[] = "%@-Pref.plist";
inline constexpr char kWatchFolderPreferenceFile[] = "%@-WatchFolderPref.plist";

// The keys of the general preference file.
namespace key {
inline constexpr char kImageType[] = "ImageType";                          // integer
inline constexpr char kColorModel[] = "ColorModel";                        // integer
inline constexpr char kJPEGQuality[] = "JPEGQuality";                      // real
inline constexpr char kImageResolutionOption[] = "ImageResolutionOption";  // integer
inline constexpr char kCreateSeparateFolder[] = "CreateSeparateFolder";    // boolean
inline constexpr char kOverWriteExistingFile[] = "OverWriteExistingFile";  // boolean
inline constexpr char kProcessingType[] = "ProcessingType";                // integer
inline constexpr char kPassword[] = "Password";                            // string
inline constexpr char kInputType[] = "InputType";                          // integer
inline constexpr char kWidth[] = "Width";                                  // string
inline constexpr char kHeight[] = "Height";                                // string
}  // namespace key

// Where the preference files live. The application's store keeps them as property-list files in
// the user's configuration folder; tests use one in memory.
class PreferenceStore {
public:
    virtual ~PreferenceStore() = default;
    // The file's dictionary; nothing when there is no file, or it is not a property list with a
    // dictionary at its root, or it cannot be read.
    virtual std::optional<PreferenceDictionary> Read(const std::string& fileNameFormat) = 0;
    // Replaces the whole file with the dictionary; false when that fails.
    virtual bool Write(const PreferenceDictionary& dictionary, const std::string& fileNameFormat) = 0;
};

// The built-in defaults of the general file: "ImageType" 4, "ColorModel" 1, "JPEGQuality" 0.8,
// "ImageResolutionOption" 200, "CreateSeparateFolder" true, "OverWriteExistingFile" false,
// "ProcessingType" 1, "Password" "". They hold no size ("InputType", "Width", "Height").
PreferenceDictionary DefaultGeneralPreferences();

// Typed look-ups; nothing for a missing key or a value that is not of a suitable kind. Numbers
// serve each other: a real is truncated toward zero for an integer (a non-finite or too large
// one gives nothing), a boolean is 0 or 1, and a number is true when it is not 0.
std::optional<std::int64_t> IntegerPreference(const PreferenceDictionary& dictionary, std::string_view key);
std::optional<double> RealPreference(const PreferenceDictionary& dictionary, std::string_view key);
std::optional<bool> BoolPreference(const PreferenceDictionary& dictionary, std::string_view key);
std::optional<std::string> StringPreference(const PreferenceDictionary& dictionary, std::string_view key);

// Stored values brought into the ranges the controls can take, as a conversion run does: a type
// outside 1..23 is JPEG (4), a resolution outside 1..4608 is 72, a quality is kept within 0..1
// (not-a-number gives nothing).
int StoredImageType(std::int64_t type);
std::int64_t StoredResolution(std::int64_t resolution);
std::optional<double> StoredQuality(double quality);

inline constexpr std::int64_t kMaximumResolution = 4608;
inline constexpr std::int64_t kResolutionAskedAbove = 800;

}  // namespace settings
