#include "watch/WatchSettings.h"

#include <QString>

#include <unistd.h>

#include "settings/SettingsRules.h"

namespace fs = std::filesystem;

namespace watch {

settings::PreferenceData FolderData(const fs::path& folder) {
    const std::string path = fs::absolute(folder).lexically_normal().native();
    return settings::PreferenceData(path.begin(), path.end());
}

std::optional<fs::path> ResolveFolderData(const settings::PreferenceData& data) {
    if (data.empty()) return std::nullopt;
    fs::path folder(std::string(data.begin(), data.end()));
    // A trailing separator (other than the root's) is not part of the folder's name.
    if (folder.has_parent_path() && !folder.has_filename()) folder = folder.parent_path();
    std::error_code ec;
    if (!folder.is_absolute() || !fs::is_directory(folder, ec)) return std::nullopt;
    if (::access(folder.c_str(), R_OK | X_OK) != 0) return std::nullopt;
    return folder;
}

namespace {

// A number stored as text (the size fields keep what was typed) or as a number.
double NumberValue(const settings::PreferenceDictionary& preferences, std::string_view name) {
    if (const std::optional<std::string> text = settings::StringPreference(preferences, name))
        return settings::DoubleValue(QString::fromStdString(*text));
    return settings::RealPreference(preferences, name).value_or(0);
}

bool UsesStoredResolution(std::int64_t type) {
    switch (type) {
        case 1: case 4: case 7: case 8: case 10: case 11: case 23: return true;
        default: return false;
    }
}

}  // namespace

bool GetConversionSettingsForWatchFolder(const settings::PreferenceDictionary& preferences, ImageConversion* record) {
    using namespace settings;
    const double width = NumberValue(preferences, settings::key::kWidth);
    const double height = NumberValue(preferences, settings::key::kHeight);
    const bool resize = width != 0 || height != 0;
    record->resizeEnabled = resize ? 1 : 0;
    record->textWatermarkEnabled = 0;
    record->imageWatermarkEnabled = 0;
    record->numberPagesFromRangeStart = 0;
    record->returnImageInstead = 0;
    record->overwriteExistingFile = BoolPreference(preferences, settings::key::kOverWriteExistingFile).value_or(false) ? 1 : 0;
    record->rotationAngle = 0;
    record->flipFlags = 0;

    ImageConversionOptions& options = record->conversionOptions;
    const std::int64_t type = IntegerPreference(preferences, settings::key::kImageType).value_or(4);
    options.imageType = static_cast<std::int32_t>(type);
    const std::optional<std::int64_t> resolution = IntegerPreference(preferences, settings::key::kImageResolutionOption);
    options.outputResolution = resolution && UsesStoredResolution(type) ? *resolution : 72;
    options.colorModel = static_cast<std::int32_t>(IntegerPreference(preferences, settings::key::kColorModel).value_or(1));
    options.compressionQuality =
        type == 3 || type == 4 ? RealPreference(preferences, settings::key::kJPEGQuality).value_or(0.8) : 0;
    options.password = StringPreference(preferences, settings::key::kPassword).value_or("");
    options.pageRangeType = 0;
    options.startPage = 1;
    options.endPage = 1;
    options.keepMetadata = 0;

    ImageResizeOptions& size = record->resizeOptions;
    size = ImageResizeOptions{};
    if (resize) {
        size.keepAspectRatio = 1;
        size.resizeToTarget = 1;
        size.targetWidth = width;
        size.targetHeight = height;
        size.sizeUnit = static_cast<std::int32_t>(IntegerPreference(preferences, settings::key::kInputType).value_or(0));
        size.fitMode = 2;
    }
    record->watermarkOptions = WatermarkOptions{};
    record->progressCallback = ProgressCallbackInfo{};
    record->sourceURL.clear();
    record->outputFolderURL.clear();
    record->outputBaseName.reset();
    record->outputFileAttributes.reset();
    record->outputImage.reset();
    return true;
}

}  // namespace watch
