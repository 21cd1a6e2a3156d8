#include "run/ProgressSheet.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenu>
#include <QToolBar>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

#include "platform/LocalizedStrings.h"

namespace {

QLabel* MakeLine(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QProgressBar* MakeBar(QWidget* parent, const char* name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QLatin1String(name));
    // A maximum of 0 would turn the bar into a busy animation: every maximum is at least 1.
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

int BarMaximum(std::int64_t count) {
    return static_cast<int>(std::clamp<std::int64_t>(count, 1, std::numeric_limits<int>::max()));
}

}  // namespace

ProgressSheet::ProgressSheet(QWidget* window, const QString& cancelTitle) : QDialog(window) {
    setObjectName(QStringLiteral("exportProgressSheet"));
    // Not modal: a modal sheet would keep the window manager's close button and the Quit and
    // Close commands of the window from reaching it. The sheet keeps the controls out of reach
    // itself (HoldWindow).
    setWindowModality(Qt::NonModal);
    setWindowTitle(platform::LocalizedString("ProAppTitle"));
    setMinimumWidth(440);
    auto* layout = new QVBoxLayout(this);
    conversionFileNumberStaticText = MakeLine(this, "conversionFileNumberStaticText");
    conversionProgressIndicator = MakeBar(this, "conversionProgressIndicator");
    conversionPageNumberStaticText = MakeLine(this, "conversionPageNumberStaticText");
    pageProcessingProgressIndicator = MakeBar(this, "pageProcessingProgressIndicator");
    cancelButton_ = new QPushButton(cancelTitle, this);
    cancelButton_->setObjectName(QStringLiteral("cancelConversionButton"));
    cancelButton_->setAutoDefault(false);
    connect(cancelButton_, &QPushButton::clicked, this, &ProgressSheet::cancelConversion);

    layout->addWidget(conversionFileNumberStaticText);
    layout->addWidget(conversionProgressIndicator);
    layout->addSpacing(6);
    layout->addWidget(conversionPageNumberStaticText);
    layout->addWidget(pageProcessingProgressIndicator);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    layout->addLayout(buttons);
}

void ProgressSheet::reject() { emit cancelConversion(); }

void ProgressSheet::showEvent(QShowEvent* event) {
    HoldWindow(true);
    QDialog::showEvent(event);
}

void ProgressSheet::hideEvent(QHideEvent* event) {
    HoldWindow(false);
    QDialog::hideEvent(event);
}

void ProgressSheet::closeEvent(QCloseEvent* event) {
    // The sheet belongs to its window: closing it is closing the window, whose rules ask first.
    event->ignore();
    if (QWidget* window = parentWidget()) window->close();
}

void ProgressSheet::HoldWindow(bool hold) {
    if (!hold) {
        for (const QPointer<QWidget>& widget : heldContents_)
            if (widget) widget->setEnabled(true);
        for (const QPointer<QAction>& command : heldCommands_)
            if (command) command->setEnabled(true);
        heldContents_.clear();
        heldCommands_.clear();
        return;
    }
    auto* window = qobject_cast<QMainWindow*>(parentWidget());
    if (!window || !heldContents_.isEmpty() || !heldCommands_.isEmpty()) return;
    QList<QWidget*> contents = {window->centralWidget()};
    for (QToolBar* bar : window->findChildren<QToolBar*>()) contents << bar;
    for (QWidget* widget : contents) {
        if (!widget || !widget->isEnabled()) continue;
        widget->setEnabled(false);
        heldContents_ << widget;
    }
    const QList<QAction*> kept = actions();
    for (QAction* command : window->findChildren<QAction*>()) {
        // Menus' own actions open the menus; what they hold is held one by one.
        if (command->menu() || command->isSeparator() || kept.contains(command) || !command->isEnabled()) continue;
        command->setEnabled(false);
        heldCommands_ << command;
    }
}

void ProgressSheet::Advance(QProgressBar* bar) {
    // Never past the maximum: a bar that is full stays full.
    bar->setValue(std::min(bar->value() + 1, bar->maximum()));
}

void ProgressSheet::ClearProgress() {
    conversionFileNumberStaticText->clear();
    conversionPageNumberStaticText->clear();
    conversionProgressIndicator->setValue(0);
    pageProcessingProgressIndicator->setValue(0);
}

void ProgressSheet::BeginProgressSheet(std::shared_ptr<ProgressCounters> counters) {
    counters_ = counters ? std::move(counters) : std::make_shared<ProgressCounters>();
    ClearProgress();
    conversionProgressIndicator->setRange(0, BarMaximum(counters_->numOfFilesForConversion + 2));
    conversionProgressIndicator->setValue(0);
    pageProcessingProgressIndicator->setRange(0, 1);
    pageProcessingProgressIndicator->setValue(0);
    // Shown, not opened: open() would make the sheet window-modal.
    show();
    raise();
    activateWindow();
}

void ProgressSheet::ShowFileLine() {
    const QString name = counters_ ? counters_->currentProcessingPDFFileName : QString();
    conversionFileNumberStaticText->setText(platform::LocalizedFormat(
        "Exporting", counters_ ? counters_->fileProcessingIndex : 0, counters_ ? counters_->numOfFilesForConversion : 0,
        name));
}

void ProgressSheet::ChangeProgressStatus(int code) {
    if (code < 0 || code > 5) return;
    if (code == kStatusRunStarted) {
        // The run has started: counts, and no file yet.
        conversionFileNumberStaticText->setText(
            platform::LocalizedFormat("Exporting", counters_ ? counters_->fileProcessingIndex : 0,
                                      counters_ ? counters_->numOfFilesForConversion : 0, QString()));
    } else if (code == kStatusFileStarted) {
        if (counters_) ++counters_->fileProcessingIndex;
        ShowFileLine();
    }
    Advance(conversionProgressIndicator);
    emit progressStatusChanged(code);
}

void ProgressSheet::ResetPageProcessingProgressBar(std::optional<std::int64_t> pageCount) {
    if (pageCount) pageProcessingProgressIndicator->setRange(0, BarMaximum(*pageCount));
    pageProcessingProgressIndicator->setValue(0);
    conversionPageNumberStaticText->setText(platform::LocalizedFormat("ProcessingPage", std::int64_t{0}));
}

void ProgressSheet::UpdatePageProgressStatus(std::int64_t pageNumber) {
    conversionPageNumberStaticText->setText(platform::LocalizedFormat("ProcessingPage", pageNumber));
    Advance(pageProcessingProgressIndicator);
    emit pageProgressChanged(pageNumber);
}

void ProgressSheet::EndProgressSheet() {
    counters_.reset();
    hide();
}
