#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/ImageConversion.h"
#include "engine/OutputTypes.h"
#include "platform/imageio/ImageDestination.h"
#include "platform/Resources.h"
#include "support/TestPdf.h"

TEST(OutputTypes, TypeIdentifiers) {
    const std::pair<int, std::string> cases[] = {
        {1, "com.adobe.photoshop-image"}, {4, "public.jpeg"},  {7, "public.png"},
        {10, "public.tiff"},              {13, "public.tiff"}, {23, "public.tiff"},
        {22, "public.camera-raw-image"},  {0, "public.jpeg"},  {-1, "public.jpeg"},
        {24, "public.jpeg"},              {1000, "public.jpeg"},
    };
    for (const auto& [code, uti] : cases) EXPECT_EQ(TypeIdentifierForOutputType(code), uti) << code;
}

// The type table and the writer's encoder registry name the same identifiers: every row's
// identifier has an encoder, and every encoder is reached through a row.
TEST(OutputTypes, TableAndEncoderRegistryAgree) {
    std::set<std::string> named;
    for (const OutputTypeFacts& row : OutputTypeTable()) {
        if (!row.typeIdentifier) continue;
        EXPECT_NE(platform::FindImageEncoder(row.typeIdentifier), nullptr) << row.code << " " << row.typeIdentifier;
        named.insert(row.typeIdentifier);
    }
    for (std::string_view identifier : platform::EncoderTypeIdentifiers())
        EXPECT_EQ(named.count(std::string(identifier)), 1u) << identifier << " has an encoder but no type";
}

// The menus list each titled type once, in places 1, 2, ... without a gap.
TEST(OutputTypes, MenuPlacesAreDistinct) {
    std::set<int> places;
    for (const OutputTypeFacts& row : OutputTypeTable()) {
        EXPECT_EQ(row.menuTitle != nullptr, row.menuPosition > 0) << row.code;
        if (row.menuPosition > 0) {
            EXPECT_TRUE(places.insert(row.menuPosition).second) << row.code;
        }
    }
    ASSERT_FALSE(places.empty());
    EXPECT_EQ(*places.begin(), 1);
    EXPECT_EQ(*places.rbegin(), static_cast<int>(places.size()));
}

TEST(OutputTypes, ExtensionsFromTheResource) {
    const std::pair<int, std::string> cases[] = {
        {1, "psd"}, {2, "gif"}, {4, "jpg"}, {7, "png"}, {8, "pdf"}, {10, "tif"}, {13, "tif"},
        {15, "ai"}, {23, "tif"},
        // Codes outside the table are written as JPEG and named so.
        {0, "jpg"}, {-3, "jpg"}, {24, "jpg"}, {99, "jpg"},
    };
    for (const auto& [code, ext] : cases) EXPECT_EQ(ImageFileExtensionForType(code), ext) << code;
}

TEST(OutputTypes, NoExtensionWithoutTheResource) {
    testpdf::TempDir empty;
    platform::SetResourceDirectory(empty.path());
    EXPECT_EQ(ImageFileExtensionForType(7), "");
    EXPECT_EQ(ImageFileExtensionForType(99), "");
    platform::SetResourceDirectory({});
    EXPECT_EQ(ImageFileExtensionForType(7), "png");
}

TEST(OutputTypes, LengthToPoints) {
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizeMillimetres, 25.4), 72.0);
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizeCentimetres, 2.54), 72.0);
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizeInches, 1), 72.0);
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizeMillimetres, 215.9), 612.0);
    // Every other unit is taken as inches.
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizePercent, 2), 144.0);
    EXPECT_DOUBLE_EQ(LengthToPoints(kSizePixels, 2), 144.0);
    EXPECT_DOUBLE_EQ(LengthToPoints(42, 0.5), 36.0);
}
