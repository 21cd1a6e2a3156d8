#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstdint>
#include <vector>

// The one page of the image-holding PDF documents (PDF and Illustrator output): a page of
// `width` × `height` points showing `picture` over all of it, written into `out`. Streams that
// are not compressed yet are Flate-compressed; compressed ones are kept as they are. QPDF errors
// propagate as exceptions.
namespace platform {

void WriteImagePageDocument(QPDF& pdf, QPDFObjectHandle picture, double width, double height,
                            std::vector<std::uint8_t>& out);

}  // namespace platform
