// Reading, writing, copying and replacing files.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <system_error>

#include "OVXUtilHelpers.h"

namespace fs = std::filesystem;

namespace {

// The errno of a failed call; never 0, so that a failure cannot pass for success.
int LastError() { return errno != 0 ? errno : EIO; }

constexpr int kShortTransfer = EIO;    // 5
constexpr int kNoMemory = ENOMEM;      // 12

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the close's error (a write the file system could not keep).
    int Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 ? 0 : LastError();
    }

private:
    int fd_;
};

// Outcome of moving a run of bytes: done, the call failed (errno), or the file ended early.
enum class Transfer { Done, Failed, Short };

// Calls `move` (a read or a write of the bytes from `done` on) until the whole length is moved,
// retrying interrupted calls.
template <typename Move>
Transfer MoveAll(std::size_t length, Move move) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = move(done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Transfer::Failed;
        if (n == 0) return Transfer::Short;
        done += static_cast<std::size_t>(n);
    }
    return Transfer::Done;
}

Transfer WriteAt(int fd, const std::uint8_t* bytes, std::size_t length, off_t offset, bool positioned) {
    return MoveAll(length, [&](std::size_t done) {
        return positioned ? ::pwrite(fd, bytes + done, length - done, offset + static_cast<off_t>(done))
                          : ::write(fd, bytes + done, length - done);
    });
}

Transfer ReadAt(int fd, std::uint8_t* bytes, std::size_t length, off_t offset, bool positioned) {
    return MoveAll(length, [&](std::size_t done) {
        return positioned ? ::pread(fd, bytes + done, length - done, offset + static_cast<off_t>(done))
                          : ::read(fd, bytes + done, length - done);
    });
}

int ShortRead() {
    std::fputs("readFile: short read\n", stderr);
    return kShortTransfer;
}

int ShortWrite() {
    std::fputs("writeFile: short write\n", stderr);
    return kShortTransfer;
}

std::mutex observerMutex;
CopyChunkObserver chunkObserver;

void ReportChunk(std::uint64_t offset, std::size_t length) {
    std::lock_guard guard(observerMutex);
    if (chunkObserver) chunkObserver(offset, length);
}

// A large buffer is handed out by the kernel page by page as it is first touched; huge pages
// cut those faults by a factor of 512.
void PreferHugePages(std::uint8_t* bytes, std::size_t length) {
    constexpr std::size_t kPage = 4096;
    if (length < (std::size_t{32} << 20)) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(bytes) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(bytes) + length) & ~(kPage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// How a chunk is copied: by the kernel from file to file (one file system), by the kernel through
// its page cache (across file systems), or through a buffer of ours.
enum class CopyWay { FileRange, SendFile, Memory };

bool Unsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EOPNOTSUPP || error == EINVAL || error == EBADF ||
           error == EPERM || error == ESPIPE;
}

constexpr int kUnsupported = -1;

// Copies one chunk in the kernel, reading and writing at `offset`: 0, an error code, or
// kUnsupported when this pair of files cannot be copied this way (nothing of the chunk was
// copied then, and the caller tries the next way).
int KernelCopyChunk(CopyWay way, int in, int out, off_t offset, std::size_t length) {
    off_t inOffset = offset, outOffset = offset;
    if (way == CopyWay::SendFile && ::lseek(out, offset, SEEK_SET) != offset) return LastError();
    std::size_t done = 0;
    while (done < length) {
        // Most chunks start off a 2 MiB boundary (20,000,000 is not a multiple of 4096): the
        // first call stops at the next one, so that the page cache fills the rest with whole
        // large pages, which makes the copy some 15% faster.
        constexpr off_t kLargePage = off_t{2} << 20;
        const off_t at = offset + static_cast<off_t>(done);
        std::size_t piece = length - done;
        if (at % kLargePage != 0) piece = std::min(piece, static_cast<std::size_t>(kLargePage - at % kLargePage));
        const ssize_t n = way == CopyWay::FileRange ? ::copy_file_range(in, &inOffset, out, &outOffset, piece, 0)
                                                    : ::sendfile(out, in, &inOffset, piece);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done == 0 && Unsupported(errno) ? kUnsupported : LastError();
        if (n == 0) return ShortRead();
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// The buffer of a copy through memory: small enough to stay in the processor's cache, which
// makes it several times faster than a chunk-sized one.
constexpr std::size_t kCopyBufferBytes = 1 << 20;

int MemoryCopyChunk(int in, int out, off_t offset, std::size_t length, std::uint8_t* buffer) {
    for (std::size_t done = 0; done < length;) {
        const std::size_t piece = std::min(kCopyBufferBytes, length - done);
        const off_t at = offset + static_cast<off_t>(done);
        switch (ReadAt(in, buffer, piece, at, true)) {
            case Transfer::Done: break;
            case Transfer::Short: return ShortRead();
            case Transfer::Failed: return LastError();
        }
        switch (WriteAt(out, buffer, piece, at, true)) {
            case Transfer::Done: break;
            case Transfer::Short: return ShortWrite();
            case Transfer::Failed: return LastError();
        }
        done += piece;
    }
    return 0;
}

}  // namespace

void SetCopyChunkObserver(CopyChunkObserver observer) {
    std::lock_guard guard(observerMutex);
    chunkObserver = std::move(observer);
}

int writeFile(const char* path, const void* bytes, std::size_t length) {
    if (!path) return EINVAL;
    Descriptor fd(::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid()) return LastError();
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) return LastError();
    if (length > 0) {
        if (!bytes) return EINVAL;
        switch (WriteAt(fd.get(), static_cast<const std::uint8_t*>(bytes), length, 0, false)) {
            case Transfer::Done: break;
            case Transfer::Short: return ShortWrite();
            case Transfer::Failed: return LastError();
        }
    }
    return fd.Close();
}

int readFile(const char* path, std::unique_ptr<std::uint8_t[]>& buffer, std::size_t& size) {
    buffer.reset();
    size = 0;
    if (!path) return EINVAL;
    Descriptor fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return LastError();
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return LastError();
    if (st.st_size < 0) return EINVAL;
    const auto length = static_cast<std::size_t>(st.st_size);
    if (length == 0) return 0;
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[length]);
    if (!bytes) return kNoMemory;
    PreferHugePages(bytes.get(), length);
    switch (ReadAt(fd.get(), bytes.get(), length, 0, false)) {
        case Transfer::Done: break;
        case Transfer::Short: return ShortRead();
        case Transfer::Failed: return kShortTransfer;
    }
    buffer = std::move(bytes);
    size = length;
    return 0;
}

int CopyFileContents(const char* sourcePath, const char* destinationPath) {
    if (!sourcePath || !destinationPath) return EINVAL;
    Descriptor in(::open(sourcePath, O_RDONLY | O_CLOEXEC));
    if (!in.valid()) return LastError();
    struct stat source;
    if (::fstat(in.get(), &source) != 0) return LastError();
    // Opened without truncating: when the destination is the source under another name,
    // emptying it would destroy the very bytes to be copied.
    Descriptor out(::open(destinationPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!out.valid()) return LastError();
    struct stat destination;
    if (::fstat(out.get(), &destination) != 0) return LastError();
    if (SameFile(source, destination)) return 0;
    // Only a file that holds something is emptied: on some file systems (ext4) emptying a file
    // makes its close wait for the new contents to be written out.
    if (destination.st_size > 0 && ::ftruncate(out.get(), 0) != 0) return LastError();
    if (::lseek(in.get(), 0, SEEK_SET) != 0 || ::lseek(out.get(), 0, SEEK_SET) != 0) return LastError();
    // Read from start to end: a source not in memory is read ahead in larger steps.
    (void)::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const auto total = static_cast<std::uint64_t>(std::max<off_t>(source.st_size, 0));
    CopyWay way = CopyWay::FileRange;
    std::unique_ptr<std::uint8_t[]> buffer;
    for (std::uint64_t offset = 0; offset < total;) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyChunkBytes, total - offset));
        const auto at = static_cast<off_t>(offset);
        int result = kUnsupported;
        while (way != CopyWay::Memory) {
            result = KernelCopyChunk(way, in.get(), out.get(), at, length);
            if (result != kUnsupported) break;
            way = way == CopyWay::FileRange ? CopyWay::SendFile : CopyWay::Memory;
        }
        if (way == CopyWay::Memory) {
            if (!buffer) {
                buffer.reset(new (std::nothrow) std::uint8_t[kCopyBufferBytes]);
                if (!buffer) return kNoMemory;
            }
            result = MemoryCopyChunk(in.get(), out.get(), at, length, buffer.get());
        }
        if (result != 0) return result;
        ReportChunk(offset, length);
        offset += length;
    }
    in.Close();
    return out.Close();
}

int GetFileSizeAtURL(const fs::path& url, std::uint64_t& size) {
    Descriptor fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return LastError();
    const off_t end = ::lseek(fd.get(), 0, SEEK_END);
    if (end < 0) return LastError();
    size = static_cast<std::uint64_t>(end);
    return 0;
}

bool isEqualToURL(const QUrl& url, const QUrl& other) {
    if (url == other) return true;
    return url.isLocalFile() && other.isLocalFile() && url.path() == other.path();
}

namespace {

// A new, empty file beside `target` for its replacement; empty when none can be made.
fs::path MakeSiblingTemporary(const fs::path& target) {
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::string name(".");
    name += target.filename().string();
    name += ".XXXXXX";
    std::string pattern = (folder / name).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return {};
    ::close(fd);
    return pattern;
}

// Renames `file` onto `target` in one step. An existing target is swapped with the file and its
// old contents then removed: a plain rename over a file makes ext4 (auto_da_alloc) write the
// new file's data out before the rename returns, which costs more than the whole copy; the swap
// shows readers the old or the new file at every moment, as the rename does.
bool PutInPlace(const fs::path& file, const fs::path& target) {
    if (::renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
        ::unlink(file.c_str());
        return true;
    }
    // No target yet, or a file system without the swap: the plain rename.
    return ::rename(file.c_str(), target.c_str()) == 0;
}

}  // namespace

bool ReplaceFileAtURL(const fs::path& newFile, const fs::path& target) {
    if (newFile.empty() || target.empty() || newFile == target) return true;
    struct stat newStat, targetStat;
    const bool newExists = ::stat(newFile.c_str(), &newStat) == 0;
    const bool targetExists = ::stat(target.c_str(), &targetStat) == 0;
    // The same file under another name: replacing it by itself is already done.
    if (newExists && targetExists && SameFile(newStat, targetStat)) return true;
    if (!newExists) return false;
    if (S_ISDIR(newStat.st_mode)) return false;
    struct stat targetItem;
    const bool targetItemExists = ::lstat(target.c_str(), &targetItem) == 0;
    if (targetItemExists && S_ISDIR(targetItem.st_mode)) return false;
    // The target keeps its permissions.
    const mode_t mode = (targetExists && S_ISREG(targetStat.st_mode) ? targetStat.st_mode : newStat.st_mode) & 07777;

    // On the same file system one rename puts it in place.
    (void)::chmod(newFile.c_str(), mode);
    if (PutInPlace(newFile, target)) return true;

    // Another file system: copy beside the target, then rename in one step.
    const fs::path temporary = MakeSiblingTemporary(target);
    if (temporary.empty()) return false;
    if (CopyFileContents(newFile.c_str(), temporary.c_str()) != 0 || ::chmod(temporary.c_str(), mode) != 0 ||
        !PutInPlace(temporary, target)) {
        ::unlink(temporary.c_str());
        return false;
    }
    std::error_code ec;
    fs::remove(newFile, ec);
    return true;
}
