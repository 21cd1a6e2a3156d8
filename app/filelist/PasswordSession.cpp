#include "filelist/PasswordSession.h"

#include "platform/PdfDocument.h"

std::optional<std::string> PasswordSession::Unlock(platform::PdfDocument& document, const QString& fileName) {
    if (cancel_ || skipsAllProtected()) return std::nullopt;
    if (sharedPassword_ && applyAll_ && !skip_ && document.AcceptsPassword(*sharedPassword_)) return sharedPassword_;
    if (!ask_) return std::nullopt;

    std::optional<std::string> answer;
    QString typed;
    for (;;) {
        const PasswordAnswer reply = ask_(fileName, typed);
        typed = reply.text;
        if (reply.button == PasswordAnswer::Button::Skip) skip_ = true;
        if (reply.button == PasswordAnswer::Button::Cancel) cancel_ = true;
        applyAll_ = reply.applyToAll;
        if (skip_ || cancel_) break;
        const std::string candidate = typed.toStdString();
        if (document.AcceptsPassword(candidate)) {
            answer = candidate;
            break;
        }
        // A wrong password: the same question again, with the typed text still there.
    }

    if (applyAll_) {
        if (answer) sharedPassword_ = answer;
        return answer;
    }
    skip_ = false;  // the next protected file is asked about again
    return answer;
}
