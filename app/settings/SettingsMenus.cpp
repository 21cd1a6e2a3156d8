#include "SettingsMenus.h"

#include <QComboBox>

#include <algorithm>
#include <vector>

#include "engine/ImageConversion.h"
#include "engine/OutputTypes.h"

namespace settings {

namespace {

struct TaggedKey {
    const char* key;
    int tag;
};

void AddItems(QComboBox* box, const Services& services, std::initializer_list<TaggedKey> items) {
    for (const TaggedKey& item : items) box->addItem(services.Text(item.key), item.tag);
}

}  // namespace

void AddOutputTypeItems(QComboBox* box) {
    std::vector<const OutputTypeFacts*> offered;
    for (const OutputTypeFacts& type : OutputTypeTable())
        if (type.menuTitle) offered.push_back(&type);
    std::sort(offered.begin(), offered.end(),
              [](const OutputTypeFacts* a, const OutputTypeFacts* b) { return a->menuPosition < b->menuPosition; });
    for (const OutputTypeFacts* type : offered) box->addItem(QString::fromLatin1(type->menuTitle), type->code);
    box->setMaxVisibleItems(static_cast<int>(offered.size()));
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
