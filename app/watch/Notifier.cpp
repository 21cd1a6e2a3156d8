#include "watch/Notifier.h"

#include <QSocketNotifier>

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace watch {

std::uint32_t Notifier::EventMask() {
    return IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF |
           IN_MOVE_SELF | IN_ONLYDIR;
}

std::unique_ptr<Notifier> Notifier::notifierWithCallback(Callback callback, const std::filesystem::path& folder) {
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    if (inotify_add_watch(fd, folder.c_str(), EventMask()) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<Notifier>(new Notifier(fd, std::move(callback), folder));
}

Notifier::Notifier(int fd, Callback callback, std::filesystem::path folder)
    : fd_(fd), callback_(std::move(callback)), path_(std::move(folder)) {
    socket_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    socket_->setEnabled(false);
    connect(socket_, &QSocketNotifier::activated, this, &Notifier::ReadBatch);
}

Notifier::~Notifier() {
    stopNotifier();
    delete socket_;
    ::close(fd_);
}

void Notifier::startNotifier() { socket_->setEnabled(true); }

void Notifier::stopNotifier() {
    if (socket_) socket_->setEnabled(false);
}

void Notifier::ReadBatch() {
    std::vector<NotifierEvent> batch;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) continue;
        if (length <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            NotifierEvent item;
            item.mask = event.mask;
            if (event.len > 0) item.name.assign(buffer + at + sizeof(inotify_event), ::strnlen(buffer + at + sizeof(inotify_event), event.len));
            batch.push_back(std::move(item));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    if (!batch.empty() && callback_) callback_(batch);
}

}  // namespace watch
