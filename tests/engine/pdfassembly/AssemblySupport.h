#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "engine/ImageConversion.h"

// What the PDF assembly tests share: peers' answers about written PDFs and a progress target
// that records what it is told.
namespace assemblytest {

// `pdftotext` of the file (no layout), its words in order.
std::vector<std::string> PdfWords(const std::filesystem::path& pdf, const std::string& password = {});
// Whether `words` holds `wanted` in that order (other words may stand between them).
bool HasInOrder(const std::vector<std::string>& words, const std::vector<std::string>& wanted);
// `pdfinfo`'s value of a key ("Pages", "Page size", "Title"...); "" when absent.
std::string PdfInfo(const std::filesystem::path& pdf, const std::string& key, const std::string& password = {});
// Whether `qpdf --check` finds no fault (with the password, if any).
bool QpdfCheckClean(const std::filesystem::path& pdf, const std::string& password = {}, std::string* log = nullptr);
std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

class RecordingTarget : public ProgressTarget {
public:
    bool isConversionCancelled() override { return cancelAfter > 0 && static_cast<int>(statuses.size()) >= cancelAfter; }
    void UpdatePageProgressStatus(long status) override { statuses.push_back(status); }
    std::vector<long> statuses;
    int cancelAfter = 0;  // answers "cancelled" once this many statuses arrived; 0 never
};

}  // namespace assemblytest
