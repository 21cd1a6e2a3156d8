// The page-buffer pool: a buffer given back is handed out again for a page of its size, buffers
// in use are never shared, every size, small or mapped on its own, is usable to its end, and
// a trim gives the buffers back to the system behind the caller's back, in order with the other
// work given to the background.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/BufferPool.h"

namespace {

TEST(BufferPool, ReusesReturnedBuffersAndNeverSharesOnesInUse) {
    platform::TrimBufferPool();
    // A small buffer (from malloc) and page-sized ones (mapped), one of an odd size.
    for (const std::size_t bytes : {std::size_t{4000}, std::size_t{6} << 20, (std::size_t{25} << 20) + 12345}) {
        SCOPED_TRACE(bytes);
        std::uint8_t* first = nullptr;
        {
            std::shared_ptr<std::uint8_t> a = platform::AcquireBuffer(bytes);
            ASSERT_TRUE(a);
            first = a.get();
            std::memset(a.get(), 0xA5, bytes);  // the whole size is ours
            std::shared_ptr<std::uint8_t> b = platform::AcquireBuffer(bytes);
            ASSERT_TRUE(b);
            // Distinct and not overlapping.
            EXPECT_TRUE(b.get() + bytes <= a.get() || a.get() + bytes <= b.get());
            std::memset(b.get(), 0x5A, bytes);
            EXPECT_EQ(a.get()[0], 0xA5);
            EXPECT_EQ(a.get()[bytes - 1], 0xA5);
        }
        // The next page of that size gets a kept buffer, not fresh memory.
        std::shared_ptr<std::uint8_t> again = platform::AcquireBuffer(bytes);
        ASSERT_TRUE(again);
        std::shared_ptr<std::uint8_t> other = platform::AcquireBuffer(bytes);
        ASSERT_TRUE(other);
        EXPECT_TRUE(again.get() == first || other.get() == first);
    }
    platform::TrimBufferPool();
}

TEST(BufferPool, AMuchSmallerRequestDoesNotTieUpALargeBuffer) {
    platform::TrimBufferPool();
    std::uint8_t* large = nullptr;
    {
        std::shared_ptr<std::uint8_t> a = platform::AcquireBuffer(std::size_t{20} << 20);
        ASSERT_TRUE(a);
        large = a.get();
    }
    // A buffer of a tenth of the size is not served from the large one, which stays for the
    // next large page.
    std::shared_ptr<std::uint8_t> small = platform::AcquireBuffer(std::size_t{2} << 20);
    ASSERT_TRUE(small);
    EXPECT_NE(small.get(), large);
    std::shared_ptr<std::uint8_t> next = platform::AcquireBuffer(std::size_t{20} << 20);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.get(), large);
    platform::TrimBufferPool();
}

// Whether the page at `address` is mapped: mincore refuses a range that is not.
bool Mapped(const void* address) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
    unsigned char resident = 0;
    return ::mincore(start, page, &resident) == 0 || errno != ENOMEM;
}

TEST(BufferPool, TrimmedBuffersGoBackInTheBackgroundInOrder) {
    platform::TrimBufferPool();
    std::uint8_t* kept = nullptr;
    {
        std::shared_ptr<std::uint8_t> a = platform::AcquireBuffer(std::size_t{6} << 20);
        ASSERT_TRUE(a);
        kept = a.get();
        kept[0] = 1;
    }
    ASSERT_TRUE(Mapped(kept));
    // The background is held up: the trim returns all the same, and the buffer is still there.
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    platform::ReleaseInBackground([opened] { opened.wait(); });
    platform::TrimBufferPool();
    EXPECT_TRUE(Mapped(kept));
    // A new buffer of that size is fresh: the trimmed one has left the pool.
    std::shared_ptr<std::uint8_t> fresh = platform::AcquireBuffer(std::size_t{6} << 20);
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh.get(), kept);
    fresh.reset();
    // Once the background goes on, the trim's work is done before the job given after it.
    std::promise<bool> after;
    std::future<bool> seen = after.get_future();
    platform::ReleaseInBackground([&after, kept] { after.set_value(Mapped(kept)); });
    gate.set_value();
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(seen.get()) << "the trimmed buffer is still mapped";
    platform::TrimBufferPool();
}

TEST(BufferPool, BackgroundWorkFinishesBeforeTheProgramExitsAndRunsInAForkedChild) {
    // The background thread is running here already.
    std::promise<void> ran;
    std::future<void> seen = ran.get_future();
    platform::ReleaseInBackground([&ran] { ran.set_value(); });
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    char pattern[] = "/tmp/vellipse-release-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::unlink(pattern);
    const std::string marker = pattern;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(60);
        // A slow job given just before a plain exit: the exit waits for it.
        platform::ReleaseInBackground([marker] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            std::FILE* f = std::fopen(marker.c_str(), "w");
            if (f) std::fclose(f);
        });
        std::exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(::access(marker.c_str(), F_OK), 0) << "the job did not run before the child exited";
    ::unlink(marker.c_str());
}

}  // namespace
