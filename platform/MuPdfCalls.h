#pragma once

// MuPDF calls that both the page renderer and the text reader make, each wrapped so that the
// library's longjmp unwinds through C state only and its error becomes a return value.

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

namespace platform::mupdf {

// The document at `path`, or null when MuPDF cannot open it.
inline pdf_document* OpenPdf(fz_context* ctx, const char* path) {
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) { doc = pdf_open_document(ctx, path); }
    fz_catch(ctx) { doc = nullptr; }
    return doc;
}

// pdf_authenticate_password's answer (0 wrong, 1 none needed, 2 user, 4 owner); 0 on an error.
inline int AuthenticatePdf(fz_context* ctx, pdf_document* doc, const char* password) {
    int result = 0;
    fz_var(result);
    fz_try(ctx) { result = pdf_authenticate_password(ctx, doc, password); }
    fz_catch(ctx) { result = 0; }
    return result;
}

}  // namespace platform::mupdf
