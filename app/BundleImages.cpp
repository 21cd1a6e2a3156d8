#include "BundleImages.h"

#include <QFileInfo>
#include <QPixmap>

#include <algorithm>
#include <cmath>

#include "platform/PdfDocument.h"
#include "platform/Resources.h"

QImage RenderPdfPage(const std::filesystem::path& path, int pixelSize) {
    if (path.empty() || pixelSize < 1) return {};
    auto document = platform::PdfDocument::Open(path);
    if (!document || document->PageCount() < 1) return {};
    const auto geometry = document->PageGeometry(0);
    if (!geometry) return {};
    const platform::PdfRect box = geometry->cropBox.width() > 0 && geometry->cropBox.height() > 0
                                      ? geometry->cropBox
                                      : geometry->mediaBox;
    const float longest = std::max(box.width(), box.height());
    if (!(longest > 0)) return {};

    platform::PdfDocument::RenderRequest request;
    request.scale = static_cast<float>(pixelSize) / longest;
    request.width = std::max(1, static_cast<int>(std::lround(box.width() * request.scale)));
    request.height = std::max(1, static_cast<int>(std::lround(box.height() * request.scale)));
    request.model = platform::ColorModel::Monochrome;
    const platform::Bitmap bitmap = document->RenderPage(request);
    if (!bitmap || bitmap.components != 1) return {};
    // The image wraps the rendered pixels; the copy owns them once the bitmap goes.
    const QImage wrapped(bitmap.data, bitmap.width, bitmap.height, static_cast<qsizetype>(bitmap.stride),
                         QImage::Format_Grayscale8);
    return wrapped.copy();
}

QImage TintTemplate(const QImage& grey, const QColor& colour) {
    if (grey.isNull()) return {};
    const QImage source = grey.convertToFormat(QImage::Format_Grayscale8);
    QImage tinted(source.size(), QImage::Format_ARGB32_Premultiplied);
    const int r = colour.red(), g = colour.green(), b = colour.blue(), a = colour.alpha();
    for (int y = 0; y < source.height(); ++y) {
        const uchar* in = source.constScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(tinted.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            const int alpha = (255 - in[x]) * a / 255;
            out[x] = qRgba(r * alpha / 255, g * alpha / 255, b * alpha / 255, alpha);
        }
    }
    return tinted;
}

QIcon LoadToolbarImage(const QString& resourceName, const QPalette& palette, int pointSize) {
    const std::filesystem::path path = platform::ResourcePath(resourceName.toStdString());
    if (path.empty()) return {};
    QIcon icon;
    // Drawn at one and two device pixels per point, for ordinary and dense screens.
    for (int scale : {1, 2}) {
        const QImage grey = RenderPdfPage(path, pointSize * scale);
        if (grey.isNull()) return {};
        const std::pair<QIcon::Mode, QPalette::ColorGroup> kModes[] = {
            {QIcon::Normal, QPalette::Active}, {QIcon::Active, QPalette::Active}, {QIcon::Disabled, QPalette::Disabled}};
        for (const auto& [mode, group] : kModes) {
            QPixmap pixmap = QPixmap::fromImage(TintTemplate(grey, palette.color(group, QPalette::ButtonText)));
            pixmap.setDevicePixelRatio(scale);
            icon.addPixmap(pixmap, mode);
        }
    }
    return icon;
}

QIcon ApplicationIcon() {
    QIcon icon;
    const std::filesystem::path icons = platform::ResourceDirectory().parent_path() / "icons" / "hicolor";
    for (int size : {48, 128, 256}) {
        const std::filesystem::path file = icons / (std::to_string(size) + "x" + std::to_string(size)) / "apps" /
                                           (platform::BundleIdentifier() + ".png");
        const QString name = QString::fromStdString(file.string());
        if (QFileInfo::exists(name)) icon.addFile(name, QSize(size, size));
    }
    if (icon.isNull()) icon = QIcon::fromTheme(QString::fromStdString(platform::BundleIdentifier()));
    return icon;
}
