// Image stream decoding: sample depths, Decode arrays, Indexed spaces, DCT data and masks, each
// checked against poppler's pdfimages on the same file and against the values it must give.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

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
        {"no colour space, 1 bit", "/Width 2 /Height 1 /BitsPerComponent 1", Bytes({0x80}), {255, 255, 255, 0, 0, 0},
         false},  // pdfimages refuses an image without a colour space that is not a mask
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

// JPEG bytes of packed samples, made with the engine's codec (the readers below are others').
std::string Jpeg(int width, int height, int components, const std::vector<std::uint8_t>& samples) {
    std::uint8_t* jpeg = nullptr;
    std::size_t size = 0;
    EncodeJPEGData(width, height, samples.data(), components == 4 ? 4 : components == 3 ? 2 : 1, components, 72, 72, 95,
                   &jpeg, &size);
    std::string bytes(reinterpret_cast<const char*>(jpeg), size);
    std::free(jpeg);
    return bytes;
}

std::vector<std::uint8_t> Gradient(int width, int height, int components) {
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(width) * height * components);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>((i * 7 + i / 5) & 0xFF);
    return samples;
}

TEST(ImageDecoding, JpegDataBuildsTheImageFromTheJpegItself) {
    testpdf::TempDir dir;
    // A dictionary that lies about the size and the colours: the JPEG's own hold.
    const std::string grey = Jpeg(8, 6, 1, Gradient(8, 6, 1));
    std::ofstream(dir / "grey.jpg", std::ios::binary) << grey;
    const fs::path lying = OneImage(dir / "lying" / "in.pdf",
                                    "/Width 10 /Height 10 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /DCTDecode", grey);
    const fs::path ours = ExtractOne(lying, dir / "lying" / "ours");
    ASSERT_FALSE(ours.empty());
    const testimage::Decoded got = testextract::Read(ours, "L");
    const testimage::Decoded want = testextract::Read(dir / "grey.jpg", "L");
    EXPECT_EQ(got.width, 8);
    EXPECT_EQ(got.height, 6);
    EXPECT_EQ(got.pixels, want.pixels);

    // A JPEG cut short, past the middle of its scan: every row is there, those of the first
    // quarter as the whole file has them.
    const std::string whole = Jpeg(16, 64, 3, Gradient(16, 64, 3));
    const std::size_t scan = whole.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    std::ofstream(dir / "whole.jpg", std::ios::binary) << whole;
    const fs::path cut = OneImage(dir / "cut" / "in.pdf",
                                  "/Width 16 /Height 64 /BitsPerComponent 8 /ColorSpace /DeviceRGB /Filter /DCTDecode",
                                  whole.substr(0, scan + (whole.size() - scan) * 7 / 10));
    const fs::path cutOut = ExtractOne(cut, dir / "cut" / "ours");
    ASSERT_FALSE(cutOut.empty());
    const testimage::Decoded part = testextract::Read(cutOut, "RGB");
    const testimage::Decoded full = testextract::Read(dir / "whole.jpg", "RGB");
    ASSERT_EQ(part.height, 64);
    for (int i = 0; i < 16 * 3 * 16; ++i) ASSERT_EQ(full.pixels[i], part.pixels[i]) << "sample " << i;

    // CMYK with an Adobe marker: the stored samples, as poppler takes them, through a CMYK TIFF.
    const std::string cmyk = Jpeg(8, 8, 4, Gradient(8, 8, 4));
    const fs::path cmykPdf = OneImage(dir / "cmyk" / "in.pdf",
                                      "/Width 8 /Height 8 /BitsPerComponent 8 /ColorSpace /DeviceCMYK /Filter /DCTDecode", cmyk);
    const fs::path tiff = ExtractOne(cmykPdf, dir / "cmyk" / "ours", kOutputTIFF);
    ASSERT_FALSE(tiff.empty());
    const std::vector<testextract::PeerImage> peer = testextract::PdfImages(cmykPdf, dir / "cmyk" / "peer", "-tiff");
    ASSERT_EQ(peer.size(), 1u);
    const testimage::Decoded ourCmyk = testextract::Read(tiff, "");
    const testimage::Decoded peerCmyk = testextract::Read(peer[0].file, "");
    EXPECT_EQ(ourCmyk.mode, "CMYK");
    EXPECT_EQ(peerCmyk.mode, "CMYK");
    EXPECT_EQ(ourCmyk.pixels, peerCmyk.pixels);
}

// A 2 x 2 RGB image with the mask entries given, extracted as `type`.
struct MaskCase {
    const char* name;
    std::int32_t type;
    std::function<std::string(PdfBuilder&)> maskEntries;  // dictionary text added to the image's
    std::vector<int> alpha;                               // expected opacity; empty: no alpha channel
    bool peerSmask = false;                               // the opacity is pdfimages' smask file
};

TEST(ImageDecoding, MasksForTheTypesThatKeepThem) {
    const std::string colours = Bytes({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255});
    auto ref = [](QPDFObjectHandle o) {
        return std::to_string(o.getObjectID()) + " " + std::to_string(o.getGeneration()) + " R";
    };
    auto softMask = [&](PdfBuilder& b, int w, int h, const std::string& data) {
        return b.Image("/Width " + std::to_string(w) + " /Height " + std::to_string(h) +
                           " /BitsPerComponent 8 /ColorSpace /DeviceGray", data);
    };
    const MaskCase cases[] = {
        {"soft mask, PNG", kOutputPNG, [&](PdfBuilder& b) { return "/SMask " + ref(softMask(b, 2, 2, Bytes({0, 85, 170, 255}))); },
         {0, 85, 170, 255}, true},
        {"soft mask, JPEG keeps no mask", kOutputJPEG,
         [&](PdfBuilder& b) { return "/SMask " + ref(softMask(b, 2, 2, Bytes({0, 85, 170, 255}))); }, {}},
        {"soft mask of another size", kOutputPNG, [&](PdfBuilder& b) { return "/SMask " + ref(softMask(b, 1, 2, Bytes({10, 200}))); },
         {10, 10, 200, 200}},
        {"soft mask that is its own soft mask", kOutputPNG,
         [&](PdfBuilder& b) {
             QPDFObjectHandle m = softMask(b, 2, 2, Bytes({1, 2, 3, 4}));
             m.getDict().replaceKey("/SMask", m);
             return "/SMask " + ref(m);
         },
         {1, 2, 3, 4}, true},
        {"stencil: set samples hide", kOutputPNG,
         [&](PdfBuilder& b) {
             return "/Mask " + ref(b.Image("/Width 2 /Height 2 /BitsPerComponent 1 /ImageMask true", Bytes({0x80, 0x40})));
         },
         {0, 255, 255, 0}},
        {"soft mask before /Mask", kOutputPNG,
         [&](PdfBuilder& b) { return "/Mask [0 255 0 255 0 255] /SMask " + ref(softMask(b, 2, 2, Bytes({9, 9, 9, 9}))); },
         {9, 9, 9, 9}},
        {"colour key", kOutputPNG, [](PdfBuilder&) { return std::string("/Mask [200 255 0 10 0 10]"); }, {0, 255, 255, 255}},
        {"colour key too short", kOutputPNG, [](PdfBuilder&) { return std::string("/Mask [200 255]"); }, {255, 255, 255, 255}},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const MaskCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder);
        PdfBuilder b;
        const std::string entries = c.maskEntries(b);
        b.AddPage(PdfBuilder::XObjects({{"/Im", b.Image("/Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceRGB " +
                                                            entries, colours)}}),
                  "q 100 0 0 100 0 0 cm /Im Do Q");
        b.Write(folder / "in.pdf");
        const fs::path ours = ExtractOne(folder / "in.pdf", folder / "ours", c.type);
        ASSERT_FALSE(ours.empty());
        if (c.alpha.empty()) {
            const testimage::Decoded d = testextract::Read(ours, "");
            EXPECT_EQ(d.mode, "RGB");
            continue;
        }
        const testimage::Decoded d = testextract::Read(ours, "RGBA");
        std::vector<int> alpha, rgb, expectedRgb;
        for (int i = 0; i < 4; ++i) {
            alpha.push_back(d.pixels[4 * i + 3]);
            if (d.pixels[4 * i + 3] != 255) continue;
            for (int k = 0; k < 3; ++k) {
                rgb.push_back(d.pixels[4 * i + k]);
                expectedRgb.push_back(static_cast<std::uint8_t>(colours[3 * i + k]));
            }
        }
        EXPECT_EQ(alpha, c.alpha);
        EXPECT_EQ(rgb, expectedRgb);  // colours exact where opaque
        if (c.peerSmask) {
            const std::vector<testextract::PeerImage> peer = testextract::PdfImages(folder / "in.pdf", folder / "peer");
            ASSERT_EQ(peer.size(), 2u);
            EXPECT_EQ(peer[1].type, "smask");
            const testimage::Decoded m = testextract::Read(peer[1].file, "L");
            EXPECT_EQ(std::vector<int>(m.pixels.begin(), m.pixels.end()), c.alpha);
        }
    }
}

TEST(ImageDecoding, ImagesThatCannotBeMadeAreRefusedAndTakeNoNumber) {
    const struct {
        const char* name;
        std::string dict;
        std::string data;
    } cases[] = {
        {"zero width", "/Width 0 /Height 1 /ColorSpace /DeviceGray", "x"},
        {"negative height", "/Width 1 /Height -4 /ColorSpace /DeviceGray", "x"},
        {"no height", "/Width 1 /ColorSpace /DeviceGray", "x"},
        {"past the bitmap cap", "/Width 2000000000 /Height 2000000000 /ColorSpace /DeviceRGB", "xyz"},
        {"past the cap in 64 bits", "/Width 2147483647 /Height 2147483647 /BitsPerComponent 16 /ColorSpace /DeviceCMYK", "x"},
        {"3 bits per component", "/Width 1 /Height 1 /BitsPerComponent 3 /ColorSpace /DeviceGray", "x"},
        {"32 bits per component", "/Width 1 /Height 1 /BitsPerComponent 32 /ColorSpace /DeviceGray", "xxxx"},
        {"an unknown named space at 8 bits", "/Width 1 /Height 1 /ColorSpace /CS9", "x"},
        {"an ICC space, not read yet", "/Width 1 /Height 1 /ColorSpace [/ICCBased 99 0 R]", "x"},
        {"Indexed with hival 300", "/Width 1 /Height 1 /ColorSpace [/Indexed /DeviceRGB 300 <00>]", "x"},
        {"Indexed over Indexed", "/Width 1 /Height 1 /ColorSpace [/Indexed [/Indexed /DeviceGray 0 <00>] 0 <00>]", "x"},
        {"a filter nobody knows", "/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter /Nonsense", "x"},
        {"damaged Flate data", "/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter /FlateDecode", "not flate at all"},
        {"not a JPEG", "/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter /DCTDecode", "not a jpeg"},
        {"not JPEG 2000", "/Width 1 /Height 1 /Filter /JPXDecode", "not jpeg 2000"},
        {"a codec inside the chain", "/Width 1 /Height 1 /ColorSpace /DeviceGray /Filter [/DCTDecode /FlateDecode]", "x"},
    };
    testpdf::TempDir dir;
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir / std::to_string(n++);
        fs::create_directories(folder / "ours");
        PdfBuilder b;
        b.AddPage(PdfBuilder::XObjects({{"/A", b.Image(c.dict, c.data)},
                                        {"/B", b.Image("/Width 1 /Height 1 /ColorSpace /DeviceGray", "\x42")}}));
        b.Write(folder / "in.pdf");
        const testextract::Run run = testextract::Extract(folder / "in.pdf", folder / "ours");
        EXPECT_EQ(run.result, 1);
        ASSERT_EQ(run.files, std::vector<std::string>{"in_Page1_1.png"});
        EXPECT_EQ(testextract::Read(folder / "ours" / run.files[0], "L").pixels, std::vector<std::uint8_t>{0x42});
    }
}

}  // namespace
