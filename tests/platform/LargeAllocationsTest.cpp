// The platform library's large C allocations, libwebp's among them, in memory advised for huge
// pages, and released by the shared libwebp's free like any other block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/LargeAllocations.h"
#include "platform/imageio/readers/PictureReaders.h"
#include "support/FormatReaders.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

// The flags of the mapping that holds `address` in /proc/self/smaps ("rd wr mr ... hg"), or
// empty when none holds it.
std::string MappingFlags(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long long start = 0, end = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> start >> dash >> end && dash == '-' && line.find(':') > line.find(' ')) {
            inside = start <= at && at < end;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0) return line.substr(8) + " ";
    }
    return {};
}

TEST(LargeAllocations, LibwebpPicturesInHugePagesFreedByTheSharedLibrary) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator keeps its own mappings";
#endif
    if (!fs::exists("/sys/kernel/mm/transparent_hugepage/enabled")) GTEST_SKIP() << "no transparent huge pages";
    testpdf::TempDir dir;
    std::string out;
    ASSERT_EQ(testimage::RunPythonProbe("from PIL import Image\n"
                                        "Image.linear_gradient('L').resize((2048, 1536)).convert('RGB')"
                                        ".save(sys.argv[1] + '/big.png')\n",
                                        dir.path(), &out),
              0)
        << out;
    // The 12-megabyte ARGB plane libwebp allocates for the reader.
    WebPPicture picture;
    ASSERT_TRUE(WebPPictureInit(&picture));
    ASSERT_TRUE(platform::ReadPictureFile((dir / "big.png").c_str(), &picture, 1, nullptr));
    ASSERT_NE(picture.argb, nullptr);
    ASSERT_GE(std::uint64_t{2048} * 1536 * 4, platform::kLargeAllocation);
    const std::string flags = MappingFlags(picture.argb + 2048 * 768);
    EXPECT_NE(flags.find(" hg "), std::string::npos) << flags;
    WebPPictureFree(&picture);  // the shared library's, not the platform library's copy
}

}  // namespace
