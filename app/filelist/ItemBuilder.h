#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "filelist/ImageListItem.h"

namespace platform {
class PdfDocument;
}

// The password of a protected document that the empty password does not fully open, or
// nothing to pass the file over.
using PasswordQuestion = std::function<std::optional<std::string>(platform::PdfDocument& document, const QString& fileName)>;

// The item of one found file, or nothing when the file is not taken: not an input type, not a
// readable PDF, no pages, or a protected file the user did not unlock. `addedFolder` is the
// added folder the file was found in (or null); it is recorded only when `maintainTree`.
// Runs on the adding thread: the icon is a QImage.
std::optional<ImageListItem> MakeImageListItem(const QString& path, const QString* addedFolder, bool maintainTree,
                                               const PasswordQuestion& askPassword);

// The size of a page as the list shows it: its crop box (as far as it lies in the media box,
// the media box when there is none), in points, before rotation.
std::optional<std::pair<float, float>> PageBoxSize(const platform::PdfDocument& document, int pageIndex);

// A thumbnail of a page: the page drawn to fit a square of `side` points, centred on a clear
// square, with a thin frame; `pixelRatio` device pixels per point. Null when the page cannot
// be drawn.
QImage MakePageThumbnail(const platform::PdfDocument& document, int pageIndex, int side = 42, qreal pixelRatio = 2);
