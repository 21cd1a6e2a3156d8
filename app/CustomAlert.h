#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <optional>

class QPushButton;

// Every question and message of the application: a window-modal alert on one of its windows.
//
// ShowAlertSheet(title, message, defaultButton, alternateButton, otherButton, window) may be
// called from any thread. On the main thread it shows the alert and runs a local event loop until
// it is answered (the other windows stay live); from any other thread it queues the alert to the
// main thread and waits for the answer, so the main thread must not be waiting for the caller.
// The wait is the program's own rather than a blocking queued call, so that it can be ended when
// the main thread's event loop has finished and no alert can be shown any more.
//
// The answer: 1 the default button, 0 the alternate button, -1 the other button. A null or empty
// alternate or other title leaves that button out; without a default title the default button
// reads "OK". A null window means the active window. Title and message are shown as plain text,
// exactly as given.
//
// An alert that ends without a button (Escape, the window's close button, the parent window
// destroyed, the application quitting, or no application to show it in) answers
// `answerWhenDismissed`; by default the alternate answer when there is an alternate button, else
// the other answer when there is an other button, else the default answer. So a question ends
// with its cautious choice, and a message with its only button.
std::int64_t ShowAlertSheet(const QString& title, const QString& message, const QString& defaultButton,
                            const QString& alternateButton, const QString& otherButton, QWidget* window,
                            std::optional<std::int64_t> answerWhenDismissed = std::nullopt);

// The alert's data and its showing on the main thread.
class CustomAlert {
public:
    enum Style : std::uint64_t { kWarningStyle = 0, kInformationalStyle = 1, kCriticalStyle = 2 };
    static constexpr std::int64_t kNoAnswer = -1;
    static constexpr std::int64_t kWaitingForAnswer = 2147483647;

    CustomAlert() = default;
    // A null title or message is shown as empty text.
    CustomAlert(const QString& title, const QString& message, const QString& defaultButton,
                const QString& alternateButton, const QString& otherButton);

    const QString& title() const { return title_; }
    const QString& message() const { return message_; }
    const QString& defaultButton() const { return defaultButton_; }
    const QString& alterButton() const { return alterButton_; }
    const QString& otherButton() const { return otherButton_; }
    void setWindow(QWidget* window) { window_ = window; }
    QWidget* window() const { return window_; }
    void setAlertStyle(std::uint64_t style) { alertStyle_ = style; }
    std::uint64_t alertStyle() const { return alertStyle_; }
    void setAnswerWhenDismissed(std::optional<std::int64_t> answer) { answerWhenDismissed_ = answer; }
    std::int64_t answerWhenDismissed() const;
    std::int64_t responseCode() const { return responseCode_; }

    // Shows the alert and waits for its answer; main thread only. Returns the answer, which is
    // also kept as responseCode.
    std::int64_t showModalSheet();

private:
    QString title_;
    QString message_;
    QString defaultButton_;
    QString otherButton_;
    QString alterButton_;
    std::uint64_t alertStyle_ = kWarningStyle;
    QPointer<QWidget> window_;
    std::optional<std::int64_t> answerWhenDismissed_;
    std::int64_t responseCode_ = kNoAnswer;
};

// The dialog that stands for the alert sheet. Its buttons are named "defaultButton",
// "alterButton" and "otherButton"; its labels "alertTitle" and "alertMessage".
class AlertDialog : public QDialog {
    Q_OBJECT
public:
    AlertDialog(const CustomAlert& alert, QWidget* parent);

    std::optional<std::int64_t> answer() const { return answer_; }

private:
    QPushButton* AddButton(const QString& title, const char* name, std::int64_t answer);

    std::optional<std::int64_t> answer_;
};
