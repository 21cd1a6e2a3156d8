#include "watch/DropBox.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QMimeData>

#include "filelist/FileListModel.h"
#include "watch/WatchFolder.h"

namespace watch {

DragAndDropCommonFolderController::DragAndDropCommonFolderController(QGroupBox* box, WatchFolder* appDelegate,
                                                                     std::int32_t boxTypeOption)
    : QObject(box), appDelegate_(appDelegate), boxTypeOption_(boxTypeOption) {
    (void)boxType;
    box->setAcceptDrops(true);
    box->installEventFilter(this);
}

Qt::DropAction DragAndDropCommonFolderController::draggingEnteredOrUpdated(const QMimeData* data) const {
    if (!appDelegate_ || !appDelegate_->allowDragAndDrop() || !data || !data->hasUrls()) return Qt::IgnoreAction;
    const QStringList paths = FileListModel::DroppedPaths(data);
    if (paths.size() != 1 || data->urls().size() != 1) return Qt::IgnoreAction;
    return QFileInfo(paths.front()).isDir() ? Qt::CopyAction : Qt::IgnoreAction;
}

bool DragAndDropCommonFolderController::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (draggingEnteredOrUpdated(drag->mimeData()) == Qt::CopyAction) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            // The state may have changed since the drag was last answered.
            if (draggingEnteredOrUpdated(drop->mimeData()) != Qt::CopyAction) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            const QStringList paths = FileListModel::DroppedPaths(drop->mimeData());
            appDelegate_->WatchFolderPathChangeAction(paths.front(), boxTypeOption_);
            return true;
        }
        default: return QObject::eventFilter(watched, event);
    }
}

}  // namespace watch
