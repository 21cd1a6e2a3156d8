#pragma once

// Pieces the shared helper files share among themselves.

#include <filesystem>
#include <optional>

namespace ovx {

// The system temporary folder ($TMPDIR, else /tmp), without a trailing separator.
std::filesystem::path SystemTemporaryDirectory();

// The user's home folder ($HOME, else the password database's entry).
std::optional<std::filesystem::path> HomeDirectory();

// Makes the folder and any missing parents, each new one for the user alone (mode 0700); true
// when the folder exists afterwards.
bool MakeDirectories(const std::filesystem::path& folder);

}  // namespace ovx
