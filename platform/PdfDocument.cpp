#include "platform/PdfDocument.h"

#include <fcntl.h>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <cmath>
#include <cstdio>
#include <string>
#include <condition_variable>
#include <thread>
#include <utility>
#include <vector>

#include "platform/BufferPool.h"
#include "platform/MuPdfCalls.h"
#include "platform/WorkerBudget.h"

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

// A reader of the document for one page at a time: a context of its own (its own locks, store,
// fonts and glyph cache) and the file opened again on it. Pages on different readers share no
// MuPDF state, so loading, recording and drawing run side by side on the workers as in separate
// processes; a reader is kept for the next page, with what its store learnt of the document.
// Clones of one context sharing one document were measured before: every page was loaded and
// recorded under the document's lock, one at a time, and the workers waited on it and on the
// shared glyph cache's and FreeType's locks (at 72 dpi they were on the processor for 56 to 75 %
// of the time).
struct Reader {
    LockSet lockSet;
    fz_context* ctx = nullptr;
    pdf_document* doc = nullptr;
    // The thread that last took it: its memory is mostly in that thread's heap.
    std::thread::id owner = std::this_thread::get_id();

    Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() {
        if (doc) pdf_drop_document(ctx, doc);
        if (ctx) fz_drop_context(ctx);
    }
};

// The store of each reader: together about what MuPDF gives one context by default.
std::size_t ReaderStoreBytes() {
    const unsigned processors = std::max(2u, std::thread::hardware_concurrency());
    return std::max<std::size_t>(std::size_t{32} << 20, FZ_STORE_DEFAULT / (processors - 1));
}

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

// The pages the page tree leads to, in order, as MuPDF's own page lookup walks it (a node is a
// /Pages node by its type, or without one when it has kids and no media box): -1 when the tree
// cannot be read at all (no root node, or a root without kids). A node met a second time ends
// the count there, as a viewer stops at a page tree that loops back on itself; a node's /Count
// is not believed.
int CountPageTree(fz_context* ctx, pdf_document* doc) {
    enum { kMaxDepth = 64 };
    pdf_obj* nodes[kMaxDepth];
    int next[kMaxDepth];
    pdf_obj* marked[kMaxDepth];
    int depth = 0, count = -1, markedCount = 0;
    fz_var(depth);
    fz_var(count);
    fz_var(markedCount);
    fz_try(ctx) {
        pdf_obj* root = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/Pages");
        if (pdf_is_dict(ctx, root) && pdf_is_array(ctx, pdf_dict_get(ctx, root, PDF_NAME(Kids)))) {
            count = 0;
            pdf_mark_obj(ctx, root);
            marked[markedCount++] = root;
            nodes[0] = root;
            next[0] = 0;
            depth = 1;
            bool looped = false;
            while (depth > 0 && !looped) {
                pdf_obj* kids = pdf_dict_get(ctx, nodes[depth - 1], PDF_NAME(Kids));
                if (next[depth - 1] >= pdf_array_len(ctx, kids)) {
                    pdf_unmark_obj(ctx, marked[--markedCount]);
                    --depth;
                    continue;
                }
                pdf_obj* kid = pdf_array_get(ctx, kids, next[depth - 1]++);
                pdf_obj* type = pdf_dict_get(ctx, kid, PDF_NAME(Type));
                const bool isNode = type ? pdf_name_eq(ctx, type, PDF_NAME(Pages))
                                         : pdf_dict_get(ctx, kid, PDF_NAME(Kids)) &&
                                               !pdf_dict_get(ctx, kid, PDF_NAME(MediaBox));
                if (!isNode) {
                    // Counted as MuPDF's lookup counts it, so that page numbers agree with it.
                    ++count;
                    continue;
                }
                if (depth == kMaxDepth || pdf_mark_obj(ctx, kid)) {
                    looped = true;
                    break;
                }
                marked[markedCount++] = kid;
                nodes[depth] = kid;
                next[depth] = 0;
                ++depth;
            }
        }
    }
    fz_always(ctx) {
        while (markedCount > 0) pdf_unmark_obj(ctx, marked[--markedCount]);
    }
    fz_catch(ctx) { count = -1; }
    return count;
}

std::size_t StreamBytes(fz_context* ctx, pdf_obj* obj) {
    if (!pdf_is_stream(ctx, obj)) return 0;
    const int length = pdf_to_int(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Length)));
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// What a form's resources draw besides its own content: each entry a share of work, whatever its size.
std::size_t ResourceEntries(fz_context* ctx, pdf_obj* resources) {
    return static_cast<std::size_t>(pdf_dict_len(ctx, pdf_dict_get(ctx, resources, PDF_NAME(XObject)))) +
           static_cast<std::size_t>(pdf_dict_len(ctx, pdf_dict_get(ctx, resources, PDF_NAME(Shading)))) +
           static_cast<std::size_t>(pdf_dict_len(ctx, pdf_dict_get(ctx, resources, PDF_NAME(Pattern))));
}

std::size_t ReadPageWeight(fz_context* ctx, pdf_document* doc, int index) {
    // A form or shading drawn inside a form weighs as much as this many bytes of content.
    constexpr std::size_t kEntryBytes = 4096;
    // Every annotation is read with the page, a link's destination looked up in the document's
    // names and page tree: at 72 dpi about as much work as this many bytes of content. A page
    // of references with a hundred links takes as long as one of dense text.
    constexpr std::size_t kAnnotationBytes = 64;
    std::size_t weight = 0;
    fz_var(weight);
    fz_try(ctx) {
        pdf_obj* page = pdf_lookup_page_obj(ctx, doc, index);
        pdf_obj* contents = pdf_dict_get(ctx, page, PDF_NAME(Contents));
        if (pdf_is_array(ctx, contents)) {
            for (int i = 0, n = pdf_array_len(ctx, contents); i < n; ++i)
                weight += StreamBytes(ctx, pdf_array_get(ctx, contents, i));
        } else {
            weight += StreamBytes(ctx, contents);
        }
        weight += kAnnotationBytes * static_cast<std::size_t>(pdf_array_len(ctx, pdf_dict_get(ctx, page, PDF_NAME(Annots))));
        pdf_obj* resources = pdf_dict_get_inheritable(ctx, page, PDF_NAME(Resources));
        weight += kEntryBytes * (static_cast<std::size_t>(pdf_dict_len(ctx, pdf_dict_get(ctx, resources, PDF_NAME(Shading)))) +
                                 static_cast<std::size_t>(pdf_dict_len(ctx, pdf_dict_get(ctx, resources, PDF_NAME(Pattern)))));
        pdf_obj* xobjects = pdf_dict_get(ctx, resources, PDF_NAME(XObject));
        for (int i = 0, n = pdf_dict_len(ctx, xobjects); i < n; ++i) {
            pdf_obj* x = pdf_dict_get_val(ctx, xobjects, i);
            weight += StreamBytes(ctx, x);
            if (pdf_name_eq(ctx, pdf_dict_get(ctx, x, PDF_NAME(Subtype)), PDF_NAME(Form)))
                weight += kEntryBytes * ResourceEntries(ctx, pdf_dict_get(ctx, x, PDF_NAME(Resources)));
        }
    }
    fz_catch(ctx) { weight = 0; }
    return weight;
}

PdfRect Normalised(fz_rect r) {
    PdfRect out{std::fmin(r.x0, r.x1), std::fmin(r.y0, r.y1), std::fmax(r.x0, r.x1), std::fmax(r.y0, r.y1)};
    if (!std::isfinite(out.x0) || !std::isfinite(out.y0) || !std::isfinite(out.x1) || !std::isfinite(out.y1))
        return PdfRect{};
    return out;
}

int ReadGeometry(fz_context* ctx, pdf_document* doc, int index, fz_rect* crop, fz_rect* media, int* rotate,
                 float* userUnit) {
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
            pdf_obj* unit = pdf_dict_get(ctx, page, PDF_NAME(UserUnit));
            *userUnit = pdf_is_number(ctx, unit) ? pdf_to_real(ctx, unit) : 1.0f;
            ok = 1;
        }
    }
    fz_catch(ctx) { ok = 0; }
    return ok;
}

// Loads a page and records it into a display list in MuPDF's page space; also gives the
// matrix from the page's user space to that space. Errors MuPDF recovers from while
// interpreting the page are counted in the cookie; an error thrown out of the page leaves no
// list and its message in `message` (of `size` bytes).
fz_display_list* LoadDisplayList(fz_context* ctx, pdf_document* doc, int index, fz_matrix* pageCtm,
                                 fz_cookie* cookie, char* message, std::size_t size) {
    pdf_page* page = nullptr;
    fz_display_list* list = nullptr;
    fz_device* dev = nullptr;
    fz_var(page);
    fz_var(list);
    fz_var(dev);
    fz_try(ctx) {
        page = pdf_load_page(ctx, doc, index);
        fz_rect mediabox;
        pdf_page_transform(ctx, page, &mediabox, pageCtm);
        list = fz_new_display_list(ctx, fz_bound_page(ctx, &page->super));
        dev = fz_new_list_device(ctx, list);
        fz_run_page(ctx, &page->super, dev, fz_identity, cookie);
        fz_close_device(ctx, dev);
    }
    fz_always(ctx) {
        fz_drop_device(ctx, dev);
        fz_drop_page(ctx, &page->super);
    }
    fz_catch(ctx) {
        fz_drop_display_list(ctx, list);
        list = nullptr;
        std::snprintf(message, size, "%s", fz_caught_message(ctx));
    }
    return list;
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

// Draws the list's commands that touch `area` into `pixmap`. 0 when the cookie's cancel stopped
// the drawing (the device then closed quietly); MuPDF's own errors are thrown on.
int RunList(fz_context* ctx, fz_display_list* list, fz_pixmap* pixmap, fz_matrix ctm, fz_rect area,
            fz_cookie* cookie) {
    fz_device* dev = nullptr;
    int ok = 1;
    fz_var(dev);
    fz_var(ok);
    fz_try(ctx) {
        dev = fz_new_draw_device(ctx, fz_identity, pixmap);
        fz_run_display_list(ctx, list, dev, ctm, area, cookie);
        if (cookie && cookie->abort) {
            ok = 0;
            CloseAbandonedDevice(ctx, dev);
        } else {
            fz_close_device(ctx, dev);
        }
    }
    fz_always(ctx) { fz_drop_device(ctx, dev); }
    fz_catch(ctx) { fz_rethrow(ctx); }
    return ok;
}

// Clears the rows [y0, y1) of a picture `width` pixels wide to white and draws the list into
// them, through a pixmap over `samples` (row y0 first, `stride` bytes apart). 0 when MuPDF gave
// up; its message is then in `message`.
int DrawBand(fz_context* ctx, fz_display_list* list, fz_colorspace* cs, unsigned char* samples, std::ptrdiff_t stride,
             int width, int y0, int y1, int alpha, int visible, fz_matrix ctm, fz_cookie* cookie, char* message,
             std::size_t size) {
    fz_pixmap* band = nullptr;
    int ok = 1;
    fz_var(band);
    fz_var(ok);
    fz_try(ctx) {
        band = fz_new_pixmap_with_bbox_and_data(ctx, cs, fz_make_irect(0, y0, width, y1), nullptr, alpha, samples);
        band->stride = stride;
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
        if (visible) ok = RunList(ctx, list, band, ctm, fz_rect_from_irect(fz_pixmap_bbox(ctx, band)), cookie);
    }
    fz_always(ctx) { fz_drop_pixmap(ctx, band); }
    fz_catch(ctx) {
        ok = 0;
        std::snprintf(message, size, "%s", fz_caught_message(ctx));
    }
    return ok;
}

// Draws the list into the rows [b0, b1) of a picture's rows [y0, y1), through a pixmap of all of
// [y0, y1) over `scratch` (row y0 first, `stride` bytes apart): the rows of the band are cleared
// to white, and only what the list records as touching them is drawn. What is drawn is drawn
// whole, as in a pixmap of [y0, y1) drawn at once, so the band's rows come out exactly as there:
// MuPDF clips path edges to the pixmap they are drawn into, and an edge cut at a band's edge
// steps through its rows differently from one drawn whole (stroked lines then differ by up to a
// tenth of the range, many rows away from the cut). The rows outside the band are scratch. 0
// when MuPDF gave up; its message is then in `message`.
// Bands of fewer rows than this are not worth a thread; a thread takes about this many bands.
constexpr int kMinBandRows = 64;
constexpr int kBandsPerThread = 4;

int DrawCulledBand(fz_context* ctx, fz_display_list* list, fz_colorspace* cs, unsigned char* scratch,
                   std::ptrdiff_t stride, int width, int y0, int y1, int b0, int b1, int alpha, fz_matrix ctm,
                   fz_cookie* cookie, char* message, std::size_t size) {
    fz_pixmap* pixmap = nullptr;
    int ok = 1;
    fz_var(pixmap);
    fz_var(ok);
    fz_try(ctx) {
        pixmap = fz_new_pixmap_with_bbox_and_data(ctx, cs, fz_make_irect(0, y0, width, y1), nullptr, alpha, scratch);
        pixmap->stride = stride;
        // White as DrawBand clears: no ink in CMYK, full value (and opaque) otherwise. MuPDF's
        // own clear of a rectangle writes an alpha sample after each CMYK pixel, past the row
        // of a pixmap without one.
        const int white = fz_colorspace_n(ctx, cs) == 4 ? 0 : 255;
        for (int y = b0; y < b1; ++y)
            std::memset(pixmap->samples + static_cast<std::ptrdiff_t>(y - y0) * stride, white,
                        static_cast<std::size_t>(width) * static_cast<std::size_t>(pixmap->n));
        // A little beyond the band: a command just outside it is drawn for nothing, never missed.
        const fz_rect area = fz_make_rect(0, static_cast<float>(b0 - 2), static_cast<float>(width),
                                          static_cast<float>(b1 + 2));
        ok = RunList(ctx, list, pixmap, ctm, area, cookie);
    }
    fz_always(ctx) { fz_drop_pixmap(ctx, pixmap); }
    fz_catch(ctx) {
        ok = 0;
        std::snprintf(message, size, "%s", fz_caught_message(ctx));
    }
    return ok;
}

// Where a clone's warnings go: its parent's warning handler.
struct ParentWarnings {
    fz_warning_cb* warn = nullptr;
    void* user = nullptr;
};

// Threads that meet one image at once each decode it, and all but the first find their copy in
// the store already and say so: that is no news for the reader of the page's warnings.
void ForwardWarning(void* user, const char* message) {
    const ParentWarnings* parent = static_cast<const ParentWarnings*>(user);
    if (std::strstr(message, "found duplicate") && std::strstr(message, "in the store")) return;
    if (parent->warn) parent->warn(parent->user, message);
}

// A context sharing `ctx`'s store, glyph cache and locks, for another thread; its warnings go
// through `parent` (which must outlive it). Null when none can be made.
fz_context* CloneContext(fz_context* ctx, ParentWarnings* parent) {
    fz_context* clone = nullptr;
    fz_var(clone);
    fz_try(ctx) { clone = fz_clone_context(ctx); }
    fz_catch(ctx) { clone = nullptr; }
    if (clone) fz_set_warning_callback(clone, ForwardWarning, parent);
    return clone;
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

// The base context of one document, shared with every page prepared from it so that a page can
// outlive the document object; it keeps the idle readers between pages.
struct BaseContext {
    LockSet lockSet;
    fz_context* ctx = nullptr;
    // The file the readers open: the descriptor opened with the document, so that they read the
    // file the document read even when another one takes its name meanwhile.
    int fd = -1;
    std::string readerPath;
    std::string path;  // the document's name
    std::mutex idleLock;
    std::vector<std::unique_ptr<Reader>> idle;
    int inUse = 0;  // readers taken and not given back
    int dropOnReturn = 0;  // of those, how many go as they come back (DropReaders)

    BaseContext() { ctx = fz_new_context(nullptr, &lockSet.locks, FZ_STORE_DEFAULT); }
    ~BaseContext() {
        Drop(std::move(idle));
        if (ctx) fz_drop_context(ctx);
        if (fd >= 0) ::close(fd);
    }

    // The idle reader this thread had last, or another idle one, or a new one unlocked with
    // `password` when the file is encrypted; null when none can be had. A reader kept on one
    // thread keeps its memory in that thread's heap and caches: moving between threads, every
    // reader would end up spread over all the heaps.
    std::unique_ptr<Reader> TakeReader(const std::string& password) {
        {
            std::lock_guard guard(idleLock);
            if (!idle.empty()) {
                std::unique_ptr<Reader> r = TakeIdle();
                r->owner = std::this_thread::get_id();
                ++inUse;
                return r;
            }
        }
        return NewReader(password);
    }

    // Of the idle readers (there is one; idleLock held), the one this thread took last, else
    // the one given back last.
    std::unique_ptr<Reader> TakeIdle() {
        auto it = std::find_if(idle.begin(), idle.end(), [](const std::unique_ptr<Reader>& r) {
            return r->owner == std::this_thread::get_id();
        });
        if (it == idle.end()) it = idle.end() - 1;
        std::unique_ptr<Reader> r = std::move(*it);
        idle.erase(it);
        return r;
    }

    // A new reader, counted in use.
    std::unique_ptr<Reader> NewReader(const std::string& password) {
        auto r = std::make_unique<Reader>();
        r->ctx = fz_new_context(nullptr, &r->lockSet.locks, ReaderStoreBytes());
        if (!r->ctx) return nullptr;
        r->doc = mupdf::OpenPdf(r->ctx, readerPath.c_str());
        // Without /proc the file is opened by its name.
        if (!r->doc && readerPath != path) r->doc = mupdf::OpenPdf(r->ctx, path.c_str());
        if (!r->doc) return nullptr;
        if (r->doc->crypt && mupdf::AuthenticatePdf(r->ctx, r->doc, password.c_str()) == 0) return nullptr;
        std::lock_guard guard(idleLock);
        ++inUse;
        return r;
    }

    // Hands the idle readers to the background releaser, and the readers in use now as they
    // come back.
    void DropReaders() {
        std::vector<std::unique_ptr<Reader>> dropped;
        {
            std::lock_guard guard(idleLock);
            dropped.swap(idle);
            dropOnReturn = inUse;
        }
        Drop(std::move(dropped));
    }

    void GiveBack(std::unique_ptr<Reader> r) {
        std::vector<std::unique_ptr<Reader>> dropped;
        {
            std::lock_guard guard(idleLock);
            --inUse;
            try {
                if (dropOnReturn > 0) {
                    --dropOnReturn;
                    dropped.push_back(std::move(r));
                } else {
                    idle.push_back(std::move(r));
                }
            } catch (...) {
                // No room to keep it: the reader goes now (r still owns it when push_back threw).
            }
        }
        Drop(std::move(dropped));
    }

    // Readers own their contexts, files and locks: they can go on any thread, after the
    // document too. Called from destructors: without the memory to hand them over, they go here.
    static void Drop(std::vector<std::unique_ptr<Reader>> readers) noexcept {
        if (readers.empty()) return;
        try {
            auto held = std::make_shared<std::vector<std::unique_ptr<Reader>>>(std::move(readers));
            ReleaseInBackground([held] { held->clear(); });
        } catch (...) {
        }
    }
};

PdfPageGeometry GeometryOf(fz_rect crop, fz_rect media, int rotate, float userUnit) {
    PdfPageGeometry g;
    g.cropBox = fz_is_empty_rect(crop) ? PdfRect{} : Normalised(crop);
    g.mediaBox = fz_is_empty_rect(media) ? PdfRect{} : Normalised(media);
    g.rotation = rotate;
    // A unit is at least a point's thousandth and at most what a page could use.
    g.userUnit = std::isfinite(userUnit) && userUnit > 0.001f && userUnit <= 75000.0f ? userUnit : 1.0f;
    return g;
}

// Polls the cancel functions of the pages in progress from one thread, started with the first
// page and kept for the program's life, and stops MuPDF's work on a page through its cookie. A
// thread of its own for each page cost a thread's start and, worse, its join at the page's end,
// which waited for the thread to be scheduled on a busy machine.
class CancelWatcher {
public:
    struct Entry {
        std::function<bool()> cancelled;
        fz_cookie* cookie;
    };

    static CancelWatcher& Shared() {
        // Never destroyed: its thread runs until the program ends.
        static CancelWatcher* watcher = new CancelWatcher;
        return *watcher;
    }

    // False when no thread could be had: the page then stops at the caller's next look.
    bool Add(Entry* entry) {
        std::lock_guard lock(mutex_);
        // A child process forked after the thread started has no such thread.
        if (startedIn_ != ::getpid()) {
            try {
                std::thread([this] { Run(); }).detach();
                startedIn_ = ::getpid();
            } catch (...) {
                return false;
            }
        }
        const bool idle = entries_.empty();
        try {
            entries_.push_back(entry);
        } catch (...) {
            return false;
        }
        // A watcher that is polling finds the page at its next look; only an idle one is woken
        // (waking it for every page made it take the lock the workers need, a page at a time).
        if (idle) wake_.notify_one();
        return true;
    }

    // After this the entry is not looked at again.
    void Remove(Entry* entry) {
        std::lock_guard lock(mutex_);
        entries_.erase(std::remove(entries_.begin(), entries_.end(), entry), entries_.end());
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (entries_.empty()) {
                wake_.wait(lock);
                continue;
            }
            for (Entry* e : entries_)
                if (!e->cookie->abort && e->cancelled()) e->cookie->abort = 1;
            wake_.wait_for(lock, std::chrono::milliseconds(20));
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Entry*> entries_;
    pid_t startedIn_ = 0;
};

// One page's registration with the watcher, for as long as the page lives.
class CancelWatch {
public:
    CancelWatch(std::function<bool()> cancelled, fz_cookie* cookie) : entry_{std::move(cancelled), cookie} {
        if (entry_.cancelled) watched_ = CancelWatcher::Shared().Add(&entry_);
    }
    ~CancelWatch() {
        if (watched_) CancelWatcher::Shared().Remove(&entry_);
    }
    CancelWatch(const CancelWatch&) = delete;
    CancelWatch& operator=(const CancelWatch&) = delete;

private:
    CancelWatcher::Entry entry_;
    bool watched_ = false;
};

}  // namespace

struct PdfDocument::Impl {
    std::shared_ptr<BaseContext> base;
    pdf_document* doc = nullptr;
    mutable std::mutex lock;  // everything that touches `doc` or the base context
    bool encrypted = false;
    // Written with both locks held, read with either: the workers opening readers take only
    // `credentialsLock`, and so need not wait while the page tree is walked under `lock`.
    mutable std::mutex credentialsLock;
    bool unlocked = false;
    std::string password;  // the one that made the document readable

    void SetUnlocked(const std::string& with) {  // `lock` held
        std::lock_guard guard(credentialsLock);
        unlocked = true;
        password = with;
    }
    mutable std::optional<int> pageCount;  // counted once, under the lock
    // Each page's boxes, read once under the lock: the page loop asks for them twice a page.
    mutable std::vector<std::optional<PdfPageGeometry>> geometries;

    // Called with the lock held.
    std::optional<PdfPageGeometry> Geometry(int index) const {
        const auto at = static_cast<std::size_t>(index);
        if (at < geometries.size() && geometries[at]) return geometries[at];
        fz_rect crop = fz_empty_rect, media = fz_empty_rect;
        int rotate = 0;
        float userUnit = 1;
        if (!ReadGeometry(base->ctx, doc, index, &crop, &media, &rotate, &userUnit)) return std::nullopt;
        const PdfPageGeometry g = GeometryOf(crop, media, rotate, userUnit);
        try {
            if (at >= geometries.size()) geometries.resize(std::max(at + 1, static_cast<std::size_t>(pageCount.value_or(0))));
            geometries[at] = g;
        } catch (...) {
            // No room to keep it: read again next time.
        }
        return g;
    }

    // The pages both MuPDF and the page tree agree on; -1 when the tree cannot be read at all.
    // Called with the lock held.
    int CountPages() const {
        if (!pageCount) {
            // MuPDF finds no page beyond the count the tree claims, and the tree may claim pages
            // it does not have.
            const int found = CountPageTree(base->ctx, doc);
            pageCount = found < 0 ? found : std::min(found, CountPdfPages(base->ctx, doc));
        }
        return *pageCount;
    }

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
    impl->base->path = path.string();
    impl->base->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    impl->base->readerPath =
        impl->base->fd >= 0 ? "/proc/self/fd/" + std::to_string(impl->base->fd) : path.string();
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
    impl_->SetUnlocked(password);
    return true;
}

bool PdfDocument::AcceptsPassword(const std::string& candidate) {
    std::lock_guard guard(impl_->lock);
    if (!impl_->encrypted) return true;
    if (mupdf::AuthenticatePdf(impl_->base->ctx, impl_->doc, candidate.c_str()) != 0) {
        impl_->SetUnlocked(candidate);
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

std::optional<int> PdfDocument::ReadPageCount() const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked) return std::nullopt;
    const int count = impl_->CountPages();
    if (count < 0) return std::nullopt;
    return count;
}

int PdfDocument::PageCount() const { return ReadPageCount().value_or(0); }

int PdfDocument::ClaimedPageCount() const {
    std::lock_guard guard(impl_->lock);
    return impl_->unlocked ? CountPdfPages(impl_->base->ctx, impl_->doc) : 0;
}

void PdfDocument::PrepareReader() const {
    std::string password;
    {
        std::lock_guard guard(impl_->credentialsLock);
        if (!impl_->unlocked) return;
        password = impl_->password;
    }
    try {
        if (std::unique_ptr<Reader> reader = impl_->base->NewReader(password)) impl_->base->GiveBack(std::move(reader));
    } catch (...) {
        // No memory for it: the first page opens one.
    }
}

std::optional<PdfPageGeometry> PdfDocument::PageGeometry(int pageIndex) const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked || pageIndex < 0) return std::nullopt;
    return impl_->Geometry(pageIndex);
}

struct PreparedPdfPage::Impl {
    std::shared_ptr<BaseContext> base;  // keeps the reader's file open
    std::unique_ptr<Reader> reader;
    fz_context* ctx = nullptr;  // the reader's
    fz_display_list* list = nullptr;
    fz_colorspace* cs = nullptr;
    fz_matrix ctm = fz_identity;
    bool visible = false;
    int width = 0, height = 0, n = 0;
    bool alpha = false;
    ColorModel model = ColorModel::RGB;
    fz_cookie cookie{};
    std::function<bool()> cancelled;
    std::unique_ptr<CancelWatch> watch;

    bool DrawAtOnce(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride, PdfPageError& e);
    bool DrawInBands(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride, int threads, PdfPageError& e);

    ~Impl() {
        watch.reset();  // before the cookie it writes to goes
        if (list) fz_drop_display_list(ctx, list);
        if (reader) base->GiveBack(std::move(reader));
    }
};

PreparedPdfPage::PreparedPdfPage(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PreparedPdfPage::~PreparedPdfPage() = default;
int PreparedPdfPage::width() const { return impl_->width; }
int PreparedPdfPage::height() const { return impl_->height; }
ColorModel PreparedPdfPage::model() const { return impl_->model; }
int PreparedPdfPage::components() const { return impl_->n; }
bool PreparedPdfPage::hasAlpha() const { return impl_->alpha; }
int PreparedPdfPage::warnings() const { return impl_->cookie.errors; }

bool PreparedPdfPage::DrawRows(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride, PdfPageError* error) {
    PdfPageError ignored;
    PdfPageError& e = error ? *error : ignored;
    if (y0 < 0 || y1 > impl_->height || y0 >= y1 || !samples) {
        e = {PdfPageError::TooLarge, "no such rows"};
        return false;
    }
    if (impl_->cookie.abort) {
        e = {PdfPageError::Cancelled, ""};
        return false;
    }
    // Rows enough for several bands, with threads to spare, are drawn in bands side by side.
    const int threads = std::min(WorkerBudget(), (y1 - y0) / kMinBandRows);
    if (threads > 1 && impl_->visible) return impl_->DrawInBands(y0, y1, samples, stride, threads, e);
    return impl_->DrawAtOnce(y0, y1, samples, stride, e);
}

bool PreparedPdfPage::Impl::DrawAtOnce(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride,
                                       PdfPageError& e) {
    char message[256] = "";
    const int ok = DrawBand(ctx, list, cs, samples, stride, width, y0, y1, alpha ? 1 : 0, visible ? 1 : 0, ctm,
                            &cookie, message, sizeof message);
    if (cookie.abort) {
        e = {PdfPageError::Cancelled, ""};
        return false;
    }
    if (!ok) {
        e = {PdfPageError::Unreadable, message};
        return false;
    }
    return true;
}

bool PreparedPdfPage::Impl::DrawInBands(int y0, int y1, std::uint8_t* samples, std::ptrdiff_t stride, int threads,
                                        PdfPageError& e) {
    // More bands than threads: the threads that finish first take over bands of the others, so
    // that a part of the page dense with content does not hold up the rest. Each thread draws
    // its bands on a context of its own, a clone of the reader's (its store and glyph cache
    // shared), into a scratch picture of all the rows. Without a second context the rows are
    // drawn at once.
    const int rows = y1 - y0;
    const int bands = std::min(threads * kBandsPerThread, std::max(1, rows / kMinBandRows));
    const int bandRows = (rows + bands - 1) / bands;
    const std::ptrdiff_t scratchStride = static_cast<std::ptrdiff_t>(width) * n;
    const std::size_t scratchBytes = static_cast<std::size_t>(scratchStride) * static_cast<std::size_t>(rows);

    ParentWarnings parent;
    parent.warn = fz_warning_callback(ctx, &parent.user);
    std::vector<fz_context*> contexts;
    try {
        contexts.reserve(static_cast<std::size_t>(threads));
    } catch (...) {
        return DrawAtOnce(y0, y1, samples, stride, e);
    }
    for (int t = 0; t < threads; ++t) {
        fz_context* clone = CloneContext(ctx, &parent);
        if (!clone) break;  // fewer threads
        contexts.push_back(clone);
    }
    if (contexts.size() < 2) {
        for (fz_context* c : contexts) fz_drop_context(c);
        return DrawAtOnce(y0, y1, samples, stride, e);
    }

    // Each thread starts on a run of neighbouring bands of its own, so that the rows it draws
    // (and the clip and group pictures MuPDF makes around them) are few and close together in
    // its scratch picture: every part of it first written costs a page fresh from the kernel.
    // A thread done with its run takes the last bands of the longest run left.
    const int workers = static_cast<int>(contexts.size());
    struct Run {
        int front = 0, back = 0;  // bands [front, back) not yet taken
    };
    std::vector<Run> runs(static_cast<std::size_t>(workers));
    for (int t = 0; t < workers; ++t) {
        runs[static_cast<std::size_t>(t)].front = bands * t / workers;
        runs[static_cast<std::size_t>(t)].back = bands * (t + 1) / workers;
    }
    std::mutex runsLock;
    const auto take = [&](int t) {
        std::lock_guard guard(runsLock);
        Run& own = runs[static_cast<std::size_t>(t)];
        if (own.front < own.back) return own.front++;
        Run* longest = nullptr;
        for (Run& r : runs)
            if (r.back - r.front > 0 && (!longest || r.back - r.front > longest->back - longest->front)) longest = &r;
        return longest ? --longest->back : -1;
    };
    std::atomic<int> drawn{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> abandoned{false};
    std::atomic<int> errors{0};
    std::mutex failureLock;
    std::string failure;
    const auto work = [&](int t) {
        fz_context* c = contexts[static_cast<std::size_t>(t)];
        std::shared_ptr<std::uint8_t> scratch;
        try {
            scratch = AcquireBuffer(scratchBytes);
        } catch (...) {
        }
        // Without one this thread draws nothing: the others draw its bands.
        if (!scratch) return;
        fz_cookie bandCookie{};
        std::optional<CancelWatch> bandWatch;
        try {
            bandWatch.emplace(cancelled, &bandCookie);
        } catch (...) {
        }
        for (int i = take(t); i >= 0 && !stopped; i = take(t)) {
            if (cookie.abort) bandCookie.abort = 1;
            const int b0 = y0 + i * bandRows;
            const int b1 = std::min(y1, b0 + bandRows);
            if (b0 < b1) {
                char message[256] = "";
                const int ok = DrawCulledBand(c, list, cs, scratch.get(), scratchStride, width, y0, y1, b0, b1,
                                              alpha ? 1 : 0, ctm, &bandCookie, message, sizeof message);
                if (bandCookie.abort) {
                    abandoned = true;
                    stopped = true;
                    break;
                }
                if (!ok) {
                    std::lock_guard guard(failureLock);
                    if (!stopped.exchange(true)) failure = message;
                    break;
                }
                for (int y = b0; y < b1; ++y)
                    std::memcpy(samples + static_cast<std::ptrdiff_t>(y - y0) * stride,
                                scratch.get() + static_cast<std::ptrdiff_t>(y - y0) * scratchStride,
                                static_cast<std::size_t>(scratchStride));
            }
            ++drawn;
        }
        errors += bandCookie.errors;
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < workers; ++t) {
        try {
            helpers.emplace_back(work, t);
        } catch (...) {
            break;  // no thread to be had: its run goes to the others
        }
    }
    work(0);
    for (std::thread& h : helpers) h.join();
    for (fz_context* c : contexts) fz_drop_context(c);
    cookie.errors += errors;

    if (abandoned || cookie.abort) {
        cookie.abort = 1;
        e = {PdfPageError::Cancelled, ""};
        return false;
    }
    if (stopped) {
        e = {PdfPageError::Unreadable, failure};
        return false;
    }
    // Bands left undrawn, every thread without its scratch picture: the rows drawn at once.
    if (drawn.load() < bands) return DrawAtOnce(y0, y1, samples, stride, e);
    return true;
}

std::unique_ptr<PreparedPdfPage> PdfDocument::PreparePage(const RenderRequest& request,
                                                          const std::function<bool()>& cancelled,
                                                          PdfPageError* error) const {
    PdfPageError ignored;
    PdfPageError& e = error ? *error : ignored;
    if (request.width < 1 || request.height < 1) {
        e = {PdfPageError::TooLarge, "no pixels"};
        return nullptr;
    }
    auto impl = std::make_unique<PreparedPdfPage::Impl>();
    impl->base = impl_->base;
    impl->width = request.width;
    impl->height = request.height;
    impl->model = request.model;
    impl->alpha = request.alpha && request.model == ColorModel::RGB;
    impl->n = ComponentsOf(request.model) + (impl->alpha ? 1 : 0);
    impl->cancelled = cancelled;
    impl->watch = std::make_unique<CancelWatch>(cancelled, &impl->cookie);
    if (cancelled && cancelled()) {
        e = {PdfPageError::Cancelled, ""};
        return nullptr;
    }

    fz_matrix pageCtm = fz_identity;
    PdfPageGeometry geometry;
    std::string password;
    {
        std::lock_guard guard(impl_->lock);
        if (!impl_->unlocked) {
            e = {PdfPageError::Locked, ""};
            return nullptr;
        }
        const std::optional<PdfPageGeometry> g =
            request.pageIndex < 0 ? std::nullopt : impl_->Geometry(request.pageIndex);
        if (!g) {
            e = {PdfPageError::NoSuchPage, ""};
            return nullptr;
        }
        geometry = *g;
        password = impl_->password;
    }
    // The page is loaded and recorded on the reader, outside the document's lock.
    try {
        impl->reader = impl_->base->TakeReader(password);
    } catch (...) {
    }
    if (!impl->reader) {
        e = {PdfPageError::NoResources, "no drawing context"};
        return nullptr;
    }
    impl->ctx = impl->reader->ctx;
    char message[256] = "";
    impl->list = LoadDisplayList(impl->ctx, impl->reader->doc, request.pageIndex, &pageCtm, &impl->cookie, message,
                                 sizeof message);
    if (impl->cookie.abort) {
        e = {PdfPageError::Cancelled, ""};
        return nullptr;
    }
    if (!impl->list) {
        e = {PdfPageError::Unreadable, message};
        return nullptr;
    }
    impl->cs = request.model == ColorModel::Monochrome ? fz_device_gray(impl->ctx)
               : request.model == ColorModel::CMYK     ? fz_device_cmyk(impl->ctx)
                                                       : fz_device_rgb(impl->ctx);
    impl->visible = PageToPixels(geometry, pageCtm, request.scale * geometry.userUnit, &impl->ctm);
    return std::unique_ptr<PreparedPdfPage>(new PreparedPdfPage(std::move(impl)));
}

std::size_t PdfDocument::PageWeight(int pageIndex) const {
    std::lock_guard guard(impl_->lock);
    if (!impl_->unlocked || pageIndex < 0) return 0;
    return ReadPageWeight(impl_->base->ctx, impl_->doc, pageIndex);
}

void PdfDocument::DropReaders() const { impl_->base->DropReaders(); }

Bitmap PdfDocument::RenderPage(const RenderRequest& request, const std::function<bool()>& cancelled) const {
    if (request.width < 1 || request.height < 1) return {};
    const bool wantAlpha = request.alpha && request.model == ColorModel::RGB;
    const int n = ComponentsOf(request.model) + (wantAlpha ? 1 : 0);
    if (static_cast<std::size_t>(request.width) * n > kMaxBitmapBytes / static_cast<std::size_t>(request.height))
        return {};
    std::unique_ptr<PreparedPdfPage> page = PreparePage(request, cancelled);
    if (!page) return {};
    // The pixels live in a pooled buffer: a page loop reuses its pages' memory.
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(request.width) * n;
    std::shared_ptr<std::uint8_t> samples =
        AcquireBuffer(static_cast<std::size_t>(stride) * static_cast<std::size_t>(request.height));
    // The whole page at once (in bands side by side when the caller's budget has threads to
    // spare: the same pixels).
    if (!samples || !page->DrawRows(0, request.height, samples.get(), stride)) return {};
    Bitmap b;
    b.width = request.width;
    b.height = request.height;
    b.model = request.model;
    b.components = n;
    b.hasAlpha = wantAlpha;
    b.stride = stride;
    b.data = samples.get();
    b.owner = std::move(samples);
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
    const int count = impl_->CountPages();
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
        float userUnit = 1;
        if (!ReadGeometry(ctx, doc, index, &crop, &media, &rotate, &userUnit)) continue;
        const PdfPageGeometry g = GeometryOf(crop, media, rotate, 1.0f);
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
