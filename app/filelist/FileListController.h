#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "engine/ImageConversion.h"
#include "filelist/AddFilesPanel.h"
#include "filelist/DragOut.h"
#include "filelist/FileAdder.h"
#include "filelist/ImageListItem.h"
#include "filelist/PasswordSheet.h"
#include "filelist/RevealInFileManager.h"

class FileListModel;
class QModelIndex;
class QTableView;
class QWidget;

// What the file list needs from the main window.
struct FileListHooks {
    TextLookup text;  // the localisation table
    // Rows dragged out were dropped in a folder: their conversion run starts there. Empty: rows
    // are not dragged out.
    DragOutStarter dragOut;
    // Opens a URL with the desktop; empty: QDesktopServices::openUrl.
    UrlOpener openUrl;
};

// The main window's file list: the list itself (the model), the table's behaviour (sorting,
// removing, selecting, revealing, drops on it and rows dragged out of it), the adding of files
// (open panel, drops, the program's command line) and the password sheet.
//
// The table must show model(): the window sets it (so it can watch the model and the selection
// for its enabled states) right after creating the controller.
class FileListController : public QObject {
    Q_OBJECT
public:
    FileListController(QTableView* table, QWidget* window, FileListHooks hooks, QObject* parent = nullptr);
    ~FileListController() override;

    FileListModel* model() const { return model_; }
    FileAdder* adder() const { return adder_.get(); }
    PasswordSheet* passwordSheet() const { return passwordSheet_; }
    AddFilesPanel* openPanel();
    QTableView* table() const { return table_; }

    // --- Adding -----------------------------------------------------------------------------
    // The Add command: the open panel, window-modal; on OK one request with its options.
    void AddFilesOrFolder();
    // Documents opened with the program (command line, a later launch): one request at the
    // list's end as it is now; folders searched at every depth, no tree kept.
    void OpenFiles(const QStringList& paths);
    // Makes `widget` (the busy overlay over the table) take file drops as the table would: the
    // row under the pointer is the drop row.
    void AcceptDropsOver(QWidget* widget);
    bool isAdding() const;

    // --- The table --------------------------------------------------------------------------
    void Remove();
    void RemoveAll();
    void SelectAll();
    // The context menu's Show in File Manager: the selected row's file.
    void RevealInFinder();
    // The table's double click: reveals the file of the selected row, does not open it.
    void ImageListViewDoubleClick();
    // Selects `count` rows from `row` (-1 is 0) and scrolls to it; a row past the end selects
    // the last row; an empty table, nothing.
    void SelectRowStartingAtRow(int row, int count);

    // --- Items for a conversion run --------------------------------------------------------
    std::vector<int> SelectedRows() const;  // ascending
    std::vector<ImageListItem> GetSelectedItems() const;
    std::vector<ImageListItem> GetAllItems() const;
    std::vector<ImageListItem> GetItemsForIndexSet(const std::vector<int>& rows) const;

    // The folders made for dragged-out rows so far (removed when the controller goes).

signals:
    // The busy switch of one request: 1 as it starts (busy state, then the overlay), 5 as it
    // ends (overlay off, then idle state).
    void busyStateChanged(int code);
    // The list or its selection changed through a command or a request that ended: the window
    // recomputes what is enabled (ResetUIControls). Emitted after every request, also one that
    // added nothing.
    void listStateChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void AddRequestAt(const QStringList& paths, int row);
    void RequestFinished(int firstRow, int insertedCount);

    QTableView* table_;
    QPointer<QWidget> window_;
    FileListHooks hooks_;
    // The sheet belongs to the window, which may go first: the adder asks through this guard.
    class SheetPrompt : public PasswordPrompt {
    public:
        QPointer<PasswordSheet> sheet;
        void Ask(const QString& fileName, const QString& typedText,
                 std::function<void(const PasswordAnswer&)> done) override;
    };

    FileListModel* model_;
    QPointer<PasswordSheet> passwordSheet_;
    SheetPrompt prompt_;  // outlives the adder (declared before it)
    std::unique_ptr<FileAdder> adder_;
    QPointer<AddFilesPanel> panel_;
    QList<QPointer<QWidget>> dropForwarders_;
};
