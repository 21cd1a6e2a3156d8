#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// What the watch folder does to its source files, and how it tells that a file is the one it
// converted.
namespace watch {

// The identity of a regular file: the same file, unchanged, keeps all of these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;  // status change (ctime): moves with every write, cannot be set back

    // Same device, inode, size and modification time.
    bool operator==(const FileIdentity& other) const {
        return device == other.device && inode == other.inode && size == other.size && modifiedNs == other.modifiedNs;
    }
};

// The identity of `path` itself (a link is not followed); nothing unless it is a regular file.
std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// Whether some process has the file open for writing, by asking for a read lease (which the
// kernel refuses while a writer has it open). Nothing when the kernel cannot tell (the file is
// someone else's, or its file system has no leases).
std::optional<bool> IsOpenForWriting(const std::filesystem::path& path);

// A file of the source folder that the watch converts: "pdf" or "ai" in any letter case, or a
// file whose type attribute says PDF, and in every case one that opens as a PDF document.
bool IsConvertiblePDFFile(const std::filesystem::path& path);

// Two paths name the same folder: the folders themselves are compared (links resolved, device
// and inode), not their spellings. Paths that cannot be looked at are compared as written.
bool IsSameFolder(const std::filesystem::path& a, const std::filesystem::path& b);

// Both folders are on one file system (a rename between them is atomic); false when that cannot
// be told, so the caller takes the careful path.
bool IsOnSameFileSystem(const std::filesystem::path& a, const std::filesystem::path& b);

// Moves a converted source into `folder` under its own name, or the first free numbered one
// ("a.pdf", "a 1.pdf", "a 2.pdf", ...). With `overwrite` an existing file (never a folder) of a
// candidate's name is replaced, atomically. Nothing is moved unless the source still has the
// identity `converted`. Across file systems the file is copied into the folder, synced and
// compared with the source before the source is removed. False when it was not moved: the
// source is then where it was, and no partial copy is left behind.
bool MoveSourceFile(const std::filesystem::path& source, const FileIdentity& converted,
                    const std::filesystem::path& folder, bool overwrite);

// Removes a converted source, when it still has the identity `converted`.
bool DeleteSourceFile(const std::filesystem::path& source, const FileIdentity& converted);

// Writes everything of the file system holding `folder` to the disk.
void SyncFileSystemOf(const std::filesystem::path& folder);

// The numbered candidate `n` for `fileName`: "a.pdf" for 0, "a 1.pdf" for 1; a name without an
// extension gets the number at its end.
std::string NumberedName(const std::filesystem::path& fileName, int n);

}  // namespace watch
