#include "platform/PdfDocument.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>

#include <condition_variable>
#include <cmath>
#include <thread>

namespace platform {
namespace {

// MuPDF unwinds with longjmp: every function below that opens an fz_try block holds only C
// state between fz_try and fz_catch, and turns the error into a return value.

struct LockSet {
    std::mutex mutexes[FZ_LOCK_MAX];
    fz_locks_context locks{};
    LockSet() {
        locks.user = this;
        locks.lock = [](void* user, int lock) { static_cast<LockSet*>(user)->mutexes[lock].lock(); };
        locks.unlock = [](void* user, int lock) { static_cast<LockSet*>(user)->mutexes[lock].unlock(); };
    }
};

// The base context of one document, shared with every bitmap drawn from it so that pixmaps
// can outlive the document object.
struct BaseContext {
    LockSet lockSet;
    fz_context* ctx = nullptr;
    BaseContext() { ctx = fz_new_context(nullptr, &lockSet.locks, FZ_STORE_DEFAULT); }
    ~BaseContext() {
        if (ctx) fz_drop_context(ctx);
    }
};

pdf_document* OpenPdf(fz_context* ctx, const char* path) {
    pdf_document* doc = nullptr;
    fz_var(doc);
    fz_try(ctx) { doc = pdf_open_document(ctx, path); }
    fz_catch(ctx) { doc = nullptr; }
    return doc;
}

int AuthenticatePdf(fz_context* ctx, pdf_document* doc, const char* password) {
    int result = 0;
    fz_try(ctx) { result = pdf_authenticate_password(ctx, doc, password); }
    fz_catch(ctx) { result = 0; }
    return result;
}

bool HasCopyPermission(fz_context* ctx, pdf_document* doc) {
    int allowed = 0;
    fz_try(ctx) { allowed = pdf_has_permission(ctx, doc, FZ_PERMISSION_COPY); }
    fz_catch(ctx) { allowed = 0; }
    return allowed != 0;
}

int CountPdfPages(fz_context* ctx, pdf_document* doc) {
    int count = 0;
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

fz_display_list* LoadDisplayList(fz_context* ctx, pdf_document* doc, int index) {
    fz_page* page = nullptr;
    fz_display_list* list = nullptr;
    fz_var(page);
    fz_var(list);
    fz_try(ctx) {
        page = fz_load_page(ctx, &doc->super, index);
        list = fz_new_display_list_from_page(ctx, page);
    }
    fz_always(ctx) { fz_drop_page(ctx, page); }
    fz_catch(ctx) {
        fz_drop_display_list(ctx, list);
        list = nullptr;
    }
    return list;
}

fz_pixmap* Rasterise(fz_context* ctx, fz_display_list* list, fz_colorspace* cs, int width, int height,
                     int alpha, int clearValue, float scale, fz_cookie* cookie) {
    fz_pixmap* pix = nullptr;
    fz_device* dev = nullptr;
    fz_var(pix);
    fz_var(dev);
    fz_try(ctx) {
        pix = fz_new_pixmap_with_bbox(ctx, cs, fz_make_irect(0, 0, width, height), nullptr, alpha);
        fz_clear_pixmap_with_value(ctx, pix, clearValue);
        if (alpha) {
            // Opaque white under the page.
            const int n = pix->n;
            for (int y = 0; y < height; ++y) {
                unsigned char* p = pix->samples + static_cast<std::ptrdiff_t>(y) * pix->stride;
                for (int x = 0; x < width; ++x) p[x * n + n - 1] = 255;
            }
        }
        // The display list is in page space (top-left origin, rotation applied): scale only.
        fz_matrix ctm = fz_scale(scale, scale);
        dev = fz_new_draw_device(ctx, fz_identity, pix);
        fz_run_display_list(ctx, list, dev, ctm, fz_infinite_rect, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) { fz_drop_device(ctx, dev); }
    fz_catch(ctx) {
        fz_drop_pixmap(ctx, pix);
        pix = nullptr;
    }
    return pix;
}

fz_context* CloneContext(fz_context* base) { return fz_clone_context(base); }

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
    impl->doc = OpenPdf(impl->base->ctx, path.c_str());
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
    if (AuthenticatePdf(impl_->base->ctx, impl_->doc, password.c_str()) == 0) return false;
    impl_->unlocked = true;
    impl_->password = password;
    return true;
}

bool PdfDocument::AcceptsPassword(const std::string& candidate) {
    std::lock_guard guard(impl_->lock);
    if (!impl_->encrypted) return true;
    if (AuthenticatePdf(impl_->base->ctx, impl_->doc, candidate.c_str()) != 0) {
        impl_->unlocked = true;
        impl_->password = candidate;
        return true;
    }
    // A wrong password overwrites the key that the right one computed: compute it again.
    if (impl_->unlocked) AuthenticatePdf(impl_->base->ctx, impl_->doc, impl_->password.c_str());
    return false;
}

bool PdfDocument::AllowsCopying() const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->encrypted) return true;
    if (!impl_->unlocked) return false;
    // Authenticating again with the password that opened it is harmless and tells whether
    // that was the owner password.
    const int kind = AuthenticatePdf(impl_->base->ctx, impl_->doc, impl_->password.c_str());
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
    const int n = ComponentsOf(request.model) + (request.alpha && request.model == ColorModel::RGB ? 1 : 0);
    if (static_cast<std::size_t>(request.width) * n > kMaxBitmapBytes / static_cast<std::size_t>(request.height))
        return {};

    fz_display_list* list = nullptr;
    fz_context* ctx = nullptr;
    {
        std::lock_guard guard(impl_->lock);
        if (!impl_->unlocked) return {};
        list = LoadDisplayList(impl_->base->ctx, impl_->doc, request.pageIndex);
        if (!list) return {};
        ctx = CloneContext(impl_->base->ctx);
        if (!ctx) {
            fz_drop_display_list(impl_->base->ctx, list);
            return {};
        }
    }

    fz_colorspace* cs = request.model == ColorModel::Monochrome ? fz_device_gray(ctx)
                        : request.model == ColorModel::CMYK     ? fz_device_cmyk(ctx)
                                                                : fz_device_rgb(ctx);
    const int alpha = request.alpha && request.model == ColorModel::RGB ? 1 : 0;
    // CMYK starts with no ink (0); grey and RGB with white.
    const int clearValue = request.model == ColorModel::CMYK ? 0 : 255;

    fz_cookie cookie{};
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
    fz_pixmap* pix = Rasterise(ctx, list, cs, request.width, request.height, alpha, clearValue, request.scale, &cookie);
    if (watcher.joinable()) {
        {
            std::lock_guard wl(watchMutex);
            done = true;
        }
        watchWake.notify_all();
        watcher.join();
    }
    fz_drop_display_list(ctx, list);

    if (!pix || cookie.abort) {
        if (pix) fz_drop_pixmap(ctx, pix);
        fz_drop_context(ctx);
        return {};
    }

    Bitmap b;
    b.width = pix->w;
    b.height = pix->h;
    b.model = request.model;
    b.components = pix->n;
    b.hasAlpha = alpha != 0;
    b.stride = pix->stride;
    b.data = pix->samples;
    std::shared_ptr<BaseContext> base = impl_->base;
    b.owner = std::shared_ptr<void>(pix, [ctx, base](void* p) {
        fz_drop_pixmap(ctx, static_cast<fz_pixmap*>(p));
        fz_drop_context(ctx);
    });
    return b;
}

}  // namespace platform
