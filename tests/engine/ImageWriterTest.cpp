// The converter's writer layer: destination properties, identifiers, type tables and files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <limits>

#include "support/ConversionSupport.h"
#include "engine/ImageConverter.h"
#include "platform/MainQueue.h"
#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/TestPdf.h"

using namespace conversiontest;

namespace {

platform::Bitmap Grey(int w, int h, std::uint8_t v) {
    platform::Bitmap b = platform::Bitmap::Allocate(w, h, platform::ColorModel::Monochrome, false);
    for (int y = 0; y < h; ++y) std::memset(b.row(y), v, static_cast<std::size_t>(w));
    return b;
}

}  // namespace

TEST(ImageWriter, DestinationPropertiesFollowTheOutputType) {
    ImageConverter c;
    c.quality = 0.8f;
    c.resolutionX = 300;
    c.resolutionY = 300;
    for (std::int32_t type = -1; type <= 25; ++type) {
        c.imageType = type;
        const platform::DestinationProperties p = c.CreateDestinationProperties();
        const bool alpha = type == kOutputGIF || type == kOutputJPEG2000 || type == kOutputPNG;
        const bool lzw = type == kOutputTIFF || type == kOutputTIFFCMYK || type == kOutputMultiPageTIFF;
        const bool lossy = type == kOutputJPEG2000 || type == kOutputJPEG;
        EXPECT_EQ(p.hasAlpha, alpha) << type;
        EXPECT_EQ(p.tiffCompression.has_value(), lzw) << type;
        if (lzw) {
            EXPECT_EQ(*p.tiffCompression, 5);
        }
        EXPECT_EQ(p.lossyQuality.has_value(), lossy) << type;
        if (lossy) {
            EXPECT_EQ(*p.lossyQuality, 0.8f);
        }
        ASSERT_TRUE(p.dpiWidth && p.dpiHeight);
        EXPECT_EQ(*p.dpiWidth, 300.0f);
        EXPECT_FALSE(p.orientation.has_value());
    }
    c.resolutionX = c.resolutionY = 0;
    c.orientation = 6;
    const platform::DestinationProperties p = c.CreateDestinationProperties();
    EXPECT_FALSE(p.dpiWidth.has_value());
    EXPECT_EQ(p.orientation, 6);
}

TEST(ImageWriter, IdentifiersAndTypeTables) {
    ImageConverter c;
    const std::pair<std::int32_t, const char*> identifiers[] = {
        {0, "public.jpeg"}, {-5, "public.jpeg"}, {24, "public.jpeg"}, {4, "public.jpeg"},
        {7, "public.png"},  {10, "public.tiff"}, {13, "public.tiff"}, {23, "public.tiff"},
        {1, "com.adobe.photoshop-image"},        {22, "public.camera-raw-image"},
    };
    for (const auto& [type, uti] : identifiers) {
        c.imageType = type;
        EXPECT_EQ(c.CreateUTIForOutputType(), uti) << type;
    }
    for (std::int32_t type = -1; type <= 25; ++type) {
        const bool keeps = type == 1 || type == 2 || type == 4 || type == 7 || type == 10 || type == 13;
        const bool rep = type == 2 || type == 3 || type == 4 || type == 7 || type == 10 || type == 11 || type == 13;
        EXPECT_EQ(TypeKeepsMetadata(type), keeps) << type;
        EXPECT_EQ(TypeSupportedByBitmapRep(type), rep) << type;
    }
    EXPECT_EQ(BitmapFileTypeForImageType(2), BitmapFileType::GIF);
    EXPECT_EQ(BitmapFileTypeForImageType(3), BitmapFileType::JPEG2000);
    EXPECT_EQ(BitmapFileTypeForImageType(7), BitmapFileType::PNG);
    EXPECT_EQ(BitmapFileTypeForImageType(23), BitmapFileType::TIFF);
    EXPECT_EQ(BitmapFileTypeForImageType(13), BitmapFileType::TIFF);
    EXPECT_EQ(BitmapFileTypeForImageType(11), BitmapFileType::BMP);
    EXPECT_EQ(BitmapFileTypeForImageType(99), BitmapFileType::JPEG);
    EXPECT_EQ(static_cast<int>(BitmapFileType::JPEG2000), 5);
}

TEST(ImageWriter, WritesReplacesOrKeepsTheImage) {
    testpdf::TempDir dir;
    ImageConverter c;
    c.imageType = kOutputTIFF;
    c.resolutionX = c.resolutionY = 72;
    const platform::Bitmap image = Grey(8, 4, 77);

    WriteAll(dir / "a.tif", "old");
    ASSERT_TRUE(c.WriteImage(image, dir / "a.tif"));
    TIFF* t = TIFFOpen((dir / "a.tif").c_str(), "r");
    ASSERT_TRUE(t);
    std::uint16_t compression = 0;
    TIFFGetField(t, TIFFTAG_COMPRESSION, &compression);
    TIFFClose(t);
    EXPECT_EQ(compression, COMPRESSION_LZW);

    // Without a URL the file goes to the destination itself (the image-file path's output file).
    c.destinationURL = dir / "b.tif";
    ASSERT_TRUE(c.WriteImage(image));
    EXPECT_TRUE(fs::exists(dir / "b.tif"));

    // Kept bytes, no file.
    c.keepEncodedData = 1;
    ASSERT_TRUE(c.WriteImage(image, dir / "c.tif"));
    EXPECT_FALSE(fs::exists(dir / "c.tif"));
    EXPECT_EQ(std::string(c.encodedData.begin(), c.encodedData.end()), ReadAll(dir / "b.tif"));

    // The image itself, no file.
    c.keepEncodedData = 0;
    c.returnImageInstead = 1;
    ASSERT_TRUE(c.WriteImage(image, dir / "d.tif"));
    EXPECT_FALSE(fs::exists(dir / "d.tif"));
    ASSERT_TRUE(c.outputImage);
    EXPECT_EQ(c.outputImage->data, image.data);
    EXPECT_FALSE(c.WriteImage(platform::Bitmap{}, dir / "d.tif"));
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"a.tif", "b.tif"}));
}

TEST(ImageWriter, AFailedEncodingOrAnUnwritableFolderFailsAndLeavesNothing) {
    testpdf::TempDir dir;
    ImageConverter c;
    const platform::Bitmap image = Grey(8, 4, 10);
    // TGA holds at most 65535 pixels a side: the encoder refuses this image.
    c.imageType = kOutputTGA;
    WriteAll(dir / "x.tga", "old");
    EXPECT_FALSE(c.WriteImage(Grey(70000, 1, 10), dir / "x.tga"));
    EXPECT_EQ(ReadAll(dir / "x.tga"), "old");
    c.imageType = kOutputPNG;
    EXPECT_FALSE(c.WriteImage(image, dir / "no" / "such" / "x.png"));
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    if (::access((dir / "locked").c_str(), W_OK) != 0) {  // not when the tests run as root
        EXPECT_FALSE(c.WriteImage(image, dir / "locked" / "x.png"));
        EXPECT_TRUE(Names(dir / "locked").empty());
    }
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"locked", "x.tga"}));
}

// FlashPix and camera raw write their files as they encode them: a file that cannot be
// completed (here the process may not write a file past 64 KiB) fails the page and leaves the
// file it was to replace as it was, and nothing else.
TEST(ImageWriterDeathTest, AFileWrittenAsItIsEncodedFailsWholeOrNotAtAll) {
    for (const int type : {kOutputCameraRaw, kOutputFlashPix}) {
        SCOPED_TRACE(type);
        testpdf::TempDir dir;
        WriteAll(dir / "x.out", "old");
        const auto writeWithinTheLimit = [&] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = 64 * 1024;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ImageConverter c;
            c.imageType = type;
            const bool written = c.WriteImage(Grey(400, 400, 90), dir / "x.out");
            const std::vector<std::string> only{"x.out"};
            const bool untouched = ReadAll(dir / "x.out") == "old" && Names(dir.path()) == only;
            return !written && untouched ? 0 : 1;
        };
        EXPECT_EXIT(std::exit(writeWithinTheLimit()), testing::ExitedWithCode(0), "");
    }
}

TEST(ImageWriter, WrittenFilesGetTheUsualPermissions) {
    testpdf::TempDir dir;
    ImageConverter c;
    c.imageType = kOutputPNG;
    ASSERT_TRUE(c.WriteImage(Grey(2, 2, 0), dir / "p.png"));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const auto perms = fs::status(dir / "p.png").permissions();
    EXPECT_EQ(static_cast<unsigned>(perms) & 0777u, 0666u & ~static_cast<unsigned>(mask));
    c.outputFileAttributes = FileAttributes{fs::perms::owner_read | fs::perms::owner_write};
    ASSERT_TRUE(c.WriteImage(Grey(2, 2, 0), dir / "q.png"));
    EXPECT_EQ(static_cast<unsigned>(fs::status(dir / "q.png").permissions()) & 0777u, 0600u);
}

TEST(ImageWriter, AnyQualityIsKeptToTheJpegScale) {
    // Read back by Pillow: quality 100 quantises by 1 everywhere, the lowest by 255 (libjpeg's
    // baseline tables at their coarsest).
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(16, 16)};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    struct Case {
        double quality;
        int step;  // the luminance table's first step
    };
    const Case cases[] = {{std::numeric_limits<double>::quiet_NaN(), 255}, {1e300, 1}, {-1e300, 255},
                          {std::numeric_limits<double>::infinity(), 1}, {7.5, 1}};
    int n = 0;
    for (const Case& c : cases) {
        const fs::path out = dir / std::to_string(n++);
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, kOutputJPEG);
        r.conversionOptions.compressionQuality = c.quality;
        ASSERT_EQ(ConvertPDFToImages(&r), 1) << c.quality;
        std::string step;
        ASSERT_EQ(testimage::RunPythonProbe("from PIL import Image\nprint(Image.open(sys.argv[1]).quantization[0][0])\n",
                                            out / "doc.jpg", &step),
                  0);
        EXPECT_EQ(std::stoi(step), c.step) << c.quality;
    }
}

TEST(OutputFiles, AnyNameTheFileSystemTakesCanBeWritten) {
    // 83 three-byte characters and two letters: with ".png" the name is 255 bytes, the most a
    // name may have here.
    std::string base;
    for (int i = 0; i < 83; ++i) base += "\xE6\x96\x87";
    base += "ab";
    testpdf::TempDir dir;
    testpdf::Options o;
    o.pages = {PageOf(20, 20), PageOf(20, 20)};
    const fs::path pdf = testpdf::Write(dir / "doc.pdf", o);
    for (int type : {kOutputPNG, kOutputMultiPageTIFF}) {
        const fs::path out = dir / std::to_string(type);
        fs::create_directory(out);
        ImageConversion r = Record(pdf, out, type);
        r.outputBaseName = base;
        // One page of two is numbered ("-1"): the base is shorter by as much.
        r.conversionOptions.pageRangeType = type == kOutputPNG ? kPageRangeSingle : kPageRangeAll;
        r.conversionOptions.startPage = 1;
        r.outputBaseName = type == kOutputPNG ? base.substr(0, base.size() - 2) : base;
        const std::string name = *r.outputBaseName + (type == kOutputPNG ? "-1.png" : ".tif");
        ASSERT_EQ(name.size(), 255u);
        EXPECT_EQ(ConvertPDFToImages(&r), 1) << type;
        EXPECT_EQ(Names(out), std::vector<std::string>{name}) << type;
        EXPECT_TRUE(testimage::DecodeWithPil(out / name).ok()) << type;
    }
}

TEST(OutputFiles, AKilledConversionLeavesNothingBehind) {
    // Killed while a file is being written, with bytes in it: a multi-page TIFF after its first
    // page, a large PNG written a band at a time. The file has no name yet, and nothing of it
    // is left in the folder.
    const BandedPages banded;
    testpdf::TempDir dir;
    testpdf::Options small;
    small.pages.assign(3, PageOf(200, 200));
    testpdf::Options large;
    large.pages = {PageOf(2000, 2000)};
    const std::pair<fs::path, int> cases[] = {{testpdf::Write(dir / "small.pdf", small), kOutputMultiPageTIFF},
                                              {testpdf::Write(dir / "large.pdf", large), kOutputPNG}};
    for (const auto& [pdf, type] : cases) {
        const fs::path out = dir / std::to_string(type);
        fs::create_directory(out);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            platform::SetMainQueueHook([](platform::MainQueueTask task) { task(); });
            Target target;
            target.onQuestion = [&](Target&) {
                std::error_code ec;
                for (const auto& fd : fs::directory_iterator("/proc/self/fd", ec)) {
                    const fs::path file = fs::read_symlink(fd.path(), ec);
                    if (ec || file.parent_path() != out || fs::file_size(fd.path(), ec) == 0 || ec) continue;
                    const char byte = 1;
                    (void)!::write(ready[1], &byte, 1);
                    for (;;) ::pause();
                }
            };
            ImageConversion r = Record(pdf, out, type, 150);
            r.progressCallback = {&target, &ProgressTarget::UpdatePageProgressStatus};
            ConvertPDFToImages(&r);
            ::_exit(0);
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1) << type;
        ::close(ready[0]);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status)) << type;
        EXPECT_TRUE(Names(out).empty()) << type;
    }
}
