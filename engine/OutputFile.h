#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "engine/ImageConversion.h"

// An output file written under a temporary name beside its destination and given the
// destination's name only once it is complete: a failed or interrupted write never leaves a
// half-written file, and never destroys the file it was to replace.
class PendingFile {
public:
    // Creates the temporary file (empty, mode 0666 less the umask) in the destination's folder.
    static std::optional<PendingFile> Create(const std::filesystem::path& destination);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    PendingFile(const PendingFile&) = delete;
    ~PendingFile();  // removes the temporary file unless committed

    const std::filesystem::path& path() const { return temporary_; }
    const std::filesystem::path& destination() const { return destination_; }

    // Writes all the bytes to the temporary file. False on any error.
    bool Write(const std::uint8_t* data, std::size_t size);
    // Gives the file its destination name: over an existing file when `replace`, else only
    // when the name is still free. False (and the temporary file removed) when that fails.
    bool Commit(bool replace, const std::optional<FileAttributes>& attributes = std::nullopt);
    // Removes the temporary file.
    void Discard();

private:
    PendingFile(std::filesystem::path destination, std::filesystem::path temporary, int fd);
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool done_ = false;
};
