#pragma once

#include <QPalette>
#include <QPixmap>
#include <QSize>

// A padlock in the palette's text colour: the aspect-ratio lock beside width and height.
QPixmap LockImage(const QPalette& palette, QSize size = QSize(16, 18));
