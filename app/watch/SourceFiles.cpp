#include "watch/SourceFiles.h"

#include <QString>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "Common UI Code/OVXUtil.h"
#include "filelist/InputFiles.h"
#include "platform/PdfDocument.h"

namespace fs = std::filesystem;

namespace watch {

namespace {

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

FileIdentity IdentityFromStat(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modifiedNs = Nanoseconds(st.st_mtim);
    id.changedNs = Nanoseconds(st.st_ctim);
    return id;
}

// A descriptor closed when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now; false when the close reports an error (a write that did not reach the file).
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

void SyncFolder(const fs::path& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

bool WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

ssize_t ReadSome(int fd, char* data, std::size_t length) {
    for (;;) {
        const ssize_t got = ::read(fd, data, length);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

// Reads exactly `length` bytes unless the file ends first; the count read, or -1.
ssize_t ReadFull(int fd, char* data, std::size_t length) {
    std::size_t total = 0;
    while (total < length) {
        const ssize_t got = ReadSome(fd, data + total, length - total);
        if (got < 0) return -1;
        if (got == 0) break;
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

// Whether the two open files hold the same bytes, read from their starts.
bool SameContents(int a, int b) {
    if (::lseek(a, 0, SEEK_SET) != 0 || ::lseek(b, 0, SEEK_SET) != 0) return false;
    std::vector<char> left(1 << 16), right(1 << 16);
    for (;;) {
        const ssize_t l = ReadFull(a, left.data(), left.size());
        const ssize_t r = ReadFull(b, right.data(), right.size());
        if (l < 0 || r < 0 || l != r) return false;
        if (l == 0) return true;
        if (std::memcmp(left.data(), right.data(), static_cast<std::size_t>(l)) != 0) return false;
    }
}

enum class Placed { Done, Taken, Failed };

// Puts `from` at `to` by renaming within one file system: replacing a file there only when
// `replace`.
Placed RenameInto(const fs::path& from, const fs::path& to, bool replace, int* error) {
    int result;
    if (replace) {
        result = ::rename(from.c_str(), to.c_str());
    } else {
        result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the no-replace rename: a hard link claims the name only when
            // it is free.
            result = ::link(from.c_str(), to.c_str());
            if (result == 0) ::unlink(from.c_str());
        }
    }
    if (result == 0) return Placed::Done;
    *error = errno;
    return errno == EEXIST ? Placed::Taken : Placed::Failed;
}

// Copies the source into `folder` under a hidden name, syncs the copy, checks it against the
// source and only then gives it the name `to`; the source is removed last, when it is still the
// converted file.
Placed CopyAcross(const fs::path& source, const FileIdentity& converted, const fs::path& folder, const fs::path& to,
                  bool replace) {
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.valid()) return Placed::Failed;
    struct stat st {};
    if (::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode) || !(IdentityFromStat(st) == converted))
        return Placed::Failed;

    std::string pattern = (folder / ".vellipse-move-XXXXXX").string();
    Descriptor out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!out.valid()) return Placed::Failed;
    const fs::path temporary = pattern;
    bool ok = true;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ReadSome(in.get(), buffer.data(), buffer.size());
        if (got < 0) ok = false;
        if (got <= 0) break;
        if (!WriteAll(out.get(), buffer.data(), static_cast<std::size_t>(got))) {
            ok = false;
            break;
        }
    }
    if (ok) {
        ::fchmod(out.get(), st.st_mode & 07777);
        const timespec times[2] = {st.st_atim, st.st_mtim};
        ::futimens(out.get(), times);
        ok = ::fsync(out.get()) == 0;
    }
    if (ok) {
        // The comparison reads the copy from the disk, not from what is still cached of the
        // writing.
        ::posix_fadvise(out.get(), 0, 0, POSIX_FADV_DONTNEED);
        ok = SameContents(in.get(), out.get());
    }
    ok = out.Close() && ok;
    if (ok) {
        struct stat now {};
        ok = ::fstat(in.get(), &now) == 0 && IdentityFromStat(now) == converted;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return Placed::Failed;
    }
    int error = 0;
    const Placed placed = RenameInto(temporary, to, replace, &error);
    if (placed != Placed::Done) {
        ::unlink(temporary.c_str());
        return placed;
    }
    SyncFolder(folder);
    // The copy is safe on the disk: the source goes, unless it changed in the meantime (then
    // both stay).
    if (const std::optional<FileIdentity> still = IdentityOf(source); still && *still == converted) {
        ::unlink(source.c_str());
        SyncFolder(source.parent_path());
    }
    return Placed::Done;
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return IdentityFromStat(st);
}

std::optional<bool> IsOpenForWriting(const fs::path& path) {
    // A writer that opens the file while the lease is held makes the kernel signal the holder
    // (SIGIO, which would end the program); the lease is let go at once, so the signal carries
    // nothing to act on and is ignored, unless the program already handles it.
    static std::once_flag ignoreLeaseBreaks;
    std::call_once(ignoreLeaseBreaks, [] {
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            ::sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGIO, &ignore, nullptr);
        }
    });
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) return std::nullopt;
    if (::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return false;
    }
    if (errno == EAGAIN) return true;
    return std::nullopt;
}

bool IsConvertiblePDFFile(const fs::path& path) {
    // Only regular files: opening a pipe or a device named like a PDF could block the scan.
    if (!IdentityOf(path)) return false;
    if (!IsSupportedInputFile(FromFsPath(path))) return false;
    return platform::PdfDocument::Open(path) != nullptr;
}

bool IsSameFolder(const fs::path& a, const fs::path& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return a.lexically_normal() == b.lexically_normal();
}

bool IsOnSameFileSystem(const fs::path& a, const fs::path& b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev;
}

std::string NumberedName(const fs::path& fileName, int n) {
    const std::string name = fileName.filename().string();
    if (n == 0) return name;
    const QString extension = PathExtension(QString::fromStdString(name));
    const std::string stem = FileNameWithoutExtension(fileName);
    std::string numbered = stem;
    numbered.append(" ").append(std::to_string(n));
    if (!extension.isEmpty()) numbered.append(".").append(extension.toStdString());
    return numbered;
}

bool MoveSourceFile(const fs::path& source, const FileIdentity& converted, const fs::path& folder, bool overwrite) {
    const std::optional<FileIdentity> now = IdentityOf(source);
    if (!now || !(*now == converted)) return false;
    for (int n = 0; n < 100000; ++n) {
        const fs::path candidate = folder / NumberedName(source.filename(), n);
        struct stat st {};
        bool replace = false;
        if (::lstat(candidate.c_str(), &st) == 0) {
            // Only a file (or a link) is replaced, never a folder.
            if (!overwrite || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) continue;
            replace = true;
        } else if (errno != ENOENT) {
            return false;
        }
        int error = 0;
        Placed placed = RenameInto(source, candidate, replace, &error);
        if (placed == Placed::Failed && error == EXDEV) placed = CopyAcross(source, converted, folder, candidate, replace);
        if (placed == Placed::Done) return true;
        if (placed == Placed::Failed) return false;
        // Someone took the name in the meantime: the next one.
    }
    return false;
}

bool DeleteSourceFile(const fs::path& source, const FileIdentity& converted) {
    const std::optional<FileIdentity> now = IdentityOf(source);
    if (!now || !(*now == converted)) return false;
    return ::unlink(source.c_str()) == 0;
}

void SyncFileSystemOf(const fs::path& folder) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::syncfs(fd.get());
}

}  // namespace watch
