// Temporary locations, notifications and preference files.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include <QString>
#include <QUuid>

#include "Common UI Code/OVXUtil.h"
#include "Common UI Code/OVXUtilInternal.h"
#include "platform/Resources.h"
#include "platform/UserNotification.h"

namespace fs = std::filesystem;

namespace ovx {

fs::path SystemTemporaryDirectory() {
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    if (ec || dir.empty()) dir = "/tmp";
    dir = dir.lexically_normal();
    if (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();  // "/tmp/" is /tmp
    return dir;
}

}  // namespace ovx

using ovx::SystemTemporaryDirectory;

namespace {

// Stops the program, naming the function and the condition that failed.
[[noreturn]] void AssertionFailed(const char* function, const char* condition) {
    std::fprintf(stderr, "%s: assertion failed: %s\n", function, condition);
    std::fflush(stderr);
    std::abort();
}

#define OVX_ASSERT(ok, text)                                     \
    do {                                                         \
        if (!(ok)) AssertionFailed(__func__, text);              \
    } while (0)

// A new UUID in its usual upper-case form; empty when none can be made.
std::string NewUUIDString() {
    const QUuid uuid = QUuid::createUuid();
    if (uuid.isNull()) return {};
    return uuid.toString(QUuid::WithoutBraces).toUpper().toStdString();
}

// The prefix of the hidden folders made next to a file that is to be replaced.
constexpr std::string_view kReplacementPrefix = ".vellipse-replacing-";

}  // namespace

std::optional<fs::path> GetTemporaryFileURL() {
    const std::string uuid = NewUUIDString();
    if (uuid.empty()) return std::nullopt;
    return SystemTemporaryDirectory() / uuid;
}

std::optional<fs::path> GetTemporaryURLAppropriateForURL(const fs::path& url) {
    const std::string uuid = NewUUIDString();
    if (uuid.empty()) return std::nullopt;

    std::error_code ec;
    fs::path item = fs::absolute(url, ec).lexically_normal();
    if (!ec && !item.has_filename()) item = item.parent_path();  // "/a/b/" names b
    if (!ec && item.has_parent_path() && item != item.root_path()) {
        std::string pattern = (item.parent_path() / kReplacementPrefix).string() + "XXXXXX";
        if (::mkdtemp(pattern.data())) return fs::path(pattern) / uuid;
    }
    return SystemTemporaryDirectory() / uuid;
}

void RemoveTemporaryReplacementDirectory(const fs::path& temporaryURL) {
    const fs::path folder = temporaryURL.parent_path();
    const std::string name = folder.filename().string();
    if (name.size() != kReplacementPrefix.size() + 6 || !name.starts_with(kReplacementPrefix)) return;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) return;
    fs::remove_all(folder, ec);
}

fs::path GetTemporaryURLInDirectory(const std::optional<fs::path>& directory, const std::optional<std::string>& prefix,
                                    const std::optional<std::string>& extension) {
    const std::string uuid = NewUUIDString();
    OVX_ASSERT(!uuid.empty(), "uuid != NULL");
    std::string component = prefix.value_or("") + uuid;
    if (extension && !extension->empty()) component += "." + *extension;
    const fs::path folder = directory && !directory->empty() ? *directory : SystemTemporaryDirectory();
    fs::path result = folder / component;
    OVX_ASSERT(!result.empty(), "result != nil");
    return result;
}

fs::path GetTemporaryURLWithPrefix(const std::string& prefix) {
    const std::string uuid = NewUUIDString();
    OVX_ASSERT(!uuid.empty(), "uuid != NULL");
    fs::path result = SystemTemporaryDirectory() / (prefix + "-" + uuid);
    OVX_ASSERT(!result.empty(), "result != nil");
    return result;
}

// ---------------------------------------------------------------------------------------------

void PostUserNotification(const std::string& title, const std::string& informativeText) {
    if (CompareSystemVersion(10, 8, 0) < 0) return;
    platform::DeliverUserNotification({title, informativeText, platform::kDefaultNotificationSound});
}

// ---------------------------------------------------------------------------------------------

namespace ovx {

std::optional<fs::path> HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home);
    struct passwd entry;
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return fs::path(found->pw_dir);
    return std::nullopt;
}

bool MakeDirectories(const fs::path& folder) {
    fs::path partial;
    for (const fs::path& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) continue;
        if (errno != EEXIST) return false;
    }
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

}  // namespace ovx

using ovx::HomeDirectory;
using ovx::MakeDirectories;

namespace {

// The configuration folder by the XDG rules: a relative $XDG_CONFIG_HOME is to be ignored.
std::optional<fs::path> PreferencesDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return fs::path(xdg) / "vellipse";
    std::optional<fs::path> home = HomeDirectory();
    if (!home) return std::nullopt;
    return *home / ".config" / "vellipse";
}

// The folder (made when missing) and the file name; nothing when either cannot be had.
std::optional<fs::path> PreferenceFile(const std::string& fileNameFormat) {
    std::string name = fileNameFormat;
    if (const std::size_t at = name.find("%@"); at != std::string::npos)
        name.replace(at, 2, platform::BundleIdentifier());
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return std::nullopt;
    std::optional<fs::path> folder = PreferencesDirectory();
    if (!folder || !MakeDirectories(*folder)) return std::nullopt;
    return *folder / name;
}

// Preference files are small; anything far larger is not one of ours.
constexpr off_t kMaxPreferenceFileBytes = 64 << 20;

bool ReadWholeFile(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxPreferenceFileBytes;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ReadPreferencePlist(platform::PlistDictionary& dictionary, const std::string& fileNameFormat) {
    const std::optional<fs::path> file = PreferenceFile(fileNameFormat);
    if (!file) return false;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(*file, bytes)) return false;
    std::optional<platform::PlistValue> root = platform::ParsePropertyList(bytes);
    if (!root) return false;
    platform::PlistDictionary* read = root->AsDictionary();
    if (!read) return false;
    dictionary = std::move(*read);
    return true;
}

bool WritePreferencePlist(const platform::PlistDictionary& dictionary, const std::string& fileNameFormat) {
    const std::optional<fs::path> file = PreferenceFile(fileNameFormat);
    if (!file) return false;
    const std::optional<std::string> xml = platform::SerializePropertyListXML(dictionary);
    if (!xml) return false;

    // The new contents go to a file of their own beside the old one, which a rename then
    // replaces in one step.
    std::string name(".");
    name += file->filename().string();
    name += ".XXXXXX";
    std::string temporary = (file->parent_path() / name).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, *xml) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temporary.c_str(), file->c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd = ::open(file->parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
