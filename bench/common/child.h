#pragma once

// Runs a peer program (curl, the FTP tool) the way the benchmarks time it: output thrown away, wall
// time and the child's processor time measured.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace velmo::bench {

struct ChildRun {
    bool ok = false;    // exited with status 0
    double seconds = 0; // wall time
    double cpu = 0;     // the child's processor time, user and system, in seconds
};

inline ChildRun runChild(const std::vector<std::string>& argv) {
    ChildRun r;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    r.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

} // namespace velmo::bench
