#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// The socket pair's ends: the handler writes into [0], the event loop reads [1]; -1 when no
// instance is installed.
std::atomic<int> gWriteEnd{-1};
int gReadEnd = -1;

void OnSignal(int number) {
    const int saved = errno;
    const int fd = gWriteEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // A full socket already holds a request to stop: losing this one changes nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

struct TerminationSignals::Previous {
    int number;
    struct sigaction action;
};

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (gWriteEnd.load() >= 0) return;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return;
    gReadEnd = fds[1];
    gWriteEnd.store(fds[0]);
    for (int number : {SIGTERM, SIGINT}) {
        struct sigaction action {};
        action.sa_handler = OnSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        Previous before{number, {}};
        if (::sigaction(number, &action, &before.action) == 0) previous_.push_back(before);
    }
    notifier_ = new QSocketNotifier(gReadEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::Read);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    for (const Previous& before : previous_) ::sigaction(before.number, &before.action, nullptr);
    delete notifier_;
    const int writeEnd = gWriteEnd.exchange(-1);
    ::close(writeEnd);
    ::close(gReadEnd);
    gReadEnd = -1;
}

void TerminationSignals::Read() {
    unsigned char byte = 0;
    while (::read(gReadEnd, &byte, 1) == 1) emit received(byte);
}
