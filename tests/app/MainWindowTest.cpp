// The main window: its controls and their names, the start-up steps, the enabled states of the
// list commands, closing and quitting, the help commands, and a picture of the window.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "AlertDriver.h"
#include "AppDelegate.h"
#include "UrlCatcher.h"
#include "EnabledState.h"
#include "InterfaceGeometry.h"
#include "MainWindow.h"
#include "NumberFields.h"
#include "PopUpItems.h"
#include "ProgressHUDView.h"
#include "Stepper.h"

#include <atomic>
#include <thread>
#include "settings/PreferenceSheet.h"
#include "run/ProgressSheet.h"
#include "platform/LocalizedStrings.h"
#include "platform/MainQueue.h"
#include "platform/PdfDocument.h"
#include "platform/Resources.h"

Q_DECLARE_METATYPE(EnabledState)

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyOutletIsNamed();
    void startUpTitlesAndStates();
    void startUpLayout();
    void textsFitTheirControls();
    void toolbarHasImages();

    void enabledStateTable_data();
    void enabledStateTable();
    void enabledStatesFollowTheList();
    void busySwitch();

    void quitWithoutWatchingAsksNothing();
    void quitWhileWatching_data();
    void quitWhileWatching();
    void closeWhileWatching();
    void closeWindowQuits();

    void helpCommands();
    void aboutBoxAndHide();
    void engineReportsReachTheMainThread();
    void userManualIsAPdf();
    void windowSeesCorrectedText();
    void renderWindow();

private:
    template <typename T = QObject>
    T* Outlet(const char* name) {
        return delegate_->window()->findChild<T*>(QString::fromLatin1(name));
    }
    QStandardItemModel* UseList(int rows);
    void Select(std::initializer_list<int> rows);
    QAction* Item(const char* name) { return Outlet<QAction>(name); }

    std::unique_ptr<AppDelegate> delegate_;
    std::unique_ptr<QStandardItemModel> list_;
    QTemporaryDir configHome_;
};

void MainWindowTest::initTestCase() {
    // The window reads its preference file: the tests' own, empty configuration folder.
    QVERIFY(configHome_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
}

void MainWindowTest::init() {
    delegate_ = std::make_unique<AppDelegate>();
    delegate_->awakeFromNib();
    delegate_->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(delegate_->window()));
}

void MainWindowTest::cleanup() {
    delegate_.reset();
    list_.reset();
}

QStandardItemModel* MainWindowTest::UseList(int rows) {
    list_ = std::make_unique<QStandardItemModel>(0, 5);
    for (int i = 0; i < rows; ++i) list_->appendRow(new QStandardItem(QStringLiteral("/tmp/file %1.pdf").arg(i)));
    delegate_->SetFileListModel(list_.get());
    return list_.get();
}

void MainWindowTest::Select(std::initializer_list<int> rows) {
    auto* table = Outlet<QTableView>("imageListTable");
    table->clearSelection();
    for (int row : rows)
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void MainWindowTest::everyOutletIsNamed() {
    const char* const outlets[] = {
        // Main window and toolbar
        "window", "windowView", "mainToolbar", "exportButton", "exportAllButton", "exportToolbarButtonItem",
        "exportAllToolbarButtonItem", "addToolbarItem", "removeToolbarItem", "removeAllToolbarItem", "exportToolbarItem",
        "exportAllToolbarItem", "ratingToolbarItem", "helpToolbarItem", "helpToolbarItemMain", "ratingToolbarItemMain",
        "conversionListScrollViewOutlet",
        // Menu items
        "addImageMenuItem", "exportMenuItem", "exportAllMenuItem", "selectAllMenuItem", "removeMenuItem",
        "removeAllMenuItem", "addImageContextMenuItem", "exportContextMenuItem", "exportAllContextMenuItem",
        "selectAllContextMenuItem", "removeContextMenuItem", "removeAllContextMenuItem", "revealInFinderContextMenuItem",
        "aboutMenuItemOutlet", "hideMenuItemOutlet", "quitMenuItemOutlet", "helpMenuItemOutlet",
        "preferencesMenuItemOutlet", "generalSettingMenuItemOutlet", "watchFolderOptionMenuItemOutlet",
        // Progress sheet
        "exportProgressSheet", "conversionProgressIndicator", "pageProcessingProgressIndicator",
        "conversionFileNumberStaticText", "conversionPageNumberStaticText",
        // File list
        "imageListTable", "addSpinView",
        // Settings controls
        "destinationImageTypePopUpOutlet", "destinationImageTypeEditFieldOutlet", "colorModelPopUpOutlet",
        "colorModelEditFieldOutlet", "imageCompressionQuaitySliderOutlet", "imageCompressionQuaityLabelOutlet",
        "imageCompressionLeastQuaityEditFieldOutlet", "imageCompressionMediumQuaityEditFieldOutlet",
        "imageCompressionLosseessQuaityEditFieldOutlet", "imageResolutionPopUpOutlet", "resolutionStaticText",
        "resolutionDpiStaticText", "widthTextField", "heightTextField", "widthLabel", "heightLabel",
        "sizeFormatTypePopupButton", "lockLinesBox1", "lockLinesBox2", "lockLinesBox3", "lockUnlockImageView",
        "pageRangeTypePopUpButtonOutlet", "pageRangeStartTextFieldOutlet", "pageRangeEndTextFieldOutlet",
        "pageRangeStartStepperOutlet", "pageRangeEndStepperOutlet", "pageFromStaticTextOutlet", "pageToStaticTextOutlet",
        "convertOrExtractOptionPopupOutlet", "createSeparateFolderForEachFileButtonOutlet", "pageRangeViewOutlet",
        "conversionSettingsViewOutlet", "conversionSettingsTabViewOutlet", "imageDimentionsViewOutlet",
        "textFormatTypeOutlet",
    };
    for (const char* name : outlets) {
        QObject* outlet = QString::fromLatin1(name) == QLatin1String("window") ? delegate_->window() : Outlet(name);
        QVERIFY2(outlet, name);
        QCOMPARE(outlet->objectName(), QString::fromLatin1(name));
    }
    // The number fields are of their classes.
    QVERIFY(Outlet<NumberField>("widthTextField") && Outlet<NumberField>("heightTextField"));
    QVERIFY(Outlet<PageCountNumberField>("pageRangeStartTextFieldOutlet"));
    QVERIFY(Outlet<PageCountNumberField>("pageRangeEndTextFieldOutlet"));
    QVERIFY(Outlet<ResolutionComboBox>("imageResolutionPopUpOutlet"));
    QVERIFY(Outlet<ProgressHUDView>("addSpinView"));
    // The output types carry their codes 1 to 23.
    auto* types = Outlet<QComboBox>("destinationImageTypePopUpOutlet");
    QCOMPARE(types->count(), 23);
    for (int tag = 1; tag <= 23; ++tag) QVERIFY(popup::IndexOfTag(types, tag) >= 0);
    QCOMPARE(popup::SelectedTag(types), 4);
}

void MainWindowTest::startUpTitlesAndStates() {
    QCOMPARE(delegate_->window()->windowTitle(), platform::LocalizedString("ProAppTitle"));
    QCOMPARE(Item("aboutMenuItemOutlet")->text(), platform::LocalizedString("ProAboutMenuTitle"));
    QCOMPARE(Item("hideMenuItemOutlet")->text(), platform::LocalizedString("ProHideMenuTitle"));
    QCOMPARE(Item("quitMenuItemOutlet")->text(), platform::LocalizedString("ProQuitMenuTitle"));
    QCOMPARE(Item("helpMenuItemOutlet")->text(), platform::LocalizedString("ProHelpMenuTitle"));
    QVERIFY(!Outlet<QWidget>("textFormatTypeOutlet")->isVisible());
    QVERIFY(Outlet<QWidget>("pageFromStaticTextOutlet")->isVisible());
    QCOMPARE(Outlet<QLabel>("pageFromStaticTextOutlet")->text(), QStringLiteral("From:"));
    QCOMPARE(Outlet<QLabel>("pageToStaticTextOutlet")->text(), QStringLiteral("To:"));
    QCOMPARE(Outlet<QLabel>("destinationImageTypeEditFieldOutlet")->text(), QStringLiteral("Format Type:"));
    QCOMPARE(popup::SelectedTag(Outlet<QComboBox>("sizeFormatTypePopupButton")), 6);
    // The page fields show their steppers' values; the page-range controls start disabled.
    for (const char* pair : {"Start", "End"}) {
        auto* field = Outlet<PageCountNumberField>(qPrintable(QStringLiteral("pageRange%1TextFieldOutlet").arg(QLatin1String(pair))));
        auto* stepper = Outlet<Stepper>(qPrintable(QStringLiteral("pageRange%1StepperOutlet").arg(QLatin1String(pair))));
        QCOMPARE(field->text(), QString::number(stepper->value()));
        QVERIFY(!field->isEnabled());
        QVERIFY(!stepper->isEnabled());
    }
    QVERIFY(!Outlet<QWidget>("pageFromStaticTextOutlet")->isEnabled());
    QVERIFY(!Outlet<QWidget>("pageToStaticTextOutlet")->isEnabled());
    QVERIFY(!delegate_->isWatching());
    QVERIFY(!delegate_->isMainWindowClosing());
    // The menus carry their titles.
    QStringList menus;
    for (QAction* menu : delegate_->window()->menuBar()->actions()) menus << menu->text();
    QCOMPARE(menus.size(), 4);
    QVERIFY(!menus.contains(QString()));
}

void MainWindowTest::startUpLayout() {
    using geometry::Frame;
    auto* settings = Outlet<QWidget>("conversionSettingsViewOutlet");
    auto* range = Outlet<QWidget>("pageRangeViewOutlet");
    auto* dimensions = Outlet<QWidget>("imageDimentionsViewOutlet");
    QCOMPARE(range->parentWidget(), settings);
    QCOMPARE(dimensions->parentWidget(), settings);
    QCOMPARE(Frame(range), QRect(708, 0, 150, 94));
    // The dimensions view ends at x 700 and a menu is at least as wide as its frame; either
    // grows as far as its texts need (textsFitTheirControls), the view to the left.
    QCOMPARE(Frame(dimensions).y(), 39);
    QVERIFY(Frame(dimensions).x() <= 460);
    QCOMPARE(Frame(dimensions).x() + dimensions->width(), 460 + 240);
    QVERIFY(Outlet<QWidget>("pageRangeTypePopUpButtonOutlet")->width() >= 63);
    QVERIFY(Outlet<QWidget>("sizeFormatTypePopupButton")->width() >= 82);
    const std::pair<const char*, QPoint> origins[] = {
        {"pageRangeStartTextFieldOutlet", {58, 40}}, {"pageRangeStartStepperOutlet", {105, 37}},
        {"pageRangeEndTextFieldOutlet", {58, 10}},   {"pageRangeEndStepperOutlet", {105, 7}},
        {"pageFromStaticTextOutlet", {15, 45}},      {"pageToStaticTextOutlet", {32, 15}},
        {"resolutionStaticText", {445, 11}},         {"imageResolutionPopUpOutlet", {523, 7}},
        {"resolutionDpiStaticText", {597, 11}},
    };
    for (const auto& [name, origin] : origins) QCOMPARE(Frame(Outlet<QWidget>(name)).topLeft(), origin);
    const std::pair<const char*, int> xs[] = {
        {"destinationImageTypeEditFieldOutlet", 60}, {"destinationImageTypePopUpOutlet", 149},
        {"colorModelEditFieldOutlet", 60},           {"colorModelPopUpOutlet", 149},
        {"imageCompressionQuaityLabelOutlet", 17},   {"imageCompressionQuaitySliderOutlet", 149},
        {"imageCompressionLeastQuaityEditFieldOutlet", 149},
    };
    for (const auto& [name, x] : xs) QCOMPARE(Outlet<QWidget>(name)->x(), x);
    // Every control lies inside its view, and none overlaps another (the lines of the lock's
    // bracket meet on purpose).
    for (QWidget* view : std::initializer_list<QWidget*>{settings, range, dimensions}) {
        QList<QWidget*> children;
        for (QObject* child : view->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && w->isVisibleTo(view)) children << w;
        for (QWidget* w : children) {
            QVERIFY2(view->rect().contains(w->geometry()), qPrintable(w->objectName()));
            for (QWidget* other : children)
                if (other != w && !(w->objectName().startsWith(QLatin1String("lockLinesBox")) &&
                                    other->objectName().startsWith(QLatin1String("lockLinesBox"))))
                    QVERIFY2(!w->geometry().intersects(other->geometry()),
                             qPrintable(w->objectName() + QLatin1String(" / ") + other->objectName()));
        }
    }
}

// Every label, button and pop-up menu shows its whole text in the default font: its frame is at
// least as large as its size hint. In the main window, both panes of the preference sheet and
// the progress sheet.
void MainWindowTest::textsFitTheirControls() {
    QStringList clipped;
    const auto check = [&clipped](QWidget* window) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window)) continue;
            const auto* label = qobject_cast<QLabel*>(w);
            const auto* button = qobject_cast<QAbstractButton*>(w);
            const bool texted = (label && !label->text().isEmpty() && !label->wordWrap()) ||
                                (button && !button->text().isEmpty()) || qobject_cast<QComboBox*>(w);
            if (!texted) continue;
            const QSize hint = w->sizeHint();
            if (w->width() < hint.width() || w->height() < hint.height())
                clipped << QStringLiteral("%1: %2 x %3 for %4 x %5")
                               .arg(w->objectName())
                               .arg(w->width())
                               .arg(w->height())
                               .arg(hint.width())
                               .arg(hint.height());
        }
    };
    check(delegate_->window());
    settings::PreferenceSheet* preferences = delegate_->preferenceSheet();
    Item("generalSettingMenuItemOutlet")->trigger();
    check(preferences);
    Item("watchFolderOptionMenuItemOutlet")->trigger();
    check(preferences);
    preferences->doneButton()->click();
    ProgressSheet* sheet = delegate_->progressSheet();
    sheet->BeginProgressSheet(std::make_shared<ProgressCounters>());
    sheet->ChangeProgressStatus(ProgressSheet::kStatusRunStarted);
    check(sheet);
    sheet->EndProgressSheet();
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QLatin1String("; "))));
}

void MainWindowTest::toolbarHasImages() {
    for (const char* name : {"addToolbarItem", "removeToolbarItem", "removeAllToolbarItem", "exportToolbarItem",
                             "exportAllToolbarItem", "ratingToolbarItem", "helpToolbarItem"})
        QVERIFY2(!Outlet<QToolButton>(name)->icon().isNull(), name);
    QVERIFY(!Outlet<QPushButton>("exportButton")->icon().isNull());
    QVERIFY(!Outlet<QPushButton>("exportAllButton")->icon().isNull());
    // The menu items do not show the toolbar's images.
    QVERIFY(!Item("exportMenuItem")->isIconVisibleInMenu());

    // The images are templates: drawn in the window's button text colour, again when it changes.
    const auto inkOf = [this](const char* button) {
        const QImage image = Outlet<QToolButton>(button)->icon().pixmap(32, 32).toImage();
        QColor darkest = Qt::white;
        int most = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QColor c = image.pixelColor(x, y); c.alpha() > most) {
                    most = c.alpha();
                    darkest = c;
                }
        return darkest;
    };
    QPalette red = delegate_->window()->palette();
    red.setColor(QPalette::ButtonText, QColor(220, 0, 0));
    delegate_->window()->setPalette(red);
    const QColor ink = inkOf("addToolbarItem");
    QCOMPARE(ink.red(), 220);
    QCOMPARE(ink.green(), 0);
    QCOMPARE(ink.alpha(), 255);
}

void MainWindowTest::enabledStateTable_data() {
    QTest::addColumn<int>("listSize");
    QTest::addColumn<int>("busyCode");
    QTest::addColumn<int>("selected");
    QTest::addColumn<EnabledState>("expected");
    const auto state = [](bool add, bool convert, bool remove, bool reveal) {
        return EnabledState{add, convert, remove, reveal};
    };
    for (int code : {kNotSwitched, kIdleCode}) {
        const char* c = code == kIdleCode ? "idle" : "not switched";
        QTest::addRow("empty, %s", c) << 0 << code << 0 << state(true, false, false, false);
        QTest::addRow("one row, none selected, %s", c) << 1 << code << 0 << state(true, true, true, false);
        QTest::addRow("one row selected, %s", c) << 1 << code << 1 << state(true, true, true, true);
        QTest::addRow("three rows, one selected, %s", c) << 3 << code << 1 << state(true, true, true, true);
        QTest::addRow("three rows, two selected, %s", c) << 3 << code << 2 << state(true, true, true, false);
        QTest::addRow("three rows, all selected, %s", c) << 3 << code << 3 << state(true, true, true, false);
    }
    for (int code : {kBusyCode, 2, 3, 4, -1}) {
        for (int size : {0, 1, 3})
            for (int selected : {0, 1, 2})
                if (selected <= size)
                    QTest::addRow("busy %d, %d rows, %d selected", code, size, selected)
                        << size << code << selected << state(false, false, false, false);
    }
}

void MainWindowTest::enabledStateTable() {
    QFETCH(int, listSize);
    QFETCH(int, busyCode);
    QFETCH(int, selected);
    QFETCH(EnabledState, expected);
    const EnabledState got = ComputeEnabledState(listSize, busyCode, selected);
    QCOMPARE(got.add, expected.add);
    QCOMPARE(got.convert, expected.convert);
    QCOMPARE(got.remove, expected.remove);
    QCOMPARE(got.reveal, expected.reveal);

    // The window carries the same state to every item, button and toolbar button.
    UseList(listSize);
    QList<int> rows;
    for (int i = 0; i < selected; ++i) rows << i;
    auto* table = Outlet<QTableView>("imageListTable");
    for (int row : rows)
        table->selectionModel()->select(table->model()->index(row, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    if (busyCode != kNotSwitched) delegate_->SetEnableDisableControlWhileConversion(busyCode);
    const std::pair<const char*, bool> items[] = {
        {"addImageMenuItem", expected.add},         {"addImageContextMenuItem", expected.add},
        {"exportMenuItem", expected.convert},       {"exportAllMenuItem", expected.convert},
        {"exportContextMenuItem", expected.convert}, {"exportAllContextMenuItem", expected.convert},
        {"selectAllMenuItem", expected.remove},     {"removeMenuItem", expected.remove},
        {"removeAllMenuItem", expected.remove},     {"selectAllContextMenuItem", expected.remove},
        {"removeContextMenuItem", expected.remove}, {"removeAllContextMenuItem", expected.remove},
        {"revealInFinderContextMenuItem", expected.reveal},
        {"aboutMenuItemOutlet", true},              {"quitMenuItemOutlet", true},
        {"helpMenuItemOutlet", true},               {"preferencesMenuItemOutlet", true},
    };
    for (const auto& [name, enabled] : items) {
        QCOMPARE(Item(name)->isEnabled(), enabled);
        QCOMPARE(delegate_->validateMenuItem(Item(name)), enabled);
    }
    const std::pair<const char*, bool> buttons[] = {
        {"addToolbarItem", expected.add},          {"exportToolbarItem", expected.convert},
        {"exportAllToolbarItem", expected.convert}, {"removeToolbarItem", expected.remove},
        {"removeAllToolbarItem", expected.remove}, {"exportButton", expected.convert},
        {"exportAllButton", expected.convert},     {"ratingToolbarItem", true},
        {"helpToolbarItem", true},
    };
    for (const auto& [name, enabled] : buttons) QCOMPARE(Outlet<QWidget>(name)->isEnabled(), enabled);
}

void MainWindowTest::enabledStatesFollowTheList() {
    // Start: an empty list. Add stays; everything that needs a file is off.
    QVERIFY(Item("addImageMenuItem")->isEnabled());
    QVERIFY(!Item("exportMenuItem")->isEnabled());
    QVERIFY(!Item("selectAllMenuItem")->isEnabled());
    QVERIFY(!Outlet<QWidget>("removeToolbarItem")->isEnabled());

    QStandardItemModel* list = UseList(0);
    list->appendRow(new QStandardItem(QStringLiteral("/a.pdf")));
    QVERIFY(Item("exportMenuItem")->isEnabled());
    QVERIFY(Outlet<QWidget>("exportButton")->isEnabled());
    QVERIFY(!Item("revealInFinderContextMenuItem")->isEnabled());
    list->appendRow(new QStandardItem(QStringLiteral("/b.pdf")));
    Select({1});
    QVERIFY(Item("revealInFinderContextMenuItem")->isEnabled());
    Select({0, 1});
    QVERIFY(!Item("revealInFinderContextMenuItem")->isEnabled());
    list->removeRows(0, 2);
    QVERIFY(!Item("exportAllMenuItem")->isEnabled());
    QVERIFY(!Outlet<QWidget>("removeAllToolbarItem")->isEnabled());
    QVERIFY(!Item("revealInFinderContextMenuItem")->isEnabled());
    // Back to the window's own empty list.
    delegate_->SetFileListModel(nullptr);
    QCOMPARE(delegate_->listSize(), 0);
    QCOMPARE(Outlet<QTableView>("imageListTable")->model()->columnCount(), 5);
}

void MainWindowTest::busySwitch() {
    UseList(2);
    Select({0});
    auto* fileLine = Outlet<QLabel>("conversionFileNumberStaticText");
    auto* pageLine = Outlet<QLabel>("conversionPageNumberStaticText");
    auto* fileBar = Outlet<QProgressBar>("conversionProgressIndicator");
    auto* pageBar = Outlet<QProgressBar>("pageProcessingProgressIndicator");
    fileLine->setText(QStringLiteral("old"));
    pageLine->setText(QStringLiteral("old"));
    fileBar->setRange(0, 10);
    fileBar->setValue(7);
    pageBar->setRange(0, 10);
    pageBar->setValue(3);

    delegate_->SetEnableDisableControlWhileConversion(kBusyCode);
    QCOMPARE(fileLine->text(), QString());
    QCOMPARE(pageLine->text(), QString());
    QCOMPARE(fileBar->value(), 0);
    QCOMPARE(pageBar->value(), 0);
    QVERIFY(!Item("addImageMenuItem")->isEnabled());
    QVERIFY(!Outlet<QWidget>("addToolbarItem")->isEnabled());
    QVERIFY(!Item("removeMenuItem")->isEnabled());
    QVERIFY(!Item("exportMenuItem")->isEnabled());
    // The list changing while busy does not bring the commands back.
    list_->appendRow(new QStandardItem(QStringLiteral("/c.pdf")));
    delegate_->ResetUIControls();
    QVERIFY(!Item("exportMenuItem")->isEnabled());

    delegate_->SetEnableDisableControlWhileConversion(kIdleCode);
    QVERIFY(Item("addImageMenuItem")->isEnabled());
    QVERIFY(Item("removeMenuItem")->isEnabled());
    QVERIFY(Item("exportMenuItem")->isEnabled());
    QVERIFY(Item("revealInFinderContextMenuItem")->isEnabled());

    // Idle after adding nothing to an empty list: Convert is not offered for the empty list.
    UseList(0);
    delegate_->SetEnableDisableControlWhileConversion(kBusyCode);
    delegate_->SetEnableDisableControlWhileConversion(kIdleCode);
    QVERIFY(!Item("exportMenuItem")->isEnabled());
    QVERIFY(!Outlet<QWidget>("exportToolbarItem")->isEnabled());
    QVERIFY(Item("addImageMenuItem")->isEnabled());
}

void MainWindowTest::quitWithoutWatchingAsksNothing() {
    AlertDriver driver;
    QCOMPARE(delegate_->applicationShouldTerminate(), 1);
    QSignalSpy approved(delegate_.get(), &AppDelegate::terminationApproved);
    Item("quitMenuItemOutlet")->trigger();
    QCOMPARE(approved.count(), 1);
    QCOMPARE(driver.count(), 0);
}

void MainWindowTest::quitWhileWatching_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("reply");
    QTest::newRow("Quit") << "defaultButton" << 1;
    QTest::newRow("No") << "alterButton" << 0;
    QTest::newRow("Escape") << "escape" << 0;
}

void MainWindowTest::quitWhileWatching() {
    QFETCH(QString, button);
    QFETCH(int, reply);
    delegate_->setWatching(true);
    AlertDriver driver(button);
    QSignalSpy approved(delegate_.get(), &AppDelegate::terminationApproved);
    Item("quitMenuItemOutlet")->trigger();
    QCOMPARE(driver.count(), 1);
    QCOMPARE(driver.titles().first(), platform::LocalizedString("QuitOnCloseTitle"));
    QCOMPARE(driver.messages().first(), platform::LocalizedString("QuitOnCloseMessage"));
    QCOMPARE(approved.count(), reply);
    QCOMPARE(delegate_->applicationShouldTerminate(), reply);
    QCOMPARE(driver.count(), 2);
}

void MainWindowTest::closeWhileWatching() {
    delegate_->setWatching(true);
    AlertDriver driver(QStringLiteral("alterButton"));
    QSignalSpy approved(delegate_.get(), &AppDelegate::terminationApproved);
    // No: the window stays and nothing quits.
    QVERIFY(!delegate_->window()->close());
    QVERIFY(delegate_->window()->isVisible());
    QCOMPARE(driver.count(), 1);
    QVERIFY(!delegate_->isMainWindowClosing());
    QCOMPARE(approved.count(), 0);

    // Quit: the window closes and the application quits without asking again.
    driver.setButton(QStringLiteral("defaultButton"));
    QVERIFY(delegate_->window()->close());
    QCOMPARE(driver.count(), 2);
    QVERIFY(delegate_->isMainWindowClosing());
    QCOMPARE(approved.count(), 1);
    QCOMPARE(delegate_->applicationShouldTerminate(), 1);
    QCOMPARE(driver.count(), 2);
}

void MainWindowTest::closeWindowQuits() {
    AlertDriver driver;
    QSignalSpy approved(delegate_.get(), &AppDelegate::terminationApproved);
    Item("closeWindowMenuItem")->trigger();
    QVERIFY(!delegate_->window()->isVisible());
    QCOMPARE(approved.count(), 1);
    QCOMPARE(driver.count(), 0);
    QVERIFY(delegate_->applicationShouldTerminateAfterLastWindowClosed());
}

void MainWindowTest::helpCommands() {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    Item("contactSupportMenuItem")->trigger();
    Item("helpMenuItemOutlet")->trigger();
    Outlet<QToolButton>("helpToolbarItem")->click();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    QCOMPARE(catcher.opened.size(), 3);
    QCOMPARE(catcher.opened.at(0), AppDelegate::SupportPageUrl());
    QCOMPARE(catcher.opened.at(0).scheme(), QStringLiteral("https"));
    const QUrl manual = catcher.opened.at(1);
    QVERIFY(manual.isLocalFile());
    QCOMPARE(QFileInfo(manual.toLocalFile()).fileName(), QStringLiteral("Vellipse User Manual.pdf"));
    QVERIFY(QFileInfo::exists(manual.toLocalFile()));
    QCOMPARE(catcher.opened.at(2), manual);

    // Without the manual installed, nothing is opened.
    const auto installed = platform::ResourceDirectory();
    platform::SetResourceDirectory(QDir::tempPath().toStdString() + "/vellipse-no-resources-here");
    UrlCatcher none;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &none, "open");
    delegate_->UserManualHelpAction();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    platform::SetResourceDirectory({});
    QCOMPARE(none.opened.size(), 0);
    QCOMPARE(platform::ResourceDirectory(), installed);
}

void MainWindowTest::aboutBoxAndHide() {
    QString title, text, informative;
    bool icon = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || box->objectName() != QLatin1String("aboutBox")) continue;
            title = box->windowTitle();
            text = box->text();
            informative = box->informativeText();
            icon = !box->iconPixmap().isNull();
            box->accept();
        }
    });
    poll.start();
    QCoreApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    Item("aboutMenuItemOutlet")->trigger();
    QCOMPARE(title, platform::LocalizedString("ProAboutMenuTitle"));
    QCOMPARE(text, platform::LocalizedString("ProAppTitle"));
    QCOMPARE(informative, platform::LocalizedFormat("AboutText", QStringLiteral("9.8.7")));
    QVERIFY(informative.contains(QLatin1String("9.8.7")));
    QVERIFY(icon);

    Item("hideMenuItemOutlet")->trigger();
    QVERIFY(delegate_->window()->windowState() & Qt::WindowMinimized);
}

void MainWindowTest::engineReportsReachTheMainThread() {
    // Page reports posted by a worker run on the main thread, without the worker waiting.
    std::atomic<bool> ran{false};
    QThread* ranOn = nullptr;
    std::thread worker([&] {
        platform::PostToMainQueue([&] {
            ranOn = QThread::currentThread();
            ran = true;
        });
    });
    worker.join();
    QTRY_VERIFY(ran.load());
    QCOMPARE(ranOn, qApp->thread());

    // Without the application's delegate the reports go to the layer's own queue.
    delegate_.reset();
    ran = false;
    platform::PostToMainQueue([&] {
        ranOn = QThread::currentThread();
        ran = true;
    });
    platform::DrainDefaultMainQueue();
    QVERIFY(ran.load());
    QVERIFY(ranOn != qApp->thread());
}

void MainWindowTest::userManualIsAPdf() {
    const auto path = platform::ResourcePath(AppDelegate::UserManualResourceName().toStdString());
    QVERIFY(!path.empty());
    auto manual = platform::PdfDocument::Open(path);
    QVERIFY(manual);
    QVERIFY(!manual->IsEncrypted());
    QVERIFY(manual->PageCount() >= 3);
    const auto page = manual->PageGeometry(0);
    QVERIFY(page);
    // A4 portrait.
    QVERIFY(std::abs(page->mediaBox.width() - 595.3f) < 1.5f);
    QVERIFY(std::abs(page->mediaBox.height() - 841.9f) < 1.5f);
}

void MainWindowTest::windowSeesCorrectedText() {
    auto* width = Outlet<NumberField>("widthTextField");
    QStringList seen;
    connect(width, &ValidatedNumberField::textDidChange, width, [&](const QString& text) { seen << text; });
    width->setFocus();
    QTest::keyClicks(width, QStringLiteral("8.5in"));
    QCOMPARE(width->text(), QStringLiteral("8.5"));
    QCOMPARE(seen, (QStringList{"8", "8.", "8.5", "8.5", "8.5"}));

    auto* resolution = Outlet<ResolutionComboBox>("imageResolutionPopUpOutlet");
    resolution->lineEdit()->clear();
    QTest::keyClicks(resolution, QStringLiteral("300dpi"));
    QCOMPARE(resolution->currentText(), QStringLiteral("300"));
}

void MainWindowTest::renderWindow() {
    QStandardItemModel* list = UseList(0);
    list->setHorizontalHeaderLabels({platform::LocalizedString("IndexColumnTitle"), QString(),
                                     platform::LocalizedString("FilePathColumnTitle"),
                                     platform::LocalizedString("NumOfPagesColumnTitle"),
                                     platform::LocalizedString("SizeColumnTitle")});
    const char* const files[][3] = {{"/home/user/Documents/Annual report 2023.pdf", "48", "595 x 842"},
                                    {"/home/user/Documents/Brochure.pdf", "12", "612 x 792"},
                                    {"/home/user/Downloads/Invoice %2 <draft>.pdf", "1", "-"}};
    int index = 0;
    for (const auto& file : files) {
        list->appendRow({new QStandardItem(QString::number(++index)), new QStandardItem(),
                         new QStandardItem(QString::fromUtf8(file[0])), new QStandardItem(QString::fromLatin1(file[1])),
                         new QStandardItem(QString::fromLatin1(file[2]))});
    }
    delegate_->SetFileListModel(nullptr);
    delegate_->SetFileListModel(list);
    Select({1});
    delegate_->window()->resize(980, 640);
    // Let the layout settle: the file column takes the room the others leave.
    auto* table = Outlet<QTableView>("imageListTable");
    QTRY_COMPARE(table->horizontalHeader()->length(), table->viewport()->width());

    const QString folder = QStringLiteral(VELLIPSE_SCREENSHOT_DIR);
    QVERIFY(QDir().mkpath(folder));
    const QImage window = delegate_->window()->grab().toImage();
    QVERIFY(!window.isNull());
    QVERIFY(window.save(folder + QStringLiteral("/main-window.png")));

    // The same window while files are being added.
    auto* overlay = Outlet<ProgressHUDView>("addSpinView");
    delegate_->SetEnableDisableControlWhileConversion(kBusyCode);
    overlay->StartAddSpinning();
    QVERIFY(delegate_->window()->grab().toImage().save(folder + QStringLiteral("/main-window-busy.png")));
    overlay->StopAddSpinning();
    delegate_->SetEnableDisableControlWhileConversion(kIdleCode);

    // The quit question, as shown.
    delegate_->setWatching(true);
    AlertDriver driver;
    driver.setOnShow([&folder](AlertDialog* dialog) {
        QApplication::processEvents();
        dialog->grab().toImage().save(folder + QStringLiteral("/quit-question.png"));
    });
    QCOMPARE(delegate_->applicationShouldTerminate(), 1);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/quit-question.png")));
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
