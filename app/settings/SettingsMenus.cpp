#include "SettingsMenus.h"

#include <QComboBox>

#include "engine/ImageConversion.h"

namespace settings {

namespace {

struct TaggedTitle {
    const char* title;
    int tag;
};

// In the order the menu offers them.
constexpr TaggedTitle kOutputTypes[] = {
    {"JPEG", kOutputJPEG},
    {"JPEG 2000", kOutputJPEG2000},
    {"PNG", kOutputPNG},
    {"TIFF", kOutputTIFF},
    {"TIFF (CMYK)", kOutputTIFFCMYK},
    {"Multi-Page TIFF", kOutputMultiPageTIFF},
    {"GIF", kOutputGIF},
    {"BMP", kOutputBMP},
    {"PDF", kOutputPDF},
    {"Photoshop (PSD)", kOutputPhotoshop},
    {"OpenEXR", kOutputOpenEXR},
    {"TGA", kOutputTGA},
    {"SGI", kOutputSGI},
    {"ICNS", kOutputICNS},
    {"ICO", kOutputICO},
    {"PICT", kOutputPICT},
    {"Illustrator", kOutputIllustrator},
    {"MacPaint", kOutputMacPaint},
    {"QuickTime Image", kOutputQuickTimeImage},
    {"X Bitmap", kOutputXBitmap},
    {"FlashPix", kOutputFlashPix},
    {"Fax", kOutputFax},
    {"Camera Raw", kOutputCameraRaw},
};

struct TaggedKey {
    const char* key;
    int tag;
};

void AddItems(QComboBox* box, const Services& services, std::initializer_list<TaggedKey> items) {
    for (const TaggedKey& item : items) box->addItem(services.Text(item.key), item.tag);
}

}  // namespace

void AddOutputTypeItems(QComboBox* box) {
    for (const TaggedTitle& type : kOutputTypes) box->addItem(QString::fromLatin1(type.title), type.tag);
    box->setMaxVisibleItems(static_cast<int>(std::size(kOutputTypes)));
}

void AddColorModelItems(QComboBox* box, const Services& services) {
    AddItems(box, services, {{"RGBColorModel", kColorRGB}, {"CMYKColorModel", kColorCMYK}, {"GrayColorModel", kColorGray}});
}

void AddSizeUnitItems(QComboBox* box, const Services& services) {
    AddItems(box, services,
             {{"PixelsUnit", kSizePixels},
              {"InchesUnit", kSizeInches},
              {"CentimetersUnit", kSizeCentimetres},
              {"MillimetersUnit", kSizeMillimetres},
              {"PointsUnit", kSizePoints}});
}

void AddModeItems(QComboBox* box, const Services& services) {
    AddItems(box, services, {{"ConvertPagesItem", 1}, {"ExtractImagesItem", 2}});
}

void AddPageRangeItems(QComboBox* box, const Services& services) {
    AddItems(box, services,
             {{"AllPagesItem", kPageRangeAll}, {"SinglePageItem", kPageRangeSingle}, {"PageRangeItem", kPageRangeFromTo}});
}

void AddResolutionItems(QComboBox* box) {
    for (const char* resolution : {"72", "96", "150", "200", "300", "600", "1200"})
        box->addItem(QString::fromLatin1(resolution));
}

}  // namespace settings
