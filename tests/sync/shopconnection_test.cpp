// The shop's one server connection: one operation at a time, the listing's bounds and its cancel,
// the account's checks, and what the watchers are told.

#include "platform/errors.h"
#include "sync/core/shopconnection.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/first_progress.h"
#include "tests/sync/shop_server.h"

#include <gtest/gtest.h>

#include <functional>

using namespace velmo;
using namespace velmo::sync;
using velmo::test::ScriptedFtpServer;

namespace {

struct Watcher : test::AtFirstProgress {
    std::vector<std::string> statuses, messages, informations;
    void information(const std::string& text) override { informations.push_back(text); }
    int changes = 0;
    void status(const std::string& text) override { statuses.push_back(text); }
    void message(const std::string& text) override { messages.push_back(text); }
    void stateChanged() override { ++changes; }
};

class ShopConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        connection.addObserver(watcher);
        std::string listing;
        for (int i = 0; i < 50; ++i)
            listing += "-rw-r--r-- 1 shop shop 10 Dec 10 10:00 file" + std::to_string(i) + ".db\r\n";
        server.setListing(listing);
        server.setFile("big.db", std::string(300000, 'x'));
    }
    void login() {
        Account account;
        account.host = "127.0.0.1";
        account.port = server.port();
        connection.connect(account);
    }
    static std::string failure(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    }

    ScriptedFtpServer server;
    ShopConnection connection;
    Watcher watcher;
    test::TempDir local;
};

TEST_F(ShopConnectionTest, OneOperationAtATime) {
    login();
    EXPECT_TRUE(connection.loggedIn());
    EXPECT_FALSE(connection.busy());
    // While the download waits for its data, every other operation is refused and changes nothing.
    std::vector<std::string> refused;
    watcher.step = [&] {
        EXPECT_TRUE(connection.busy());
        refused.push_back(failure([&] { connection.list(); }));
        refused.push_back(failure([&] { connection.command("NOOP"); }));
        refused.push_back(failure([&] { connection.disconnect(); }));
    };
    const int changesBefore = watcher.changes;
    connection.download("big.db", local.file("big.db"), "TYPE I");
    EXPECT_EQ(refused, std::vector<std::string>(3, ShopConnection::kBusy));
    EXPECT_EQ(test::readBytes(local.file("big.db")).size(), 300000u);
    EXPECT_FALSE(connection.busy());
    EXPECT_EQ(watcher.changes - changesBefore, 2) << "begin and end";
    EXPECT_EQ(connection.list().size(), 50u);
    EXPECT_TRUE(connection.loggedIn());
}

// A listing past its bounds, or cancelled from its progress, ends with a message and leaves the
// connection usable.
TEST_F(ShopConnectionTest, AListingIsBoundedAndCanBeCancelled) {
    login();
    struct Case {
        ListingBounds bounds;
        bool cancel;
        std::string message;
    };
    const Case cases[] = {
        {{10, 1 << 20},
         false,
         "Das Verzeichnis ist zu groß, um es anzuzeigen: mehr als 10 Einträge oder 1 MB"},
        {{1000, 100},
         false,
         "Das Verzeichnis ist zu groß, um es anzuzeigen: mehr als 1000 Einträge oder 0 MB"},
        {{}, true, ShopConnection::kCancelled},
    };
    for (const Case& c : cases) {
        if (c.cancel)
            watcher.step = [&] { connection.cancel(); };
        EXPECT_EQ(failure([&] { connection.list(c.bounds); }), c.message);
        EXPECT_FALSE(connection.busy());
        EXPECT_EQ(connection.list().size(), 50u) << c.message;
    }
}

TEST_F(ShopConnectionTest, TheAccountIsCheckedBeforeAnythingIsSent) {
    struct Case {
        int port, proxyPort;
        bool useProxy;
        const char* problem;
    };
    const Case cases[] = {
        {21, 0, false, nullptr},
        {1, 65535, true, nullptr},
        {65535, 0, false, nullptr},
        {0, 0, false, "Der Port 0 ist ungültig; erlaubt sind 1 bis 65535"},
        {70000, 0, false, "Der Port 70000 ist ungültig; erlaubt sind 1 bis 65535"},
        {-21, 0, false, "Der Port -21 ist ungültig; erlaubt sind 1 bis 65535"},
        {21, 70000, true, "Der Proxy-Port 70000 ist ungültig; erlaubt sind 1 bis 65535"},
        {21, 70000, false, nullptr}, // no proxy: its port is not used
    };
    for (const Case& c : cases) {
        Account a;
        a.port = c.port;
        a.proxyPort = c.proxyPort;
        a.useProxy = c.useProxy;
        EXPECT_EQ(accountProblem(a).value_or("none"), c.problem ? c.problem : "none") << c.port;
    }
    Account bad;
    bad.host = "127.0.0.1";
    bad.port = 70000;
    EXPECT_EQ(failure([&] { connection.connect(bad); }),
              "Der Port 70000 ist ungültig; erlaubt sind 1 bis 65535");
    EXPECT_TRUE(server.transcript().empty());
    EXPECT_FALSE(connection.connected());
}

TEST_F(ShopConnectionTest, TheWatchersAreToldWhatTheClientReports) {
    server.reply("PASS", "530 Login incorrect\r\n");
    EXPECT_NE(failure([&] { login(); }), "no error");
    EXPECT_FALSE(connection.loggedIn());
    EXPECT_EQ(watcher.messages, std::vector<std::string>{"Connection Failed"});
    EXPECT_EQ(watcher.statuses.back(), "Disconnected");

    server.reply("PASS", "230 Logged in\r\n");
    login();
    EXPECT_TRUE(connection.loggedIn());
    connection.changeDir("/db");
    EXPECT_EQ(watcher.statuses.back(), "ChangeDir success");
    connection.removeObserver(watcher);
    connection.disconnect();
    EXPECT_EQ(watcher.statuses.back(), "ChangeDir success") << "no longer watching";
}

// The menu's transfers run as the connection's operations and tell its watchers: the order fetch
// against a storefront whose server cannot rename, twice.
TEST(ShopConnectionTransfers, TheOrderFetchRunsAsAnOperationAndTellsTheWatchers) {
    test::ShopServer server;
    server.put("/db/kunden.db", "08.12.2026;;7;;Neu;;;;W;;O;;D;;;;;;m;;Vorkasse;;4.90\r\n");
    server.put("/db/bestellungen.db", "Kopf\r\n7;;x;;1;;A;;B;;1.00\r\n");
    server.fault("RNFR", "", test::ShopServer::Fault::Unsupported, 10);
    ShopConnection connection;
    Watcher watcher;
    connection.addObserver(watcher);
    Account account;
    account.host = "127.0.0.1";
    account.port = server.port();
    connection.connect(account);
    test::TempDir local;
    const ShopDirs dirs{.localDat = local.path(),
                        .localBg = local.path(),
                        .localBk = local.path(),
                        .docRoot = "/",
                        .ftpHome = "/"};
    const int changes = watcher.changes;
    connection.fetchOrders(dirs);
    EXPECT_EQ(watcher.changes - changes, 2);
    EXPECT_EQ(watcher.statuses.back(), "Connected");
    EXPECT_TRUE(watcher.messages.empty()) << watcher.messages.front();
    EXPECT_EQ(test::readBytes(local.file("bestellungen.db")), "7;;x;;1;;A;;B;;1.00;;0\r\n");
    connection.fetchOrders(dirs);
    EXPECT_EQ(watcher.informations, std::vector<std::string>{"Es sind keine neuen Bestellungen vorhanden"});
    EXPECT_TRUE(server.filesIn("/db/").empty());
}

} // namespace
