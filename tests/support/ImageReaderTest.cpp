#include <gtest/gtest.h>

#include <fstream>

#include "support/ImageReader.h"
#include "support/TestPdf.h"

// The independent reader the writer tests rely on must itself read what it is given.
TEST(ImageReader, DecodesAGreyFile) {
    testpdf::TempDir dir;
    std::ofstream(dir / "a.pgm", std::ios::binary) << "P5 2 1 255\n" << char(10) << char(200);
    const auto d = testimage::DecodeWithPil(dir / "a.pgm");
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_EQ(d.width, 2);
    EXPECT_EQ(d.height, 1);
    EXPECT_EQ(d.mode, "L");
    ASSERT_EQ(d.pixels.size(), 2u);
    EXPECT_EQ(d.pixels[1], 200);
    EXPECT_FALSE(testimage::DecodeWithPil(dir / "missing.png").ok());
}
