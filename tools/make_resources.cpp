// Draws the program's bundled images and writes its user manual:
//   files/Add.pdf ... files/Help.pdf       toolbar images, small vector PDFs used as templates
//   files/Vellipse User Manual.pdf         the user manual
//   icons/hicolor/<n>x<n>/apps/<id>.png    the application icon
// Usage: vellipse_make_resources <resources folder>   (run with QT_QPA_PLATFORM=offscreen)
// The results are committed under resources/; run this again after changing a drawing or the text.

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPageLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr char kBundleIdentifier[] = "org.vellipse.Vellipse";

// --- A tiny vector drawing: paths in a 32 x 32 box, y downwards ---------------------------------

struct Segment {
    enum Kind { Move, Line, Curve, Close } kind;
    QPointF a, b, c;  // Move/Line: a; Curve: a, b (controls), c (end)
};

struct Shape {
    std::vector<Segment> segments;
    bool stroke = true;     // otherwise filled (even-odd)
    double width = 2.0;

    Shape& move(double x, double y) { segments.push_back({Segment::Move, {x, y}, {}, {}}); return *this; }
    Shape& line(double x, double y) { segments.push_back({Segment::Line, {x, y}, {}, {}}); return *this; }
    Shape& curve(double x1, double y1, double x2, double y2, double x, double y) {
        segments.push_back({Segment::Curve, {x1, y1}, {x2, y2}, {x, y}});
        return *this;
    }
    Shape& close() { segments.push_back({Segment::Close, {}, {}, {}}); return *this; }

    // An arc around (cx, cy), angles in degrees counter-clockwise as seen, from the current point
    // (or starting a new subpath when `start` is set).
    Shape& arc(double cx, double cy, double r, double from, double to, bool start) {
        const auto at = [&](double deg) {
            const double t = deg * std::numbers::pi / 180.0;
            return QPointF(cx + r * std::cos(t), cy - r * std::sin(t));
        };
        if (start) move(at(from).x(), at(from).y());
        const int pieces = std::max(1, static_cast<int>(std::ceil(std::abs(to - from) / 90.0)));
        const double step = (to - from) / pieces;
        for (int i = 0; i < pieces; ++i) {
            const double a0 = (from + i * step) * std::numbers::pi / 180.0;
            const double a1 = (from + (i + 1) * step) * std::numbers::pi / 180.0;
            const double k = 4.0 / 3.0 * std::tan((a1 - a0) / 4.0);
            const QPointF p0(cx + r * std::cos(a0), cy - r * std::sin(a0));
            const QPointF p1(cx + r * std::cos(a1), cy - r * std::sin(a1));
            const QPointF c0 = p0 + QPointF(-k * r * std::sin(a0), -k * r * std::cos(a0));
            const QPointF c1 = p1 + QPointF(k * r * std::sin(a1), k * r * std::cos(a1));
            curve(c0.x(), c0.y(), c1.x(), c1.y(), p1.x(), p1.y());
        }
        return *this;
    }
    Shape& circle(double cx, double cy, double r) { return arc(cx, cy, r, 0, 360, true).close(); }
    Shape& roundedRect(double x, double y, double w, double h, double r) {
        move(x + r, y);
        line(x + w - r, y);
        arc(x + w - r, y + r, r, 90, 0, false);
        line(x + w, y + h - r);
        arc(x + w - r, y + h - r, r, 0, -90, false);
        line(x + r, y + h);
        arc(x + r, y + h - r, r, -90, -180, false);
        line(x, y + r);
        arc(x + r, y + r, r, 180, 90, false);
        return close();
    }
};

Shape Stroke(double width) {
    Shape s;
    s.stroke = true;
    s.width = width;
    return s;
}

Shape Fill() {
    Shape s;
    s.stroke = false;
    return s;
}

using Drawing = std::vector<Shape>;

// A photo: a rounded frame with a sun and mountains cut out of it.
Shape PhotoBadge(double x, double y, double w, double h) {
    Shape s = Fill();
    s.roundedRect(x, y, w, h, 2.0);
    s.circle(x + w * 0.30, y + h * 0.32, h * 0.13);
    s.move(x + w * 0.10, y + h * 0.84).line(x + w * 0.40, y + h * 0.48).line(x + w * 0.58, y + h * 0.68)
        .line(x + w * 0.70, y + h * 0.56).line(x + w * 0.90, y + h * 0.84).close();
    return s;
}

// A page whose outline stops short of a badge over its lower right corner.
void PageBehindBadge(Drawing& d, double x, double y, double w, double h, double gapX, double gapY) {
    const double fold = w * 0.32;
    d.push_back(Stroke(1.7).move(x + w, gapY).line(x + w, y + fold).line(x + w - fold, y).line(x, y).line(x, y + h)
                    .line(gapX, y + h));
    d.push_back(Stroke(1.3).move(x + w - fold, y).line(x + w - fold, y + fold).line(x + w, y + fold));
}

Drawing AddImage() {
    return {Stroke(2.2).circle(16, 16, 12.5), Stroke(2.6).move(16, 9.5).line(16, 22.5).move(9.5, 16).line(22.5, 16)};
}

Drawing RemoveImage() { return {Stroke(2.2).circle(16, 16, 12.5), Stroke(2.6).move(9.5, 16).line(22.5, 16)}; }

Drawing RemoveAllImage() {
    return {
        Stroke(2.2).move(6.5, 8.5).line(25.5, 8.5),
        Stroke(1.8).move(12.5, 8.5).line(12.5, 5).line(19.5, 5).line(19.5, 8.5),
        Stroke(2.0).move(9, 11).line(10.5, 27.5).line(21.5, 27.5).line(23, 11),
        Stroke(1.6).move(13, 14).line(13.6, 24.5).move(16, 14).line(16, 24.5).move(19, 14).line(18.4, 24.5),
    };
}

Drawing ConvertImage() {
    Drawing d;
    PageBehindBadge(d, 4, 3, 17, 25, 11.5, 12.5);
    d.push_back(PhotoBadge(13.5, 14.5, 16, 13));
    return d;
}

Drawing ConvertAllImage() {
    Drawing d;
    // A second page behind the first.
    d.push_back(Stroke(1.5).move(7.5, 2.0).line(7.5, 1.0).line(19.0, 1.0).line(24.5, 6.5).line(24.5, 11.5));
    PageBehindBadge(d, 3, 4, 17, 25, 10.5, 13.5);
    d.push_back(PhotoBadge(13.5, 15.5, 16, 13));
    return d;
}

Drawing RatingImage() {
    Shape star = Stroke(2.0);
    for (int i = 0; i < 10; ++i) {
        const double r = i % 2 == 0 ? 13.0 : 5.6;
        const double t = (90.0 + 36.0 * i) * std::numbers::pi / 180.0;
        const double x = 16 + r * std::cos(t), y = 17 - r * std::sin(t);
        if (i == 0) star.move(x, y); else star.line(x, y);
    }
    star.close();
    return {star};
}

Drawing HelpImage() {
    Shape mark = Stroke(2.5);
    mark.arc(16, 12.8, 4.6, 155, -35, true);
    mark.curve(18.2, 16.6, 16.0, 17.0, 16.0, 19.2);
    return {Stroke(2.2).circle(16, 16, 12.5), mark, Fill().circle(16, 23.4, 1.75)};
}

// --- Writing a drawing as a one-page PDF -------------------------------------------------------

std::string Number(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    std::string s = buffer;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string ContentStream(const Drawing& drawing) {
    // Black ink, round ends; the drawing's y runs downwards, so the page is flipped first.
    std::string out = "1 0 0 -1 0 32 cm\n0 g 0 G 1 J 1 j\n";
    for (const Shape& shape : drawing) {
        if (shape.stroke) out += Number(shape.width) + " w\n";
        for (const Segment& s : shape.segments) {
            switch (s.kind) {
                case Segment::Move: out += Number(s.a.x()) + " " + Number(s.a.y()) + " m\n"; break;
                case Segment::Line: out += Number(s.a.x()) + " " + Number(s.a.y()) + " l\n"; break;
                case Segment::Curve:
                    out += Number(s.a.x()) + " " + Number(s.a.y()) + " " + Number(s.b.x()) + " " + Number(s.b.y()) +
                           " " + Number(s.c.x()) + " " + Number(s.c.y()) + " c\n";
                    break;
                case Segment::Close: out += "h\n"; break;
            }
        }
        out += shape.stroke ? "S\n" : "f*\n";
    }
    return out;
}

bool WritePdf(const QString& path, const Drawing& drawing, const std::string& title) {
    const std::string content = ContentStream(drawing);
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 32 32] /Resources << >> /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Title (" + title + ") /Creator (Vellipse) >>",
    };
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R /Info 5 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(pdf.data(), static_cast<qint64>(pdf.size())) == static_cast<qint64>(pdf.size());
}

// The same drawing through QPainter, for the manual's pictures.
QImage PaintDrawing(const Drawing& drawing, int pixels, const QColor& ink) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixels / 32.0, pixels / 32.0);
    for (const Shape& shape : drawing) {
        QPainterPath path;
        path.setFillRule(Qt::OddEvenFill);
        for (const Segment& s : shape.segments) {
            switch (s.kind) {
                case Segment::Move: path.moveTo(s.a); break;
                case Segment::Line: path.lineTo(s.a); break;
                case Segment::Curve: path.cubicTo(s.a, s.b, s.c); break;
                case Segment::Close: path.closeSubpath(); break;
            }
        }
        if (shape.stroke)
            painter.strokePath(path, QPen(ink, shape.width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        else
            painter.fillPath(path, ink);
    }
    return image;
}

// --- The application icon ----------------------------------------------------------------------

QImage PaintApplicationIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Tile.
    QLinearGradient tile(QPointF(16, 16), QPointF(240, 240));
    tile.setColorAt(0, QColor(0x3f, 0x8c, 0xf2));
    tile.setColorAt(1, QColor(0x6a, 0x3f, 0xd9));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 50, 50);

    // An ellipse around the picture.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 90), 9));
    p.save();
    p.translate(128, 132);
    p.rotate(-24);
    p.drawEllipse(QPointF(0, 0), 104, 56);
    p.restore();

    // A page with a folded corner.
    p.save();
    p.translate(86, 128);
    p.rotate(-9);
    QPainterPath page;
    page.moveTo(-46, -70);
    page.lineTo(22, -70);
    page.lineTo(46, -46);
    page.lineTo(46, 70);
    page.lineTo(-46, 70);
    page.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawPath(page.translated(4, 5));
    p.setBrush(Qt::white);
    p.drawPath(page);
    QPainterPath fold;
    fold.moveTo(22, -70);
    fold.lineTo(22, -46);
    fold.lineTo(46, -46);
    fold.closeSubpath();
    p.setBrush(QColor(0xc9, 0xd6, 0xf5));
    p.drawPath(fold);
    p.setBrush(QColor(0xb8, 0xc4, 0xe0));
    for (int i = 0; i < 5; ++i) p.drawRoundedRect(QRectF(-32, -36 + i * 18, i == 4 ? 40 : 62, 7), 3.5, 3.5);
    p.restore();

    // A photo in front of it.
    p.save();
    p.translate(160, 150);
    p.rotate(6);
    const QRectF card(-58, -46, 116, 92);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawRoundedRect(card.translated(4, 6), 10, 10);
    p.setBrush(Qt::white);
    p.drawRoundedRect(card, 10, 10);
    const QRectF photo = card.adjusted(8, 8, -8, -8);
    QLinearGradient sky(photo.topLeft(), photo.bottomLeft());
    sky.setColorAt(0, QColor(0x8f, 0xd3, 0xff));
    sky.setColorAt(1, QColor(0xd8, 0xf1, 0xff));
    QPainterPath clip;
    clip.addRoundedRect(photo, 5, 5);
    p.setClipPath(clip);
    p.fillRect(photo, sky);
    p.setBrush(QColor(0xff, 0xc8, 0x3d));
    p.drawEllipse(QPointF(photo.left() + 28, photo.top() + 22), 11, 11);
    QPainterPath far;
    far.moveTo(photo.left(), photo.bottom());
    far.lineTo(photo.left() + 34, photo.top() + 34);
    far.lineTo(photo.left() + 62, photo.bottom() - 18);
    far.lineTo(photo.left() + 76, photo.top() + 44);
    far.lineTo(photo.right(), photo.bottom());
    far.closeSubpath();
    p.setBrush(QColor(0x2f, 0xa8, 0x84));
    p.drawPath(far);
    QPainterPath near;
    near.moveTo(photo.left(), photo.bottom());
    near.lineTo(photo.left() + 22, photo.bottom() - 22);
    near.lineTo(photo.left() + 48, photo.bottom());
    near.closeSubpath();
    p.setBrush(QColor(0x1f, 0x7a, 0x63));
    p.drawPath(near);
    p.restore();
    return image;
}

// --- The user manual ---------------------------------------------------------------------------

QString ManualHtml() {
    return QStringLiteral(R"(
<html><body style="font-family: 'DejaVu Sans'; font-size: 10.5pt; color: #1b1f29;">
<table width="100%" cellpadding="0" cellspacing="0"><tr><td height="120"></td></tr></table>
<p align="center"><img src="res://appicon" width="150" height="150"></p>
<h1 align="center" style="font-size: 28pt; color: #3a3fb8;">Vellipse User Manual</h1>
<p align="center" style="font-size: 14pt; color: #555b6e;">Turning PDF documents into image files</p>
<p align="center" style="font-size: 10pt; color: #555b6e;">Version %1</p>
<p style="page-break-after: always;"></p>

<h2 style="color: #3a3fb8;">1&nbsp;&nbsp;What Vellipse does</h2>
<p>Vellipse turns PDF documents into image files: one image file for every page of a document, or
one multi-page TIFF file for the whole document. You build a list of PDF files, choose the kind of
image you want, and convert some or all of the files into a folder that you pick when you start.
Vellipse can also watch a folder and convert every PDF file that arrives in it.</p>
<p>Your PDF files are never changed. The only exception is the watch folder, which you can ask to
delete or move its PDF files once they are converted.</p>

<h2 style="color: #3a3fb8;">2&nbsp;&nbsp;The main window</h2>
<p>The main window has three parts: the toolbar at the top, the list of PDF files in the middle and
the conversion settings below it.</p>
<table cellpadding="5" cellspacing="0" border="0">
<tr><td><img src="res://Add" width="28" height="28"></td><td><b>Add</b> &mdash; adds PDF files or folders to the list.</td></tr>
<tr><td><img src="res://Remove" width="28" height="28"></td><td><b>Remove</b> &mdash; takes the selected files off the list.</td></tr>
<tr><td><img src="res://RemoveAll" width="28" height="28"></td><td><b>Remove All</b> &mdash; empties the list.</td></tr>
<tr><td><img src="res://Convert" width="28" height="28"></td><td><b>Convert</b> &mdash; converts the selected files.</td></tr>
<tr><td><img src="res://ConvertAll" width="28" height="28"></td><td><b>Convert All</b> &mdash; converts every file of the list.</td></tr>
<tr><td><img src="res://Rating" width="28" height="28"></td><td><b>Rate</b> &mdash; lets you rate Vellipse.</td></tr>
<tr><td><img src="res://Help" width="28" height="28"></td><td><b>Help</b> &mdash; opens this manual.</td></tr>
</table>
<p>Buttons that cannot be used at the moment are dimmed: with an empty list you can only add files.
While Vellipse is adding files, the list is dimmed and a spinning wheel turns over it; wait until it
is done before you change the list.</p>

<h2 style="color: #3a3fb8;">3&nbsp;&nbsp;Adding PDF files</h2>
<p>Click <b>Add</b>, or choose <b>File &rsaquo; Add Files&hellip;</b> (Ctrl+O), and choose PDF files, folders
or both. For folders you can decide whether the PDF files inside sub-folders are added too, and
whether the converted images keep the same folder structure in the destination. You can also drag
files and folders from your file manager onto the list, or open PDF files with Vellipse from the
file manager; folders are then searched at every depth.</p>
<p>Vellipse accepts files whose names end in <i>.pdf</i> or <i>.ai</i>, in any letter case. Files
that are not readable PDF documents are passed over. The list shows each file with its number, a
small picture of its first page, its path, its number of pages and the size of its first page in
points (1 point is 1/72 inch).</p>
<p><b>Password-protected files.</b> When a file needs a password, Vellipse asks for it. Type the
password and click OK; click Skip to leave this file out, or Cancel to stop adding. Turn on
<i>Use this password for the other protected files</i> to try the same password on the other
protected files you are adding at the same time.</p>

<h2 style="color: #3a3fb8; page-break-before: always;">4&nbsp;&nbsp;Choosing the kind of image</h2>
<table cellpadding="4" cellspacing="0" border="0">
<tr><td valign="top" width="170"><b>Format Type</b></td><td>The image format: JPEG, JPEG 2000, PNG, TIFF, multi-page TIFF, GIF, BMP and more.
A multi-page TIFF holds all pages of a document in one file.</td></tr>
<tr><td valign="top"><b>Color Model</b></td><td>RGB colour, CMYK colour or grayscale. Formats that cannot hold a colour model offer only the ones they can.</td></tr>
<tr><td valign="top"><b>JPEG Quality</b></td><td>For JPEG and JPEG 2000: from least (small files) to best (large files).</td></tr>
<tr><td valign="top"><b>Resolution</b></td><td>Dots per inch of the images. 72 dpi gives one pixel per point; 300 dpi is good for printing.
Formats that have no resolution use 72 dpi. Values above 800 dpi make very large images, and Vellipse asks before it uses them.</td></tr>
<tr><td valign="top"><b>Width, Height</b></td><td>An optional size for the images, in pixels, inches, centimeters, millimeters or points.
The proportions of the page are kept. Leave both at 0 to keep the page size.</td></tr>
<tr><td valign="top"><b>Pages</b></td><td>All pages, one page (From), or a range of pages (From and To).</td></tr>
<tr><td valign="top"><b>Create a folder for each PDF</b></td><td>Puts the images of each document in a folder named after it.</td></tr>
</table>
<p>The settings that you use most can be stored as defaults in the preferences (section 7).</p>

<h2 style="color: #3a3fb8;">5&nbsp;&nbsp;Converting</h2>
<p>Select the files you want and click <b>Convert</b>, or click <b>Convert All</b> for the whole list.
Choose the destination folder. A progress window shows the file and the page being converted; click
Cancel to stop after the current page. When the conversion ends, Vellipse tells you whether all,
some or none of the files were converted, and offers to open the destination folder.</p>
<p>Each image is named after its document and its page number, for example <i>Report-01.png</i>,
<i>Report-02.png</i> and so on. When a file of that name exists already, the new one is numbered
(<i>Report-01 1.png</i>), unless you have asked in the preferences to overwrite existing files.</p>
<p>You can also drag files from the list to a folder in your file manager: they are converted with
the current settings into that folder.</p>

<h2 style="color: #3a3fb8;">6&nbsp;&nbsp;Working with the list</h2>
<p><b>Edit &rsaquo; Remove</b> (Delete) takes the selected files off the list, <b>Remove All</b> empties
it and <b>Select All</b> (Ctrl+A) selects every file. Click the File column's title to sort the list by
path; click again to reverse the order. Double-click a file, or choose <i>Show in File Manager</i>
from the list's context menu, to see it in its folder. Removing a file from the list never deletes it.</p>

<h2 style="color: #3a3fb8;">7&nbsp;&nbsp;Preferences and the watch folder</h2>
<p><b>Edit &rsaquo; Preferences&hellip;</b> has two panes. <i>General Settings</i> holds the default
conversion settings that the main window shows when Vellipse starts, whether existing image files
may be overwritten, and a password for protected files in the watch folder. Click Apply to store
them.</p>
<p><i>Watch Folder Options</i> sets up the watch folder: choose the folder to watch, the destination
folder for the images, and what happens to a PDF file once it is converted: it is deleted, moved
into the destination folder, or moved into a third folder that you choose. Click <b>Start
Watching</b>. Every PDF file that lies in the watched folder, and every one that arrives later, is
converted with the default settings. A file that cannot be converted stays where it is and is tried
again later. Watching goes on the next time you start Vellipse; when you quit while watching,
Vellipse asks you first.</p>

<h2 style="color: #3a3fb8;">8&nbsp;&nbsp;Getting help</h2>
<p><b>Help &rsaquo; Vellipse Help</b> (F1) opens this manual. <b>Contact Support&hellip;</b> opens
the support page in your web browser, and <b>Rate Vellipse&hellip;</b> lets you tell others what you
think of it.</p>

<h2 style="color: #3a3fb8;">9&nbsp;&nbsp;Keyboard shortcuts</h2>
<table cellpadding="4" cellspacing="0" border="0">
<tr><td width="150">Ctrl+O</td><td>Add files</td></tr>
<tr><td>Delete</td><td>Remove the selected files</td></tr>
<tr><td>Ctrl+A</td><td>Select all files</td></tr>
<tr><td>Ctrl+,</td><td>Preferences</td></tr>
<tr><td>F1</td><td>This manual</td></tr>
<tr><td>Ctrl+M</td><td>Hide the window</td></tr>
<tr><td>Ctrl+W</td><td>Close the window (and quit)</td></tr>
<tr><td>Ctrl+Q</td><td>Quit</td></tr>
</table>
</body></html>
)");
}

bool WriteManual(const QString& path, const QString& version) {
    QPdfWriter writer(path);
    writer.setTitle(QStringLiteral("Vellipse User Manual"));
    writer.setCreator(QStringLiteral("Vellipse"));
    writer.setResolution(300);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(22, 20, 22, 22),
                                     QPageLayout::Millimeter));

    QTextDocument document;
    document.documentLayout()->setPaintDevice(&writer);
    document.setDocumentMargin(0);
    const QColor ink(0x3a, 0x3f, 0xb8);
    const struct { const char* name; Drawing drawing; } images[] = {
        {"Add", AddImage()},         {"Remove", RemoveImage()},   {"RemoveAll", RemoveAllImage()},
        {"Convert", ConvertImage()}, {"ConvertAll", ConvertAllImage()}, {"Rating", RatingImage()},
        {"Help", HelpImage()},
    };
    for (const auto& image : images)
        document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("res://") + QLatin1String(image.name)),
                             PaintDrawing(image.drawing, 128, ink));
    document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("res://appicon")), PaintApplicationIcon(512));
    document.setHtml(ManualHtml().arg(version));

    const QRect body = writer.pageLayout().paintRectPixels(writer.resolution());
    const int footer = writer.resolution() / 3;
    const QSizeF pageSize(body.width(), body.height() - footer);
    document.setPageSize(pageSize);

    QPainter painter(&writer);
    QFont footerFont(QStringLiteral("DejaVu Sans"));
    footerFont.setPointSizeF(8.5);
    const int pages = document.pageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0) writer.newPage();
        painter.save();
        painter.translate(0, -page * pageSize.height());
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, page * pageSize.height(), pageSize.width(), pageSize.height());
        painter.setClipRect(context.clip);
        document.documentLayout()->draw(&painter, context);
        painter.restore();
        if (page > 0) {
            painter.setFont(footerFont);
            painter.setPen(QColor(0x80, 0x85, 0x95));
            painter.drawText(QRectF(0, body.height() - footer, body.width(), footer), Qt::AlignRight | Qt::AlignBottom,
                             QStringLiteral("Vellipse User Manual \u2014 %1").arg(page + 1));
        }
    }
    return painter.end();
}

}  // namespace

int main(int argc, char* argv[]) {
    QGuiApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <resources folder> [version]\n", argv[0]);
        return 2;
    }
    const QDir resources(QString::fromLocal8Bit(argv[1]));
    const QString version = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("0.1");
    bool ok = QDir().mkpath(resources.filePath(QStringLiteral("files")));

    const struct { const char* file; Drawing drawing; const char* title; } toolbar[] = {
        {"Add.pdf", AddImage(), "Add"},
        {"Remove.pdf", RemoveImage(), "Remove"},
        {"RemoveAll.pdf", RemoveAllImage(), "Remove All"},
        {"Convert.pdf", ConvertImage(), "Convert"},
        {"ConvertAll.pdf", ConvertAllImage(), "Convert All"},
        {"Rating.pdf", RatingImage(), "Rating"},
        {"Help.pdf", HelpImage(), "Help"},
    };
    for (const auto& image : toolbar)
        ok = WritePdf(resources.filePath(QStringLiteral("files/") + QLatin1String(image.file)), image.drawing,
                      image.title) && ok;

    for (int size : {48, 128, 256}) {
        const QString folder = resources.filePath(QStringLiteral("icons/hicolor/%1x%1/apps").arg(size));
        ok = QDir().mkpath(folder) && ok;
        ok = PaintApplicationIcon(size).save(folder + QStringLiteral("/") + QLatin1String(kBundleIdentifier) +
                                             QStringLiteral(".png")) && ok;
    }

    ok = WriteManual(resources.filePath(QStringLiteral("files/Vellipse User Manual.pdf")), version) && ok;
    if (!ok) std::fprintf(stderr, "could not write every resource\n");
    return ok ? 0 : 1;
}
