#include <gtest/gtest.h>

#include "platform/PdfDocument.h"
#include "support/RestrictedPdf.h"
#include "support/TestPdf.h"

using testpdf::Encryption;

namespace {

// Whether the first page draws with ink (the default drawing is a red square and a blue bar):
// a spoiled key makes pages come out blank.
bool FirstPageHasInk(const platform::PdfDocument& doc) {
    platform::PdfDocument::RenderRequest request;
    request.scale = 0.25f;
    request.width = 153;
    request.height = 198;
    const platform::Bitmap b = doc.RenderPage(request);
    if (!b) return false;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width * b.components; ++x)
            if (b.row(y)[x] < 128) return true;
    return false;
}

}  // namespace

TEST(PdfPasswords, AcceptsOnlyTheUserOrOwnerPassword) {
    testpdf::TempDir dir;
    testpdf::Options options;
    options.encryption = Encryption::AES_256;
    options.userPassword = "user";
    options.ownerPassword = "owner";
    const auto path = testpdf::Write(dir / "locked.pdf", options);

    auto doc = platform::PdfDocument::Open(path);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->IsUnlocked());
    EXPECT_FALSE(doc->AllowsCopying());
    EXPECT_FALSE(doc->AcceptsPassword(""));
    EXPECT_FALSE(doc->AcceptsPassword("wrong"));
    EXPECT_FALSE(doc->IsUnlocked());
    EXPECT_TRUE(doc->AcceptsPassword("user"));
    EXPECT_TRUE(doc->IsUnlocked());
    // Once readable, a wrong password is still refused and leaves the pages readable.
    EXPECT_FALSE(doc->AcceptsPassword("wrong"));
    EXPECT_TRUE(doc->AcceptsPassword("owner"));
    EXPECT_FALSE(doc->AcceptsPassword("user2"));
    EXPECT_EQ(doc->PageCount(), 1);
    EXPECT_TRUE(FirstPageHasInk(*doc));
}

TEST(PdfPasswords, EmptyUserPasswordWithCopyingForbidden) {
    testpdf::TempDir dir;
    const auto path = testpdf::WriteCopyProtected(dir / "nocopy.pdf", "", "owner");

    auto doc = platform::PdfDocument::Open(path);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->IsEncrypted());
    EXPECT_TRUE(doc->IsUnlocked());
    EXPECT_FALSE(doc->AllowsCopying());
    // The sheet's test of a typed password: a wrong one is refused although the pages are
    // readable, the empty one and the owner password are accepted.
    EXPECT_FALSE(doc->AcceptsPassword("wrong"));
    EXPECT_TRUE(FirstPageHasInk(*doc));
    EXPECT_TRUE(doc->AcceptsPassword(""));
    EXPECT_FALSE(doc->AllowsCopying());
    EXPECT_TRUE(doc->AcceptsPassword("owner"));
    EXPECT_TRUE(doc->AllowsCopying());
    EXPECT_TRUE(FirstPageHasInk(*doc));
}

TEST(PdfPasswords, CopyingAllowedWhenNotEncryptedOrPermitted) {
    testpdf::TempDir dir;
    auto plain = platform::PdfDocument::Open(testpdf::Write(dir / "plain.pdf", {}));
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->AllowsCopying());
    EXPECT_TRUE(plain->AcceptsPassword("anything"));

    testpdf::Options options;
    options.encryption = Encryption::RC4_128;
    options.ownerPassword = "owner";
    auto open = platform::PdfDocument::Open(testpdf::Write(dir / "empty-user.pdf", options));
    ASSERT_TRUE(open);
    EXPECT_TRUE(open->IsUnlocked());
    EXPECT_TRUE(open->AllowsCopying());
    EXPECT_FALSE(open->AcceptsPassword("nope"));
    EXPECT_TRUE(FirstPageHasInk(*open));
}
