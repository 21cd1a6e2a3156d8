// The preference files on disk, through the application's property-list store: the types of the
// keys as written, the file's mode, and files that are not a dictionary.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTest>

#include <sys/stat.h>

#include <memory>

#include "SettingsTestSupport.h"
#include "platform/PropertyList.h"
#include "platform/Resources.h"
#include "settings/ConversionSettingsController.h"
#include "settings/PlistPreferenceStore.h"
#include "settings/PreferenceSheet.h"

using namespace settings;
using settingstest::FakeServices;

namespace {

QString GeneralFilePath(const settingstest::TemporaryConfigHome& home) {
    return QDir(home.path()).filePath(QStringLiteral("vellipse/%1-Pref.plist").arg(QString::fromStdString(platform::BundleIdentifier())));
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

std::optional<platform::PlistDictionary> ParseFile(const QString& path) {
    const QByteArray bytes = ReadAll(path);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    std::optional<platform::PlistValue> root = platform::ParsePropertyList({data, static_cast<std::size_t>(bytes.size())});
    if (!root || !root->AsDictionary()) return std::nullopt;
    return *root->AsDictionary();
}

}  // namespace

class PlistPreferenceStoreTest : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<settingstest::TemporaryConfigHome> home;
    PlistPreferenceStore store;
    FakeServices fake;

private slots:
    void init() {
        home = std::make_unique<settingstest::TemporaryConfigHome>();
        fake = FakeServices();
    }
    void cleanup() { home.reset(); }

    void roundTripKeepsTheTypes() {
        PreferenceDictionary prefs = DefaultGeneralPreferences();
        prefs["Width"] = std::string("8.5");
        prefs["Bookmark"] = PreferenceData{0, 1, 2, 255};
        QVERIFY(!store.Read(kGeneralPreferenceFile));
        QVERIFY(store.Write(prefs, kGeneralPreferenceFile));
        const std::optional<PreferenceDictionary> read = store.Read(kGeneralPreferenceFile);
        QVERIFY(read);
        QVERIFY(*read == prefs);
        // The two files are apart.
        QVERIFY(!store.Read(kWatchFolderPreferenceFile));
    }

    void notADictionaryReadsAsNoFile_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << QByteArray("this is not a property list \x01\x02");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array root") << QByteArray(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><array><integer>4</integer>"
            "</array></plist>\n");
        QTest::newRow("truncated") << QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>ImageType</key>");
    }
    void notADictionaryReadsAsNoFile() {
        QFETCH(QByteArray, bytes);
        WriteAll(GeneralFilePath(*home), bytes);
        QVERIFY(!store.Read(kGeneralPreferenceFile));

        // The sheet then shows the built-in defaults, and the main window keeps its controls.
        QMainWindow window;
        PreferenceSheetDependencies deps;
        deps.services = fake.services();
        deps.store = &store;
        PreferenceSheet sheet(&window, deps);
        SelectTag(sheet.general().prefDestImageTypePopUpButtonOutlet, 7);
        sheet.Preferences();
        QCOMPARE(SelectedTag(sheet.general().prefDestImageTypePopUpButtonOutlet), 4);
        sheet.DoneButtonAction();
    }

    void applyWritesTheElevenKeysInAPrivateFile() {
        QMainWindow window;
        PreferenceSheetDependencies deps;
        deps.services = fake.services();
        deps.store = &store;
        PreferenceSheet sheet(&window, deps);
        sheet.Preferences();  // no file: the built-in defaults
        QCOMPARE(sheet.quality(), 0.8);
        sheet.general().prefWidthTextField->setText(QStringLiteral("640"));
        sheet.ApplyPreferences();

        const QString path = GeneralFilePath(*home);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        const std::optional<platform::PlistDictionary> written = ParseFile(path);
        QVERIFY(written);
        QCOMPARE(written->size(), std::size_t{11});
        const struct {
            const char* key;
            platform::PlistType type;
        } expected[] = {
            {"ImageType", platform::PlistType::Integer},
            {"ColorModel", platform::PlistType::Integer},
            {"JPEGQuality", platform::PlistType::Real},
            {"ImageResolutionOption", platform::PlistType::Integer},
            {"CreateSeparateFolder", platform::PlistType::Boolean},
            {"OverWriteExistingFile", platform::PlistType::Boolean},
            {"ProcessingType", platform::PlistType::Integer},
            {"Password", platform::PlistType::String},
            {"InputType", platform::PlistType::Integer},
            {"Width", platform::PlistType::String},
            {"Height", platform::PlistType::String},
        };
        for (const auto& [key, type] : expected) {
            const platform::PlistValue* value = written->Find(key);
            QVERIFY2(value, key);
            QVERIFY2(value->type() == type, key);
        }
        QCOMPARE(*written->Find("JPEGQuality")->AsReal(), 0.8);
        QCOMPARE(*written->Find("ImageResolutionOption")->AsInteger(), Q_INT64_C(200));
        QCOMPARE(*written->Find("Width")->AsString(), std::string("640"));
    }

    void resetThenDoneLeavesTheFileAsItWas() {
        PreferenceDictionary prefs = DefaultGeneralPreferences();
        prefs["ImageType"] = std::int64_t{7};
        prefs["Password"] = std::string("secret");
        QVERIFY(store.Write(prefs, kGeneralPreferenceFile));
        const QString path = GeneralFilePath(*home);
        const QByteArray before = ReadAll(path);
        QVERIFY(!before.isEmpty());

        QMainWindow window;
        PreferenceSheetDependencies deps;
        deps.services = fake.services();
        deps.store = &store;
        PreferenceSheet sheet(&window, deps);
        sheet.Preferences();
        QCOMPARE(SelectedTag(sheet.general().prefDestImageTypePopUpButtonOutlet), 7);
        sheet.ResetDefaultPreferences();
        sheet.DoneButtonAction();
        QCOMPARE(ReadAll(path), before);
    }

    void mainWindowFallbackForAStoredQualityOutOfRange() {
        QVERIFY(store.Write({{"JPEGQuality", 1.5}, {"ImageType", std::int64_t{3}}}, kGeneralPreferenceFile));
        MainSettingsWidgets widgets;
        const std::unique_ptr<QMainWindow> window = settingstest::MakeMainWindow(fake.services(), &widgets);
        ConversionSettingsController controller(widgets, fake.services(), &store);
        QVERIFY(controller.ReadConversionOptionPreferences());
        QCOMPARE(controller.quality(), 0.9);
        QCOMPARE(controller.widgets().imageCompressionQuaityLabelOutlet->text(), QStringLiteral("JPEG Quality (90%):"));
        QCOMPARE(SelectedTag(controller.widgets().destinationImageTypePopUpOutlet), 3);
    }
};

QTEST_MAIN(PlistPreferenceStoreTest)
#include "PlistPreferenceStoreTest.moc"
