#include "platform/Resources.h"

#include <mutex>
#include <system_error>

namespace platform {
namespace {
std::mutex gMutex;
std::filesystem::path gOverride;

std::filesystem::path DefaultResourceDirectory() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().parent_path() / "share" / "vellipse";
}
}  // namespace

std::string BundleIdentifier() { return "org.vellipse.Vellipse"; }

std::filesystem::path ResourceDirectory() {
    {
        std::lock_guard lock(gMutex);
        if (!gOverride.empty()) return gOverride;
    }
    static const std::filesystem::path dir = DefaultResourceDirectory();
    return dir;
}

std::filesystem::path ResourcePath(const std::string& fileName) {
    std::filesystem::path candidate = ResourceDirectory() / fileName;
    std::error_code ec;
    return std::filesystem::is_regular_file(candidate, ec) ? candidate : std::filesystem::path{};
}

void SetResourceDirectory(const std::filesystem::path& directory) {
    std::lock_guard lock(gMutex);
    gOverride = directory;
}

}  // namespace platform
