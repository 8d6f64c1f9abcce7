// The Qt hook of the event pump: while an FTP operation blocks waiting for the server, Qt's timers
// fire and widgets repaint, a cancel from a Qt timer ends the wait, and the wait does not burn a
// core.

#include "ftp/FtpClient.h"
#include "ftp/qt/qteventpump.h"
#include "tests/ftp/support/scripted_server.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <thread>

using namespace velmo;
using velmo::test::ScriptedFtpServer;

namespace {

class CountingWidget : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct PumpInstalled {
    PumpInstalled() { installQtEventPump(); }
    ~PumpInstalled() { setEventPumpHook({}); }
};

} // namespace

TEST(QtEventPump, TimersAndRepaintsRunDuringABlockingWaitAndAQtCancelEndsIt) {
    PumpInstalled pump;
    ScriptedFtpServer server;
    // The server takes its time over NOOP, long after the cancel.
    server.on("NOOP", [](ScriptedFtpServer::Session& s, const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        s.send("200 late\r\n");
    });

    TFtpClient client;
    client.Host = "127.0.0.1";
    client.Port = server.port();
    client.UserID = "u";
    client.Password = "p";
    client.TimeOut = 0; // only the cancel ends the wait
    client.Connect();

    CountingWidget widget;
    widget.resize(50, 50);
    widget.show();
    QCoreApplication::processEvents();
    const int paintsBefore = widget.paints;

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        widget.update();
    });
    ticker.start(20);
    QTimer::singleShot(300, [&client] { client.Cancel(); });

    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = cpuSeconds();
    EXPECT_THROW(client.DoCommand("NOOP"), EAbortError);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;

    EXPECT_GE(wall, 0.25);
    EXPECT_LT(wall, 1.2) << "the cancel did not end the wait";
    EXPECT_GE(ticks, 5);
    EXPECT_GT(widget.paints, paintsBefore + 3);
    // A spinning wait would use the whole core for the whole wait.
    EXPECT_LT(cpu, wall * 0.3) << "cpu " << cpu << " s in " << wall << " s";
}

TEST(QtEventPump, AReplyEndsTheWaitAndTheSocketLayersTimersStillFire) {
    PumpInstalled pump;
    ScriptedFtpServer server;
    server.on("NOOP", [](ScriptedFtpServer::Session& s, const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        s.send("200 fine\r\n");
    });
    server.on("STAT", [](ScriptedFtpServer::Session&, const std::string&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    });
    TFtpClient client;
    client.Host = "127.0.0.1";
    client.Port = server.port();
    client.UserID = "u";
    client.Password = "p";
    client.Connect();

    client.DoCommand("NOOP");
    EXPECT_EQ(client.ReplyNumber(), 200);

    // A timer of the socket layer fires from inside the Qt-driven wait, here to cancel it.
    TThreadTimer timer;
    timer.SetInterval(200);
    timer.SetOnTimer([&client](TThreadTimer& t) {
        t.SetEnabled(false);
        client.Cancel();
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(client.DoCommand("STAT"), EAbortError);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1200));
}
