#pragma once

#include <QString>
#include <QStringView>

#include <concepts>
#include <string>
#include <string_view>

// The program's table of texts: every text the application shows, and the page word of the
// engine's output names, is looked up here by key. The table is compiled into the program.
//
// Format texts mark their arguments %1, %2, ... in the order the caller passes them, so a
// translation may reorder them. The contracts of the format keys:
//   "Exporting"         files started (integer), files in the run (integer), file name
//   "ProcessingPage"    page number (integer)
//   "PasswordAlertMsg"  name of the protected file
//   "HighValueTitle"    resolution (integer)
//   "InvalidValueTitle" the text that was refused
//   "AboutText"         the program's version
namespace platform {

// The text of a key; a key that the table lacks yields the key itself.
QString LocalizedString(std::string_view key);
bool HasLocalizedString(std::string_view key);

namespace localized_detail {
inline QString Argument(const QString& value) { return value; }
inline QString Argument(QStringView value) { return value.toString(); }
inline QString Argument(const char* value) { return QString::fromUtf8(value); }
inline QString Argument(const std::string& value) { return QString::fromStdString(value); }
template <std::integral T>
QString Argument(T value) {
    return QString::number(value);
}
template <std::floating_point T>
QString Argument(T value) {
    return QString::number(value);
}
}  // namespace localized_detail

// A format text filled with its arguments in one pass: an argument that itself holds "%2" or
// "%1" (a file name, say) appears exactly as it is.
template <typename... Args>
QString LocalizedFormat(std::string_view key, const Args&... args) {
    if (!HasLocalizedString(key)) return LocalizedString(key);
    const QString format = LocalizedString(key);
    if constexpr (sizeof...(Args) == 0) {
        return format;
    } else {
        // QString::arg with several arguments substitutes them all at once; with one it is a
        // single substitution too. Chained calls would substitute into earlier arguments.
        return format.arg(localized_detail::Argument(args)...);
    }
}

}  // namespace platform
