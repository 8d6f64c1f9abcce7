// The FTP client against real servers (pyftpdlib and vsftpd) on loopback, in active and passive mode.

#include "ftp/FtpClient.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <random>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::RealFtpServer;
using velmo::test::TempDir;
using velmo::test::writeBytes;
using Lines = std::vector<std::string>;

namespace {

// One server of each kind for the whole run, started on first use.
RealFtpServer& server(const std::string& kind) {
    static std::unique_ptr<RealFtpServer> pyftpdlib;
    static std::unique_ptr<RealFtpServer> vsftpd;
    auto& slot = kind == "pyftpdlib" ? pyftpdlib : vsftpd;
    if (!slot)
        slot = kind == "pyftpdlib" ? velmo::test::startPyftpdlib() : velmo::test::startVsftpd();
    return *slot;
}

struct Mode {
    const char* server;
    bool passive;
};

void PrintTo(const Mode& m, std::ostream* os) {
    *os << m.server << (m.passive ? " PASV" : " PORT");
}

class RealServer : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override {
        srv = &server(GetParam().server); // throws (and fails the test) when it cannot start
        prefix = std::string(GetParam().passive ? "pasv_" : "port_");
        client.Host = "127.0.0.1";
        client.Port = srv->port();
        client.UserID = srv->user();
        client.Password = srv->password();
        client.Passive = GetParam().passive;
        client.TimeOut = 5000;
        // A protocol fault (a reply that never comes) must fail the test in seconds.
        client.ReplyTimeOut = 5000;
        client.OnConnect = [this](TSockSession&) { events.push_back("connect"); };
        client.OnSuccess = [this](TSockSession&, TCmdType t) {
            events.push_back(std::string("success ") + cmdTypeName(t));
        };
        client.OnFailure = [this](TSockSession&, bool&, TCmdType t) {
            events.push_back(std::string("failure ") + cmdTypeName(t));
        };
        client.OnTransactionStart = [this](TSockSession&) { events.push_back("start"); };
        client.OnTransactionStop = [this](TSockSession&) { events.push_back("stop"); };
        client.OnListItem = [this](TSockSession&, const std::string& line) { items.push_back(line); };
        client.Connect();
        EXPECT_EQ(events, Lines{"connect"});
        if (!srv->writableDir().empty())
            client.ChangeDir(srv->writableDir());
        events.clear();
    }
    void TearDown() override {
        if (client.Connected())
            client.Disconnect();
    }

    RealFtpServer* srv = nullptr;
    std::string prefix;
    TFtpClient client;
    Lines events;
    Lines items;
};

std::string randomBytes(std::size_t size) {
    std::mt19937_64 random(20240501);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const auto v = random();
        for (std::size_t k = 0; k < 8 && i + k < size; ++k)
            bytes[i + k] = static_cast<char>(v >> (8 * k));
    }
    return bytes;
}

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

TEST_P(RealServer, DirectoriesAndListings) {
    TempDir local;
    const std::string dir = prefix + "katalog";
    client.DoCommand("TYPE I"); // an ASCII upload would store "eins\n"
    const std::string home = client.CurrentDir();
    EXPECT_EQ(home.front(), '/');
    client.DoCommand("MKD " + dir);
    client.ChangeDir(dir);
    EXPECT_TRUE(endsWith(client.CurrentDir(), "/" + dir));
    writeBytes(local.file("liste.txt"), "eins\r\n");
    client.Upload(local.file("liste.txt"), "liste.txt");

    events.clear();
    client.ParseList = true;
    client.List();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(endsWith(items[0], " liste.txt")) << items[0];
    EXPECT_EQ(events, (Lines{"success CmdDoCommand", "start", "stop", "success CmdList"}));
    EXPECT_EQ(client.Vendor, VendorUnix);
    EXPECT_EQ(client.ListParser()->Names, Lines{"liste.txt"});
    EXPECT_EQ(client.ListParser()->Sizes, Lines{"6"});

    items.clear();
    events.clear();
    client.Nlist();
    EXPECT_EQ(items, Lines{"liste.txt"});
    EXPECT_EQ(events, (Lines{"start", "stop", "success CmdNList"}));

    client.Delete("liste.txt");
    client.ChangeDir("..");
    client.RemoveDir(dir);
    items.clear();
    client.Nlist();
    EXPECT_EQ(std::count(items.begin(), items.end(), dir), 0);
}

TEST_P(RealServer, TransfersAreByteExact) {
    TempDir local;
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    struct File {
        std::string name;
        std::string bytes;
    } files[] = {{prefix + "alle_bytes.bin", all},
                 {prefix + "zufall.bin", randomBytes(std::size_t{10} * 1024 * 1024)}};
    client.DoCommand("TYPE I");
    for (const auto& f : files) {
        writeBytes(local.file("up"), f.bytes);
        events.clear();
        client.Upload(local.file("up"), f.name);
        EXPECT_EQ(events, (Lines{"start", "stop", "success CmdUpload"}));
        EXPECT_TRUE(readBytes(srv->localPath(f.name)) == f.bytes) << f.name << " differs on the server";

        events.clear();
        client.Download(f.name, local.file("down"));
        EXPECT_EQ(events, (Lines{"start", "stop", "stop", "success CmdUpload"}));
        EXPECT_TRUE(readBytes(local.file("down")) == f.bytes) << f.name << " differs after download";
        EXPECT_EQ(client.BytesTotal(), static_cast<std::int64_t>(f.bytes.size()));
        client.Delete(f.name);
    }
}

TEST_P(RealServer, RefusalsRaiseTheReplyLine) {
    TempDir local;
    writeBytes(local.file("kunden.db"), "bleibt\r\n");
    struct Case {
        std::function<void()> action;
        const char* event;
    } cases[] = {
        {[&] { client.ChangeDir(prefix + "gibtsnicht"); }, "failure CmdChangeDir"},
        {[&] { client.Delete(prefix + "gibtsnicht"); }, "failure CmdDelete"},
        {[&] { client.RemoveDir(prefix + "gibtsnicht"); }, "failure CmdRemoveDir"},
        {[&] { client.Download(prefix + "kunden.db", local.file("kunden.db")); }, "failure CmdUpload"},
    };
    for (const auto& c : cases) {
        events.clear();
        try {
            c.action();
            ADD_FAILURE() << c.event << ": nothing raised";
        } catch (const FTPException& e) {
            EXPECT_EQ(e.Reply().substr(0, 4), "550 ") << e.Reply();
            EXPECT_TRUE(endsWith(e.what(), "\r\n"));
        }
        EXPECT_FALSE(events.empty());
        EXPECT_TRUE(std::all_of(events.begin(), events.end(), [&](const std::string& e) {
            return e == c.event;
        })) << c.event;
    }
    EXPECT_EQ(readBytes(local.file("kunden.db")), "bleibt\r\n");
    EXPECT_TRUE(client.Connected());
}

TEST_P(RealServer, SiteChmod) {
    TempDir local;
    writeBytes(local.file("bild.jpg"), "JPEG");
    const std::string name = prefix + "bild.jpg";
    client.Upload(local.file("bild.jpg"), name);
    if (std::string(GetParam().server) == "pyftpdlib") {
        client.DoCommand("SITE CHMOD 600 " + name);
        struct stat st {};
        ASSERT_EQ(::stat(srv->localPath(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    } else {
        // vsftpd never lets the anonymous account change rights.
        try {
            client.DoCommand("SITE CHMOD 600 " + name);
            ADD_FAILURE() << "accepted";
        } catch (const FTPException& e) {
            EXPECT_EQ(e.Reply(), "550 Permission denied.\r\n");
        }
    }
    client.Delete(name);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         ::testing::Values(Mode{"pyftpdlib", false}, Mode{"pyftpdlib", true},
                                           Mode{"vsftpd", false}, Mode{"vsftpd", true}),
                         [](const auto& info) {
                             return std::string(info.param.server) + (info.param.passive ? "_pasv" : "_port");
                         });
