// The connect dialog through the scripted dialog seam: the account in the settings store, the
// boxes of each failed attempt, the proxy kept for the run, the main menu's connect item and the
// progress shown during a transfer.

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
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
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

class RecordingStatus : public StatusLine {
public:
    void setStatusText(const QString& text) override { texts << text; }
    QString statusText() const override { return texts.isEmpty() ? QString() : texts.back(); }
    void showProgress(std::int64_t done, std::int64_t total) override {
        progress.push_back({done, total});
        visible = true;
    }
    void hideProgress() override { visible = false; }

    QStringList texts;
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
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
        form.show(); // the opening step loads the account
    }
    void fill(const QString& host, int port) {
        form.HostTxt->setText(host);
        form.PortTxt->setText(QString::number(port));
        form.UserTxt->setText("anna");
        form.PassTxt->setText("geheim");
    }

    velmo::test::TempDir dir; // also the settings store
    ScriptedDialogs seam;
    Shop shop{seam};
    RecordingStatus status;
    ScriptedFtpServer server;
    TForm6 form{shop, status};
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
    EXPECT_FALSE(shop.ftp.Connected());

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
    EXPECT_TRUE(shop.ftpConnected);
    EXPECT_TRUE(shop.ftp.Connected());
    EXPECT_EQ(shop.ShopSettings.ftpHome, "/home/shop");
    EXPECT_EQ(status.statusText(), "Connected");
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(shop.ftp.TimeOut, 5000);
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
    EXPECT_EQ(seam.texts("message"), GetParam().messages);
    EXPECT_FALSE(shop.ftpConnected);
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
                    {"Invalid Host", "Verbindung nicht möglich!"},
                    {}},
        FailureCase{"connection_refused",
                    [](auto&, QString&, int& port) { port = closedPort(); },
                    {"Connection Failed", "Verbindung nicht möglich!"},
                    {}},
        FailureCase{"login_rejected",
                    [](ScriptedFtpServer& s, QString&, int&) { s.reply("PASS", "530 Login incorrect\r\n"); },
                    {"Connection Failed", "Verbindung nicht möglich!"},
                    "Disconnected"},
        FailureCase{"greeting_rejected",
                    [](ScriptedFtpServer& s, QString&, int&) { s.greeting("421 Too many users\r\n"); },
                    {"Connection Failed", "Verbindung nicht möglich!"},
                    "Disconnected"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectDialog, ANumberFieldThatIsNoNumberStopsBeforeAnythingIsSent) {
    fill("127.0.0.1", server.port());
    form.PortTxt->setText("21x");
    form.Button1->click();
    EXPECT_EQ(seam.texts("error"), QStringList{"'21x' ist kein gültiger Integerwert."});
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(shop.ftpConnected);
    EXPECT_TRUE(server.transcript().empty());

    seam.clear();
    form.PortTxt->setText(QString::number(server.port()));
    form.CheckBox1->setChecked(true);
    form.Edit6->setText("127.0.0.1");
    form.Edit7->setText("");
    form.Button1->click();
    EXPECT_EQ(seam.texts("error"), QStringList{"'' ist kein gültiger Integerwert."});
    EXPECT_TRUE(form.Edit6->text() == "127.0.0.1" && shop.ftp.Proxy.empty());
}

TEST_F(ConnectDialog, TheProxyOfOneAttemptStaysForTheRun) {
    fill("shop.example", 21);
    form.CheckBox1->setChecked(true);
    form.Edit6->setText("127.0.0.1");
    form.Edit7->setText(QString::number(server.port()));
    form.Button1->click();
    ASSERT_TRUE(shop.ftpConnected);
    shop.ftp.Disconnect();
    EXPECT_FALSE(shop.ftpConnected);
    EXPECT_EQ(status.statusText(), "Disconnected");

    form.show();
    EXPECT_TRUE(form.CheckBox1->isChecked()); // kept between showings
    form.CheckBox1->setChecked(false);
    form.Button1->click();
    EXPECT_TRUE(shop.ftpConnected);
    EXPECT_EQ(shop.ftp.Proxy, "127.0.0.1");
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
    EXPECT_EQ(seam.texts("message"), QStringList{"Verbindung nicht möglich!"});
    EXPECT_FALSE(shop.ftpConnected);
    EXPECT_TRUE(shop.ftp.Connected());

    form.show();
    form.Button1->click();
    EXPECT_TRUE(shop.ftpConnected);
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
    ASSERT_TRUE(shop.ftpConnected);
    velmo::test::TempDir local;
    shop.ftp.Download("big.db", local.file("big.db"));
    EXPECT_EQ(status.statusText(), "success");
    EXPECT_TRUE(status.texts.contains("Beginning Data Transfer"));
    EXPECT_TRUE(status.texts.contains("Data Transfer Complete"));
    EXPECT_TRUE(status.texts.contains("200000 of 200000"));
    ASSERT_FALSE(status.progress.empty());
    EXPECT_EQ(status.progress.back(), (std::pair<std::int64_t, std::int64_t>{200000, 200000}));
    EXPECT_FALSE(status.visible);

    shop.ftp.Nlist();
    EXPECT_EQ(status.statusText(), "NList success");
    EXPECT_THROW(shop.ftp.DoCommand("XYZ"), std::exception);
    EXPECT_EQ(status.statusText(), "DoCommand failure");
    EXPECT_EQ(seam.texts("message"), QStringList{"DoCommand unsupported"});
}

struct NoCurrency : CurrencyPrompt {
    QString askCurrency() override { return "EUR"; }
};

// The main window with the connect dialog and the transfers plugged in, as the program starts it.
class PluggedMainWindow : public ::testing::Test {
protected:
    void SetUp() override { sync::plugSyncActions(main, shop, main, *form); }

    velmo::test::TempDir dir;
    ScriptedDialogs seam;
    Shop shop{seam};
    NoCurrency currency;
    TForm1 main{shop, currency};
    TForm6* form = new TForm6(shop, main, &main);
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
            f.Button1->click();
            return f.result();
        });
        main.Verbinden1Click();
    };
    connectWith(closedPort());
    EXPECT_EQ(main.connectItem()->text(), "&Verbinden");
    EXPECT_FALSE(shop.ftpConnected);

    connectWith(server.port());
    EXPECT_EQ(main.connectItem()->text(), "&Trennen");
    EXPECT_TRUE(shop.ftpConnected);
    EXPECT_EQ(main.statusText(), "Connected");
    EXPECT_FALSE(main.progressBar()->isVisible());

    main.Verbinden1Click();
    EXPECT_EQ(main.connectItem()->text(), "&Verbinden");
    EXPECT_FALSE(shop.ftpConnected);
    EXPECT_FALSE(shop.ftp.Connected());
    EXPECT_EQ(main.statusText(), "Disconnected");
}

TEST(TransferActions, AnUnsetDataDirectoryStopsThemBeforeAnyFileIsTouched) {
    ScriptedDialogs seam;
    Shop shop(seam);
    RecordingStatus status;
    shop.MemoPic = {"k.jpg"};
    for (auto* action :
         {&sync::articleDownloadAction, &sync::articleUploadAction, &sync::ordersDownloadAction}) {
        try {
            action(shop, status);
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
