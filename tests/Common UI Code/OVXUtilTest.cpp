#include <gtest/gtest.h>

#include <fstream>

#include "Common UI Code/OVXUtil.h"
#include "platform/SystemVersion.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;

namespace {
void Touch(const fs::path& p, const std::string& text = "x") { std::ofstream(p) << text; }
std::string Read(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct VersionGuard {
    ~VersionGuard() { platform::ResetSystemVersion(); }
};
}  // namespace

TEST(CompareSystemVersion, BothSidesOfEachVersionTest) {
    VersionGuard guard;
    struct Case {
        platform::SystemVersion running;
        int major, minor, patch;
        int expected;
    };
    const Case cases[] = {
        {{10, 6, 8}, 10, 7, 0, -1}, {{10, 7, 0}, 10, 7, 0, 0},  {{10, 8, 2}, 10, 7, 0, 1},
        {{10, 7, 2}, 10, 7, 3, -1}, {{10, 7, 3}, 10, 7, 3, 0},  {{10, 7, 5}, 10, 7, 3, 2},
        {{10, 7, 5}, 10, 8, 0, -1}, {{10, 8, 0}, 10, 8, 0, 0},  {{11, 0, 0}, 10, 8, 0, 1},
        {{9, 9, 9}, 10, 0, 0, -1},
    };
    for (const Case& c : cases) {
        platform::SetSystemVersion(c.running);
        EXPECT_EQ(CompareSystemVersion(c.major, c.minor, c.patch), c.expected)
            << c.running.major << "." << c.running.minor << "." << c.running.patch << " vs " << c.major << "."
            << c.minor << "." << c.patch;
    }
    // By default every newer-system branch is taken.
    platform::ResetSystemVersion();
    EXPECT_GT(CompareSystemVersion(10, 7, 0), 0);
    EXPECT_GT(CompareSystemVersion(10, 7, 3), 0);
    EXPECT_GT(CompareSystemVersion(10, 8, 0), 0);
}

TEST(GetUniqueDirectoryURL, SkipsTakenFoldersAndClaimsByCreating) {
    testpdf::TempDir dir;
    fs::create_directory(dir / "A");
    fs::create_directory(dir / "A 1");
    auto made = GetUniqueDirectoryURL(dir.path(), "A", true);
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, dir / "A 2");
    EXPECT_TRUE(fs::is_directory(*made));

    // Without creation the next free name is only named.
    auto named = GetUniqueDirectoryURL(dir.path(), "A", false);
    ASSERT_TRUE(named);
    EXPECT_EQ(*named, dir / "A 3");
    EXPECT_FALSE(fs::exists(*named));

    // A plain file holds the name: it is not a folder, so the candidate stays and creation fails.
    Touch(dir / "B");
    EXPECT_FALSE(GetUniqueDirectoryURL(dir.path(), "B", true));
    EXPECT_EQ(GetUniqueDirectoryURL(dir.path(), "B", false), dir / "B");
    EXPECT_EQ(Read(dir / "B"), "x");

    // A link to a folder is a folder taken: the next name is made, and the linked folder stays
    // as it was. A link to nothing holds the name as a plain file does.
    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", dir / "C");
    EXPECT_EQ(GetUniqueDirectoryURL(dir.path(), "C", true), dir / "C 1");
    EXPECT_EQ(GetUniqueDirectoryURL(dir.path(), "C", false), dir / "C 2");
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
    fs::create_symlink(dir / "nothing", dir / "D");
    EXPECT_FALSE(GetUniqueDirectoryURL(dir.path(), "D", true));

    // A missing parent is made with the folder.
    auto deep = GetUniqueDirectoryURL(dir / "x" / "y", "C", true);
    ASSERT_TRUE(deep);
    EXPECT_TRUE(fs::is_directory(dir / "x" / "y" / "C"));

    EXPECT_EQ(GetUniqueDirectoryURLForFile(dir.path(), dir / "Report.pdf", false), dir / "Report");
}

TEST(GetUniqueFileURL, FreeNamesAndOverwrite) {
    testpdf::TempDir dir;
    Touch(dir / "doc.jpg", "old");
    Touch(dir / "doc 1.jpg");
    EXPECT_EQ(GetUniqueFileURL(dir.path(), "doc", "jpg", false), dir / "doc 2.jpg");
    EXPECT_TRUE(fs::exists(dir / "doc.jpg"));

    EXPECT_EQ(GetUniqueFileURL(dir.path(), "doc", "jpg", true), dir / "doc.jpg");
    EXPECT_FALSE(fs::exists(dir / "doc.jpg"));  // removed so the name can be reused

    // Without an extension, or with an empty one, names carry none.
    Touch(dir / "doc");
    EXPECT_EQ(GetUniqueFileURL(dir.path(), "doc", std::nullopt, false), dir / "doc 1");
    Touch(dir / "doc 1");
    EXPECT_EQ(GetUniqueFileURL(dir.path(), "doc", "", false), dir / "doc 2");

    EXPECT_EQ(GetUniqueFileURLForFile(dir.path(), "/somewhere/Scan.pdf", "png", false), dir / "Scan.png");
}

TEST(GetUniqueFileURL, OverwriteNeverRemovesAFolder) {
    testpdf::TempDir dir;
    fs::create_directory(dir / "page.png");
    Touch(dir / "page.png" / "inside");
    EXPECT_EQ(GetUniqueFileURL(dir.path(), "page", "png", true), dir / "page 1.png");
    EXPECT_TRUE(fs::exists(dir / "page.png" / "inside"));

    // A link is removed as a link: its target stays.
    Touch(dir / "target", "kept");
    fs::create_symlink(dir / "target", dir / "link.png");
    EXPECT_EQ(GetUniqueFileURL(dir.path(), "link", "png", true), dir / "link.png");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link.png")));
    EXPECT_EQ(Read(dir / "target"), "kept");
}

TEST(GetReplaceableFileURL, KeepsTheFileToBeReplaced) {
    testpdf::TempDir dir;
    Touch(dir / "p.png", "old");
    fs::create_directory(dir / "q.png");
    EXPECT_EQ(GetReplaceableFileURL(dir.path(), "p", "png", true), dir / "p.png");
    EXPECT_EQ(Read(dir / "p.png"), "old");
    EXPECT_EQ(GetReplaceableFileURL(dir.path(), "p", "png", false), dir / "p 1.png");
    EXPECT_EQ(GetReplaceableFileURL(dir.path(), "q", "png", true), dir / "q 1.png");
}
