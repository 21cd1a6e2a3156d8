#include "engine/OutputFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A hidden name beside the destination, of one length whatever the destination's: any name
// the file system takes for the output can be written.
fs::path TemporaryName(const fs::path& folder) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    char name[40];
    std::snprintf(name, sizeof name, ".vellipse-%016llx.part", static_cast<unsigned long long>(random()));
    return folder / name;
}

// Gives the unnamed file open at `fd` the name `path`; fails when the name is taken.
bool LinkUnnamed(int fd, const fs::path& path) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != ENOENT) return false;
    // Without /proc: by the descriptor itself, which needs the right to do so.
    return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

}  // namespace

PendingFile::PendingFile(fs::path destination, fs::path temporary, int fd)
    : destination_(std::move(destination)), temporary_(std::move(temporary)), fd_(fd) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      fd_(other.fd_),
      done_(other.done_),
      error_(other.error_) {
    other.fd_ = -1;
    other.done_ = true;
}

PendingFile::~PendingFile() { Discard(); }

std::optional<PendingFile> PendingFile::Create(const fs::path& destination) {
    if (destination.empty() || destination.filename().empty()) return std::nullopt;
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    // An unnamed file in the destination's folder: nothing of it stays behind, whatever ends
    // the program, until it is linked under its name.
    const int unnamed = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (unnamed >= 0) return PendingFile(destination, fs::path(), unnamed);
    // The file system has no unnamed files: a hidden temporary name.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOSYS) return std::nullopt;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path temporary = TemporaryName(folder);
        const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return PendingFile(destination, std::move(temporary), fd);
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

bool PendingFile::Write(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0) return false;
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PendingFile::Commit(bool replace, const std::optional<FileAttributes>& attributes) {
    if (done_ || fd_ < 0) return false;
    bool ok = true;
    if (attributes && attributes->permissions) {
        ok = ::fchmod(fd_, static_cast<mode_t>(*attributes->permissions)) == 0;
    }
    if (ok && temporary_.empty()) {
        if (!replace) {
            // The name must still be free: a link fails when it is taken.
            ok = LinkUnnamed(fd_, destination_);
        } else {
            // A link cannot replace: a hidden name for a moment, then over the old file.
            for (int attempt = 0; attempt < 100; ++attempt) {
                fs::path temporary = TemporaryName(destination_.parent_path().empty() ? fs::path(".")
                                                                                      : destination_.parent_path());
                ok = LinkUnnamed(fd_, temporary);
                if (ok) {
                    temporary_ = std::move(temporary);
                    break;
                }
                if (errno != EEXIST) break;
            }
        }
    }
    if (ok && !temporary_.empty()) {
        if (replace) {
            ok = ::rename(temporary_.c_str(), destination_.c_str()) == 0;
        } else {
            ok = ::renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, destination_.c_str(), RENAME_NOREPLACE) == 0;
            if (!ok && (errno == EINVAL || errno == ENOSYS)) {
                // A file system without an exclusive rename: a hard link fails when the name is taken.
                ok = ::link(temporary_.c_str(), destination_.c_str()) == 0;
                if (ok) ::unlink(temporary_.c_str());
            }
        }
    }
    if (ok) {
        ok = ::close(fd_) == 0;
        fd_ = -1;
    }
    if (!ok) {
        error_ = errno;
        Discard();
        return false;
    }
    done_ = true;
    return true;
}

void PendingFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!done_ && !temporary_.empty()) ::unlink(temporary_.c_str());
    done_ = true;
}

bool WriteWholeFile(const fs::path& path, const void* data, std::size_t size, bool replace) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0666);
    if (fd < 0) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool closed = ::close(fd) == 0;
    if (done != size || !closed) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}
