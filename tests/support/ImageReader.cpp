#include "support/ImageReader.h"
#include "support/MagickReader.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace testimage {
namespace fs = std::filesystem;

namespace {
const char* kScript = R"PY(
import sys
from PIL import Image
path, as_mode, frame, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
try:
    im = Image.open(path)
    fmt = im.format or ""
    frames = getattr(im, "n_frames", 1)
    if frame:
        im.seek(frame)
    im.load()
    mode = im.mode
    dpi = im.info.get("dpi", (0, 0))
    px = im if not as_mode or as_mode == im.mode else im.convert(as_mode)
    with open(out, "wb") as f:
        f.write(px.tobytes())
    print("OK", fmt, mode, im.size[0], im.size[1], frames, float(dpi[0]), float(dpi[1]), px.mode)
except Exception as e:
    print("ERR", type(e).__name__, str(e).replace("\n", " "))
)PY";

}  // namespace

Decoded DecodeWithPil(const fs::path& file, const std::string& asMode, int frame) {
    Decoded d;
    std::random_device rd;
    const fs::path tmp = fs::temp_directory_path() / ("vellipse-pil-" + std::to_string(rd()));
    const fs::path script = tmp.string() + ".py";
    {
        std::ofstream s(script);
        s << kScript;
    }
    const std::string cmd = "/usr/bin/python3 " + ShellQuote(script.string()) + " " + ShellQuote(file.string()) + " " +
                            ShellQuote(asMode) + " " + std::to_string(frame) + " " + ShellQuote(tmp.string()) + " 2>&1";
    std::string output;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) output += buf;
        pclose(p);
    }
    std::istringstream line(output);
    std::string status;
    line >> status;
    if (status != "OK") {
        d.error = output.empty() ? "no output from the reader" : output;
    } else {
        line >> d.format >> d.mode >> d.width >> d.height >> d.frames >> d.dpiX >> d.dpiY >> d.pixelMode;
        // Read in one go: page-sized dumps byte by byte are slow in sanitizer builds.
        std::error_code sizeError;
        const auto size = fs::file_size(tmp, sizeError);
        std::ifstream in(tmp, std::ios::binary);
        if (!sizeError) {
            d.pixels.resize(static_cast<std::size_t>(size));
            in.read(reinterpret_cast<char*>(d.pixels.data()), static_cast<std::streamsize>(size));
        }
    }
    std::error_code ec;
    fs::remove(tmp, ec);
    fs::remove(script, ec);
    return d;
}

}  // namespace testimage
