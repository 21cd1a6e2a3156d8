#include "support/FormatReaders.h"

#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStandardAttributes.h>
#include <tiffio.h>

#include <cmath>
#include <exception>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "support/MagickReader.h"
#include "support/PixelChecks.h"

namespace testimage {
namespace fs = std::filesystem;

namespace {

// A path under the temporary folder, removed when the object dies.
class TempFile {
public:
    explicit TempFile(const std::string& suffix) {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("vellipse-reader-" + std::to_string(rd()) + suffix);
    }
    ~TempFile() {
        std::error_code ec;
        fs::remove(path_, ec);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const fs::path& path() const { return path_; }
    std::string quoted() const { return ShellQuote(path_.string()); }

private:
    fs::path path_;
};

Decoded Failed(const std::string& why) {
    Decoded d;
    d.error = why.empty() ? "failed" : why;
    return d;
}

}  // namespace

Decoded DecodeMacPaint(const fs::path& file) {
    TempFile pbm(".pbm");
    std::string log;
    if (RunCommand("macptopbm " + ShellQuote(file.string()) + " > " + pbm.quoted(), &log) != 0)
        return Failed("macptopbm: " + log);
    return DecodeWithPil(pbm.path(), "L");
}

ExrDecoded DecodeExr(const fs::path& file) {
    ExrDecoded d;
    try {
        Imf::RgbaInputFile in(file.c_str());
        const Imath::Box2i dw = in.dataWindow();
        d.width = dw.max.x - dw.min.x + 1;
        d.height = dw.max.y - dw.min.y + 1;
        d.channels = static_cast<int>(in.channels());
        d.hasXDensity = Imf::hasXDensity(in.header());
        if (d.hasXDensity) d.xDensity = Imf::xDensity(in.header());
        d.pixelAspectRatio = in.header().pixelAspectRatio();
        std::vector<Imf::Rgba> px(static_cast<std::size_t>(d.width) * d.height);
        in.setFrameBuffer(px.data() - dw.min.x - static_cast<std::ptrdiff_t>(dw.min.y) * d.width, 1,
                          static_cast<std::size_t>(d.width));
        in.readPixels(dw.min.y, dw.max.y);
        d.rgba.reserve(px.size() * 4);
        for (const Imf::Rgba& p : px) {
            const float a = p.a;
            for (float c : {static_cast<float>(p.r), static_cast<float>(p.g), static_cast<float>(p.b)})
                d.rgba.push_back(static_cast<std::uint8_t>(LinearToSrgb8(a > 0 ? c / a : 0)));
            d.rgba.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(a, 0.0f, 1.0f) * 255)));
        }
    } catch (const std::exception& e) {
        d.error = e.what();
    }
    return d;
}

QuickTimeImage ReadQuickTimeImage(const fs::path& file, const std::string& asMode) {
    QuickTimeImage q;
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    auto be16 = [&](std::size_t at) { return static_cast<int>(bytes[at] << 8 | bytes[at + 1]); };
    auto be32 = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 | std::uint32_t(bytes[at + 2]) << 8 |
               bytes[at + 3];
    };
    auto text = [&](std::size_t at) { return std::string(bytes.begin() + at, bytes.begin() + at + 4); };
    // 'idsc' (its size, then an 86-byte description), then 'idat' to the end of the file.
    if (bytes.size() < 8 + 86 + 8 || text(4) != "idsc") {
        q.error = "no image description atom first";
        return q;
    }
    const std::uint32_t idscSize = be32(0);
    if (idscSize < 8 + 86 || idscSize + 8 > bytes.size() || text(idscSize + 4) != "idat") {
        q.error = "no image data atom after the description";
        return q;
    }
    if (idscSize + be32(idscSize) != bytes.size()) {
        q.error = "the image data atom does not end the file";
        return q;
    }
    q.codec = text(12);
    q.width = be16(40);
    q.height = be16(42);
    q.hRes = be32(44) / 65536.0;
    q.vRes = be32(48) / 65536.0;
    q.dataSize = be32(52);
    q.payloadSize = bytes.size() - idscSize - 8;
    TempFile inner(".img");
    std::ofstream(inner.path(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data() + idscSize + 8), static_cast<std::streamsize>(q.payloadSize));
    q.picture = DecodeWithPil(inner.path(), asMode);
    return q;
}

bool PdfChecksClean(const fs::path& file, std::string* log) {
    std::string out;
    const int status = RunCommand("qpdf --check " + ShellQuote(file.string()), &out);
    if (log) *log = out;
    return status == 0 && out.find("No syntax or stream encoding errors") != std::string::npos;
}

PdfImage ListPdfImage(const fs::path& file) {
    PdfImage image;
    std::string log;
    if (RunCommand("pdfimages -list " + ShellQuote(file.string()), &log) != 0) {
        image.error = log;
        return image;
    }
    // Two heading lines, then one line per image:
    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    std::istringstream lines(log);
    std::string line;
    std::vector<std::string> f;
    for (int i = 0; i < 3 && std::getline(lines, line); ++i) {
        std::istringstream fields(line);
        f.assign(std::istream_iterator<std::string>(fields), {});
    }
    if (f.size() < 14 || f[2] != "image") {
        image.error = "no image listed: " + log;
        return image;
    }
    image.width = std::stoi(f[3]);
    image.height = std::stoi(f[4]);
    image.colour = f[5];
    image.softMask = log.find("smask") != std::string::npos;
    image.xPpi = std::stoi(f[12]);
    image.yPpi = std::stoi(f[13]);
    return image;
}

Decoded DrawPdfPage(const fs::path& file, int dpi) {
    TempFile png(".png");
    std::string log;
    if (RunCommand("mutool draw -q -r " + std::to_string(dpi) + " -c rgb -o " + png.quoted() + " " +
                       ShellQuote(file.string()) + " 1",
                   &log) != 0)
        return Failed("mutool draw: " + log);
    return DecodeWithPil(png.path(), "RGB");
}

DngRaw ReadDngRaw(const fs::path& file) {
    DngRaw raw;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    if (!tif) {
        raw.error = "libtiff cannot open the file";
        return raw;
    }
    std::uint8_t* version = nullptr;
    std::uint16_t subCount = 0;
    std::uint64_t* subOffsets = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_DNGVERSION, &version) || !TIFFGetField(tif, TIFFTAG_SUBIFD, &subCount, &subOffsets) ||
        subCount < 1) {
        raw.error = "no DNG version or raw sub-directory";
        TIFFClose(tif);
        return raw;
    }
    raw.version.assign(version, version + 4);
    raw.subDirectories = subCount;
    const std::uint64_t rawOffset = subOffsets[0];
    if (!TIFFSetSubDirectory(tif, rawOffset)) {
        raw.error = "the raw sub-directory does not read";
        TIFFClose(tif);
        return raw;
    }
    std::uint16_t photometric = 0, samples = 0;
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &raw.subfileType);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    raw.photometric = photometric;
    raw.samples = samples;
    raw.width = static_cast<int>(w);
    raw.height = static_cast<int>(h);
    std::uint32_t tableCount = 0;
    std::uint16_t* table = nullptr;
    if (TIFFGetField(tif, TIFFTAG_LINEARIZATIONTABLE, &tableCount, &table)) raw.linearization.assign(table, table + tableCount);
    if (TIFFScanlineSize(tif) != static_cast<tmsize_t>(w) * samples) {
        raw.error = "raw rows are not 8-bit samples";
        TIFFClose(tif);
        return raw;
    }
    raw.pixels.resize(static_cast<std::size_t>(w) * h * samples);
    for (std::uint32_t y = 0; y < h; ++y)
        if (TIFFReadScanline(tif, &raw.pixels[static_cast<std::size_t>(y) * w * samples], y, 0) != 1) {
            raw.error = "raw row " + std::to_string(y) + " does not read";
            break;
        }
    TIFFClose(tif);
    return raw;
}

Decoded DevelopRaw(const fs::path& file) {
    TempFile developed(".tif");
    std::string log;
    if (RunCommand("dcraw -c -w -W -o 1 -q 0 -g 2.4 12.92 -T " + ShellQuote(file.string()) + " > " + developed.quoted(),
                   &log) != 0)
        return Failed("dcraw: " + log);
    return DecodeWithPil(developed.path(), "RGB");
}

TiffFields ReadTiffFields(const fs::path& file) {
    TiffFields f;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    if (!tif) {
        f.error = "libtiff cannot open the file";
        return f;
    }
    std::uint16_t compression = 0, photometric = 0, bits = 0, samples = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFClose(tif);
    f.compression = compression;
    f.photometric = photometric;
    f.bitsPerSample = bits;
    f.samplesPerPixel = samples;
    return f;
}

int RunPythonProbe(const std::string& script, const fs::path& file, std::string* output) {
    TempFile probe(".py");
    std::ofstream(probe.path()) << "import sys\n" << script;
    return RunCommand("/usr/bin/python3 " + probe.quoted() + " " + ShellQuote(file.string()), output);
}

std::pair<double, double> FlashPixResolution(const fs::path& file) {
    // The image contents property set (olefile leaves its single-precision values undecoded):
    // 0x01000002/3 the full width and height in pixels, 0x01000004/5 the display height and
    // width, 0x01000006 their unit (0: inches).
    static const char* kScript =
        "import olefile, struct\n"
        "d = olefile.OleFileIO(sys.argv[1]).openstream(['Data Object Store 000001', '\\x05Image Contents']).read()\n"
        "at = struct.unpack_from('<I', d, 44)[0]\n"
        "p = {}\n"
        "for i in range(struct.unpack_from('<I', d, at + 4)[0]):\n"
        "    pid, offset = struct.unpack_from('<II', d, at + 8 + 8 * i)\n"
        "    kind = struct.unpack_from('<I', d, at + offset)[0]\n"
        "    if kind in (3, 4, 19):\n"
        "        p[pid] = struct.unpack_from('<f' if kind == 4 else '<I', d, at + offset + 4)[0]\n"
        "if p.get(0x01000006, 0) == 0:\n"
        "    print(p[0x01000002] / p[0x01000005], p[0x01000003] / p[0x01000004])\n";
    std::string out;
    if (RunPythonProbe(kScript, file, &out) != 0) return {0, 0};
    std::pair<double, double> dpi{0, 0};
    std::istringstream(out) >> dpi.first >> dpi.second;
    return dpi;
}

std::pair<double, double> PictResolution(const fs::path& file) {
    // After the 512-byte file header: picture size (2), frame (8), version opcode 0x0011 and
    // 0x02FF, then the extended version 2 header opcode 0x0C00 with -2, a reserved word and
    // hRes, vRes as 16.16 numbers.
    const std::vector<std::uint8_t> b = ReadBytes(file);
    if (b.size() < 540) return {0, 0};
    auto be = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | b[at + i];
        return v;
    };
    if (be(522, 2) != 0x0011 || be(524, 2) != 0x02FF || be(526, 2) != 0x0C00 || be(528, 2) != 0xFFFE) return {0, 0};
    return {be(532, 4) / 65536.0, be(536, 4) / 65536.0};
}

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace testimage
