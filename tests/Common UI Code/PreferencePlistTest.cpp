#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "Common UI Code/OVXUtil.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;
using platform::PlistArray;
using platform::PlistData;
using platform::PlistDictionary;
using platform::PlistType;
using platform::PlistValue;

namespace {


constexpr const char* kPrefFormat = "%@-Pref.plist";
constexpr const char* kPrefName = "org.vellipse.Vellipse-Pref.plist";

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What Python's own property-list reader makes of a file: "key=type:value" lines, sorted.
std::string ReadWithPython(const fs::path& file) {
    const std::string command =
        "/usr/bin/python3 -c \"import plistlib,sys\n"
        "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
        "for k in sorted(d): print(k + '=' + type(d[k]).__name__ + ':' + repr(d[k]))\" '" +
        file.string() + "' 2>&1";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
        ::pclose(p);
    }
    return out;
}

class PreferencePlist : public testing::Test {
protected:
    testpdf::TempDir dir;
    fs::path config = dir / "config";
    fs::path folder = config / "vellipse";
    fs::path file = folder / kPrefName;
    ScopedEnv xdg{"XDG_CONFIG_HOME", config.string()};

    static PlistDictionary Settings() {
        return PlistDictionary{
            {"ImageType", PlistValue(3)},
            {"ColorModel", PlistValue(1)},
            {"JPEGQuality", PlistValue(0.8)},
            {"Resolution", PlistValue(300.0)},
            {"Overwrite", PlistValue(true)},
            {"Password", PlistValue("s3cret & <more>")},
            {"Bookmark", PlistValue(PlistData{0, 9, 255})},
            {"Folders", PlistValue(PlistArray{PlistValue("/a"), PlistValue("/b")})},
        };
    }
};

}  // namespace

TEST_F(PreferencePlist, MissingFolderIsMadeAndAnswersNo) {
    PlistDictionary d{{"Keep", PlistValue(1)}};
    EXPECT_FALSE(ReadPreferencePlist(d, kPrefFormat));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(d.GetInteger("Keep"), 1);  // left as it was: the caller keeps its defaults
}

TEST_F(PreferencePlist, WrittenFileReadsBackWithItsTypes) {
    ASSERT_TRUE(WritePreferencePlist(Settings(), kPrefFormat));
    ASSERT_TRUE(fs::is_regular_file(file));
    PlistDictionary read;
    ASSERT_TRUE(ReadPreferencePlist(read, kPrefFormat));
    EXPECT_EQ(read, Settings());
    EXPECT_EQ(read.Find("Resolution")->type(), PlistType::Real);
    EXPECT_EQ(read.Find("ImageType")->type(), PlistType::Integer);
    EXPECT_EQ(read.Find("Overwrite")->type(), PlistType::Boolean);
    EXPECT_EQ(read.Find("Bookmark")->type(), PlistType::Data);

    // Another reader sees the same types: it is a real XML property list.
    EXPECT_NE(ReadText(file).find("<?xml"), std::string::npos);
    EXPECT_EQ(ReadWithPython(file),
              "Bookmark=bytes:b'\\x00\\t\\xff'\n"
              "ColorModel=int:1\n"
              "Folders=list:['/a', '/b']\n"
              "ImageType=int:3\n"
              "JPEGQuality=float:0.8\n"
              "Overwrite=bool:True\n"
              "Password=str:'s3cret & <more>'\n"
              "Resolution=float:300.0\n");
}

TEST_F(PreferencePlist, FileNamesFollowTheFormat) {
    ASSERT_TRUE(WritePreferencePlist(PlistDictionary{{"a", PlistValue(1)}}, "%@-WatchFolderPref.plist"));
    ASSERT_TRUE(WritePreferencePlist(PlistDictionary{{"b", PlistValue(2)}}, kPrefFormat));
    EXPECT_EQ(Listing(folder),
              (std::vector<std::string>{"org.vellipse.Vellipse-Pref.plist",
                                        "org.vellipse.Vellipse-WatchFolderPref.plist"}));
    PlistDictionary d;
    ASSERT_TRUE(ReadPreferencePlist(d, "%@-WatchFolderPref.plist"));
    EXPECT_EQ(d.GetInteger("a"), 1);
    EXPECT_FALSE(d.Contains("b"));
    // A name that would leave the folder is refused.
    EXPECT_FALSE(WritePreferencePlist(d, "../%@-Pref.plist"));
    EXPECT_FALSE(ReadPreferencePlist(d, "../%@-Pref.plist"));
}

struct RefusedCase {
    const char* name;
    std::string contents;
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class PreferencePlistRefused : public PreferencePlist, public testing::WithParamInterface<RefusedCase> {};

TEST_P(PreferencePlistRefused, AnswersNo) {
    fs::create_directories(folder);
    WriteText(file, GetParam().contents);
    PlistDictionary d{{"Keep", PlistValue(1)}};
    EXPECT_FALSE(ReadPreferencePlist(d, kPrefFormat));
    EXPECT_EQ(d, (PlistDictionary{{"Keep", PlistValue(1)}}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, PreferencePlistRefused,
    testing::Values(
        RefusedCase{"ArrayRoot",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n"
                    "<integer>1</integer>\n</array>\n</plist>\n"},
        RefusedCase{"StringRoot", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><string>x</string></plist>\n"},
        RefusedCase{"Garbage", "this is not a property list\n"},
        RefusedCase{"CutShort", "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict><key>a</key><integer>1"},
        RefusedCase{"Empty", ""}),
    [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.name); });

TEST_F(PreferencePlist, FileIsForTheUserAloneWhateverTheUmask) {
    fs::create_directories(folder);
    WriteText(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    const mode_t old = ::umask(0);
    const bool written = WritePreferencePlist(Settings(), kPrefFormat);
    ::umask(old);
    ASSERT_TRUE(written);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(PreferencePlist, ReplacesTheOldFileWhole) {
    PlistDictionary big;
    big.Set("Blob", PlistValue(PlistData(200000, 7)));
    big.Set("Old", PlistValue(true));
    ASSERT_TRUE(WritePreferencePlist(big, kPrefFormat));
    const std::string oldText = ReadText(file);
    // A reader that opened the old file before the write still reads all of it afterwards.
    const fs::path heldOpen = dir / "held";
    fs::create_hard_link(file, heldOpen);

    const PlistDictionary small{{"New", PlistValue(1)}};
    ASSERT_TRUE(WritePreferencePlist(small, kPrefFormat));
    PlistDictionary read;
    ASSERT_TRUE(ReadPreferencePlist(read, kPrefFormat));
    EXPECT_EQ(read, small);
    EXPECT_EQ(ReadText(heldOpen), oldText);
    EXPECT_EQ(Listing(folder), std::vector<std::string>{kPrefName});  // no temporary file left behind
}

TEST_F(PreferencePlist, FolderThatCannotBeMadeAnswersNo) {
    fs::create_directories(config);
    WriteText(folder, "a plain file where the folder belongs");
    PlistDictionary d;
    EXPECT_FALSE(WritePreferencePlist(Settings(), kPrefFormat));
    EXPECT_FALSE(ReadPreferencePlist(d, kPrefFormat));
    EXPECT_TRUE(fs::is_regular_file(folder));
}

// Without $XDG_CONFIG_HOME (or with a relative one, which the XDG rules say to ignore) the files
// live in ~/.config.
TEST(PreferencePlistLocation, FallsBackToHomeConfig) {
    testpdf::TempDir home;
    ScopedEnv homeEnv("HOME", home.path().string());
    for (const std::optional<std::string>& xdg : {std::optional<std::string>(), std::optional<std::string>("rel")}) {
        ScopedEnv xdgEnv("XDG_CONFIG_HOME", xdg);
        ASSERT_TRUE(WritePreferencePlist(PlistDictionary{{"a", PlistValue(1)}}, kPrefFormat));
        EXPECT_TRUE(fs::is_regular_file(home / ".config" / "vellipse" / kPrefName));
        fs::remove_all(home / ".config");
    }
    EXPECT_FALSE(fs::exists(fs::current_path() / "rel"));
}
