#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>

class QGroupBox;
class QMimeData;

namespace watch {

class WatchFolder;

// The drop box of one watch folder: the pane's box takes exactly one existing folder dragged
// from the file manager, and only while the watch is off; anything else is refused by the drag
// feedback and changes nothing.
class DragAndDropCommonFolderController : public QObject {
    Q_OBJECT
public:
    // Box types: which folder the box sets.
    enum BoxType : std::int32_t { kSourceBox = 0, kDestinationBox = 1, kMoveFilesBox = 2 };

    // Makes `box` a drop box (it keeps its own look and children).
    DragAndDropCommonFolderController(QGroupBox* box, WatchFolder* appDelegate, std::int32_t boxTypeOption);

    WatchFolder* appDelegate() const { return appDelegate_; }
    void setAppDelegate(WatchFolder* delegate) { appDelegate_ = delegate; }
    std::int32_t boxTypeOption() const { return boxTypeOption_; }
    void setBoxTypeOption(std::int32_t option) { boxTypeOption_ = option; }

    // Copy when the drag may drop here, else none.
    Qt::DropAction draggingEnteredOrUpdated(const QMimeData* data) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<WatchFolder> appDelegate_;
    std::int32_t boxType = 0;  // not used
    std::int32_t boxTypeOption_ = 0;
};

}  // namespace watch
