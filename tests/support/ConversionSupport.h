#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/ImageConversion.h"
#include "support/TestPdf.h"

// Helpers shared by the engine's conversion tests.
namespace conversiontest {

namespace fs = std::filesystem;

// A page of the given size in points.
inline testpdf::Page PageOf(double width, double height, int rotate = 0) {
    testpdf::Page p;
    p.width = width;
    p.height = height;
    p.rotate = rotate;
    return p;
}

// A record for converting `pdf` into `folder` as `type` at `dpi`, all pages.
inline ImageConversion Record(const fs::path& pdf, const fs::path& folder, int type = kOutputPNG, long dpi = 72) {
    ImageConversion r{};
    r.sourceURL = pdf;
    r.outputFolderURL = folder;
    r.conversionOptions.imageType = type;
    r.conversionOptions.outputResolution = dpi;
    r.conversionOptions.colorModel = kColorRGB;
    r.conversionOptions.password = "";
    return r;
}

// The names in a folder, sorted (hidden and temporary files included).
inline std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

// Width and height from a PNG's header; {0, 0} when the file is no PNG.
inline std::pair<int, int> PngSize(const fs::path& file) {
    const std::string b = ReadAll(file);
    if (b.size() < 24 || b.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be = [&](std::size_t at) {
        return (static_cast<unsigned char>(b[at]) << 24) | (static_cast<unsigned char>(b[at + 1]) << 16) |
               (static_cast<unsigned char>(b[at + 2]) << 8) | static_cast<unsigned char>(b[at + 3]);
    };
    return {static_cast<int>(be(16)), static_cast<int>(be(20))};
}

// A progress target that records the pages reported and cancels when its rule says so. The
// answer comes from an atomic, as the engine requires of every target.
class Target : public ProgressTarget {
public:
    std::atomic<bool> cancelled{false};
    // Called for every question, after `cancelled` is read; may set it.
    std::function<void(Target&)> onQuestion;
    // Called for every report, on the main queue.
    std::function<void(Target&, long)> onReport;

    bool isConversionCancelled() override {
        if (onQuestion) onQuestion(*this);
        return cancelled.load();
    }
    void UpdatePageProgressStatus(long page) override {
        {
            std::lock_guard lock(mutex_);
            reports_.push_back(page);
        }
        if (onReport) onReport(*this, page);
    }
    std::vector<long> Reports() {
        std::lock_guard lock(mutex_);
        return reports_;
    }

private:
    std::mutex mutex_;
    std::vector<long> reports_;
};

}  // namespace conversiontest
