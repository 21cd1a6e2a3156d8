#include "CustomAlert.h"

#include <QApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/LocalizedStrings.h"

namespace {

// A question asked by a thread other than the main thread: the main thread shows it and hands
// the answer back; the asking thread waits for it.
struct PendingAlert {
    std::mutex mutex;
    std::condition_variable answered;
    bool finished = false;
    std::int64_t answer = 0;
};

void Finish(PendingAlert& pending, std::optional<std::int64_t> answer) {
    {
        std::lock_guard lock(pending.mutex);
        if (pending.finished) return;
        pending.finished = true;
        if (answer) pending.answer = *answer;
    }
    pending.answered.notify_all();
}

// Ends the wait when the request is dropped without being run (the application goes away with
// the request still queued): the asker then gets the dismissed answer.
class ReleaseOnDrop {
public:
    explicit ReleaseOnDrop(std::shared_ptr<PendingAlert> pending) : pending_(std::move(pending)) {}
    ReleaseOnDrop(const ReleaseOnDrop&) = delete;
    ReleaseOnDrop& operator=(const ReleaseOnDrop&) = delete;
    ~ReleaseOnDrop() { Finish(*pending_, std::nullopt); }

private:
    std::shared_ptr<PendingAlert> pending_;
};

// Once the main thread has left its event loop for good nothing can show an alert: questions
// still waiting, and any asked later, get the dismissed answer instead of waiting for ever.
std::mutex gPendingMutex;
bool gMainLoopEnded = false;
std::vector<std::shared_ptr<PendingAlert>> gPending;
std::once_flag gShutdownHookOnce;

void InstallShutdownRelease(QCoreApplication* app) {
    std::call_once(gShutdownHookOnce, [app] {
        QObject::connect(
            app, &QCoreApplication::aboutToQuit, app,
            [] {
                std::lock_guard lock(gPendingMutex);
                gMainLoopEnded = true;
                for (const auto& pending : gPending) Finish(*pending, std::nullopt);
            },
            Qt::DirectConnection);
    });
}

std::int64_t AskOnMainThread(QCoreApplication* app, const CustomAlert& alert, QWidget* window) {
    InstallShutdownRelease(app);
    auto pending = std::make_shared<PendingAlert>();
    pending->answer = alert.answerWhenDismissed();
    {
        // Checked and posted under the lock, so a request cannot slip in after the release.
        std::lock_guard lock(gPendingMutex);
        if (gMainLoopEnded) return pending->answer;
        gPending.push_back(pending);
        auto release = std::make_shared<ReleaseOnDrop>(pending);
        QMetaObject::invokeMethod(
            app,
            [alert, window, pending, release] {
                {
                    std::lock_guard done(pending->mutex);
                    if (pending->finished) return;  // released at the end already
                }
                CustomAlert shown = alert;
                shown.setWindow(window);
                Finish(*pending, shown.showModalSheet());
            },
            Qt::QueuedConnection);
    }
    std::int64_t answer;
    {
        std::unique_lock lock(pending->mutex);
        pending->answered.wait(lock, [&] { return pending->finished; });
        answer = pending->answer;
    }
    std::lock_guard lock(gPendingMutex);
    std::erase(gPending, pending);
    return answer;
}

bool Present(const QString& title) { return !title.isEmpty(); }

}  // namespace

CustomAlert::CustomAlert(const QString& title, const QString& message, const QString& defaultButton,
                         const QString& alternateButton, const QString& otherButton)
    : title_(title.isNull() ? QStringLiteral("") : title),
      message_(message.isNull() ? QStringLiteral("") : message),
      defaultButton_(defaultButton),
      otherButton_(otherButton),
      alterButton_(alternateButton) {}

std::int64_t CustomAlert::answerWhenDismissed() const {
    if (answerWhenDismissed_) return *answerWhenDismissed_;
    if (Present(alterButton_)) return 0;
    if (Present(otherButton_)) return -1;
    return 1;
}

std::int64_t CustomAlert::showModalSheet() {
    QWidget* parent = window_ ? window_.data() : QApplication::activeWindow();
    if (parent) parent = parent->window();

    QPointer<AlertDialog> dialog = new AlertDialog(*this, parent);
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    responseCode_ = kWaitingForAnswer;

    QEventLoop loop;
    QObject::connect(dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    dialog->show();
    dialog->activateWindow();
    // The loop also ends when the application quits (every event loop is told to exit); the
    // alert then counts as dismissed.
    if (dialog && dialog->isVisible()) loop.exec(QEventLoop::DialogExec);

    std::optional<std::int64_t> answer;
    if (dialog) {
        answer = dialog->answer();
        delete dialog.data();
    }
    responseCode_ = answer.value_or(answerWhenDismissed());
    return responseCode_;
}

AlertDialog::AlertDialog(const CustomAlert& alert, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CustomAlert"));
    setWindowTitle(platform::LocalizedString("ProAppTitle"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("alertIcon"));
    // Styles outside the known ones are shown as the plain style.
    const bool critical = alert.alertStyle() == CustomAlert::kCriticalStyle;
    QIcon image = critical ? style()->standardIcon(QStyle::SP_MessageBoxCritical) : QApplication::windowIcon();
    if (image.isNull()) image = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    icon->setPixmap(image.pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* title = new QLabel(alert.title(), this);
    title->setObjectName(QStringLiteral("alertTitle"));
    title->setTextFormat(Qt::PlainText);
    title->setWordWrap(true);
    title->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    title->setMinimumWidth(340);

    auto* message = new QLabel(alert.message(), this);
    message->setObjectName(QStringLiteral("alertMessage"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message->setMinimumWidth(340);
    message->setVisible(!alert.message().isEmpty());

    auto* buttons = new QHBoxLayout;
    if (Present(alert.otherButton())) buttons->addWidget(AddButton(alert.otherButton(), "otherButton", -1));
    buttons->addStretch();
    if (Present(alert.alterButton())) buttons->addWidget(AddButton(alert.alterButton(), "alterButton", 0));
    const QString defaultTitle =
        Present(alert.defaultButton()) ? alert.defaultButton() : platform::LocalizedString("OkButtonString");
    QPushButton* defaultButton = AddButton(defaultTitle, "defaultButton", 1);
    defaultButton->setDefault(true);
    buttons->addWidget(defaultButton);

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addWidget(message);
    texts->addSpacing(8);
    texts->addLayout(buttons);

    auto* layout = new QHBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addSpacing(8);
    layout->addLayout(texts);
    defaultButton->setFocus();
}

QPushButton* AlertDialog::AddButton(const QString& title, const char* name, std::int64_t answer) {
    auto* button = new QPushButton(title, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, answer] {
        answer_ = answer;
        accept();
    });
    return button;
}

std::int64_t ShowAlertSheet(const QString& title, const QString& message, const QString& defaultButton,
                            const QString& alternateButton, const QString& otherButton, QWidget* window,
                            std::optional<std::int64_t> answerWhenDismissed) {
    CustomAlert alert(title, message, defaultButton, alternateButton, otherButton);
    alert.setAnswerWhenDismissed(answerWhenDismissed);

    QCoreApplication* app = QCoreApplication::instance();
    if (!qobject_cast<QApplication*>(app)) return alert.answerWhenDismissed();

    if (QThread::currentThread() == app->thread()) {
        alert.setWindow(window);
        return alert.showModalSheet();
    }

    // The main thread shows it while this thread waits. The window is only touched there.
    return AskOnMainThread(app, alert, window);
}
