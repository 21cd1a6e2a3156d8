#include "platform/SystemVersion.h"

#include <atomic>

namespace platform {
namespace {
// Packed so that a reader on another thread never sees half of a change.
std::atomic<long long> gVersion{0};

long long Pack(SystemVersion v) {
    return (static_cast<long long>(v.major) << 40) | (static_cast<long long>(v.minor & 0xFFFFF) << 20) |
           static_cast<long long>(v.patch & 0xFFFFF);
}
}  // namespace

SystemVersion GetSystemVersion() {
    long long packed = gVersion.load(std::memory_order_acquire);
    if (packed == 0) return kDefaultSystemVersion;
    return SystemVersion{static_cast<int>(packed >> 40), static_cast<int>((packed >> 20) & 0xFFFFF),
                         static_cast<int>(packed & 0xFFFFF)};
}

void SetSystemVersion(SystemVersion version) {
    gVersion.store(Pack(version), std::memory_order_release);
}

void ResetSystemVersion() {
    gVersion.store(0, std::memory_order_release);
}

}  // namespace platform
