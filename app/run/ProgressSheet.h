#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;

// The counters of one conversion run that the progress sheet shows. They belong to the run and
// are read and written on the main thread only.
struct ProgressCounters {
    std::int64_t numOfFilesForConversion = 0;  // files in the run
    std::int64_t fileProcessingIndex = 0;      // files started so far (advanced by status 3)
    QString currentProcessingPDFFileName;      // name of the file being converted
};

// The sheet that covers the main window during a conversion run: the file line and bar follow
// the run from file to file, the page line and bar the pages of the current file. Both bars are
// always determinate. Cancel and Escape ask the run to stop (cancelConversion); the sheet stays
// up until the run closes it.
//
// While it is up, the window's controls take no input: its contents and toolbars are disabled
// and so is every command of the window except the ones added to the sheet (addAction), which
// stay available from the window's menus and, by their shortcuts, from the sheet too. Closing
// the window stays possible (the window's own rules decide), and closing the sheet is closing
// the window. Main thread only.
class ProgressSheet : public QDialog {
    Q_OBJECT
public:
    // Progress status codes of a run.
    static constexpr int kStatusRunStarted = 1;
    static constexpr int kStatusFileStarted = 3;
    static constexpr int kStatusRunEnded = 5;

    ProgressSheet(QWidget* window, const QString& cancelTitle);

    // Resets and shows the sheet for a run; `counters` are that run's.
    void BeginProgressSheet(std::shared_ptr<ProgressCounters> counters);
    // Codes 0..5 advance the file bar; 1 and 3 rewrite the file line (3 first counts the file
    // as started); any other code changes nothing.
    void ChangeProgressStatus(int code);
    // A new file: page bar to 0 of `pageCount` (at least 1; nothing keeps the previous
    // maximum) and page 0 in the page line.
    void ResetPageProcessingProgressBar(std::optional<std::int64_t> pageCount);
    // The engine reports a page: the page line shows it, the page bar advances.
    void UpdatePageProgressStatus(std::int64_t pageNumber);
    void EndProgressSheet();
    // Both lines empty and both bars at 0 (the window's busy switch).
    void ClearProgress();

    // Whether the sheet is up for the run that owns `counters`.
    bool Shows(const ProgressCounters* counters) const { return counters && counters == counters_.get() && isVisible(); }

    QLabel* fileLine() const { return conversionFileNumberStaticText; }
    QLabel* pageLine() const { return conversionPageNumberStaticText; }
    QProgressBar* fileBar() const { return conversionProgressIndicator; }
    QProgressBar* pageBar() const { return pageProcessingProgressIndicator; }
    QPushButton* cancelButton() const { return cancelButton_; }

public slots:
    // Escape: the run is asked to stop; the sheet stays.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

signals:
    void cancelConversion();
    // After the sheet has applied a status code or a page report (for observers of the run).
    void progressStatusChanged(int code);
    void pageProgressChanged(qint64 pageNumber);

private:
    static void Advance(QProgressBar* bar);
    void ShowFileLine();
    void HoldWindow(bool hold);

    std::shared_ptr<ProgressCounters> counters_;
    QProgressBar* conversionProgressIndicator;
    QLabel* conversionFileNumberStaticText;
    QProgressBar* pageProcessingProgressIndicator;
    QLabel* conversionPageNumberStaticText;
    QPushButton* cancelButton_;
    // What the sheet disabled in its window, given back when it goes.
    QList<QPointer<QAction>> heldCommands_;
    QList<QPointer<QWidget>> heldContents_;
};
