#include "engine/extraction/BitonalFilters.h"

#include <mupdf/fitz.h>

namespace {

void Quiet(void*, const char*) {}

// MuPDF unwinds with longjmp: these functions hold only C state between fz_try and fz_catch.

struct Filter {
    int fax;  // 1 CCITT fax, 0 JBIG2
    const FaxParameters* parameters;
    const unsigned char* globals;
    size_t globalsSize;
};

// Reads up to `limit` bytes into `out` (sized to `limit` by the caller); the count read, or
// (size_t)-1 when the filter failed before any output.
size_t RunFilter(fz_context* ctx, const unsigned char* data, size_t size, const Filter* filter, unsigned char* out,
                 size_t limit) {
    fz_stream* source = nullptr;
    fz_stream* decoded = nullptr;
    fz_buffer* globalsBuffer = nullptr;
    fz_jbig2_globals* globals = nullptr;
    size_t total = 0;
    int failed = 0;
    fz_var(source);
    fz_var(decoded);
    fz_var(globalsBuffer);
    fz_var(globals);
    fz_var(total);
    fz_var(failed);
    fz_try(ctx) {
        source = fz_open_memory(ctx, data, size);
        if (filter->fax) {
            const FaxParameters* p = filter->parameters;
            decoded = fz_open_faxd(ctx, source, p->k, p->endOfLine, p->encodedByteAlign, p->columns, p->rows,
                                   p->endOfBlock, p->blackIs1);
        } else {
            if (filter->globals && filter->globalsSize > 0) {
                globalsBuffer = fz_new_buffer_from_copied_data(ctx, filter->globals, filter->globalsSize);
                globals = fz_load_jbig2_globals(ctx, globalsBuffer);
            }
            decoded = fz_open_jbig2d(ctx, source, globals, 1);
        }
        while (total < limit) {
            const size_t n = fz_read(ctx, decoded, out + total, limit - total);
            if (n == 0) break;
            total += n;
        }
    }
    fz_always(ctx) {
        fz_drop_stream(ctx, decoded);
        fz_drop_stream(ctx, source);
        fz_drop_jbig2_globals(ctx, globals);
        fz_drop_buffer(ctx, globalsBuffer);
    }
    fz_catch(ctx) { failed = 1; }
    if (failed && total == 0) return static_cast<size_t>(-1);
    return total;
}

bool Run(const std::uint8_t* data, std::size_t size, const Filter& filter, std::size_t limit,
         std::vector<std::uint8_t>& out) {
    out.clear();
    if (!data || limit == 0) return false;
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_UNLIMITED);
    if (!ctx) return false;
    fz_set_warning_callback(ctx, Quiet, nullptr);
    fz_set_error_callback(ctx, Quiet, nullptr);
    out.resize(limit);
    const size_t n = RunFilter(ctx, data, size, &filter, out.data(), limit);
    fz_drop_context(ctx);
    if (n == static_cast<size_t>(-1)) {
        out.clear();
        return false;
    }
    out.resize(n);
    return true;
}

}  // namespace

bool DecodeCCITTFax(const std::uint8_t* data, std::size_t size, const FaxParameters& parameters, std::size_t limit,
                    std::vector<std::uint8_t>& out) {
    return Run(data, size, Filter{1, &parameters, nullptr, 0}, limit, out);
}

bool DecodeJBIG2(const std::uint8_t* data, std::size_t size, const std::uint8_t* globals, std::size_t globalsSize,
                 std::size_t limit, std::vector<std::uint8_t>& out) {
    return Run(data, size, Filter{0, nullptr, globals, globalsSize}, limit, out);
}
