// Image stream decoding: sample depths, Decode arrays, Indexed spaces, DCT data and masks, each
// checked against poppler's pdfimages on the same file and against the values it must give.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/codecs/JPEGMemoryCodec.h"
#include "engine/extraction/ExtractionSupport.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;
using testextract::PdfBuilder;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

// One page with one image /Im; the file's path.
fs::path OneImage(const fs::path& path, const std::string& dict, const std::string& data) {
    fs::create_directories(path.parent_path());
    PdfBuilder b;
    b.AddPage(PdfBuilder::XObjects({{"/Im", b.Image(dict, data)}}), "q 100 0 0 100 0 0 cm /Im Do Q");
    b.Write(path);
    return path;
}

// The one image extracted as `type`; empty path when none was written.
fs::path ExtractOne(const fs::path& pdf, const fs::path& folder, std::int32_t type = kOutputPNG) {
    fs::create_directories(folder);
    testextract::Options options;
    options.type = type;
    const testextract::Run run = testextract::Extract(pdf, folder, options);
    if (run.files.size() != 1) return {};
    return folder / run.files[0];
}

struct SampleCase {
    const char* name;
    std::string dict;
    std::string data;
    std::vector<int> rgb;   // expected RGB samples, row by row
    bool peerAgrees = true; // whether pdfimages writes the same (the exceptions say why not)
};

TEST(ImageDecoding, DepthsDecodeArraysAndIndexedSpaces) {
    const std::string rgbTable = Bytes({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
    const std::string indexed = "/ColorSpace [/Indexed /DeviceRGB 3 <FF000000FF000000FFFFFFFF>] ";
    const SampleCase cases[] = {
        {"1-bit grey, rows padded", "/Width 3 /Height 2 /BitsPerComponent 1 /ColorSpace /DeviceGray", Bytes({0xA0, 0x40}),
         {255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0}},
        {"2-bit grey", "/Width 3 /Height 2 /BitsPerComponent 2 /ColorSpace /DeviceGray", Bytes({0x18, 0xE4}),
         {0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255, 170, 170, 170, 85, 85, 85}},
        {"4-bit grey", "/Width 3 /Height 1 /BitsPerComponent 4 /ColorSpace /DeviceGray", Bytes({0x0F, 0x80}),
         {0, 0, 0, 255, 255, 255, 136, 136, 136}},
        {"16-bit grey by its high byte", "/Width 2 /Height 1 /BitsPerComponent 16 /ColorSpace /DeviceGray",
         Bytes({0x12, 0x34, 0xFF, 0x00}), {0x12, 0x12, 0x12, 0xFF, 0xFF, 0xFF}},
        {"16-bit RGB", "/Width 1 /Height 1 /BitsPerComponent 16 /ColorSpace /DeviceRGB",
         Bytes({0x10, 0x00, 0x80, 0x01, 0xFF, 0xFF}), {0x10, 0x80, 0xFF}, false},  // Pillow misreads 48-bit PNGs
        {"8-bit grey, Decode [1 0]", "/Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /Decode [1 0]",
         Bytes({0, 200}), {255, 255, 255, 55, 55, 55}},
        {"8-bit RGB, Decode per component", "/Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Decode [0 1 1 0 0 0.5]",
         Bytes({255, 255, 255}), {255, 0, 128}},
        {"4-bit Indexed, width 3", "/Width 3 /Height 1 /BitsPerComponent 4 " + indexed, Bytes({0x01, 0x30}),
         {255, 0, 0, 0, 255, 0, 255, 255, 255}},
        {"1-bit Indexed, Decode [1 0]", "/Width 3 /Height 1 /BitsPerComponent 1 /Decode [1 0] " + indexed, Bytes({0xA0}),
         {255, 0, 0, 0, 255, 0, 255, 0, 0}, false},  // pdfimages writes 1-bit images black and white
        {"2-bit Indexed, Decode [3 0]", "/Width 4 /Height 1 /BitsPerComponent 2 /Decode [3 0] " + indexed, Bytes({0x1B}),
         {255, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0}},
        {"Indexed index above hival", "/Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceRGB 1 <FF000000FF00>]",
         Bytes({1, 7}), {0, 255, 0, 0, 255, 0}, false},
        {"Indexed short colour table", "/Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceRGB 3 <FF000000FF00>]",
         Bytes({1, 3}), {0, 255, 0, 0, 0, 0}, false},  // pdfimages refuses the space
        {"Indexed over grey", "/Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace [/Indexed /DeviceGray 1 <4080>]",
         Bytes({1, 0}), {0x80, 0x80, 0x80, 0x40, 0x40, 0x40}},
        {"short data padded", "/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceGray", Bytes({9, 8, 7}),
         {9, 9, 9, 8, 8, 8, 7, 7, 7, 0, 0, 0}, false},
        {"no colour space, 1 bit", "/Width 2 /Height 1 /BitsPerComponent 1", Bytes({0x80}), {255, 255, 255, 0, 0, 0}},
        {"Flate with a predictor", "/Width 2 /Height 1 /BitsPerComponent 8 /ColorSpace /DeviceGray /Filter /FlateDecode "
                                   "/DecodeParms << /Predictor 12 /Columns 2 >>",
         Bytes({120, 156, 99, 18, 80, 0, 0, 0, 73, 0, 51}), {16, 16, 16, 32, 32, 32}},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const SampleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        const fs::path pdf = OneImage(folder / "in.pdf", c.dict, c.data);
        const fs::path ours = ExtractOne(pdf, folder / "ours");
        ASSERT_FALSE(ours.empty());
        const testimage::Decoded got = testextract::Read(ours, "RGB");
        EXPECT_EQ(std::vector<int>(got.pixels.begin(), got.pixels.end()), c.rgb);
        if (!c.peerAgrees) continue;
        const std::vector<testextract::PeerImage> peer = testextract::PdfImages(pdf, folder / "peer");
        ASSERT_EQ(peer.size(), 1u);
        const testimage::Decoded want = testextract::Read(peer[0].file, "RGB");
        EXPECT_EQ(got.pixels, want.pixels) << "against pdfimages";
    }
}

}  // namespace
