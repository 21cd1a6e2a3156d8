#pragma once

#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QString>

#include <filesystem>

// Images shipped with the program.

// The first page of a PDF drawn in grey, `pixelSize` pixels along its longer side; a null image
// when the file is missing or is not a readable PDF. Any thread.
QImage RenderPdfPage(const std::filesystem::path& path, int pixelSize);

// A grey drawing used as a template: black becomes `colour`, white transparent. Any thread.
QImage TintTemplate(const QImage& grey, const QColor& colour);

// A toolbar image from the resources ("Add.pdf", ...), drawn at `pointSize` in the palette's
// button text colour, greyed when disabled. A null icon when the resource is missing. GUI thread.
QIcon LoadToolbarImage(const QString& resourceName, const QPalette& palette, int pointSize = 32);

// The application's icon, from the icon folders installed beside the resources.
QIcon ApplicationIcon();
