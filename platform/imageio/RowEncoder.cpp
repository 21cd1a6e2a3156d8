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

bool MemorySink::Reserve(std::uint64_t total) {
    try {
        if (total > out_.max_size()) return false;
        out_.reserve(static_cast<std::size_t>(total));
        return true;
    } catch (...) {
        return false;
    }
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

BufferedSink::BufferedSink(ByteSink& sink, std::size_t capacity) : sink_(sink) {
    try {
        gathered_.reserve(capacity);
    } catch (...) {
        // without room every write goes straight through
    }
}

BufferedSink::~BufferedSink() { Flush(); }

bool BufferedSink::Flush() {
    if (gathered_.empty()) return error == 0;
    const bool written = sink_.WriteAt(start_, gathered_.data(), gathered_.size());
    if (!written && error == 0) error = sink_.error ? sink_.error : EIO;
    start_ += gathered_.size();
    gathered_.clear();
    return written && error == 0;
}

bool BufferedSink::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    if (error) return false;
    const bool follows = offset == start_ + gathered_.size();
    if (!follows || gathered_.size() + size > gathered_.capacity()) {
        if (!Flush()) return false;
        start_ = offset;
    }
    if (size > gathered_.capacity()) {
        if (sink_.WriteAt(offset, data, size)) {
            start_ = offset + size;
            return true;
        }
        error = sink_.error ? sink_.error : EIO;
        return false;
    }
    gathered_.insert(gathered_.end(), data, data + size);
    return true;
}

std::size_t BufferedSink::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) {
    if (!Flush()) return 0;
    return sink_.ReadAt(offset, data, size);
}

std::uint64_t BufferedSink::Size() const { return std::max(sink_.Size(), start_ + gathered_.size()); }

bool EncodeInOneBand(RowEncoderOpener open, const Bitmap& image, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out) {
    out.clear();
    MemorySink sink(out);
    std::unique_ptr<RowEncoder> encoder = open(image, properties, sink);
    return encoder && encoder->WriteRows(image) && encoder->Finish();
}

}  // namespace platform
