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

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "engine/ImageConversion.h"
#include "engine/PagePlan.h"
#include "support/ImageReader.h"
#include "support/MagickReader.h"
#include "support/TestPdf.h"

// Helpers shared by the engine's conversion tests.
namespace conversiontest {

namespace fs = std::filesystem;

// While it lives, pages above one band are drawn and written in bands, as much larger pages
// are: the banded path at sizes a test can afford.
struct BandedPages {
    BandedPages() { SetWholePictureLimit(kBandBytes); }
    ~BandedPages() { SetWholePictureLimit(0); }
    BandedPages(const BandedPages&) = delete;
    BandedPages& operator=(const BandedPages&) = delete;
};

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

// Whether our picture `ours` of page `page` of `pdf` at `dpi` has the pixels `mutool draw`
// draws, which uses the same rasteriser. mutool rounds the page's far edges outwards, we to the
// nearest pixel: its picture may have one more column or row, a partly covered one. Everything
// else must agree. With `bandRows`, mutool draws in bands of that height, as we draw large
// pages (a stroke's edges then come out a little differently from a drawing in one piece).
inline testing::AssertionResult SameAsMutoolDraw(const fs::path& ours, const fs::path& pdf, int page, long dpi,
                                                 int bandRows = 0, int frame = 0) {
    const fs::path theirs = ours.parent_path() / ("mutool-" + std::to_string(page) + ".png");
    const std::string bands = bandRows > 0 ? " -B " + std::to_string(bandRows) : "";
    const std::string command = "mutool draw -q -c rgb" + bands + " -r " + std::to_string(dpi) + " -o " +
                                testimage::ShellQuote(theirs.string()) + " " + testimage::ShellQuote(pdf.string()) + " " +
                                std::to_string(page) + " 2>/dev/null";
    // mutool's exit status also tells of errors it drew past: its picture is what counts.
    if (std::system(command.c_str()) == -1 || !fs::exists(theirs))
        return testing::AssertionFailure() << "mutool draw wrote nothing";
    const auto a = testimage::DecodeWithPil(ours, "RGB", frame);
    const auto b = testimage::DecodeWithPil(theirs, "RGB");
    fs::remove(theirs);
    if (!a.ok() || !b.ok()) return testing::AssertionFailure() << a.error << b.error;
    if (b.width < a.width || b.width - a.width > 1 || b.height < a.height || b.height - a.height > 1)
        return testing::AssertionFailure() << "ours " << a.width << " x " << a.height << ", mutool's " << b.width
                                           << " x " << b.height;
    long differingRows = 0;
    const std::size_t common = static_cast<std::size_t>(std::min(a.width, b.width)) * 3;
    for (int y = 0; y < std::min(a.height, b.height); ++y)
        if (std::memcmp(a.pixels.data() + static_cast<std::size_t>(y) * a.width * 3,
                        b.pixels.data() + static_cast<std::size_t>(y) * b.width * 3, common) != 0)
            ++differingRows;
    if (differingRows) return testing::AssertionFailure() << differingRows << " rows differ from mutool's";
    return testing::AssertionSuccess();
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
