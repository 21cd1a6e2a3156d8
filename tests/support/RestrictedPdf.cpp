#include "support/RestrictedPdf.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include "support/TestPdf.h"

namespace testpdf {

std::filesystem::path WriteCopyProtected(const std::filesystem::path& path, const std::string& userPassword,
                                         const std::string& ownerPassword, double width, double height) {
    const std::filesystem::path plain = path.string() + ".plain";
    Options options;
    options.pages[0].width = width;
    options.pages[0].height = height;
    Write(plain, options);
    {
        QPDF pdf;
        pdf.processFile(plain.c_str());
        QPDFWriter writer(pdf, path.c_str());
        writer.setStaticID(true);
        // Everything allowed but extraction (copying).
        writer.setR6EncryptionParameters(userPassword.c_str(), ownerPassword.c_str(), true, false, true, true, true,
                                         true, qpdf_r3p_full, true);
        writer.write();
    }
    std::error_code ec;
    std::filesystem::remove(plain, ec);
    return path;
}

}  // namespace testpdf
