#pragma once

#include <QFrame>
#include <QLabel>
#include <QLatin1String>
#include <QString>

// Controls are found by their outlet names, so every window builds them through these.
template <typename T>
T* Named(T* object, const char* name) {
    object->setObjectName(QLatin1String(name));
    return object;
}

// A label that shows its text as it is (a file name with "<b>" stays literal).
inline QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text,
                         Qt::Alignment alignment = Qt::AlignRight | Qt::AlignVCenter) {
    auto* label = Named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(alignment);
    return label;
}

// A thin plain box: the lines that tie width and height to the aspect lock.
inline QFrame* MakeLine(QWidget* parent, const char* name) {
    auto* line = Named(new QFrame(parent), name);
    line->setFrameShape(QFrame::Box);
    line->setFrameShadow(QFrame::Plain);
    line->setLineWidth(1);
    return line;
}
