#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <system_error>

#include "Common UI Code/OVXUtil.h"
#include "engine/OutputFile.h"
#include "engine/pdfassembly/PDFAssembly.h"
#include "platform/MainQueue.h"

namespace fs = std::filesystem;

namespace {

// The bytes written beside the target and renamed over it in one step.
bool WriteBesideAndReplace(const std::vector<std::uint8_t>& bytes, const fs::path& target) {
    std::optional<PendingFile> file = PendingFile::Create(target);
    return file && file->Write(bytes.data(), bytes.size()) && file->Commit(true);
}

}  // namespace

std::optional<PaperLayout> MakePaperLayout(double paperWidth, double paperHeight, std::int64_t orientation,
                                           double left, double right, double top, double bottom) {
    for (double v : {paperWidth, paperHeight, left, right, top, bottom})
        if (!std::isfinite(v)) return std::nullopt;
    if (!(paperWidth > 0) || !(paperHeight > 0)) return std::nullopt;
    PaperLayout layout;
    layout.width = orientation == kPaperLandscape ? paperHeight : paperWidth;
    layout.height = orientation == kPaperLandscape ? paperWidth : paperHeight;
    layout.printableWidth = layout.width - left - right;
    layout.printableHeight = layout.height - top - bottom;
    layout.printableX = left;
    layout.printableY = bottom;
    if (!(layout.printableWidth > 0) || !(layout.printableHeight > 0)) return std::nullopt;
    return layout;
}

bool SafeSavePDF(const std::vector<std::uint8_t>& document, const fs::path& target, bool directFallback,
                 const std::optional<fs::path>& temporaryOverride) {
    if (document.empty() || target.empty() || target.filename().empty()) return false;
    std::error_code ec;
    // A folder at the target is never replaced, let alone removed.
    if (fs::is_directory(target, ec)) return false;
    const std::optional<fs::path> temporary =
        temporaryOverride ? temporaryOverride : GetTemporaryURLAppropriateForURL(target);
    if (!temporary) return WriteBesideAndReplace(document, target);
    const bool own = !temporaryOverride;
    const auto cleanUp = [&] {
        ::unlink(temporary->c_str());
        if (own) RemoveTemporaryReplacementDirectory(*temporary);
    };
    if (!WriteWholeFile(*temporary, document.data(), document.size(), false)) {
        cleanUp();
        return directFallback && WriteBesideAndReplace(document, target);
    }
    // Renamed over the target: until the rename the old file stays whole.
    if (::rename(temporary->c_str(), target.c_str()) == 0) {
        if (own) RemoveTemporaryReplacementDirectory(*temporary);
        return true;
    }
    const bool otherFileSystem = errno == EXDEV;
    cleanUp();
    // A temporary location on another file system cannot be renamed: the file is written beside
    // the target instead, which renames the same way.
    if (otherFileSystem || directFallback) return WriteBesideAndReplace(document, target);
    return false;
}

void ReportAssemblyStatus(ProgressTarget* target, ProgressSelector selector, long status) {
    if (!target || !selector) return;
    platform::PerformOnMainQueueAndWait([target, selector, status] { (target->*selector)(status); });
}
