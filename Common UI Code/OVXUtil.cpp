#include "Common UI Code/OVXUtil.h"

#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/SystemVersion.h"

namespace fs = std::filesystem;

std::int32_t CompareSystemVersion(std::int32_t major, std::int32_t minor, std::int32_t patch) {
    const platform::SystemVersion running = platform::GetSystemVersion();
    if (running.major != major) return running.major - major;
    if (running.minor != minor) return running.minor - minor;
    return running.patch - patch;
}

std::string FileNameWithoutExtension(const fs::path& file) {
    fs::path name = file.filename();
    if (name.empty()) name = file.parent_path().filename();
    return name.stem().string();
}

std::optional<fs::path> GetUniqueDirectoryURL(const fs::path& parent, const std::string& name, bool create) {
    std::error_code ec;
    if (create) {
        fs::create_directories(parent, ec);
        if (ec && !fs::is_directory(parent)) return std::nullopt;
    }
    for (long counter = 0;; ++counter) {
        fs::path candidate = parent / (counter == 0 ? name : name + " " + std::to_string(counter));
        // A folder, or a link to one, is taken.
        const bool isDirectory = fs::is_directory(fs::status(candidate, ec));
        if (isDirectory) continue;
        if (!create) return candidate;
        if (::mkdir(candidate.c_str(), 0777) == 0) return candidate;
        // Someone made a folder of this name between our look and our creation: it is theirs.
        if (errno == EEXIST && fs::is_directory(fs::status(candidate, ec))) continue;
        return std::nullopt;
    }
}

std::optional<fs::path> GetUniqueDirectoryURLForFile(const fs::path& parent, const fs::path& file, bool create) {
    return GetUniqueDirectoryURL(parent, FileNameWithoutExtension(file), create);
}

namespace {

fs::path Candidate(const fs::path& folder, const std::string& base, const std::optional<std::string>& ext,
                   long counter) {
    std::string name = counter == 0 ? base : base + " " + std::to_string(counter);
    if (ext && !ext->empty()) name += "." + *ext;
    return folder / name;
}

enum class Existing { None, Replaceable, Kept };

Existing Look(const fs::path& candidate) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(candidate, ec);
    if (ec || !fs::exists(st)) return Existing::None;
    if (fs::is_regular_file(st) || fs::is_symlink(st)) return Existing::Replaceable;
    return Existing::Kept;
}

}  // namespace

fs::path GetUniqueFileURL(const fs::path& folder, const std::string& baseName,
                          const std::optional<std::string>& extension, bool overwrite) {
    for (long counter = 0;; ++counter) {
        fs::path candidate = Candidate(folder, baseName, extension, counter);
        const Existing existing = Look(candidate);
        if (existing == Existing::None) return candidate;
        if (overwrite && existing == Existing::Replaceable) {
            std::error_code ec;
            if (fs::remove(candidate, ec) && !ec) return candidate;
        }
    }
}

fs::path GetUniqueFileURLForFile(const fs::path& folder, const fs::path& file,
                                 const std::optional<std::string>& extension, bool overwrite) {
    return GetUniqueFileURL(folder, FileNameWithoutExtension(file), extension, overwrite);
}

fs::path GetReplaceableFileURL(const fs::path& folder, const std::string& baseName,
                               const std::optional<std::string>& extension, bool overwrite) {
    for (long counter = 0;; ++counter) {
        fs::path candidate = Candidate(folder, baseName, extension, counter);
        const Existing existing = Look(candidate);
        if (existing == Existing::None) return candidate;
        if (overwrite && existing == Existing::Replaceable && ::access(candidate.parent_path().c_str(), W_OK) == 0)
            return candidate;
    }
}
