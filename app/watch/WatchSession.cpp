#include "watch/WatchSession.h"

#include <sys/inotify.h>

#include <algorithm>
#include <ctime>
#include <set>

#include "run/ConversionRun.h"
#include "watch/WatchSettings.h"

namespace fs = std::filesystem;

namespace watch {

namespace {

std::int64_t WallClockNs() {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

WatchSession::WatchSession(WatchSetup setup, PdfConverter convert, std::chrono::milliseconds settlingTime)
    : setup_(std::move(setup)), convert_(std::move(convert)), settlingTime_(settlingTime) {}

bool WatchSession::NoteEvents(const std::vector<NotifierEvent>& batch) {
    bool arrivals = false;
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(mutex_);
    for (const NotifierEvent& event : batch) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Events were lost: nothing that was noted can be trusted, every file settles anew.
            tracked_.clear();
            arrivals = true;
            continue;
        }
        if (event.name.empty() || (event.mask & IN_ISDIR)) continue;
        if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            tracked_.erase(event.name);
            continue;
        }
        Tracked& file = tracked_[event.name];
        file.lastEvent = now;
        if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
            file.arrived = true;
            file.atArrival = IdentityOf(setup_.source / event.name);
            arrivals = true;
        } else if (event.mask & (IN_CREATE | IN_MODIFY)) {
            file.arrived = false;
            file.atArrival.reset();
        }
    }
    return arrivals;
}

WatchSession::Readiness WatchSession::BySettling(const std::string& name, const FileIdentity& identity,
                                                 Clock::time_point now, std::chrono::milliseconds* wait) {
    // A file whose status has not changed for the settling time has been neither written nor
    // touched for that long (the status time moves with every write and cannot be set back).
    if (WallClockNs() - identity.changedNs >= std::chrono::nanoseconds(settlingTime_).count()) return Readiness::Ready;
    auto found = observed_.find(name);
    if (found == observed_.end() || !(found->second.identity == identity)) {
        observed_[name] = {identity, now};
        *wait = settlingTime_;
        return Readiness::Settling;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - found->second.since);
    if (elapsed >= settlingTime_) return Readiness::Ready;
    *wait = settlingTime_ - elapsed;
    return Readiness::Settling;
}

WatchSession::Readiness WatchSession::Judge(const std::string& name, const fs::path& path, const FileIdentity& identity,
                                            Clock::time_point now, std::chrono::milliseconds* wait) {
    std::optional<Tracked> tracked;
    {
        std::lock_guard lock(mutex_);
        if (auto found = tracked_.find(name); found != tracked_.end()) tracked = found->second;
    }
    if (tracked) {
        if (tracked->arrived && tracked->atArrival == identity) return Readiness::Ready;
        if (!tracked->arrived) {
            // Writing was seen and no close yet. Only a writer that has been quiet for the
            // settling time and is known to have let go (a file truncated in place, say) is
            // judged by settling; otherwise its close will report the arrival.
            if (now - tracked->lastEvent < settlingTime_ || IsOpenForWriting(path) != false) return Readiness::Writing;
        }
        // Changed after it arrived without a further write being seen (its times set, say):
        // it settles as a file no event told about.
    }
    return BySettling(name, identity, now, wait);
}

void WatchSession::Scan(ScanReason reason) {
    if (stopped()) return;
    const Clock::time_point now = Clock::now();
    std::vector<Candidate> ready;
    std::vector<Candidate> postProcessOnly;
    std::optional<std::chrono::milliseconds> nextLook;
    std::set<std::string> present;

    std::error_code ec;
    for (fs::directory_iterator it(setup_.source, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        const std::string name = path.filename().string();
        // Hidden files, folders (and packages) and anything but a plain file are left alone.
        if (name.empty() || name.front() == '.') continue;
        const std::optional<FileIdentity> identity = IdentityOf(path);
        if (!identity) continue;
        present.insert(name);

        std::chrono::milliseconds wait{0};
        const Readiness readiness = Judge(name, path, *identity, now, &wait);
        if (readiness == Readiness::Settling) nextLook = nextLook ? std::min(*nextLook, wait) : wait;
        if (readiness != Readiness::Ready) continue;

        if (auto unmoved = notPostProcessed_.find(name); unmoved != notPostProcessed_.end()) {
            // Converted already: only its deletion or move is tried again.
            if (unmoved->second == *identity) {
                if (reason != ScanReason::Settling) postProcessOnly.push_back({path, *identity});
                continue;
            }
            notPostProcessed_.erase(unmoved);
        }
        // A file that failed is tried again when it changed, or at the next scan that events
        // (or a new start) asked for; never by the settling scans.
        if (auto failed = failed_.find(name);
            failed != failed_.end() && failed->second == *identity && reason == ScanReason::Settling)
            continue;
        // Another writer may still hold it; its close will report the arrival.
        if (IsOpenForWriting(path) == true) continue;
        if (!IsConvertiblePDFFile(path)) continue;
        ready.push_back({path, *identity});
    }
    for (auto* names : {&failed_, &notPostProcessed_})
        std::erase_if(*names, [&present](const auto& item) { return !present.count(item.first); });
    std::erase_if(observed_, [&present](const auto& item) { return !present.count(item.first); });
    if (nextLook && onSettlingPending) onSettlingPending(*nextLook);

    std::vector<Candidate> converted;
    for (const Candidate& file : ready) {
        // Told to stop: the file in hand is finished, no further one starts.
        if (stopped()) break;
        if (Convert(file)) converted.push_back(file);
    }
    if (converted.empty() && postProcessOnly.empty()) return;
    // The outputs are on the disk before any source leaves its file system (deleted, or moved
    // to another one); a source renamed within its file system is never lost, and needs no wait.
    if (!converted.empty() && PostProcessingLeavesTheFileSystem()) SyncFileSystemOf(setup_.destination);
    for (const std::vector<Candidate>* files : {&converted, &postProcessOnly})
        for (const Candidate& file : *files) {
            const std::string name = file.path.filename().string();
            if (PostProcess(file))
                notPostProcessed_.erase(name);
            else
                notPostProcessed_[name] = file.identity;
        }
}

bool WatchSession::Convert(const Candidate& file) {
    const std::string name = file.path.filename().string();
    ImageConversion record{};
    GetConversionSettingsForWatchFolder(setup_.preferences, &record);
    record.sourceURL = file.path;
    const bool perFileFolders =
        settings::BoolPreference(setup_.preferences, settings::key::kCreateSeparateFolder).value_or(true);
    const std::optional<run::OutputFolder> output =
        run::GetDestinationURL(file.path, setup_.destination, std::nullopt, perFileFolders);
    if (!output) {
        failed_[name] = file.identity;
        return false;
    }
    record.outputFolderURL = output->folder;
    const std::uint8_t result = convert_ ? convert_(&record) : ConvertPDFToImages(&record);
    const std::optional<FileIdentity> after = IdentityOf(file.path);
    if (result && after && *after == file.identity) {
        failed_.erase(name);
        return true;
    }
    // A failure, or a file that changed while it was read: the folder made for it goes, the
    // source stays. A changed file is converted again once it has arrived anew.
    run::RemoveFailedFileFolder(*output);
    if (!result) failed_[name] = file.identity;
    return false;
}

bool WatchSession::PostProcessingLeavesTheFileSystem() const {
    if (setup_.option == kDeleteSources) return true;
    const fs::path& target = setup_.option == kMoveToFolder && setup_.moveFolder ? *setup_.moveFolder : setup_.destination;
    return !IsOnSameFileSystem(setup_.source, target);
}

bool WatchSession::PostProcess(const Candidate& file) {
    switch (setup_.option) {
        case kDeleteSources: return DeleteSourceFile(file.path, file.identity);
        case kMoveToFolder:
            if (!setup_.moveFolder) return false;
            return MoveSourceFile(file.path, file.identity, *setup_.moveFolder,
                                  settings::BoolPreference(setup_.preferences, settings::key::kOverWriteExistingFile).value_or(false));
        default:
            return MoveSourceFile(file.path, file.identity, setup_.destination,
                                  settings::BoolPreference(setup_.preferences, settings::key::kOverWriteExistingFile).value_or(false));
    }
}

}  // namespace watch
