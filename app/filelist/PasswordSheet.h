#pragma once

#include <QDialog>

#include <functional>

#include "filelist/FileAdder.h"
#include "filelist/ImageListItem.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The password question for a protected PDF: a window-modal dialog on the main window, shown
// while the adding thread waits for its answer. OK tries the typed password, Skip passes this
// file over, Cancel ends the request; the apply-to-all box makes the answer hold for the rest of
// the request. Escape and the window's close button mean Cancel. The box keeps its state from
// one question, and one request, to the next.
class PasswordSheet : public QDialog, public PasswordPrompt {
    Q_OBJECT
public:
    PasswordSheet(QWidget* window, TextLookup text);
    ~PasswordSheet() override;

    void Ask(const QString& fileName, const QString& typedText,
             std::function<void(const PasswordAnswer&)> done) override;

    bool isAsking() const { return static_cast<bool>(pending_); }
    QLabel* messageField() const { return passwordAlertMsgOutlet; }
    QLineEdit* passwordField() const { return passwordDialogTextFieldOutlet; }
    QPushButton* okButton() const { return passwordOkayButtonOutlet; }
    QPushButton* skipButton() const { return passwordSkipButtonOutlet; }
    QPushButton* cancelButton() const { return passwordCancelButtonOutlet; }
    QCheckBox* applyToAllBox() const { return passwordApplyAllCheckButtonOutlet; }

public slots:
    void reject() override;

private:
    void PasswordButtonAction(PasswordAnswer::Button button);

    TextLookup text_;
    std::function<void(const PasswordAnswer&)> pending_;
    QLabel* passwordAlertMsgOutlet;
    QLineEdit* passwordDialogTextFieldOutlet;
    QPushButton* passwordOkayButtonOutlet;
    QPushButton* passwordSkipButtonOutlet;
    QPushButton* passwordCancelButtonOutlet;
    QCheckBox* passwordApplyAllCheckButtonOutlet;
};
