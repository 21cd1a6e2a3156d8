#include "platform/PdfDocument.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <cmath>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

#include "platform/BufferPool.h"
#include "platform/MuPdfCalls.h"

namespace platform {
namespace {

// MuPDF unwinds with longjmp: every function below that opens an fz_try block holds only C
// state between fz_try and fz_catch, and turns the error into a return value.

// MuPDF's three locks: its reference counts and store (held for a few hundred nanoseconds),
// FreeType, and the glyph cache. Plain mutexes: spinning before sleeping measured slower, since a
// spinning waiter takes a processor from a worker with work to do, and on a busy machine the
// holder it waits for may not be running at all.
struct LockSet {
    std::mutex mutexes[FZ_LOCK_MAX];
    fz_locks_context locks{};
    LockSet() {
        locks.user = this;
        locks.lock = [](void* user, int lock) { static_cast<LockSet*>(user)->mutexes[lock].lock(); };
        locks.unlock = [](void* user, int lock) { static_cast<LockSet*>(user)->mutexes[lock].unlock(); };
    }
};

// A drawing context for one worker at a time, cloned from the document's base context (sharing
// its store, fonts and glyph cache) and kept for the next page instead of cloned for each.
// Glyph caches of the workers' own were measured: the waits moved from the glyph cache's lock to
// FreeType's, since every worker then rendered every glyph itself, and the pages took longer.
struct WorkerContext {
    fz_context* ctx = nullptr;
};

bool HasCopyPermission(fz_context* ctx, pdf_document* doc) {
    int allowed = 0;
    fz_var(allowed);
    fz_try(ctx) { allowed = pdf_has_permission(ctx, doc, FZ_PERMISSION_COPY); }
    fz_catch(ctx) { allowed = 0; }
    return allowed != 0;
}

int CountPdfPages(fz_context* ctx, pdf_document* doc) {
    int count = 0;
    fz_var(count);
    fz_try(ctx) { count = pdf_count_pages(ctx, doc); }
    fz_catch(ctx) { count = 0; }
    return count < 0 ? 0 : count;
}

PdfRect Normalised(fz_rect r) {
    PdfRect out{std::fmin(r.x0, r.x1), std::fmin(r.y0, r.y1), std::fmax(r.x0, r.x1), std::fmax(r.y0, r.y1)};
    if (!std::isfinite(out.x0) || !std::isfinite(out.y0) || !std::isfinite(out.x1) || !std::isfinite(out.y1))
        return PdfRect{};
    return out;
}

int ReadGeometry(fz_context* ctx, pdf_document* doc, int index, fz_rect* crop, fz_rect* media, int* rotate) {
    int ok = 0;
    fz_var(ok);
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc, index);
        if (page) {
            pdf_obj* cropObj = pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox));
            pdf_obj* mediaObj = pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox));
            *crop = pdf_is_array(ctx, cropObj) ? pdf_to_rect(ctx, cropObj) : fz_empty_rect;
            *media = pdf_is_array(ctx, mediaObj) ? pdf_to_rect(ctx, mediaObj) : fz_empty_rect;
            *rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
            ok = 1;
        }
    }
    fz_catch(ctx) { ok = 0; }
    return ok;
}

// Loads a page and records it into a display list in MuPDF's page space; also gives the
// matrix from the page's user space to that space. Errors met while interpreting the page
// (broken streams, fonts, images) are counted in `errors`.
fz_display_list* LoadDisplayList(fz_context* ctx, pdf_document* doc, int index, fz_matrix* pageCtm, int* errors) {
    pdf_page* page = nullptr;
    fz_display_list* list = nullptr;
    fz_device* dev = nullptr;
    fz_cookie cookie{};
    fz_var(page);
    fz_var(list);
    fz_var(dev);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, index);
        fz_rect mediabox;
        pdf_page_transform(ctx, page, &mediabox, pageCtm);
        list = fz_new_display_list(ctx, fz_bound_page(ctx, &page->super));
        dev = fz_new_list_device(ctx, list);
        fz_run_page(ctx, &page->super, dev, fz_identity, &cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, &page->super);
    }
    fz_catch(ctx) {
        fz_drop_display_list(ctx, list);
        list = nullptr;
    }
    *errors = cookie.errors;
    return list;
}

// A pixmap over `samples` (width x height x its components bytes, owned by the caller).
fz_pixmap* NewPixmap(fz_context* ctx, fz_colorspace* cs, int width, int height, int alpha, unsigned char* samples) {
    fz_pixmap* pix = nullptr;
    fz_var(pix);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_bbox_and_data(ctx, cs, fz_make_irect(0, 0, width, height), nullptr, alpha, samples);
    }
    fz_catch(ctx) { pix = nullptr; }
    return pix;
}

void IgnoreMessage(void*, const char*) {}

// An abandoned drawing stops between two of the list's commands, with clips and groups still
// open on the device. Closing it then reports them as an error, and dropping it unclosed warns:
// both are expected after a cancel, so the device is closed with the context's messages held
// back, and the half-drawn band is thrown away by the caller.
void CloseAbandonedDevice(fz_context* ctx, fz_device* dev) {
    void* errorUser = nullptr;
    void* warningUser = nullptr;
    fz_error_cb* error = fz_error_callback(ctx, &errorUser);
    fz_warning_cb* warning = fz_warning_callback(ctx, &warningUser);
    fz_set_error_callback(ctx, IgnoreMessage, nullptr);
    fz_set_warning_callback(ctx, IgnoreMessage, nullptr);
    fz_try(ctx) { fz_close_device(ctx, dev); }
    fz_catch(ctx) {}
    fz_set_error_callback(ctx, error, errorUser);
    fz_set_warning_callback(ctx, warning, warningUser);
}

// Clears the rows [y0, y1) of the picture at `samples` to white and draws the list into them,
// through a pixmap of those rows. 0 when MuPDF gave up.
int DrawBand(fz_context* ctx, fz_display_list* list, fz_colorspace* cs, unsigned char* samples, int width, int y0,
             int y1, int alpha, int visible, fz_matrix ctm, fz_cookie* cookie) {
    fz_pixmap* band = nullptr;
    fz_device* dev = nullptr;
    int ok = 1;
    fz_var(band);
    fz_var(dev);
    fz_var(ok);
    fz_try(ctx) {
        band = fz_new_pixmap_with_bbox_and_data(ctx, cs, fz_make_irect(0, y0, width, y1), nullptr, alpha,
                                                samples + static_cast<std::ptrdiff_t>(y0) * width *
                                                              (fz_colorspace_n(ctx, cs) + alpha));
        // White: MuPDF takes the value as whiteness in every model, so 255 is no ink in CMYK
        // (0 there would be full black).
        fz_clear_pixmap_with_value(ctx, band, 255);
        if (alpha) {
            // Opaque white under the page.
            const int n = band->n;
            for (int y = 0; y < band->h; ++y) {
                unsigned char* p = band->samples + static_cast<std::ptrdiff_t>(y) * band->stride;
                for (int x = 0; x < width; ++x) p[x * n + n - 1] = 255;
            }
        }
        if (visible) {
            dev = fz_new_draw_device(ctx, fz_identity, band);
            fz_run_display_list(ctx, list, dev, ctm, fz_rect_from_irect(fz_pixmap_bbox(ctx, band)), cookie);
            if (cookie && cookie->abort) {
                ok = 0;
                CloseAbandonedDevice(ctx, dev);
            } else {
                fz_close_device(ctx, dev);
            }
        }
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_pixmap(ctx, band);
    }
    fz_catch(ctx) { ok = 0; }
    return ok;
}

// Where the page lands in the bitmap, as the box rules say: the crop box (the media box when
// the crop box is empty) sizes the picture; the part of the page inside both boxes is drawn,
// turned by the page's rotation in quarter turns (truncated, as the size rule counts them),
// shrunk to fit when larger than that picture and centred in it, then scaled. Returns the
// matrix from the display list's space to pixels; false when nothing of the page is visible.
bool PageToPixels(const PdfPageGeometry& g, fz_matrix pageCtm, float scale, fz_matrix* out) {
    const bool useCrop = g.cropBox.width() > 0 && g.cropBox.height() > 0;
    const PdfRect box = useCrop ? g.cropBox : g.mediaBox;
    if (!(box.width() > 0 && box.height() > 0)) return false;
    fz_rect shown = fz_make_rect(box.x0, box.y0, box.x1, box.y1);
    if (useCrop && g.mediaBox.width() > 0 && g.mediaBox.height() > 0)
        shown = fz_intersect_rect(shown, fz_make_rect(g.mediaBox.x0, g.mediaBox.y0, g.mediaBox.x1, g.mediaBox.y1));
    if (fz_is_empty_rect(shown)) return false;

    int quarters = (g.rotation / 90) % 4;
    if (quarters < 0) quarters += 4;
    float W = box.width(), H = box.height();
    if (quarters % 2) std::swap(W, H);

    // User space to a top-left, y-down space of the turned area, as MuPDF builds its page space.
    fz_matrix turned = fz_pre_rotate(fz_scale(1, -1), static_cast<float>(-90 * quarters));
    const fz_rect turnedBox = fz_transform_rect(shown, turned);
    turned = fz_concat(turned, fz_translate(-turnedBox.x0, -turnedBox.y0));
    const float shownW = turnedBox.x1 - turnedBox.x0, shownH = turnedBox.y1 - turnedBox.y0;

    fz_matrix fit = fz_identity;
    if (shownW != W || shownH != H) {
        const float f = std::fmin(1.0f, std::fmin(W / shownW, H / shownH));
        fit = fz_concat(fz_scale(f, f), fz_translate((W - f * shownW) / 2, (H - f * shownH) / 2));
    }
    const fz_matrix placed = fz_concat(fit, fz_scale(scale, scale));
    const bool sameSpace = pageCtm.a == turned.a && pageCtm.b == turned.b && pageCtm.c == turned.c &&
                           pageCtm.d == turned.d && pageCtm.e == turned.e && pageCtm.f == turned.f;
    // The list is usually in exactly this space already; otherwise (unusual rotations, a
    // UserUnit, degenerate boxes MuPDF replaces) go back to user space first.
    *out = sameSpace ? placed : fz_concat(fz_invert_matrix(pageCtm), fz_concat(turned, placed));
    return true;
}

// The base context of one document, shared with every bitmap drawn from it so that pixmaps
// can outlive the document object; it keeps the workers' contexts between pages.
struct BaseContext {
    LockSet lockSet;
    fz_context* ctx = nullptr;
    std::mutex idleLock;
    std::vector<std::unique_ptr<WorkerContext>> idle;

    BaseContext() { ctx = fz_new_context(nullptr, &lockSet.locks, FZ_STORE_DEFAULT); }
    ~BaseContext() {
        for (auto& w : idle) fz_drop_context(w->ctx);
        idle.clear();
        if (ctx) fz_drop_context(ctx);
    }

    // Called with the document's lock held (cloning reads the base context).
    std::unique_ptr<WorkerContext> TakeWorker() {
        {
            std::lock_guard guard(idleLock);
            if (!idle.empty()) {
                std::unique_ptr<WorkerContext> w = std::move(idle.back());
                idle.pop_back();
                return w;
            }
        }
        auto w = std::make_unique<WorkerContext>();
        w->ctx = fz_clone_context(ctx);
        if (!w->ctx) return nullptr;
        return w;
    }

    void GiveBack(std::unique_ptr<WorkerContext> w) {
        std::lock_guard guard(idleLock);
        try {
            idle.push_back(std::move(w));
        } catch (...) {
            // No room to keep it: the context goes now (w still owns it when push_back threw).
            if (w) fz_drop_context(w->ctx);
        }
    }
};

}  // namespace

struct PdfDocument::Impl {
    std::shared_ptr<BaseContext> base;
    pdf_document* doc = nullptr;
    mutable std::mutex lock;  // everything that touches `doc` or the base context
    bool encrypted = false;
    bool unlocked = false;
    std::string password;  // the one that made the document readable

    ~Impl() {
        if (doc) {
            std::lock_guard guard(lock);
            pdf_drop_document(base->ctx, doc);
        }
    }
};

PdfDocument::PdfDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PdfDocument::~PdfDocument() = default;

std::unique_ptr<PdfDocument> PdfDocument::Open(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->base = std::make_shared<BaseContext>();
    if (!impl->base->ctx) return nullptr;
    impl->doc = mupdf::OpenPdf(impl->base->ctx, path.c_str());
    if (!impl->doc) return nullptr;
    impl->encrypted = impl->doc->crypt != nullptr;
    // An empty user password opens the document without asking.
    impl->unlocked = !impl->encrypted || !pdf_needs_password(impl->base->ctx, impl->doc);
    return std::unique_ptr<PdfDocument>(new PdfDocument(std::move(impl)));
}

bool PdfDocument::IsEncrypted() const { return impl_->encrypted; }

bool PdfDocument::IsUnlocked() const {
    std::lock_guard guard(impl_->lock);
    return impl_->unlocked;
}

bool PdfDocument::Unlock(const std::string& password) {
    std::lock_guard guard(impl_->lock);
    // A readable document stays readable: another attempt is not passed to the library, where a
    // wrong password after a right one would spoil the key.
    if (!impl_->encrypted || impl_->unlocked) return true;
    if (mupdf::AuthenticatePdf(impl_->base->ctx, impl_->doc, password.c_str()) == 0) return false;
    impl_->unlocked = true;
    impl_->password = password;
    return true;
}

bool PdfDocument::AcceptsPassword(const std::string& candidate) {
    std::lock_guard guard(impl_->lock);
    if (!impl_->encrypted) return true;
    if (mupdf::AuthenticatePdf(impl_->base->ctx, impl_->doc, candidate.c_str()) != 0) {
        impl_->unlocked = true;
        impl_->password = candidate;
        return true;
    }
    // A wrong password overwrites the key that the right one computed: compute it again.
    if (impl_->unlocked) mupdf::AuthenticatePdf(impl_->base->ctx, impl_->doc, impl_->password.c_str());
    return false;
}

bool PdfDocument::AllowsCopying() const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->encrypted) return true;
    if (!impl_->unlocked) return false;
    // Authenticating again with the password that opened it is harmless and tells whether
    // that was the owner password.
    const int kind = mupdf::AuthenticatePdf(impl_->base->ctx, impl_->doc, impl_->password.c_str());
    if (kind & 4) return true;
    return HasCopyPermission(impl_->base->ctx, impl_->doc);
}

int PdfDocument::PageCount() const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked) return 0;
    return CountPdfPages(impl_->base->ctx, impl_->doc);
}

std::optional<PdfPageGeometry> PdfDocument::PageGeometry(int pageIndex) const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked || pageIndex < 0) return std::nullopt;
    fz_rect crop = fz_empty_rect, media = fz_empty_rect;
    int rotate = 0;
    if (!ReadGeometry(impl_->base->ctx, impl_->doc, pageIndex, &crop, &media, &rotate)) return std::nullopt;
    PdfPageGeometry g;
    g.cropBox = fz_is_empty_rect(crop) ? PdfRect{} : Normalised(crop);
    g.mediaBox = fz_is_empty_rect(media) ? PdfRect{} : Normalised(media);
    g.rotation = rotate;
    return g;
}

Bitmap PdfDocument::RenderPage(const RenderRequest& request, const std::function<bool()>& cancelled) const {
    if (request.width < 1 || request.height < 1) return {};
    const bool wantAlpha = request.alpha && request.model == ColorModel::RGB;
    const int n = ComponentsOf(request.model) + (wantAlpha ? 1 : 0);
    if (static_cast<std::size_t>(request.width) * n > kMaxBitmapBytes / static_cast<std::size_t>(request.height))
        return {};

    fz_display_list* list = nullptr;
    const std::shared_ptr<BaseContext> base = impl_->base;
    std::shared_ptr<WorkerContext> worker;
    fz_matrix pageCtm = fz_identity;
    fz_rect crop = fz_empty_rect, media = fz_empty_rect;
    int rotate = 0;
    {
        std::lock_guard guard(impl_->lock);
        if (!impl_->unlocked || request.pageIndex < 0) return {};
        if (!ReadGeometry(impl_->base->ctx, impl_->doc, request.pageIndex, &crop, &media, &rotate)) return {};
        int errors = 0;
        list = LoadDisplayList(impl_->base->ctx, impl_->doc, request.pageIndex, &pageCtm, &errors);
        if (!list) return {};
        if (errors > 0) {
            // The page could not be read in full: a picture of part of it would pass for the page.
            fz_drop_display_list(impl_->base->ctx, list);
            return {};
        }
        try {
            std::unique_ptr<WorkerContext> taken = base->TakeWorker();
            if (taken)
                worker = std::shared_ptr<WorkerContext>(
                    taken.release(), [base](WorkerContext* w) { base->GiveBack(std::unique_ptr<WorkerContext>(w)); });
        } catch (...) {
        }
        if (!worker) {
            fz_drop_display_list(impl_->base->ctx, list);
            return {};
        }
    }
    fz_context* const ctx = worker->ctx;
    PdfPageGeometry geometry;
    geometry.cropBox = fz_is_empty_rect(crop) ? PdfRect{} : Normalised(crop);
    geometry.mediaBox = fz_is_empty_rect(media) ? PdfRect{} : Normalised(media);
    geometry.rotation = rotate;

    fz_colorspace* cs = request.model == ColorModel::Monochrome ? fz_device_gray(ctx)
                        : request.model == ColorModel::CMYK     ? fz_device_cmyk(ctx)
                                                                : fz_device_rgb(ctx);
    // The pixels live in a pooled buffer: a page loop reuses its pages' memory.
    std::shared_ptr<std::uint8_t> samples =
        AcquireBuffer(static_cast<std::size_t>(request.width) * n * static_cast<std::size_t>(request.height));
    fz_pixmap* pix = samples ? NewPixmap(ctx, cs, request.width, request.height, wantAlpha ? 1 : 0, samples.get())
                             : nullptr;
    fz_matrix ctm = fz_identity;
    const bool visible = PageToPixels(geometry, pageCtm, request.scale, &ctm);

    // One pass over the whole page: drawing it in bands on several threads is faster, but MuPDF
    // then decodes and scales images band by band, and their pixels no longer agree with a
    // drawing of the whole page.
    fz_cookie cookie{};
    bool drawn = pix != nullptr;
    if (cancelled && cancelled()) drawn = false;
    if (drawn) {
        std::mutex watchMutex;
        std::condition_variable watchWake;
        bool done = false;
        std::thread watcher;
        if (cancelled) {
            // Polls the caller's cancel while the page is drawn, so a long page stops promptly.
            watcher = std::thread([&] {
                std::unique_lock wl(watchMutex);
                while (!done) {
                    if (cancelled()) {
                        cookie.abort = 1;
                        return;
                    }
                    watchWake.wait_for(wl, std::chrono::milliseconds(20));
                }
            });
        }
        drawn = DrawBand(ctx, list, cs, samples.get(), request.width, 0, request.height, wantAlpha ? 1 : 0,
                         visible ? 1 : 0, ctm, &cookie) != 0 &&
                cookie.errors == 0;
        if (watcher.joinable()) {
            {
                std::lock_guard wl(watchMutex);
                done = true;
            }
            watchWake.notify_all();
            watcher.join();
        }
    }
    const bool aborted = cookie.abort != 0;
    fz_drop_display_list(ctx, list);

    if (!drawn || aborted) {
        if (pix) fz_drop_pixmap(ctx, pix);
        return {};
    }

    Bitmap b;
    b.width = pix->w;
    b.height = pix->h;
    b.model = request.model;
    b.components = pix->n;
    b.hasAlpha = wantAlpha;
    b.stride = pix->stride;
    b.data = pix->samples;
    b.owner = std::shared_ptr<void>(pix, [worker, samples](void* p) mutable {
        fz_drop_pixmap(worker->ctx, static_cast<fz_pixmap*>(p));
        worker.reset();
        samples.reset();
    });
    return b;
}

}  // namespace platform

// --- Redrawing into a new PDF ---------------------------------------------------------------

namespace platform {
namespace {

pdf_page* LoadPdfPage(fz_context* ctx, pdf_document* doc, int index, fz_matrix* pageCtm) {
    pdf_page* page = nullptr;
    fz_var(page);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, index);
        fz_rect mediabox;
        pdf_page_transform(ctx, page, &mediabox, pageCtm);
    }
    fz_catch(ctx) {
        fz_drop_page(ctx, &page->super);
        page = nullptr;
    }
    return page;
}

// Writes one page of `box` (MuPDF's rectangle, y up as in the PDF) with the page drawn by
// `ctm` (a blank page without `page`). 0 when the writer failed; a page whose drawing stopped early is still ended.
int WriteRedrawnPage(fz_context* ctx, fz_document_writer* writer, pdf_page* page, fz_rect box, fz_matrix ctm) {
    fz_device* dev = nullptr;
    int ok = 1;
    fz_var(dev);
    fz_var(ok);
    fz_try(ctx) { dev = fz_begin_page(ctx, writer, box); }
    fz_catch(ctx) { ok = 0; }
    if (!ok) return 0;
    fz_cookie cookie{};
    if (page) {
        fz_try(ctx) { fz_run_page(ctx, &page->super, dev, ctm, &cookie); }
        fz_catch(ctx) {}
    }
    fz_try(ctx) { fz_end_page(ctx, writer); }
    fz_catch(ctx) { ok = 0; }
    return ok;
}

fz_document_writer* NewPdfWriter(fz_context* ctx, fz_output* out) {
    fz_document_writer* writer = nullptr;
    fz_var(writer);
    fz_try(ctx) { writer = fz_new_pdf_writer_with_output(ctx, out, "compress"); }
    fz_catch(ctx) { writer = nullptr; }
    return writer;
}

// Writes the document out and drops the writer with its output.
int CloseWriter(fz_context* ctx, fz_document_writer* writer) {
    int ok = 1;
    fz_var(ok);
    fz_try(ctx) { fz_close_document_writer(ctx, writer); }
    fz_catch(ctx) { ok = 0; }
    fz_drop_document_writer(ctx, writer);
    return ok;
}

fz_output* NewBufferOutput(fz_context* ctx, fz_buffer** buffer) {
    fz_output* out = nullptr;
    fz_var(out);
    fz_try(ctx) {
        *buffer = fz_new_buffer(ctx, 64 * 1024);
        out = fz_new_output_with_buffer(ctx, *buffer);
    }
    fz_catch(ctx) {
        fz_drop_buffer(ctx, *buffer);
        *buffer = nullptr;
        out = nullptr;
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> PdfDocument::RedrawAsPdf() const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked) return {};
    fz_context* ctx = impl_->base->ctx;
    pdf_document* doc = impl_->doc;
    const int count = CountPdfPages(ctx, doc);
    if (count <= 0) return {};

    fz_buffer* buffer = nullptr;
    fz_output* out = NewBufferOutput(ctx, &buffer);
    if (!out) return {};
    // The writer owns the output from here on, also when it cannot be made.
    fz_document_writer* writer = NewPdfWriter(ctx, out);
    if (!writer) {
        fz_drop_buffer(ctx, buffer);
        return {};
    }

    int written = 0;
    bool broken = false;
    for (int index = 0; index < count && !broken; ++index) {
        fz_rect crop = fz_empty_rect, media = fz_empty_rect;
        int rotate = 0;
        if (!ReadGeometry(ctx, doc, index, &crop, &media, &rotate)) continue;
        PdfPageGeometry g;
        g.cropBox = fz_is_empty_rect(crop) ? PdfRect{} : Normalised(crop);
        g.mediaBox = fz_is_empty_rect(media) ? PdfRect{} : Normalised(media);
        g.rotation = rotate;
        const PdfRect box = g.cropBox.width() > 0 && g.cropBox.height() > 0 ? g.cropBox : g.mediaBox;
        if (!(box.width() > 0 && box.height() > 0)) continue;

        fz_matrix pageCtm = fz_identity;
        pdf_page* page = LoadPdfPage(ctx, doc, index, &pageCtm);
        if (!page) continue;
        // The new page keeps the box's origin; odd quarter turns swap its sides.
        int quarters = (g.rotation / 90) % 4;
        if (quarters < 0) quarters += 4;
        float W = box.width(), H = box.height();
        if (quarters % 2) std::swap(W, H);
        const fz_rect newBox = fz_make_rect(box.x0, box.y0, box.x0 + W, box.y0 + H);
        // PageToPixels gives the top-left, y-down space of a W x H page; MuPDF's PDF writer maps
        // a point (x, y) of its device to (x - x0, y1 - y) in the new page, so moving right by
        // 2 x0 lands the drawing on the box.
        // A page of which nothing lies inside both boxes stays blank.
        fz_matrix ctm = fz_identity;
        const bool visible = PageToPixels(g, pageCtm, 1.0f, &ctm);
        ctm = fz_concat(ctm, fz_translate(2 * box.x0, 0));
        if (WriteRedrawnPage(ctx, writer, visible ? page : nullptr, newBox, ctm))
            ++written;
        else
            broken = true;
        fz_drop_page(ctx, &page->super);
    }

    std::vector<std::uint8_t> result;
    const bool closed = CloseWriter(ctx, writer);
    if (closed && !broken && written > 0) {
        unsigned char* data = nullptr;
        const std::size_t length = fz_buffer_storage(ctx, buffer, &data);
        if (data && length > 0) result.assign(data, data + length);
    }
    fz_drop_buffer(ctx, buffer);
    return result;
}

}  // namespace platform
