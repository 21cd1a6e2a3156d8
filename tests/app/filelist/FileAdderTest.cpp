// Add requests on the adding thread: order, positions, the busy switch, bad input and the
// password sheet, over the real PDF layer.

#include <QtTest>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>

#include <sys/stat.h>

#include "FileListTestSupport.h"
#include "filelist/FileAdder.h"
#include "filelist/FileListController.h"
#include "filelist/FileListModel.h"
#include "filelist/PasswordSheet.h"

using namespace filelisttest;
using Button = PasswordAnswer::Button;

namespace {

QString Text(std::string_view key) {
    if (key == "PasswordAlertMsg") return QStringLiteral("Enter the password of \"%1\".");
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// The real sheet, counting the questions and the files they were about.
class CountingPrompt : public PasswordPrompt {
public:
    explicit CountingPrompt(PasswordSheet* sheet) : sheet_(sheet) {}
    void Ask(const QString& fileName, const QString& typedText, std::function<void(const PasswordAnswer&)> done) override {
        asked << fileName;
        sheet_->Ask(fileName, typedText, std::move(done));
    }
    QStringList asked;

private:
    PasswordSheet* sheet_;
};

// A window with the sheet, a model and an adder, as the main window holds them.
struct Rig {
    QMainWindow window;
    FileListModel model{Text};
    PasswordSheet* sheet = new PasswordSheet(&window, Text);
    CountingPrompt prompt{sheet};
    FileAdder adder{&model, &prompt};
    QList<int> codes;
    QList<QPair<int, int>> finished;

    Rig() {
        window.resize(600, 400);
        window.show();
        QObject::connect(&adder, &FileAdder::busyStateChanged, [this](int code) { codes << code; });
        QObject::connect(&adder, &FileAdder::requestFinished,
                         [this](int first, int count) { finished << qMakePair(first, count); });
    }

    void Add(const QStringList& paths, std::optional<int> index = std::nullopt, bool recursive = true,
             bool tree = false) {
        adder.Add(AddRequest{paths, index, recursive, tree});
    }
    bool WaitIdle() {
        return QTest::qWaitFor([this] { return !adder.isBusy(); }, 60000);
    }
    QStringList Names() const {
        QStringList names;
        for (const ImageListItem& item : model.items()) names << FileName(item.filePath);
        return names;
    }
    // Waits for the sheet and answers it; false when it did not come.
    bool Answer(const QString& text, Button button, bool applyToAll = false) {
        if (!QTest::qWaitFor([this] { return sheet->isAsking() && sheet->isVisible(); }, 60000)) return false;
        sheet->applyToAllBox()->setChecked(applyToAll);
        sheet->passwordField()->setText(text);
        QPushButton* pressed = button == Button::OK     ? sheet->okButton()
                               : button == Button::Skip ? sheet->skipButton()
                                                        : sheet->cancelButton();
        QTest::mouseClick(pressed, Qt::LeftButton);
        return !sheet->isAsking();
    }
};

FileListHooks Hooks() {
    FileListHooks hooks;
    hooks.text = Text;
    return hooks;
}

}  // namespace

class FileAdderTest : public QObject {
    Q_OBJECT
private slots:
    void requestsRunInOrderWithTheBusySwitch();
    void positionIsFixedWhenTheRequestIsMade();
    void folderTreeOnlyWhenRecursive();
    void requestAddingNothingStillEnds();
    void badInputIsPassedOver();
    void wrongPasswordThenRight();
    void applyToAllWithOK();
    void applyToAllWithSkip();
    void skipWithoutApplyToAll();
    void cancelKeepsEarlierItems();
    void escapeAndClosingMeanCancel();
    void emptyPasswordOpensCopyProtectedFile();
    void destroyedWhileAsking();
    void windowGoesBeforeTheList();
};

void FileAdderTest::requestsRunInOrderWithTheBusySwitch() {
    testpdf::TempDir dir;
    WritePdf(dir / "first" / "a1.pdf");
    WritePdf(dir / "first" / "a2.pdf");
    WritePdf(dir / "first" / "a3.pdf");
    WritePdf(dir / "second.pdf");
    Rig rig;
    // Both made before the first has started: each at the list's end when it starts.
    rig.Add({Q(dir / "first")});
    rig.Add({Q(dir / "second.pdf")});
    QVERIFY(rig.adder.isBusy());
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), (QStringList{"a1.pdf", "a2.pdf", "a3.pdf", "second.pdf"}));
    QCOMPARE(rig.codes, (QList<int>{FileAdder::kBusyCode, FileAdder::kIdleCode, FileAdder::kBusyCode,
                                    FileAdder::kIdleCode}));
    QCOMPARE(rig.finished, (QList<QPair<int, int>>{{0, 3}, {3, 1}}));
    // The same file added twice is listed twice.
    rig.Add({Q(dir / "second.pdf")});
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.model.size(), 5);
    QCOMPARE(rig.Names().count("second.pdf"), 2);
}

void FileAdderTest::positionIsFixedWhenTheRequestIsMade() {
    testpdf::TempDir dir;
    for (const char* name : {"p1.pdf", "p2.pdf", "x.pdf", "y.pdf", "z.pdf"}) WritePdf(dir / name);
    WriteLockedPdf(dir / "locked.pdf", "pw");
    Rig rig;
    // The first request waits for its password after p1; meanwhile a second request is made
    // for the list's end as it is then (one row).
    rig.Add({Q(dir / "p1.pdf"), Q(dir / "locked.pdf"), Q(dir / "p2.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    QCOMPARE(rig.model.size(), 1);
    rig.Add({Q(dir / "x.pdf")}, rig.model.size());
    // It waits for the first one.
    QTest::qWait(50);
    QCOMPARE(rig.model.size(), 1);
    QVERIFY(rig.Answer("pw", Button::OK));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), (QStringList{"p1.pdf", "x.pdf", "locked.pdf", "p2.pdf"}));
    QCOMPARE(rig.finished, (QList<QPair<int, int>>{{0, 3}, {1, 1}}));

    // Dropped on row 2 of the list: inserted from row 2 on, in the dropped order.
    rig.Add({Q(dir / "y.pdf"), Q(dir / "z.pdf")}, 2);
    // A position past the end is the end.
    rig.Add({Q(dir / "p1.pdf")}, 99);
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), (QStringList{"p1.pdf", "x.pdf", "y.pdf", "z.pdf", "locked.pdf", "p2.pdf", "p1.pdf"}));
    QCOMPARE(rig.finished.mid(2), (QList<QPair<int, int>>{{2, 2}, {6, 1}}));
}

void FileAdderTest::folderTreeOnlyWhenRecursive() {
    testpdf::TempDir dir;
    const fs::path root = dir / "added";
    WritePdf(root / "a.pdf");
    WritePdf(root / "sub" / "b.pdf");
    WriteBytes(root / "notes.txt", "x");
    const fs::path single = WritePdf(dir / "single.pdf");
    Rig rig;
    rig.Add({Q(root), Q(single)}, std::nullopt, true, true);
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), (QStringList{"a.pdf", "b.pdf", "single.pdf"}));
    QCOMPARE(rig.model.item(0).parentFolderName.value_or(""), Q(root));
    QCOMPARE(rig.model.item(1).parentFolderName.value_or(""), Q(root));
    QVERIFY(!rig.model.item(2).parentFolderName);  // added itself

    // Keeping the tree without searching at every depth has no effect.
    rig.model.RemoveAll();
    rig.Add({Q(root)}, std::nullopt, false, true);
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), QStringList{"a.pdf"});
    QVERIFY(!rig.model.item(0).parentFolderName);
}

void FileAdderTest::requestAddingNothingStillEnds() {
    testpdf::TempDir dir;
    const fs::path text = WriteBytes(dir / "notes.txt", "plain text");
    QMainWindow window;
    auto* table = new QTableView(&window);
    window.setCentralWidget(table);
    FileListController controller(table, &window, Hooks());
    table->setModel(controller.model());
    QSignalSpy states(&controller, &FileListController::listStateChanged);
    QSignalSpy busy(&controller, &FileListController::busyStateChanged);

    // A dropped text file on an empty list: the request ends, the window hears of it (and
    // finds the list empty), and nothing is selected.
    controller.OpenFiles({Q(text)});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);
    QCOMPARE(controller.model()->size(), 0);
    QCOMPARE(busy.count(), 2);
    QCOMPARE(busy.at(0).at(0).toInt(), 1);
    QCOMPARE(busy.at(1).at(0).toInt(), 5);
    QVERIFY(controller.SelectedRows().empty());

    // With rows and a selection, a request that adds nothing leaves the selection as it was.
    controller.OpenFiles({Q(WritePdf(dir / "a.pdf")), Q(WritePdf(dir / "b.pdf"))});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 60000);
    QCOMPARE(controller.SelectedRows(), (std::vector<int>{0, 1}));
    controller.SelectRowStartingAtRow(0, 1);
    controller.OpenFiles({Q(text)});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 3, 60000);
    QCOMPARE(controller.SelectedRows(), std::vector<int>{0});
}

void FileAdderTest::badInputIsPassedOver() {
    testpdf::TempDir dir;
    const fs::path root = dir / "mixed";
    WriteBytes(root / "a-corrupt.pdf", std::string(2048, '\x01'));
    testpdf::Options none;
    none.pages.clear();
    testpdf::Write(root / "b-zero.pdf", none);
    WriteBytes(root / "c-picture.pdf", "\x89PNG\r\n\x1a\n");
    WritePdf(root / "d-good.pdf");
    QVERIFY(mkfifo((root / "e-pipe.pdf").c_str(), 0600) == 0);
    WritePdf(root / "f-locked" / "hidden-away.pdf");
    fs::permissions(root / "f-locked", fs::perms::none);
    fs::create_directory_symlink(root, root / "g-self");
    const fs::path unreadable = WritePdf(root / "h-unreadable.pdf");
    fs::permissions(unreadable, fs::perms::none);
    WritePdf(root / "i-last.pdf");
    const fs::path after = WritePdf(dir / "after.pdf");

    Rig rig;
    rig.Add({Q(root), Q(dir / "missing.pdf"), Q(after)});
    QVERIFY(rig.WaitIdle());
    fs::permissions(root / "f-locked", fs::perms::owner_all);
    fs::permissions(unreadable, fs::perms::owner_all);
    // A PDF without pages is a PDF: it is listed.
    const QStringList names = rig.Names();
    if (RunningAsRoot())
        QCOMPARE(names, (QStringList{"b-zero.pdf", "d-good.pdf", "hidden-away.pdf", "h-unreadable.pdf", "i-last.pdf",
                                     "after.pdf"}));
    else
        QCOMPARE(names, (QStringList{"b-zero.pdf", "d-good.pdf", "i-last.pdf", "after.pdf"}));
    QVERIFY(rig.prompt.asked.isEmpty());
}

void FileAdderTest::wrongPasswordThenRight() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "locked.pdf", "secret");
    Rig rig;
    rig.Add({Q(dir / "locked.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    // Window-modal on the main window, naming the file, the field empty.
    QCOMPARE(rig.sheet->parentWidget(), &rig.window);
    QCOMPARE(rig.sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(rig.sheet->messageField()->text(), QString("Enter the password of \"locked.pdf\"."));
    QCOMPARE(rig.sheet->passwordField()->text(), QString());
    QCOMPARE(rig.sheet->passwordField()->echoMode(), QLineEdit::Password);

    QVERIFY(rig.Answer("wrong", Button::OK));
    // The same question again, with the typed text still there.
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    QCOMPARE(rig.sheet->passwordField()->text(), QString("wrong"));
    QCOMPARE(rig.sheet->messageField()->text(), QString("Enter the password of \"locked.pdf\"."));
    QVERIFY(rig.Answer("secret", Button::OK));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked, (QStringList{"locked.pdf", "locked.pdf"}));
    QCOMPARE(rig.model.size(), 1);
    QCOMPARE(rig.model.item(0).password, QString("secret"));
    QCOMPARE(rig.model.item(0).numOfPages, 1);
    QVERIFY(!rig.sheet->isVisible());
}

void FileAdderTest::applyToAllWithOK() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "shared");
    WritePdf(dir / "plain.pdf");
    WriteLockedPdf(dir / "l2.pdf", "shared");
    WriteLockedPdf(dir / "l3.pdf", "other");
    Rig rig;
    rig.Add({Q(dir / "l1.pdf"), Q(dir / "plain.pdf"), Q(dir / "l2.pdf"), Q(dir / "l3.pdf")});
    QVERIFY(rig.Answer("shared", Button::OK, true));
    // l2 opens with the kept password; l3 does not and is asked about.
    QVERIFY(rig.Answer("other", Button::OK, true));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked, (QStringList{"l1.pdf", "l3.pdf"}));
    QCOMPARE(rig.Names(), (QStringList{"l1.pdf", "plain.pdf", "l2.pdf", "l3.pdf"}));
    QCOMPARE(rig.model.item(2).password, QString("shared"));
    QCOMPARE(rig.model.item(3).password, QString("other"));

    // The kept password ends with its request; the box keeps its state.
    rig.Add({Q(dir / "l2.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    QVERIFY(rig.sheet->applyToAllBox()->isChecked());
    QVERIFY(rig.Answer("shared", Button::OK));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked.size(), 3);
}

void FileAdderTest::applyToAllWithSkip() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "a");
    WritePdf(dir / "plain.pdf");
    WriteLockedPdf(dir / "l2.pdf", "b");
    WriteOwnerOnlyPdf(dir / "open.pdf");
    Rig rig;
    rig.Add({Q(dir / "l1.pdf"), Q(dir / "plain.pdf"), Q(dir / "l2.pdf"), Q(dir / "open.pdf")});
    QVERIFY(rig.Answer("", Button::Skip, true));
    QVERIFY(rig.WaitIdle());
    // Every further protected file is left out without a question; one that opens with the
    // empty password needs none.
    QCOMPARE(rig.prompt.asked, QStringList{"l1.pdf"});
    QCOMPARE(rig.Names(), (QStringList{"plain.pdf", "open.pdf"}));

    // The next request asks again.
    rig.Add({Q(dir / "l2.pdf")});
    QVERIFY(rig.Answer("b", Button::OK, false));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked, (QStringList{"l1.pdf", "l2.pdf"}));
    QCOMPARE(rig.Names(), (QStringList{"plain.pdf", "open.pdf", "l2.pdf"}));
}

void FileAdderTest::skipWithoutApplyToAll() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "a");
    WriteLockedPdf(dir / "l2.pdf", "b");
    Rig rig;
    rig.Add({Q(dir / "l1.pdf"), Q(dir / "l2.pdf")});
    QVERIFY(rig.Answer("a", Button::Skip));
    QVERIFY(rig.Answer("b", Button::OK));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked, (QStringList{"l1.pdf", "l2.pdf"}));
    QCOMPARE(rig.Names(), QStringList{"l2.pdf"});
}

void FileAdderTest::cancelKeepsEarlierItems() {
    testpdf::TempDir dir;
    WritePdf(dir / "folder" / "a.pdf");
    WriteLockedPdf(dir / "folder" / "b-locked.pdf", "x");
    WritePdf(dir / "folder" / "c.pdf");
    WritePdf(dir / "after.pdf");
    QMainWindow window;
    auto* table = new QTableView(&window);
    window.setCentralWidget(table);
    window.show();
    FileListController controller(table, &window, Hooks());
    table->setModel(controller.model());
    QSignalSpy states(&controller, &FileListController::listStateChanged);

    controller.OpenFiles({Q(dir / "folder"), Q(dir / "after.pdf")});
    PasswordSheet* sheet = controller.passwordSheet();
    QTRY_VERIFY_WITH_TIMEOUT(sheet->isAsking(), 60000);
    QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);
    // The rest of the folder and the later paths are not looked at; the new rows are selected.
    QCOMPARE(controller.model()->size(), 1);
    QCOMPARE(FileName(controller.model()->item(0).filePath), QString("a.pdf"));
    QCOMPARE(controller.SelectedRows(), std::vector<int>{0});

    // The next request starts afresh.
    controller.OpenFiles({Q(dir / "after.pdf")});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 60000);
    QCOMPARE(controller.model()->size(), 2);
}

void FileAdderTest::escapeAndClosingMeanCancel() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "a");
    WritePdf(dir / "p.pdf");
    Rig rig;
    rig.Add({Q(dir / "l1.pdf"), Q(dir / "p.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    rig.sheet->passwordField()->setText("a");  // even with the right password typed
    QTest::keyClick(rig.sheet->passwordField(), Qt::Key_Escape);
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.model.size(), 0);

    rig.Add({Q(dir / "l1.pdf"), Q(dir / "p.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    rig.sheet->passwordField()->setText("a");
    rig.sheet->close();
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.model.size(), 0);
    QVERIFY(!rig.sheet->isVisible());

    // Return presses OK.
    rig.Add({Q(dir / "l1.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig.sheet->isAsking(), 60000);
    rig.sheet->passwordField()->setText("a");
    QTest::keyClick(rig.sheet->passwordField(), Qt::Key_Return);
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.Names(), QStringList{"l1.pdf"});
}

void FileAdderTest::emptyPasswordOpensCopyProtectedFile() {
    testpdf::TempDir dir;
    testpdf::WriteCopyProtected(dir / "restricted.pdf", "", "boss");
    Rig rig;
    rig.Add({Q(dir / "restricted.pdf")});
    QVERIFY(rig.Answer("not it", Button::OK));
    QVERIFY(rig.Answer("", Button::OK));
    QVERIFY(rig.WaitIdle());
    QCOMPARE(rig.prompt.asked.size(), 2);
    QCOMPARE(rig.model.size(), 1);
    QCOMPARE(rig.model.item(0).password, QString(""));
}

void FileAdderTest::destroyedWhileAsking() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "a");
    WritePdf(dir / "p.pdf");
    auto rig = std::make_unique<Rig>();
    rig->Add({Q(dir / "l1.pdf"), Q(dir / "p.pdf")});
    rig->Add({Q(dir / "p.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(rig->sheet->isAsking(), 60000);
    // Quitting with the sheet up ends the adding thread without an answer and without a hang.
    rig.reset();
}

void FileAdderTest::windowGoesBeforeTheList() {
    testpdf::TempDir dir;
    WriteLockedPdf(dir / "l1.pdf", "a");
    WritePdf(dir / "p.pdf");
    auto window = std::make_unique<QMainWindow>();
    auto* table = new QTableView(window.get());
    window->setCentralWidget(table);
    window->show();
    FileListController controller(table, window.get(), Hooks());
    table->setModel(controller.model());
    QSignalSpy states(&controller, &FileListController::listStateChanged);
    controller.OpenFiles({Q(dir / "l1.pdf"), Q(dir / "p.pdf")});
    QTRY_VERIFY_WITH_TIMEOUT(controller.passwordSheet() && controller.passwordSheet()->isAsking(), 60000);
    // The window (and its sheet) go while the question is open: the request ends as cancelled.
    window.reset();
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 1, 60000);
    QVERIFY(!controller.passwordSheet());
    // Later protected files find no sheet and are passed over; the others are still added.
    controller.OpenFiles({Q(dir / "l1.pdf"), Q(dir / "p.pdf")});
    QTRY_COMPARE_WITH_TIMEOUT(states.count(), 2, 60000);
    QCOMPARE(controller.model()->size(), 0);  // Cancel: the rest of the request is not looked at
}

QTEST_MAIN(FileAdderTest)
#include "FileAdderTest.moc"
