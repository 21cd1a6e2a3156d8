#include "filelist/FileListModel.h"

#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

struct ColumnInfo {
    const char* identifier;
    const char* titleKey;
};

constexpr ColumnInfo kColumns[FileListModel::kColumnCount] = {
    {"Index", "IndexColumnTitle"},         {"Icon", "IconColumnTitle"}, {"FilePath", "FilePathColumnTitle"},
    {"NumOfPages", "NumOfPagesColumnTitle"}, {"Size", "SizeColumnTitle"},
};

}  // namespace

FileListModel::FileListModel(TextLookup text, QObject* parent) : QAbstractTableModel(parent), text_(TextsOrKeys(std::move(text))) {
    InitSortingInfo();
}

QString FileListModel::ColumnIdentifier(int column) {
    if (column < 0 || column >= kColumnCount) return {};
    return QString::fromLatin1(kColumns[column].identifier);
}

int FileListModel::ColumnForIdentifier(const QString& identifier) {
    for (int column = 0; column < kColumnCount; ++column)
        if (identifier == QLatin1String(kColumns[column].identifier)) return column;
    return -1;
}

int FileListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : size(); }

int FileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString FileListModel::CellText(int row, int column) const {
    const ImageListItem& it = item(row);
    switch (column) {
        case kIndexColumn: return QString::asprintf("%d", row + 1);
        case kFilePathColumn: return it.filePath;
        case kNumOfPagesColumn: return QString::asprintf("%lld", static_cast<long long>(it.numOfPages));
        case kSizeColumn:
            if (!it.width || !it.height) return QStringLiteral("-");
        {
            // The C library's formatting: exact halves round to even.
            char text[96];
            std::snprintf(text, sizeof text, "%.0f x %.0f", static_cast<double>(*it.width), static_cast<double>(*it.height));
            return QString::fromLatin1(text);
        }
        default: return {};
    }
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= size() || index.column() >= kColumnCount) return {};
    if (index.column() == kIconColumn) {
        if (role != Qt::DecorationRole) return {};
        const QPixmap& icon = rows_[static_cast<std::size_t>(index.row())].icon;
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    if (role == Qt::DisplayRole) return CellText(index.row(), index.column());
    if (role == Qt::ToolTipRole && index.column() == kFilePathColumn) return item(index.row()).filePath;
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
    if (role == kIdentifierRole) return ColumnIdentifier(section);
    if (role == Qt::DisplayRole) {
        const char* key = kColumns[section].titleKey;
        return text_(key);
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    // Cells are never edited in place; drops are taken on rows and between them.
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled | Qt::ItemNeverHasChildren;
    if (dragOut_) f |= Qt::ItemIsDragEnabled;
    return f;
}

std::vector<ImageListItem> FileListModel::items() const {
    std::vector<ImageListItem> out;
    out.reserve(rows_.size());
    for (const Row& row : rows_) out.push_back(row.item);
    return out;
}

std::vector<ImageListItem> FileListModel::ItemsForRows(std::vector<int> rows) const {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    std::vector<ImageListItem> out;
    for (int row : rows)
        if (row >= 0 && row < size()) out.push_back(item(row));
    return out;
}

int FileListModel::InsertItem(int position, ImageListItem item) {
    if (position < 0 || position > size()) position = size();
    beginInsertRows({}, position, position);
    Row row{std::move(item), {}};
    if (!row.item.icon.isNull()) row.icon = QPixmap::fromImage(row.item.icon);
    rows_.insert(rows_.begin() + position, std::move(row));
    endInsertRows();
    return position;
}

void FileListModel::RemoveRows(std::vector<int> rows) {
    std::set<int, std::greater<>> doomed;
    for (int row : rows)
        if (row >= 0 && row < size()) doomed.insert(row);
    // Contiguous runs, from the bottom up, so that the rows above keep their numbers.
    auto it = doomed.begin();
    while (it != doomed.end()) {
        const int last = *it;
        int first = last;
        ++it;
        while (it != doomed.end() && *it == first - 1) first = *it++;
        beginRemoveRows({}, first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        endRemoveRows();
    }
}

void FileListModel::RemoveAll() {
    if (rows_.empty()) return;
    beginRemoveRows({}, 0, size() - 1);
    rows_.clear();
    endRemoveRows();
}

void FileListModel::InitSortingInfo() {
    sortingInfo_.clear();
    sortingInfo_.insert(ColumnIdentifier(kFilePathColumn), kNotSorted);
}

int FileListModel::SortState(const QString& identifier) const { return sortingInfo_.value(identifier, kNotSorted); }

void FileListModel::HeaderClicked(int section) {
    const QString identifier = ColumnIdentifier(section);
    if (identifier != ColumnIdentifier(kFilePathColumn)) return;
    const bool ascending = SortState(identifier) != kSortedAscending;
    Sort(ascending);
    sortingInfo_.insert(identifier, ascending ? kSortedAscending : kSortedDescending);
}

void FileListModel::Sort(bool ascending) {
    // The rows are reordered under the same row numbers: the selection stays on its rows, and
    // so now selects whichever items stand there.
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::stable_sort(rows_.begin(), rows_.end(), [ascending](const Row& a, const Row& b) {
        const int order = QString::compare(a.item.filePath, b.item.filePath, Qt::CaseSensitive);
        return ascending ? order < 0 : order > 0;
    });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void FileListModel::SetDragOutStarter(DragOutStarter start) { dragOut_ = std::move(start); }

bool FileListModel::IsOwnDrag(const QMimeData* data) const {
    if (!data) return false;
    if (const auto* own = qobject_cast<const PromisedFilesMimeData*>(data)) return own->source() == this;
    return false;
}

Qt::DropActions FileListModel::supportedDropActions() const { return Qt::CopyAction; }

Qt::DropActions FileListModel::supportedDragActions() const { return Qt::CopyAction; }

QStringList FileListModel::mimeTypes() const { return {QStringLiteral("text/uri-list")}; }

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const {
    if (!dragOut_) return nullptr;
    std::vector<int> rows;
    for (const QModelIndex& index : indexes)
        if (index.isValid()) rows.push_back(index.row());
    std::vector<ImageListItem> dragged = ItemsForRows(std::move(rows));
    if (dragged.empty()) return nullptr;
    return new PromisedFilesMimeData(this, std::move(dragged), dragOut_);
}

QStringList FileListModel::DroppedPaths(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) paths.push_back(url.toLocalFile());
    return paths;
}

bool FileListModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int, const QModelIndex&) const {
    // Rows cannot be moved within the list; anything else must carry files.
    if (!data || IsOwnDrag(data)) return false;
    if (!(action & (Qt::CopyAction | Qt::MoveAction | Qt::LinkAction))) return false;
    return data->hasUrls();
}

bool FileListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                                 const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) return false;
    const QStringList paths = DroppedPaths(data);
    if (paths.isEmpty()) return false;
    // On a row or above it makes no difference: the new items start at that row.
    if (row < 0) row = parent.isValid() ? parent.row() : size();
    emit filesDropped(paths, std::min(row, size()));
    return true;
}
