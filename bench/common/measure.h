#pragma once

// What the benchmarks measure with: wall-clock time and the process's memory figures.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace velmo::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// A figure of /proc/self/status in kB: "VmRSS:" resident now, "VmHWM:" the peak. 0 when missing.
inline long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    }
    return 0;
}

} // namespace velmo::bench
