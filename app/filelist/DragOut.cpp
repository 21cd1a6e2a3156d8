#include "filelist/DragOut.h"

#include <QByteArray>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <cstdlib>
#include <filesystem>

#include "filelist/InputFiles.h"

namespace fs = std::filesystem;

bool CompleteRecordForItem(ImageConversion& record, const ImageListItem& item, const QString& destination) {
    if (item.filePath.isEmpty() || destination.isEmpty()) return false;
    record.sourceURL = ToFsPath(item.filePath);
    record.conversionOptions.password = item.password.toStdString();

    fs::path output = ToFsPath(destination);
    if (item.parentFolderName) {
        // The sub-folders between the added folder and the file, mirrored below the destination.
        const fs::path parent = ToFsPath(*item.parentFolderName).lexically_normal();
        const fs::path relative = ToFsPath(item.filePath).lexically_normal().parent_path().lexically_relative(parent);
        if (!relative.empty() && relative != "." && *relative.begin() != "..") output /= relative;
    }
    std::error_code ec;
    fs::create_directories(output, ec);
    if (ec || !fs::is_directory(output, ec)) return false;
    record.outputFolderURL = output;
    return true;
}

QStringList ConvertItemsIntoFolder(const std::vector<ImageListItem>& items, const QString& folder,
                                   const ImageConversion& settings, const RecordCompleter& complete,
                                   const PdfConverter& convert) {
    for (const ImageListItem& item : items) {
        ImageConversion record = settings;
        record.progressCallback = {};
        const bool ready = complete ? complete(record, item, folder) : CompleteRecordForItem(record, item, folder);
        if (!ready) continue;
        if (convert)
            convert(&record);
        else
            ConvertPDFToImages(&record);
    }

    QStringList files;
    std::error_code ec;
    for (fs::directory_iterator it(ToFsPath(folder), ec), end; !ec && it != end; it.increment(ec))
        files.push_back(FromFsPath(it->path()));
    files.sort();
    return files;
}

QString MakeDragOutFolder() {
    QByteArray pattern = QFile::encodeName(QDir::tempPath() + QStringLiteral("/vellipse-drag-XXXXXX"));
    if (!mkdtemp(pattern.data())) return {};
    return QFile::decodeName(pattern);
}

PromisedFilesMimeData::PromisedFilesMimeData(const QObject* source, std::vector<ImageListItem> items,
                                             std::shared_ptr<const DragOutConversion> conversion)
    : source_(source), items_(std::move(items)), conversion_(std::move(conversion)) {}

QStringList PromisedFilesMimeData::formats() const {
    return {QStringLiteral("text/uri-list"), QString::fromLatin1(kRowsFormat)};
}

bool PromisedFilesMimeData::hasFormat(const QString& mimeType) const { return formats().contains(mimeType); }

QVariant PromisedFilesMimeData::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType == QLatin1String(kRowsFormat)) return QByteArray();
    if (mimeType != QLatin1String("text/uri-list")) return QMimeData::retrieveData(mimeType, type);
    const QList<QUrl>& files = Files();
    if (type.id() == QMetaType::QByteArray || type.id() == QMetaType::QString) {
        QByteArray list;
        for (const QUrl& url : files) list += url.toEncoded() + "\r\n";
        if (type.id() == QMetaType::QString) return QString::fromUtf8(list);
        return list;
    }
    QList<QVariant> urls;
    for (const QUrl& url : files) urls.push_back(url);
    return urls;
}

const QList<QUrl>& PromisedFilesMimeData::Files() const {
    if (converted_) return *converted_;
    converted_.emplace();
    if (!conversion_ || items_.empty()) return *converted_;
    // The same checks as before a conversion run: invalid settings show their alert and the
    // drop gets no files.
    if (conversion_->settingsValid && !conversion_->settingsValid()) return *converted_;
    folder_ = conversion_->makeFolder ? conversion_->makeFolder() : MakeDragOutFolder();
    if (folder_.isEmpty()) return *converted_;

    const ImageConversion settings = conversion_->settings ? conversion_->settings() : ImageConversion{};
    const bool showBusy = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    if (showBusy) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const QStringList files = ConvertItemsIntoFolder(items_, folder_, settings, conversion_->complete, conversion_->convert);
    if (showBusy) QGuiApplication::restoreOverrideCursor();
    for (const QString& file : files) converted_->push_back(QUrl::fromLocalFile(file));
    return *converted_;
}
