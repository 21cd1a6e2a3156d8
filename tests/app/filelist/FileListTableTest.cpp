// The table: cells, sorting, removing and selecting, revealing, drops on it and rows dragged
// out of it, and the open panel.

#include <QtTest>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>

#include <set>

#include "../DropTarget.h"
#include "FileListTestSupport.h"
#include "filelist/AddFilesPanel.h"
#include "filelist/DragOut.h"
#include "filelist/FileAdder.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"

using namespace filelisttest;

namespace {

QString Text(std::string_view key) { return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())); }

// What the window hands the list, with the run and the desktop replaced by recorders.
struct Recorder {
    int validityChecks = 0;
    bool valid = true;
    // The runs that drops of dragged-out rows started: their items and folders.
    std::vector<std::vector<ImageListItem>> runs;
    QStringList runFolders;
    std::vector<QUrl> opened;
};

FileListHooks RecordingHooks(Recorder& recorder) {
    FileListHooks hooks;
    hooks.text = Text;
    // The window's checks, then the run.
    hooks.dragOut = [&recorder](std::vector<ImageListItem> items, const QString& folder) {
        ++recorder.validityChecks;
        if (!recorder.valid) return false;
        recorder.runs.push_back(std::move(items));
        recorder.runFolders << folder;
        return true;
    };
    hooks.openUrl = [&recorder](const QUrl& url) {
        recorder.opened.push_back(url);
        return true;
    };
    return hooks;
}

struct Window {
    QMainWindow window;
    QTableView* table = new QTableView(&window);
    FileListController controller;
    FileListModel* model;

    explicit Window(FileListHooks hooks) : controller(table, &window, std::move(hooks)), model(controller.model()) {
        window.setCentralWidget(table);
        table->setModel(model);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setSelectionMode(QAbstractItemView::ExtendedSelection);
        window.resize(800, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    void Fill(const QStringList& paths) {
        for (const QString& path : paths) model->InsertItem(model->size(), Item(path));
    }
    QStringList Paths() const {
        QStringList out;
        for (const ImageListItem& item : model->items()) out << item.filePath;
        return out;
    }
    void Select(std::initializer_list<int> rows) {
        table->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(model->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString Cell(int row, const char* identifier) const {
        return model->index(row, FileListModel::ColumnForIdentifier(identifier)).data().toString();
    }
    void ClickHeader(const char* identifier) {
        QHeaderView* header = table->horizontalHeader();
        const int section = FileListModel::ColumnForIdentifier(identifier);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, 5));
    }
    QPoint RowCentre(int row) const { return table->visualRect(model->index(row, 2)).center(); }
};

QMimeData* FilesMime(const QStringList& paths) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    data->setUrls(urls);
    return data;
}

}  // namespace

class FileListTableTest : public QObject {
    Q_OBJECT
private slots:
    void cellTexts();
    void sortToggles();
    void removeRules();
    void selectRowRules();
    void revealShowsTheFolder();
    void dropsOnTheTableBecomeRequests();
    void ownRowsAreRefused();
    void dropsOverTheOverlay();
    void dragOutStartsARunOnlyAtTheDrop();
    void dragOutWithInvalidSettings();
    void openPanelTakesFilesAndFolders();
};

void FileListTableTest::cellTexts() {
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    QCOMPARE(w.model->rowCount(), 0);
    QCOMPARE(w.model->columnCount(), 5);
    for (int column = 0; column < w.model->columnCount(); ++column)
        QCOMPARE(FileListModel::ColumnForIdentifier(
                     w.model->headerData(column, Qt::Horizontal, FileListModel::kIdentifierRole).toString()),
                 column);

    ImageListItem sized = Item("/docs/a.pdf", 595.3f, 841.9f, 12);
    sized.icon = QImage(84, 84, QImage::Format_ARGB32_Premultiplied);
    sized.icon.fill(Qt::red);
    sized.icon.setDevicePixelRatio(2);
    w.model->InsertItem(0, sized);
    w.model->InsertItem(1, Item("/docs/b.pdf", std::nullopt, 100.f));
    w.model->InsertItem(2, Item("/docs/c.pdf", 0.5f, 1.5f));
    w.model->InsertItem(3, Item("/docs/d.pdf", 594.5f, 2.5f));

    QCOMPARE(w.Cell(0, "Index"), QString("1"));
    QCOMPARE(w.Cell(3, "Index"), QString("4"));
    QCOMPARE(w.Cell(0, "FilePath"), QString("/docs/a.pdf"));
    QCOMPARE(w.Cell(0, "NumOfPages"), QString("12"));
    QCOMPARE(w.Cell(0, "Size"), QString("595 x 842"));
    QCOMPARE(w.Cell(1, "Size"), QString("-"));
    // Whole points, halves to even as printf rounds them.
    QCOMPARE(w.Cell(2, "Size"), QString("0 x 2"));
    QCOMPARE(w.Cell(3, "Size"), QString("594 x 2"));
    // The icon column shows the thumbnail, as a pixmap made on this thread.
    const QModelIndex icon = w.model->index(0, FileListModel::kIconColumn);
    QVERIFY(!icon.data(Qt::DisplayRole).isValid());
    QCOMPARE(icon.data(Qt::DecorationRole).typeId(), QMetaType::QPixmap);
    QVERIFY(!w.model->index(1, FileListModel::kIconColumn).data(Qt::DecorationRole).isValid());
    QVERIFY(!w.model->index(9, 0).data().isValid());
    // Never edited in place.
    QVERIFY(!(w.model->flags(w.model->index(0, 2)) & Qt::ItemIsEditable));
}

void FileListTableTest::sortToggles() {
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    w.Fill({"/b/x.pdf", "/a.pdf", "/B.pdf", "/a.pdf"});
    const QString path = QStringLiteral("FilePath");
    QCOMPARE(w.model->SortState(path), FileListModel::kNotSorted);
    w.Select({0});

    w.ClickHeader("FilePath");
    // Case-sensitive: "/B.pdf" before "/a.pdf".
    QCOMPARE(w.Paths(), (QStringList{"/B.pdf", "/a.pdf", "/a.pdf", "/b/x.pdf"}));
    QCOMPARE(w.model->SortState(path), FileListModel::kSortedAscending);
    // The selected row number stays; it now selects what stands there. Rows count from 1 still.
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{0});
    QCOMPARE(w.controller.GetSelectedItems().front().filePath, QString("/B.pdf"));
    QCOMPARE(w.Cell(0, "Index"), QString("1"));

    w.ClickHeader("FilePath");
    QCOMPARE(w.Paths(), (QStringList{"/b/x.pdf", "/a.pdf", "/a.pdf", "/B.pdf"}));
    QCOMPARE(w.model->SortState(path), FileListModel::kSortedDescending);
    w.ClickHeader("FilePath");
    QCOMPARE(w.Paths(), (QStringList{"/B.pdf", "/a.pdf", "/a.pdf", "/b/x.pdf"}));

    // Other headers do nothing; no sort indicator is drawn.
    w.ClickHeader("Size");
    w.ClickHeader("Index");
    QCOMPARE(w.Paths(), (QStringList{"/B.pdf", "/a.pdf", "/a.pdf", "/b/x.pdf"}));
    QCOMPARE(w.model->SortState(path), FileListModel::kSortedAscending);
    QVERIFY(!w.table->horizontalHeader()->isSortIndicatorShown());
    // Adding does not reset the state; the next click sorts descending.
    w.Fill({"/c.pdf"});
    w.ClickHeader("FilePath");
    QCOMPARE(w.Paths().front(), QString("/c.pdf"));
}

void FileListTableTest::removeRules() {
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    QSignalSpy states(&w.controller, &FileListController::listStateChanged);
    w.Fill({"/1.pdf", "/2.pdf", "/3.pdf", "/4.pdf", "/5.pdf", "/6.pdf"});

    // Rows 3 and 4 of six: four rows stay, and the former row 5 is selected in row 3.
    w.Select({2, 3});
    w.controller.Remove();
    QCOMPARE(w.Paths(), (QStringList{"/1.pdf", "/2.pdf", "/5.pdf", "/6.pdf"}));
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{2});
    QCOMPARE(states.count(), 1);

    // Rows apart from each other.
    w.Select({0, 2});
    w.controller.Remove();
    QCOMPARE(w.Paths(), (QStringList{"/2.pdf", "/6.pdf"}));
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{0});

    // The last row: the new last row is selected.
    w.Select({1});
    w.controller.Remove();
    QCOMPARE(w.Paths(), QStringList{"/2.pdf"});
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{0});

    // No selection: nothing removed, the last row selected.
    w.Fill({"/7.pdf", "/8.pdf"});
    w.table->clearSelection();
    w.controller.Remove();
    QCOMPARE(w.model->size(), 3);
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{2});

    // Everything selected and removed: an empty list, nothing selected.
    w.controller.SelectAll();
    QCOMPARE(w.controller.SelectedRows(), (std::vector<int>{0, 1, 2}));
    QCOMPARE(w.controller.GetSelectedItems().size(), std::size_t{3});
    w.controller.Remove();
    QCOMPARE(w.model->size(), 0);
    QVERIFY(w.controller.SelectedRows().empty());
    QVERIFY(w.controller.GetSelectedItems().empty());

    w.Fill({"/9.pdf", "/10.pdf"});
    w.controller.RemoveAll();
    QCOMPARE(w.model->size(), 0);
    QVERIFY(w.controller.GetAllItems().empty());
    QCOMPARE(states.count(), 7);
}

void FileListTableTest::selectRowRules() {
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    w.controller.SelectRowStartingAtRow(0, 1);  // empty: nothing
    QVERIFY(w.controller.SelectedRows().empty());
    w.Fill({"/1.pdf", "/2.pdf", "/3.pdf", "/4.pdf", "/5.pdf"});
    w.controller.SelectRowStartingAtRow(1, 3);
    QCOMPARE(w.controller.SelectedRows(), (std::vector<int>{1, 2, 3}));
    w.controller.SelectRowStartingAtRow(-1, 1);
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{0});
    w.controller.SelectRowStartingAtRow(7, 1);
    QCOMPARE(w.controller.SelectedRows(), std::vector<int>{4});
    w.controller.SelectRowStartingAtRow(3, 9);
    QCOMPARE(w.controller.SelectedRows(), (std::vector<int>{3, 4}));
    QCOMPARE(w.controller.GetItemsForIndexSet({4, 0, 4}).size(), std::size_t{2});
    QCOMPARE(w.controller.GetItemsForIndexSet({4, 0}).front().filePath, QString("/1.pdf"));
}

void FileListTableTest::revealShowsTheFolder() {
    testpdf::TempDir dir;
    const fs::path a = WritePdf(dir / "one" / "a.pdf");
    const fs::path b = WritePdf(dir / "two" / "b.pdf");
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    w.Fill({Q(a), Q(b)});

    // A double click reveals the file: without a file manager on the bus its folder opens; the
    // file itself is not opened.
    QTest::mouseClick(w.table->viewport(), Qt::LeftButton, {}, w.RowCentre(1));
    QTest::mouseDClick(w.table->viewport(), Qt::LeftButton, {}, w.RowCentre(1));
    QTRY_COMPARE(recorder.opened.size(), std::size_t{1});
    QCOMPARE(recorder.opened.front(), QUrl::fromLocalFile(Q(dir / "two")));

    w.Select({0});
    w.controller.RevealInFinder();
    QTRY_COMPARE(recorder.opened.size(), std::size_t{2});
    QCOMPARE(recorder.opened.back(), QUrl::fromLocalFile(Q(dir / "one")));
    // Two selected rows: nothing.
    w.Select({0, 1});
    w.controller.RevealInFinder();
    QTest::qWait(20);
    QCOMPARE(recorder.opened.size(), std::size_t{2});
}

void FileListTableTest::dropsOnTheTableBecomeRequests() {
    testpdf::TempDir dir;
    for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"}) WritePdf(dir / name);
    WritePdf(dir / "folder" / "deep" / "x.pdf");
    WritePdf(dir / "y.pdf");
    WriteBytes(dir / "notes.txt", "text");
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    QSignalSpy states(&w.controller, &FileListController::listStateChanged);
    w.controller.OpenFiles({Q(dir / "1.pdf"), Q(dir / "2.pdf"), Q(dir / "3.pdf"), Q(dir / "4.pdf"), Q(dir / "5.pdf")});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);

    // Dropped on row 2 (counting from 0): inserted there, in the dropped order, folders searched
    // at every depth, no tree kept, and exactly the new rows selected.
    std::unique_ptr<QMimeData> files(FilesMime({Q(dir / "folder"), Q(dir / "notes.txt"), Q(dir / "y.pdf")}));
    QVERIFY(DragAndDrop(w.table->viewport(), w.RowCentre(2), files.get()));
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 60000);
    QStringList names;
    for (const ImageListItem& item : w.model->items()) names << FileName(item.filePath);
    QCOMPARE(names, (QStringList{"1.pdf", "2.pdf", "x.pdf", "y.pdf", "3.pdf", "4.pdf", "5.pdf"}));
    QVERIFY(!w.model->item(2).parentFolderName);
    QCOMPARE(w.controller.SelectedRows(), (std::vector<int>{2, 3}));

    // Below the last row: at the end.
    std::unique_ptr<QMimeData> more(FilesMime({Q(dir / "y.pdf")}));
    const QRect last = w.table->visualRect(w.model->index(w.model->size() - 1, 2));
    QVERIFY(DragAndDrop(w.table->viewport(), QPoint(last.center().x(), last.bottom() + 20), more.get()));
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 3, 60000);
    QCOMPARE(w.model->size(), 8);
    QCOMPARE(FileName(w.model->item(7).filePath), QString("y.pdf"));

    // Data without files is refused.
    QMimeData words;
    words.setText("just text");
    QVERIFY(!DragAndDrop(w.table->viewport(), w.RowCentre(0), &words));
}

void FileListTableTest::ownRowsAreRefused() {
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    w.Fill({"/a.pdf", "/b.pdf"});
    QSignalSpy dropped(w.model, &FileListModel::filesDropped);
    std::unique_ptr<QMimeData> own(w.model->mimeData({w.model->index(0, 0), w.model->index(0, 2)}));
    QVERIFY(own);
    QVERIFY(w.model->IsOwnDrag(own.get()));
    QVERIFY(!w.model->canDropMimeData(own.get(), Qt::CopyAction, 1, 0, {}));
    QVERIFY(!w.model->dropMimeData(own.get(), Qt::CopyAction, 1, 0, {}));
    QVERIFY(!DragAndDrop(w.table->viewport(), w.RowCentre(1), own.get()));
    QCOMPARE(dropped.count(), 0);
    QCOMPARE(w.model->size(), 2);
    // Refusing did not make the dragged rows' files.
    QVERIFY(!static_cast<PromisedFilesMimeData*>(own.get())->dropped());
    QVERIFY(recorder.runs.empty());
    QCOMPARE(recorder.validityChecks, 0);

    // Rows of another list are not this list's own, but they carry no files (only the promise
    // of images), so there is nothing to add either.
    FileListModel other;
    other.SetDragOutStarter([](std::vector<ImageListItem>, const QString&) { return false; });
    other.InsertItem(0, Item("/c.pdf"));
    std::unique_ptr<QMimeData> foreign(other.mimeData({other.index(0, 0)}));
    QVERIFY(foreign && !w.model->IsOwnDrag(foreign.get()));
    QVERIFY(!w.model->canDropMimeData(foreign.get(), Qt::CopyAction, 0, 0, {}));
}

void FileListTableTest::dropsOverTheOverlay() {
    testpdf::TempDir dir;
    WritePdf(dir / "a.pdf");
    WritePdf(dir / "b.pdf");
    WritePdf(dir / "new.pdf");
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    QSignalSpy states(&w.controller, &FileListController::listStateChanged);
    w.controller.OpenFiles({Q(dir / "a.pdf"), Q(dir / "b.pdf")});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);

    // The busy overlay lies over the table: drops on it go where they would on the table.
    auto* overlay = new QWidget(w.table);
    overlay->setGeometry(w.table->rect());
    overlay->show();
    overlay->raise();
    w.controller.AcceptDropsOver(overlay);
    std::unique_ptr<QMimeData> files(FilesMime({Q(dir / "new.pdf")}));
    const QPoint onRowOne = overlay->mapFromGlobal(w.table->viewport()->mapToGlobal(w.RowCentre(1)));
    QVERIFY(DragAndDrop(overlay, onRowOne, files.get()));
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 60000);
    QCOMPARE(FileName(w.model->item(1).filePath), QString("new.pdf"));
    std::unique_ptr<QMimeData> own(w.model->mimeData({w.model->index(0, 0)}));
    QVERIFY(!DragAndDrop(overlay, onRowOne, own.get()));
}

void FileListTableTest::dragOutStartsARunOnlyAtTheDrop() {
    testpdf::TempDir dir;
    const fs::path added = dir / "added";
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    ImageListItem locked = Item(Q(dir / "locked.pdf"));
    locked.password = "pw";
    ImageListItem nested = Item(Q(added / "sub" / "deep" / "nested.pdf"));
    nested.parentFolderName = Q(added);
    w.model->InsertItem(0, Item(Q(dir / "plain.pdf")));
    w.model->InsertItem(1, locked);
    w.model->InsertItem(2, nested);
    w.model->InsertItem(3, Item(Q(dir / "top.tar.pdf")));
    QVERIFY(w.model->flags(w.model->index(0, 0)) & Qt::ItemIsDragEnabled);

    // Starting the drag (what the view does) promises files and makes none; a target that
    // looks at everything while the rows are over it starts nothing either.
    std::unique_ptr<QMimeData> drag(
        w.model->mimeData({w.model->index(3, 0), w.model->index(1, 0), w.model->index(1, 2), w.model->index(2, 4)}));
    QVERIFY(drag);
    QVERIFY(drag->hasFormat(PromisedFilesMimeData::kPromiseFormat));
    QCOMPARE(drag->data(PromisedFilesMimeData::kPromiseFormat), QByteArray("pdf"));
    QVERIFY(!drag->hasUrls());
    const QString out = Q(dir / "out");
    FolderDropTarget folder(out);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, drag.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&folder, &enter);
    QVERIFY(enter.isAccepted());
    QVERIFY(recorder.runs.empty());
    QCOMPARE(recorder.validityChecks, 0);

    // The drop names the folder: one run of the dragged rows, in row order, into it; the
    // target is answered each file's name without its extension.
    QVERIFY(DragAndDrop(&folder, QPoint(5, 5), drag.get()));
    QCOMPARE(recorder.validityChecks, 1);
    QCOMPARE(recorder.runs.size(), std::size_t{1});
    QCOMPARE(recorder.runFolders, QStringList{out});
    QStringList paths;
    for (const ImageListItem& item : recorder.runs.front()) paths << item.filePath;
    QCOMPARE(paths, (QStringList{Q(dir / "locked.pdf"), Q(added / "sub" / "deep" / "nested.pdf"), Q(dir / "top.tar.pdf")}));
    QCOMPARE(recorder.runs.front()[0].password, QString("pw"));
    QCOMPARE(recorder.runs.front()[1].parentFolderName.value_or(QString()), Q(added));
    QCOMPARE(folder.names, (QStringList{"locked", "nested", "top.tar"}));

    // The same drag dropped again starts nothing more.
    QVERIFY(!DragAndDrop(&folder, QPoint(5, 5), drag.get()));
    QCOMPARE(recorder.runs.size(), std::size_t{1});
}

void FileListTableTest::dragOutWithInvalidSettings() {
    Recorder recorder;
    recorder.valid = false;
    Window w(RecordingHooks(recorder));
    w.Fill({"/a.pdf"});
    std::unique_ptr<QMimeData> drag(w.model->mimeData({w.model->index(0, 0)}));
    // The window's checks refuse (their alert is shown): no names, no run.
    FolderDropTarget folder("/tmp");
    QVERIFY(!DragAndDrop(&folder, QPoint(5, 5), drag.get()));
    QCOMPARE(folder.drops, 1);
    QVERIFY(folder.names.isEmpty());
    QCOMPARE(recorder.validityChecks, 1);
    QVERIFY(recorder.runs.empty());
    QVERIFY(!w.model->mimeData({}));
}

void FileListTableTest::openPanelTakesFilesAndFolders() {
    testpdf::TempDir dir;
    WritePdf(dir / "a.pdf");
    WritePdf(dir / "B.PDF");
    WriteBytes(dir / "notes.txt", "text");
    WritePdf(dir / "sub" / "deep" / "c.pdf");
    Recorder recorder;
    Window w(RecordingHooks(recorder));
    QSignalSpy states(&w.controller, &FileListController::listStateChanged);
    AddFilesPanel* panel = w.controller.openPanel();
    QCOMPARE(panel->windowTitle(), QString("OpenDialogTitle"));
    QCOMPARE(panel->windowModality(), Qt::WindowModal);

    // The keep-tree box can be used only with recursive adding, and counts only then.
    panel->recursiveBox()->setChecked(false);
    panel->maintainBox()->setChecked(true);
    QVERIFY(!panel->maintainBox()->isEnabled());
    QVERIFY(!panel->maintainCaption()->isEnabled());
    QVERIFY(!panel->maintainDirectoryTree());
    panel->recursiveBox()->setChecked(true);
    QVERIFY(panel->maintainBox()->isEnabled() && panel->maintainCaption()->isEnabled());
    QVERIFY(panel->maintainDirectoryTree());
    QVERIFY(panel->accessoryView()->isVisibleTo(panel));

    panel->setDirectory(Q(dir.path()));
    w.controller.AddFilesOrFolder();
    QTRY_VERIFY(panel->isVisible());
    auto* view = panel->findChild<QListView*>("listView");
    QVERIFY(view);
    // Folders and accepted input files are listed, in any letter case; other files are not.
    QStringList shown;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            shown.clear();
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row)
                shown << view->model()->index(row, 0, root).data().toString();
            return shown.size() == 3;
        }(),
        20000);
    QCOMPARE(std::set<QString>(shown.begin(), shown.end()), (std::set<QString>{"B.PDF", "a.pdf", "sub"}));

    // A folder and a file chosen together.
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row) {
        const QModelIndex index = view->model()->index(row, 0, root);
        if (index.data().toString() == "sub" || index.data().toString() == "a.pdf")
            view->selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    auto* buttons = panel->findChild<QDialogButtonBox*>("buttonBox");
    QVERIFY(buttons);
    QPushButton* open = buttons->button(QDialogButtonBox::Open);
    QVERIFY(open && open->isEnabled());
    QTest::mouseClick(open, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);
    QVERIFY(!panel->isVisible());
    QCOMPARE(panel->chosenPaths().size(), 2);
    std::map<QString, QString> parents;
    for (const ImageListItem& item : w.model->items())
        parents[FileName(item.filePath)] = item.parentFolderName.value_or("none");
    QCOMPARE(parents, (std::map<QString, QString>{{"a.pdf", "none"}, {"c.pdf", Q(dir / "sub")}}));

    // Cancel adds nothing.
    w.controller.AddFilesOrFolder();
    QTRY_VERIFY(panel->isVisible());
    panel->reject();
    QTest::qWait(50);
    QVERIFY(!w.controller.isAdding());
    QCOMPARE(states.count(), 1);
}

int main(int argc, char** argv) {
    // No session bus: revealing falls back on opening the folder, and no real file manager
    // window appears.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vellipse-test-bus");
    QApplication application(argc, argv);
    FileListTableTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FileListTableTest.moc"
