#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace watch {

// One change in the watched folder, as the kernel reported it.
struct NotifierEvent {
    std::uint32_t mask = 0;  // IN_* bits
    std::string name;        // the entry's name in the folder; empty for the folder itself
};

// The event source of a watch: an inotify instance on one folder (its direct entries), read on
// the main thread through a socket notifier, so events also arrive while a modal panel or sheet
// runs. Each time the descriptor becomes readable, everything that can be read at once is one
// batch, handed to the callback in the kernel's order. The notifier does not look into
// sub-folders: what happens below them is not reported.
class Notifier : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const std::vector<NotifierEvent>& batch)>;

    // What is asked of the kernel: arrivals (a write closed, an entry moved in), the start of
    // writing, departures, and the folder itself going away. Reading a file reports nothing, so
    // the conversions of a scan never cause events.
    static std::uint32_t EventMask();

    // A notifier for `folder`, not yet started; null when the kernel refuses (no such folder,
    // no permission, the watch limit reached).
    static std::unique_ptr<Notifier> notifierWithCallback(Callback callback, const std::filesystem::path& folder);
    ~Notifier() override;

    void startNotifier();
    void stopNotifier();
    const std::filesystem::path& path() const { return path_; }

private:
    Notifier(int fd, Callback callback, std::filesystem::path folder);
    void ReadBatch();

    int fd_ = -1;
    Callback callback_;
    std::filesystem::path path_;
    QSocketNotifier* socket_ = nullptr;
};

}  // namespace watch
