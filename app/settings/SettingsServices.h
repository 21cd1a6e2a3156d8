#pragma once

#include <QString>

#include <functional>
#include <string_view>

class QWidget;

namespace settings {

// What the settings code needs from the rest of the application: the alert helper and the
// table of texts.
struct Services {
    // Shows a window-modal alert on `window` and waits for the answer: 1 for the default button,
    // 0 for the alternate, -1 for the other. An empty title leaves that button out.
    std::function<int(QWidget* window, const QString& title, const QString& message, const QString& defaultButton,
                      const QString& alternateButton, const QString& otherButton)>
        alert;
    // The text of a key (a missing key yields the key).
    std::function<QString(std::string_view key)> text;
    // The format text of a key filled with one argument.
    std::function<QString(std::string_view key, const QString& argument)> format;

    int Alert(QWidget* window, const QString& title, const QString& message, const QString& defaultButton,
              const QString& alternateButton = {}, const QString& otherButton = {}) const {
        // Without an alert helper the cautious answer stands.
        if (!alert) return alternateButton.isEmpty() ? 1 : 0;
        return alert(window, title, message, defaultButton, alternateButton, otherButton);
    }
    QString Text(std::string_view key) const {
        return text ? text(key) : QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    }
    QString Format(std::string_view key, const QString& argument) const {
        return format ? format(key, argument) : Text(key).arg(argument);
    }
};

}  // namespace settings
