#include "LockImage.h"

#include <QPainter>
#include <QPainterPath>

QPixmap LockImage(const QPalette& palette, QSize size) {
    QPixmap pixmap(size * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 16 × 18 grid, scaled to the size asked for.
    painter.scale(size.width() / 16.0, size.height() / 18.0);
    const QColor ink = palette.color(QPalette::WindowText);
    painter.setPen(QPen(ink, 1.6));
    painter.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(4.5, 9);
    shackle.lineTo(4.5, 5.5);
    shackle.arcTo(QRectF(4.5, 1.5, 7, 8), 180, -180);
    shackle.lineTo(11.5, 9);
    painter.drawPath(shackle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(2.5, 8.5, 11, 8.5), 1.5, 1.5);
    return pixmap;
}
