#include "platform/imageio/RowEncoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform {

bool MemorySink::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    try {
        const std::uint64_t end = offset + size;
        if (end > out_.size()) {
            if (end > out_.capacity()) out_.reserve(std::max<std::size_t>(end, out_.capacity() * 2));
            out_.resize(end);
        }
    } catch (...) {
        error = ENOMEM;
        return false;
    }
    if (size) std::memcpy(out_.data() + offset, data, size);
    return true;
}

std::size_t MemorySink::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    if (offset >= out_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(size, out_.size() - offset);
    std::memcpy(data, out_.data() + offset, n);
    return n;
}

bool FileSink::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    std::uint64_t at = offset;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    size_ = std::max(size_, at);
    return true;
}

std::size_t FileSink::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool EncodeInOneBand(RowEncoderOpener open, const Bitmap& image, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out) {
    out.clear();
    MemorySink sink(out);
    std::unique_ptr<RowEncoder> encoder = open(image, properties, sink);
    return encoder && encoder->WriteRows(image) && encoder->Finish();
}

}  // namespace platform
