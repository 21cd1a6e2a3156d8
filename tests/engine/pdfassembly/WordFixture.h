#pragma once

#include <filesystem>
#include <string>

namespace assemblytest {

// Writes a Word 97 (.doc) document holding `text` (8-bit, paragraphs ended by '\r').
bool WriteWordFixture(const std::filesystem::path& file, const std::string& text);

}  // namespace assemblytest
