// Starts the program with VELMO_STARTUP_PROBE set, so it ends at the first paint of its main window,
// and a bare Qt window the same way, taking turns, on the platform the environment names (offscreen
// unless QT_QPA_PLATFORM says otherwise). Prints both, the processor time beside the wall time, and
// last the program's start-up and its ratio against the bare window.
//
//   startup_bench [--rounds N]

#include "bench/common/child.h"
#include "tests/support/temp_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using velmo::bench::ChildRun;
using velmo::bench::runChild;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    int rounds = 11;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(3, std::atoi(argv[i + 1]));
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("VELMO_STARTUP_PROBE", "1", 1);
    // A fresh settings file, so the program starts as on a new workstation, asking nothing.
    const velmo::test::TempDir home;
    ::setenv("VELMO_SETTINGS", home.file("velmo.ini").c_str(), 1);
    ::setenv("HOME", home.path().c_str(), 1);

    std::vector<double> ours, oursCpu, bare, bareCpu;
    (void)runChild({VELMO_PROGRAM}); // the first start fills the file cache for both
    (void)runChild({BARE_WINDOW});
    for (int round = 0; round < rounds; ++round) {
        const ChildRun a = runChild({VELMO_PROGRAM});
        const ChildRun b = runChild({BARE_WINDOW});
        if (!a.ok || !b.ok) {
            std::printf("a start failed (program %d, bare window %d)\n", a.ok, b.ok);
            return 1;
        }
        ours.push_back(a.seconds * 1e3);
        oursCpu.push_back(a.cpu * 1e3);
        bare.push_back(b.seconds * 1e3);
        bareCpu.push_back(b.cpu * 1e3);
    }
    std::printf("bare Qt window: %.0f ms until painted, %.0f ms processor time (median of %d)\n",
                median(bare), median(bareCpu), rounds);
    std::printf("velmoshop: %.0f ms until painted, %.0f ms processor time (median of %d)\n", median(ours),
                median(oursCpu), rounds);
    std::printf("start-up: %.0f ms (target <= 100), ratio vs bare Qt window %.2f\n", median(ours),
                median(ours) / median(bare));
    return 0;
}
