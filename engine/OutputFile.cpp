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

PendingFile::PendingFile(fs::path destination, fs::path temporary, int fd)
    : destination_(std::move(destination)), temporary_(std::move(temporary)), fd_(fd) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      fd_(other.fd_),
      done_(other.done_) {
    other.fd_ = -1;
    other.done_ = true;
}

PendingFile::~PendingFile() { Discard(); }

std::optional<PendingFile> PendingFile::Create(const fs::path& destination) {
    if (destination.empty() || destination.filename().empty()) return std::nullopt;
    thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path folder = destination.parent_path().empty() ? fs::path(".") : destination.parent_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        std::string name(1, '.');
        name += destination.filename().string();
        name += '.';
        name += suffix;
        name += ".part";
        fs::path temporary = folder / name;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PendingFile::Commit(bool replace, const std::optional<FileAttributes>& attributes) {
    if (done_) return false;
    bool ok = true;
    if (fd_ >= 0) {
        ok = ::close(fd_) == 0;
        fd_ = -1;
    }
    if (ok && attributes && attributes->permissions) {
        std::error_code ec;
        fs::permissions(temporary_, *attributes->permissions, fs::perm_options::replace, ec);
        ok = !ec;
    }
    if (ok) {
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
    if (!ok) {
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
