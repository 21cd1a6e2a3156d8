#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/PropertyList.h"

// The shared helpers that the engine and the application call. Paths stand for the original
// platform's file URLs; an empty optional stands for nil.

// Compares the running system version with the given one: the difference of the first
// component that differs (running minus given); negative means the running system is older.
std::int32_t CompareSystemVersion(std::int32_t major, std::int32_t minor, std::int32_t patch);

// A folder below `parent` named `name`, or "name 1", "name 2", ... when a folder of that name
// exists. With `create` the folder is made; the name is claimed by the creation itself, so a
// folder that someone else made in the meantime is never taken as ours. Nothing when creation
// was asked for and failed (for instance a plain file holds the name).
std::optional<std::filesystem::path> GetUniqueDirectoryURL(const std::filesystem::path& parent,
                                                           const std::string& name, bool create);
std::optional<std::filesystem::path> GetUniqueDirectoryURLForFile(const std::filesystem::path& parent,
                                                                  const std::filesystem::path& file,
                                                                  bool create);

// The path of an output file in `folder`: base name plus extension when it is free, else
// "base 1.ext", "base 2.ext", ... With `overwrite`, an existing regular file or link of a
// candidate's name is removed and that name reused; a folder is never removed and counts as
// taken. An empty or absent extension gives names without one.
std::filesystem::path GetUniqueFileURL(const std::filesystem::path& folder, const std::string& baseName,
                                       const std::optional<std::string>& extension, bool overwrite);
std::filesystem::path GetUniqueFileURLForFile(const std::filesystem::path& folder,
                                              const std::filesystem::path& file,
                                              const std::optional<std::string>& extension, bool overwrite);

// As GetUniqueFileURL, but with `overwrite` an existing regular file or link is kept: the caller
// replaces it only once its new contents are complete.
std::filesystem::path GetReplaceableFileURL(const std::filesystem::path& folder, const std::string& baseName,
                                            const std::optional<std::string>& extension, bool overwrite);

// The last path component without its extension (".pdf" alone keeps its name).
std::string FileNameWithoutExtension(const std::filesystem::path& file);

// ---------------------------------------------------------------------------------------------
// Temporary locations. Only names: nothing is created, except the folder of
// GetTemporaryURLAppropriateForURL.

// The system temporary folder ($TMPDIR, else /tmp) joined with a new UUID as the file name.
// Nothing only when no UUID can be made.
std::optional<std::filesystem::path> GetTemporaryFileURL();

// A new UUID as a file name inside a hidden, uniquely named folder that is made (mode 0700) in
// the folder of `url`'s item, so that renaming the temporary file onto `url` is atomic. When
// that folder cannot be made (no such folder, no permission), the file name lies in the system
// temporary folder instead, and a rename from there may cross file systems. Remove the hidden
// folder with RemoveTemporaryReplacementDirectory once done. Nothing only when no UUID can be
// made.
std::optional<std::filesystem::path> GetTemporaryURLAppropriateForURL(const std::filesystem::path& url);

// Removes the hidden folder that GetTemporaryURLAppropriateForURL made for `temporaryURL`, with
// whatever is still inside it. Does nothing for a location in the system temporary folder, or
// for any folder that is not one of those.
void RemoveTemporaryReplacementDirectory(const std::filesystem::path& temporaryURL);

// `directory` (the system temporary folder when absent or empty) with one component: the prefix
// followed by a new UUID, plus "." and the extension when one is given. Stops the program when
// no UUID can be made.
std::filesystem::path GetTemporaryURLInDirectory(const std::optional<std::filesystem::path>& directory,
                                                 const std::optional<std::string>& prefix,
                                                 const std::optional<std::string>& extension);

// The system temporary folder with the component "prefix-UUID". Stops the program when no UUID
// can be made.
std::filesystem::path GetTemporaryURLWithPrefix(const std::string& prefix);

// ---------------------------------------------------------------------------------------------
// Notifications

// Shows a desktop notification with the title, the informative text and the default sound;
// callable from any thread, never waits. Below system version 10.8 nothing is shown. A desktop
// without a session bus or a notification service shows nothing, and nothing is reported.
void PostUserNotification(const std::string& title, const std::string& informativeText);

// ---------------------------------------------------------------------------------------------
// Preference files: XML property lists in the folder "vellipse" of the user's configuration
// folder ($XDG_CONFIG_HOME when it is an absolute path, else ~/.config), which is made (mode 0700)
// when missing. The file name is `fileNameFormat` with its "%@" replaced by the bundle
// identifier, e.g. "%@-Pref.plist" gives org.vellipse.Vellipse-Pref.plist.

// Reads the file into `dictionary` (replacing what it held). False, with `dictionary` untouched,
// when the file is missing or is not a property list with a dictionary at its root, or when the
// folder cannot be made; the caller then takes its defaults.
bool ReadPreferencePlist(platform::PlistDictionary& dictionary, const std::string& fileNameFormat);

// Writes the dictionary as an XML property list, atomically (a temporary file in the same folder
// renamed over the old one: a reader sees the old file or the new one, whole) and readable by
// the user alone (mode 0600: the files hold a password). False when anything fails; the old file
// is then untouched.
bool WritePreferencePlist(const platform::PlistDictionary& dictionary, const std::string& fileNameFormat);

#include "OVXUtilHelpers.h"
