// File reading, writing, copying and replacing; sizes; strings in the file manager's order;
// folders, the daily marker and the PDF redraw.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

#include "Common UI Code/OVXUtil.h"
#include "platform/PdfDocument.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/ScopedEnv.h"
#include "support/TestPdf.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < size; i += 4) {
        const std::uint32_t v = random();
        for (std::size_t k = 0; k < 4 && i + k < size; ++k) bytes[i + k] = static_cast<char>(v >> (8 * k));
    }
    return bytes;
}

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
}

// Whether `cmp`, not our code, finds the two files equal.
bool SameBytes(const fs::path& a, const fs::path& b) {
    return testimage::RunCommand("cmp -s " + testimage::ShellQuote(a) + " " + testimage::ShellQuote(b)) == 0;
}

// A folder on another file system than the tests' temporary folder, when the machine has one.
std::optional<fs::path> OtherFileSystem() {
    struct stat tmp {}, shm {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(fs::temp_directory_path().c_str(), &tmp) != 0) return std::nullopt;
    if (tmp.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0) return std::nullopt;
    return fs::path("/dev/shm");
}

struct ChunkLog {
    std::vector<std::pair<std::uint64_t, std::size_t>> chunks;
    ChunkLog() {
        SetCopyChunkObserver([this](std::uint64_t offset, std::size_t length) { chunks.emplace_back(offset, length); });
    }
    ~ChunkLog() { SetCopyChunkObserver({}); }
};

}  // namespace

// --- Reading and writing ---------------------------------------------------------------------

TEST(FileHelpers, WriteAndReadRoundTrip) {
    testpdf::TempDir dir;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{5'000'003}}) {
        SCOPED_TRACE(size);
        const fs::path file = dir / ("f" + std::to_string(size));
        const std::string bytes = Pattern(size, 7);
        ASSERT_EQ(writeFile(file.c_str(), bytes.data(), bytes.size()), 0);
        EXPECT_EQ(Read(file), bytes);
        EXPECT_EQ(ModeOf(file), 0600);
        std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[1]);
        std::size_t read = 99;
        ASSERT_EQ(readFile(file.c_str(), buffer, read), 0) << "an empty file is read as well";
        ASSERT_EQ(read, size);
        EXPECT_EQ(size == 0, buffer == nullptr);
        if (size) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.get()), read), bytes);
        }
    }
    // Writing again truncates.
    const fs::path file = dir / "again";
    Write(file, "a much longer text than the next");
    ASSERT_EQ(writeFile(file.c_str(), "short", 5), 0);
    EXPECT_EQ(Read(file), "short");
}

TEST(FileHelpers, FailuresAreErrorCodesAndLeaveNothing) {
    testpdf::TempDir dir;
    const fs::path missing = dir / "no" / "such";
    EXPECT_EQ(writeFile(missing.c_str(), "x", 1), ENOENT);
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[1]);
    std::size_t size = 5;
    EXPECT_EQ(readFile(missing.c_str(), buffer, size), ENOENT);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    // A folder opens but cannot be read as a file.
    EXPECT_NE(readFile(dir.path().c_str(), buffer, size), 0);
    EXPECT_EQ(writeFile(dir.path().c_str(), "x", 1), EISDIR);
    // A full device takes no bytes: the write fails and says so.
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(writeFile("/dev/full", "x", 1), ENOSPC);
    }
    std::uint64_t fileSize = 42;
    EXPECT_EQ(GetFileSizeAtURL(missing, fileSize), ENOENT);
    EXPECT_EQ(fileSize, 42u);
}

// A program started with its standard input closed gets descriptor 0 for the first file it
// opens: that is a file like any other.
TEST(FileHelpersDeathTest, DescriptorZeroIsAFile) {
    testpdf::TempDir dir;
    const fs::path file = dir / "zero";
    EXPECT_EXIT(
        {
            ::close(0);
            const int written = writeFile(file.c_str(), "data", 4);
            std::unique_ptr<std::uint8_t[]> buffer;
            std::size_t size = 0;
            const int read = readFile(file.c_str(), buffer, size);
            std::exit(written == 0 && read == 0 && size == 4 && std::memcmp(buffer.get(), "data", 4) == 0 ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

// One read() call stops at about 2 GiB; the whole file is read all the same. The file is sparse,
// and in memory when the machine has a memory file system (whose holes read without taking
// pages), so this costs memory but little time.
TEST(FileHelpers, ReadsFilesLargerThanOneCallCanTake) {
    testpdf::TempDir dir;
    const fs::path file =
        OtherFileSystem().value_or(dir.path()) / ("vellipse-large-read-" + std::to_string(::getpid()));
    struct Remove {
        fs::path file;
        ~Remove() { fs::remove(file); }
    } remove{file};
    const std::uint64_t size = (std::uint64_t{1} << 31) + 123'457;
    {
        const int fd = ::open(file.c_str(), O_RDWR | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
        ASSERT_EQ(::pwrite(fd, "A", 1, 0), 1);
        ASSERT_EQ(::pwrite(fd, "B", 1, static_cast<off_t>(std::uint64_t{1} << 31)), 1);
        ASSERT_EQ(::pwrite(fd, "C", 1, static_cast<off_t>(size - 1)), 1);
        ::close(fd);
    }
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t read = 0;
    ASSERT_EQ(readFile(file.c_str(), buffer, read), 0);
    ASSERT_EQ(read, size);
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(buffer[std::size_t{1} << 31], 'B');
    EXPECT_EQ(buffer[size - 1], 'C');
    EXPECT_EQ(buffer[size - 2], 0);
    std::uint64_t reported = 0;
    EXPECT_EQ(GetFileSizeAtURL(file, reported), 0);
    EXPECT_EQ(reported, size);
}

// --- Copying and replacing ---------------------------------------------------------------------

TEST(FileHelpers, CopyGoesInChunksAtTheirOffsets) {
    testpdf::TempDir dir;
    const fs::path source = dir / "source";
    Write(source, Pattern(45'000'000, 3));
    std::vector<fs::path> destinations{dir / "copy"};
    // Across file systems the kernel cannot copy: the bytes go through memory.
    if (std::optional<fs::path> other = OtherFileSystem())
        destinations.push_back(*other / ("vellipse-copy-test-" + std::to_string(::getpid())));
    for (const fs::path& destination : destinations) {
        SCOPED_TRACE(destination);
        Write(destination, std::string(50'000'000, 'x'));  // longer than the source: emptied first
        ChunkLog log;
        ASSERT_EQ(CopyFileContents(source.c_str(), destination.c_str()), 0);
        const std::vector<std::pair<std::uint64_t, std::size_t>> expected{
            {0, 20'000'000}, {20'000'000, 20'000'000}, {40'000'000, 5'000'000}};
        EXPECT_EQ(log.chunks, expected);
        EXPECT_TRUE(SameBytes(source, destination));
        fs::remove(destination);
    }
    // A new destination is the user's alone; an empty source gives an empty copy.
    const fs::path empty = dir / "empty", copy = dir / "empty copy";
    Write(empty, "");
    ASSERT_EQ(CopyFileContents(empty.c_str(), copy.c_str()), 0);
    EXPECT_EQ(fs::file_size(copy), 0u);
    EXPECT_EQ(ModeOf(copy), 0600);
    EXPECT_EQ(CopyFileContents((dir / "missing").c_str(), copy.c_str()), ENOENT);
}

// Replacing (or copying onto) a file by itself under another name keeps its data.
TEST(FileHelpers, ReplacingAFileByItselfKeepsIt) {
    testpdf::TempDir dir;
    fs::create_directory(dir / "a");
    const fs::path file = dir / "a" / "b";
    const std::string bytes = Pattern(100'000, 11);
    Write(file, bytes);
    fs::create_hard_link(file, dir / "hard");
    fs::create_symlink(file, dir / "soft");
    struct Case {
        const char* what;
        fs::path other;
    };
    const Case cases[] = {
        {"same path", file},
        {"hard link", dir / "hard"},
        {"symbolic link", dir / "soft"},
        {"dot in the path", dir / "a" / "." / "b"},
        {"relative way round", dir / "a" / ".." / "a" / "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(ReplaceFileAtURL(c.other, file));
        EXPECT_TRUE(ReplaceFileAtURL(file, c.other));
        EXPECT_EQ(CopyFileContents(file.c_str(), c.other.c_str()), 0);
        EXPECT_EQ(CopyFileContents(c.other.c_str(), file.c_str()), 0);
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(Read(file), bytes);
        EXPECT_TRUE(fs::is_symlink(dir / "soft"));
    }
    EXPECT_TRUE(ReplaceFileAtURL({}, file));
    EXPECT_TRUE(ReplaceFileAtURL(file, {}));
    EXPECT_EQ(Read(file), bytes);
}

TEST(FileHelpers, ReplacePutsTheNewFileInPlace) {
    testpdf::TempDir dir;
    std::vector<fs::path> newFolders{dir.path()};
    if (std::optional<fs::path> other = OtherFileSystem()) newFolders.push_back(*other);
    for (const fs::path& folder : newFolders) {
        SCOPED_TRACE(folder);
        const fs::path target = dir / "target.pdf";
        const fs::path replacement = folder / ("vellipse-new-" + std::to_string(::getpid()));
        Write(target, "old contents");
        ::chmod(target.c_str(), 0644);
        const std::string bytes = Pattern(3'000'000, 5);
        ASSERT_EQ(writeFile(replacement.c_str(), bytes.data(), bytes.size()), 0);  // mode 0600
        ASSERT_TRUE(ReplaceFileAtURL(replacement, target));
        EXPECT_EQ(Read(target), bytes);
        EXPECT_FALSE(fs::exists(replacement));
        EXPECT_EQ(ModeOf(target), 0644) << "the target keeps its permissions";
        // Nothing is left beside the target.
        std::vector<std::string> names;
        for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
        EXPECT_EQ(names, std::vector<std::string>{"target.pdf"});
    }
    // A target that does not exist yet is made.
    const fs::path fresh = dir / "fresh", replacement = dir / "replacement";
    Write(replacement, "new");
    EXPECT_TRUE(ReplaceFileAtURL(replacement, fresh));
    EXPECT_EQ(Read(fresh), "new");
}

TEST(FileHelpers, ReplaceRefusesWhatItCannotDoAndKeepsBoth) {
    testpdf::TempDir dir;
    const fs::path target = dir / "target";
    Write(target, "old");
    // No new file.
    EXPECT_FALSE(ReplaceFileAtURL(dir / "missing", target));
    EXPECT_EQ(Read(target), "old");
    // A folder at the target, empty or not.
    const fs::path replacement = dir / "new";
    Write(replacement, "new");
    for (const char* folderName : {"empty folder", "full folder"}) {
        const fs::path folder = dir / folderName;
        fs::create_directory(folder);
        if (std::string(folderName) == "full folder") Write(folder / "inside", "kept");
        EXPECT_FALSE(ReplaceFileAtURL(replacement, folder)) << folderName;
        EXPECT_TRUE(fs::is_directory(folder)) << folderName;
        EXPECT_EQ(Read(replacement), "new") << folderName;
    }
    EXPECT_EQ(Read(dir / "full folder" / "inside"), "kept");
}

TEST(FileHelpers, UrlComparison) {
    struct Case {
        const char *a, *b;
        bool equal;
    };
    const Case cases[] = {
        {"file://localhost/tmp/x.pdf", "file:///tmp/x.pdf", true},
        {"file:///tmp/x.pdf", "file:///tmp/x.pdf", true},
        {"file:///tmp/x.pdf", "file:///tmp/y.pdf", false},
        {"https://a.example/x", "https://b.example/x", false},
        {"https://a.example/x", "file:///x", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isEqualToURL(QUrl(c.a), QUrl(c.b)), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(isEqualToURL(QUrl(c.b), QUrl(c.a)), c.equal) << c.b << " " << c.a;
    }
}

// --- Strings ---------------------------------------------------------------------------------

TEST(StringHelpers, SizeStrings) {
    struct Case {
        double bytes;
        const char *binary, *decimal;
    };
    const Case cases[] = {
        {0, "0 B", "0 B"},
        {999, "999 B", "999 B"},
        {1023, "1023 B", "1.0 KB"},
        {1500, "1.5 KB", "1.5 KB"},
        {1536, "1.5 KB", "1.5 KB"},
        {1048576, "1.00 MB", "1.05 MB"},
        {1073741824.0, "1.000 GB", "1.074 GB"},
        {1099511627776.0, "1.0000 TB", "1.0995 TB"},
        {2.5 * 1099511627776.0, "2.5000 TB", "2.7488 TB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetFileSizeString(c.bytes), c.binary) << c.bytes;
        EXPECT_EQ(GetFileSizeStringDecimal(c.bytes), c.decimal) << c.bytes;
    }
}

TEST(StringHelpers, FinderOrder) {
    const QLocale locale(QLocale::English, QLocale::UnitedStates);
    // Sorted by it, names come out as the file manager lists them.
    QStringList names{QStringLiteral("File10"), QStringLiteral("file1"), QStringLiteral("File2"),
                      QStringLiteral("File\uFF19"), QStringLiteral("File11"), QStringLiteral("File1")};
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return FinderCompareStrings(a, b, locale) < 0; });
    ASSERT_EQ(names.size(), 6);
    EXPECT_EQ(names.mid(2), (QStringList{QStringLiteral("File2"), QStringLiteral("File\uFF19"),
                                         QStringLiteral("File10"), QStringLiteral("File11")}));
    EXPECT_TRUE((names.mid(0, 2) == QStringList{QStringLiteral("file1"), QStringLiteral("File1")}) ||
                (names.mid(0, 2) == QStringList{QStringLiteral("File1"), QStringLiteral("file1")}));

    struct Case {
        QString a, b;
        int expected;  // 2: ordered one way or the other, never equal
    };
    const Case cases[] = {
        {QStringLiteral("File2"), QStringLiteral("File10"), -1},
        {QStringLiteral("File10"), QStringLiteral("File2"), 1},
        {QStringLiteral("file2"), QStringLiteral("FILE10"), -1},
        // Full-width digits are the same numbers: one sorts right beside the other.
        {QStringLiteral("File\uFF12"), QStringLiteral("File10"), -1},
        {QStringLiteral("File\uFF11\uFF10"), QStringLiteral("File9"), 1},
        {QStringLiteral("File\uFF11\uFF10"), QStringLiteral("File11"), -1},
        {QStringLiteral("File\uFF11\uFF10"), QStringLiteral("File10"), 2},
        {QStringLiteral("a"), QStringLiteral("A"), 2},
        {QStringLiteral("report"), QStringLiteral("Report"), 2},
        {QStringLiteral("same"), QStringLiteral("same"), 0},
        {QString(), QStringLiteral("a"), -1},
    };
    for (const Case& c : cases) {
        const int ab = FinderCompareStrings(c.a, c.b, locale), ba = FinderCompareStrings(c.b, c.a, locale);
        if (c.expected == 2) {
            EXPECT_NE(ab, 0) << c.a.toStdString() << " " << c.b.toStdString();
        } else {
            EXPECT_EQ(ab, c.expected) << c.a.toStdString() << " " << c.b.toStdString();
        }
        EXPECT_EQ(ba, -ab) << c.a.toStdString() << " " << c.b.toStdString();
    }
}

TEST(StringHelpers, PathsAndCStrings) {
    struct Case {
        fs::path url;
        const char* base;
        bool found;
    };
    const Case cases[] = {
        {"/docs/report.tar.gz", "report.tar", true},
        {"/docs/report", "report", true},
        {"/docs/.pdf", ".pdf", true},
        {"/docs/folder/", "folder", true},
        {"/docs/\xc3\xa9t\xc3\xa9.pdf", "\xc3\xa9t\xc3\xa9", true},
        {"", "", false},
    };
    for (const Case& c : cases) {
        bool found = !c.found;
        EXPECT_EQ(GetFileBaseNameString(c.url, &found), c.base) << c.url;
        EXPECT_EQ(found, c.found) << c.url;
    }
    bool found = false;
    EXPECT_EQ(GetFilePathString("/a b/c.pdf", &found), "/a b/c.pdf");
    EXPECT_TRUE(found);
    EXPECT_EQ(GetFilePathString({}, &found), "");
    EXPECT_FALSE(found);
    EXPECT_EQ(GetUTF8String(QStringLiteral("\u00e9t\u00e9 \U0001F600")), "\xc3\xa9t\xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_EQ(GetUTF8String(QString()), "");

    char* path = CopyFilePathCString("/x/y.pdf");
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, "/x/y.pdf");
    std::free(path);
    EXPECT_EQ(CopyFilePathCString({}), nullptr);
    char* text = CopyCString(QStringLiteral("\u00e9"));
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "\xc3\xa9");
    std::free(text);
    EXPECT_EQ(CopyCString(QString()), nullptr);
    EXPECT_EQ(CopyCString(QStringLiteral("")), nullptr);

    int value = 7;
    auto holder = OVXDataHolder::dataHolderWithData(&value);
    EXPECT_EQ(holder->data(), &value);
    holder->setData(nullptr);
    EXPECT_EQ(holder->data(), nullptr);
}

// --- Folders and the marker ------------------------------------------------------------------

TEST(FolderHelpers, FolderSizeCountsVisibleFiles) {
    testpdf::TempDir dir;
    Write(dir / "a", std::string(10, 'a'));
    fs::create_directories(dir / "sub" / "deeper");
    Write(dir / "sub" / "b", std::string(20, 'b'));
    Write(dir / "sub" / "deeper" / "c", std::string(300, 'c'));
    Write(dir / ".hidden", std::string(4000, 'h'));
    fs::create_directory(dir / ".hiddenfolder");
    Write(dir / ".hiddenfolder" / "d", std::string(50000, 'd'));
    fs::create_symlink(dir / "sub" / "deeper" / "c", dir / "link");
    EXPECT_EQ(GetFolderSize(dir.path()), 330u);
    EXPECT_EQ(GetFolderSize(dir / "sub"), 320u);
    EXPECT_EQ(GetFolderSize(dir / "missing"), 0u);
}

TEST(FolderHelpers, ApplicationSupportFolder) {
    testpdf::TempDir dir;
    {
        ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
        const std::optional<fs::path> standard = GetApplicationSupportFolder(std::nullopt);
        ASSERT_TRUE(standard);
        EXPECT_EQ(*standard, dir / "data" / "OVXApplication");
        EXPECT_TRUE(fs::is_directory(*standard));
        EXPECT_EQ(GetApplicationSupportFolder("Vellipse"), dir / "data" / "Vellipse");
        EXPECT_TRUE(fs::is_directory(dir / "data" / "Vellipse"));
    }
    {
        // A relative $XDG_DATA_HOME does not count: the home folder's data folder is used.
        ScopedEnv data("XDG_DATA_HOME", std::string("relative"));
        ScopedEnv home("HOME", (dir / "home").string());
        EXPECT_EQ(GetApplicationSupportFolder("Vellipse"), dir / "home" / ".local" / "share" / "Vellipse");
    }
    {
        // A folder that cannot be had is reported to the caller; the program goes on.
        Write(dir / "a file", "x");
        ScopedEnv data("XDG_DATA_HOME", (dir / "a file").string());
        testing::internal::CaptureStderr();
        EXPECT_FALSE(GetApplicationSupportFolder(std::nullopt));
        EXPECT_NE(testing::internal::GetCapturedStderr().find("Alert - Can't find application support folder"),
                  std::string::npos);
    }
}

TEST(FolderHelpers, DailyMarker) {
    testpdf::TempDir dir;
    ScopedEnv tmp("TMPDIR", dir.path().string());
    const fs::path marker = DailyMarkerPath();
    EXPECT_EQ(marker, dir / ".OVXStore");

    EXPECT_TRUE(IsDailyMarkerStale()) << "no marker";
    ASSERT_TRUE(CreateDailyMarker());
    ASSERT_TRUE(fs::exists(marker));
    EXPECT_EQ(fs::file_size(marker), 0u);
    EXPECT_FALSE(IsDailyMarkerStale()) << "made today";
    EXPECT_TRUE(fs::exists(marker));

    // Dated yesterday: stale, and removed.
    const std::time_t yesterday = std::time(nullptr) - 24 * 60 * 60;
    const struct timespec times[2] = {{yesterday, 0}, {yesterday, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, marker.c_str(), times, 0), 0);
    EXPECT_TRUE(IsDailyMarkerStale());
    EXPECT_FALSE(fs::exists(marker));

    // Making it again replaces an old one with a fresh one.
    Write(marker, "old");
    ASSERT_EQ(::utimensat(AT_FDCWD, marker.c_str(), times, 0), 0);
    ASSERT_TRUE(CreateDailyMarker());
    EXPECT_EQ(fs::file_size(marker), 0u);
    EXPECT_FALSE(IsDailyMarkerStale());
}

// --- Redrawing a PDF -------------------------------------------------------------------------

namespace {

struct Box {
    double x0, y0, x1, y1;
};

// The page boxes as poppler's pdfinfo reads them, page by page.
std::vector<std::pair<Box, int>> PdfInfoBoxes(const fs::path& file, int pages) {
    std::string out;
    testimage::RunCommand("pdfinfo -box -f 1 -l " + std::to_string(pages) + " " + testimage::ShellQuote(file), &out);
    std::vector<std::pair<Box, int>> result(static_cast<std::size_t>(pages));
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        int page = 0;
        Box b{};
        int rot = 0;
        if (std::sscanf(line.c_str(), "Page %d MediaBox: %lf %lf %lf %lf", &page, &b.x0, &b.y0, &b.x1, &b.y1) == 5 &&
            page >= 1 && page <= pages)
            result[static_cast<std::size_t>(page - 1)].first = b;
        else if (std::sscanf(line.c_str(), "Page %d rot: %d", &page, &rot) == 2 && page >= 1 && page <= pages)
            result[static_cast<std::size_t>(page - 1)].second = rot;
    }
    return result;
}

testimage::Decoded Draw(const fs::path& file, int page) {
    testpdf::TempDir dir;
    const fs::path png = dir / "page.png";
    std::string log;
    if (testimage::RunCommand("mutool draw -q -r 36 -c rgb -o " + testimage::ShellQuote(png) + " " +
                                  testimage::ShellQuote(file) + " " + std::to_string(page),
                              &log) != 0) {
        testimage::Decoded failed;
        failed.error = log;
        return failed;
    }
    return testimage::DecodeWithPil(png, "RGB");
}

}  // namespace

TEST(CreatePDFDataFromDocument, PagesRedrawnOnTheirTurnedCropBoxes) {
    testpdf::TempDir dir;
    testpdf::Options options;
    options.pages.clear();
    auto page = [](int rotate, bool crop, Box c) {
        testpdf::Page p;
        p.width = 400;
        p.height = 600;
        p.rotate = rotate;
        p.cropBox = crop;
        p.cropRect[0] = c.x0, p.cropRect[1] = c.y0, p.cropRect[2] = c.x1, p.cropRect[3] = c.y1;
        return p;
    };
    struct Case {
        testpdf::Page page;
        Box expected;
    };
    const Case cases[] = {
        {page(0, false, {}), {0, 0, 400, 600}},
        {page(90, true, {20, 30, 320, 530}), {20, 30, 520, 330}},
        {page(180, true, {20, 30, 320, 530}), {20, 30, 320, 530}},
        {page(-90, false, {}), {0, 0, 600, 400}},
        {page(270, true, {50, 50, 50, 400}), {0, 0, 600, 400}},  // an empty crop box: the media box
        {page(450, true, {10, 10, 210, 110}), {10, 10, 110, 210}},
    };
    for (const Case& c : cases) options.pages.push_back(c.page);
    const fs::path source = testpdf::Write(dir / "source.pdf", options);

    auto document = platform::PdfDocument::Open(source);
    ASSERT_TRUE(document);
    const std::vector<std::uint8_t> data = CreatePDFDataFromDocument(*document);
    ASSERT_FALSE(data.empty());
    const fs::path redrawn = dir / "redrawn.pdf";
    Write(redrawn, std::string(data.begin(), data.end()));

    std::string log;
    EXPECT_EQ(testimage::RunCommand("qpdf --check " + testimage::ShellQuote(redrawn), &log), 0) << log;
    const int n = static_cast<int>(std::size(cases));
    const auto boxes = PdfInfoBoxes(redrawn, n);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const Box& want = cases[i].expected;
        const Box& got = boxes[static_cast<std::size_t>(i)].first;
        EXPECT_NEAR(got.x0, want.x0, 0.01);
        EXPECT_NEAR(got.y0, want.y0, 0.01);
        EXPECT_NEAR(got.x1, want.x1, 0.01);
        EXPECT_NEAR(got.y1, want.y1, 0.01);
        EXPECT_EQ(boxes[static_cast<std::size_t>(i)].second, 0) << "the turn is in the drawing now";

        // The redrawn page looks like the source page as MuPDF shows it.
        const testimage::Decoded before = Draw(source, i + 1), after = Draw(redrawn, i + 1);
        ASSERT_TRUE(before.ok()) << before.error;
        ASSERT_TRUE(after.ok()) << after.error;
        ASSERT_EQ(after.width, before.width);
        ASSERT_EQ(after.height, before.height);
        std::size_t differing = 0;
        for (std::size_t k = 0; k < before.pixels.size(); ++k)
            if (std::abs(before.pixels[k] - after.pixels[k]) > 8) ++differing;
        EXPECT_LE(differing, before.pixels.size() / 200) << "samples differing";
    }
    // Vector content: no page became a picture.
    EXPECT_EQ(testimage::RunCommand("pdfimages -list " + testimage::ShellQuote(redrawn) + " | tail -n +3 | grep -q .",
                                    &log),
              1);
}

TEST(CreatePDFDataFromDocument, NothingForALockedDocument) {
    testpdf::TempDir dir;
    testpdf::Options options;
    options.encryption = testpdf::Encryption::AES_256;
    options.userPassword = "user";
    options.ownerPassword = "owner";
    auto document = platform::PdfDocument::Open(testpdf::Write(dir / "locked.pdf", options));
    ASSERT_TRUE(document);
    EXPECT_TRUE(CreatePDFDataFromDocument(*document).empty());
    ASSERT_TRUE(document->Unlock("user"));
    EXPECT_FALSE(CreatePDFDataFromDocument(*document).empty());
}
