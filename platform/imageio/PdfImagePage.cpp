#include "platform/imageio/PdfImagePage.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <memory>
#include <string>

namespace platform {

void WriteImagePageDocument(QPDF& pdf, QPDFObjectHandle picture, double width, double height,
                            std::vector<std::uint8_t>& out) {
    out.clear();
    char content[128];
    std::snprintf(content, sizeof content, "q %.4f 0 0 %.4f 0 0 cm /Im0 Do Q\n", width, height);
    QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, std::string(content));

    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", picture);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, width, height)));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", contents);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);

    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(true);
    writer.setDeterministicID(true);
    writer.write();
    std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
    if (written) out.assign(written->getBuffer(), written->getBuffer() + written->getSize());
}

}  // namespace platform
