#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <functional>

#include "CustomAlert.h"

// Stands in for the user in front of the alerts: watches for a visible alert, notes its texts
// and answers it with one of its buttons ("defaultButton", "alterButton", "otherButton"), with
// "escape" by pressing Escape, with "close" through the window's close button; with "wait" it
// leaves the alert up.
class AlertDriver {
public:
    explicit AlertDriver(QString button = QStringLiteral("defaultButton")) : button_(std::move(button)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

    void setButton(const QString& button) { button_ = button; }
    // Runs when an alert is seen, before it is answered.
    void setOnShow(std::function<void(AlertDialog*)> onShow) { onShow_ = std::move(onShow); }

    int count() const { return static_cast<int>(titles_.size()); }
    const QStringList& titles() const { return titles_; }
    const QStringList& messages() const { return messages_; }

private:
    void Poll() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<AlertDialog*>(widget);
            if (!dialog || !dialog->isVisible() || dialog == seen_) continue;
            seen_ = dialog;
            titles_ << dialog->findChild<QLabel*>(QStringLiteral("alertTitle"))->text();
            messages_ << dialog->findChild<QLabel*>(QStringLiteral("alertMessage"))->text();
            if (onShow_) onShow_(dialog);
            if (button_ == QLatin1String("wait")) return;
            if (button_ == QLatin1String("close")) {
                dialog->close();
                return;
            }
            auto* button = dialog->findChild<QPushButton*>(button_);
            if (button) {
                button->click();
            } else {
                // "escape", or a button the alert does not have.
                QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(dialog, &press);
            }
            return;
        }
    }

    QString button_;
    QTimer timer_;
    std::function<void(AlertDialog*)> onShow_;
    QPointer<AlertDialog> seen_;
    QStringList titles_;
    QStringList messages_;
};
