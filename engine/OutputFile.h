#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "engine/ImageConversion.h"

// An output file written unnamed in its destination's folder (under a hidden temporary name
// where the file system has no unnamed files) and given the destination's name only once it is
// complete: a failed or interrupted write, even a killed program, never leaves a half-written
// file, and never destroys the file it was to replace.
class PendingFile {
public:
    // Creates the file (empty, mode 0666 less the umask) in the destination's folder.
    static std::optional<PendingFile> Create(const std::filesystem::path& destination);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    ~PendingFile();  // removes the temporary file unless committed

    // The file's temporary name; empty while it has none (an unnamed file).
    const std::filesystem::path& path() const { return temporary_; }
    // The open file, for libraries that write it themselves; it stays ours.
    int descriptor() const { return fd_; }
    const std::filesystem::path& destination() const { return destination_; }

    // Appends all the bytes. False on any error.
    bool Write(const std::uint8_t* data, std::size_t size);
    // Gives the file its destination name: over an existing file when `replace`, else only
    // when the name is still free. False (and the temporary file removed) when that fails.
    bool Commit(bool replace, const std::optional<FileAttributes>& attributes = std::nullopt);
    // Removes the temporary file.
    void Discard();
    // The errno of the last failure; 0 when none.
    int error() const { return error_; }

private:
    PendingFile(std::filesystem::path destination, std::filesystem::path temporary, int fd);
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool done_ = false;
    int error_ = 0;
};

// Writes the bytes to a file at `path` made for everyone the umask allows: over an existing
// file when `replace`, else only when the name is free. A file left short (or that fails to
// close) is removed. False on any failure.
bool WriteWholeFile(const std::filesystem::path& path, const void* data, std::size_t size, bool replace);
