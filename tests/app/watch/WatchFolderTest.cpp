// The watch folder through the routes a user takes: folders dropped on the pane's boxes or
// chosen in the panel, the option's radio buttons, the watch button; real inotify on temporary
// folders, the real engine, PDFs arriving the way copies and downloads make them.

#include <QButtonGroup>
#include <QGroupBox>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <sstream>
#include <thread>

#include "../AlertDriver.h"
#include "Common UI Code/OVXUtil.h"
#include "RunTestSupport.h"
#include "platform/LocalizedStrings.h"
#include "platform/Resources.h"
#include "platform/SystemVersion.h"
#include "settings/PlistPreferenceStore.h"
#include "settings/PreferenceSheet.h"
#include "watch/SourceFiles.h"
#include "watch/WatchFolder.h"
#include "watch/WatchSettings.h"

using namespace runtest;
using settings::PreferenceDictionary;

namespace {

std::string Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// A PDF that arrives whole: written beside the folder, then moved in (as a finished download).
fs::path Arrive(const fs::path& folder, const std::string& name, int pages = 1) {
    const fs::path staging = folder.parent_path() / ("staging-" + name);
    WritePdf(staging, pages);
    fs::rename(staging, folder / name);
    return folder / name;
}

// Sends a whole drag (enter, move, drop) to a widget; answers whether the drop was taken.
bool DragAndDrop(QWidget* target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    if (!move.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QUrl Url(const fs::path& path) { return QUrl::fromLocalFile(Q(path)); }

std::optional<PreferenceDictionary> ReadWatchFile() {
    return settings::PlistPreferenceStore().Read(settings::kWatchFolderPreferenceFile);
}

// The engine, counted: how many conversions, how many at once at most, and a gate that can hold
// a conversion at its start.
struct CountingEngine {
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::mutex mutex;
    std::condition_variable changed;
    bool hold = false;
    int held = 0;

    PdfConverter converter() {
        return [this](const ImageConversion* record) {
            const int now = ++running;
            for (int most = mostAtOnce; now > most && !mostAtOnce.compare_exchange_weak(most, now);) {
            }
            ++calls;
            {
                std::unique_lock lock(mutex);
                ++held;
                changed.notify_all();
                changed.wait(lock, [this] { return !hold; });
            }
            const std::uint8_t result = ConvertPDFToImages(record);
            --running;
            return result;
        };
    }
    void Hold() {
        std::lock_guard lock(mutex);
        hold = true;
    }
    void Release() {
        {
            std::lock_guard lock(mutex);
            hold = false;
        }
        changed.notify_all();
    }
    int heldCount() {
        std::lock_guard lock(mutex);
        return held;
    }
};

// The real application with its preference files in a folder of its own, the watch pane open
// and three folders made for the watch.
class WatchApp {
public:
    explicit WatchApp(const QString& configHome = {}) : app(configHome) {
        app.Action("watchFolderOptionMenuItemOutlet")->trigger();
    }

    watch::WatchFolder* watch() const { return app.delegate->watchFolder(); }
    const settings::WatchFolderPaneWidgets& pane() const { return app.delegate->preferenceSheet()->watchFolder(); }
    QGroupBox* box(int role) const {
        return role == 0 ? pane().watchFolderSourcePathViewCntr
               : role == 1 ? pane().watchFolderDestinationPathViewCntr
                           : pane().watchFolderMoveFilesPathViewCntr;
    }
    QLineEdit* field(int role) const {
        return role == 0 ? pane().watchFolderSourcePathTextField
               : role == 1 ? pane().watchFolderDestinationPathTextField
                           : pane().watchFolderMoveFilesPathTextField;
    }
    bool Drop(int role, const fs::path& folder) { return DragAndDrop(box(role), {Url(folder)}); }
    void ChooseOption(int option) { pane().sourceFileDeletOrMoveMatrixGroup->button(option)->click(); }
    void ClickWatch() { pane().watchButtonOutlet->click(); }

    // Drops the folders on their boxes, picks the option and starts watching.
    bool Watch(const fs::path& source, const fs::path& destination, int option = 2,
               const std::optional<fs::path>& moveFolder = std::nullopt) {
        if (!Drop(0, source) || !Drop(1, destination)) return false;
        if (moveFolder && !Drop(2, *moveFolder)) return false;
        ChooseOption(option);
        ClickWatch();
        return watch()->isWatching();
    }

    App app;
};

struct Folders {
    testpdf::TempDir dir;
    fs::path source = dir / "in";
    fs::path destination = dir / "out";
    fs::path moved = dir / "done";
    Folders() {
        for (const fs::path& f : {source, destination, moved}) fs::create_directories(f);
    }
};

bool WaitGone(const fs::path& file, int ms = 60000) {
    return QTest::qWaitFor([&] { return !fs::exists(file); }, ms);
}

// Waits until no scan has ended for `quiet` milliseconds.
void WaitQuiet(watch::WatchFolder* watch, int quiet = 800) {
    QSignalSpy scans(watch, &watch::WatchFolder::scanFinished);
    for (int seen = -1; seen != scans.count();) {
        seen = static_cast<int>(scans.count());
        QTest::qWait(quiet);
    }
}

void WriteGeneralPreferences(const QString& configHome, const PreferenceDictionary& preferences) {
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    QVERIFY(settings::PlistPreferenceStore().Write(preferences, settings::kGeneralPreferenceFile));
}

}  // namespace

class WatchFolderTest : public QObject {
    Q_OBJECT
private slots:
    void init() { platform::ResetSystemVersion(); }
    void cleanup() { platform::ResetSystemVersion(); }

    // Set-up.
    void dropBoxesTakeOneExistingFolder();
    void refusedDrops_data();
    void refusedDrops();
    void folderPanelOnTheSheet();
    void optionLeadsTheMoveFolderAndTheWatchButton();
    void foldersStoredFromTheVersionOn_data();
    void foldersStoredFromTheVersionOn();

    // Watching.
    void convertedAndHandledByOption_data();
    void convertedAndHandledByOption();
    void numberedCandidates_data();
    void numberedCandidates();
    void onlyDirectPdfEntriesAreTaken();
    void slowCopyIsNotTouchedUntilComplete_data();
    void slowCopyIsNotTouchedUntilComplete();
    void failingPdfStaysAndIsRetriedOnlyWhenAsked();
    void outputsUnderTheSourceCauseNoRescans_data();
    void outputsUnderTheSourceCauseNoRescans();
    void failedMoveKeepsTheSource();
    void refusals_data();
    void refusals();
    void recordFromTheCopiedPreferences_data();
    void recordFromTheCopiedPreferences();
    void watchKeepsTheSettingsItStartedWith();
    void stopAndRestartDuringAScanLoseNothing();
    void quitDuringAScanLosesNothingAndResumes();
    void removedStoredFolderIsUnresolved();
};

// --- Set-up ---------------------------------------------------------------------------------

void WatchFolderTest::dropBoxesTakeOneExistingFolder() {
    Folders f;
    WatchApp w;
    QVERIFY(!w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(w.Drop(1, f.destination));
    QCOMPARE(w.field(1)->text(), Q(f.destination));
    QCOMPARE(w.field(1)->toolTip(), Q(f.destination));
    QCOMPARE(w.watch()->folder(watch::WatchFolder::kDestination), std::optional<fs::path>(f.destination));
    // Stored at once, as the folder's path.
    std::optional<PreferenceDictionary> stored = ReadWatchFile();
    QVERIFY(stored);
    const auto* data = std::get_if<settings::PreferenceData>(&stored->at(watch::key::kDestinationURL));
    QVERIFY(data);
    QCOMPARE(std::string(data->begin(), data->end()), f.destination.string());
    QVERIFY(!w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(w.Drop(0, f.source));
    QVERIFY(w.pane().watchButtonOutlet->isEnabled());

    // The open buttons show the folders in the file manager.
    UrlCatcher opened;
    w.pane().openSourceWatchFolderButtonOutlet->click();
    w.pane().openDestinationWatchFolderButtonOutlet->click();
    QCOMPARE(opened.opened, (QList<QUrl>{Url(f.source), Url(f.destination)}));
}

void WatchFolderTest::refusedDrops_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("two folders") << "two folders";
    QTest::newRow("a file") << "a file";
    QTest::newRow("a missing path") << "a missing path";
    QTest::newRow("while watching") << "while watching";
}

void WatchFolderTest::refusedDrops() {
    QFETCH(QString, what);
    Folders f;
    WatchApp w;
    const fs::path file = WritePdf(f.dir / "a.pdf");
    QList<QUrl> urls;
    if (what == "two folders") urls = {Url(f.moved), Url(f.dir.path())};
    if (what == "a file") urls = {Url(file)};
    if (what == "a missing path") urls = {Url(f.dir / "gone")};
    if (what == "while watching") {
        QVERIFY(w.Watch(f.source, f.destination));
        urls = {Url(f.moved)};
    }
    const QString before = w.field(1)->text();
    QVERIFY(!DragAndDrop(w.box(1), urls));
    QCOMPARE(w.field(1)->text(), before);
    const std::optional<PreferenceDictionary> stored = ReadWatchFile();
    if (what != "while watching") QVERIFY(!stored || !stored->count(watch::key::kDestinationURL));
}

void WatchFolderTest::folderPanelOnTheSheet() {
    Folders f;
    WatchApp w;
    w.pane().selectDestinationWatchFolderButtonOutlet->click();
    QFileDialog* panel = w.watch()->folderPanel();
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->parentWidget(), static_cast<QWidget*>(w.app.delegate->preferenceSheet()));
    QCOMPARE(panel->windowModality(), Qt::WindowModal);
    QCOMPARE(panel->windowTitle(), platform::LocalizedString("OpenDestinationDialogTitle"));
    QCOMPARE(panel->fileMode(), QFileDialog::Directory);
    // Cancel changes nothing.
    panel->reject();
    QVERIFY(w.field(1)->text().isEmpty());

    w.pane().selectSourceWatchFolderButtonOutlet->click();
    QCOMPARE(panel->windowTitle(), platform::LocalizedString("OpenDialogTitle"));
    panel->setDirectory(Q(f.source));
    panel->selectFile(Q(f.source));
    QMetaObject::invokeMethod(panel, "accept", Qt::DirectConnection);
    QCOMPARE(w.field(0)->text(), Q(f.source));
    QVERIFY(w.field(1)->text().isEmpty());
}

void WatchFolderTest::optionLeadsTheMoveFolderAndTheWatchButton() {
    Folders f;
    WatchApp w;
    QVERIFY(w.Drop(0, f.source));
    QVERIFY(w.Drop(1, f.destination));
    QVERIFY(w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(!w.pane().selectMoveFilesWatchFolderButtonOutlet->isEnabled());
    QVERIFY(!w.pane().openMoveFilesWatchFolderButtonOutlet->isEnabled());

    w.ChooseOption(3);
    QVERIFY(!w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(w.pane().selectMoveFilesWatchFolderButtonOutlet->isEnabled());
    QVERIFY(w.pane().openMoveFilesWatchFolderButtonOutlet->isEnabled());
    QCOMPARE(std::get<std::int64_t>(ReadWatchFile()->at(watch::key::kMoveToDestinationOption)), 3);
    QVERIFY(w.Drop(2, f.moved));
    QVERIFY(w.pane().watchButtonOutlet->isEnabled());

    // Options 1 and 2 grey the move folder's path and disable its buttons.
    w.ChooseOption(1);
    QVERIFY(w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(!w.pane().selectMoveFilesWatchFolderButtonOutlet->isEnabled());
    const QPalette palette = w.field(2)->palette();
    QCOMPARE(palette.color(QPalette::Active, QPalette::Text), palette.color(QPalette::Disabled, QPalette::Text));
    QCOMPARE(std::get<std::int64_t>(ReadWatchFile()->at(watch::key::kMoveToDestinationOption)), 1);

    // Watching locks the set-up; the open buttons stay usable.
    w.ClickWatch();
    QVERIFY(w.watch()->isWatching());
    QVERIFY(w.app.delegate->isWatching());
    QCOMPARE(w.pane().watchButtonOutlet->text(), platform::LocalizedString("StopWatchingButtonTitle"));
    QVERIFY(!w.pane().selectSourceWatchFolderButtonOutlet->isEnabled());
    QVERIFY(!w.pane().sourceFileDeletOrMoveMatrixOutlet->isEnabled());
    QVERIFY(w.pane().openSourceWatchFolderButtonOutlet->isEnabled());
    QVERIFY(w.pane().watchingSpinningProgressOutlet->isVisibleTo(w.app.delegate->preferenceSheet()));
    QCOMPARE(std::get<bool>(ReadWatchFile()->at(watch::key::kIsWatching)), true);
    w.ClickWatch();
    QVERIFY(!w.watch()->isWatching());
    QVERIFY(w.pane().selectSourceWatchFolderButtonOutlet->isEnabled());
    QCOMPARE(w.pane().watchButtonOutlet->text(), platform::LocalizedString("StartWatchingButtonTitle"));
    QCOMPARE(std::get<bool>(ReadWatchFile()->at(watch::key::kIsWatching)), false);
}

void WatchFolderTest::foldersStoredFromTheVersionOn_data() {
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("patch");
    QTest::addColumn<bool>("stored");
    QTest::newRow("10.7.2: in memory only") << 7 << 2 << false;
    QTest::newRow("10.7.3: stored and resumed") << 7 << 3 << true;
}

void WatchFolderTest::foldersStoredFromTheVersionOn() {
    QFETCH(int, minor);
    QFETCH(int, patch);
    QFETCH(bool, stored);
    platform::SetSystemVersion({10, minor, patch});
    Folders f;
    QTemporaryDir config;
    {
        WatchApp w(config.path());
        QVERIFY(w.Watch(f.source, f.destination));
        // The folders work for this run either way.
        const fs::path pdf = Arrive(f.source, "a.pdf");
        QVERIFY(WaitGone(pdf));
        QVERIFY(fs::exists(f.destination / "a.pdf"));
        const std::optional<PreferenceDictionary> file = ReadWatchFile();
        QCOMPARE(file && file->count(watch::key::kSourceURL) > 0, stored);
        QCOMPARE(file && file->count(watch::key::kDestinationURL) > 0, stored);
    }
    const fs::path later = Arrive(f.source, "b.pdf");
    WatchApp again(config.path());
    QCOMPARE(again.watch()->isWatching(), stored);
    QCOMPARE(again.field(0)->text().isEmpty(), !stored);
    if (stored) QVERIFY(WaitGone(later));
}

// --- Watching -------------------------------------------------------------------------------

void WatchFolderTest::convertedAndHandledByOption_data() {
    QTest::addColumn<int>("option");
    QTest::addColumn<bool>("otherFileSystem");
    QTest::newRow("delete") << 1 << false;
    QTest::newRow("move to the destination") << 2 << false;
    QTest::newRow("move to the move folder") << 3 << false;
    QTest::newRow("move onto another file system") << 3 << true;
}

void WatchFolderTest::convertedAndHandledByOption() {
    QFETCH(int, option);
    QFETCH(bool, otherFileSystem);
    Folders f;
    std::optional<QTemporaryDir> shm;
    fs::path moveFolder = f.moved;
    if (otherFileSystem) {
        shm.emplace(QStringLiteral("/dev/shm/vellipse-watch-XXXXXX"));
        struct stat a {}, b {};
        if (!shm->isValid() || ::stat("/dev/shm", &b) != 0 || ::stat(f.dir.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system at /dev/shm");
        moveFolder = ToFsPath(shm->path());
    }
    WatchApp w;
    QVERIFY(w.Watch(f.source, f.destination, option, option == 3 ? std::optional(moveFolder) : std::nullopt));
    const fs::path pdf = Arrive(f.source, "Report.pdf", 2);
    const std::string original = Bytes(pdf);
    QVERIFY(WaitGone(pdf));
    // The images are in the per-file folder, checked by an independent reader.
    const std::set<std::string> images = Entries(f.destination / "Report");
    QCOMPARE(images.size(), std::size_t{2});
    for (const std::string& image : images) QVERIFY(!QImage(Q(f.destination / "Report" / image)).isNull());
    std::set<std::string> expected = {"Report"};
    if (option == 2) expected.insert("Report.pdf");
    QCOMPARE(Entries(f.destination), expected);
    if (option == 2) QCOMPARE(Bytes(f.destination / "Report.pdf"), original);
    if (option == 3) {
        // Moved whole, with no copy left behind under another name.
        QCOMPARE(Entries(moveFolder), std::set<std::string>{"Report.pdf"});
        QCOMPARE(Bytes(moveFolder / "Report.pdf"), original);
    }
    QVERIFY(Entries(f.source).empty());
}

void WatchFolderTest::numberedCandidates_data() {
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("overwriting off") << false;
    QTest::newRow("overwriting on") << true;
}

void WatchFolderTest::numberedCandidates() {
    QFETCH(bool, overwrite);
    Folders f;
    QTemporaryDir config;
    PreferenceDictionary preferences = settings::DefaultGeneralPreferences();
    preferences[settings::key::kOverWriteExistingFile] = overwrite;
    preferences[settings::key::kCreateSeparateFolder] = false;
    WriteGeneralPreferences(config.path(), preferences);
    // A file and a folder stand in the way; a folder is never replaced.
    fs::create_directories(f.moved / "b.pdf" / "keep");
    { std::ofstream(f.moved / "a.pdf") << "earlier"; }
    WatchApp w(config.path());
    QVERIFY(w.Watch(f.source, f.destination, 3, f.moved));
    for (const char* name : {"a.pdf", "b.pdf"}) QVERIFY(WaitGone(Arrive(f.source, name)));
    const std::string second = Bytes(Arrive(f.source, "a.pdf"));
    QVERIFY(WaitGone(f.source / "a.pdf"));
    QVERIFY(fs::exists(f.moved / "b.pdf" / "keep"));
    if (overwrite) {
        QCOMPARE(Entries(f.moved), (std::set<std::string>{"a.pdf", "b.pdf", "b 1.pdf"}));
        QCOMPARE(Bytes(f.moved / "a.pdf"), second);
    } else {
        QCOMPARE(Entries(f.moved), (std::set<std::string>{"a.pdf", "a 1.pdf", "a 2.pdf", "b.pdf", "b 1.pdf"}));
        QCOMPARE(Bytes(f.moved / "a.pdf"), std::string("earlier"));
        QCOMPARE(Bytes(f.moved / "a 2.pdf"), second);
    }
}

void WatchFolderTest::onlyDirectPdfEntriesAreTaken() {
    Folders f;
    WritePdf(f.source / "sub" / "inner.pdf");
    WritePdf(f.source / ".hidden.pdf");
    { std::ofstream(f.source / "notes.pdf") << "not a PDF at all\n"; }
    WritePdf(f.source / "report.PDF");
    WritePdf(f.source / "drawing.ai");
    WritePdf(f.source / "typed");
    (void)::setxattr((f.source / "typed").c_str(), "user.mime_type", "application/pdf", 15, 0);
    ::mkfifo((f.source / "pipe.pdf").c_str(), 0600);
    WatchApp w;
    QVERIFY(w.Watch(f.source, f.destination, 1));
    QVERIFY(WaitGone(f.source / "report.PDF"));
    QVERIFY(WaitGone(f.source / "drawing.ai"));
    WaitQuiet(w.watch());
    std::set<std::string> left = {"sub", ".hidden.pdf", "notes.pdf", "pipe.pdf"};
    std::set<std::string> made = {"report", "drawing"};
    if (fs::exists(f.source / "typed")) {
        // Without the type attribute (a file system that keeps none) it is not taken.
        left.insert("typed");
    } else {
        made.insert("typed");
    }
    QCOMPARE(Entries(f.source), left);
    QCOMPARE(Entries(f.source / "sub"), std::set<std::string>{"inner.pdf"});
    QCOMPARE(Entries(f.destination), made);
}

void WatchFolderTest::slowCopyIsNotTouchedUntilComplete_data() {
    QTest::addColumn<bool>("begunBeforeWatching");
    QTest::newRow("begun while watching") << false;
    QTest::newRow("begun before watching") << true;
}

void WatchFolderTest::slowCopyIsNotTouchedUntilComplete() {
    QFETCH(bool, begunBeforeWatching);
    Folders f;
    const std::string whole = Bytes(WritePdf(f.dir / "whole.pdf", 3));
    const fs::path target = f.source / "slow.pdf";
    // The copy writes a valid PDF's first part at once (a reader could open a truncated file),
    // then the rest in chunks with pauses longer than the settling time.
    std::atomic<bool> closed{false};
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    const std::size_t first = whole.size() - 40;
    QCOMPARE(::write(fd, whole.data(), first), static_cast<ssize_t>(first));
    WatchApp w;
    w.watch()->setSettlingTime(std::chrono::milliseconds(300));
    std::thread writer;
    auto startWriter = [&] {
        writer = std::thread([&] {
            for (std::size_t at = first; at < whole.size(); at += 10) {
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                if (::write(fd, whole.data() + at, std::min<std::size_t>(10, whole.size() - at)) < 0) break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            closed = true;
            ::close(fd);
        });
    };
    if (!begunBeforeWatching) {
        QVERIFY(w.Watch(f.source, f.destination, 1));
        startWriter();
    } else {
        startWriter();
        QTest::qWait(500);
        QVERIFY(w.Watch(f.source, f.destination, 1));
    }
    // Other arrivals keep the scans coming while the copy goes on.
    for (int i = 0; !closed; ++i) {
        QVERIFY(WaitGone(Arrive(f.source, "other" + std::to_string(i) + ".pdf")));
        if (!closed) {
            QVERIFY(fs::exists(target));
            QVERIFY(!fs::exists(f.destination / "slow"));
        }
    }
    writer.join();
    QVERIFY(WaitGone(target));
    // Converted once, from the whole file: all three pages.
    QCOMPARE(Entries(f.destination / "slow").size(), std::size_t{3});
    QVERIFY(!fs::exists(f.destination / "slow 1"));
}

void WatchFolderTest::failingPdfStaysAndIsRetriedOnlyWhenAsked() {
    Folders f;
    QTemporaryDir config;
    PreferenceDictionary preferences = settings::DefaultGeneralPreferences();
    preferences[settings::key::kPassword] = std::string("wrong");
    WriteGeneralPreferences(config.path(), preferences);
    WatchApp w(config.path());
    CountingEngine engine;
    w.app.delegate->setPdfConverter(engine.converter());
    WriteLockedPdf(f.source / "locked.pdf", "secret");
    QVERIFY(w.Watch(f.source, f.destination, 1));
    QVERIFY(QTest::qWaitFor([&] { return engine.calls == 1; }, 20000));
    // Left alone while nothing happens: no retrying on its own, no folder left for it.
    WaitQuiet(w.watch(), 1500);
    QCOMPARE(engine.calls.load(), 1);
    QVERIFY(fs::exists(f.source / "locked.pdf"));
    QVERIFY(Entries(f.destination).empty());
    // Tried again at the next arrival.
    QVERIFY(WaitGone(Arrive(f.source, "next.pdf")));
    QVERIFY(QTest::qWaitFor([&] { return engine.calls == 3; }, 20000));
    WaitQuiet(w.watch());
    QCOMPARE(engine.calls.load(), 3);
    QVERIFY(fs::exists(f.source / "locked.pdf"));
    // Replaced by a file the settings can open: converted.
    WriteLockedPdf(f.dir / "fixed.pdf", "wrong");
    fs::rename(f.dir / "fixed.pdf", f.source / "locked.pdf");
    QVERIFY(WaitGone(f.source / "locked.pdf"));
    QCOMPARE(Entries(f.destination), (std::set<std::string>{"locked", "next"}));
}

void WatchFolderTest::outputsUnderTheSourceCauseNoRescans_data() {
    QTest::addColumn<bool>("perFileFolders");
    QTest::newRow("per-file folders") << true;
    QTest::newRow("into the destination") << false;
}

void WatchFolderTest::outputsUnderTheSourceCauseNoRescans() {
    QFETCH(bool, perFileFolders);
    Folders f;
    QTemporaryDir config;
    PreferenceDictionary preferences = settings::DefaultGeneralPreferences();
    preferences[settings::key::kCreateSeparateFolder] = perFileFolders;
    WriteGeneralPreferences(config.path(), preferences);
    // The destination, not made yet, inside the source; the sources are moved there too.
    const fs::path inside = f.source / "images";
    WatchApp w(config.path());
    fs::create_directories(inside);
    QVERIFY(w.Drop(1, inside));
    if (!perFileFolders) fs::remove(inside);
    CountingEngine engine;
    w.app.delegate->setPdfConverter(engine.converter());
    QVERIFY(w.Drop(0, f.source));
    w.ClickWatch();
    QVERIFY(w.watch()->isWatching());
    QVERIFY(WaitGone(Arrive(f.source, "a.pdf", 3)));
    // The scans queued by the start and the arrival end; after them, none follows.
    WaitQuiet(w.watch());
    QSignalSpy scans(w.watch(), &watch::WatchFolder::scanFinished);
    QTest::qWait(1500);
    QCOMPARE(scans.count(), 0);
    QCOMPARE(engine.calls.load(), 1);
    QVERIFY(fs::exists(inside / "a.pdf"));
}

void WatchFolderTest::failedMoveKeepsTheSource() {
    Folders f;
    WatchApp w;
    CountingEngine engine;
    w.app.delegate->setPdfConverter(engine.converter());
    QVERIFY(w.Watch(f.source, f.destination, 3, f.moved));
    // The move folder goes away while watching: the converted source stays where it was, and
    // is not converted again while it waits to be moved.
    fs::remove(f.moved);
    const fs::path pdf = Arrive(f.source, "a.pdf");
    const std::string original = Bytes(pdf);
    QVERIFY(QTest::qWaitFor([&] { return engine.calls == 1; }, 20000));
    WaitQuiet(w.watch());
    QCOMPARE(Bytes(pdf), original);
    const fs::path second = Arrive(f.source, "b.pdf");
    QVERIFY(QTest::qWaitFor([&] { return engine.calls == 2; }, 20000));
    WaitQuiet(w.watch());
    QVERIFY(fs::exists(second));
    QCOMPARE(engine.calls.load(), 2);
    QCOMPARE(Entries(f.destination), (std::set<std::string>{"a", "b"}));
    // Once the folder is back, the next event moves both.
    fs::create_directories(f.moved);
    QVERIFY(WaitGone(Arrive(f.source, "c.pdf")));
    QVERIFY(WaitGone(pdf));
    QCOMPARE(Entries(f.moved), (std::set<std::string>{"a.pdf", "b.pdf", "c.pdf"}));
    QCOMPARE(engine.calls.load(), 3);
}

void WatchFolderTest::refusals_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("alert");
    QTest::newRow("destination is a link to the source") << "destination" << "SourceWatchAndDestSameMsg";
    QTest::newRow("move folder is the source") << "move" << "SourceWatchAndMoveSameMsg";
    QTest::newRow("move folder not found") << "no move" << "MoveFoderNotSelectedMsg";
}

void WatchFolderTest::refusals() {
    QFETCH(QString, what);
    QFETCH(QString, alert);
    Folders f;
    const fs::path link = f.dir / "link";
    fs::create_directory_symlink(f.source, link);
    WatchApp w;
    AlertDriver driver;
    QVERIFY(w.Drop(0, f.source));
    QVERIFY(w.Drop(1, what == "destination" ? link : f.destination));
    if (what != "destination") {
        w.ChooseOption(3);
        QVERIFY(w.Drop(2, what == "move" ? link : f.moved));
        // The chosen folder is gone when watching is asked for: the path still shows.
        if (what == "no move") {
            fs::remove(f.moved);
            w.watch()->SetWatchFolderMoveToDestinationURL(f.moved);
        }
    }
    const fs::path pdf = WritePdf(f.source / "a.pdf");
    w.ClickWatch();
    QVERIFY(QTest::qWaitFor([&] { return driver.count() == 1; }, 5000));
    QCOMPARE(driver.titles().front(), platform::LocalizedString(alert.toLatin1().constData()));
    QVERIFY(!w.watch()->isWatching());
    QVERIFY(!w.app.delegate->isWatching());
    QTest::qWait(300);
    QVERIFY(fs::exists(pdf));
    const std::optional<PreferenceDictionary> stored = ReadWatchFile();
    QVERIFY(!stored || !settings::BoolPreference(*stored, watch::key::kIsWatching).value_or(false));
}

void WatchFolderTest::recordFromTheCopiedPreferences_data() {
    QTest::addColumn<int>("type");          // 0: no key
    QTest::addColumn<int>("resolution");    // 0: no key
    QTest::addColumn<double>("quality");    // < 0: no key
    QTest::addColumn<QString>("width");     // null: no key
    QTest::addColumn<int>("unit");          // 0: no key
    QTest::addColumn<int>("wantResolution");
    QTest::addColumn<double>("wantQuality");
    QTest::addColumn<bool>("wantResize");
    QTest::newRow("nothing stored") << 0 << 0 << -1.0 << QString() << 0 << 72 << 0.8 << false;
    QTest::newRow("JPEG at 300") << 4 << 300 << 0.5 << QString() << 0 << 300 << 0.5 << false;
    QTest::newRow("PNG at 150, no quality") << 7 << 150 << 0.5 << QString() << 0 << 150 << 0.0 << false;
    QTest::newRow("TIFF in CMYK keeps 72") << 13 << 300 << 0.5 << QString() << 0 << 72 << 0.0 << false;
    QTest::newRow("JPEG 2000: quality, 72") << 3 << 300 << 0.3 << QString() << 0 << 72 << 0.3 << false;
    QTest::newRow("type missing, resolution kept") << 0 << 144 << -1.0 << QString() << 0 << 144 << 0.8 << false;
    QTest::newRow("width in pixels") << 7 << 150 << -1.0 << QString("640") << 2 << 150 << 0.0 << true;
    QTest::newRow("width, unit missing") << 7 << 150 << -1.0 << QString("640") << 0 << 150 << 0.0 << true;
    QTest::newRow("width 0") << 7 << 150 << -1.0 << QString("0") << 2 << 150 << 0.0 << false;
}

void WatchFolderTest::recordFromTheCopiedPreferences() {
    QFETCH(int, type);
    QFETCH(int, resolution);
    QFETCH(double, quality);
    QFETCH(QString, width);
    QFETCH(int, unit);
    QFETCH(int, wantResolution);
    QFETCH(double, wantQuality);
    QFETCH(bool, wantResize);
    PreferenceDictionary preferences{{settings::key::kPassword, std::string("pw")}};
    if (type) preferences[settings::key::kImageType] = std::int64_t{type};
    if (resolution) preferences[settings::key::kImageResolutionOption] = std::int64_t{resolution};
    if (quality >= 0) preferences[settings::key::kJPEGQuality] = quality;
    if (!width.isNull()) preferences[settings::key::kWidth] = width.toStdString();
    if (unit) preferences[settings::key::kInputType] = std::int64_t{unit};
    ImageConversion record{};
    QVERIFY(watch::GetConversionSettingsForWatchFolder(preferences, &record));
    QCOMPARE(record.conversionOptions.imageType, type ? type : 4);
    QCOMPARE(record.conversionOptions.outputResolution, std::int64_t{wantResolution});
    QCOMPARE(record.conversionOptions.compressionQuality, wantQuality);
    QCOMPARE(record.conversionOptions.password, std::optional<std::string>("pw"));
    QCOMPARE(record.conversionOptions.pageRangeType, 0);
    QCOMPARE(record.resizeEnabled, std::uint8_t{wantResize});
    QCOMPARE(record.resizeOptions.targetWidth, wantResize ? width.toDouble() : 0.0);
    QCOMPARE(record.resizeOptions.sizeUnit, wantResize ? unit : 0);
    QCOMPARE(record.resizeOptions.fitMode, wantResize ? 2 : 0);
    QCOMPARE(record.resizeOptions.keepAspectRatio, std::uint8_t{wantResize});
    QVERIFY(!record.progressCallback.progressTarget);
}

void WatchFolderTest::watchKeepsTheSettingsItStartedWith() {
    Folders f;
    QTemporaryDir config;
    PreferenceDictionary preferences = settings::DefaultGeneralPreferences();
    preferences[settings::key::kImageType] = std::int64_t{7};
    preferences[settings::key::kImageResolutionOption] = std::int64_t{144};
    WriteGeneralPreferences(config.path(), preferences);
    WatchApp w(config.path());
    QVERIFY(w.Watch(f.source, f.destination, 1));
    // Applied while watching: the running watch goes on with what it copied.
    preferences[settings::key::kImageResolutionOption] = std::int64_t{72};
    WriteGeneralPreferences(config.path(), preferences);
    QVERIFY(WaitGone(Arrive(f.source, "a.pdf")));
    const std::set<std::string> images = Entries(f.destination / "a");
    QCOMPARE(images.size(), std::size_t{1});
    const QImage image(Q(f.destination / "a" / *images.begin()));
    // 144 by 72 points at 144 dpi.
    QCOMPARE(image.size(), QSize(288, 144));
}

void WatchFolderTest::stopAndRestartDuringAScanLoseNothing() {
    Folders f;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) WritePdf(f.source / name);
    WatchApp w;
    CountingEngine engine;
    engine.Hold();
    w.app.delegate->setPdfConverter(engine.converter());
    QVERIFY(w.Watch(f.source, f.destination, 2));
    QVERIFY(QTest::qWaitFor([&] { return engine.heldCount() == 1; }, 20000));
    // Stopped and started again while the first file is in the engine.
    w.ClickWatch();
    QVERIFY(!w.watch()->isWatching());
    w.ClickWatch();
    QVERIFY(w.watch()->isWatching());
    engine.Release();
    QVERIFY(QTest::qWaitFor([&] { return Entries(f.source).empty(); }, 60000));
    WaitQuiet(w.watch());
    // Each file converted once and moved once; never two scans at once.
    QCOMPARE(engine.calls.load(), 3);
    QCOMPARE(engine.mostAtOnce.load(), 1);
    QCOMPARE(Entries(f.destination), (std::set<std::string>{"a", "a.pdf", "b", "b.pdf", "c", "c.pdf"}));
}

void WatchFolderTest::quitDuringAScanLosesNothingAndResumes() {
    Folders f;
    QTemporaryDir config;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) WritePdf(f.source / name);
    CountingEngine engine;
    {
        WatchApp w(config.path());
        engine.Hold();
        w.app.delegate->setPdfConverter(engine.converter());
        QVERIFY(w.Watch(f.source, f.destination, 1));
        QVERIFY(QTest::qWaitFor([&] { return engine.heldCount() == 1; }, 20000));
        // Quitting while watching asks first.
        AlertDriver driver(QStringLiteral("defaultButton"));
        QSignalSpy approved(w.app.delegate.get(), &AppDelegate::terminationApproved);
        w.app.delegate->terminate();
        QCOMPARE(driver.titles(), QStringList{platform::LocalizedString("QuitOnCloseTitle")});
        QCOMPARE(approved.count(), 1);
        // The program ends while the file is in the engine: the ending waits for it.
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            engine.Release();
        });
        w.app.delegate.reset();
        release.join();
    }
    // The file in hand was finished and deleted, the others are untouched.
    QCOMPARE(engine.calls.load(), 1);
    QCOMPARE(Entries(f.source).size(), std::size_t{2});
    QCOMPARE(Entries(f.destination).size(), std::size_t{1});
    QCOMPARE(std::get<bool>(ReadWatchFile()->at(watch::key::kIsWatching)), true);

    // The next launch resumes and converts what waited, and what arrived meanwhile.
    WritePdf(f.source / "d.pdf");
    WatchApp again(config.path());
    QVERIFY(again.watch()->isWatching());
    QCOMPARE(again.field(0)->text(), Q(f.source));
    QVERIFY(QTest::qWaitFor([&] { return Entries(f.source).empty(); }, 60000));
    QCOMPARE(Entries(f.destination), (std::set<std::string>{"a", "b", "c", "d"}));
}

void WatchFolderTest::removedStoredFolderIsUnresolved() {
    Folders f;
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const fs::path gone = f.dir / "gone";
    QVERIFY(settings::PlistPreferenceStore().Write({{watch::key::kSourceURL, watch::FolderData(gone)},
                                                    {watch::key::kDestinationURL, watch::FolderData(f.destination)},
                                                    {watch::key::kMoveToDestinationOption, std::int64_t{1}},
                                                    {watch::key::kIsWatching, true}},
                                                   settings::kWatchFolderPreferenceFile));
    WatchApp w(config.path());
    QVERIFY(!w.watch()->folder(watch::WatchFolder::kSource));
    QVERIFY(w.field(0)->text().isEmpty());
    QCOMPARE(w.field(1)->text(), Q(f.destination));
    QVERIFY(w.pane().sourceFileDeletOrMoveMatrixGroup->button(1)->isChecked());
    QVERIFY(!w.pane().watchButtonOutlet->isEnabled());
    QVERIFY(!w.watch()->isWatching());

    // A file that cannot be read is replaced by the defaults and nothing resumes.
    QTemporaryDir other;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(other.path()));
    fs::create_directories(ToFsPath(other.path()) / "vellipse");
    { std::ofstream(ToFsPath(other.path()) / "vellipse" / (platform::BundleIdentifier() + "-WatchFolderPref.plist")) << "garbage"; }
    WatchApp fresh(other.path());
    QVERIFY(!fresh.watch()->isWatching());
    const std::optional<PreferenceDictionary> written = ReadWatchFile();
    QVERIFY(written);
    QCOMPARE(*written, (PreferenceDictionary{{watch::key::kMoveToDestinationOption, std::int64_t{2}},
                                             {watch::key::kIsWatching, false}}));
}

QTEST_MAIN(WatchFolderTest)
#include "WatchFolderTest.moc"
