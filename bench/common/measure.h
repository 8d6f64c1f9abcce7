#pragma once

// What the benchmarks measure with: wall-clock time and the process's memory figures.

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <time.h>

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
inline double statusMb(const char* key) {
    return static_cast<double>(statusKb(key)) / 1024.0;
}

// Processor time in ms of this process, or with CLOCK_THREAD_CPUTIME_ID of this thread: on a machine
// shared with other work it tells the work apart from the waiting.
inline double processorMs(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace velmo::bench
