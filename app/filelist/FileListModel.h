#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <QStringList>

#include <memory>
#include <vector>

#include "filelist/DragOut.h"
#include "filelist/ImageListItem.h"

// The file list and the table's view of it. Lives on the GUI thread: every change is made
// here, so the table never sees a half-changed list. The list keeps the order in which items
// were inserted (until a sort) and does not look for duplicates.
//
// Columns, told apart by their identifiers (the header's Qt::UserRole): "Index" (the row
// number from 1), "Icon" (the item's thumbnail), "FilePath" (the full path), "NumOfPages" and
// "Size" ("595 x 842", or "-" without a first-page size). Only "FilePath" sorts: the first
// click on its header sorts ascending, later clicks alternate; no indicator is drawn, and the
// selected row numbers stay as they are.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column : int { kIndexColumn, kIconColumn, kFilePathColumn, kNumOfPagesColumn, kSizeColumn, kColumnCount };
    static constexpr int kIdentifierRole = Qt::UserRole;
    // Sort states of a column.
    static constexpr int kNotSorted = 0;
    static constexpr int kSortedAscending = 1;
    static constexpr int kSortedDescending = 2;

    explicit FileListModel(TextLookup text = {}, QObject* parent = nullptr);

    static QString ColumnIdentifier(int column);
    static int ColumnForIdentifier(const QString& identifier);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // --- The list ---------------------------------------------------------------------------
    int size() const { return static_cast<int>(rows_.size()); }
    bool empty() const { return rows_.empty(); }
    const ImageListItem& item(int row) const { return rows_.at(static_cast<std::size_t>(row)).item; }
    std::vector<ImageListItem> items() const;
    // The items at the given rows in ascending row order; rows out of range are ignored.
    std::vector<ImageListItem> ItemsForRows(std::vector<int> rows) const;
    // Inserts at `position` (the end when beyond it or negative); answers the row it took.
    int InsertItem(int position, ImageListItem item);
    // Removes the items at the given rows (any order; duplicates and rows out of range ignored).
    void RemoveRows(std::vector<int> rows);
    void RemoveAll();

    // --- Sorting ----------------------------------------------------------------------------
    // Creates the sort state: "FilePath" not sorted.
    void InitSortingInfo();
    int SortState(const QString& identifier) const;
    // A click on a header section.
    void HeaderClicked(int section);

    // --- Drag and drop ----------------------------------------------------------------------
    // What a drop of rows dragged out starts; without it rows are not dragged out.
    void SetDragOutStarter(DragOutStarter start);
    // Whether the data come from this list's own rows (such drops are refused).
    bool IsOwnDrag(const QMimeData* data) const;

    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // The local files of a drop, in the order given; empty when it carries none.
    static QStringList DroppedPaths(const QMimeData* data);

signals:
    // Files and folders were dropped on the table; the first new item is to go to `row`.
    void filesDropped(const QStringList& paths, int row);

private:
    struct Row {
        ImageListItem item;
        QPixmap icon;
    };
    QString CellText(int row, int column) const;
    void Sort(bool ascending);

    TextLookup text_;
    std::vector<Row> rows_;
    QHash<QString, int> sortingInfo_;
    DragOutStarter dragOut_;
};
