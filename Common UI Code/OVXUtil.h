#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

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
