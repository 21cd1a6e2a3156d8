#pragma once

#include <filesystem>
#include <string>

// The program's bundle: its identifier and the folder its resources are installed in
// (<prefix>/share/vellipse beside <prefix>/bin, the same layout in the build tree).
namespace platform {

std::string BundleIdentifier();
std::filesystem::path ResourceDirectory();
// The path of a resource by file name, or an empty path when it is not there.
std::filesystem::path ResourcePath(const std::string& fileName);
// Tests point the layer at another resource folder (an empty path restores the default).
void SetResourceDirectory(const std::filesystem::path& directory);

}  // namespace platform
