#pragma once

#include <QStyledItemDelegate>

// A table cell that draws its text centred vertically in the cell; a text taller than the cell
// is drawn in the cell itself. The row's background and selection fill the whole cell.
class VerticallyCenteredTextFieldCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The frame's strip of the text's height, centred vertically, clipped to the frame.
    static QRectF CenteredTextRect(const QRectF& frame, qreal textHeight);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
