#include "ftp/SockSession.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/support/free_port.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::TempDir;
using velmo::test::writeBytes;

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A session connected to a raw socket the test drives by hand.
class SocketPair : public ::testing::Test {
protected:
    void SetUp() override {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        ASSERT_EQ(::listen(listener, 4), 0);
        socklen_t size = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
        session.Host = "127.0.0.1";
        session.Port = port;
        session.Connect();
        peer = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(peer, 0);
    }
    void TearDown() override {
        setEventPumpHook({});
        if (peer >= 0)
            ::close(peer);
        ::close(listener);
    }
    void put(const std::string& bytes) {
        ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void closePeer() {
        ::close(peer);
        peer = -1;
    }
    std::size_t waitingAtPeer() {
        char buf[70000];
        std::size_t total = 0;
        for (;;) {
            const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0)
                return total;
            total += static_cast<std::size_t>(n);
        }
    }

    int listener = -1;
    int port = 0;
    int peer = -1;
    TSockSession session;
};

} // namespace

TEST(NthField, SplitsAtEverySeparator) {
    struct Case {
        const char* text;
        char sep;
        int n;
        const char* expected;
    } cases[] = {
        {"257 \"/home/shop\" is cwd", '"', 2, "/home/shop"},
        {"257 no quotes", '"', 2, ""},
        {"a,,c", ',', 2, ""},
        {"a,,c", ',', 3, "c"},
        {"a,b", ',', 3, ""},
        {"", ',', 1, ""},
        {"abc", ',', 1, "abc"},
        {"(1,2,3,4,19,137)", ',', 6, "137)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NthField(c.text, c.sep, c.n), c.expected) << c.text << " #" << c.n;
}

TEST(SocketErrors, LinuxNumbersMapOntoTheTable) {
    struct Case {
        int err;
        const char* text;
    } cases[] = {
        {ECONNREFUSED, "10061:Connection refused"},  {ECONNRESET, "10054:Connection reset by peer"},
        {ENOTCONN, "10057:Socket is not connected"}, {EAGAIN, "10035:Operation would block"},
        {ETIMEDOUT, "10060:Connection timed out"},   {EADDRINUSE, "10048:Address already in use"},
        {EHOSTUNREACH, "10065:No route to Host"},    {ENOENT, "Unbekannte Fehlernummer 20002"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(socketErrorText(socketErrorFromErrno(c.err)), c.text) << c.err;
    EXPECT_EQ(socketErrorText(12345), "Unbekannte Fehlernummer 12345");
    EXPECT_EQ(socketErrorFromErrno(0), 0);
}

TEST_F(SocketPair, ReadLnKeepsTheLineEndAsSent) {
    put("123456789\r\nunix\nlast\r\n");
    EXPECT_EQ(session.ReadLn(), "123456789\r\n");
    EXPECT_EQ(session.ReadLn(), "unix\n");
    EXPECT_EQ(session.ReadLn(), "last\r\n");
}

TEST_F(SocketPair, TransactionTakesTheReplyNumberFromTheLeadingDigits) {
    struct Case {
        const char* reply;
        int number;
    } cases[] = {{"226 ok\r\n", 226}, {"abc\r\n", 0}, {"99999 big\r\n", 0}, {"1234567890123\r\n", 0}};
    for (const auto& c : cases) {
        put(c.reply);
        EXPECT_EQ(session.Transaction("NOOP"), c.reply);
        EXPECT_EQ(session.ReplyNumber(), c.number) << c.reply;
        EXPECT_EQ(session.LastReply(), c.reply);
    }
    EXPECT_EQ(waitingAtPeer(), 4 * 6u);
}

TEST_F(SocketPair, PeerClosingMidLineGivesAnEmptyLineAndEndsTheConnection) {
    int disconnects = 0;
    session.OnDisconnect = [&](TSockSession&) { ++disconnects; };
    put("half a li");
    closePeer();
    EXPECT_EQ(session.ReadLn(), "");
    EXPECT_THROW(session.CheckConnection(), Exception);
    EXPECT_FALSE(session.Connected());
    EXPECT_EQ(disconnects, 1);
}

TEST_F(SocketPair, UnreadDataSurvivesThePeersClose) {
    put("226 done\r\n");
    closePeer();
    processPendingEvents();
    EXPECT_TRUE(session.Connected());
    EXPECT_EQ(session.ReadLn(), "226 done\r\n");
    processPendingEvents();
    EXPECT_FALSE(session.Connected());
}

TEST_F(SocketPair, ReadLnSilenceEndsAfterTimeOutAndTheSessionStaysUsable) {
    session.TimeOut = 200;
    put("partial");
    const auto start = Clock::now();
    try {
        session.ReadLn();
        FAIL() << "no time-out";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket-readln abgebrochen");
    }
    EXPECT_GE(msSince(start), 190);
    EXPECT_LT(msSince(start), 3000);
    put("next\r\n");
    EXPECT_EQ(session.ReadLn(), "next\r\n");
}

TEST_F(SocketPair, WriteStopsAtTheBufferSize) {
    session.Write(std::string(65535, 'x'));
    std::size_t got = 0;
    for (int i = 0; i < 100 && got < 65535; ++i) {
        got += waitingAtPeer();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(got, 65535u);
    EXPECT_THROW(session.Write(std::string(65536, 'x')), Exception);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(waitingAtPeer(), 0u);
}

TEST_F(SocketPair, ReadWaitsForTheWholeCountWithoutBurningTheProcessor) {
    EXPECT_EQ(session.Read(0), "");
    put("abc");
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        put("de!");
    });
    const double cpu = threadCpuSeconds();
    EXPECT_EQ(session.Read(5), "abcde");
    EXPECT_LT(threadCpuSeconds() - cpu, 0.05);
    late.join();
    EXPECT_EQ(session.Read(0), "!");
}

TEST_F(SocketPair, CaptureFileStoresEveryByteValue) {
    TempDir dir;
    std::string bytes;
    for (int round = 0; round < 1000; ++round)
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>(b);
    int packets = 0;
    session.OnPacketRecvd = [&](TSockSession&) { ++packets; };
    std::thread sender([&] {
        put(bytes);
        closePeer();
    });
    session.CaptureFile(dir.file("out.bin"));
    sender.join();
    EXPECT_EQ(readBytes(dir.file("out.bin")), bytes);
    EXPECT_EQ(session.BytesRecvd(), static_cast<std::int64_t>(bytes.size()));
    EXPECT_GE(packets, 1);
}

TEST_F(SocketPair, CaptureFileSilenceKeepsTheOldFile) {
    TempDir dir;
    writeBytes(dir.file("kunden.db"), "old orders\r\n");
    session.TimeOut = 200;
    put(std::string(1000, 'n'));
    try {
        session.CaptureFile(dir.file("kunden.db"));
        FAIL() << "no time-out";
    } catch (const EAbortError& e) {
        EXPECT_STREQ(e.what(), "Socket-send abgebrochen");
    }
    EXPECT_EQ(readBytes(dir.file("kunden.db")), "old orders\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(SocketPair, CaptureFileTimeOutMeasuresSilenceNotTheWholeTransfer) {
    TempDir dir;
    session.TimeOut = 250;
    std::thread sender([&] {
        for (int i = 0; i < 8; ++i) {
            put("0123456789");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        closePeer();
    });
    session.CaptureFile(dir.file("slow.txt"));
    sender.join();
    EXPECT_EQ(readBytes(dir.file("slow.txt")).size(), 80u);
}

TEST_F(SocketPair, WaitsGoThroughTheHookAndACancelFromItEndsTheWait) {
    int calls = 0;
    bool sawSocket = false;
    setEventPumpHook([&](std::span<pollfd> fds, int timeoutMs) {
        ++calls;
        for (const auto& p : fds)
            sawSocket |= p.fd == session.Handle() && (p.events & POLLIN);
        // What a "Cancel" button pressed during the wait does.
        session.Cancel();
        pollEventPump(fds, timeoutMs);
    });
    const auto start = Clock::now();
    EXPECT_THROW(session.ReadLn(), EAbortError);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_GE(calls, 1);
    EXPECT_TRUE(sawSocket);
}

TEST_F(SocketPair, SilentWaitDoesNotSpin) {
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        put("200 finally\r\n");
    });
    const double cpu = threadCpuSeconds();
    EXPECT_EQ(session.ReadLn(), "200 finally\r\n");
    EXPECT_LT(threadCpuSeconds() - cpu, 0.05);
    late.join();
}

TEST(ThreadTimer, FiresOnlyInsideThePump) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TThreadTimer&) { ++ticks; });
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_EQ(ticks, 0);
    processPendingEvents();
    EXPECT_EQ(ticks, 1);
    timer.SetEnabled(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    processPendingEvents();
    EXPECT_EQ(ticks, 1);
}

TEST(Connect, RefusedConnectionFiresConnectionFailed) {
    TSockSession s;
    s.Host = "127.0.0.1";
    s.Port = velmo::test::freePort();
    int failed = 0;
    int connects = 0;
    s.OnConnectionFailed = [&](TSockSession&) { ++failed; };
    s.OnConnect = [&](TSockSession&) { ++connects; };
    try {
        s.Connect();
        FAIL();
    } catch (const ESockError& e) {
        EXPECT_STREQ(e.what(), "Verbindung fehlgeschlagen");
    }
    EXPECT_EQ(failed, 1);
    // Later passes of the pump must not mistake the dead socket for a completed connect.
    processPendingEvents();
    processPendingEvents();
    EXPECT_FALSE(s.Connected());
    EXPECT_EQ(connects, 0);
}

TEST(Connect, InvalidHostIsOfferedOnceForRepair) {
    // An empty host name fails to resolve without asking any name server.
    struct Case {
        bool repair;
        const char* error;
    } cases[] = {{false, "Null Externe Adresse"}, {true, "Verbindung fehlgeschlagen"}};
    for (const auto& c : cases) {
        TSockSession s;
        s.Port = 1;
        int offered = 0;
        s.OnInvalidHost = [&](TSockSession& sender, bool& handled) {
            ++offered;
            handled = true;
            if (c.repair)
                sender.Host = "127.0.0.1";
        };
        try {
            s.Connect();
            FAIL();
        } catch (const ESockError& e) {
            EXPECT_STREQ(e.what(), c.error);
        }
        EXPECT_EQ(offered, 1);
    }
}

TEST(Connect, OnlyNamesAreLookedUp) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(listener, 4);
    socklen_t size = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
    for (const char* host : {"127.0.0.1", "localhost"}) {
        TSockSession s;
        s.Host = host;
        s.Port = ntohs(a.sin_port);
        int resolved = 0;
        s.OnHostResolved = [&](TSockSession&) { ++resolved; };
        s.Connect();
        EXPECT_TRUE(s.Connected());
        EXPECT_EQ(resolved, std::string(host) == "localhost" ? 1 : 0) << host;
    }
    ::close(listener);
}
