#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>

#include "Common UI Code/OVXUtil.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;

namespace {

const std::regex kUUID("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");

fs::path SystemTemp() {
    fs::path dir = fs::temp_directory_path().lexically_normal();
    return dir.has_filename() ? dir : dir.parent_path();
}

std::string ReadText(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
}

}  // namespace

TEST(TemporaryURL, FileURLsAreFreshNamesInTheTemporaryFolder) {
    const auto a = GetTemporaryFileURL();
    const auto b = GetTemporaryFileURL();
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    // Joined with a separator: the folder is the temporary folder itself, not a name prefix.
    EXPECT_EQ(a->parent_path(), SystemTemp());
    EXPECT_TRUE(std::regex_match(a->filename().string(), kUUID)) << *a;
    EXPECT_FALSE(fs::exists(*a));  // only a name
    // A caller adds its extension.
    EXPECT_EQ(fs::path(*a).replace_extension("tif").filename().string(), a->filename().string() + ".tif");
}

TEST(TemporaryURL, InDirectoryAndWithPrefix) {
    testpdf::TempDir dir;
    const fs::path a = GetTemporaryURLInDirectory(dir.path(), "page-", "png");
    EXPECT_EQ(a.parent_path(), dir.path());
    const std::string name = a.filename().string();
    ASSERT_TRUE(name.starts_with("page-") && name.ends_with(".png")) << name;
    EXPECT_TRUE(std::regex_match(name.substr(5, name.size() - 9), kUUID)) << name;

    const fs::path b = GetTemporaryURLInDirectory(std::nullopt, std::nullopt, std::nullopt);
    EXPECT_EQ(b.parent_path(), SystemTemp());
    EXPECT_TRUE(std::regex_match(b.filename().string(), kUUID)) << b;
    EXPECT_NE(GetTemporaryURLInDirectory(dir.path(), "x", std::string()),
              GetTemporaryURLInDirectory(dir.path(), "x", std::string()));
    EXPECT_EQ(GetTemporaryURLInDirectory(dir.path(), "x", std::string()).extension(), "");

    const fs::path c = GetTemporaryURLWithPrefix("merge");
    EXPECT_EQ(c.parent_path(), SystemTemp());
    const std::string cname = c.filename().string();
    ASSERT_TRUE(cname.starts_with("merge-")) << cname;
    EXPECT_TRUE(std::regex_match(cname.substr(6), kUUID)) << cname;
}

// The place for a replacement lies beside the target, so that the move into place is one rename
// on one file system, and it is hidden and of its own, so it never shows as or meets a user file.
TEST(TemporaryURL, AppropriateForURLLiesBesideTheTarget) {
    testpdf::TempDir dir;
    const fs::path target = dir / "out.pdf";
    std::ofstream(target) << "old";

    const auto a = GetTemporaryURLAppropriateForURL(target);
    const auto b = GetTemporaryURLAppropriateForURL(target);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->parent_path(), b->parent_path());
    const fs::path place = a->parent_path();
    EXPECT_EQ(place.parent_path(), dir.path());
    EXPECT_TRUE(fs::is_directory(place));
    EXPECT_EQ(place.filename().string()[0], '.');
    EXPECT_TRUE(std::regex_match(a->filename().string(), kUUID)) << *a;
    EXPECT_EQ(fs::status(place).permissions() & fs::perms::all, fs::perms::owner_all);

    std::ofstream(*a) << "new";
    fs::rename(*a, target);
    EXPECT_EQ(ReadText(target), "new");

    RemoveTemporaryReplacementDirectory(*a);
    RemoveTemporaryReplacementDirectory(*b);
    EXPECT_FALSE(fs::exists(place));
    EXPECT_FALSE(fs::exists(b->parent_path()));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"out.pdf"});
}

TEST(TemporaryURL, AppropriateForURLFallsBackToTheTemporaryFolder) {
    testpdf::TempDir dir;
    const auto a = GetTemporaryURLAppropriateForURL(dir / "missing" / "out.pdf");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->parent_path(), SystemTemp());
    // Never removes the temporary folder itself, nor a folder that is not one of its own.
    RemoveTemporaryReplacementDirectory(*a);
    EXPECT_TRUE(fs::is_directory(SystemTemp()));
    fs::create_directory(dir / "keep");
    RemoveTemporaryReplacementDirectory(dir / "keep" / "file");
    EXPECT_TRUE(fs::is_directory(dir / "keep"));
}
