// The main window's interface: its windows, menus, toolbar and controls with their initial
// texts and frames. The start-up steps (AppDelegate.cpp) then set titles, images and positions.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "AppDelegate.h"
#include "BundleImages.h"
#include "InterfaceGeometry.h"
#include "LockImage.h"
#include "MainWindow.h"
#include "NamedWidgets.h"
#include "NumberFields.h"
#include "OVXValidatedViewToolbar.h"
#include "PopUpItems.h"
#include "ProgressHUDView.h"
#include "Stepper.h"
#include "VerticallyCenteredTextFieldCell.h"
#include "run/ProgressSheet.h"
#include "settings/MainSettingsControls.h"
#include "engine/ImageConversion.h"
#include "platform/LocalizedStrings.h"

namespace {

QString Text(const char* key) { return platform::LocalizedString(key); }

struct ListColumn {
    const char* identifier;
    const char* titleKey;
    int width;  // 0: takes the room that is left
};

// The table's columns, told apart by their identifiers (kept in the header's Qt::UserRole).
constexpr ListColumn kListColumns[] = {
    {"Index", "IndexColumnTitle", 44},        {"Icon", "IconColumnTitle", 52},
    {"FilePath", "FilePathColumnTitle", 0},   {"NumOfPages", "NumOfPagesColumnTitle", 64},
    {"Size", "SizeColumnTitle", 110},
};

// The desktop's keys for a standard command, with `key` first.
QList<QKeySequence> WithKey(QKeySequence::StandardKey command, QKeyCombination key) {
    QList<QKeySequence> keys = QKeySequence::keyBindings(command);
    keys.removeAll(QKeySequence(key));
    keys.prepend(QKeySequence(key));
    return keys;
}

// Frame sizes of the settings views, in points.
constexpr QSize kSettingsViewSize(870, 112);

}  // namespace

QAction* AppDelegate::MakeAction(const char* objectName, const QString& text) {
    auto* action = Named(new QAction(text, window_.get()), objectName);
    return action;
}

void AppDelegate::LoadMainInterface() {
    window_ = std::make_unique<MainWindow>(this);
    window_->setWindowIcon(ApplicationIcon());

    BuildActions();
    BuildMenus();
    BuildToolbar();

    windowView = Named(new QWidget(window_.get()), "windowView");
    auto* layout = new QVBoxLayout(windowView);
    layout->setContentsMargins(10, 8, 10, 10);
    layout->setSpacing(8);

    BuildFileList();
    SetFileListModel(nullptr);
    layout->addWidget(conversionListScrollViewOutlet, 1);

    BuildSettingsControls();
    layout->addWidget(conversionSettingsTabViewOutlet, 0);

    exportButton = Named(new QPushButton(Text("ConvertTitle"), windowView), "exportButton");
    exportAllButton = Named(new QPushButton(Text("ConvertAllTitle"), windowView), "exportAllButton");
    exportAllButton->setDefault(true);
    for (auto [button, command] : {std::pair{exportButton, exportMenuItem}, std::pair{exportAllButton, exportAllMenuItem}}) {
        button->setIconSize(QSize(20, 20));
        button->setMinimumWidth(120);
        // The buttons run the shared command and follow its enabled state.
        connect(button, &QPushButton::clicked, command, &QAction::trigger);
        connect(command, &QAction::changed, button, [button, command] { button->setEnabled(command->isEnabled()); });
    }
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(settings_.convertOrExtractOptionPopupOutlet);
    bottom->addSpacing(12);
    bottom->addWidget(settings_.createSeparateFolderForEachFileButtonOutlet);
    bottom->addStretch();
    bottom->addWidget(exportButton);
    bottom->addWidget(exportAllButton);
    layout->addLayout(bottom);

    window_->setCentralWidget(windowView);
    BuildContextMenu();
    BuildProgressSheet();
    window_->resize(940, 660);
}

void AppDelegate::BuildActions() {
    addImageMenuItem = MakeAction("addImageMenuItem", Text("AddFilesMenuTitle"));
    addImageMenuItem->setIconText(Text("AddToolbarLabel"));
    addImageMenuItem->setShortcut(QKeySequence::Open);
    exportMenuItem = MakeAction("exportMenuItem", Text("ConvertTitle"));
    exportAllMenuItem = MakeAction("exportAllMenuItem", Text("ConvertAllTitle"));
    removeMenuItem = MakeAction("removeMenuItem", Text("RemoveMenuTitle"));
    removeMenuItem->setShortcut(QKeySequence::Delete);
    removeAllMenuItem = MakeAction("removeAllMenuItem", Text("RemoveAllMenuTitle"));
    selectAllMenuItem = MakeAction("selectAllMenuItem", Text("SelectAllMenuTitle"));
    selectAllMenuItem->setShortcut(QKeySequence::SelectAll);

    addImageContextMenuItem = MakeAction("addImageContextMenuItem", Text("AddFilesMenuTitle"));
    exportContextMenuItem = MakeAction("exportContextMenuItem", Text("ConvertTitle"));
    exportAllContextMenuItem = MakeAction("exportAllContextMenuItem", Text("ConvertAllTitle"));
    selectAllContextMenuItem = MakeAction("selectAllContextMenuItem", Text("SelectAllMenuTitle"));
    removeContextMenuItem = MakeAction("removeContextMenuItem", Text("RemoveMenuTitle"));
    removeAllContextMenuItem = MakeAction("removeAllContextMenuItem", Text("RemoveAllMenuTitle"));
    revealInFinderContextMenuItem = MakeAction("revealInFinderContextMenuItem", Text("RevealMenuTitle"));

    // Titles of the application's own items are set at start-up.
    aboutMenuItemOutlet = MakeAction("aboutMenuItemOutlet", QString());
    aboutMenuItemOutlet->setMenuRole(QAction::AboutRole);
    hideMenuItemOutlet = MakeAction("hideMenuItemOutlet", QString());
    hideMenuItemOutlet->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    quitMenuItemOutlet = MakeAction("quitMenuItemOutlet", QString());
    // Ctrl+Q and Ctrl+W whatever the desktop's key scheme (some have no Quit key at all).
    quitMenuItemOutlet->setShortcuts(WithKey(QKeySequence::Quit, Qt::CTRL | Qt::Key_Q));
    quitMenuItemOutlet->setMenuRole(QAction::QuitRole);
    helpMenuItemOutlet = MakeAction("helpMenuItemOutlet", QString());
    helpMenuItemOutlet->setShortcut(QKeySequence::HelpContents);
    helpMenuItemOutlet->setIconText(Text("HelpToolbarLabel"));
    preferencesMenuItemOutlet = MakeAction("preferencesMenuItemOutlet", Text("PreferencesMenuTitle"));
    preferencesMenuItemOutlet->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    preferencesMenuItemOutlet->setMenuRole(QAction::PreferencesRole);
    generalSettingMenuItemOutlet = MakeAction("generalSettingMenuItemOutlet", Text("GeneralSettingsMenuTitle"));
    watchFolderOptionMenuItemOutlet = MakeAction("watchFolderOptionMenuItemOutlet", Text("WatchFolderOptionsMenuTitle"));
    closeWindowMenuItem_ = MakeAction("closeWindowMenuItem", Text("CloseWindowMenuTitle"));
    closeWindowMenuItem_->setShortcuts(WithKey(QKeySequence::Close, Qt::CTRL | Qt::Key_W));
    contactSupportMenuItem_ = MakeAction("contactSupportMenuItem", Text("ContactSupportMenuTitle"));
    rateMenuItem_ = MakeAction("rateMenuItem", Text("RateMenuTitle"));
    rateMenuItem_->setIconText(Text("RateToolbarLabel"));

    for (QAction* command : {addImageMenuItem, exportMenuItem, exportAllMenuItem, removeMenuItem, removeAllMenuItem,
                             helpMenuItemOutlet, rateMenuItem_})
        command->setIconVisibleInMenu(false);

    const auto on = [this](QAction* action, void (AppDelegate::*method)(QObject*)) {
        connect(action, &QAction::triggered, this, [this, action, method] { (this->*method)(action); });
    };
    on(addImageMenuItem, &AppDelegate::AddFilesOrFolder);
    on(addImageContextMenuItem, &AppDelegate::AddFilesOrFolder);
    on(exportMenuItem, &AppDelegate::Export);
    on(exportContextMenuItem, &AppDelegate::Export);
    on(exportAllMenuItem, &AppDelegate::ExportAll);
    on(exportAllContextMenuItem, &AppDelegate::ExportAll);
    on(removeMenuItem, &AppDelegate::Remove);
    on(removeContextMenuItem, &AppDelegate::Remove);
    on(removeAllMenuItem, &AppDelegate::RemoveAll);
    on(removeAllContextMenuItem, &AppDelegate::RemoveAll);
    on(selectAllMenuItem, &AppDelegate::SelectAll);
    on(selectAllContextMenuItem, &AppDelegate::SelectAll);
    on(revealInFinderContextMenuItem, &AppDelegate::RevealInFinder);
    on(rateMenuItem_, &AppDelegate::RateApplicationAction);
    on(preferencesMenuItemOutlet, &AppDelegate::Preferences);
    on(generalSettingMenuItemOutlet, &AppDelegate::OpenGeneralPreferencesSettings);
    on(watchFolderOptionMenuItemOutlet, &AppDelegate::OpenWatchFolderPreferences);
    connect(aboutMenuItemOutlet, &QAction::triggered, this, &AppDelegate::AboutAction);
    connect(hideMenuItemOutlet, &QAction::triggered, this, &AppDelegate::HideAction);
    connect(quitMenuItemOutlet, &QAction::triggered, this, &AppDelegate::terminate);
    connect(helpMenuItemOutlet, &QAction::triggered, this, &AppDelegate::UserManualHelpAction);
    connect(contactSupportMenuItem_, &QAction::triggered, this, &AppDelegate::ContactSupportAction);
    connect(closeWindowMenuItem_, &QAction::triggered, window_.get(), &QWidget::close);
}

void AppDelegate::BuildMenus() {
    QMenuBar* bar = window_->menuBar();
    bar->setObjectName(QStringLiteral("mainMenu"));

    QMenu* file = Named(bar->addMenu(Text("FileMenuTitle")), "fileMenu");
    file->addAction(addImageMenuItem);
    file->addSeparator();
    file->addAction(exportMenuItem);
    file->addAction(exportAllMenuItem);
    file->addSeparator();
    file->addAction(closeWindowMenuItem_);
    file->addAction(quitMenuItemOutlet);

    QMenu* edit = Named(bar->addMenu(Text("EditMenuTitle")), "editMenu");
    edit->addAction(removeMenuItem);
    edit->addAction(removeAllMenuItem);
    edit->addSeparator();
    edit->addAction(selectAllMenuItem);
    edit->addSeparator();
    edit->addAction(preferencesMenuItemOutlet);
    edit->addAction(generalSettingMenuItemOutlet);
    edit->addAction(watchFolderOptionMenuItemOutlet);

    QMenu* windowMenu = Named(bar->addMenu(Text("WindowMenuTitle")), "windowMenu");
    windowMenu->addAction(hideMenuItemOutlet);

    QMenu* help = Named(bar->addMenu(Text("HelpMenuTitle")), "helpMenu");
    help->addAction(helpMenuItemOutlet);
    help->addAction(contactSupportMenuItem_);
    help->addAction(rateMenuItem_);
    help->addSeparator();
    help->addAction(aboutMenuItemOutlet);
}

QToolButton* AppDelegate::MakeToolbarButton(const char* objectName, QAction* command, const QString& label) {
    auto* button = Named(new QToolButton(mainToolbar), objectName);
    if (!label.isEmpty()) command->setIconText(label);
    button->setDefaultAction(command);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIconSize(QSize(32, 32));
    button->setAutoRaise(true);
    button->setMinimumWidth(72);
    return button;
}

void AppDelegate::BuildToolbar() {
    mainToolbar = Named(new OVXValidatedViewToolbar(window_.get()), "mainToolbar");
    mainToolbar->setMovable(false);
    mainToolbar->setFloatable(false);
    mainToolbar->setIconSize(QSize(32, 32));
    mainToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    mainToolbar->toggleViewAction()->setVisible(false);
    window_->addToolBar(Qt::TopToolBarArea, mainToolbar);

    addToolbarItem = MakeToolbarButton("addToolbarItem", addImageMenuItem, {});
    removeToolbarItem = MakeToolbarButton("removeToolbarItem", removeMenuItem, Text("RemoveToolbarLabel"));
    removeAllToolbarItem = MakeToolbarButton("removeAllToolbarItem", removeAllMenuItem, Text("RemoveAllToolbarLabel"));
    exportToolbarItem = MakeToolbarButton("exportToolbarItem", exportMenuItem, {});
    exportAllToolbarItem = MakeToolbarButton("exportAllToolbarItem", exportAllMenuItem, {});
    ratingToolbarItem = MakeToolbarButton("ratingToolbarItem", rateMenuItem_, {});
    helpToolbarItem = MakeToolbarButton("helpToolbarItem", helpMenuItemOutlet, {});

    mainToolbar->addWidget(addToolbarItem);
    mainToolbar->addWidget(removeToolbarItem);
    mainToolbar->addWidget(removeAllToolbarItem);
    mainToolbar->addSeparator();
    exportToolbarButtonItem = Named(mainToolbar->addWidget(exportToolbarItem), "exportToolbarButtonItem");
    exportAllToolbarButtonItem = Named(mainToolbar->addWidget(exportAllToolbarItem), "exportAllToolbarButtonItem");
    auto* space = Named(new QWidget(mainToolbar), "flexibleSpace");
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mainToolbar->addWidget(space);
    ratingToolbarItemMain = Named(mainToolbar->addWidget(ratingToolbarItem), "ratingToolbarItemMain");
    helpToolbarItemMain = Named(mainToolbar->addWidget(helpToolbarItem), "helpToolbarItemMain");

    mainToolbar->setValidator([this](const QAction* command) { return validateMenuItem(command); });
}

void AppDelegate::BuildFileList() {
    conversionListScrollViewOutlet = Named(new QWidget(windowView), "conversionListScrollViewOutlet");
    auto* stack = new QGridLayout(conversionListScrollViewOutlet);
    stack->setContentsMargins(0, 0, 0, 0);

    imageListTable = Named(new QTableView(conversionListScrollViewOutlet), "imageListTable");
    imageListTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    imageListTable->setSelectionMode(QAbstractItemView::ExtendedSelection);
    imageListTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    imageListTable->setAlternatingRowColors(true);
    imageListTable->setShowGrid(false);
    imageListTable->setWordWrap(false);
    imageListTable->setTextElideMode(Qt::ElideMiddle);
    imageListTable->setIconSize(QSize(42, 42));
    imageListTable->verticalHeader()->hide();
    imageListTable->verticalHeader()->setDefaultSectionSize(48);
    imageListTable->horizontalHeader()->setHighlightSections(false);
    imageListTable->setItemDelegate(new VerticallyCenteredTextFieldCell(imageListTable));
    imageListTable->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(imageListTable, &QWidget::customContextMenuRequested, this, &AppDelegate::ShowListContextMenu);

    emptyFileList_ = new QStandardItemModel(0, static_cast<int>(std::size(kListColumns)), this);
    for (int column = 0; column < static_cast<int>(std::size(kListColumns)); ++column) {
        emptyFileList_->setHeaderData(column, Qt::Horizontal, Text(kListColumns[column].titleKey));
        emptyFileList_->setHeaderData(column, Qt::Horizontal, QString::fromLatin1(kListColumns[column].identifier),
                                      Qt::UserRole);
    }

    // The overlay lies over the table in the same cell.
    addSpinView = Named(new ProgressHUDView(conversionListScrollViewOutlet), "addSpinView");
    stack->addWidget(imageListTable, 0, 0);
    stack->addWidget(addSpinView, 0, 0);
    addSpinView->raise();
}

void AppDelegate::SetFileListModel(QAbstractItemModel* model) {
    if (!imageListTable) return;
    if (!model) model = emptyFileList_;
    QAbstractItemModel* previous = imageListTable->model();
    if (previous == model) return;
    if (previous) disconnect(previous, nullptr, this, nullptr);
    QItemSelectionModel* previousSelection = imageListTable->selectionModel();
    imageListTable->setModel(model);
    if (previousSelection) {
        disconnect(previousSelection, nullptr, this, nullptr);
        previousSelection->deleteLater();
    }

    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(model, signal, this, &AppDelegate::UpdateEnabledStates);
    connect(model, &QAbstractItemModel::modelReset, this, &AppDelegate::UpdateEnabledStates);
    connect(model, &QAbstractItemModel::layoutChanged, this, &AppDelegate::UpdateEnabledStates);
    connect(imageListTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AppDelegate::UpdateEnabledStates);

    QHeaderView* header = imageListTable->horizontalHeader();
    for (int section = 0; section < header->count(); ++section) {
        // Columns without an identifier of their own are taken in the table's order.
        QString identifier = model->headerData(section, Qt::Horizontal, Qt::UserRole).toString();
        if (identifier.isEmpty() && section < static_cast<int>(std::size(kListColumns)))
            identifier = QString::fromLatin1(kListColumns[section].identifier);
        header->setSectionResizeMode(section, QHeaderView::Interactive);
        for (const ListColumn& column : kListColumns) {
            if (identifier != QLatin1String(column.identifier)) continue;
            if (column.width == 0)
                header->setSectionResizeMode(section, QHeaderView::Stretch);
            else
                header->resizeSection(section, column.width);
        }
    }
    UpdateEnabledStates();
}

void AppDelegate::BuildSettingsControls() {
    conversionSettingsTabViewOutlet = Named(new QTabWidget(windowView), "conversionSettingsTabViewOutlet");
    auto* page = Named(new QWidget, "conversionSettingsPage");
    auto* centre = new QHBoxLayout(page);
    centre->setContentsMargins(4, 6, 4, 4);
    conversionSettingsViewOutlet = Named(new QWidget(page), "conversionSettingsViewOutlet");
    conversionSettingsViewOutlet->setFixedSize(kSettingsViewSize);
    centre->addStretch();
    centre->addWidget(conversionSettingsViewOutlet);
    centre->addStretch();
    conversionSettingsTabViewOutlet->addTab(page, Text("ConversionSettingsTabTitle"));
    conversionSettingsTabViewOutlet->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    settings_ = settings::BuildMainSettingsControls(conversionSettingsViewOutlet, windowView, MakeServices());
}

void AppDelegate::BuildContextMenu() {
    imageListContextMenu_ = Named(new QMenu(imageListTable), "imageListContextMenu");
    imageListContextMenu_->addAction(addImageContextMenuItem);
    imageListContextMenu_->addSeparator();
    imageListContextMenu_->addAction(exportContextMenuItem);
    imageListContextMenu_->addAction(exportAllContextMenuItem);
    imageListContextMenu_->addSeparator();
    imageListContextMenu_->addAction(revealInFinderContextMenuItem);
    imageListContextMenu_->addSeparator();
    imageListContextMenu_->addAction(selectAllContextMenuItem);
    imageListContextMenu_->addAction(removeContextMenuItem);
    imageListContextMenu_->addAction(removeAllContextMenuItem);
}

void AppDelegate::ShowListContextMenu(const QPoint& position) {
    UpdateEnabledStates();
    imageListContextMenu_->popup(imageListTable->viewport()->mapToGlobal(position));
}

void AppDelegate::BuildProgressSheet() {
    progressSheet_ = new ProgressSheet(window_.get(), Text("CancelTitle"));
    exportProgressSheet = progressSheet_;
    conversionFileNumberStaticText = progressSheet_->fileLine();
    conversionProgressIndicator = progressSheet_->fileBar();
    conversionPageNumberStaticText = progressSheet_->pageLine();
    pageProcessingProgressIndicator = progressSheet_->pageBar();
    cancelConversionButton_ = progressSheet_->cancelButton();
    // Quitting, closing and hiding the window stay available while the sheet is up, also by
    // their shortcuts when the sheet has the focus.
    progressSheet_->addActions({quitMenuItemOutlet, closeWindowMenuItem_, hideMenuItemOutlet});
}
