#pragma once

#include <cstdint>
#include <vector>

// One PDF of the pages of several (the image-file path's multi-page PDF output).
namespace platform {

// Appends the pages of each document, in order, to one new document written into `out`. False
// (and `out` empty) when none of them has a page or QPDF fails.
bool JoinPdfDocuments(const std::vector<std::vector<std::uint8_t>>& documents, std::vector<std::uint8_t>& out);

}  // namespace platform
