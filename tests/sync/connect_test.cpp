// The connect dialog through the scripted dialog seam: the account in the settings store, the
// boxes of each failed attempt, the proxy kept for the run, the main menu's connect item and the
// progress shown during a transfer.

#include "datafiles/orderfiles.h"
#include "datafiles/ordermerge.h"
#include "datafiles/orderstore.h"
#include "platform/errors.h"
#include "platform/settings_store.h"
#include "shell/currency.h"
#include "shell/main.h"
#include "shell/settings.h"
#include "shell/shop.h"
#include "sync/actions.h"
#include "sync/connect.h"
#include "sync/core/orderfetch.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/ftp/support/tls_files.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/first_progress.h"
#include "tests/sync/shop_server.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

using namespace velmo;
using velmo::test::ScriptedDialogs;
using velmo::test::ScriptedFtpServer;

namespace {

// Watches the shop's connection as the main window would, recording what it is told.
class RecordingWatcher : public sync::ConnectionObserver {
public:
    void status(const std::string& text) override { texts << QString::fromStdString(text); }
    QString statusText() const { return texts.isEmpty() ? QString() : texts.back(); }
    void progress(std::int64_t done, std::int64_t total) override {
        progressSeen.push_back({done, total});
        visible = true;
    }
    void progressEnded() override { visible = false; }
    void message(const std::string& text) override { messages << QString::fromStdString(text); }

    QStringList texts, messages;
    std::vector<std::pair<std::int64_t, std::int64_t>> progressSeen;
    bool visible = false;
};

// A port on loopback where nothing listens.
int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("no port to bind");
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

std::string stored(const char* name) {
    return SettingsStore::open()->readString(name);
}

class ConnectDialog : public ::testing::Test {
protected:
    void SetUp() override {
        shop.connection.addObserver(status);
        form.show(); // the opening step loads the account
    }
    void TearDown() override { shop.connection.removeObserver(status); }
    void fill(const QString& host, int port) {
        form.HostTxt->setText(host);
        form.PortTxt->setText(QString::number(port));
        form.UserTxt->setText("anna");
        form.PassTxt->setText("geheim");
        form.TlsBox->setCurrentText("aus"); // the scripted server speaks plain FTP
    }
    // A new login to the scripted server with the TLS mode given, with nothing recorded before it.
    void logInAfresh(const char* tlsMode) {
        seam.clear();
        server.clearTranscript();
        if (shop.connection.connected())
            shop.connection.disconnect();
        form.show();
        fill("127.0.0.1", server.port());
        form.TlsBox->setCurrentText(tlsMode);
        form.Button1->click();
    }

    velmo::test::TempDir dir; // also the settings store
    ScriptedDialogs seam;
    Shop shop{seam};
    RecordingWatcher status;
    ScriptedFtpServer server;
    TForm6 form{shop};
};

TEST_F(ConnectDialog, AFreshStoreEmptiesTheFieldsAndCancelStoresThem) {
    EXPECT_EQ(form.HostTxt->text(), "");
    EXPECT_EQ(form.UserTxt->text(), "");
    EXPECT_EQ(form.PassTxt->text(), "");
    EXPECT_EQ(form.PortTxt->text(), "21");
    EXPECT_TRUE(form.CheckBox2->isChecked());
    EXPECT_FALSE(form.CheckBox1->isChecked());

    fill("shop.example", 2121);
    form.Button2->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(stored("Host"), "shop.example");
    EXPECT_EQ(stored("Port"), "2121");
    EXPECT_EQ(stored("User"), "anna");
    EXPECT_EQ(stored("Pass"), "geheim");
    EXPECT_FALSE(shop.connection.connected());

    // Without "Passwort speichern" an empty password is stored and the next showing has none.
    form.show();
    EXPECT_EQ(form.PassTxt->text(), "geheim");
    form.CheckBox2->setChecked(false);
    form.close();
    EXPECT_EQ(stored("Pass"), "");
    EXPECT_TRUE(SettingsStore::open()->valueExists("Pass"));
    form.show();
    EXPECT_EQ(form.PassTxt->text(), "");
    EXPECT_EQ(form.HostTxt->text(), "shop.example");
}

TEST_F(ConnectDialog, ASuccessfulLoginSetsTheFlagTheHomeAndTheStatus) {
    server.reply("PWD", "257 \"/home/shop\" is the current directory\r\n");
    fill("127.0.0.1", server.port());
    form.Button1->click();
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_TRUE(shop.connection.connected());
    EXPECT_EQ(shop.ShopSettings.ftpHome, "/home/shop");
    EXPECT_TRUE(status.texts.contains("Connected"));
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(shop.connection.client().TimeOut, 5000);
    EXPECT_EQ(stored("Port"), std::to_string(server.port()));
}

struct FailureCase {
    const char* name;
    std::function<void(ScriptedFtpServer&, QString& host, int& port)> setup;
    QStringList messages;
    QString lastStatus;
};

class ConnectFailures : public ConnectDialog, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ConnectFailures, ShowTheEventsBoxThenVerbindungNichtMoeglich) {
    QString host = "127.0.0.1";
    int port = server.port();
    GetParam().setup(server, host, port);
    fill(host, port);
    form.Button1->click();
    EXPECT_EQ(status.messages, GetParam().messages);
    EXPECT_EQ(seam.texts("notice"), QStringList{"Verbindung nicht möglich!"});
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_FALSE(form.isVisible());
    if (!GetParam().lastStatus.isEmpty()) {
        EXPECT_EQ(status.statusText(), GetParam().lastStatus);
    }
    EXPECT_EQ(stored("Host"), host.toStdString()); // stored after a failed attempt too
}

INSTANTIATE_TEST_SUITE_P(
    Each, ConnectFailures,
    ::testing::Values(
        FailureCase{"invalid_host",
                    [](auto&, QString& host, int&) { host = "no-such-host.invalid"; },
                    {"Invalid Host"},
                    {}},
        FailureCase{"connection_refused",
                    [](auto&, QString&, int& port) { port = closedPort(); },
                    {"Connection Failed"},
                    {}},
        FailureCase{"login_rejected",
                    [](ScriptedFtpServer& s, QString&, int&) { s.reply("PASS", "530 Login incorrect\r\n"); },
                    {"Connection Failed"},
                    "Disconnected"},
        FailureCase{"greeting_rejected",
                    [](ScriptedFtpServer& s, QString&, int&) { s.greeting("421 Too many users\r\n"); },
                    {"Connection Failed"},
                    "Disconnected"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectDialog, ANumberFieldThatIsNoNumberStopsBeforeAnythingIsSent) {
    fill("127.0.0.1", server.port());
    form.PortTxt->setText("21x");
    form.Button1->click();
    EXPECT_EQ(seam.texts("error"), QStringList{"'21x' ist kein gültiger Integerwert."});
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_TRUE(server.transcript().empty());

    seam.clear();
    form.PortTxt->setText(QString::number(server.port()));
    form.CheckBox1->setChecked(true);
    form.Edit6->setText("127.0.0.1");
    form.Edit7->setText("");
    form.Button1->click();
    EXPECT_EQ(seam.texts("error"), QStringList{"'' ist kein gültiger Integerwert."});
    EXPECT_TRUE(form.Edit6->text() == "127.0.0.1" && shop.connection.client().Proxy.empty());
}

// The account's TLS setting: required for a new account; an account kept from before keeps working
// where its server has no TLS; a stored choice stays.
TEST_F(ConnectDialog, TheTlsSettingStartsRequiredForANewAccountOnly) {
    EXPECT_EQ(form.TlsBox->currentText(), "erforderlich");
    EXPECT_FALSE(form.ForgetButton->isEnabled());
    form.close();
    SettingsStore::open()->writeString("TLS", "");
    form.show();
    EXPECT_EQ(form.TlsBox->currentText(), "wenn möglich");
    form.TlsBox->setCurrentText("aus");
    form.close();
    EXPECT_EQ(stored("TLS"), "aus");
    form.show();
    EXPECT_EQ(form.TlsBox->currentText(), "aus");
}

// A self-signed certificate: the first login asks with its fingerprint and keeps it on "Ja", later
// logins go on silently, another certificate is refused before the user name goes out, and
// "Zertifikat vergessen" makes the next login ask again.
TEST_F(ConnectDialog, ASelfSignedCertificateIsAskedForOnceAndThenPinned) {
    const auto first = test::makeSelfSigned(dir.path(), "erstes", "IP:127.0.0.1");
    const auto second = test::makeSelfSigned(dir.path(), "zweites", "IP:127.0.0.1");
    server.enableTls(first.cert, first.key);
    server.reply("PWD", "257 \"/\" is the current directory\r\n");
    const auto login = [this](const char* mode) { logInAfresh(mode); };
    const auto sent = [&](const std::string& verb) {
        const auto lines = server.transcript();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(verb, 0) == 0; });
    };

    seam.answerConfirm(false);
    login("erforderlich");
    ASSERT_EQ(seam.texts("confirm").size(), 1);
    EXPECT_TRUE(seam.texts("confirm")[0].contains(QString::fromStdString(first.fingerprint)))
        << seam.texts("confirm")[0].toStdString();
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_FALSE(sent("USER"));
    EXPECT_EQ(stored("TlsFingerprint"), "");

    seam.answerConfirm(true);
    login("erforderlich");
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_TRUE(shop.connection.client().TlsActive());
    EXPECT_EQ(stored("TlsFingerprint"), normalizeFingerprint(first.fingerprint));
    EXPECT_EQ(stored("TlsHost"), "127.0.0.1");
    EXPECT_TRUE(form.ForgetButton->isEnabled());

    login("wenn möglich"); // the pin holds in either mode
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_TRUE(shop.connection.loggedIn());

    server.enableTls(second.cert, second.key);
    login("erforderlich");
    EXPECT_TRUE(seam.texts("confirm").isEmpty());
    ASSERT_EQ(seam.texts("error").size(), 1);
    EXPECT_TRUE(seam.texts("error")[0].contains("Zertifikat vergessen"));
    EXPECT_TRUE(
        seam.texts("error")[0].contains(QString::fromStdString(normalizeFingerprint(second.fingerprint))));
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_FALSE(sent("USER"));
    EXPECT_EQ(stored("TlsFingerprint"), normalizeFingerprint(first.fingerprint));

    form.ForgetButton->click();
    EXPECT_EQ(stored("TlsFingerprint"), "");
    seam.answerConfirm(true);
    login("erforderlich");
    EXPECT_EQ(seam.texts("confirm").size(), 1);
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_EQ(stored("TlsFingerprint"), normalizeFingerprint(second.fingerprint));
}

// A server without TLS: "erforderlich" sends nothing but AUTH TLS and says why it stopped; "wenn
// möglich" logs in without; "aus" never asks for TLS.
TEST_F(ConnectDialog, AServerWithoutTlsIsRefusedOnlyWhenTlsIsRequired) {
    server.reply("AUTH", "500 AUTH not understood\r\n");
    server.reply("PWD", "257 \"/\" is the current directory\r\n");
    struct Case {
        const char* mode;
        bool loggedIn;
        std::vector<std::string> verbs;
    };
    for (const Case& c :
         {Case{"erforderlich", false, {"AUTH"}}, Case{"wenn möglich", true, {"AUTH", "USER", "PASS", "PWD"}},
          Case{"aus", true, {"USER", "PASS", "PWD"}}}) {
        SCOPED_TRACE(c.mode);
        logInAfresh(c.mode);
        EXPECT_EQ(shop.connection.loggedIn(), c.loggedIn);
        std::vector<std::string> verbs;
        for (const std::string& line : server.transcript())
            if (line.rfind("QUIT", 0) != 0)
                verbs.push_back(line.substr(0, line.find(' ')));
        EXPECT_EQ(verbs, c.verbs);
        if (!c.loggedIn) {
            ASSERT_EQ(seam.texts("error").size(), 1);
            EXPECT_TRUE(seam.texts("error")[0].contains("500 AUTH not understood"))
                << seam.texts("error")[0].toStdString();
        }
    }
}

// A port out of range, or a character the shop's code page lacks (it would go out as "?"), stops
// the attempt before anything is sent; the dialog stays open.
TEST_F(ConnectDialog, FieldsThatCannotWorkAreRefusedBeforeAnythingIsSent) {
    struct Case {
        const char* field;
        QString text;
        const char* error;
    };
    const Case cases[] = {
        {"port", "70000", "Der Port 70000 ist ungültig; erlaubt sind 1 bis 65535."},
        {"port", "0", "Der Port 0 ist ungültig; erlaubt sind 1 bis 65535."},
        {"proxy port", "65536", "Der Proxy-Port 65536 ist ungültig; erlaubt sind 1 bis 65535."},
        {"password", QString::fromUtf8("ha\u0142lo"),
         "Das Feld \"Passwort\" enthält ein Zeichen, das nicht übertragen werden kann; möglich sind nur "
         "Zeichen aus Windows-1252."},
        {"user", QString::fromUtf8("\u20ac\u2603"),
         "Das Feld \"User ID\" enthält ein Zeichen, das nicht übertragen werden kann; möglich sind nur "
         "Zeichen aus Windows-1252."},
    };
    for (const Case& c : cases) {
        fill("127.0.0.1", server.port());
        form.CheckBox1->setChecked(std::string(c.field) == "proxy port");
        form.Edit6->setText("127.0.0.1");
        form.Edit7->setText("21");
        QLineEdit* field = std::string(c.field) == "port"         ? form.PortTxt
                           : std::string(c.field) == "proxy port" ? form.Edit7
                           : std::string(c.field) == "password"   ? form.PassTxt
                                                                  : form.UserTxt;
        field->setText(c.text);
        seam.clear();
        form.Button1->click();
        EXPECT_EQ(seam.texts("error"), QStringList{QString::fromUtf8(c.error)}) << c.field;
        EXPECT_TRUE(form.isVisible());
    }
    EXPECT_TRUE(server.transcript().empty());
    // "€" is in the code page and goes through.
    fill("127.0.0.1", server.port());
    form.CheckBox1->setChecked(false);
    form.PassTxt->setText(QString::fromUtf8("\u20acuro"));
    form.Button1->click();
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_TRUE(server.transcript().back() == "PWD");
    EXPECT_EQ(server.transcript()[1], "PASS \x80uro");
}

TEST_F(ConnectDialog, TheProxyOfOneAttemptStaysForTheRun) {
    fill("shop.example", 21);
    form.CheckBox1->setChecked(true);
    form.Edit6->setText("127.0.0.1");
    form.Edit7->setText(QString::number(server.port()));
    form.Button1->click();
    ASSERT_TRUE(shop.connection.loggedIn());
    shop.connection.disconnect();
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_EQ(status.statusText(), "Disconnected");

    form.show();
    EXPECT_TRUE(form.CheckBox1->isChecked()); // kept between showings
    form.CheckBox1->setChecked(false);
    form.Button1->click();
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_EQ(shop.connection.client().Proxy, "127.0.0.1");
    int proxyLogins = 0;
    for (const auto& line : server.transcript())
        proxyLogins += line == "USER anna@shop.example";
    EXPECT_EQ(proxyLogins, 2);
}

TEST_F(ConnectDialog, AFailedDirectoryQueryIsRetriedWithoutANewLogin) {
    auto pwdCalls = std::make_shared<int>(0);
    server.on("PWD", [pwdCalls](ScriptedFtpServer::Session& s, const std::string&) {
        s.send(++*pwdCalls == 1 ? "550 Not now\r\n" : "257 \"/\" is the current directory\r\n");
    });
    fill("127.0.0.1", server.port());
    form.Button1->click();
    EXPECT_EQ(seam.texts("notice"), QStringList{"Verbindung nicht möglich!"});
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_TRUE(shop.connection.connected());

    form.show();
    form.Button1->click();
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_EQ(shop.ShopSettings.ftpHome, "/");
    int logins = 0;
    for (const auto& line : server.transcript())
        logins += line.rfind("USER", 0) == 0;
    EXPECT_EQ(logins, 1);
}

TEST_F(ConnectDialog, ATransferShowsItsProgressAndTheCommandTexts) {
    const std::string file(200000, 'x');
    server.setFile("big.db", file);
    fill("127.0.0.1", server.port());
    form.Button1->click();
    ASSERT_TRUE(shop.connection.loggedIn());
    velmo::test::TempDir local;
    status.texts.clear();
    shop.connection.download("big.db", local.file("big.db"), "TYPE I");
    EXPECT_EQ(status.texts.mid(status.texts.lastIndexOf("Data Transfer Complete")),
              (QStringList{"Data Transfer Complete", "success", "DoCommand success"}));
    EXPECT_TRUE(status.texts.contains("Beginning Data Transfer"));
    EXPECT_TRUE(status.texts.contains("200000 of 200000"));
    ASSERT_FALSE(status.progressSeen.empty());
    EXPECT_EQ(status.progressSeen.back(), (std::pair<std::int64_t, std::int64_t>{200000, 200000}));
    EXPECT_FALSE(status.visible);

    shop.connection.list();
    EXPECT_EQ(status.statusText(), "List success");
    EXPECT_THROW(shop.connection.command("XYZ"), std::exception);
    EXPECT_EQ(status.statusText(), "DoCommand failure");
    EXPECT_EQ(status.messages, QStringList{"DoCommand unsupported"});
}

struct NoCurrency : CurrencyPrompt {
    QString askCurrency() override { return "EUR"; }
};

// The main window with the connect dialog and the transfers plugged in, as the program starts it.
class PluggedMainWindow : public ::testing::Test {
protected:
    void SetUp() override { sync::plugSyncActions(main, shop, *form); }

    velmo::test::TempDir dir;
    ScriptedDialogs seam;
    Shop shop{seam};
    NoCurrency currency;
    TForm1 main{shop, currency};
    TForm6* form = new TForm6(shop, &main);
};

// A fetch killed while appending left half an order in the local files. The program's first
// activation cuts them back to where the journal says the merge began, before any window reads
// them; the ledger does not know that merge, so the next fetch merges its files again.
TEST_F(PluggedMainWindow, StartUpCutsBackAMergeCutOffHalfWay) {
    {
        const auto store = SettingsStore::openOrThrow();
        store->writeString(settingnames::Currency, "EUR");
        for (const char* name :
             {settingnames::localProg, settingnames::localDat, settingnames::localBg, settingnames::localBk})
            store->writeString(name, dir.path());
        store->writeString(settingnames::docRoot, "/");
    }
    const std::string orders = "01.12.2026;;1;;Alt\r\n", positions = "1;;x;;1;;A;;Tasse;;1.00;;0\r\n";
    velmo::test::writeBytes(dir.file("kunden.db"), orders + "08.12.2026;;10");
    velmo::test::writeBytes(dir.file("bestellungen.db"), positions + "10;;x;;2");
    auto entry = [](const std::string& old) {
        return std::to_string(old.size()) + " " + std::to_string(datafiles::contentHash(old)) + " 100";
    };
    velmo::test::writeBytes(dir.file(datafiles::OrderStore::kJournalName),
                            "merge K " + entry(orders) + " " + entry(positions) + "\r\n");
    ASSERT_TRUE(guarded(seam, [&] { main.FormActivate(); }));
    EXPECT_EQ(velmo::test::readBytes(dir.file("kunden.db")), orders);
    EXPECT_EQ(velmo::test::readBytes(dir.file("bestellungen.db")), positions);
    EXPECT_FALSE(fileExists(dir.file(datafiles::OrderStore::kJournalName)));
}

TEST_F(PluggedMainWindow, TheMenuItemReadsTrennenWhileConnected) {
    ScriptedFtpServer server;

    auto connectWith = [&](int port) {
        seam.answerConfirm(true);
        seam.onModal([port](QDialog& d) {
            auto& f = static_cast<TForm6&>(d);
            f.HostTxt->setText("127.0.0.1");
            f.PortTxt->setText(QString::number(port));
            f.TlsBox->setCurrentText("aus");
            f.Button1->click();
            return f.result();
        });
        main.Verbinden1Click();
    };
    connectWith(closedPort());
    EXPECT_EQ(main.connectItem()->text(), "&Verbinden");
    EXPECT_FALSE(shop.connection.loggedIn());

    connectWith(server.port());
    EXPECT_EQ(main.connectItem()->text(), "&Trennen");
    EXPECT_TRUE(shop.connection.loggedIn());
    EXPECT_EQ(main.statusText(), "Connected");
    EXPECT_FALSE(main.progressBar()->isVisible());

    main.Verbinden1Click();
    EXPECT_EQ(main.connectItem()->text(), "&Verbinden");
    EXPECT_FALSE(shop.connection.loggedIn());
    EXPECT_FALSE(shop.connection.connected());
    EXPECT_EQ(main.statusText(), "Disconnected");
}

// While an operation runs, the items that would start another are disabled; a window asked for
// meanwhile opens when it has ended, so that it does not hold the operation up.
TEST_F(PluggedMainWindow, ServerItemsWaitForTheRunningOperation) {
    ScriptedFtpServer server;
    server.setFile("big.db", std::string(300000, 'x'));
    sync::Account account;
    account.host = "127.0.0.1";
    account.port = server.port();
    shop.connection.connect(account);
    int opened = 0;
    main.actions.ordersEdit = [&] { ++opened; };
    QAction* ordersEdit = nullptr;
    for (QAction* a : main.findChildren<QAction*>())
        if (a->text() == "&Bearbeiten")
            ordersEdit = a;
    ASSERT_NE(ordersEdit, nullptr);

    velmo::test::AtFirstProgress during;
    std::vector<bool> enabledDuring;
    during.step = [&] {
        for (QAction* item : main.serverItems())
            enabledDuring.push_back(item->isEnabled());
        ordersEdit->trigger();
    };
    shop.connection.addObserver(during);
    velmo::test::TempDir local;
    shop.connection.download("big.db", local.file("big.db"), "TYPE I");
    shop.connection.removeObserver(during);

    EXPECT_EQ(enabledDuring, std::vector<bool>(5, false));
    EXPECT_EQ(opened, 0) << "opened on top of the transfer";
    for (QAction* item : main.serverItems())
        EXPECT_TRUE(item->isEnabled());
    QCoreApplication::processEvents();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(velmo::test::readBytes(local.file("big.db")).size(), 300000u) << "the transfer whole";
}

// The field beside the status text counts the orders each download merged, and the next server
// action clears it; the status texts and the box are those the fetch has always given.
TEST_F(PluggedMainWindow, TheStatusBarCountsTheOrdersOfTheLastDownload) {
    test::ShopServer server;
    sync::Account account;
    account.host = "127.0.0.1";
    account.port = server.port();
    shop.connection.connect(account);
    const sync::ShopDirs dirs{
        .localDat = dir.path(), .localBg = dir.path(), .localBk = dir.path(), .docRoot = "/", .ftpHome = "/"};
    auto order = [](int nr) {
        return "08.12.2026;;" + std::to_string(nr) + ";;Neu;;;;W;;O;;D;;;;;;m;;Vorkasse;;4.90\r\n";
    };
    const struct {
        std::string orders, positions;
        const char* field;
        const char* status;
    } runs[] = {
        // Three orders with five positions, and a blank line that is no order.
        {order(1) + "\r\n" + order(2) + order(3),
         "Kopf\r\n1;;x;;1;;A;;B;;1.00\r\n2;;x;;1;;A;;B;;1.00\r\n"
         "2;;x;;2;;C;;D;;2.00\r\n3;;x;;1;;A;;B;;1.00\r\n3;;x;;3;;E;;F;;3.00\r\n",
         "3 neue Bestellungen", "Connected"},
        {order(4), "Kopf\r\n4;;x;;1;;A;;B;;1.00\r\n", "1 neue Bestellung", "Connected"},
        {"", "", "Keine neuen Bestellungen", nullptr},
    };
    for (const auto& run : runs) {
        if (!run.orders.empty()) {
            server.put("/db/kunden.db", run.orders);
            server.put("/db/bestellungen.db", run.positions);
        }
        main.setStatusText("vorher");
        seam.clear();
        shop.connection.fetchOrders(dirs);
        EXPECT_EQ(main.newOrdersField()->text(), run.field);
        EXPECT_FALSE(main.newOrdersField()->isHidden());
        if (run.status) {
            EXPECT_EQ(main.statusText(), run.status);
            EXPECT_TRUE(seam.texts("information").isEmpty());
        } else {
            EXPECT_EQ(seam.texts("information"), QStringList{"Es sind keine neuen Bestellungen vorhanden"});
        }
    }
    EXPECT_EQ(datafiles::parseOrders(readLines(dir.file("kunden.db"))).size(), 4u);

    shop.connection.currentDir();
    EXPECT_TRUE(main.newOrdersField()->text().isEmpty());
    EXPECT_TRUE(main.newOrdersField()->isHidden());
}

TEST(TransferActions, AnUnsetDataDirectoryStopsThemBeforeAnyFileIsTouched) {
    ScriptedDialogs seam;
    Shop shop(seam);
    RecordingWatcher status;
    shop.connection.addObserver(status);
    shop.MemoPic = {"k.jpg"};
    for (auto* action :
         {&sync::articleDownloadAction, &sync::articleUploadAction, &sync::ordersDownloadAction}) {
        try {
            action(shop);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Das Datenverzeichnis ist nicht eingestellt (Optionen, Verzeichnisse)");
        }
    }
    EXPECT_TRUE(status.texts.isEmpty());
    EXPECT_EQ(shop.MemoPic, Lines{"k.jpg"});
}

} // namespace
