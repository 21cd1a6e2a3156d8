#include "platform/PdfText.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cstring>

#include "platform/MuPdfCalls.h"

namespace platform {
namespace {

// MuPDF unwinds with longjmp: the functions that open an fz_try block hold only C state.

int CountPages(fz_context* ctx, pdf_document* doc) {
    int count = 0;
    fz_var(count);
    fz_try(ctx) { count = pdf_count_pages(ctx, doc); }
    fz_catch(ctx) { count = 0; }
    return count < 0 ? 0 : count;
}

// The page's text as MuPDF's text device takes it from the page contents. Shadings and images
// never hold text, so the interpreter is told not to load them: on pages drawn with shadings
// that is most of the work.
fz_stext_page* LoadTextPage(fz_context* ctx, pdf_document* doc, int index) {
    pdf_page* page = nullptr;
    fz_stext_page* text = nullptr;
    fz_device* device = nullptr;
    pdf_processor* processor = nullptr;
    fz_var(page);
    fz_var(text);
    fz_var(device);
    fz_var(processor);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, index);
        text = fz_new_stext_page(ctx, pdf_bound_page(ctx, page));
        fz_stext_options options{};
        device = fz_new_stext_device(ctx, text, &options);
        fz_rect mediabox;
        fz_matrix ctm;
        pdf_page_transform(ctx, page, &mediabox, &ctm);
        processor = pdf_new_run_processor(ctx, device, ctm, "View", nullptr, nullptr, nullptr);
        processor->op_sh = nullptr;
        processor->op_SC_shade = nullptr;
        processor->op_sc_shade = nullptr;
        processor->op_Do_image = nullptr;
        pdf_process_contents(ctx, processor, doc, pdf_page_resources(ctx, page), pdf_page_contents(ctx, page), nullptr);
        pdf_close_processor(ctx, processor);
        fz_close_device(ctx, device);
    }
    fz_always(ctx) {
        pdf_drop_processor(ctx, processor);
        fz_drop_device(ctx, device);
        fz_drop_page(ctx, page ? &page->super : nullptr);
    }
    fz_catch(ctx) {
        fz_drop_stext_page(ctx, text);
        text = nullptr;
    }
    return text;
}

// The font's name without a subset prefix ("ABCDEF+Times-Roman" is Times-Roman).
std::string FontName(fz_context* ctx, fz_font* font) {
    if (!font) return {};
    std::string name = fz_font_name(ctx, font);
    if (name.size() > 7 && name[6] == '+') {
        bool prefix = true;
        for (int i = 0; i < 6; ++i) prefix = prefix && name[static_cast<std::size_t>(i)] >= 'A' &&
                                             name[static_cast<std::size_t>(i)] <= 'Z';
        if (prefix) name.erase(0, 7);
    }
    return name;
}

void AppendUnit(StyledText& out, char16_t unit, const TextRun& style) {
    TextRun* last = out.runs.empty() ? nullptr : &out.runs.back();
    if (last && last->font == style.font && last->size == style.size && last->bold == style.bold &&
        last->italic == style.italic) {
        ++last->length;
    } else {
        TextRun run = style;
        run.start = out.text.size();
        run.length = 1;
        out.runs.push_back(std::move(run));
    }
    out.text.push_back(unit);
}

void AppendCodePoint(StyledText& out, int c, const TextRun& style) {
    if (c < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c >= 0x10000) {
        const int v = c - 0x10000;
        AppendUnit(out, static_cast<char16_t>(0xD800 + (v >> 10)), style);
        AppendUnit(out, static_cast<char16_t>(0xDC00 + (v & 0x3FF)), style);
    } else {
        AppendUnit(out, static_cast<char16_t>(c), style);
    }
}

}  // namespace

void StyledText::Append(const StyledText& other) {
    const std::size_t offset = text.size();
    text += other.text;
    for (TextRun run : other.runs) {
        run.start += offset;
        TextRun* last = runs.empty() ? nullptr : &runs.back();
        if (last && last->start + last->length == run.start && last->font == run.font && last->size == run.size &&
            last->bold == run.bold && last->italic == run.italic)
            last->length += run.length;
        else
            runs.push_back(std::move(run));
    }
}

struct PdfTextReader::Impl {
    fz_context* ctx = nullptr;
    pdf_document* doc = nullptr;
    bool encrypted = false;
    bool locked = false;
    ~Impl() {
        if (doc) pdf_drop_document(ctx, doc);
        if (ctx) fz_drop_context(ctx);
    }
};

PdfTextReader::PdfTextReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfTextReader::~PdfTextReader() = default;

std::unique_ptr<PdfTextReader> PdfTextReader::Open(const std::filesystem::path& path,
                                                   const std::optional<std::string>& password) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (!impl->ctx) return nullptr;
    // A damaged file is the caller's to report; MuPDF's own messages would only go to stderr.
    fz_set_warning_callback(impl->ctx, nullptr, nullptr);
    fz_set_error_callback(impl->ctx, nullptr, nullptr);
    impl->doc = mupdf::OpenPdf(impl->ctx, path.c_str());
    if (!impl->doc) return nullptr;
    impl->encrypted = impl->doc->crypt != nullptr;
    impl->locked = impl->encrypted && pdf_needs_password(impl->ctx, impl->doc);
    if (impl->locked && password) impl->locked = mupdf::AuthenticatePdf(impl->ctx, impl->doc, password->c_str()) == 0;
    return std::unique_ptr<PdfTextReader>(new PdfTextReader(std::move(impl)));
}

bool PdfTextReader::IsEncrypted() const { return impl_->encrypted; }
bool PdfTextReader::IsLocked() const { return impl_->locked; }

int PdfTextReader::PageCount() const { return impl_->locked ? 0 : CountPages(impl_->ctx, impl_->doc); }

std::optional<StyledText> PdfTextReader::PageText(int pageIndex) const {
    if (impl_->locked || pageIndex < 0) return std::nullopt;
    fz_context* ctx = impl_->ctx;
    fz_stext_page* page = LoadTextPage(ctx, impl_->doc, pageIndex);
    if (!page) return std::nullopt;
    StyledText out;
    TextRun style;
    const fz_font* lastFont = nullptr;  // the font `style` was last taken from
    bool firstLine = true;
    for (fz_stext_block* block = page->first_block; block; block = block->next) {
        if (block->type != FZ_STEXT_BLOCK_TEXT) continue;
        for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
            if (!firstLine) AppendUnit(out, u'\n', style);  // the line feed takes the style before it
            firstLine = false;
            for (fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                fz_font* font = ch->font;
                if (font && font != lastFont) {
                    style.font = FontName(ctx, font);
                    style.bold = fz_font_is_bold(ctx, font) != 0;
                    style.italic = fz_font_is_italic(ctx, font) != 0;
                    lastFont = font;
                }
                style.size = ch->size;
                AppendCodePoint(out, ch->c, style);
            }
        }
    }
    fz_drop_stext_page(ctx, page);
    return out;
}

}  // namespace platform
