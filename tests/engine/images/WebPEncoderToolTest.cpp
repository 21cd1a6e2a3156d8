// The command-line WebP encoder, run as a program: its statuses and messages from one table of
// argument lists, its files decoded by Pillow and measured with numpy.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/FormatReaders.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using testimage::ReadBytes;
using testimage::ToolRun;

const char* kFixtures = R"PY(
import sys, os, io, math
from PIL import Image, ImageCms, PngImagePlugin
d = sys.argv[1]
def p(n): return os.path.join(d, n)
def smooth(w, h):
    im = Image.new("RGB", (w, h))
    im.putdata([(int(128 + 100 * math.sin(x / 9.0)), int(128 + 90 * math.cos(y / 7.0)), (x * 3 + y * 2) % 256)
                for y in range(h) for x in range(w)])
    return im
photo = smooth(64, 48)
photo.save(p("photo.png"))
photo.save(p("-dash.png"))
photo.convert("RGB").save(p("photo.tif"))
a = photo.convert("RGBA")
a.putalpha(Image.frombytes("L", (64, 48), bytes(1 + (x * 4 + y) % 255 for y in range(48) for x in range(64))))
a.save(p("alpha.png"))
smooth(33, 21).save(p("odd.png"))
oa = smooth(33, 21).convert("RGBA"); oa.putalpha(128); oa.save(p("oddalpha.png"))
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
open(p("profile.icc"), "wb").write(icc)
xmp = b'<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF/></x:xmpmeta>'
info = PngImagePlugin.PngInfo(); info.add_itxt("XML:com.adobe.xmp", xmp.decode())
photo.save(p("icc.png"), icc_profile=icc, pnginfo=info)
exif = Image.Exif(); exif[0x010F] = "Vellipse test camera"
photo.save(p("exif.jpg"), quality=90, exif=exif.tobytes(), icc_profile=icc)
w, h = 64, 48
open(p("raw.yuv"), "wb").write(bytes([128]) * (w * h) + bytes([128]) * (2 * 32 * 24))
open(p("short.yuv"), "wb").write(bytes([128]) * (w * h + 2 * 32 * 24 - 1))
)PY";

class WebPEncoderTool : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new testpdf::TempDir;
        std::string log;
        ASSERT_EQ(testimage::RunPythonProbe(kFixtures, dir_->path(), &log), 0) << log;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static fs::path File(const std::string& name) { return dir_->path() / name; }

    // Runs the tool in the fixtures' folder.
    static ToolRun Tool(const std::string& arguments) {
        return testimage::RunTool(dir_->path(), VELLIPSE_TOOL_DIR "/vellipse-webp-encode", arguments);
    }
    // Runs a Python script (numpy and Pillow) in the fixtures' folder; its standard output.
    static std::string Python(const std::string& script) {
        std::string output;
        EXPECT_EQ(testimage::RunPythonProbe("import os, sys\nos.chdir(sys.argv[1])\n" + script, dir_->path(), &output),
                  0)
            << output;
        return output;
    }
    static std::string Text(const fs::path& file) {
        const std::vector<std::uint8_t> bytes = ReadBytes(file);
        return {bytes.begin(), bytes.end()};
    }

    static testpdf::TempDir* dir_;
};

testpdf::TempDir* WebPEncoderTool::dir_ = nullptr;

const std::string kShortHelp =
    "Usage:\n\n   cwebp \\[options\\] -q quality input\\.png -o output\\.webp\n\n"
    "where quality is between 0 \\(poor\\) to 100 \\(very good\\)\\.\nTypical value is around 80\\.\n\n"
    "Try -longhelp for an exhaustive list of advanced options\\.\n";
const std::string kLongHelp =
    "Usage:\n cwebp \\[-preset <\\.\\.\\.>\\] \\[options\\] in_file \\[-o out_file\\]\n\n"
    "If input size \\(-s\\) for an image is not specified, it is assumed to be a PNG, JPEG or TIFF file\\.\n"
    "options:\n  -h / -help \\.+ [^]*\n  -q <float> \\.+ quality factor \\(0:small\\.\\.100:big\\)\n[^]*"
    "     -preset must come first, as it overwrites other parameters\\.\n[^]*"
    "Valid values: all, none \\(default\\), exif, icc, xmp\n[^]*\nExperimental Options:\n[^]*  -pre <int> [^\n]*\n\n";

TEST_F(WebPEncoderTool, StatusesAndMessages) {
    const std::string lossyStats =
        "File:      photo\\.png\nDimension: 64 x 48\nOutput:    [0-9]+ bytes Y-U-V-All-PSNR [0-9.]+ [0-9.]+ [0-9.]+   "
        "[0-9.]+ dB\nblock count:  intra4: [0-9]+\n              intra16: [0-9]+  \\(-> [0-9.]+%\\)\n"
        "              skipped block: [0-9]+ \\([0-9.]+%\\)\nbytes used:  header: +[0-9]+  \\([0-9.]+%\\)\n"
        "             mode-partition: +[0-9]+  \\([0-9.]+%\\)\n"
        " Residuals bytes  \\|segment 1\\|segment 2\\|segment 3\\|segment 4\\|  total\n"
        "    macroblocks:  (\\| +[0-9]+%){4}\\| +12\n      quantizer:  (\\| +[0-9]+ ){4}\\|\n"
        "   filter level:  (\\| +[0-9]+ ){4}\\|\n";
    const std::string losslessStats = "File:      photo\\.png\nDimension: 64 x 48\nOutput:    ([0-9]+) bytes\n"
                                      "Lossless-ARGB compressed size: \\1 bytes\n[^]*"
                                      "  \\* Precision Bits: histogram=[0-9]+ transform=[0-9]+ cache=[0-9]+\n.*";
    struct Case {
        const char* arguments;
        int status;
        std::string out, err;  // regular expressions, matched whole
    };
    const Case cases[] = {
        {"", 0, kShortHelp, ""},
        {"-h", 0, kShortHelp, ""},
        {"photo.png -longhelp -bogus", 0, kLongHelp, ""},
        {"-version", 0, "1\\.2\\.4\n", ""},
        {"photo.png -bogus", 255, kLongHelp, "Error! Unknown option '-bogus'\n"},
        // A value missing at the end falls through to the unknown-option test.
        {"photo.png -q", 255, kLongHelp, "Error! Unknown option '-q'\n"},
        {"photo.png -crop 1 2 3", 255, kLongHelp, "Error! Unknown option '-crop'\n"},
        {"-metadata exif,foo photo.png", 255, kLongHelp, "Error! Unknown metadata type 'foo'\n"},
        {"-preset vivid photo.png", 255, "", "Error! Unrecognized preset: vivid\n"},
        {"-hint sketch photo.png", 255, "", "Error! Unrecognized image hint: sketch\n"},
        {"-alpha_filter some photo.png", 255, "", "Error! Unrecognized alpha filter: some\n"},
        {"-o x.webp", 255, kShortHelp, "No input file specified!\n"},
        {"-m 9 photo.png", 255, "", "Error! Invalid configuration\\.\n"},
        {"missing.png", 255, "", "Error! Cannot open input file 'missing.png'\n"
                                 "Error! Cannot read input picture file 'missing.png'\n"},
        {"-s 64 48 short.yuv -o short.webp", 255, "",
         "Error! Could not process file short\\.yuv\nError! Cannot read input picture file 'short\\.yuv'\n"},
        {"-s 64 48 raw.yuv -o raw.webp -quiet", 0, "", ""},
        {"photo.png -o no/such/folder/x.webp", 255, "", "Error! Cannot open output file 'no/such/folder/x\\.webp'\n"},
        {"photo.png -crop 0 0 65 48 -o crop.webp", 255, "", "Saving file 'crop\\.webp'\nError! Cannot crop picture\n"},
        {"photo.png -resize 20000 4 -o wide.webp", 255, "",
         "Saving file 'wide\\.webp'\nError! Cannot encode picture as WebP\nError code: 5 \\(BAD_DIMENSION: Bad "
         "picture dimension\\. Maximum width and height allowed is 16383 pixels\\.\\)\n"},
        // A size no WebP file can hold fails before a picture of gigabytes is made for it.
        {"photo.png -resize 60000 60000 -quiet -o huge.webp", 255, "",
         "Error! Cannot encode picture as WebP\nError code: 5 \\(BAD_DIMENSION: [^\n]*\\)\n"},
        {"photo.png -resize 0 40000 -quiet", 255, "", "Error! Cannot encode picture as WebP\nError code: 5 [^\n]*\n"},
        // Without "-o" the picture is encoded all the same.
        {"photo.png", 0, "",
         "No output file specified \\(no -o flag\\)\\. Encoding will\nbe performed, but its results discarded\\.\n\n" +
             lossyStats},
        {"photo.png -o lossy.webp", 0, "", "Saving file 'lossy\\.webp'\n" + lossyStats},
        {"-lossless photo.png -o lossless.webp", 0, "", "Saving file 'lossless\\.webp'\n" + losslessStats},
        {"-lossless -size 1000 -partition_limit 5 photo.png -quiet", 0, "", ""},
        {"-lossless -psnr 40 -partition_limit 5 photo.png -short", 0, "",
         "Encoding for specified size or PSNR is not supported for lossless encoding\\. Ignoring such option\\(s\\)!\n"
         "Partition limit option is not required for lossless encoding\\. Ignoring this option!\n +[0-9]+ [0-9.]+\n"},
        {"-d dump.pgm -lossless photo.png -short", 0, "",
         "Warning: can't dump file \\(-d option\\) in lossless mode\\. +[0-9]+ [0-9.]+\n"},
        {"-quiet photo.png -o quiet.webp", 0, "", ""},
        {"-short photo.png -o short.webp", 0, "", " +[0-9]+ [0-9]+\\.[0-9]{2}\n"},
        {"-short -print_ssim photo.png", 0, "", " +[0-9]+ [0-9]+\\.[0-9]{4}\n"},
        {"-lossless -print_psnr photo.png -o l.webp", 0, "",
         "Saving file 'l\\.webp'\n" + losslessStats + "PSNR: Y:99\\.00 U:99\\.00 V:99\\.00 A:99\\.00  Total:99\\.00\n"},
        {"-print_lsim -short -short photo.png -o l.webp", 0, "", " +[0-9]+ [0-9]+\\.[0-9]{4}\n"},
        // A preset given later does not take back the reconstruction the distortion needs: a lossy
        // encoding never measures as 99 dB.
        {"-print_psnr -preset photo -short photo.png", 0, "", " +[0-9]+ ([1-8][0-9]|9[0-8])\\.[0-9]{4}\n"},
        {"-v photo.png -o v.webp -short", 0, "",
         "Time to read input: [0-9]+\\.[0-9]{3}s\nTime to encode picture: [0-9]+\\.[0-9]{3}s\n +[0-9]+ [0-9.]+\n"},
        {"-progress photo.png -short -o p.webp", 0, "(\\[photo\\.png\\]: +[0-9]+ %      \r)+", " +[0-9]+ [0-9.]+\n"},
        {"-progress -quiet photo.png -o p.webp", 0, "", ""},
        // The map follows the picture as it is encoded: 3 x 2 macroblocks after the crop.
        {"-map 2 photo.png -crop 8 8 40 20 -quiet -o m.webp", 0, "", ""},
        {"-map 2 photo.png -crop 8 8 40 20 -o m.webp", 0, "[-.*X]{3}\n[-.*X]{3}\n", "Saving .*\n[^]*"},
        {"-map 3 photo.png -resize 16 40 -o m.webp", 0, "([0-9]{2} \n){3}", "Saving .*\n[^]*"},
        {"-map 2 photo.png -resize 128 96 -o m.webp", 0, "([-.*X]{8}\n){6}", "Saving .*\n[^]*"},
        {"-map 1 photo.png -resize 32 16 -o m.webp", 0, "[+.]{2}\n", "Saving .*\n[^]*"},
        {"-map 7 photo.png -resize 32 16 -o m.webp", 0, "( *[0-9]+ ){2}\n", "Saving .*\n[^]*"},
        {"-map 4 photo.png -resize 32 16 -o m.webp", 0, "(0x[0-9a-f]{2} ){2}\n", "Saving .*\n[^]*"},
        {"-print_psnr alpha.png -o a.webp", 0, "",
         "Saving .*\n[^]*\nDimension: 64 x 48 \\(with alpha\\)\n[^]*             transparency: +[0-9]+ \\([0-9.]+ dB\\)\n"
         "[^]*Lossless-alpha compressed size: [0-9]+ bytes\n[^]*"
         "PSNR: Y:[0-9.]+ U:[0-9.]+ V:[0-9.]+ A:99\\.00  Total:[0-9.]+\n"},
        {"-low_memory photo.png -o low.webp", 0, "",
         "Saving .*\n[^]*\n  intra4-coeffs:  (\\| +[0-9]+ ){4}\\| +[0-9]+  \\([0-9.]+%\\)\n"
         " intra16-coeffs:  [^\n]+\n  chroma coeffs:  [^\n]+\n[^]*"
         "------------------\\+---------\\+---------\\+---------\\+---------\\+-----------------\n"
         " segments total:  (\\| +[0-9]+ ){4}\\| +[0-9]+  \\([0-9.]+%\\)\n"},
        // Metadata: the blobs written, or without an output file those present.
        {"-metadata icc,xmp icc.png -o icc.webp", 0, "",
         "Saving .*\n[^]*Metadata:\n  \\* ICC profile: +[0-9]+ bytes\n  \\* XMP data: +[0-9]+ bytes\n"},
        {"-metadata all exif.jpg", 0, "",
         "No output [^]*Metadata:\n  \\* ICC profile: +[0-9]+ bytes\n  \\* EXIF data: +[0-9]+ bytes\n"},
        {"-metadata all,none exif.jpg -o none.webp", 0, "", "Saving .*\n[^]*filter level:[^\n]*\n"},
        // EXIF and XMP asked, the file has EXIF and an ICC profile: EXIF alone.
        {"-metadata exif,xmp exif.jpg", 0, "", "No output [^]*\\|\nMetadata:\n  \\* EXIF data: +[0-9]+ bytes\n"},
        // The last input wins; "--" takes the next argument as the input, whatever it is.
        {"missing.png photo.png -short", 0, "", " +[0-9]+ [0-9.]+\n"},
        {"-short -- -dash.png", 0, "", " +[0-9]+ [0-9.]+\n"},
        {"-short photo.tif -o tif.webp", 0, "", " +[0-9]+ [0-9.]+\n"},
    };
    for (const Case& c : cases) {
        const ToolRun r = Tool(c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments << "\n" << r.err;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << c.arguments << ": standard output\n" << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << c.arguments << ": standard error\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(File("short.webp")) && fs::file_size(File("short.webp")) == 0);
    EXPECT_FALSE(fs::exists(File("crop.webp")));
    EXPECT_FALSE(fs::exists(File("wide.webp")));
    EXPECT_FALSE(fs::exists(File("huge.webp")));
}

// A failed encoding leaves the file it was to replace as it was; a successful one replaces it
// and keeps its permissions; nothing of the temporary file stays behind.
TEST_F(WebPEncoderTool, OutputReplacedOnlyWhenComplete) {
    const fs::path keep = File("keep.webp");
    { std::ofstream(keep, std::ios::binary) << "the user's own file"; }
    ::chmod(keep.c_str(), 0640);
    for (const char* failing : {"photo.png -crop 0 0 99 99 -o keep.webp", "photo.png -resize 20000 4 -o keep.webp",
                                "-metadata icc photo.png -resize 20000 4 -o keep.webp"}) {
        EXPECT_EQ(Tool(failing).status, 255) << failing;
        EXPECT_EQ(Text(keep), "the user's own file") << failing;
    }
    ASSERT_EQ(Tool("photo.png -quiet -o keep.webp").status, 0);
    EXPECT_EQ(testimage::DecodeWithPil(keep).format, "WEBP");
    struct stat st {};
    ASSERT_EQ(::stat(keep.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    for (const auto& entry : fs::directory_iterator(dir_->path()))
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    // A destination that is not a plain file is written in place.
    EXPECT_EQ(Tool("photo.png -quiet -o /dev/null").status, 0);
}

// The files: lossless equal to the input, lossy close to it by numpy's measure and to the tool's
// own figure, crops and sizes, the dump's layout, metadata chunks, the options that act on the
// picture before encoding.
TEST_F(WebPEncoderTool, OutputsDecodedIndependently) {
    for (const char* arguments : {"-lossless photo.png -o ll.webp", "-lossless -noasm photo.png -o ll-noasm.webp",
                                  "-lossless -mt -m 6 photo.png -o ll-mt.webp", "-lossless alpha.png -o lla.webp",
                                  "-lossless -crop 10 5 30 20 photo.png -o llc.webp", "-lossless photo.tif -o llt.webp"})
        ASSERT_EQ(Tool(std::string(arguments) + " -quiet").status, 0) << arguments;
    const std::string exact = Python(R"PY(
import numpy as np
from PIL import Image
def a(f, m): return np.asarray(Image.open(f).convert(m))
src = a("photo.png", "RGB")
print(int((a("ll.webp", "RGB") == src).all()), int((a("ll-noasm.webp", "RGB") == src).all()),
      int((a("ll-mt.webp", "RGB") == src).all()), int((a("lla.webp", "RGBA") == a("alpha.png", "RGBA")).all()),
      int(Image.open("lla.webp").mode == "RGBA"), int((a("llc.webp", "RGB") == src[5:25, 10:40]).all()),
      int((a("llt.webp", "RGB") == src).all()))
)PY");
    EXPECT_EQ(exact, "1 1 1 1 1 1 1\n");

    // Lossy: numpy's PSNR of Pillow's decoding above a floor; the Y plane of the dump (the
    // reconstruction the tool measures) against numpy's luma of the input, which is the tool's Y.
    const ToolRun lossy = Tool("photo.png -print_psnr -d dump.pgm -o lossy.webp");
    ASSERT_EQ(lossy.status, 0) << lossy.err;
    std::smatch figures;
    ASSERT_TRUE(std::regex_search(lossy.err, figures,
                                  std::regex("PSNR: Y:([0-9.]+) U:([0-9.]+) V:([0-9.]+) A:99\\.00  Total:([0-9.]+)\n")))
        << lossy.err;
    std::istringstream measured(Python(R"PY(
import numpy as np
from PIL import Image
src = np.asarray(Image.open("photo.png").convert("RGB")).astype(np.int64)
dec = np.asarray(Image.open("lossy.webp").convert("RGB")).astype(np.int64)
rgb = 10 * np.log10(255.0 ** 2 / ((src - dec) ** 2).mean())
y = (16839 * src[..., 0] + 33059 * src[..., 1] + 6420 * src[..., 2] + (16 << 16) + (1 << 15)) >> 16
dump = Image.open("dump.pgm")
rec = np.asarray(dump).astype(np.int64)[:48, :64]
print(rgb, 10 * np.log10(255.0 ** 2 / ((y - rec) ** 2).mean()), dump.size[0], dump.size[1])
)PY"));
    double rgbPsnr = 0, yPsnr = 0;
    int dumpWidth = 0, dumpHeight = 0;
    measured >> rgbPsnr >> yPsnr >> dumpWidth >> dumpHeight;
    EXPECT_GT(rgbPsnr, 30.0);
    EXPECT_NEAR(yPsnr, std::stod(figures[1]), 0.02);
    // The total is that of the planes' summed squared errors (U and V a quarter of Y's samples
    // each), not a mean of the three figures.
    const auto squaredError = [](double samples, double psnr) { return samples * 255 * 255 / std::pow(10.0, psnr / 10); };
    const double sum = squaredError(64 * 48, std::stod(figures[1])) + squaredError(32 * 24, std::stod(figures[2])) +
                       squaredError(32 * 24, std::stod(figures[3]));
    EXPECT_NEAR(10 * std::log10((64 * 48 + 2 * 32 * 24) * 255.0 * 255.0 / sum), std::stod(figures[4]), 0.02);
    EXPECT_EQ(dumpWidth, 64);
    EXPECT_EQ(dumpHeight, 48 + 24);

    // The dump's header by its formula: width rounded up to even; Y, U|V and alpha rows.
    struct Dump {
        const char* input;
        std::string header;
        std::size_t width, rows;
    };
    for (const Dump& d : {Dump{"odd.png", "P5\n34 32\n255\n", 34, 32}, Dump{"oddalpha.png", "P5\n34 53\n255\n", 34, 53},
                          Dump{"photo.png -crop 1 1 31 15", "P5\n32 23\n255\n", 32, 23}}) {
        ASSERT_EQ(Tool(std::string(d.input) + " -quiet -d d.pgm").status, 0) << d.input;
        const std::string pgm = Text(File("d.pgm"));
        EXPECT_EQ(pgm.substr(0, d.header.size()), d.header) << d.input;
        EXPECT_EQ(pgm.size(), d.header.size() + d.width * d.rows) << d.input;
        EXPECT_EQ(pgm[d.header.size() + d.width - 1], '\0') << d.input << ": the pad of the first Y row";
    }

    // Sizes after crop and resize (0 keeps the aspect ratio), raw YUV, blending, no alpha.
    for (const char* arguments :
         {"photo.png -crop 8 4 30 20 -o c.webp", "photo.png -resize 32 0 -o r0.webp", "photo.png -resize 0 0 -o rn.webp",
          "photo.png -crop 0 0 40 40 -resize 20 10 -o cr.webp", "-s 64 48 raw.yuv -o raw.webp",
          "-lossless -blend_alpha 0xc0ff2040 alpha.png -o blend.webp", "-noalpha alpha.png -o noalpha.webp",
          "-alpha_cleanup -alpha_q 50 -alpha_filter best -alpha_method 0 alpha.png -o cleanup.webp",
          "-preset text -hint graph -sns 20 -f 30 -sharpness 3 -strong -af -segments 2 -pass 3 -jpeg_like -pre 2 "
          "-size 900 photo.png -o tuned.webp"})
        ASSERT_EQ(Tool(std::string(arguments) + " -quiet").status, 0) << arguments;
    const std::string checks = Python(R"PY(
import numpy as np
from PIL import Image
def size(f): return "%dx%d" % Image.open(f).size
raw = np.asarray(Image.open("raw.webp").convert("RGB")).astype(int)
src = np.asarray(Image.open("alpha.png").convert("RGBA")).astype(int)
bg = np.array([0xff, 0x20, 0x40])
want = (src[..., :3] * src[..., 3:] + bg * (255 - src[..., 3:])) / 255.0
blend = Image.open("blend.webp")
got = np.asarray(blend.convert("RGBA")).astype(int)
print(size("c.webp"), size("r0.webp"), size("rn.webp"), size("cr.webp"), size("raw.webp"), int(abs(raw - 130).max() <= 2),
      int(abs(got[..., :3] - want).max() <= 2), int((got[..., 3] == 255).all()), Image.open("noalpha.webp").mode,
      Image.open("cleanup.webp").mode, size("tuned.webp"))
)PY");
    EXPECT_EQ(checks, "30x20 32x24 64x48 20x10 64x48 1 1 1 RGB RGBA 64x48\n");

    // Metadata: the chunks Pillow finds are the input's blobs; without "-metadata" none.
    for (const char* arguments : {"-metadata icc,xmp icc.png -o icc.webp", "-metadata exif,icc exif.jpg -o exif.webp",
                                  "-metadata icc -lossless alpha.png -o noicc.webp", "exif.jpg -o plain.webp"})
        ASSERT_EQ(Tool(std::string(arguments) + " -quiet").status, 0) << arguments;
    const std::string metadata = Python(R"PY(
from PIL import Image
icc = open("profile.icc", "rb").read()
i, e, n, p = (Image.open(f) for f in ("icc.webp", "exif.webp", "noicc.webp", "plain.webp"))
data = open("icc.webp", "rb").read()
print(int(i.info.get("icc_profile") == icc), int(b"XMP " in data and b"adobe:ns:meta/" in data),
      int(e.info.get("icc_profile") == icc), int(e.getexif().get(0x010F) == "Vellipse test camera"),
      int("icc_profile" not in n.info), int(b"VP8X" not in open("plain.webp", "rb").read()), i.size[0])
)PY");
    EXPECT_EQ(metadata, "1 1 1 1 1 1 64\n");
}

// "-preset" re-initialises the whole configuration with the quality given so far: its place
// against "-q" does not matter, settings before it are lost.
TEST_F(WebPEncoderTool, PresetOrder) {
    struct Case {
        const char* arguments;
        const char* file;
    };
    const Case cases[] = {{"-q 90 -preset photo", "a.webp"},
                          {"-preset photo -q 90", "b.webp"},
                          {"-sns 10 -preset photo -q 90", "c.webp"},
                          {"-preset photo -q 90 -sns 10", "d.webp"},
                          {"-preset photo", "e.webp"},
                          {"-preset default -q 90", "f.webp"}};
    for (const Case& c : cases)
        ASSERT_EQ(Tool(std::string(c.arguments) + " photo.png -quiet -o " + c.file).status, 0) << c.arguments;
    const std::vector<std::uint8_t> b = ReadBytes(File("b.webp"));
    EXPECT_EQ(ReadBytes(File("a.webp")), b);
    EXPECT_EQ(ReadBytes(File("c.webp")), b);
    EXPECT_NE(ReadBytes(File("d.webp")), b);
    EXPECT_NE(ReadBytes(File("e.webp")), b);
    EXPECT_NE(ReadBytes(File("f.webp")), b);
}

}  // namespace
