#pragma once

// What the application benchmarks share: choosing a menu item as the user does, and running the
// event loop until a condition holds.

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "PopUpItems.h"

namespace bench {

inline void Choose(QComboBox* box, int tag) {
    const int index = popup::IndexOfTag(box, tag);
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Runs the event loop until `done` holds; false after the time-out. It sleeps between events, as
// the program's own loop does: a loop that polls would keep a core busy and take it from the
// engine's workers.
template <typename Predicate>
bool WaitFor(Predicate done, int timeoutMs = 600000) {
    QElapsedTimer timer;
    timer.start();
    // Wakes the loop now and then, so that the time-out is noticed without other events.
    QTimer tick;
    tick.start(50);
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace bench
