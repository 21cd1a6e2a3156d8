#include <gtest/gtest.h>

#include "engine/ImageConversion.h"
#include "engine/ImageConverter.h"
#include "support/TestPdf.h"

using testpdf::Encryption;
namespace fs = std::filesystem;

TEST(ConversionEntry, Builds) { EXPECT_EQ(ConvertPDFToImages(nullptr), 0); }

