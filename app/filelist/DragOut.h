#pragma once

#include <QMimeData>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/ImageConversion.h"
#include "filelist/ImageListItem.h"

// Rows dragged out of the list are promised files: the drag announces them at once and makes
// nothing; when the rows are dropped in a folder, the drop target names the folder through the
// promise's drop entry (DropInto), a conversion run of the dragged rows into that folder starts,
// and the target is answered the names of the promised files.

// The engine's entry, replaceable in tests.
using PdfConverter = std::function<std::uint8_t(const ImageConversion* record)>;

// Starts the run of dragged-out rows into a drop folder; false when no run starts (the settings
// are invalid and their alert was shown, or a run is in progress).
using DragOutStarter = std::function<bool(std::vector<ImageListItem> items, const QString& folder)>;

// The drag's data. Asking for its formats or data during the drag starts nothing.
class PromisedFilesMimeData : public QMimeData {
    Q_OBJECT
public:
    // The list's own rows (drops of them on the list are refused).
    static constexpr const char* kRowsFormat = "application/x-vellipse-list-rows";
    // The promise: its data is the file type of the promised files' sources, "pdf".
    static constexpr const char* kPromiseFormat = "application/x-vellipse-promised-files";

    PromisedFilesMimeData(const QObject* source, std::vector<ImageListItem> items, DragOutStarter start);

    const QObject* source() const { return source_; }
    const std::vector<ImageListItem>& items() const { return items_; }

    // The drop entry: the rows were dropped in `folder`. Starts their run (once per drag) and
    // answers the promised names, each dragged file's name without its extension; empty when
    // no run started.
    QStringList DropInto(const QString& folder) const;
    // Whether a drop has started the run.
    bool dropped() const { return dropped_; }

    // The promised names of `items`, in their order.
    static QStringList PromisedNames(const std::vector<ImageListItem>& items);

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const QObject* source_;
    std::vector<ImageListItem> items_;
    DragOutStarter start_;
    mutable bool dropped_ = false;
};
