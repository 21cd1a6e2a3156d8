#include "filelist/ItemBuilder.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "filelist/InputFiles.h"
#include "platform/PdfDocument.h"

std::optional<std::pair<float, float>> PageBoxSize(const platform::PdfDocument& document, int pageIndex) {
    const std::optional<platform::PdfPageGeometry> geometry = document.PageGeometry(pageIndex);
    if (!geometry) return std::nullopt;
    const platform::PdfRect& media = geometry->mediaBox;
    platform::PdfRect box = geometry->cropBox;
    const bool hasMedia = media.width() > 0 && media.height() > 0;
    if (box.width() > 0 && box.height() > 0 && hasMedia) {
        box.x0 = std::max(box.x0, media.x0);
        box.y0 = std::max(box.y0, media.y0);
        box.x1 = std::min(box.x1, media.x1);
        box.y1 = std::min(box.y1, media.y1);
    }
    if (!(box.width() > 0 && box.height() > 0)) box = media;
    if (!(box.width() > 0 && box.height() > 0)) return std::nullopt;
    return std::pair{box.width(), box.height()};
}

QImage MakePageThumbnail(const platform::PdfDocument& document, int pageIndex, int side, qreal pixelRatio) {
    const auto size = PageBoxSize(document, pageIndex);
    const auto geometry = document.PageGeometry(pageIndex);
    if (!size || !geometry || side < 1 || pixelRatio <= 0) return {};
    float width = size->first, height = size->second;
    const int turn = ((geometry->rotation % 360) + 360) % 360;
    if (turn == 90 || turn == 270) std::swap(width, height);

    const int canvas = static_cast<int>(std::lround(side * pixelRatio));
    const int inner = std::max(1, canvas - 2);  // room for the frame
    const float scale = std::min(inner / width, inner / height);
    platform::PdfDocument::RenderRequest request;
    request.pageIndex = pageIndex;
    request.scale = scale;
    request.width = std::clamp(static_cast<int>(std::lround(width * scale)), 1, inner);
    request.height = std::clamp(static_cast<int>(std::lround(height * scale)), 1, inner);
    request.model = platform::ColorModel::RGB;
    const platform::Bitmap page = document.RenderPage(request);
    if (!page || page.components != 3) return {};

    const QImage drawn(page.data, page.width, page.height, static_cast<qsizetype>(page.stride), QImage::Format_RGB888);
    QImage thumbnail(canvas, canvas, QImage::Format_ARGB32_Premultiplied);
    thumbnail.fill(Qt::transparent);
    {
        QPainter painter(&thumbnail);
        const QRect target((canvas - page.width) / 2, (canvas - page.height) / 2, page.width, page.height);
        painter.drawImage(target.topLeft(), drawn);  // copies the pixels while the bitmap lives
        painter.setPen(QColor(0, 0, 0, 64));
        painter.drawRect(target.adjusted(-1, -1, 0, 0));
    }
    thumbnail.setDevicePixelRatio(pixelRatio);
    return thumbnail;
}

std::optional<ImageListItem> MakeImageListItem(const QString& path, const QString* addedFolder, bool maintainTree,
                                               const PasswordQuestion& askPassword) {
    if (!IsSupportedInputFile(path)) return std::nullopt;
    std::unique_ptr<platform::PdfDocument> document = platform::PdfDocument::Open(ToFsPath(path));
    if (!document) return std::nullopt;

    std::string password;
    if (document->IsEncrypted()) {
        if (!(document->Unlock("") && document->AllowsCopying())) {
            std::optional<std::string> answer;
            if (askPassword) answer = askPassword(*document, QFileInfo(path).fileName());
            if (!answer) return std::nullopt;
            password = *answer;
        }
    }
    if (!document->IsUnlocked()) return std::nullopt;
    // A document without pages is listed too: it shows no size and no thumbnail.
    const int pages = std::max(document->PageCount(), 0);

    ImageListItem item;
    item.filePath = QFileInfo(path).absoluteFilePath();
    item.numOfPages = pages;
    item.password = QString::fromStdString(password);
    if (const auto size = PageBoxSize(*document, 0)) {
        item.width = size->first;
        item.height = size->second;
    }
    item.icon = MakePageThumbnail(*document, 0);
    if (maintainTree && addedFolder) item.parentFolderName = QFileInfo(*addedFolder).absoluteFilePath();
    return item;
}
