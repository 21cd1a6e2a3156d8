// The sinks encoders write into: a buffered file must end up byte for byte what memory holds,
// whatever order the writes come in, and a whole-picture encoder that writes into a file must
// make the file it makes in memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <vector>

#include "platform/imageio/ImageDestination.h"
#include "platform/imageio/RowEncoder.h"
#include "support/PagePatches.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One step of a writer: a write of `size` bytes at `offset`, or (size 0) a read back of 16 bytes
// there, which must see everything written before.
struct Step {
    std::uint64_t offset;
    std::size_t size;
};

// A sink that fails every write after the first `allowed` bytes, as a full disk does.
class FullDisk final : public platform::ByteSink {
public:
    explicit FullDisk(std::size_t allowed) : allowed_(allowed) {}
    bool WriteAt(std::uint64_t offset, const std::uint8_t*, std::size_t size) override {
        if (written_ + size > allowed_) {
            error = ENOSPC;
            return false;
        }
        written_ += size;
        size_ = std::max<std::uint64_t>(size_, offset + size);
        return true;
    }
    std::size_t ReadAt(std::uint64_t, std::uint8_t*, std::size_t) override { return 0; }
    std::uint64_t Size() const override { return size_; }

private:
    std::size_t allowed_, written_ = 0;
    std::uint64_t size_ = 0;
};

TEST(ByteSinks, BufferedFileHoldsWhatMemoryHolds) {
    // The shapes of libtiff's writing: a header, strips one after another, a directory at the
    // end, the header patched; reads of what was just written; writes larger than the buffer
    // and past the end.
    const std::vector<std::vector<Step>> kWriters = {
        {{0, 8}, {8, 100}, {108, 100}, {208, 5000}, {5208, 300}, {4, 4}, {5508, 20}},
        {{0, 8}, {8, 3000}, {0, 0}, {3008, 3000}, {1000, 0}, {6008, 10}},
        {{0, 4096}, {4096, 10000}, {14096, 1}, {14097, 4095}},
        {{0, 10}, {100, 10}, {50, 10}, {200, 0}, {20, 300}},
        {{0, 2}, {2, 2}, {1, 2}, {4, 2}},
    };
    std::uint8_t value = 1;
    for (std::size_t w = 0; w < kWriters.size(); ++w) {
        SCOPED_TRACE("writer " + std::to_string(w));
        testpdf::TempDir dir;
        const fs::path path = dir / "out.bin";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        std::vector<std::uint8_t> memory;
        {
            platform::MemorySink expected(memory);
            platform::FileSink file(fd);
            platform::BufferedSink buffered(file, 4096);
            for (const Step& s : kWriters[w]) {
                if (s.size == 0) {
                    std::uint8_t got[16] = {}, want[16] = {};
                    EXPECT_EQ(buffered.ReadAt(s.offset, got, 16), expected.ReadAt(s.offset, want, 16));
                    EXPECT_EQ(0, std::memcmp(got, want, 16)) << "read at " << s.offset;
                    continue;
                }
                std::vector<std::uint8_t> data(s.size);
                for (std::uint8_t& b : data) b = value++;
                ASSERT_TRUE(buffered.WriteAt(s.offset, data.data(), data.size()));
                ASSERT_TRUE(expected.WriteAt(s.offset, data.data(), data.size()));
                EXPECT_EQ(buffered.Size(), expected.Size());
            }
            EXPECT_TRUE(buffered.Flush());
        }
        ::close(fd);
        EXPECT_EQ(FileBytes(path), memory);
    }
}

TEST(ByteSinks, BufferedWritesReportTheFailureOfTheirSink) {
    FullDisk disk(5000);
    platform::BufferedSink buffered(disk, 4096);
    const std::vector<std::uint8_t> data(3000, 7);
    EXPECT_TRUE(buffered.WriteAt(0, data.data(), data.size()));      // gathered
    EXPECT_TRUE(buffered.WriteAt(3000, data.data(), data.size()));   // the first written, this gathered
    EXPECT_FALSE(buffered.WriteAt(6000, data.data(), data.size()));  // the second does not fit
    EXPECT_EQ(buffered.error, ENOSPC);
    EXPECT_FALSE(buffered.WriteAt(9000, data.data(), 1));  // nor does anything after it
    EXPECT_FALSE(buffered.Flush());
    // Gathered bytes that cannot be written are a failure of the last flush.
    FullDisk small(100);
    {
        platform::BufferedSink last(small, 4096);
        EXPECT_TRUE(last.WriteAt(0, data.data(), 200));
        EXPECT_FALSE(last.Flush());
        EXPECT_EQ(last.error, ENOSPC);
    }
}

// Camera raw and FlashPix write their files straight into a sink: through a file, grey and RGB
// pages large enough for a shrunk preview, several pyramid levels and many flushes give the
// bytes of the encoder into memory.
TEST(ByteSinks, UncompressedTypesIntoAFileAreTheirFilesInMemory) {
    for (const char* type : {"public.camera-raw-image", "com.kodak.flashpix.image"}) {
        for (const platform::ColorModel model : {platform::ColorModel::Monochrome, platform::ColorModel::RGB}) {
            SCOPED_TRACE(std::string(type) + " " + std::to_string(static_cast<int>(model)));
            const platform::Bitmap page = testpage::MakePage(model, 1500, 700, false);
            platform::DestinationProperties props;
            props.dpiWidth = props.dpiHeight = 300;
            std::vector<std::uint8_t> memory;
            ASSERT_TRUE(platform::EncodeImageData(type, page, props, memory));
            ASSERT_TRUE(platform::EncodesIntoSink(type));

            testpdf::TempDir dir;
            const fs::path path = dir / "page";
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            ASSERT_GE(fd, 0);
            {
                platform::FileSink file(fd);
                platform::BufferedSink buffered(file);
                ASSERT_TRUE(platform::EncodeImageInto(type, page, props, buffered));
                ASSERT_TRUE(buffered.Flush());
            }
            ::close(fd);
            EXPECT_EQ(FileBytes(path), memory);
        }
    }
    // Types whose encoders need memory do not claim to write into a sink.
    EXPECT_FALSE(platform::EncodesIntoSink("public.png"));
    std::vector<std::uint8_t> unused;
    platform::MemorySink sink(unused);
    EXPECT_FALSE(platform::EncodeImageInto("public.png", testpage::MakePage(platform::ColorModel::RGB, 4, 4, false), {},
                                           sink));
}

}  // namespace
