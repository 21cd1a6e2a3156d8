// The input test, the folder walk and the item of one file, over the real PDF layer.

#include <QtTest>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <vector>

#include "FileListTestSupport.h"
#include "filelist/FileListModel.h"
#include "filelist/InputFiles.h"
#include "filelist/ItemBuilder.h"
#include "platform/PdfDocument.h"

using namespace filelisttest;

namespace {

struct Visit {
    QString path;
    QString addedFolder;  // "" for a path added itself
    bool operator==(const Visit&) const = default;
};

std::vector<Visit> Walk(const QStringList& paths, bool recursive, int stopAfter = -1) {
    std::vector<Visit> visits;
    WalkAddedPaths(paths, recursive, [&](const QString& path, const QString* folder) {
        visits.push_back({path, folder ? *folder : QString()});
        return stopAfter < 0 || static_cast<int>(visits.size()) < stopAfter;
    });
    return visits;
}

testpdf::Options NoPages() {
    testpdf::Options options;
    options.pages.clear();
    return options;
}

QStringList Paths(const std::vector<Visit>& visits) {
    QStringList out;
    for (const Visit& v : visits) out << v.path;
    return out;
}

}  // namespace

class InputFilesTest : public QObject {
    Q_OBJECT
private slots:
    void fileTypeTable_data();
    void fileTypeTable();
    void typeAttributeAcceptsAnyName();
    void walkTakesFoldersInNameOrderAndSkipsHidden();
    void walkDoesNotFollowLinkedFolders();
    void walkPassesOverUnreadableFolders();
    void walkStopsWhenAsked();
    void itemOfAPlainPdf();
    void itemSizeIsTheCropBoxInsideTheMediaBox();
    void itemParentFolderOnlyWithTree();
    void documentWithoutPagesIsListed();
    void badFilesAreNotTaken();
    void protectedFilesAskOnlyWhenNeeded();
    void corpusPdfs();
};

void InputFilesTest::fileTypeTable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("taken");
    QTest::newRow("pdf") << "a.pdf" << true;
    QTest::newRow("PDF") << "a.PDF" << true;
    QTest::newRow("Pdf") << "a.Pdf" << true;
    QTest::newRow("ai") << "drawing.ai" << true;
    QTest::newRow("AI") << "drawing.AI" << true;
    QTest::newRow("two dots") << "report.v2.pdf" << true;
    QTest::newRow("pdf.txt") << "a.pdf.txt" << false;
    QTest::newRow("pdfx") << "a.pdfx" << false;
    QTest::newRow("txt") << "notes.txt" << false;
    QTest::newRow("no extension") << "document" << false;
    QTest::newRow("dot only name") << ".pdf" << false;
    QTest::newRow("trailing dot") << "a." << false;
    QTest::newRow("folder with pdf name") << "dir.pdf/x" << false;
}

void InputFilesTest::fileTypeTable() {
    QFETCH(QString, name);
    QFETCH(bool, taken);
    // The test looks at the name only (the file need not exist): opening decides the rest.
    QCOMPARE(IsSupportedInputFile(QStringLiteral("/nowhere/") + name), taken);
    QCOMPARE(SupportedInputFileTypes().size(), 4);
    QVERIFY(SupportedInputFileTypes().contains(QStringLiteral("pdf")));
    QVERIFY(SupportedInputFileTypes().contains(QStringLiteral("ai")));
}

void InputFilesTest::typeAttributeAcceptsAnyName() {
    testpdf::TempDir dir;
    const fs::path bare = WritePdf(dir / "document");
    const fs::path text = WritePdf(dir / "typed.txt");
    QVERIFY(!IsSupportedInputFile(Q(bare)));
    const char* type = "application/pdf";
    if (setxattr(bare.c_str(), "user.mime_type", type, strlen(type), 0) != 0)
        QSKIP("the temporary folder's file system takes no user attributes");
    QVERIFY(setxattr(text.c_str(), "user.mime_type", type, strlen(type), 0) == 0);
    QVERIFY(IsSupportedInputFile(Q(bare)));
    QVERIFY(IsSupportedInputFile(Q(text)));
    const char* other = "text/plain";
    QVERIFY(setxattr(bare.c_str(), "user.mime_type", other, strlen(other), 0) == 0);
    QVERIFY(!IsSupportedInputFile(Q(bare)));
}

void InputFilesTest::walkTakesFoldersInNameOrderAndSkipsHidden() {
    testpdf::TempDir dir;
    const fs::path root = dir / "root";
    WritePdf(root / "b.pdf");
    WritePdf(root / "a.pdf");
    WriteBytes(root / "c.txt", "text");
    WritePdf(root / ".hidden.pdf");
    WritePdf(root / ".hiddendir" / "e.pdf");
    WritePdf(root / "sub" / "c.pdf");
    WritePdf(root / "sub" / "deeper" / "d.PDF");
    WritePdf(root / "sub" / ".x" / "f.pdf");
    const fs::path single = WritePdf(dir / "single.pdf");
    const QString r = Q(root);

    // Only the files directly inside; folders are never handed on.
    const std::vector<Visit> flat = Walk({r}, false);
    QCOMPARE(flat, (std::vector<Visit>{{r + "/a.pdf", r}, {r + "/b.pdf", r}, {r + "/c.txt", r}}));

    // Every depth, each sub-folder where its name falls, all with the added folder.
    const std::vector<Visit> deep = Walk({Q(single), r}, true);
    QCOMPARE(deep, (std::vector<Visit>{{Q(single), {}},
                                       {r + "/a.pdf", r},
                                       {r + "/b.pdf", r},
                                       {r + "/c.txt", r},
                                       {r + "/sub/c.pdf", r},
                                       {r + "/sub/deeper/d.PDF", r}}));

    // A hidden path added itself is taken; paths keep their order; a path that does not exist
    // is handed on for the opening to pass over.
    const QString hidden = r + "/.hidden.pdf";
    QCOMPARE(Paths(Walk({hidden, r + "/missing.pdf", Q(single)}, true)),
             (QStringList{hidden, r + "/missing.pdf", Q(single)}));
}

void InputFilesTest::walkDoesNotFollowLinkedFolders() {
    testpdf::TempDir dir;
    const fs::path root = dir / "root";
    WritePdf(root / "a.pdf");
    WritePdf(root / "sub" / "c.pdf");
    fs::create_directory_symlink(root, root / "self");
    fs::create_directory_symlink(root / "sub", root / "sub" / "loop");
    fs::create_directory_symlink(root / "sub", root / "sublink");
    fs::create_symlink(root / "sub" / "c.pdf", root / "link.pdf");
    fs::create_symlink(root / "nowhere.pdf", root / "dangling.pdf");
    const QString r = Q(root);

    QCOMPARE(Paths(Walk({r}, true)),
             (QStringList{r + "/a.pdf", r + "/dangling.pdf", r + "/link.pdf", r + "/sub/c.pdf"}));
    // A link to a folder added itself is searched.
    QCOMPARE(Paths(Walk({r + "/sublink"}, true)), (QStringList{r + "/sublink/c.pdf"}));
}

void InputFilesTest::walkPassesOverUnreadableFolders() {
    testpdf::TempDir dir;
    const fs::path root = dir / "root";
    WritePdf(root / "a.pdf");
    WritePdf(root / "locked" / "x.pdf");
    WritePdf(root / "z.pdf");
    fs::permissions(root / "locked", fs::perms::none);
    const QString r = Q(root);
    const QStringList found = Paths(Walk({r, r + "/locked"}, true));
    fs::permissions(root / "locked", fs::perms::owner_all);
    // The folders around it are searched in any case; root reads every folder.
    QVERIFY(found.contains(r + "/a.pdf"));
    QVERIFY(found.contains(r + "/z.pdf"));
    if (!RunningAsRoot()) QCOMPARE(found, (QStringList{r + "/a.pdf", r + "/z.pdf"}));
}

void InputFilesTest::walkStopsWhenAsked() {
    testpdf::TempDir dir;
    WritePdf(dir / "f" / "a.pdf");
    WritePdf(dir / "f" / "sub" / "b.pdf");
    WritePdf(dir / "g.pdf");
    QCOMPARE(Walk({Q(dir / "f"), Q(dir / "g.pdf")}, true, 1).size(), std::size_t{1});
    QCOMPARE(Walk({Q(dir / "f"), Q(dir / "g.pdf")}, true, 2).size(), std::size_t{2});
}

void InputFilesTest::itemOfAPlainPdf() {
    testpdf::TempDir dir;
    const fs::path path = WritePdf(dir / "three.pdf", 3, 595.3, 841.9);
    int asked = 0;
    auto item = MakeImageListItem(Q(path), nullptr, true, [&](platform::PdfDocument&, const QString&) {
        ++asked;
        return std::optional<std::string>();
    });
    QVERIFY(item);
    QCOMPARE(asked, 0);
    QCOMPARE(item->filePath, Q(path));
    QCOMPARE(item->numOfPages, 3);
    QVERIFY(item->width && item->height);
    QCOMPARE(*item->width, 595.3f);
    QCOMPARE(*item->height, 841.9f);
    QCOMPARE(item->password, QString(""));
    QVERIFY(!item->parentFolderName);
    // A thumbnail of 42 by 42 points: the page drawn inside, clear around a portrait page.
    QVERIFY(!item->icon.isNull());
    QCOMPARE(item->icon.deviceIndependentSize(), QSizeF(42, 42));
    QVERIFY(qAlpha(item->icon.pixel(1, item->icon.height() / 2)) == 0);
    const QColor centre = item->icon.pixelColor(item->icon.width() / 2, item->icon.height() / 2);
    QCOMPARE(centre.alpha(), 255);
    // The keys as the conversion run and the table read them.
    const QVariantMap map = item->toVariantMap();
    QCOMPARE(map.value("FilePath").toUrl(), QUrl::fromLocalFile(Q(path)));
    QCOMPARE(map.value("NumOfPages").toLongLong(), 3);
    QCOMPARE(map.value("Password").toString(), QString(""));
    QVERIFY(map.contains("Icon") && map.contains("Width") && map.contains("Height"));
    QVERIFY(!map.contains("ParentFolderName"));

    // An Illustrator file is a PDF under another name.
    const fs::path ai = WritePdf(dir / "drawing.AI", 1, 200, 100);
    auto drawing = MakeImageListItem(Q(ai), nullptr, false, {});
    QVERIFY(drawing);
    QCOMPARE(*drawing->width, 200.f);
}

void InputFilesTest::itemSizeIsTheCropBoxInsideTheMediaBox() {
    testpdf::TempDir dir;
    testpdf::Options options;
    options.pages[0].width = 600;
    options.pages[0].height = 800;
    options.pages[0].cropBox = true;
    const double crop[4] = {100, 50, 400, 900};  // beyond the media box at the top
    std::copy(std::begin(crop), std::end(crop), options.pages[0].cropRect);
    options.pages[0].rotate = 90;
    const fs::path path = testpdf::Write(dir / "crop.pdf", options);
    auto item = MakeImageListItem(Q(path), nullptr, false, {});
    QVERIFY(item);
    // Unturned: the rotation does not swap the figures.
    QCOMPARE(*item->width, 300.f);
    QCOMPARE(*item->height, 750.f);
    // The thumbnail shows the page turned: wider than high.
    const QImage icon = item->icon;
    int inkTop = icon.height(), inkBottom = -1;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            if (qAlpha(icon.pixel(x, y)) == 255) {
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
            }
    QVERIFY(inkBottom - inkTop < icon.width() / 2);
}

void InputFilesTest::itemParentFolderOnlyWithTree() {
    testpdf::TempDir dir;
    const fs::path path = WritePdf(dir / "added" / "sub" / "a.pdf");
    const QString added = Q(dir / "added");
    auto kept = MakeImageListItem(Q(path), &added, true, {});
    auto notKept = MakeImageListItem(Q(path), &added, false, {});
    QVERIFY(kept && notKept);
    QCOMPARE(kept->parentFolderName.value_or(QString()), added);
    QCOMPARE(kept->toVariantMap().value("ParentFolderName").toUrl(), QUrl::fromLocalFile(added));
    QVERIFY(!notKept->parentFolderName);
}

void InputFilesTest::documentWithoutPagesIsListed() {
    testpdf::TempDir dir;
    const fs::path path = testpdf::Write(dir / "zero-pages.pdf", NoPages());
    auto item = MakeImageListItem(Q(path), nullptr, false, {});
    QVERIFY(item);
    QCOMPARE(item->numOfPages, 0);
    QVERIFY(!item->width && !item->height);
    const QVariantMap map = item->toVariantMap();
    QVERIFY(!map.contains("Width") && !map.contains("Height") && !map.contains("Icon"));

    // The table shows it with 0 pages and "-" for its size.
    FileListModel model;
    model.InsertItem(0, *item);
    QCOMPARE(model.data(model.index(0, FileListModel::kNumOfPagesColumn)).toString(), QString("0"));
    QCOMPARE(model.data(model.index(0, FileListModel::kSizeColumn)).toString(), QString("-"));
}

void InputFilesTest::badFilesAreNotTaken() {
    testpdf::TempDir dir;
    const fs::path good = WritePdf(dir / "good.pdf");
    std::ifstream in(good, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), {});

    const std::vector<fs::path> bad = {
        WriteBytes(dir / "garbage.pdf", std::string(4096, '\x7f')),
        WriteBytes(dir / "empty.pdf", ""),
        WriteBytes(dir / "picture.pdf", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"),
        WriteBytes(dir / "header-only.pdf", "%PDF-1.7\n%%EOF\n"),
        WritePdf(dir / "pdf-named.txt"),
        dir / "missing.pdf",
    };
    for (const fs::path& path : bad) QVERIFY2(!MakeImageListItem(Q(path), nullptr, false, {}), path.c_str());

    // Not a regular file: a folder and a pipe named like PDFs (opening a pipe would block).
    fs::create_directory(dir / "folder.pdf");
    QVERIFY(!MakeImageListItem(Q(dir / "folder.pdf"), nullptr, false, {}));
    QVERIFY(mkfifo((dir / "pipe.pdf").c_str(), 0600) == 0);
    QVERIFY(!MakeImageListItem(Q(dir / "pipe.pdf"), nullptr, false, {}));

    // A cut-off file may be repaired or not: either way nothing breaks.
    const fs::path cut = WriteBytes(dir / "cut.pdf", whole.substr(0, whole.size() / 2));
    (void)MakeImageListItem(Q(cut), nullptr, false, {});

    const fs::path unreadable = WritePdf(dir / "unreadable.pdf");
    fs::permissions(unreadable, fs::perms::none);
    const bool taken = MakeImageListItem(Q(unreadable), nullptr, false, {}).has_value();
    fs::permissions(unreadable, fs::perms::owner_all);
    if (!RunningAsRoot()) QVERIFY(!taken);
}

void InputFilesTest::protectedFilesAskOnlyWhenNeeded() {
    testpdf::TempDir dir;
    const fs::path locked = WriteLockedPdf(dir / "locked.pdf", "secret");
    const fs::path ownerOnly = WriteOwnerOnlyPdf(dir / "owner-only.pdf");
    const fs::path noCopy = testpdf::WriteCopyProtected(dir / "no-copy.pdf", "", "owner");

    QStringList asked;
    auto answer = [&](std::optional<std::string> reply) {
        return [&asked, reply](platform::PdfDocument& document, const QString& name) {
            asked << name;
            if (reply && !document.AcceptsPassword(*reply)) return std::optional<std::string>();
            return reply;
        };
    };

    // Opens with the empty password and allows copying: no question, password "".
    auto open = MakeImageListItem(Q(ownerOnly), nullptr, false, answer(std::nullopt));
    QVERIFY(open);
    QCOMPARE(open->password, QString(""));
    QVERIFY(asked.isEmpty());

    auto unlocked = MakeImageListItem(Q(locked), nullptr, false, answer("secret"));
    QVERIFY(unlocked);
    QCOMPARE(unlocked->password, QString("secret"));
    QCOMPARE(unlocked->numOfPages, 1);
    QVERIFY(!unlocked->icon.isNull());
    QCOMPARE(asked, QStringList{"locked.pdf"});

    // No answer passes the file over.
    QVERIFY(!MakeImageListItem(Q(locked), nullptr, false, answer(std::nullopt)));

    // Readable with the empty password but copying forbidden: asked, and "" is a right answer.
    asked.clear();
    auto restricted = MakeImageListItem(Q(noCopy), nullptr, false, answer(""));
    QVERIFY(restricted);
    QCOMPARE(restricted->password, QString(""));
    QCOMPARE(asked, QStringList{"no-copy.pdf"});
}

void InputFilesTest::corpusPdfs() {
    const std::vector<fs::path> corpus = testpdf::CorpusPdfs();
    if (corpus.empty()) QSKIP("no corpus");
    for (const fs::path& path : corpus) {
        std::size_t pages = 0;
        try {
            QPDF pdf;
            pdf.processFile(path.c_str());
            pages = QPDFPageDocumentHelper(pdf).getAllPages().size();
        } catch (const std::exception&) {
            continue;  // the independent reader cannot read it: nothing to compare with
        }
        auto item = MakeImageListItem(Q(path), nullptr, false, {});
        QVERIFY2(item, path.c_str());
        QCOMPARE(static_cast<std::size_t>(item->numOfPages), pages);
        QVERIFY2(item->width && item->height && *item->width > 0 && *item->height > 0, path.c_str());
        QVERIFY2(!item->icon.isNull(), path.c_str());
    }
}

QTEST_MAIN(InputFilesTest)
#include "InputFilesTest.moc"
