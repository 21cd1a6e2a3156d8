#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// Opens a URL with the desktop (QDesktopServices::openUrl), replaceable in tests.
using UrlOpener = std::function<bool(const QUrl& url)>;

// Shows a file selected in a file manager window, without opening it: asks the session bus's
// file manager (org.freedesktop.FileManager1.ShowItems); without a session bus, or when no file
// manager answers, opens the file's folder instead. Returns at once.
void RevealInFileManager(const QString& path, UrlOpener openUrl = {});
