#pragma once

// The operating-system version that version-dependent behaviour is chosen by. Linux has no
// counterpart of the original platform's numbering, so the layer reports a fixed modern version
// (every newer-system branch is taken); tests set another to reach the older branches.
namespace platform {

struct SystemVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

inline constexpr SystemVersion kDefaultSystemVersion{14, 0, 0};

SystemVersion GetSystemVersion();
void SetSystemVersion(SystemVersion version);
void ResetSystemVersion();

}  // namespace platform
