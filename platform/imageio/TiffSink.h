#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/imageio/RowEncoder.h"

// A libtiff handle writing into memory or any other byte sink, for the encoders built on
// libtiff (TIFF, fax, DNG). Library errors are kept on the handle instead of being printed.
namespace platform::raster {

class TiffSink {
public:
    explicit TiffSink(std::vector<std::uint8_t>& out);
    explicit TiffSink(ByteSink& sink);
    ~TiffSink();
    TiffSink(const TiffSink&) = delete;
    TiffSink& operator=(const TiffSink&) = delete;

    TIFF* tiff() const { return tiff_; }
    // Flushes and closes the file; true when neither this nor any earlier call failed.
    bool Close();
    bool failed() const { return failed_; }
    // The library's first error, when it reported one.
    const std::string& message() const { return message_; }

private:
    static tmsize_t Read(thandle_t, void*, tmsize_t);
    static tmsize_t Write(thandle_t, void*, tmsize_t);
    static toff_t Seek(thandle_t, toff_t, int);
    static int CloseProc(thandle_t);
    static toff_t Size(thandle_t);
    static int Map(thandle_t, void**, toff_t*);
    static void Unmap(thandle_t, void*, toff_t);
    static int OnError(TIFF*, void*, const char*, const char*, va_list);
    static int OnWarning(TIFF*, void*, const char*, const char*, va_list);

    void Open();

    std::unique_ptr<ByteSink> own_;
    ByteSink& sink_;
    std::uint64_t pos_ = 0;
    std::string message_;
    TIFF* tiff_ = nullptr;
    bool failed_ = false;
};

}  // namespace platform::raster
