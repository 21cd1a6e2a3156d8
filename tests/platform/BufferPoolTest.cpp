// The page-buffer pool: a buffer given back is handed out again for a page of its size, buffers
// in use are never shared, every size, small or mapped on its own, is usable to its end, and
// a trim gives the buffers back to the system behind the caller's back, in order with the other
// work given to the background.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
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

// The address of a buffer of `bytes` taken from the pool, written and given back to it (null
// when none could be had).
std::uint8_t* ReturnedBuffer(std::size_t bytes) {
    std::shared_ptr<std::uint8_t> a = platform::AcquireBuffer(bytes);
    if (a) a.get()[0] = 1;
    return a.get();
}

TEST(BufferPool, AMuchSmallerRequestDoesNotTieUpALargeBuffer) {
    platform::TrimBufferPool();
    std::uint8_t* large = ReturnedBuffer(std::size_t{20} << 20);
    ASSERT_TRUE(large);
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
    std::uint8_t* kept = ReturnedBuffer(std::size_t{6} << 20);
    ASSERT_TRUE(kept);
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
    // Held by the job too: the promise must outlive its set_value, which may still be running
    // when the test has its answer.
    auto after = std::make_shared<std::promise<bool>>();
    std::future<bool> seen = after->get_future();
    platform::ReleaseInBackground([after, kept] { after->set_value(Mapped(kept)); });
    gate.set_value();
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(seen.get()) << "the trimmed buffer is still mapped";
    platform::TrimBufferPool();
}

TEST(BufferPool, WaitingForTheBackgroundReturnsWhenItsJobsAreDoneOrAtTheLimit) {
    std::atomic<bool> done{false};
    platform::ReleaseInBackground([&done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        done = true;
    });
    platform::WaitForBackgroundRelease(std::chrono::seconds(30));
    EXPECT_TRUE(done);
    // A job held up: the wait ends at its limit, and the job goes on afterwards.
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::atomic<bool> finished{false};
    platform::ReleaseInBackground([opened, &finished] {
        opened.wait();
        finished = true;
    });
    platform::WaitForBackgroundRelease(std::chrono::milliseconds(100));
    EXPECT_FALSE(finished);
    gate.set_value();
    platform::WaitForBackgroundRelease(std::chrono::seconds(30));
    EXPECT_TRUE(finished);
}

// A file name of our own under /tmp, not yet made.
std::string FreshMarker() {
    char pattern[] = "/tmp/vellipse-release-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd < 0) return {};
    ::close(fd);
    ::unlink(pattern);
    return pattern;
}

// A job that leaves `marker` behind, slowly.
std::function<void()> SlowMarkerJob(const std::string& marker) {
    return [marker] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (std::FILE* f = std::fopen(marker.c_str(), "w")) std::fclose(f);
    };
}

// Runs `body` with a fresh marker's name in a forked child, which ends the process itself, and
// expects the child to exit with 0 having left the marker behind (removed here).
void ExpectChildLeavesMarker(const std::function<void(const std::string&)>& body, const char* otherwise) {
    const std::string marker = FreshMarker();
    ASSERT_FALSE(marker.empty());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(60);
        body(marker);
        ::_exit(126);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(::access(marker.c_str(), F_OK), 0) << otherwise;
    ::unlink(marker.c_str());
}

TEST(BufferPool, AForkedChildRunsItsOwnBackgroundJobs) {
    // The background thread is running here already; the child has none of it.
    auto ran = std::make_shared<std::promise<void>>();
    std::future<void> seen = ran->get_future();
    platform::ReleaseInBackground([ran] { ran->set_value(); });
    ASSERT_EQ(seen.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    ExpectChildLeavesMarker(
        [](const std::string& marker) {
            platform::ReleaseInBackground(SlowMarkerJob(marker));
            platform::WaitForBackgroundRelease(std::chrono::seconds(10));
            ::_exit(0);
        },
        "the child's job never ran");
}

// Run as a program of its own by the next test: gives a slow job and exits at once.
TEST(BufferPool, ExitingProgramHelper) {
    const char* marker = std::getenv("VELLIPSE_RELEASE_MARKER");
    if (!marker) GTEST_SKIP() << "run by BufferPool.AProgramThatExitsWaitsForItsBackgroundJobs";
    platform::ReleaseInBackground(SlowMarkerJob(marker));
    std::exit(0);
}

TEST(BufferPool, AProgramThatExitsWaitsForItsBackgroundJobs) {
    ExpectChildLeavesMarker(
        [](const std::string& marker) {
            ::setenv("VELLIPSE_RELEASE_MARKER", marker.c_str(), 1);
            char self[] = "/proc/self/exe";
            char filter[] = "--gtest_filter=BufferPool.ExitingProgramHelper";
            char* const argv[] = {self, filter, nullptr};
            ::execv(self, argv);
            ::_exit(127);
        },
        "the program exited before its job was done");
}

}  // namespace
