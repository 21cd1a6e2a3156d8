#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/PdfText.h"

// The text documents of the text export. Each writer answers whether the document is in place.
namespace textexport {

// Writes `text` at `file` as the output kind says (1 UTF-8, 2 UTF-16, 3 RTF, 4 RTFD, 5 DOC,
// 6 DOCX, 7 ODT); any other kind writes nothing.
bool WriteTextDocument(std::int32_t kind, const std::filesystem::path& file, const platform::StyledText& text);

// RTF of the text: a font table of the runs' fonts, their sizes, bold and italic; characters
// beyond ASCII as \uN with a "?" for readers that lack Unicode.
std::string RtfDocument(const platform::StyledText& text);

// A Word 97 binary document of the text: line feeds end paragraphs, the runs keep their font,
// size, bold and italic. Nothing when the compound file cannot be made.
std::optional<std::vector<std::uint8_t>> WordDocument(const platform::StyledText& text);

}  // namespace textexport
