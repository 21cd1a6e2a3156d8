#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/imageio/ImageDestination.h"

// Encoders that take a picture a band of rows at a time and write as they go, so that a page
// of any size needs only a few bands in memory. The whole-picture encoders of the same formats
// are these with one band.
namespace platform {

// Where such an encoder's bytes go: a file or memory.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes at `offset`, extending the output as needed. False on failure (`error` says why).
    virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
    // Reads back what was written (libtiff rereads its directories); the bytes read.
    virtual std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) = 0;
    // How far the output reaches.
    virtual std::uint64_t Size() const = 0;
    // Makes room at once for an output of `total` bytes, where the sink keeps it in memory;
    // false when there is no memory for it.
    virtual bool Reserve(std::uint64_t) { return true; }
    bool Append(const std::uint8_t* data, std::size_t size) { return WriteAt(Size(), data, size); }
    int error = 0;  // the errno of a failed file operation; 0 otherwise
};

class MemorySink final : public ByteSink {
public:
    explicit MemorySink(std::vector<std::uint8_t>& out) : out_(out) {}
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override;
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override;
    std::uint64_t Size() const override { return out_.size(); }
    bool Reserve(std::uint64_t total) override;

private:
    std::vector<std::uint8_t>& out_;
};

// Over an open file descriptor, which stays the caller's.
class FileSink final : public ByteSink {
public:
    explicit FileSink(int fd) : fd_(fd) {}
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override;
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override;
    std::uint64_t Size() const override { return size_; }

private:
    int fd_;
    std::uint64_t size_ = 0;
};

// Gathers small writes that follow each other into large ones for another sink (libtiff writes
// an uncompressed file a strip at a time, each strip a row or two). Reads and writes elsewhere
// first flush what is gathered. Flush() before the sink is used on its own.
class BufferedSink final : public ByteSink {
public:
    explicit BufferedSink(ByteSink& sink, std::size_t capacity = std::size_t{1} << 20);
    ~BufferedSink() override;
    bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override;
    std::size_t ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override;
    std::uint64_t Size() const override;
    bool Reserve(std::uint64_t total) override { return sink_.Reserve(total); }
    bool Flush();

private:
    ByteSink& sink_;
    std::vector<std::uint8_t> gathered_;
    std::uint64_t start_ = 0;  // where the gathered bytes go
};

class RowEncoder {
public:
    virtual ~RowEncoder() = default;
    // The next rows of the picture, top to bottom: `band` holds band.height rows of the
    // picture's width and samples.
    virtual bool WriteRows(const Bitmap& band) = 0;
    // After the last rows: completes the file.
    virtual bool Finish() = 0;
    // Why the encoder failed, in its library's words where it gave any.
    const std::string& message() const { return message_; }

protected:
    std::string message_;
};

// Opens a row encoder for a picture of `shape`'s size and samples (its pixels are not read).
using RowEncoderOpener = std::unique_ptr<RowEncoder> (*)(const Bitmap& shape, const DestinationProperties& properties,
                                                         ByteSink& sink);

// The row encoder for a type identifier; nullptr when its encoder needs the whole picture or
// the identifier is refused, or when the encoder could not start.
std::unique_ptr<RowEncoder> OpenRowEncoder(std::string_view typeIdentifier, const Bitmap& shape,
                                           const DestinationProperties& properties, ByteSink& sink);

// A whole bitmap through a row encoder into memory: the whole-picture encoder of its format.
bool EncodeInOneBand(RowEncoderOpener open, const Bitmap& image, const DestinationProperties& properties,
                     std::vector<std::uint8_t>& out);

// Whole-picture encoders that write straight into a sink: a file's bytes then need no copy in
// memory, which for an uncompressed format is several times the page.
using SinkEncoder = bool (*)(const Bitmap& image, const DestinationProperties& properties, ByteSink& sink);

// True when the type identifier's whole-picture encoder writes into a sink.
bool EncodesIntoSink(std::string_view typeIdentifier);

// Encodes the whole `image` straight into `sink`; false when the encoder fails or the type has
// no such encoder. On failure the sink may hold part of a file.
bool EncodeImageInto(std::string_view typeIdentifier, const Bitmap& image, const DestinationProperties& properties,
                     ByteSink& sink);

// Row encoders of the formats that stream.
namespace encoders {
std::unique_ptr<RowEncoder> OpenPNGRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink);
std::unique_ptr<RowEncoder> OpenJPEGRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink);
std::unique_ptr<RowEncoder> OpenTIFFRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink);
std::unique_ptr<RowEncoder> OpenBMPRows(const Bitmap& shape, const DestinationProperties& properties, ByteSink& sink);
bool EncodeDngInto(const Bitmap& image, const DestinationProperties& properties, ByteSink& sink);
bool EncodeFlashPixInto(const Bitmap& image, const DestinationProperties& properties, ByteSink& sink);
}  // namespace encoders

}  // namespace platform
