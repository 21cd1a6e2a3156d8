#include "filelist/AddFilesPanel.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSortFilterProxyModel>

#include <algorithm>

#include "filelist/InputFiles.h"

namespace {

// Lists folders and the files the input test takes; the same test decides what is added.
class InputFileFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        const QModelIndex index = files->index(sourceRow, 0, sourceParent);
        if (files->isDir(index)) return true;
        return IsSupportedInputFile(files->filePath(index));
    }
};

}  // namespace

AddFilesPanel::AddFilesPanel(QWidget* window, TextLookup lookup) : QFileDialog(window) {
    const TextLookup text = TextsOrKeys(std::move(lookup));
    setObjectName(QStringLiteral("addFilesPanel"));
    setOption(QFileDialog::DontUseNativeDialog, true);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setWindowTitle(text("OpenDialogTitle"));
    setLabelText(QFileDialog::Accept, text("OpenDialogButton"));
    setProxyModel(new InputFileFilter(this));
    setWindowModality(Qt::WindowModal);

    mMaintainDirAccessoryView = new QWidget(this);
    mMaintainDirAccessoryView->setObjectName(QStringLiteral("mMaintainDirAccessoryView"));
    mAddRecursiveCheckBoxButton = new QCheckBox(text("AddRecursiveCheckBoxTitle"), mMaintainDirAccessoryView);
    mAddRecursiveCheckBoxButton->setObjectName(QStringLiteral("mAddRecursiveCheckBoxButton"));
    mMaintainDirCheckBoxButton = new QCheckBox(mMaintainDirAccessoryView);
    mMaintainDirCheckBoxButton->setObjectName(QStringLiteral("mMaintainDirCheckBoxButton"));
    mMaintainDirEditBox = new QLabel(text("MaintainDirTreeTitle"), mMaintainDirAccessoryView);
    mMaintainDirEditBox->setObjectName(QStringLiteral("mMaintainDirEditBox"));
    mMaintainDirEditBox->setBuddy(mMaintainDirCheckBoxButton);

    auto* row = new QHBoxLayout(mMaintainDirAccessoryView);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(mAddRecursiveCheckBoxButton);
    row->addSpacing(16);
    row->addWidget(mMaintainDirCheckBoxButton);
    row->addWidget(mMaintainDirEditBox);
    row->addStretch(1);
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(mMaintainDirAccessoryView, grid->rowCount(), 0, 1, grid->columnCount());

    connect(mAddRecursiveCheckBoxButton, &QCheckBox::toggled, this, &AddFilesPanel::AddRecursiveCheckAction);
    AddRecursiveCheckAction();
}

void AddFilesPanel::AddRecursiveCheckAction() {
    const bool on = mAddRecursiveCheckBoxButton->isChecked();
    // The keep-tree box keeps its own state either way; it is only greyed out.
    mMaintainDirCheckBoxButton->setEnabled(on);
    mMaintainDirEditBox->setEnabled(on);
}

bool AddFilesPanel::addRecursively() const { return mAddRecursiveCheckBoxButton->isChecked(); }

bool AddFilesPanel::maintainDirectoryTree() const {
    return mAddRecursiveCheckBoxButton->isChecked() && mMaintainDirCheckBoxButton->isChecked();
}

QStringList AddFilesPanel::chosenPaths() const { return chosen_; }

QStringList AddFilesPanel::SelectedInView() const {
    // The view on show (list or detail) with its selection of files and folders.
    QStringList paths;
    for (const char* name : {"listView", "treeView"}) {
        const auto* view = findChild<QAbstractItemView*>(QString::fromLatin1(name));
        if (!view || !view->isVisible() || !view->selectionModel()) continue;
        QModelIndexList rows = view->selectionModel()->selectedRows(0);
        std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        for (const QModelIndex& index : rows) {
            const QString path = index.data(QFileSystemModel::FilePathRole).toString();
            if (!path.isEmpty()) paths.push_back(path);
        }
        if (!paths.isEmpty()) break;
    }
    return paths;
}

void AddFilesPanel::accept() {
    // A selection in the view is taken as it is, folders included; the file dialog itself would
    // open a selected folder instead of choosing it.
    const QStringList selected = SelectedInView();
    if (!selected.isEmpty()) {
        chosen_ = selected;
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

void AddFilesPanel::Begin(std::function<void()> accepted) {
    chosen_.clear();
    disconnect(finished_);
    finished_ = connect(this, &QDialog::finished, this, [this, accepted = std::move(accepted)](int result) {
        disconnect(finished_);
        if (result != QDialog::Accepted) return;
        if (chosen_.isEmpty()) chosen_ = selectedFiles();
        if (!chosen_.isEmpty() && accepted) accepted();
    });
    open();
}
