// The FTP client against the scripted server: exact command transcripts, reply rules, events and
// the faults a real server rarely shows on demand.

#include "ftp/FtpClient.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::ScriptedFtpServer;
using velmo::test::TempDir;
using velmo::test::writeBytes;
using Lines = std::vector<std::string>;

namespace {

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class Scripted : public ::testing::Test {
protected:
    void SetUp() override {
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.UserID = "anna";
        client.Password = "secret";
        client.TimeOut = 3000;
        // A protocol fault (a reply that never comes) must fail the test in seconds.
        client.ReplyTimeOut = 5000;
        client.ReportLevel = 1;
        client.OnStatus = [this](TSockSession&, const std::string& s) { statuses.push_back(s); };
        client.OnConnect = [this](TSockSession&) { events.push_back("connect"); };
        client.OnDisconnect = [this](TSockSession&) { events.push_back("disconnect"); };
        client.OnConnectionFailed = [this](TSockSession&) { events.push_back("connectionFailed"); };
        client.OnSuccess = [this](TSockSession&, TCmdType t) {
            events.push_back(std::string("success ") + cmdTypeName(t));
        };
        client.OnFailure = [this](TSockSession&, bool&, TCmdType t) {
            events.push_back(std::string("failure ") + cmdTypeName(t));
        };
        client.OnUnSupportedFunction = [this](TSockSession&, TCmdType t) {
            events.push_back(std::string("unsupported ") + cmdTypeName(t));
        };
        client.OnListItem = [this](TSockSession&, const std::string& line) { items.push_back(line); };
        client.OnTransactionStart = [this](TSockSession&) { events.push_back("start"); };
        client.OnTransactionStop = [this](TSockSession&) { events.push_back("stop"); };
    }

    void login() {
        client.Connect();
        server.clearTranscript();
        events.clear();
        statuses.clear();
    }

    bool hasStatus(const std::string& text) const {
        return std::find(statuses.begin(), statuses.end(), text) != statuses.end();
    }

    // Runs action and returns the message of the exception of type E it must raise.
    template <class E> std::string raises(const std::function<void()>& action) {
        try {
            action();
        } catch (const E& e) {
            return e.what();
        } catch (const std::exception& e) {
            ADD_FAILURE() << "unexpected exception: " << e.what();
            return {};
        }
        ADD_FAILURE() << "nothing raised";
        return {};
    }

    ScriptedFtpServer server;
    TFtpClient client;
    Lines events;
    Lines statuses;
    Lines items;
};

} // namespace

TEST_F(Scripted, LoginSequencesDirectAndThroughAProxy) {
    struct Case {
        const char* name;
        bool proxy;
        TFirewallType type;
        bool fwAuthenticate;
        Lines expected;
    } cases[] = {
        {"direct", false, FTUser, false, {"USER anna", "PASS secret"}},
        {"user@host", true, FTUser, false, {"USER anna@shop.example", "PASS secret"}},
        {"open", true, FtOpen, false, {"OPEN shop.example", "USER anna", "PASS secret"}},
        {"site", true, FtSite, false, {"SITE shop.example", "USER anna", "PASS secret"}},
        {"fw + user@host",
         true,
         FTUser,
         true,
         {"USER fw", "PASS fwpw", "USER anna@shop.example", "PASS secret"}},
        {"fw + open",
         true,
         FtOpen,
         true,
         {"USER fw", "PASS fwpw", "OPEN shop.example", "USER anna", "PASS secret"}},
        {"fw + site",
         true,
         FtSite,
         true,
         {"USER fw", "PASS fwpw", "SITE shop.example", "USER anna", "PASS secret"}},
    };
    for (const auto& c : cases) {
        TFtpClient ftp;
        int connects = 0;
        ftp.OnConnect = [&](TSockSession&) { ++connects; };
        ftp.UserID = "anna";
        ftp.Password = "secret";
        if (c.proxy) {
            ftp.Host = "shop.example"; // reached only through the proxy, never looked up
            ftp.Proxy = "127.0.0.1";
            ftp.ProxyPort = server.port();
        } else {
            ftp.Host = "127.0.0.1";
            ftp.Port = server.port();
        }
        ftp.FirewallType = c.type;
        ftp.FWAuthenticate = c.fwAuthenticate;
        ftp.FWUserID = "fw";
        ftp.FWPassword = "fwpw";
        server.clearTranscript();
        ftp.Connect();
        EXPECT_EQ(server.transcript(), c.expected) << c.name;
        EXPECT_EQ(connects, 1) << c.name;
        ftp.Disconnect();
    }
}

TEST_F(Scripted, RefusedCombinedProxyUserIsNotJudged) {
    server.reply("USER", "530 unknown user\r\n");
    client.Proxy = "127.0.0.1";
    client.ProxyPort = server.port();
    client.Host = "shop.example";
    client.Connect();
    EXPECT_EQ(server.transcript(), Lines{"USER anna@shop.example"});
    EXPECT_EQ(events, Lines{"connect"});
}

TEST_F(Scripted, MultiLineGreetingIsReadBeforeUser) {
    server.greeting("220-Willkommen im Shop\r\n second line\r\nohne Code\r\n220-third\r\n220 bereit\r\n");
    client.Connect();
    EXPECT_EQ(server.transcript(), (Lines{"USER anna", "PASS secret"}));
    for (const char* line : {"220-Willkommen im Shop\r\n", " second line\r\n", "ohne Code\r\n",
                             "220-third\r\n", "220 bereit\r\n"})
        EXPECT_TRUE(hasStatus(line)) << line;
    EXPECT_FALSE(hasStatus("PASS secret")); // the password never shows
    EXPECT_TRUE(hasStatus("PASS "));
}

TEST_F(Scripted, UserAnsweredWith230GetsNoPass) {
    server.reply("USER", "230 No password needed\r\n");
    client.Connect();
    EXPECT_EQ(server.transcript(), Lines{"USER anna"});
    EXPECT_EQ(events, Lines{"connect"});
    client.Connect(); // logged in already: nothing happens
    EXPECT_EQ(server.transcript(), Lines{"USER anna"});
    EXPECT_EQ(events, Lines{"connect"});
}

TEST_F(Scripted, RefusedLoginHangsUpAndRaisesTheReply) {
    struct Case {
        const char* greeting;
        const char* passReply;
        Lines transcript;
        const char* error;
    } cases[] = {
        {"421 Too many users\r\n", "230 ok\r\n", {"QUIT"}, "421 Too many users\r\n"},
        {"220 ok\r\n",
         "530 Login incorrect\r\n",
         {"USER anna", "PASS secret", "QUIT"},
         "530 Login incorrect\r\n"},
    };
    for (const auto& c : cases) {
        server.greeting(c.greeting);
        server.reply("PASS", c.passReply);
        server.clearTranscript();
        events.clear();
        statuses.clear();
        EXPECT_EQ(raises<FTPException>([&] { client.Connect(); }), c.error);
        EXPECT_EQ(server.transcript(), c.transcript);
        EXPECT_EQ(events, (Lines{"connectionFailed", "disconnect"}));
        EXPECT_TRUE(hasStatus("Verbindung abgebrochen"));
        EXPECT_FALSE(client.Connected());
    }
}

TEST_F(Scripted, ReplyCodesDecideSuccessAndFailure) {
    struct Case {
        std::string command;
        std::string reply;
        Lines events;
        bool raises;
    } cases[] = {
        {"NOOP", "350 Pending further information\r\n", {"success CmdDoCommand"}, false},
        {"NOOP", "400 Try later\r\n", {"failure CmdDoCommand"}, true},
        {"MKD neu", "502 Not implemented\r\n", {"unsupported CmdMakeDir", "failure CmdMakeDir"}, true},
        {"DELE x", "550 No such file\r\n", {"failure CmdDelete"}, true},
        {"CWD a", "250 ok\r\n", {"success CmdChangeDir"}, false},
        {"cwd a", "250 ok\r\n", {"success CmdDoCommand"}, false},
        {"PWD", "257 \"/\"\r\n", {"success CmdCurrentDir"}, false},
        {"PWD ", "257 \"/\"\r\n", {"success CmdDoCommand"}, false},
        {"RMD d", "250-first\r\n250-second\r\n250 last\r\n", {"success CmdRemoveDir"}, false},
        {"SITE CHMOD 644 a", "553-no\r\n more\r\n553 end\r\n", {"failure CmdDoCommand"}, true},
        // A welcome text passed through: lines without a code, and one that looks like a reply.
        {"CWD shop",
         "250-Willkommen\r\nText ohne Code\r\n450 nur Text\r\n250-\r\n250\r\n",
         {"success CmdChangeDir"},
         false},
    };
    login();
    for (const auto& c : cases) {
        const std::string verb = c.command.substr(0, c.command.find(' '));
        server.reply(verb, c.reply);
        events.clear();
        const std::string firstLine = c.reply.substr(0, c.reply.find('\n') + 1);
        if (c.raises)
            EXPECT_EQ(raises<FTPException>([&] { client.DoCommand(c.command); }), firstLine) << c.command;
        else
            client.DoCommand(c.command);
        EXPECT_EQ(events, c.events) << c.command;
        EXPECT_EQ(client.LastReply(), firstLine);
    }
    // Nothing of the multi-line replies is left over for the next command.
    server.reply("NOOP", "200 fine\r\n");
    client.DoCommand("NOOP");
    EXPECT_EQ(client.LastReply(), "200 fine\r\n");

    client.OnFailure = [](TSockSession&, bool& handled, TCmdType) { handled = true; };
    server.reply("DELE", "550 gone\r\n");
    EXPECT_NO_THROW(client.Delete("x"));
}

TEST_F(Scripted, AReplyCountsOnlyWithTheCodeItsCommandExpects) {
    struct Case {
        std::string command;
        std::string reply;
        bool success;
    } cases[] = {
        {"PWD", "200 ok\r\n", false},
        {"PWD", "257 \"/\"\r\n", true},
        {"CWD a", "200 ok\r\n", false},
        {"CWD a", "250 ok\r\n", true},
        {"DELE x", "200 ok\r\n", false},
        {"DELE x", "250 deleted\r\n", true},
        {"RMD d", "257 \"d\"\r\n", false},
        {"RMD d", "250 removed\r\n", true},
        {"MKD n", "250 ok\r\n", false},
        {"MKD n", "257 \"n\" created\r\n", true},
        {"TYPE I", "250 ok\r\n", false},
        {"TYPE I", "200 Type set to I\r\n", true},
        // Commands without one success code keep the rule that anything below 400 is success.
        {"SITE CHMOD 644 a", "200 ok\r\n", true},
        {"NOOP", "250 ok\r\n", true},
    };
    login();
    for (const auto& c : cases) {
        server.reply(c.command.substr(0, c.command.find(' ')), c.reply);
        events.clear();
        if (c.success) {
            EXPECT_NO_THROW(client.DoCommand(c.command)) << c.command << " / " << c.reply;
        } else {
            EXPECT_EQ(raises<FTPException>([&] { client.DoCommand(c.command); }), c.reply) << c.command;
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.back().rfind("failure ", 0), 0U) << c.command;
        }
    }
}

TEST_F(Scripted, AStrayReplyAfterAFloodIsNoDirectory) {
    // The server answers NOOP twice, the second time late: that answer meets the PWD.
    server.on("NOOP", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("200 ok\r\n");
        sleepMs(100);
        s.send("200 ok\r\n");
    });
    login();
    client.DoCommand("NOOP");
    EXPECT_EQ(raises<FTPException>([&] { client.CurrentDir(); }), "200 ok\r\n");
}

TEST_F(Scripted, APortReplyOtherThan200OpensNoTransfer) {
    server.reply("PORT", "250 whatever\r\n");
    login();
    EXPECT_EQ(raises<FTPException>([&] { client.List(); }), "250 whatever\r\n");
    const Lines transcript = server.transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "LIST"), 0);
}

TEST_F(Scripted, RepliesAndPasvFieldsAreTakenUpToTheirLimitExactly) {
    struct Lines_ {
        int lines;
        bool accepted;
    };
    for (const Lines_ c : {Lines_{10000, true}, Lines_{10001, false}}) {
        std::string greeting = "220-first\r\n";
        for (int i = 2; i < c.lines; ++i)
            greeting += "220-more\r\n";
        server.greeting(greeting + "220 last\r\n");
        if (c.accepted) {
            EXPECT_NO_THROW(client.Connect()) << c.lines;
            client.Disconnect();
        } else {
            EXPECT_THROW(client.Connect(), ESockError) << c.lines;
        }
    }
    server.greeting("220 ready\r\n");
    struct Field {
        int value;
        bool accepted;
    };
    server.setListing("eins\r\n");
    client.Passive = true;
    login();
    for (const Field f : {Field{255, true}, Field{256, false}}) {
        // The address is not used, so a field of it can be anything the parser takes.
        server.on("PASV", [f](ScriptedFtpServer::Session& s, const std::string&) {
            const int port = s.listenPassive();
            s.send("227 Entering Passive Mode (" + std::to_string(f.value) + ",0,0,1," +
                   std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) + ")\r\n");
        });
        items.clear();
        if (f.accepted) {
            client.List();
            EXPECT_EQ(items, Lines{"eins"});
        } else {
            EXPECT_THROW(client.List(), ESockError);
        }
    }
}

TEST_F(Scripted, SlowButSteadyPeersAreNotCutOff) {
    // Listing lines come at a quarter of TimeOut apart, longer than TimeOut in all: the deadline
    // starts anew with every line.
    server.on("LIST", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        s.openData();
        for (int i = 0; i < 6; ++i) {
            s.sendData("zeile " + std::to_string(i) + "\r\n");
            sleepMs(200);
        }
        s.closeData();
        s.send("226 done\r\n");
    });
    client.TimeOut = 800;
    login();
    client.List();
    EXPECT_EQ(items.size(), 6U);

    // The completion reply after the data comes later than TimeOut but within ReplyTimeOut.
    server.on("LIST", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        s.openData();
        s.sendData("a\r\n");
        s.closeData();
        sleepMs(900);
        s.send("226 done\r\n");
    });
    client.TimeOut = 300;
    client.ReplyTimeOut = 3000;
    items.clear();
    client.List();
    EXPECT_EQ(items, Lines{"a"});

    // An upload that a slow reader takes for longer than TimeOut, never pausing that long.
    server.setDataReceiveBuffer(64 * 1024);
    server.on("STOR", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        const int fd = s.openData();
        std::string got;
        char buf[64 * 1024];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0; sleepMs(10))
            got.append(buf, static_cast<std::size_t>(n));
        s.closeData();
        s.send(got.size() == std::size_t{12} * 1024 * 1024 ? "226 ok\r\n" : "451 short\r\n");
    });
    client.TimeOut = 500;
    TempDir dir;
    writeBytes(dir.file("gross.bin"), std::string(std::size_t{12} * 1024 * 1024, 'x'));
    const auto start = std::chrono::steady_clock::now();
    client.Upload(dir.file("gross.bin"), "gross.bin");
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(Scripted, CurrentDirIsTheTextBetweenTheFirstQuotes) {
    login();
    struct Case {
        const char* reply;
        const char* dir;
    } cases[] = {{"257 \"/home/shop\" is your home\r\n", "/home/shop"}, {"257 somewhere\r\n", ""}};
    for (const auto& c : cases) {
        server.reply("PWD", c.reply);
        EXPECT_EQ(client.CurrentDir(), c.dir);
    }
}

TEST_F(Scripted, SystDecidesTheServerSystemOncePerSession) {
    struct Case {
        const char* reply;
        int vendor;
    } cases[] = {
        {"215 UNIX Type: L8\r\n", VendorUnix},
        {"215 NETWARE with UNIX\r\n", VendorUnix},
        {"215 NETWARE\r\n", VendorNetware},
        {"215 MSDOS\r\n", VendorDos},
        {"215 VMS\r\n", VendorVms},
        {"215 MVS is the operating system\r\n", VendorMvs},
        {"215 VM/CMS\r\n", VendorVm},
        {"215 MACOS Peter's Server\r\n", VendorMacOs},
        {"215 OS/400 is the remote system\r\n", VendorOs400},
        {"215 Windows_NT\r\n", VendorOther},
        {"500 SYST not understood\r\n", VendorOther},
    };
    server.setListing("drwxr-xr-x 2 o g 4096 Jan 1 2024 d\r\n");
    client.ParseList = true;
    for (const auto& c : cases) {
        server.reply("SYST", c.reply);
        login();
        client.List();
        EXPECT_EQ(client.Vendor, c.vendor) << c.reply;
        client.List();
        const auto t = server.transcript();
        EXPECT_EQ(std::count(t.begin(), t.end(), "SYST"), 1) << c.reply;
        ASSERT_NE(client.ListParser(), nullptr);
        EXPECT_EQ(client.ListParser()->Names, Lines{"d"});
        client.Disconnect();
        EXPECT_EQ(client.Vendor, VendorUnknown);
        EXPECT_EQ(client.ListParser(), nullptr);
    }
}

TEST_F(Scripted, ListingLinesLoseTheirLineEndOnlyWhenLongerThanTwo) {
    // A line much longer than one look ahead for its end comes whole, and so does the next.
    const std::string longLine = "lang " + std::string(5000, 'y');
    server.setListing("total 2\r\n-rw-r--r-- 1 o g 5 Jan 1 2024 a.txt\r\nlf only\n\r\na\nxy\r\nab\r\r\n" +
                      longLine + "\r\nz\r\n");
    const Lines expected = {
        "total 2", "-rw-r--r-- 1 o g 5 Jan 1 2024 a.txt", "lf only", "\r\n", "a\n", "xy", "ab\r", longLine,
        "z"};
    client.ParseList = true;
    for (bool passive : {false, true}) {
        client.Passive = passive;
        login();
        items.clear();
        client.List();
        EXPECT_EQ(items, expected) << passive;
        EXPECT_EQ(client.ListParser()->Names, Lines{"a.txt"});
        // Each session detects the server system anew with SYST.
        EXPECT_EQ(events, (Lines{"success CmdDoCommand", "start", "stop", "success CmdList"})) << passive;
        const auto t = server.transcript();
        EXPECT_EQ(t.back(), "LIST");
        EXPECT_EQ(t[t.size() - 2].substr(0, 4), passive ? "PASV" : "PORT");
        client.Disconnect();
    }
}

TEST_F(Scripted, ListingLinesAlreadyReadComeWhileTheServerKeepsTheDataConnectionOpen) {
    // The whole listing arrives in one piece, a line longer than one look for its end first; the
    // server then waits before it closes. Nothing may wait for the socket while lines are at hand.
    const std::string longLine(5000, 'l');
    server.on("LIST", [&](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        s.openData();
        s.sendData(longLine + "\r\nkurz\r\n");
        sleepMs(1500);
        s.closeData();
        s.send("226 done\r\n");
    });
    std::vector<std::chrono::steady_clock::duration> seen;
    std::chrono::steady_clock::time_point start;
    client.OnListItem = [&](TSockSession&, const std::string&) {
        seen.push_back(std::chrono::steady_clock::now() - start);
    };
    client.TimeOut = 5000;
    for (bool passive : {false, true}) {
        client.Passive = passive;
        login();
        seen.clear();
        start = std::chrono::steady_clock::now();
        client.List();
        ASSERT_EQ(seen.size(), 2U) << passive;
        EXPECT_LT(seen[1], std::chrono::milliseconds(1000)) << passive;
        client.Disconnect();
    }
}

TEST_F(Scripted, PasvAddressIsIgnored) {
    // The reply names another host; the data must still go to the one we talk to.
    server.on("PASV", [](ScriptedFtpServer::Session& s, const std::string&) {
        const int port = s.listenPassive();
        s.send("227 Entering Passive Mode (127,0,0,2," + std::to_string(port >> 8) + "," +
               std::to_string(port & 0xFF) + ")\r\n");
    });
    server.setListing("one\r\n");
    client.Passive = true;
    login();
    client.List();
    EXPECT_EQ(items, Lines{"one"});
}

TEST_F(Scripted, PasvRepliesAreCheckedBeforeAnyDataConnection) {
    struct Case {
        const char* reply;
        const char* error; // nullptr: the listing arrives
        bool refusal;      // an FTPException carrying the reply, after OnFailure
    } cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,267,183)\r\n",
         "Ungültige Antwort des Servers auf PASV: 227 Entering Passive Mode (127,0,0,1,267,183)", false},
        {"227 Entering Passive Mode (127,0,0,1,999999999,1)\r\n",
         "Ungültige Antwort des Servers auf PASV: 227 Entering Passive Mode (127,0,0,1,999999999,1)", false},
        {"227 Entering Passive Mode (127,0,0,1,4)\r\n",
         "Ungültige Antwort des Servers auf PASV: 227 Entering Passive Mode (127,0,0,1,4)", false},
        {"425 Can't open passive connection\r\n", "425 Can't open passive connection\r\n", true},
        {"421 Service not available\r\n", "421 Service not available\r\n", true},
        {"200 PASV fine\r\n", "200 PASV fine\r\n", true},
        {"150 here\r\n", "150 here\r\n", true},
        {nullptr, nullptr, false}, // the RFC 1123 form without parentheses
    };
    server.setListing("eins\r\n");
    client.Passive = true;
    login();
    for (const auto& c : cases) {
        if (c.reply) {
            server.reply("PASV", c.reply);
        } else {
            server.on("PASV", [](ScriptedFtpServer::Session& s, const std::string&) {
                const int port = s.listenPassive();
                s.send("227 =127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) +
                       "\r\n");
            });
        }
        events.clear();
        items.clear();
        server.clearTranscript();
        if (!c.error) {
            client.List();
            EXPECT_EQ(items, Lines{"eins"});
            continue;
        }
        if (c.refusal)
            EXPECT_EQ(raises<FTPException>([&] { client.List(); }), c.error) << c.reply;
        else
            EXPECT_EQ(raises<ESockError>([&] { client.List(); }), c.error) << c.reply;
        EXPECT_EQ(server.transcript(), Lines{"PASV"}) << c.reply;
        EXPECT_EQ(events, c.refusal ? Lines{"failure CmdList"} : Lines{}) << c.reply;
        EXPECT_TRUE(client.Connected());
    }
}

TEST_F(Scripted, PassiveDataThroughAProxyGoesToTheProxy) {
    // The far server's name means nothing here; only the proxy (this server) can be reached.
    server.setListing("durch den Proxy\r\n");
    client.Host = "shop.invalid";
    client.Proxy = "127.0.0.1";
    client.ProxyPort = server.port();
    client.Passive = true;
    login();
    client.List();
    EXPECT_EQ(items, Lines{"durch den Proxy"});
}

TEST_F(Scripted, LineEndsNeverReachTheResult) {
    server.reply("PWD", "257 \"/home/shop\r\n");
    server.setListing("erste\r\nletzte ohne Zeilenende");
    server.setNameList("a.db\r\nb.db");
    login();
    EXPECT_EQ(client.CurrentDir(), "/home/shop");
    client.List();
    client.Nlist();
    EXPECT_EQ(items, (Lines{"erste", "letzte ohne Zeilenende", "a.db", "b.db"}));
}

TEST_F(Scripted, MalformedPasvReplyIsAConversionError) {
    server.reply("PASV", "227 Entering Passive Mode 127,0,0,1,x,1\r\n");
    client.Passive = true;
    login();
    EXPECT_EQ(raises<EConvertError>([&] { client.List(); }), "'x' ist kein gültiger Integerwert");
    EXPECT_EQ(client.DataSocket(), nullptr);
}

TEST(ParseByteCount, FindsTheNumberBeforeBytes) {
    struct Case {
        const char* line;
        std::int64_t count;
    } cases[] = {
        {"150 Opening BINARY mode data connection for a.txt (1234 bytes).\r\n", 1234},
        {"150 Opening data connection\r\n", 0},
        {"150 Here come the bytes\r\n", 150},
        {"125 Transfer starting, 77 Bytes\r\n", 77},
        {"150 (4294967296 bytes)\r\n", 4294967296},
        {"150 (99999999999999999999999 bytes)\r\n", 0},
        {"bytes 12\r\n", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TFtpClient::ParseByteCount(c.line), c.count) << c.line;
}

TEST(UnixListParser, TakesTheColumnsFromTheEnd) {
    struct Case {
        const char* line;
        const char* name; // nullptr: line skipped
        const char* size;
        const char* date;
    } cases[] = {
        {"-rw-r--r--   1 shop  www   12345 Mar  3 14:05 artikel.db", "artikel.db", "12345", "Mar 3 14:05"},
        {"drwxr-xr-x 2 shop www 4096 Dec 24 2023 thumbs", "thumbs", "4096", "Dec 24 2023"},
        {"-rw-r--r-- 1 shop www 7 Jan 1 2024 mein bild.jpg", "bild.jpg", "Jan", "1 2024 mein"},
        {"total 12", nullptr, nullptr, nullptr},
        {"-rw-r--r-- 1 shop www 7 Jan 1", nullptr, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        TFTPUnixList p;
        p.ParseLine(c.line);
        if (!c.name) {
            EXPECT_TRUE(p.Names.empty()) << c.line;
            continue;
        }
        ASSERT_EQ(p.Names.size(), 1u) << c.line;
        EXPECT_EQ(p.Names[0], c.name);
        EXPECT_EQ(p.Sizes[0], c.size);
        EXPECT_EQ(p.Dates[0], c.date);
        EXPECT_EQ(p.Attributes[0].substr(0, 1), std::string(c.line).substr(0, 1));
    }
    TFTPDirectoryList words;
    words.ParseLine(" a  b ");
    EXPECT_EQ(words.WordCount, 4); // leading blank: empty first word; trailing blank: empty last word
    EXPECT_EQ(words.Words[1], "a");
    std::string many;
    for (int i = 1; i <= 30; ++i)
        many += "w" + std::to_string(i) + " ";
    words.ParseLine(many);
    EXPECT_EQ(words.WordCount, 25);
    EXPECT_EQ(words.Words[24], "w25");
}

TEST_F(Scripted, SecondListFromAListItemHandlerIsRefused) {
    server.setListing("a\r\nb\r\n");
    login();
    Lines refusals;
    client.OnListItem = [&](TSockSession&, const std::string& line) {
        items.push_back(line);
        try {
            client.List();
        } catch (const Exception& e) {
            refusals.push_back(e.what());
        }
    };
    client.List();
    EXPECT_EQ(items, (Lines{"a", "b"}));
    EXPECT_EQ(refusals, Lines(2, "A list command is already being processed!"));
    EXPECT_EQ(events.back(), "success CmdList");
}

TEST_F(Scripted, DownloadEventsAndTheCountActuallyReceived) {
    std::string data(200000, 'x');
    server.on("RETR", [&](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening data connection (5 bytes)\r\n"); // announces less than it sends
        s.openData();
        s.sendData(data);
        s.closeData();
        s.send("226 ok\r\n");
    });
    TempDir dir;
    login();
    int packets = 0;
    std::int64_t announced = -1;
    client.OnPacketRecvd = [&](TSockSession&) {
        ++packets;
        announced = client.BytesTotal();
    };
    client.Download("a.bin", dir.file("a.bin"));
    EXPECT_EQ(readBytes(dir.file("a.bin")), data);
    EXPECT_EQ(announced, 5);
    EXPECT_EQ(client.BytesTotal(), 200000);
    EXPECT_GE(packets, 1);
    EXPECT_EQ(events, (Lines{"start", "stop", "stop", "success CmdUpload"}));
    EXPECT_TRUE(hasStatus("Empfangen 200000 Byte"));
}

TEST_F(Scripted, DownloadWithoutLocalPathStaysInTheWorkingDirectory) {
    server.on("RETR", [&](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening data connection\r\n");
        s.openData();
        s.sendData("daten");
        s.closeData();
        s.send("226 ok\r\n");
    });
    TempDir dir;
    const std::string inner = dir.file("inner");
    ASSERT_EQ(::mkdir(inner.c_str(), 0755), 0);
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(inner.c_str()), 0);
    login();
    client.Download("../escape.bin", "");
    client.Download("/tmp/sub\\abs.bin", "");
    server.clearTranscript();
    EXPECT_EQ(raises<Exception>([&] { client.Download("dir/..", ""); }),
              "Ungültiger lokaler Dateiname: dir/..");
    EXPECT_TRUE(server.transcript().empty()); // refused before anything was asked of the server
    ASSERT_EQ(::chdir(old), 0);
    EXPECT_EQ(readBytes(inner + "/escape.bin"), "daten");
    EXPECT_EQ(readBytes(inner + "/abs.bin"), "daten");
    EXPECT_FALSE(std::ifstream(dir.file("escape.bin")).good());
}

TEST_F(Scripted, RefusedRetrLeavesTheLocalFileAlone) {
    TempDir dir;
    writeBytes(dir.file("kunden.db"), "alte Bestellung\r\n");
    login();
    EXPECT_EQ(raises<FTPException>([&] { client.Download("kunden.db", dir.file("kunden.db")); }),
              "550 kunden.db: No such file or directory\r\n");
    EXPECT_EQ(readBytes(dir.file("kunden.db")), "alte Bestellung\r\n");
    EXPECT_EQ(events, (Lines{"failure CmdUpload", "failure CmdUpload"}));
}

TEST_F(Scripted, UploadWithoutRemoteNameSendsTheFileNamePart) {
    TempDir dir;
    writeBytes(dir.file("bild 1.jpg"), "JPEG");
    login();
    client.Upload(dir.file("bild 1.jpg"), "");
    EXPECT_EQ(server.transcript().back(), "STOR bild 1.jpg");
    EXPECT_TRUE(hasStatus("STOR " + dir.file("bild 1.jpg")));
    EXPECT_EQ(server.file("bild 1.jpg"), "JPEG");
    EXPECT_EQ(events, (Lines{"start", "stop", "success CmdUpload"}));
}

TEST_F(Scripted, NlistAlwaysUsesPortAndReportsNothingReceived) {
    server.setNameList("kunden.db\r\nbestellungen.db\r\n");
    client.Passive = true;
    login();
    client.Nlist();
    EXPECT_EQ(items, (Lines{"kunden.db", "bestellungen.db"}));
    const auto t = server.transcript();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].substr(0, 5), "PORT ");
    EXPECT_EQ(t[1], "NLST");
    EXPECT_TRUE(hasStatus("Empfangen 0 Byte"));
    EXPECT_EQ(events, (Lines{"start", "stop", "success CmdNList"}));
}

TEST_F(Scripted, LineBreaksInArgumentsAreRefusedBeforeAnythingIsSent) {
    TempDir dir;
    writeBytes(dir.file("a.txt"), "a");
    login();
    const std::function<void()> attempts[] = {
        [&] { client.DoCommand("NOOP\r\nDELE kunden.db"); },
        [&] { client.ChangeDir("db\nDELE kunden.db"); },
        [&] { client.Delete(std::string("a\0b", 3)); },
        [&] { client.Download("a.txt\r\nDELE a.txt", dir.file("x")); },
        [&] { client.Upload(dir.file("a.txt"), "b.txt\nDELE a.txt"); },
    };
    for (const auto& attempt : attempts)
        EXPECT_EQ(raises<Exception>(attempt),
                  "Der FTP-Befehl enthält ein unzulässiges Zeichen (CR, LF oder NUL)");
    EXPECT_TRUE(server.transcript().empty());
    client.DoCommand("NOOP");
    EXPECT_EQ(server.transcript(), Lines{"NOOP"});

    TFtpClient other;
    other.Host = "127.0.0.1";
    other.Port = server.port();
    other.UserID = "anna\r\nDELE kunden.db";
    client.Disconnect();
    server.clearTranscript();
    EXPECT_THROW(other.Connect(), Exception);
    EXPECT_FALSE(other.Connected());
    EXPECT_TRUE(server.transcript().empty());
}

TEST_F(Scripted, ActiveModeTurnsAwayStrangers) {
    bool strangerClosed = false;
    server.on("LIST", [&](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        const int stranger = s.openData("127.0.0.2");
        pollfd p{stranger, POLLIN, 0};
        char c;
        strangerClosed = ::poll(&p, 1, 3000) == 1 && ::recv(stranger, &c, 1, 0) <= 0;
        s.openData("127.0.0.1");
        s.sendData("genuine\r\n");
        s.closeData();
        s.send("226 done\r\n");
    });
    login();
    client.List();
    EXPECT_TRUE(strangerClosed);
    EXPECT_EQ(items, Lines{"genuine"});
}

TEST_F(Scripted, ServerThatNeverConnectsBackEndsAfterTimeOut) {
    server.reply("LIST", "150 ok, but no data will come\r\n");
    client.TimeOut = 300;
    login();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(raises<ESockError>([&] { client.List(); }),
              "Zeitüberschreitung beim Warten auf die Datenverbindung");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(client.DataSocket(), nullptr);
    EXPECT_TRUE(client.Connected());
}

TEST_F(Scripted, SlowTransferReplyIsNoSuccess) {
    // The reply to RETR takes longer than the time-out: the data is not moved, which must not be
    // reported as a finished download.
    server.on("RETR", [](ScriptedFtpServer::Session& s, const std::string&) {
        sleepMs(600);
        s.send("150 ok\r\n");
        s.closeData();
    });
    TempDir dir;
    client.TimeOut = 200;
    client.Passive = true;
    login();
    EXPECT_EQ(raises<ESockError>([&] { client.Download("a", dir.file("a")); }),
              "Zeitüberschreitung bei der Antwort des Servers, keine Daten übertragen");
    EXPECT_EQ(std::count(events.begin(), events.end(), "success CmdUpload"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a")));
}

TEST_F(Scripted, BrokenTransferReportedByTheServerIsNoSuccess) {
    server.on("RETR", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        s.openData();
        s.sendData("half of it");
        s.closeData();
        s.send("426 Connection closed; transfer aborted\r\n");
    });
    TempDir dir;
    writeBytes(dir.file("artikel.db"), "complete old file\r\n");
    login();
    EXPECT_EQ(raises<FTPException>([&] { client.Download("artikel.db", dir.file("artikel.db")); }),
              "426 Connection closed; transfer aborted\r\n");
    EXPECT_EQ(readBytes(dir.file("artikel.db")), "complete old file\r\n");
    EXPECT_EQ(events, (Lines{"start", "stop", "failure CmdUpload", "failure CmdUpload"}));
}

TEST_F(Scripted, ServerHangingUpInsteadOfReplyingIsNoSuccess) {
    server.on("DELE", [](ScriptedFtpServer::Session& s, const std::string&) { s.closeControl(); });
    login();
    EXPECT_EQ(raises<ESockError>([&] { client.Delete("kunden.db"); }),
              "Die Verbindung wurde vom Server getrennt");
    EXPECT_EQ(events, Lines{"disconnect"});
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(raises<Exception>([&] { client.Delete("kunden.db"); }), "Nicht verbunden");
}

TEST_F(Scripted, DataSilenceEndsListAndDownload) {
    server.on("LIST", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok\r\n");
        s.openData();
        s.sendData("-rw-r--r-- 1 o g 5 Jan 1 2024 half");
        sleepMs(700);
        s.closeData();
        s.send("226 done\r\n");
    });
    server.on("RETR", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 ok (100 bytes)\r\n");
        s.openData();
        s.sendData(std::string(10, 'x'));
        sleepMs(700);
        s.closeData();
        s.send("226 done\r\n");
    });
    TempDir dir;
    writeBytes(dir.file("b"), "old");
    client.TimeOut = 200;
    login();
    EXPECT_EQ(raises<EAbortError>([&] { client.List(); }), "Socket-readln abgebrochen");
    sleepMs(800); // let the server finish its listing
    EXPECT_EQ(raises<EAbortError>([&] { client.Download("b", dir.file("b")); }), "Socket-send abgebrochen");
    EXPECT_EQ(readBytes(dir.file("b")), "old");
}

namespace {

// One hostile server, one operation, and the error that must end it within its limits.
struct Hostile {
    const char* name;
    std::function<void(ScriptedFtpServer&)> script;
    std::function<void(TFtpClient&, const std::string& dir)> action;
    std::string error;
};

const std::string kReplyTimedOut =
    "Zeitüberschreitung: Der Server hat 300 ms lang nichts gesendet, die Verbindung wurde getrennt";

void silentAfter(ScriptedFtpServer& server, const std::string& verb, const std::string& before, bool data,
                 bool closeData) {
    server.on(verb, [=](ScriptedFtpServer::Session& s, const std::string&) {
        s.send(before);
        if (data) {
            s.openData();
            s.sendData("-rw-r--r-- 1 o g 5 Jan 1 2024 a\r\n");
            if (closeData)
                s.closeData();
        }
        s.waitForHangUp();
    });
}

} // namespace

TEST(HostileServers, EveryWaitEndsWithinItsLimit) {
    const auto login = [](TFtpClient& c, const std::string&) { c.Connect(); };
    const auto list = [](TFtpClient& c, const std::string&) {
        c.Connect();
        c.List();
    };
    const auto nlist = [](TFtpClient& c, const std::string&) {
        c.Connect();
        c.Nlist();
    };
    const auto passiveList = [](TFtpClient& c, const std::string&) {
        c.Passive = true;
        c.Connect();
        c.List();
    };
    const auto get = [](TFtpClient& c, const std::string& dir) {
        c.Connect();
        c.Download("a", dir + "/a");
    };
    const Hostile cases[] = {
        {"silent server", [](ScriptedFtpServer& s) { s.greeting(""); }, login, kReplyTimedOut},
        {"greeting cut mid-line", [](ScriptedFtpServer& s) { s.greeting("220 hal"); }, login, kReplyTimedOut},
        {"unfinished multi-line reply", [](ScriptedFtpServer& s) { s.greeting("220-a\r\n220-b\r\n"); }, login,
         kReplyTimedOut},
        {"no 226 after RETR",
         [](ScriptedFtpServer& s) { silentAfter(s, "RETR", "150 ok (34 bytes)\r\n", true, true); }, get,
         kReplyTimedOut},
        {"no 226 after LIST", [](ScriptedFtpServer& s) { silentAfter(s, "LIST", "150 ok\r\n", true, true); },
         list, kReplyTimedOut},
        {"no 226 after NLST", [](ScriptedFtpServer& s) { silentAfter(s, "NLST", "150 ok\r\n", true, true); },
         nlist, kReplyTimedOut},
        {"silent open data connection",
         [](ScriptedFtpServer& s) { silentAfter(s, "LIST", "150 ok\r\n", true, false); }, list,
         "Socket-readln abgebrochen"},
        {"passive connection that never sends",
         [](ScriptedFtpServer& s) {
             s.on("LIST", [](ScriptedFtpServer::Session& session, const std::string&) {
                 session.send("150 ok\r\n");
                 session.openData();
                 session.waitForHangUp();
             });
         },
         passiveList, "Socket-readln abgebrochen"},
        {"226 early, data connection left open",
         [](ScriptedFtpServer& s) {
             s.on("LIST", [](ScriptedFtpServer::Session& session, const std::string&) {
                 session.send("150 ok\r\n");
                 session.openData();
                 session.sendData("a\r\n");
                 session.send("226 done\r\n");
                 session.waitForHangUp();
             });
         },
         list, "Socket-readln abgebrochen"},
        {"control closed during LIST",
         [](ScriptedFtpServer& s) {
             s.on("LIST", [](ScriptedFtpServer::Session& session, const std::string&) {
                 session.send("150 ok\r\n");
                 session.openData();
                 session.sendData("a\r\n");
                 session.closeControl();
                 sleepMs(1000); // the data connection stays open meanwhile
             });
         },
         list, "Die Verbindung wurde vom Server getrennt"},
        {"endless 220- reply",
         [](ScriptedFtpServer& s) {
             std::string lines;
             for (int i = 0; i < 10001; ++i)
                 lines += "220-Willkommen\r\n";
             s.greeting(lines);
         },
         login,
         "Die Antwort des Servers ist zu lang (mehr als 10000 Zeilen oder 1 MiB), die Verbindung wurde "
         "getrennt"},
        {"reply of more than 1 MiB",
         [](ScriptedFtpServer& s) {
             std::string lines;
             for (int i = 0; i < 600; ++i)
                 lines += "220-" + std::string(2000, 'x') + "\r\n";
             s.greeting(lines);
         },
         login,
         "Die Antwort des Servers ist zu lang (mehr als 10000 Zeilen oder 1 MiB), die Verbindung wurde "
         "getrennt"},
        {"endless greeting line",
         [](ScriptedFtpServer& s) { s.greeting("220 " + std::string(3000000, 'x')); }, login,
         "Der Server hat eine Zeile von mehr als 65536 Byte gesendet, die Verbindung wurde getrennt"},
        {"endless listing line",
         [](ScriptedFtpServer& s) { s.setListing(std::string(3000000, 'x') + "\r\n"); }, list,
         "Der Server hat eine Zeile von mehr als 1048576 Byte gesendet, die Verbindung wurde getrennt"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeBytes(dir.file("a"), "alt");
        ScriptedFtpServer server;
        c.script(server);
        TFtpClient client;
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.UserID = "anna";
        client.Password = "secret";
        client.TimeOut = 300;
        client.ReplyTimeOut = 300;
        const auto start = std::chrono::steady_clock::now();
        try {
            c.action(client, dir.path());
            ADD_FAILURE() << c.name << ": nothing raised";
        } catch (const std::exception& e) {
            EXPECT_EQ(e.what(), c.error) << c.name;
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000)) << c.name;
        EXPECT_EQ(client.DataSocket(), nullptr) << c.name;
        EXPECT_EQ(readBytes(dir.file("a")), "alt") << c.name;
    }
}

TEST_F(Scripted, ServerThatStopsTakingUploadDataEndsAfterTimeOut) {
    server.on("STOR", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Ok to send data\r\n");
        s.openData();
        s.waitForHangUp(); // never reads; the socket buffers fill up
        s.closeData();
    });
    TempDir dir;
    writeBytes(dir.file("big.bin"), std::string(16 << 20, 'x'));
    client.TimeOut = 300;
    login();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(raises<EAbortError>([&] { client.Upload(dir.file("big.bin"), "big.bin"); }),
              "Socket-send abgebrochen");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(client.DataSocket(), nullptr);
}

TEST_F(Scripted, ShortDownloadLeavesTheOldFile) {
    server.on("RETR", [](ScriptedFtpServer::Session& s, const std::string&) {
        s.send("150 Opening BINARY mode data connection for artikel.db (110000 bytes)\r\n");
        s.openData();
        s.sendData(std::string(50000, 'x'));
        s.closeData();
        s.send("226 Transfer complete\r\n");
    });
    TempDir dir;
    writeBytes(dir.file("artikel.db"), "vollständig\r\n");
    login();
    EXPECT_EQ(raises<ESockError>([&] { client.Download("artikel.db", dir.file("artikel.db")); }),
              "Übertragung unvollständig: 50000 von 110000 Byte empfangen");
    EXPECT_EQ(readBytes(dir.file("artikel.db")), "vollständig\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_EQ(events, (Lines{"start", "stop", "stop", "failure CmdUpload"}));
    EXPECT_TRUE(client.Connected());
}

TEST_F(Scripted, DownloadTargetsOfEveryKind) {
    server.setFile("a", "vom Server");
    TempDir dir;
    login();
    auto modeOf = [](const std::string& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 ? st.st_mode : 0u;
    };
    // A link is followed; a set-id file loses its bits.
    writeBytes(dir.file("real"), "alt");
    ASSERT_EQ(::symlink("real", dir.file("link").c_str()), 0);
    writeBytes(dir.file("setid"), "alt");
    ::chmod(dir.file("setid").c_str(), 06755);
    client.Download("a", dir.file("link"));
    client.Download("a", dir.file("setid"));
    EXPECT_TRUE(S_ISLNK(modeOf(dir.file("link"))));
    EXPECT_EQ(readBytes(dir.file("real")), "vom Server");
    EXPECT_EQ(modeOf(dir.file("setid")) & 07777, 0755u);
    EXPECT_EQ(readBytes(dir.file("setid")), "vom Server");

    // A FIFO and a device are written in place, never replaced by a file.
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    const int reader = ::open(dir.file("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    client.Download("a", dir.file("fifo"));
    char got[32] = {};
    EXPECT_EQ(::read(reader, got, sizeof got), 10);
    ::close(reader);
    EXPECT_TRUE(S_ISFIFO(modeOf(dir.file("fifo"))));
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        client.Download("a", dir.file("null"));
        EXPECT_TRUE(S_ISCHR(modeOf(dir.file("null"))));
    }

    // Write-protected files and directories are refused before RETR is sent.
    writeBytes(dir.file("ro"), "alt");
    ::chmod(dir.file("ro").c_str(), 0444);
    server.clearTranscript();
    EXPECT_EQ(raises<EFCreateError>([&] { client.Download("a", dir.file("ro")); }),
              "Datei " + dir.file("ro") + " kann nicht erstellt werden");
    EXPECT_EQ(raises<EFCreateError>([&] { client.Download("a", dir.path()); }),
              "Datei " + dir.path() + " kann nicht erstellt werden");
    EXPECT_EQ(readBytes(dir.file("ro")), "alt");
    EXPECT_TRUE(server.transcript().empty());
}

TEST_F(Scripted, UploadRefusesWhatItCannotSendBeforeTheServerHearsOfIt) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("ordner").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    writeBytes(dir.file("✓.txt"), "x");
    login();
    EXPECT_EQ(raises<EFOpenError>([&] { client.Upload(dir.file("ordner"), "kunden.db"); }),
              "Datei " + dir.file("ordner") + " kann nicht geöffnet werden");
    EXPECT_EQ(raises<EFOpenError>([&] { client.Upload(dir.file("fifo"), "kunden.db"); }),
              "Datei " + dir.file("fifo") + " kann nicht geöffnet werden");
    EXPECT_EQ(raises<Exception>([&] { client.Upload(dir.file("✓.txt"), ""); }),
              "Der Dateiname ✓.txt lässt sich nicht in Windows-1252 darstellen");
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_EQ(std::count(events.begin(), events.end(), "failure CmdUpload"), 3);
}
