#include "filelist/FileListController.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QTableView>

#include <algorithm>
#include <climits>
#include <set>

#include "filelist/AddFilesPanel.h"
#include "filelist/FileListModel.h"
#include "filelist/PasswordSheet.h"

FileListController::FileListController(QTableView* table, QWidget* window, FileListHooks hooks, QObject* parent)
    : QObject(parent), table_(table), window_(window), hooks_(std::move(hooks)) {
    hooks_.text = TextsOrKeys(std::move(hooks_.text));
    model_ = new FileListModel(hooks_.text, this);
    passwordSheet_ = new PasswordSheet(window, hooks_.text);
    prompt_.sheet = passwordSheet_;
    adder_ = std::make_unique<FileAdder>(model_, &prompt_);

    model_->SetDragOutStarter(hooks_.dragOut);

    connect(adder_.get(), &FileAdder::busyStateChanged, this, &FileListController::busyStateChanged);
    connect(adder_.get(), &FileAdder::requestFinished, this, &FileListController::RequestFinished);
    connect(model_, &FileListModel::filesDropped, this, &FileListController::AddRequestAt);

    if (table_) {
        // Rows are offered to other programs (as the files they convert into) and files and
        // folders from elsewhere are taken; rows are never moved within the list.
        table_->setDragEnabled(true);
        table_->setAcceptDrops(true);
        table_->viewport()->setAcceptDrops(true);
        table_->setDropIndicatorShown(true);
        table_->setDragDropMode(QAbstractItemView::DragDrop);
        table_->setDefaultDropAction(Qt::CopyAction);
        table_->setDragDropOverwriteMode(false);
        table_->setSortingEnabled(false);
        table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        QHeaderView* header = table_->horizontalHeader();
        header->setSortIndicatorShown(false);
        header->setSectionsClickable(true);
        connect(header, &QHeaderView::sectionClicked, model_, &FileListModel::HeaderClicked);
        connect(table_, &QAbstractItemView::doubleClicked, this, &FileListController::ImageListViewDoubleClick);
    }
}

FileListController::~FileListController() {
    for (const QPointer<QWidget>& widget : dropForwarders_)
        if (widget) widget->removeEventFilter(this);
    adder_.reset();  // ends the adding thread while the sheet still exists
}

void FileListController::SheetPrompt::Ask(const QString& fileName, const QString& typedText,
                                          std::function<void(const PasswordAnswer&)> done) {
    if (sheet)
        sheet->Ask(fileName, typedText, std::move(done));
    else
        done(PasswordAnswer{PasswordAnswer::Button::Cancel, false, {}});
}

AddFilesPanel* FileListController::openPanel() {
    if (!panel_) panel_ = new AddFilesPanel(window_, hooks_.text);
    return panel_;
}

bool FileListController::isAdding() const { return adder_->isBusy(); }

void FileListController::AddFilesOrFolder() {
    AddFilesPanel* panel = openPanel();
    panel->Begin([this, panel] {
        AddRequest request;
        request.paths = panel->chosenPaths();
        request.recursive = panel->addRecursively();
        request.maintainTree = panel->maintainDirectoryTree();
        adder_->Add(std::move(request));  // at the list's end when the request starts
    });
}

void FileListController::OpenFiles(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths)
        if (!path.isEmpty()) files.push_back(path);
    if (files.isEmpty()) return;
    AddRequestAt(files, model_->size());
}

void FileListController::AddRequestAt(const QStringList& paths, int row) {
    AddRequest request;
    request.paths = paths;
    request.index = row;
    request.recursive = true;
    request.maintainTree = false;
    adder_->Add(std::move(request));
}

void FileListController::RequestFinished(int firstRow, int insertedCount) {
    // A request that added nothing leaves the selection as it was.
    if (insertedCount > 0) SelectRowStartingAtRow(firstRow, insertedCount);
    emit listStateChanged();
}

void FileListController::AcceptDropsOver(QWidget* widget) {
    if (!widget) return;
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
    dropForwarders_.push_back(widget);
}

bool FileListController::eventFilter(QObject* watched, QEvent* event) {
    const bool forwarded = std::any_of(dropForwarders_.begin(), dropForwarders_.end(),
                                       [watched](const QPointer<QWidget>& w) { return w == watched; });
    if (!forwarded) return QObject::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (model_->canDropMimeData(drag->mimeData(), Qt::CopyAction, -1, -1, {})) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            int row = model_->size();
            if (table_) {
                auto* widget = static_cast<QWidget*>(watched);
                const QPoint at = table_->viewport()->mapFromGlobal(widget->mapToGlobal(drop->position().toPoint()));
                const QModelIndex index = table_->indexAt(at);
                if (index.isValid()) row = index.row();
            }
            if (model_->dropMimeData(drop->mimeData(), Qt::CopyAction, row, 0, {})) {
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
            } else {
                drop->ignore();
            }
            return true;
        }
        default: return QObject::eventFilter(watched, event);
    }
}

std::vector<int> FileListController::SelectedRows() const {
    std::set<int> rows;
    if (table_ && table_->selectionModel())
        for (const QModelIndex& index : table_->selectionModel()->selectedIndexes()) rows.insert(index.row());
    return {rows.begin(), rows.end()};
}

void FileListController::SelectRowStartingAtRow(int row, int count) {
    if (!table_ || !table_->selectionModel()) return;
    const int rows = model_->size();
    if (row < 0) row = 0;
    int first = -1, last = -1;
    if (row < rows) {
        first = row;
        last = std::min(rows - 1, row + std::max(count, 1) - 1);
    } else if (rows > 0) {
        first = last = rows - 1;
    } else {
        return;
    }
    QItemSelectionModel* selection = table_->selectionModel();
    const QItemSelection range(model_->index(first, 0), model_->index(last, FileListModel::kColumnCount - 1));
    selection->select(range, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    selection->setCurrentIndex(model_->index(first, 0), QItemSelectionModel::NoUpdate);
    table_->scrollTo(model_->index(first, 0));
}

void FileListController::Remove() {
    const std::vector<int> rows = SelectedRows();
    // Without a selection nothing is removed and the last row gets selected.
    const int first = rows.empty() ? INT_MAX : rows.front();
    model_->RemoveRows(rows);
    if (model_->size() > 0) SelectRowStartingAtRow(first, 1);
    emit listStateChanged();
}

void FileListController::RemoveAll() {
    model_->RemoveAll();
    emit listStateChanged();
}

void FileListController::SelectAll() {
    if (table_) table_->selectAll();
    emit listStateChanged();
}

void FileListController::RevealInFinder() {
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1) return;
    RevealInFileManager(model_->item(rows.front()).filePath, hooks_.openUrl);
}

void FileListController::ImageListViewDoubleClick() {
    if (!table_ || !table_->selectionModel()) return;
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) return;
    // The row last clicked when it is selected, else the first selected one.
    const QModelIndex current = table_->selectionModel()->currentIndex();
    const int row = current.isValid() && std::binary_search(rows.begin(), rows.end(), current.row()) ? current.row()
                                                                                                    : rows.front();
    const ImageListItem& item = model_->item(row);
    if (!item.filePath.isEmpty()) RevealInFileManager(item.filePath, hooks_.openUrl);
}

std::vector<ImageListItem> FileListController::GetSelectedItems() const { return model_->ItemsForRows(SelectedRows()); }

std::vector<ImageListItem> FileListController::GetAllItems() const { return model_->items(); }

std::vector<ImageListItem> FileListController::GetItemsForIndexSet(const std::vector<int>& rows) const {
    return model_->ItemsForRows(rows);
}
