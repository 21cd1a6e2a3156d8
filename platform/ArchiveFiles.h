#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The parts of packaged documents: entries of a zip file (libzip) and streams of a compound file
// (libgsf's OLE2 reader and writer).
namespace platform {

// Readies libgsf for use from any thread; called by everything here, and before the first
// compound file is made elsewhere.
void InitialiseGsf();

// The bytes of one entry of the zip file; nothing when the file is no zip or lacks the entry.
std::optional<std::vector<std::uint8_t>> ReadZipEntry(const std::filesystem::path& zipFile, const std::string& name);

// The bytes of a stream at the top of the compound file; nothing when the file is none or lacks
// the stream.
std::optional<std::vector<std::uint8_t>> ReadCompoundFileStream(const std::filesystem::path& file,
                                                                const std::string& name);

struct CompoundFileStream {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// A compound file holding `streams` at its top, written in this order; nothing when libgsf fails.
// Streams of 4096 bytes or more sit in the file's big sectors, smaller ones in its mini stream.
std::optional<std::vector<std::uint8_t>> CompoundFileBytes(const std::vector<CompoundFileStream>& streams);

}  // namespace platform
