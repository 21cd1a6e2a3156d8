#include "MainWindow.h"

#include <QCloseEvent>

#include "AppDelegate.h"

MainWindow::MainWindow(AppDelegate* delegate) : delegate_(delegate) {
    setObjectName(QStringLiteral("window"));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (delegate_ && !delegate_->windowShouldClose()) {
        event->ignore();
        return;
    }
    event->accept();
    if (delegate_) delegate_->windowDidClose();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The toolbar's template images take the window's colours.
    if (delegate_ && event->type() == QEvent::PaletteChange) delegate_->windowPaletteChanged();
}
