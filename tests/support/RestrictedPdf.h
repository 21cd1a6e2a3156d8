#pragma once

#include <filesystem>
#include <string>

// PDFs whose permissions forbid copying their content, written with QPDF (AES-256).
namespace testpdf {

// One page of `width` by `height` points; `userPassword` may be empty (the file then opens
// without asking, with the restrictions in force).
std::filesystem::path WriteCopyProtected(const std::filesystem::path& path, const std::string& userPassword,
                                         const std::string& ownerPassword, double width = 612,
                                         double height = 792);

}  // namespace testpdf
