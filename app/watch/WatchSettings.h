#pragma once

#include <filesystem>
#include <optional>

#include "engine/ImageConversion.h"
#include "settings/PreferenceStore.h"

// The watch folder's stored set-up and the conversion record its scans use.
namespace watch {

// The keys of the watch-folder preference file.
namespace key {
inline constexpr char kSourceURL[] = "SourceURL";                             // data: the folder's path
inline constexpr char kDestinationURL[] = "DestinationURL";                   // data
inline constexpr char kMoveDestinationURL[] = "MoveDestinationURL";           // data
inline constexpr char kMoveToDestinationOption[] = "MoveToDestinationOption";  // integer 1, 2, 3
inline constexpr char kIsWatching[] = "IsWatching";                           // boolean
}  // namespace key

// The after-conversion options.
inline constexpr int kDeleteSources = 1;
inline constexpr int kMoveToDestination = 2;
inline constexpr int kMoveToFolder = 3;

// A folder as stored: its absolute path, as bytes.
settings::PreferenceData FolderData(const std::filesystem::path& folder);
// The folder that stored data names; nothing ("unresolved") when the data name no absolute path,
// or the folder no longer exists as a folder or cannot be read.
std::optional<std::filesystem::path> ResolveFolderData(const settings::PreferenceData& data);

// Fills a zeroed record from the copy of the general preferences that a watch took when it
// started: the whole record but the source and the output folder. Missing keys take the watch's
// own fallbacks (resolution 72, quality 0.8); no progress is shown and nothing can cancel.
bool GetConversionSettingsForWatchFolder(const settings::PreferenceDictionary& preferences, ImageConversion* record);

}  // namespace watch
