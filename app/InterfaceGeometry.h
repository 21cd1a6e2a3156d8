#pragma once

#include <QRect>
#include <QWidget>

#include <algorithm>

// Frames written as on the platform the window was first laid out on: x and y are the lower-left
// corner of the control in its parent, y upwards from the parent's bottom edge. The parent must
// have its final height when a frame is set.
namespace geometry {

inline int ParentHeight(const QWidget* widget) {
    const QWidget* parent = widget->parentWidget();
    return parent ? parent->height() : 0;
}

inline void SetFrame(QWidget* widget, int x, int y, int width, int height) {
    widget->setGeometry(x, ParentHeight(widget) - y - height, width, height);
}

inline void SetOrigin(QWidget* widget, int x, int y) { SetFrame(widget, x, y, widget->width(), widget->height()); }

inline void SetX(QWidget* widget, int x) { widget->move(x, widget->y()); }

inline void SetWidth(QWidget* widget, int width) { widget->resize(width, widget->height()); }

// The frame in the same convention.
inline QRect Frame(const QWidget* widget) {
    const QRect g = widget->geometry();
    return {g.x(), ParentHeight(widget) - g.y() - g.height(), g.width(), g.height()};
}

// A control's natural height.
inline int Fitted(const QWidget* widget) { return widget->sizeHint().height(); }

// A width of at least `width` that shows the control's whole text.
inline int FittedWidth(const QWidget* widget, int width) { return std::max(width, widget->sizeHint().width()); }

}  // namespace geometry
