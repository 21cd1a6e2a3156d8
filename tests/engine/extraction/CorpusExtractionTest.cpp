// Every image of the corpus PDFs, extracted as PNG, against pdfimages -png on the same files:
// the same images per page, pixel for pixel (ICC-based ones within 2 levels), their soft masks
// as their alpha.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>

#include "engine/extraction/ExtractionSupport.h"
#include "support/TestPdf.h"

namespace {

namespace fs = std::filesystem;

// ICC-based images are colour-managed by both, each through its own choices: within 2 levels.
int Tolerance(const std::filesystem::path& pdf) { return pdf.filename().string().rfind("imagemagick-", 0) == 0 ? 2 : 0; }

struct Image {
    testimage::Decoded colour;  // RGB
    testimage::Decoded alpha;   // L: our alpha channel, or the peer's soft mask
};

bool Same(const Image& ours, const Image& peer, int tolerance) {
    if (ours.colour.width != peer.colour.width || ours.colour.height != peer.colour.height) return false;
    const std::size_t pixels = static_cast<std::size_t>(ours.colour.width) * ours.colour.height;
    const bool masked = !peer.alpha.pixels.empty() && peer.alpha.width == ours.colour.width &&
                        peer.alpha.height == ours.colour.height;
    for (std::size_t i = 0; i < pixels; ++i) {
        const int a = ours.alpha.pixels.empty() ? 255 : ours.alpha.pixels[i];
        if (masked && a != peer.alpha.pixels[i]) return false;
        // Colour is stored premultiplied: it is exact where the pixel is opaque.
        if (a != 255) continue;
        for (int k = 0; k < 3; ++k)
            if (std::abs(ours.colour.pixels[3 * i + k] - peer.colour.pixels[3 * i + k]) > tolerance) return false;
    }
    return true;
}

TEST(CorpusExtraction, ImagesEqualThoseOfPdfimages) {
    testpdf::TempDir dir;
    int compared = 0;
    for (const fs::path& pdf : testpdf::CorpusPdfs()) {
        SCOPED_TRACE(pdf.filename().string());
        const fs::path folder = dir / pdf.stem();
        fs::create_directories(folder / "ours");
        const testextract::Run run = testextract::Extract(pdf, folder / "ours");
        EXPECT_EQ(run.result, 1);

        std::map<int, std::vector<Image>> peers;
        const std::vector<testextract::PeerImage> list = testextract::PdfImages(pdf, folder / "peer");
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (list[i].type == "smask") continue;
            Image image{testextract::Read(list[i].file, "RGB"), {}};
            if (i + 1 < list.size() && list[i + 1].type == "smask") image.alpha = testextract::Read(list[i + 1].file, "L");
            peers[list[i].page].push_back(std::move(image));
        }
        std::map<int, std::vector<Image>> ours;
        const std::string prefix = pdf.stem().string() + "_Page";
        for (const std::string& name : run.files) {
            ASSERT_EQ(name.rfind(prefix, 0), 0u) << name;
            const int page = std::stoi(name.substr(prefix.size()));
            const testimage::Decoded rgba = testextract::Read(folder / "ours" / name, "RGBA");
            Image image{rgba, rgba};
            image.colour.pixels.clear();
            image.alpha.pixels.clear();
            for (std::size_t p = 0; p < rgba.pixels.size(); p += 4) {
                image.colour.pixels.insert(image.colour.pixels.end(), rgba.pixels.begin() + p, rgba.pixels.begin() + p + 3);
                image.alpha.pixels.push_back(rgba.pixels[p + 3]);
            }
            ours[page].push_back(std::move(image));
        }

        std::set<int> pages;
        for (const auto& [page, images] : peers) pages.insert(page);
        for (const auto& [page, images] : ours) pages.insert(page);
        for (int page : pages) {
            std::vector<Image>& mine = ours[page];
            const std::vector<Image>& theirs = peers[page];
            EXPECT_EQ(mine.size(), theirs.size()) << "page " << page;
            std::vector<bool> used(mine.size(), false);
            for (const Image& peer : theirs) {
                bool found = false;
                for (std::size_t k = 0; k < mine.size() && !found; ++k)
                    if (!used[k] && Same(mine[k], peer, Tolerance(pdf))) used[k] = found = true;
                EXPECT_TRUE(found) << "page " << page << ": an image of pdfimages that we do not write alike";
                compared += found ? 1 : 0;
            }
        }
    }
    EXPECT_GT(compared, 0);
}

}  // namespace
