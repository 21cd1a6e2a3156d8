// Folder sizes, the application's data folder, the daily marker and the PDF redraw.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "OVXUtilHelpers.h"
#include "Common UI Code/OVXUtilInternal.h"
#include "platform/PdfDocument.h"

namespace fs = std::filesystem;

std::uint64_t GetFolderSize(const fs::path& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with('.')) {
            it.disable_recursion_pending();
            continue;
        }
        std::error_code statError;
        const fs::file_status st = it->symlink_status(statError);
        if (statError || !fs::is_regular_file(st)) continue;
        const std::uintmax_t size = it->file_size(statError);
        if (!statError) total += size;
    }
    return total;
}

std::optional<fs::path> GetApplicationSupportFolder(const std::optional<std::string>& name) {
    std::optional<fs::path> data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        data = fs::path(xdg);
    else if (std::optional<fs::path> home = ovx::HomeDirectory(); home && home->is_absolute())
        data = *home / ".local" / "share";
    if (data) {
        fs::path folder = *data / name.value_or("OVXApplication");
        if (ovx::MakeDirectories(folder)) return folder;
    }
    std::fputs("Alert - Can't find application support folder\n", stderr);
    return std::nullopt;
}

fs::path DailyMarkerPath() { return ovx::SystemTemporaryDirectory() / ".OVXStore"; }

namespace {

// The local calendar day of a moment as yyyymmdd, comparable as a number.
long LocalDay(std::time_t moment) {
    std::tm local{};
    if (!::localtime_r(&moment, &local)) return 0;
    return (local.tm_year + 1900L) * 10000L + (local.tm_mon + 1L) * 100L + local.tm_mday;
}

}  // namespace

bool IsDailyMarkerStale() {
    const fs::path marker = DailyMarkerPath();
    struct stat st;
    if (::lstat(marker.c_str(), &st) != 0) {
        if (errno == ENOENT) return true;
    } else if (S_ISREG(st.st_mode) && LocalDay(st.st_mtime) >= LocalDay(std::time(nullptr))) {
        return false;
    }
    ::unlink(marker.c_str());
    return true;
}

bool CreateDailyMarker() {
    const fs::path marker = DailyMarkerPath();
    ::unlink(marker.c_str());
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

std::vector<std::uint8_t> CreatePDFDataFromDocument(const platform::PdfDocument& document) {
    return document.RedrawAsPdf();
}
