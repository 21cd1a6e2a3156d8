#include "VerticallyCenteredTextFieldCell.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

QRectF VerticallyCenteredTextFieldCell::CenteredTextRect(const QRectF& frame, qreal textHeight) {
    const QRectF strip(frame.x(), frame.y() + (frame.height() - textHeight) * 0.5, frame.width(), textHeight);
    return frame.intersected(strip);
}

void VerticallyCenteredTextFieldCell::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                            const QModelIndex& index) const {
    QStyleOptionViewItem full = option;
    initStyleOption(&full, index);
    QStyle* style = full.widget ? full.widget->style() : QApplication::style();

    // Background and selection over the whole cell.
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &full, painter, full.widget);

    // The contents in the centred strip.
    const QSize contents = QStyledItemDelegate::sizeHint(full, index);
    QStyleOptionViewItem inner = full;
    inner.rect = CenteredTextRect(QRectF(full.rect), contents.height()).toAlignedRect() & full.rect;
    inner.displayAlignment = (full.displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
    inner.state &= ~QStyle::State_HasFocus;
    style->drawControl(QStyle::CE_ItemViewItem, &inner, painter, inner.widget);
}
