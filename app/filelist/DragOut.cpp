#include "filelist/DragOut.h"

#include <QFileInfo>

PromisedFilesMimeData::PromisedFilesMimeData(const QObject* source, std::vector<ImageListItem> items,
                                             DragOutStarter start)
    : source_(source), items_(std::move(items)), start_(std::move(start)) {}

QStringList PromisedFilesMimeData::PromisedNames(const std::vector<ImageListItem>& items) {
    QStringList names;
    for (const ImageListItem& item : items) names << QFileInfo(item.filePath).completeBaseName();
    return names;
}

QStringList PromisedFilesMimeData::DropInto(const QString& folder) const {
    if (dropped_ || folder.isEmpty() || items_.empty() || !start_) return {};
    if (!start_(items_, folder)) return {};
    dropped_ = true;
    return PromisedNames(items_);
}

QStringList PromisedFilesMimeData::formats() const {
    return {QString::fromLatin1(kPromiseFormat), QString::fromLatin1(kRowsFormat)};
}

bool PromisedFilesMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

QVariant PromisedFilesMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == QLatin1String(kPromiseFormat)) return QByteArray("pdf");
    if (mimeType == QLatin1String(kRowsFormat)) return QByteArray();
    return QMimeData::retrieveData(mimeType, type);
}
