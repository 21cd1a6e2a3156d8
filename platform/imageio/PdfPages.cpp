#include "platform/imageio/PdfPages.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <memory>

namespace platform {

bool JoinPdfDocuments(const std::vector<std::vector<std::uint8_t>>& documents, std::vector<std::uint8_t>& out) {
    out.clear();
    try {
        QPDF joined;
        joined.emptyPDF();
        QPDFPageDocumentHelper pages(joined);
        // The sources are read lazily by the copies: they live until the write.
        std::vector<std::unique_ptr<QPDF>> sources;
        int count = 0;
        for (const std::vector<std::uint8_t>& bytes : documents) {
            auto source = std::make_unique<QPDF>();
            source->setSuppressWarnings(true);
            source->processMemoryFile("page", reinterpret_cast<const char*>(bytes.data()), bytes.size());
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*source).getAllPages()) {
                pages.addPage(page, false);
                ++count;
            }
            sources.push_back(std::move(source));
        }
        if (count == 0) return false;
        QPDFWriter writer(joined);
        writer.setOutputMemory();
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(true);
        writer.setDeterministicID(true);
        writer.write();
        std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
        if (written) out.assign(written->getBuffer(), written->getBuffer() + written->getSize());
    } catch (const std::exception&) {
        out.clear();
        return false;
    }
    return !out.empty();
}

}  // namespace platform
