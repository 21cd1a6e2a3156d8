#include "filelist/FileAdder.h"

#include <algorithm>

#include <QIcon>
#include <QMimeDatabase>
#include <QPixmap>

#include "filelist/FileListModel.h"
#include "filelist/InputFiles.h"
#include "filelist/ItemBuilder.h"

struct FileAdder::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<AddRequest> queue;
    bool stopping = false;
    // The answer of the password question being asked.
    std::uint64_t question = 0;
    std::optional<PasswordAnswer> answer;
};

FileAdder::FileAdder(FileListModel* model, PasswordPrompt* prompt, QObject* parent)
    : QObject(parent), model_(model), prompt_(prompt), shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([this] { Run(); });
}

FileAdder::~FileAdder() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->queue.clear();
    }
    shared_->wake.notify_all();
    worker_.join();
    // Whatever the thread posted and the event loop has not run yet is dropped with this object.
}

void FileAdder::Add(AddRequest request) {
    ++pending_;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.push_back(std::move(request));
    }
    shared_->wake.notify_all();
}

void FileAdder::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void FileAdder::Run() {
    for (;;) {
        AddRequest request;
        {
            std::unique_lock lock(shared_->mutex);
            shared_->wake.wait(lock, [&] { return shared_->stopping || !shared_->queue.empty(); });
            if (shared_->stopping) return;
            request = std::move(shared_->queue.front());
            shared_->queue.pop_front();
        }
        Process(request);
    }
}

void FileAdder::Process(const AddRequest& request) {
    Post([this, index = request.index] { BeginRequest(index); });
    const bool maintainTree = request.maintainTree && request.recursive;
    PasswordSession passwords(
        [this](const QString& fileName, const QString& typed) { return AskOnGuiThread(fileName, typed); });
    auto stopping = [this] {
        std::lock_guard lock(shared_->mutex);
        return shared_->stopping;
    };
    WalkAddedPaths(request.paths, request.recursive, [&](const QString& path, const QString* addedFolder) {
        if (stopping()) return false;
        std::optional<ImageListItem> item = MakeImageListItem(
            path, addedFolder, maintainTree,
            [&](platform::PdfDocument& document, const QString& name) { return passwords.Unlock(document, name); });
        if (item) Post([this, item = std::move(*item)]() mutable { InsertItem(std::move(item)); });
        return !passwords.cancelled() && !stopping();
    });
    Post([this] { EndRequest(); });
}

PasswordAnswer FileAdder::AskOnGuiThread(const QString& fileName, const QString& typedText) {
    std::uint64_t question = 0;
    {
        std::lock_guard lock(shared_->mutex);
        question = ++shared_->question;
        shared_->answer.reset();
    }
    std::shared_ptr<Shared> shared = shared_;
    Post([this, shared, question, fileName, typedText] {
        auto deliver = [shared, question](const PasswordAnswer& answer) {
            {
                std::lock_guard lock(shared->mutex);
                if (shared->question != question) return;
                shared->answer = answer;
            }
            shared->wake.notify_all();
        };
        if (!prompt_) {
            deliver(PasswordAnswer{PasswordAnswer::Button::Skip, false, {}});
            return;
        }
        prompt_->Ask(fileName, typedText, deliver);
    });

    std::unique_lock lock(shared_->mutex);
    shared_->wake.wait(lock, [&] { return shared_->stopping || shared_->answer.has_value(); });
    if (shared_->stopping || !shared_->answer) return PasswordAnswer{PasswordAnswer::Button::Cancel, false, {}};
    PasswordAnswer answer = std::move(*shared_->answer);
    shared_->answer.reset();
    return answer;
}

void FileAdder::BeginRequest(std::optional<int> index) {
    const int size = model_ ? model_->size() : 0;
    firstRow_ = index ? std::clamp(*index, 0, size) : size;
    nextRow_ = firstRow_;
    inserted_ = 0;
    emit busyStateChanged(kBusyCode);
}

void FileAdder::InsertItem(ImageListItem item) {
    if (!model_) return;
    if (item.icon.isNull()) {
        // No thumbnail: the desktop's icon for the file's type, when the theme has one.
        const QMimeType type = QMimeDatabase().mimeTypeForFile(item.filePath, QMimeDatabase::MatchExtension);
        QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
        if (!icon.isNull()) item.icon = icon.pixmap(42, 42).toImage();
    }
    const int row = model_->InsertItem(nextRow_, std::move(item));
    if (inserted_ == 0) firstRow_ = row;
    nextRow_ = row + 1;
    ++inserted_;
}

void FileAdder::EndRequest() {
    --pending_;
    emit busyStateChanged(kIdleCode);
    emit requestFinished(firstRow_, inserted_);
}
