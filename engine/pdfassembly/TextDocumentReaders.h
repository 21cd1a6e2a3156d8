#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

class QTextDocument;

// Reading text documents into a Qt text document: plain text (UTF-8, UTF-16 with a byte-order
// mark), HTML, RTF, RTFD, ODT, DOCX, WordML, DOC and web archives.
namespace pdfassembly {

enum class TextFormat { Plain, RTF, RTFD, HTML, WebArchive, ODT, DOCX, WordML, DOC };

// The format of a file, by its contents and, where they do not tell, its name.
TextFormat DetectTextFormat(const std::filesystem::path& file);

// Loads the file into `document` (which should be empty). Nothing when it cannot be read;
// otherwise whether it is rich text (every format but plain text).
std::optional<bool> LoadTextDocument(const std::filesystem::path& file, QTextDocument& document);

// The readers, over the bytes of their file or part. `attachments` is the folder whose files an
// RTFD's text refers to.
bool ReadRtf(std::string_view rtf, QTextDocument& document, const std::filesystem::path& attachments = {});
bool ReadOdtContent(std::string_view contentXml, std::string_view stylesXml, QTextDocument& document);
bool ReadWordprocessingML(std::string_view documentXml, QTextDocument& document);
bool ReadWordBinary(const std::filesystem::path& file, QTextDocument& document);
bool ReadWebArchive(std::string_view archive, QTextDocument& document);

}  // namespace pdfassembly
