// The table of texts: every key the program looks up has an English text, format texts take
// their arguments in one pass, and a key the table lacks yields the key.

#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "platform/LocalizedStrings.h"

class TextsTest : public QObject {
    Q_OBJECT
private slots:
    void everyKeyHasAText_data();
    void everyKeyHasAText();
    void formatTextsHaveTheirArguments_data();
    void formatTextsHaveTheirArguments();
    void missingKeyYieldsTheKey();
    void argumentsStayIntact_data();
    void argumentsStayIntact();
};

void TextsTest::everyKeyHasAText_data() {
    QTest::addColumn<QString>("key");
    const char* const keys[] = {
        // Start-up, main window and quitting
        "ProAppTitle", "ProAboutMenuTitle", "ProHideMenuTitle", "ProQuitMenuTitle", "ProHelpMenuTitle",
        "QuitOnCloseTitle", "QuitOnCloseMessage", "QuitButtonString", "NoButtonTitle",
        // Conversion run
        "Conversion Completed", "SuccessfullConvertMsg", "SuccessfullFailureConvertMsgForImage",
        "FailureConvertMsgTitleForImage", "FailureConvertMsgForImage", "OkButtonString", "OpenDestinationTitle",
        "QuitDuringConversionTitle", "QuitDuringConversionMessage",
        // Progress sheet
        "Exporting", "ProcessingPage",
        // Adding files, passwords
        "OpenDialogTitle", "OpenDialogButton", "PasswordAlertMsg", "PasswordDialogTitle", "PasswordApplyToAllTitle",
        "PasswordSkipButtonTitle", "AddRecursiveCheckBoxTitle", "MaintainDirTreeTitle",
        // Settings controls
        "WrongPageRangeWarningTitle", "WrongPageRangeWarningMsg", "InvalidValueTitle", "InvalidValueMsg",
        "HighValueTitle", "HighValueMsg", "YesButtonTitle", "CancelTitle", "ConvertTitle", "ConvertAllTitle",
        "ExtractTitle", "ExtractAllTitle",
        // Preferences, watch folder
        "ConversionEffectOnWatchMsg", "DiscardButtonTitle", "OpenDestinationDialogTitle", "OpenFileDialogButton",
        "SourceWatchAndDestSameMsg", "SourceWatchAndMoveSameMsg", "MoveFoderNotSelectedMsg",
        "StartWatchingButtonTitle", "StopWatchingButtonTitle", "PreferencesWindowTitle", "GeneralOptionsToolbarLabel",
        "WatchFolderOptionsToolbarLabel", "PasswordLabel", "OverwriteCheckbox", "ApplyButtonTitle", "ResetButtonTitle",
        "DoneButtonTitle", "WatchSourceFolderLabel", "WatchDestinationFolderLabel", "WatchMoveFolderLabel",
        "SelectFolderButtonTitle", "OpenFolderButtonTitle", "DeleteSourcesOption", "MoveToDestinationOption",
        "MoveToFolderOption",
        // Extracted images
        "Page",
    };
    for (const char* key : keys) QTest::newRow(key) << QString::fromLatin1(key);
}

void TextsTest::everyKeyHasAText() {
    QFETCH(QString, key);
    const std::string k = key.toStdString();
    QVERIFY2(platform::HasLocalizedString(k), qPrintable(key));
    const QString text = platform::LocalizedString(k);
    QVERIFY(!text.trimmed().isEmpty());
    // A text is not left as its key (apart from the two keys that read well as they are).
    if (key != QLatin1String("Conversion Completed") && key != QLatin1String("Page")) QVERIFY(text != key);
}

void TextsTest::formatTextsHaveTheirArguments_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("arguments");
    QTest::newRow("Exporting") << "Exporting" << 3;
    QTest::newRow("ProcessingPage") << "ProcessingPage" << 1;
    QTest::newRow("PasswordAlertMsg") << "PasswordAlertMsg" << 1;
    QTest::newRow("HighValueTitle") << "HighValueTitle" << 1;
    QTest::newRow("InvalidValueTitle") << "InvalidValueTitle" << 1;
    QTest::newRow("AboutText") << "AboutText" << 1;
    QTest::newRow("plain text") << "QuitOnCloseTitle" << 0;
}

void TextsTest::formatTextsHaveTheirArguments() {
    QFETCH(QString, key);
    QFETCH(int, arguments);
    const QString text = platform::LocalizedString(key.toStdString());
    QSet<int> found;
    const QRegularExpression marker(QStringLiteral("%(\\d+)"));
    for (auto it = marker.globalMatch(text); it.hasNext();) found.insert(it.next().captured(1).toInt());
    QSet<int> expected;
    for (int i = 1; i <= arguments; ++i) expected.insert(i);
    QCOMPARE(found, expected);
    // A C-style marker would be shown as it is.
    QVERIFY(!text.contains(QLatin1String("%@")) && !text.contains(QLatin1String("%ld")) && !text.contains(QLatin1String("%d")));
}

void TextsTest::missingKeyYieldsTheKey() {
    QVERIFY(!platform::HasLocalizedString("NoSuchKeyAnywhere"));
    QCOMPARE(platform::LocalizedString("NoSuchKeyAnywhere"), QStringLiteral("NoSuchKeyAnywhere"));
    QCOMPARE(platform::LocalizedString(""), QString());
    // With arguments too: the key, untouched.
    QCOMPARE(platform::LocalizedFormat("Missing %1 key", 7, QStringLiteral("x")), QStringLiteral("Missing %1 key"));
}

void TextsTest::argumentsStayIntact_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("later marker") << "report%2.pdf";
    QTest::newRow("earlier marker") << "%1 copy.pdf";
    QTest::newRow("C formats") << "100%d %@ %ld.pdf";
    QTest::newRow("markup") << "<b>bold</b>.pdf";
}

void TextsTest::argumentsStayIntact() {
    QFETCH(QString, name);
    const QString progress = platform::LocalizedFormat("Exporting", qint64(2), qint64(5), name);
    QVERIFY2(progress.contains(name), qPrintable(progress));
    QVERIFY(progress.contains(QLatin1String("2")) && progress.contains(QLatin1String("5")));
    // The numbers land where their markers were, not inside the name.
    QCOMPARE(progress, platform::LocalizedString("Exporting")
                           .replace(QLatin1String("%1"), QLatin1String("2"))
                           .replace(QLatin1String("%2"), QLatin1String("5"))
                           .replace(QLatin1String("%3"), name));

    const QString password = platform::LocalizedFormat("PasswordAlertMsg", name);
    QVERIFY(password.contains(name));
    QCOMPARE(platform::LocalizedFormat("ProcessingPage", 12), platform::LocalizedString("ProcessingPage").replace(QLatin1String("%1"), QLatin1String("12")));
}

QTEST_GUILESS_MAIN(TextsTest)
#include "TextsTest.moc"
