#pragma once

#include <QMimeData>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/ImageConversion.h"
#include "filelist/ImageListItem.h"

// Rows dragged out of the list become image files where they are dropped. A drop target asks
// for the drag's file list only when it takes the drop: then the rows are converted into a
// fresh folder and that folder's files are handed over (a file manager copies them to where
// they were dropped).

// The engine's entry, replaceable in tests.
using PdfConverter = std::function<std::uint8_t(const ImageConversion* record)>;

// Completes the settings record for one item: its file, its password and the folder its images
// go into, below `destination`. False when the item cannot be converted.
using RecordCompleter = std::function<bool(ImageConversion& record, const ImageListItem& item, const QString& destination)>;

// The default completion: the item's file and password; its images go into `destination`, or,
// for an item found in an added folder whose tree is kept, into the same sub-folders below it
// (created as needed).
bool CompleteRecordForItem(ImageConversion& record, const ImageListItem& item, const QString& destination);

// Converts each item with a copy of `settings` completed by `complete` (the default above when
// empty) and answers the entries of `folder` afterwards, in name order, as absolute paths.
// Progress is neither reported nor cancellable: the record's progress target is cleared.
QStringList ConvertItemsIntoFolder(const std::vector<ImageListItem>& items, const QString& folder,
                                   const ImageConversion& settings, const RecordCompleter& complete = {},
                                   const PdfConverter& convert = {});

// What a drag-out needs from the window.
struct DragOutConversion {
    // Whether the window's settings can be used; shows its own alert when not.
    std::function<bool()> settingsValid;
    // The window's current settings as a record.
    std::function<ImageConversion()> settings;
    RecordCompleter complete;  // empty: CompleteRecordForItem
    PdfConverter convert;      // empty: ConvertPDFToImages
    // A fresh folder for one drag's images; "" when none could be made. Empty: one of
    // MakeDragOutFolder's.
    std::function<QString()> makeFolder;
};

// A new folder under the temporary folder, "" on failure.
QString MakeDragOutFolder();

// The drag's data: formats are announced at once, the files are made on the first request for
// them, on the GUI thread, and the same list is answered to later requests.
class PromisedFilesMimeData : public QMimeData {
    Q_OBJECT
public:
    static constexpr const char* kRowsFormat = "application/x-vellipse-list-rows";

    PromisedFilesMimeData(const QObject* source, std::vector<ImageListItem> items,
                          std::shared_ptr<const DragOutConversion> conversion);

    const QObject* source() const { return source_; }
    const std::vector<ImageListItem>& items() const { return items_; }
    // Whether the files were made (or tried) already.
    bool converted() const { return converted_.has_value(); }
    QString folder() const { return folder_; }

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    const QList<QUrl>& Files() const;

    const QObject* source_;
    std::vector<ImageListItem> items_;
    std::shared_ptr<const DragOutConversion> conversion_;
    mutable std::optional<QList<QUrl>> converted_;
    mutable QString folder_;
};
