// The page-buffer pool: a buffer given back is handed out again for a page of its size, buffers
// in use are never shared, and every size, small or mapped in huge pages, is usable to its end.
#include <gtest/gtest.h>

#include <cstring>
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

}  // namespace
