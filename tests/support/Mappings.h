#pragma once

// What the kernel says of this process's mappings.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

namespace testmaps {

// The flags of the mapping that holds `address` in /proc/self/smaps (" rd wr mr ... hg "), or
// empty when none holds it.
inline std::string MappingFlags(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long long start = 0, end = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> start >> dash >> end && dash == '-' && line.find(':') > line.find(' ')) {
            inside = start <= at && at < end;
            continue;
        }
        if (inside && line.rfind("VmFlags:", 0) == 0) return line.substr(8) + " ";
    }
    return {};
}

// Whether the mapping that holds `address` is asked to be in huge pages.
inline bool InHugePages(const void* address) { return MappingFlags(address).find(" hg ") != std::string::npos; }

}  // namespace testmaps
