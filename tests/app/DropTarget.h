#pragma once

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include "filelist/DragOut.h"

// Sends a whole drag (enter, move, drop) to a widget; answers whether the drop was taken.
inline bool DragAndDrop(QWidget* target, QPoint at, const QMimeData* data) {
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    if (!move.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

// A file manager's view of one folder, as a drop target: it takes promised files, reads every
// format of the drag while it is over the folder (as curious targets do), and on the drop names
// its folder through the promise's drop entry.
class FolderDropTarget : public QWidget {
public:
    explicit FolderDropTarget(QString folder) : folder_(std::move(folder)) {
        setAcceptDrops(true);
        resize(200, 200);
    }
    // The names the promise answered at the drop.
    QStringList names;
    int drops = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { Look(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { Look(event); }
    void dropEvent(QDropEvent* event) override {
        ++drops;
        const auto* promise = qobject_cast<const PromisedFilesMimeData*>(event->mimeData());
        if (!promise) return;
        names = promise->DropInto(folder_);
        if (!names.isEmpty()) event->acceptProposedAction();
    }

private:
    void Look(QDropEvent* event) {
        const QMimeData* data = event->mimeData();
        for (const QString& format : data->formats()) (void)data->data(format);
        (void)data->urls();
        if (data->hasFormat(QLatin1String(PromisedFilesMimeData::kPromiseFormat))) event->acceptProposedAction();
    }

    QString folder_;
};
