#pragma once

// What the application benchmarks share: choosing a menu item as the user does, and running the
// event loop until a condition holds.

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "PopUpItems.h"

namespace bench {

inline void Choose(QComboBox* box, int tag) {
    const int index = popup::IndexOfTag(box, tag);
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Runs the event loop until `done` holds; false after the time-out.
template <typename Predicate>
bool WaitFor(Predicate done, int timeoutMs = 600000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace bench
