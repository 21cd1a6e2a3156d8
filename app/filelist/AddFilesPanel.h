#pragma once

#include <QFileDialog>
#include <QStringList>

#include "filelist/ImageListItem.h"

class QCheckBox;
class QLabel;

// The open panel of the Add command: files and folders may be chosen together, several at
// once; only folders and accepted input files are listed. Its accessory view holds the two
// options of the request: add folders recursively, and keep their folder tree (only together
// with the first). The panel is kept and reused, so the boxes keep their states.
class AddFilesPanel : public QFileDialog {
    Q_OBJECT
public:
    AddFilesPanel(QWidget* window, TextLookup text);

    // What was chosen when the panel was last accepted, in the order shown.
    QStringList chosenPaths() const;
    bool addRecursively() const;
    // The keep-tree box, in effect only with recursive adding.
    bool maintainDirectoryTree() const;

    QWidget* accessoryView() const { return mMaintainDirAccessoryView; }
    QCheckBox* recursiveBox() const { return mAddRecursiveCheckBoxButton; }
    QCheckBox* maintainBox() const { return mMaintainDirCheckBoxButton; }
    QLabel* maintainCaption() const { return mMaintainDirEditBox; }

    // Opens the panel window-modal; `accepted` is called when it ends with OK.
    void Begin(std::function<void()> accepted);

public slots:
    void accept() override;

private:
    // The recursive box decides whether the keep-tree box can be used.
    void AddRecursiveCheckAction();
    QStringList SelectedInView() const;

    QWidget* mMaintainDirAccessoryView;
    QCheckBox* mAddRecursiveCheckBoxButton;
    QCheckBox* mMaintainDirCheckBoxButton;
    QLabel* mMaintainDirEditBox;
    QStringList chosen_;
    QMetaObject::Connection finished_;
};
