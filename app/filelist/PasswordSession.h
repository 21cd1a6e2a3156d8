#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace platform {
class PdfDocument;
}

// The user's answer to the password question for one protected file.
struct PasswordAnswer {
    enum class Button { OK, Skip, Cancel };
    Button button = Button::Cancel;
    bool applyToAll = false;  // the apply-to-all box was on when the button was pressed
    QString text;             // the password field's text
};

// Asks the user about one protected file and waits for the answer. Called on the adding
// thread; `typedText` is what the field is to show (empty the first time, the text the user
// typed when asking again after a wrong password).
using PasswordAsker = std::function<PasswordAnswer(const QString& fileName, const QString& typedText)>;

// The password state of one add request: skip, cancel, and the password to try first on every
// further protected file of the request. Lives on the adding thread for one request.
class PasswordSession {
public:
    explicit PasswordSession(PasswordAsker ask) : ask_(std::move(ask)) {}

    // The password of a protected document that the empty password does not fully open, or
    // nothing to pass the file over: asks until a password opens it or the user skips or
    // cancels. Asks nothing once the user chose Skip with apply-to-all, and nothing when the
    // password kept for the request opens it.
    std::optional<std::string> Unlock(platform::PdfDocument& document, const QString& fileName);

    // Cancel was chosen: the request stops.
    bool cancelled() const { return cancel_; }
    // Skip was chosen with apply-to-all: every further protected file is passed over.
    bool skipsAllProtected() const { return skip_ && applyAll_; }

private:
    PasswordAsker ask_;
    bool skip_ = false;
    bool cancel_ = false;
    bool applyAll_ = false;
    std::optional<std::string> sharedPassword_;
};
