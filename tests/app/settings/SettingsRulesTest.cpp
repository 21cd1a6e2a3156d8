// The pure rules: the per-type table, the colour selection, the quality label, the unit chain and
// the reading of numbers and stored preferences.

#include <QTest>

#include <cfloat>
#include <climits>
#include <cmath>

#include "settings/PreferenceStore.h"
#include "settings/SettingsRules.h"

using namespace settings;

namespace {

// The per-type table as the settings offer it: resolution box usable, quality usable, colour
// models offered (R RGB, C CMYK, G grey); codes outside 1..23 behave as the last row.
struct TypeRow {
    int code;
    bool resolution;
    bool quality;
    const char* colours;
};
constexpr TypeRow kTypeTable[] = {
    {0, false, false, "R"},    {1, true, false, "RCG"},   {2, false, false, "RG"},   {3, false, true, "RG"},
    {4, true, true, "RCG"},    {5, false, false, "R"},    {6, false, false, "R"},    {7, true, false, "RG"},
    {8, true, false, "RCG"},   {9, false, false, "R"},    {10, true, false, "RCG"},  {11, true, false, "R"},
    {12, false, false, "R"},   {13, true, false, "R"},    {14, false, false, "R"},   {15, false, false, "R"},
    {16, false, false, "R"},   {17, false, false, "R"},   {18, false, false, "R"},   {19, false, false, "R"},
    {20, false, false, "R"},   {21, false, false, "R"},   {22, false, false, "R"},   {23, true, false, "RCG"},
    {24, false, false, "R"},
};

QString Colours(const ColorModels& models) {
    QString text;
    if (models.rgb) text += QLatin1Char('R');
    if (models.cmyk) text += QLatin1Char('C');
    if (models.gray) text += QLatin1Char('G');
    return text;
}

}  // namespace

class SettingsRulesTest : public QObject {
    Q_OBJECT
private slots:
    void typeTable_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("resolution");
        QTest::addColumn<bool>("quality");
        QTest::addColumn<QString>("colours");
        for (const TypeRow& row : kTypeTable)
            QTest::addRow("type %d", row.code) << row.code << row.resolution << row.quality << QString::fromLatin1(row.colours);
        QTest::addRow("type -1") << -1 << false << false << QStringLiteral("R");
        QTest::addRow("type 40") << 40 << false << false << QStringLiteral("R");
    }
    void typeTable() {
        QFETCH(int, code);
        QFETCH(bool, resolution);
        QFETCH(bool, quality);
        QFETCH(QString, colours);
        QCOMPARE(ResolutionEnabledForType(code), resolution);
        QCOMPARE(QualityEnabledForType(code), quality);
        QCOMPARE(Colours(EnabledColorModelsForType(code)), colours);
        // The conversion takes the box's resolution for the same types, but TIFF in CMYK is
        // written at 72.
        QCOMPARE(ConversionUsesResolutionForType(code), resolution && code != 13);
        QCOMPARE(IsOutputTypeCode(code), code >= 1 && code <= 23);
    }

    void colourSelectionAfterTypeChange() {
        QCOMPARE(ColorModelAfterTypeChange(2, kColorCMYK), int(kColorRGB));   // GIF with CMYK
        QCOMPARE(ColorModelAfterTypeChange(7, kColorGray), int(kColorGray));  // PNG keeps grey
        QCOMPARE(ColorModelAfterTypeChange(11, kColorGray), int(kColorRGB));  // BMP with grey
        QCOMPARE(ColorModelAfterTypeChange(13, kColorCMYK), int(kColorRGB));  // TIFF in CMYK offers RGB only
        QCOMPARE(ColorModelAfterTypeChange(4, kColorCMYK), int(kColorCMYK));
        QCOMPARE(ColorModelAfterTypeChange(0, kColorGray), int(kColorRGB));
    }

    void qualityLabel_data() {
        QTest::addColumn<double>("quality");
        QTest::addColumn<int>("percent");
        QTest::newRow("0.8") << 0.8 << 80;
        QTest::newRow("0.555") << 0.555 << 55;
        QTest::newRow("0.29 falls below 29") << 0.29 << 28;
        QTest::newRow("0") << 0.0 << 0;
        QTest::newRow("1") << 1.0 << 100;
        QTest::newRow("0.999") << 0.999 << 99;
    }
    void qualityLabel() {
        QFETCH(double, quality);
        QFETCH(int, percent);
        QCOMPARE(QualityPercent(quality), percent);
        QCOMPARE(QualityLabelText(kMainQualityLabelFormat, quality), QStringLiteral("JPEG Quality (%1%):").arg(percent));
        QCOMPARE(QualityLabelText(kSheetQualityLabelFormat, quality), QStringLiteral("Image Quality (%1%):").arg(percent));
    }

    void lengthTexts() {
        QCOMPARE(*GetStringValueFromNumberForType(kSizePixels, 1699.6), QStringLiteral("1700"));
        QCOMPARE(*GetStringValueFromNumberForType(kSizePercent, 50), QStringLiteral("50.00"));
        QCOMPARE(*GetStringValueFromNumberForType(kSizeMillimetres, 215.9), QStringLiteral("215.90"));
        QVERIFY(!GetStringValueFromNumberForType(0, 1));
        QVERIFY(!GetStringValueFromNumberForType(7, 1));
    }

    // Each step reads the previous step's text back, as the fields do.
    void unitChain() {
        struct Step {
            int unit;
            const char* text;
        };
        const Step steps[] = {{kSizePixels, "1700"}, {kSizeCentimetres, "21.59"}, {kSizeMillimetres, "215.90"},
                              {kSizePoints, "612.00"}, {kSizeInches, "8.50"}};
        int unit = kSizeInches;
        QString width = QStringLiteral("8.5");
        for (const Step& step : steps) {
            const std::optional<SizeTexts> texts = ConvertSizeTexts(unit, step.unit, 200, FloatValue(width), 0);
            QVERIFY(texts);
            QVERIFY(texts->width);
            QVERIFY(!texts->height);  // a height of 0 is never rewritten
            QCOMPARE(*texts->width, QString::fromLatin1(step.text));
            width = *texts->width;
            unit = step.unit;
        }
        const auto letter = ConvertSizeTexts(kSizePoints, kSizePixels, 200, 612, 792);
        QVERIFY(letter && letter->width && letter->height);
        QCOMPARE(*letter->width, QStringLiteral("1700"));
        QCOMPARE(*letter->height, QStringLiteral("2200"));
    }

    void unitChangeWithoutResolution() {
        // No resolution: a size that needs one cannot be converted, rather than becoming "inf" or "nan".
        for (double resolution : {0.0, -5.0})
            for (int to : {kSizePixels, kSizeCentimetres, kSizeInches, kSizePoints})
                QVERIFY(!ConvertSizeTexts(kSizeInches, to, resolution, 8.5f, 11));
        QVERIFY(!ConvertSizeTexts(kSizePixels, kSizeInches, 0, 1700, 0));
        // Nothing to convert: the change is harmless.
        const auto empty = ConvertSizeTexts(kSizeInches, kSizePixels, 0, 0, 0);
        QVERIFY(empty && !empty->width && !empty->height);
        // Units without a length in pixels.
        QVERIFY(!ConvertSizeTexts(kSizePercent, kSizePixels, 200, 50, 50));
        QVERIFY(!ConvertSizeTexts(kSizePixels, 9, 200, 50, 50));
        // Huge values stay finite.
        const auto huge = ConvertSizeTexts(kSizeInches, kSizePixels, 4608, FLT_MAX, 0);
        QVERIFY(huge && huge->width);
        QVERIFY(!huge->width->contains(QLatin1String("inf")));
    }

    void numbersInTexts() {
        QCOMPARE(IntValue(u"12a"), 12);
        QCOMPARE(IntValue(u"abc"), 0);
        QCOMPARE(IntValue(u"  7"), 7);
        QCOMPARE(IntValue(u"-3"), -3);
        QCOMPARE(IntValue(u"+4"), 4);
        QCOMPARE(IntValue(u"300dpi"), 300);
        QCOMPARE(IntValue(u"12.9"), 12);
        QCOMPARE(IntValue(u"99999999999"), INT_MAX);
        QCOMPARE(IntValue(u"-99999999999"), INT_MIN);
        QCOMPARE(IntegerValue(u"99999999999"), Q_INT64_C(99999999999));
        QCOMPARE(IntegerValue(u"999999999999999999999999"), std::numeric_limits<std::int64_t>::max());
        QCOMPARE(IntegerValue(u""), Q_INT64_C(0));
        QCOMPARE(DoubleValue(u"8.5in"), 8.5);
        QCOMPARE(DoubleValue(u".5"), 0.5);
        QCOMPARE(DoubleValue(u"5."), 5.0);
        QCOMPARE(DoubleValue(u"1e3"), 1000.0);
        QCOMPARE(DoubleValue(u"1e"), 1.0);
        QCOMPARE(DoubleValue(u"-"), 0.0);
        QCOMPARE(DoubleValue(u"."), 0.0);
        QCOMPARE(DoubleValue(u"inf"), 0.0);
        QCOMPARE(DoubleValue(u"nan"), 0.0);
        QCOMPARE(DoubleValue(u"0x10"), 0.0);
        QCOMPARE(DoubleValue(u"1e999"), DBL_MAX);
        QCOMPARE(DoubleValue(u"-1e999"), -DBL_MAX);
        QCOMPARE(DoubleValue(u"1e-999"), 0.0);
        QCOMPARE(FloatValue(u"1e39"), FLT_MAX);
        QCOMPARE(FloatValue(u"21.59"), 21.59f);
    }

    void storedPreferences() {
        const PreferenceDictionary prefs = {
            {"int", std::int64_t{7}},       {"real", 4.7},           {"negative", -4.7},
            {"nan", std::nan("")},          {"huge", 1e30},          {"yes", true},
            {"zero", std::int64_t{0}},      {"text", std::string("12")}, {"data", PreferenceData{1, 2}},
        };
        QCOMPARE(*IntegerPreference(prefs, "int"), Q_INT64_C(7));
        QCOMPARE(*IntegerPreference(prefs, "real"), Q_INT64_C(4));
        QCOMPARE(*IntegerPreference(prefs, "negative"), Q_INT64_C(-4));
        QCOMPARE(*IntegerPreference(prefs, "yes"), Q_INT64_C(1));
        QVERIFY(!IntegerPreference(prefs, "nan"));
        QVERIFY(!IntegerPreference(prefs, "huge"));
        QVERIFY(!IntegerPreference(prefs, "text"));
        QVERIFY(!IntegerPreference(prefs, "missing"));
        QCOMPARE(*RealPreference(prefs, "int"), 7.0);
        QVERIFY(!RealPreference(prefs, "data"));
        QCOMPARE(*BoolPreference(prefs, "zero"), false);
        QCOMPARE(*BoolPreference(prefs, "real"), true);
        QVERIFY(!BoolPreference(prefs, "text"));
        QCOMPARE(*StringPreference(prefs, "text"), std::string("12"));
        QVERIFY(!StringPreference(prefs, "int"));

        QCOMPARE(StoredImageType(0), 4);
        QCOMPARE(StoredImageType(1), 1);
        QCOMPARE(StoredImageType(23), 23);
        QCOMPARE(StoredImageType(24), 4);
        QCOMPARE(StoredImageType(-7), 4);
        QCOMPARE(StoredResolution(0), Q_INT64_C(72));
        QCOMPARE(StoredResolution(1), Q_INT64_C(1));
        QCOMPARE(StoredResolution(4608), Q_INT64_C(4608));
        QCOMPARE(StoredResolution(4609), Q_INT64_C(72));
        QCOMPARE(*StoredQuality(1.5), 1.0);
        QCOMPARE(*StoredQuality(-0.2), 0.0);
        QCOMPARE(*StoredQuality(0.555), 0.555);
        QVERIFY(!StoredQuality(std::nan("")));
    }

    void builtInDefaults() {
        const PreferenceDictionary defaults = DefaultGeneralPreferences();
        const PreferenceDictionary expected = {
            {"ImageType", std::int64_t{4}},
            {"ColorModel", std::int64_t{1}},
            {"JPEGQuality", 0.8},
            {"ImageResolutionOption", std::int64_t{200}},
            {"CreateSeparateFolder", true},
            {"OverWriteExistingFile", false},
            {"ProcessingType", std::int64_t{1}},
            {"Password", std::string()},
        };
        QVERIFY(defaults == expected);
    }
};

QTEST_APPLESS_MAIN(SettingsRulesTest)
#include "SettingsRulesTest.moc"
