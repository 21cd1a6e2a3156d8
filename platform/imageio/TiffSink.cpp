#include "platform/imageio/TiffSink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform::raster {

TiffSink::TiffSink(std::vector<std::uint8_t>& out) : own_(std::make_unique<MemorySink>(out)), sink_(*own_) {
    out.clear();
    Open();
}

TiffSink::TiffSink(ByteSink& sink) : sink_(sink) { Open(); }

void TiffSink::Open() {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffSink::OnError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffSink::OnWarning, this);
    tiff_ = TIFFClientOpenExt("memory", "w", this, &TiffSink::Read, &TiffSink::Write, &TiffSink::Seek,
                              &TiffSink::CloseProc, &TiffSink::Size, &TiffSink::Map, &TiffSink::Unmap, options);
    TIFFOpenOptionsFree(options);
    if (!tiff_) failed_ = true;
}

TiffSink::~TiffSink() {
    if (tiff_) TIFFClose(tiff_);
}

bool TiffSink::Close() {
    if (tiff_) {
        TIFFClose(tiff_);
        tiff_ = nullptr;
    }
    return !failed_;
}

tmsize_t TiffSink::Read(thandle_t h, void* buf, tmsize_t size) {
    auto* self = static_cast<TiffSink*>(h);
    if (size < 0) return 0;
    const std::size_t n = self->sink_.ReadAt(self->pos_, static_cast<std::uint8_t*>(buf), static_cast<std::size_t>(size));
    self->pos_ += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t TiffSink::Write(thandle_t h, void* buf, tmsize_t size) {
    auto* self = static_cast<TiffSink*>(h);
    if (size < 0) return -1;
    if (!self->sink_.WriteAt(self->pos_, static_cast<const std::uint8_t*>(buf), static_cast<std::size_t>(size))) {
        self->failed_ = true;
        return -1;
    }
    self->pos_ += static_cast<std::uint64_t>(size);
    return size;
}

toff_t TiffSink::Seek(thandle_t h, toff_t offset, int whence) {
    auto* self = static_cast<TiffSink*>(h);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = self->pos_;
    else if (whence == SEEK_END)
        base = self->sink_.Size();
    self->pos_ = base + offset;
    return self->pos_;
}

int TiffSink::CloseProc(thandle_t) { return 0; }

toff_t TiffSink::Size(thandle_t h) { return static_cast<TiffSink*>(h)->sink_.Size(); }

int TiffSink::Map(thandle_t, void**, toff_t*) { return 0; }

void TiffSink::Unmap(thandle_t, void*, toff_t) {}

int TiffSink::OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* self = static_cast<TiffSink*>(user);
    self->failed_ = true;
    if (self->message_.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        self->message_ = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;
}

int TiffSink::OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace platform::raster
