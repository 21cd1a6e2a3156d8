#pragma once

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Argument reading shared by the WebP command-line tools: every option is compared whole, and
// an option is recognised only when all of its values follow it, so that one missing its values
// at the end of the list falls through to the tools' unknown-option test.
namespace webptools {

class ToolArguments {
public:
    ToolArguments(int argc, const char* const argv[]) : argc_(argc), argv_(argv) {}

    // Steps to the next argument; false past the last one.
    bool Next() { return ++index_ < argc_; }
    const char* Current() const { return argv_[index_]; }
    // Whether the current argument is `name` and `values` more arguments follow it.
    bool Is(const char* name, int values = 0) const {
        return std::strcmp(argv_[index_], name) == 0 && argc_ - 1 - index_ >= values;
    }
    // The next argument, taken as a value of the current option.
    const char* Value() { return argv_[++index_]; }
    // Integers in base 0 (decimal, 0x hexadecimal, 0 octal), as the C library reads them.
    int Integer() { return static_cast<int>(std::strtol(Value(), nullptr, 0)); }
    float Float() { return static_cast<float>(std::strtod(Value(), nullptr)); }

private:
    int argc_;
    const char* const* argv_;
    int index_ = 0;
};

// Wall-clock seconds, for the tools' timings.
inline double ToolSeconds() {
    timeval t{};
    gettimeofday(&t, nullptr);
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1000000.0;
}

// A library version packed as 0xMMmmrr, printed "major.minor.revision".
inline void PrintPackedVersion(int version) {
    std::printf("%d.%d.%d\n", (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
}

}  // namespace webptools
