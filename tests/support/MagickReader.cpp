#include "support/MagickReader.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace testimage {
namespace fs = std::filesystem;

std::string ShellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* p = popen(("( " + command + " ) 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) text += buf;
    const int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

MagickDecoded DecodeWithMagick(const fs::path& file, const std::string& coder, const std::string& map,
                               const fs::path& configDir) {
    MagickDecoded d;
    const std::string convert =
        configDir.empty() ? "convert " : "MAGICK_CONFIGURE_PATH=" + ShellQuote(configDir.string()) + " convert ";
    const std::string source = ShellQuote(coder + ":" + file.string());
    std::string info;
    if (RunCommand(convert + source + " -format '%w %h %[resolution.x] %[resolution.y]\\n' info:", &info) != 0) {
        d.error = info;
        return d;
    }
    std::istringstream(info) >> d.width >> d.height >> d.resX >> d.resY;
    std::random_device rd;
    const fs::path tmp = fs::temp_directory_path() / ("vellipse-magick-" + std::to_string(rd()) + ".raw");
    std::string log;
    if (RunCommand(convert + source + " -depth 8 " + ShellQuote(map + ":" + tmp.string()), &log) != 0) {
        d.error = log;
    } else {
        std::ifstream in(tmp, std::ios::binary);
        d.pixels.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code ec;
    fs::remove(tmp, ec);
    return d;
}

}  // namespace testimage
