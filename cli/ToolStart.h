#pragma once

#include <unistd.h>

#include <cstdlib>

// The tools hold a picture in a few buffers of tens of megabytes each, which the C allocator
// maps fresh from the kernel one 4 KiB page fault at a time. Told so when the program starts, it
// asks for transparent huge pages on them instead; so the program starts itself again once with
// that setting, unless the allocator's settings were given already. When it cannot, it goes on
// as it is.
inline void StartWithHugePageBuffers(char** argv) {
    if (std::getenv("GLIBC_TUNABLES")) return;
    if (::setenv("GLIBC_TUNABLES", "glibc.malloc.hugetlb=1", 1) != 0) return;
    ::execv("/proc/self/exe", argv);
    ::unsetenv("GLIBC_TUNABLES");
}
