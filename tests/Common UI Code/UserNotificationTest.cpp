#include <gtest/gtest.h>

#include "support/ScopedEnv.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QDeadlineTimer>

#include "Common UI Code/OVXUtil.h"
#include "platform/SystemVersion.h"
#include "platform/UserNotification.h"
#include "support/TestPdf.h"

extern char** environ;

namespace {


// Collects what would have gone to the desktop.
class Recorder {
public:
    Recorder() {
        platform::SetUserNotificationSender([this](const platform::UserNotification& n) {
            std::lock_guard lock(mutex_);
            seen_.push_back(n);
        });
    }
    ~Recorder() { platform::SetUserNotificationSender({}); }
    std::vector<platform::UserNotification> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::vector<platform::UserNotification> seen_;
};

class ScopedSystemVersion {
public:
    explicit ScopedSystemVersion(platform::SystemVersion v) { platform::SetSystemVersion(v); }
    ~ScopedSystemVersion() { platform::ResetSystemVersion(); }
};

// A D-Bus daemon of the test's own, with no services to start on demand.
class PrivateBus {
public:
    PrivateBus() {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0) return;
        const auto config = dir_ / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:dir="
                              << dir_.path().string()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // its start-up notes
        const std::string configArg = "--config-file=" + config.string();
        char* argv[] = {const_cast<char*>("dbus-daemon"), const_cast<char*>(configArg.c_str()),
                        const_cast<char*>("--nofork"), const_cast<char*>("--print-address=3"), nullptr};
        const int rc = ::posix_spawn(&pid_, "/usr/bin/dbus-daemon", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(fds[0]);
            return;
        }
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') address_ += c;
        ::close(fds[0]);
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& address() const { return address_; }

private:
    testpdf::TempDir dir_;
    pid_t pid_ = -1;
    std::string address_;
};

// QtDBus hands incoming calls to objects through the event loop of the application object.
void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    static int argc = 1;
    static char name[] = "engine_tests";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

class FakeNotificationServer : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        received.push_back(message);
        connection.send(message.createReply(QVariant::fromValue(1u)));
        return true;
    }
    std::vector<QDBusMessage> received;
};

}  // namespace

struct VersionCase {
    platform::SystemVersion version;
    bool shown;
    friend void PrintTo(const VersionCase& c, std::ostream* os) {
        *os << c.version.major << "." << c.version.minor << "." << c.version.patch;
    }
};

class NotificationVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(NotificationVersion, ShowsFrom10_8On) {
    ScopedSystemVersion version(GetParam().version);
    Recorder recorder;
    PostUserNotification("Conversion finished", "3 files converted");
    const auto seen = recorder.seen();
    if (!GetParam().shown) {
        EXPECT_TRUE(seen.empty());
        return;
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].title, "Conversion finished");
    EXPECT_EQ(seen[0].text, "3 files converted");
    EXPECT_EQ(seen[0].soundName, platform::kDefaultNotificationSound);
}

INSTANTIATE_TEST_SUITE_P(Versions, NotificationVersion,
                         testing::Values(VersionCase{{10, 7, 5}, false}, VersionCase{{10, 6, 8}, false},
                                         VersionCase{{10, 8, 0}, true}, VersionCase{{14, 0, 0}, true}),
                         [](const testing::TestParamInfo<VersionCase>& info) {
                             const auto& v = info.param.version;
                             return "System" + std::to_string(v.major) + "_" + std::to_string(v.minor) + "_" +
                                    std::to_string(v.patch);
                         });

TEST(UserNotification, PostsFromAnyThread) {
    Recorder recorder;
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([i] { PostUserNotification("t" + std::to_string(i), "x"); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(recorder.seen().size(), 4u);
}

// No session bus is not an error: nothing is shown and the call comes back at once.
TEST(UserNotification, NoSessionBusShowsNothing) {
    testpdf::TempDir runtime;  // holds no bus socket
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
    ScopedEnv display("DISPLAY", std::nullopt);  // nothing to start a bus for
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().string());
    EXPECT_FALSE(platform::SendDesktopNotification({"t", "x", platform::kDefaultNotificationSound}));
    PostUserNotification("t", "x");
}

// The call reaches a notification service in the form of the freedesktop.org Notify method (a
// wrong argument type would be refused by a real server, silently for a sender that does not
// wait).
TEST(UserNotification, ReachesTheNotificationService) {
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon";
    EnsureApplication();
    const QString address = QString::fromStdString(bus.address());
    {
        QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("fake-notification-server"));
        ASSERT_TRUE(server.isConnected());
        FakeNotificationServer fake;
        ASSERT_TRUE(server.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &fake));
        ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

        bool sent = false;
        std::thread worker([&] {
            sent = platform::SendDesktopNotification({"Done", "3 files", platform::kDefaultNotificationSound},
                                                     bus.address());
        });
        worker.join();
        EXPECT_TRUE(sent);

        QDeadlineTimer deadline(20000);
        while (fake.received.empty() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        ASSERT_EQ(fake.received.size(), 1u);
        const QDBusMessage& call = fake.received[0];
        EXPECT_EQ(call.interface(), "org.freedesktop.Notifications");
        EXPECT_EQ(call.member(), "Notify");
        EXPECT_EQ(call.path(), "/org/freedesktop/Notifications");
        EXPECT_EQ(call.signature(), "susssasa{sv}i");
        const QList<QVariant> args = call.arguments();
        ASSERT_EQ(args.size(), 8);
        EXPECT_EQ(args[3].toString(), "Done");
        EXPECT_EQ(args[4].toString(), "3 files");
        const QVariantMap hints = qdbus_cast<QVariantMap>(args[6].value<QDBusArgument>());
        EXPECT_EQ(hints.value(QStringLiteral("sound-name")).toString(), platform::kDefaultNotificationSound);
        // Shown under the program's desktop entry and icon: the names the install gives them.
        EXPECT_EQ(args[2].toString(), "org.vellipse.Vellipse");
        EXPECT_EQ(hints.value(QStringLiteral("desktop-entry")).toString(), "org.vellipse.Vellipse");

        server.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-notification-server"));
}

// With a bus but nobody serving notifications the call is still only queued: nothing waits for
// the answer that never comes.
TEST(UserNotification, NoNotificationServiceIsNoError) {
    PrivateBus bus;
    if (bus.address().empty()) GTEST_SKIP() << "no dbus-daemon";
    EXPECT_TRUE(platform::SendDesktopNotification({"t", "x", ""}, bus.address()));
}
