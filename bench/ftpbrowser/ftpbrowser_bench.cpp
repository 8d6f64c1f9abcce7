// The FTP browser's RefreshRemote of a directory of 100,000 entries on a local server, on the
// offscreen platform, until the grid has painted: PWD, the listing over the data connection, the
// sort and the grid rows. The peer is curl listing the same directory in the same run, which shows
// what the server itself needs. The last line is the median refresh.
//
//   ftpbrowser_bench [--server vsftpd|pyftpdlib] [--entries N] [--rounds N]

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

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
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
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double ms = msSince(t0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

// Processor time of this process so far.
double cpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
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
    TFtpClient& ftp = shop.ftp;
    ftp.Host = "127.0.0.1";
    ftp.Port = server->port();
    ftp.UserID = server->user();
    ftp.Password = server->password();
    ftp.TimeOut = 5000;
    ftp.OnListItem = [&shop](TSockSession&, const std::string& line) { shop.ListingLines.push_back(line); };
    Clock::time_point listed;
    ftp.OnTransactionStop = [&listed](TSockSession&) { listed = Clock::now(); };
    ftp.Connect();
    ftp.ChangeDir("/" + remoteDir);

    TForm11 form(shop, [] {});
    PaintCounter counter;
    form.StringGrid1->viewport()->installEventFilter(&counter);
    form.show(); // the opening's refresh runs here once, unmeasured
    QApplication::processEvents();
    const long baseKb = statusKb("VmRSS:");

    const std::string account = server->user() + ":" + server->password();
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server->port()) + "/" + remoteDir + "/";
    std::vector<double> curls, refreshes;
    for (int round = 0; round < rounds; ++round) {
        curls.push_back(runMs({"curl", "-s", "--user", account, "-o", "/dev/null", url}));
        const double cpu0 = cpuMs();
        const auto t0 = Clock::now();
        form.RefreshRemote();
        const double grid = msSince(t0);
        const int before = counter.paints;
        QApplication::processEvents();
        if (counter.paints == before)
            form.StringGrid1->viewport()->repaint();
        refreshes.push_back(msSince(t0));
        const double cpu = cpuMs() - cpu0;
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
                (statusKb("VmRSS:") - baseKb) / 1024.0);
    std::printf("curl listing: %.0f ms (median)\n", median(curls));
    ftp.Disconnect();
    std::printf("refresh: %.0f ms\n", median(refreshes));
    return silent.problems == 0 && form.RowCount() == entries + 2 ? 0 : 1;
}
