#pragma once

// What the command-line benchmarks share: quoting a path for the shell, timing a call, and the
// best and median of a series of runs.

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace bench {

// The path in single quotes, safe to pass through the shell.
inline std::string Quote(const std::filesystem::path& p) {
    std::string out = "'";
    for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The wall time of one call, in seconds.
template <typename F>
double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Series {
    std::vector<double> times;
    double best() const { return *std::min_element(times.begin(), times.end()); }
    double median() const {
        std::vector<double> t = times;
        std::sort(t.begin(), t.end());
        return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    }
};

}  // namespace bench
