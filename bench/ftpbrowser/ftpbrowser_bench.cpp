// The FTP browser's RefreshRemote of a directory of 100,000 entries on a local server, on the
// offscreen platform, until the grid has painted: PWD, the listing over the data connection, the
// sort and the grid rows. The peer is curl listing the same directory in the same run, which shows
// what the server itself needs, and the ratio of the two. The last line is the median refresh.
//
//   ftpbrowser_bench [--server vsftpd|pyftpdlib] [--entries N] [--rounds N]

#include "bench/common/child.h"
#include "bench/common/measure.h"
#include "bench/common/paint_counter.h"
#include "bench/common/silent_dialogs.h"
#include "ftpbrowser/ftpedit.h"
#include "ftpbrowser/remotegrid.h"
#include "shell/dialogs.h"
#include "shell/shop.h"
#include "tests/ftp/support/real_servers.h"

#include <QApplication>
#include <QEvent>
#include <QTableView>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace velmo;
using namespace velmo::bench;

namespace {

using bench::SilentDialogs;

using bench::PaintCounter;

// Wall time of a program run with its output thrown away; negative when it failed.
double runMs(const std::vector<std::string>& argv) {
    const ChildRun r = runChild(argv);
    return r.ok ? r.seconds * 1e3 : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    std::string kind = "vsftpd";
    int entries = 100000;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--server"))
            kind = argv[i + 1];
        else if (!std::strcmp(argv[i], "--entries"))
            entries = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    SilentDialogs silent;

    auto server = kind == "pyftpdlib" ? test::startPyftpdlib() : test::startVsftpd();
    const std::string dirName = "big";
    const std::string remoteDir =
        (server->writableDir().empty() ? "" : server->writableDir() + "/") + dirName;
    const auto tGen = Clock::now();
    const std::string dir = server->localPath(dirName);
    std::filesystem::create_directories(dir);
    // Names as a shop has them: pictures, a few with blanks, and one directory in a hundred.
    for (int i = 0; i < entries; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, i % 7 == 0 ? "Bild %06d.jpg" : "artikel%06d.jpg", i);
        const std::string path = dir + "/" + name;
        if (i % 100 == 0)
            std::filesystem::create_directory(path + ".d");
        else
            ::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0644));
    }
    std::printf("server: %s, directory of %d entries (made in %.0f ms)\n", server->name().c_str(), entries,
                msSince(tGen));

    Shop shop(silent);
    const test::TempDir local;
    shop.ShopSettings.localProg = QString::fromStdString(local.path());
    sync::Account login;
    login.host = "127.0.0.1";
    login.port = server->port();
    login.user = server->user();
    login.password = server->password();
    // The listing's end: the data connection's transfer stops.
    struct ListingEnd : sync::ConnectionObserver {
        Clock::time_point at;
        void progressEnded() override { at = Clock::now(); }
    } listing;
    shop.connection.addObserver(listing);
    shop.connection.connect(login);
    shop.connection.changeDir("/" + remoteDir);
    Clock::time_point& listed = listing.at;

    TForm11 form(shop, [] {});
    PaintCounter counter;
    form.StringGrid1->viewport()->installEventFilter(&counter);
    form.show(); // the opening's refresh runs here once, unmeasured
    QApplication::processEvents();
    const long baseKb = statusKb("VmRSS:");

    const std::string account = server->user() + ":" + server->password();
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server->port()) + "/" + remoteDir + "/";
    std::vector<double> curls, refreshes, listings;
    for (int round = 0; round < rounds; ++round) {
        curls.push_back(runMs({"curl", "-s", "--user", account, "-o", "/dev/null", url}));
        const double cpu0 = processorMs();
        const auto t0 = Clock::now();
        form.RefreshRemote();
        const double grid = msSince(t0);
        const int before = counter.paints;
        QApplication::processEvents();
        if (counter.paints == before)
            form.StringGrid1->viewport()->repaint();
        refreshes.push_back(msSince(t0));
        listings.push_back(std::chrono::duration<double, std::milli>(listed - t0).count());
        const double cpu = processorMs() - cpu0;
        std::printf(
            "round %d: refresh %.0f ms (listing %.0f ms, sort and grid %.0f ms, paint %.0f ms), "
            "%d rows, %.0f ms processor time; curl listing %.0f ms\n",
            round + 1, refreshes.back(), std::chrono::duration<double, std::milli>(listed - t0).count(),
            std::chrono::duration<double, std::milli>(
                t0 +
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(grid)) -
                listed)
                .count(),
            refreshes.back() - grid, form.RowCount(), cpu, curls.back());
    }
    std::printf("memory: %.0f MB more resident with the grid filled\n",
                static_cast<double>(statusKb("VmRSS:") - baseKb) / 1024.0);
    std::printf("curl listing: %.0f ms (median)\n", median(curls));
    std::printf("listing: %.0f ms (median), ratio vs curl %.3f (target <= 1.1)\n", median(listings),
                median(listings) / median(curls));
    std::printf("ratio vs curl: %.3f (the whole refresh against curl's listing alone, target <= 1.25)\n",
                median(refreshes) / median(curls));
    shop.connection.disconnect();
    shop.connection.removeObserver(listing);
    std::printf("refresh: %.0f ms\n", median(refreshes));
    return silent.problems == 0 && form.RowCount() == entries + 2 ? 0 : 1;
}
