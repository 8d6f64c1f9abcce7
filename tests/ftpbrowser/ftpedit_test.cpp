// The FTP browser against real servers on loopback (pyftpdlib, and vsftpd for its listing) and,
// for refusals and odd listings, the scripted server. The connect dialog is stood in for by a
// callback that logs the shop's client in, with the event handlers the dialog would install.
#include "ftpbrowser/chmod.h"
#include "ftpbrowser/ftpedit.h"
#include "ftpbrowser/mkdir.h"
#include "ftpbrowser/remotegrid.h"
#include "platform/cp1252.h"
#include "shell/shop.h"
#include "tests/ftp/support/real_servers.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"
#include "tests/sync/first_progress.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::RealFtpServer;
using velmo::test::ScriptedDialogs;
using velmo::test::ScriptedFtpServer;
using velmo::test::TempDir;
using velmo::test::writeBytes;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

RealFtpServer& server(const std::string& kind) {
    static std::unique_ptr<RealFtpServer> pyftpdlib;
    static std::unique_ptr<RealFtpServer> vsftpd;
    auto& slot = kind == "pyftpdlib" ? pyftpdlib : vsftpd;
    if (!slot)
        slot = kind == "pyftpdlib" ? velmo::test::startPyftpdlib() : velmo::test::startVsftpd();
    return *slot;
}

// The commands the client sent, as it reports them (replies, PORT and QUIT left out).
bool isCommandReport(const std::string& text) {
    static const std::set<std::string> verbs = {"TYPE", "STOR", "RETR", "LIST", "CWD",
                                                "DELE", "RMD",  "MKD",  "SITE", "PWD"};
    return verbs.count(text.substr(0, text.find(' '))) > 0;
}

class BrowserTest : public ::testing::Test {
protected:
    virtual std::string kind() const { return "pyftpdlib"; }
    // The server to log in to; the real one of kind() unless a test says otherwise.
    virtual void configureClient() {
        srv = &server(kind());
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '_'); // parameterised names
        remoteDir = (srv->writableDir().empty() ? "" : srv->writableDir() + "/") + "t_" + test;
        fs::remove_all(serverPath(""));
        fs::create_directories(serverPath(""));
        account.port = srv->port();
        account.user = srv->user();
        account.password = srv->password();
    }

    // Watches the connection as the program's windows do: the commands sent and the status texts.
    struct Watcher : sync::ConnectionObserver {
        BrowserTest& t;
        explicit Watcher(BrowserTest& test) : t(test) {}
        void report(const std::string& text) override {
            if (isCommandReport(text))
                t.commands.push_back(text);
        }
        void status(const std::string& text) override { t.statuses.push_back(text); }
    };

    void SetUp() override {
        // The desktop's trash of this test, never the user's.
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(trash.path()));
        account.host = "127.0.0.1";
        shop.connection.addObserver(watcher);
        configureClient();
        shop.ShopSettings.localProg = QString::fromStdString(local.path());
        form = std::make_unique<TForm11>(shop, [this] {
            ++connectDialogs;
            if (!loginOnConnect)
                return;
            shop.connection.connect(account);
            if (!remoteDir.empty())
                shop.connection.changeDir("/" + remoteDir);
        });
    }
    void TearDown() override {
        form.reset();
        if (shop.connection.connected())
            shop.connection.disconnect();
        shop.connection.removeObserver(watcher);
    }

    // The file on the server's disk, in this test's directory.
    std::string serverPath(const std::string& name) const {
        return srv->localPath(
            remoteDir.substr(srv->writableDir().empty() ? 0 : srv->writableDir().size() + 1) +
            (name.empty() ? "" : "/" + name));
    }
    std::string localPath(const std::string& name) const { return local.file(name); }

    // Shows the browser (its opening logs in through the connect stand-in) and forgets the
    // commands that took.
    void open() {
        form->show();
        ASSERT_TRUE(scripted.texts("error").isEmpty()) << scripted.texts("error").join("|").toStdString();
        commands.clear();
    }
    int rowOf(const std::string& name) const {
        for (int r = 1; r < form->RowCount(); ++r)
            if (form->Cells(1, r) == name)
                return r;
        return -1;
    }
    Strings names() const {
        Strings out;
        for (int r = 1; r < form->RowCount(); ++r)
            out.push_back(form->Cells(1, r));
        return out;
    }
    QStringList localFiles() const {
        QStringList out;
        for (int i = 0; i < form->FileListBox1->count(); ++i)
            out << form->FileListBox1->item(i)->text();
        return out;
    }
    void chmodTicks(const std::string& ticks) {
        scripted.onModal([ticks](QDialog& d) {
            auto& f = dynamic_cast<TForm12&>(d);
            QCheckBox* boxes[] = {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4, f.CheckBox5,
                                  f.CheckBox6, f.CheckBox7, f.CheckBox8, f.CheckBox9};
            for (int i = 0; i < 9; ++i)
                boxes[i]->setChecked(ticks[static_cast<std::size_t>(i)] == 'x');
            f.Button1->click();
            return f.result();
        });
    }

    ScriptedDialogs scripted;
    Shop shop{scripted};
    RealFtpServer* srv = nullptr;
    std::string remoteDir;
    TempDir local;
    TempDir trash{TempDir::Settings::Keep};
    std::unique_ptr<TForm11> form;
    sync::Account account;
    bool loginOnConnect = true;
    int connectDialogs = 0;
    Strings commands;
    Strings statuses;
    Watcher watcher{*this};
};

TEST_F(BrowserTest, OpeningLogsInFirstThenShowsBothSides) {
    writeBytes(localPath("a.txt"), "a");
    writeBytes(localPath(".hidden"), "h");
    fs::create_directory(localPath("Sub"));
    writeBytes(serverPath("name with blanks.db"), "12345");
    fs::create_directory(serverPath("Bilder"));

    open();
    EXPECT_EQ(connectDialogs, 1);
    EXPECT_EQ(form->localDirectory().toStdString(), local.path());
    EXPECT_EQ(QDir::currentPath().toStdString(), local.path());
    EXPECT_EQ(localFiles(), (QStringList{"Sub", "a.txt"}));
    EXPECT_EQ(form->Edit1->text().toStdString(), "/" + remoteDir);
    ASSERT_EQ(names(), (Strings{"..", "name with blanks.db", "Bilder"}));
    EXPECT_EQ(form->Cells(0, 1), "[D]");
    EXPECT_EQ(form->Cells(0, 2), " ");
    EXPECT_EQ(form->Cells(5, 2), "5 ");
    EXPECT_EQ(form->Cells(0, 3), "[D]");
    EXPECT_EQ(form->Row(), 1);
    QAbstractItemModelTester tester(&form->gridModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);

    // Showing it again while logged in goes straight to the listing.
    form->hide();
    open();
    EXPECT_EQ(connectDialogs, 1);
    EXPECT_EQ(form->RowCount(), 4);
}

TEST_F(BrowserTest, ACancelledConnectDialogLeavesTheRemoteSideAlone) {
    loginOnConnect = false;
    form->show();
    EXPECT_EQ(connectDialogs, 1);
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(form->RowCount(), 1);
    EXPECT_TRUE(scripted.texts("error").isEmpty());
    // The connect button shows the dialog whatever the state.
    loginOnConnect = true;
    form->Button7Click();
    EXPECT_EQ(connectDialogs, 2);
    EXPECT_EQ(names(), Strings{".."});
    form->Button7Click();
    EXPECT_EQ(connectDialogs, 3);
}

TEST_F(BrowserTest, UploadOfTheCurrentFileAloneOrOfNone) {
    const std::string picture("\x89PNG\r\n\x1a\n\0\xFF", 10);
    writeBytes(localPath("logo.JPG"), picture);
    writeBytes(localPath("other.db"), "x");
    open();
    form->FileListBox1->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    form->Button1Click();
    EXPECT_EQ(commands, (Strings{"TYPE I", "STOR logo.JPG", "PWD", "LIST", "TYPE A"}));
    EXPECT_EQ(readBytes(serverPath("logo.JPG")), picture);
    EXPECT_NE(rowOf("logo.JPG"), -1);

    // Without any file the transfer fails in the client, quietly for the window.
    commands.clear();
    form->FileListBox1->clear();
    form->Button1Click();
    EXPECT_EQ(commands, (Strings{"TYPE I", "PWD", "LIST", "TYPE A"}));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "failure"), 1);
    EXPECT_TRUE(scripted.texts("error").isEmpty());
}

TEST_F(BrowserTest, UploadOfSeveralFilesInListOrderEachInTheTypeOfItsName) {
    const char* files[] = {"prices.db", "index.pl", "logo.JPG", "notes.TXT", "backup.db.old", "txt"};
    for (const char* f : files)
        writeBytes(localPath(f), "a\r\nb\r\n");
    open();
    form->selectFiles({"prices.db", "index.pl", "logo.JPG", "notes.TXT", "backup.db.old", "txt"});
    form->Button1Click();
    EXPECT_EQ(commands, (Strings{"TYPE I", "STOR backup.db.old", "TYPE A", "STOR index.pl", "TYPE I",
                                 "STOR logo.JPG", "TYPE I", "STOR notes.TXT", "TYPE A", "STOR prices.db",
                                 "TYPE A", "STOR txt", "PWD", "LIST", "TYPE A"}));
    // The server stores text in its own line ends, binary files byte for byte.
    for (const char* f : {"prices.db", "index.pl", "txt"})
        EXPECT_EQ(readBytes(serverPath(f)), "a\nb\n") << f;
    for (const char* f : {"logo.JPG", "notes.TXT", "backup.db.old"})
        EXPECT_EQ(readBytes(serverPath(f)), "a\r\nb\r\n") << f;
    EXPECT_EQ(form->RowCount(), 8);
}

// A local name the server could only get with "?" in it is refused, naming the file; the others go.
TEST_F(BrowserTest, UploadRefusesNamesWithoutAWindows1252Form) {
    writeBytes(localPath("a.db"), "a");
    writeBytes(localPath("foto✓.jpg"), "b");
    writeBytes(localPath("Bär.jpg"), "c");
    open();
    form->selectFiles({"a.db", "foto✓.jpg", "Bär.jpg"});
    form->Button1Click();
    // (The transcript shows the names as the server read them.)
    EXPECT_EQ(commands, (Strings{"TYPE A", "STOR a.db", "TYPE I", "STOR Bär.jpg", "PWD", "LIST", "TYPE A"}));
    EXPECT_EQ(
        scripted.texts("message"),
        QStringList{QString::fromUtf8("Der Dateiname 'foto✓.jpg' enthält Zeichen, die es im Zeichensatz "
                                      "des Shops (Windows-1252) nicht gibt. Die Datei wird nicht "
                                      "hochgeladen; bitte benennen Sie sie um.")});
}

TEST_F(BrowserTest, DownloadFetchesTheRowIntoTheLocalDirectoryAndLeavesTheGrid) {
    writeBytes(serverPath("my file.db"), "x\ny\n");
    writeBytes(serverPath("logo.gif"), std::string("GIF\n\0\r\n", 7));
    open();
    form->setRow(rowOf("my file.db"));
    form->Button4Click();
    form->setRow(rowOf("logo.gif"));
    form->Button4Click();
    EXPECT_EQ(commands,
              (Strings{"TYPE A", "RETR my file.db", "TYPE A", "TYPE I", "RETR logo.gif", "TYPE A"}));
    EXPECT_EQ(readBytes(localPath("my file.db")), "x\r\ny\r\n");
    EXPECT_EQ(readBytes(localPath("logo.gif")), std::string("GIF\n\0\r\n", 7));
    EXPECT_EQ(localFiles(), (QStringList{"logo.gif", "my file.db"}));
}

TEST_F(BrowserTest, DeleteOnTheServerAsksFirstThenTakesFilesAndDirectories) {
    writeBytes(serverPath("old file.db"), "x");
    fs::create_directory(serverPath("leer"));
    open();
    const struct {
        const char* name;
        bool yes;
        const char* question;
        Strings sent;
    } cases[] = {
        {"old file.db", false, "Die Datei „old file.db“ auf dem Server löschen?", {}},
        {"leer", false, "Das Verzeichnis „leer“ auf dem Server löschen?", {}},
        {"old file.db",
         true,
         "Die Datei „old file.db“ auf dem Server löschen?",
         {"DELE old file.db", "PWD", "LIST"}},
        {"leer", true, "Das Verzeichnis „leer“ auf dem Server löschen?", {"RMD leer", "PWD", "LIST"}},
    };
    for (const auto& c : cases) {
        commands.clear();
        scripted.clear();
        form->setRow(rowOf(c.name));
        scripted.answerConfirm(c.yes);
        form->Button6Click();
        EXPECT_EQ(scripted.texts("confirmDefaultNo"), QStringList{QString::fromUtf8(c.question)});
        EXPECT_EQ(commands, c.sent) << c.name << " " << c.yes;
        EXPECT_EQ(fs::exists(serverPath(c.name)), !c.yes) << c.name;
    }
    EXPECT_EQ(names(), Strings{".."});
}

TEST_F(BrowserTest, ARefusedDeleteShowsTheRepliesAndSkipsTheRefresh) {
    writeBytes(serverPath("gone.db"), "x");
    open();
    fs::remove(serverPath("gone.db"));
    form->setRow(rowOf("gone.db"));
    scripted.answerConfirm(true);
    form->Button6->click();
    EXPECT_EQ(commands, Strings{"DELE gone.db"});
    ASSERT_EQ(scripted.texts("error").size(), 1);
    EXPECT_TRUE(scripted.texts("error")[0].startsWith("550")) << scripted.texts("error")[0].toStdString();
    EXPECT_NE(rowOf("gone.db"), -1);
}

TEST_F(BrowserTest, DoubleClickEntersADirectoryAndTheParentRowLeavesIt) {
    fs::create_directory(serverPath("neue bilder"));
    writeBytes(serverPath("neue bilder/inner.jpg"), "j");
    writeBytes(serverPath("plain.db"), "p");
    open();
    form->setRow(rowOf("plain.db"));
    form->StringGrid1DblClick();
    EXPECT_TRUE(commands.empty());

    form->setRow(rowOf("neue bilder"));
    form->StringGrid1DblClick();
    EXPECT_EQ(commands, (Strings{"CWD neue bilder", "PWD", "LIST"}));
    EXPECT_EQ(form->Edit1->text().toStdString(), "/" + remoteDir + "/neue bilder");
    EXPECT_EQ(names(), (Strings{"..", "inner.jpg"}));

    commands.clear();
    EXPECT_EQ(form->Row(), 1);
    form->StringGrid1DblClick();
    EXPECT_EQ(commands, (Strings{"CWD ..", "PWD", "LIST"}));
    EXPECT_EQ(form->Edit1->text().toStdString(), "/" + remoteDir);
}

TEST_F(BrowserTest, MakeDirCreatesTheTypedNameOnlyAfterOk) {
    open();
    scripted.onModal([](QDialog& d) {
        auto& f = dynamic_cast<TForm13&>(d);
        f.Edit1->setText("neues verz");
        f.Button1->click();
        return f.result();
    });
    form->Button10Click();
    EXPECT_EQ(commands, (Strings{"MKD neues verz", "PWD", "LIST"}));
    EXPECT_TRUE(fs::is_directory(serverPath("neues verz")));
    EXPECT_NE(rowOf("neues verz"), -1);

    commands.clear();
    scripted.onModal([](QDialog& d) {
        dynamic_cast<TForm13&>(d).Button2->click();
        return d.result();
    });
    form->Button10Click();
    form->Button10Click(); // closed without a script: no OK either
    EXPECT_TRUE(commands.empty());
}

TEST_F(BrowserTest, ChmodSendsTheTickedModeAsThreeOctalDigitsAndTheWholeName) {
    writeBytes(serverPath("name with blanks.pl"), "#!");
    open();
    const std::pair<const char*, unsigned> cases[] = {
        {"x--x--x--", 0444}, {"xx-x--x--", 0644}, {"------x--", 0004}, {"xxxxxxxxx", 0777}};
    for (const auto& [ticks, mode] : cases) {
        commands.clear();
        form->setRow(rowOf("name with blanks.pl"));
        chmodTicks(ticks);
        form->Button9Click();
        char octal[8];
        std::snprintf(octal, sizeof octal, "%03o", mode);
        EXPECT_EQ(commands,
                  (Strings{std::string("SITE CHMOD ") + octal + " name with blanks.pl", "PWD", "LIST"}));
        struct stat st {};
        ::stat(serverPath("name with blanks.pl").c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, mode) << ticks;
    }
    // No box ticked, or cancelled: nothing is sent and nothing refreshed.
    commands.clear();
    chmodTicks("---------");
    form->Button9Click();
    form->Button9Click();
    EXPECT_TRUE(commands.empty());
}

TEST_F(BrowserTest, DisconnectKeepsTheGridAndLaterServerActionsFail) {
    writeBytes(serverPath("keep.db"), "k");
    open();
    form->Button8Click();
    EXPECT_FALSE(shop.connection.connected());
    form->RefreshRemote();
    EXPECT_EQ(names(), (Strings{"..", "keep.db"}));
    EXPECT_EQ(form->Edit1->text().toStdString(), "/" + remoteDir);
    form->setRow(2);
    form->Button6->click();
    // Nothing to ask without a connection: the deletion fails at once.
    EXPECT_TRUE(scripted.texts("confirmDefaultNo").isEmpty());
    ASSERT_EQ(scripted.texts("error").size(), 1);
    EXPECT_TRUE(scripted.texts("error")[0].startsWith("Nicht verbunden"));
}

TEST_F(BrowserTest, LocalDeleteMovesTheCurrentFileOrEverySelectedOneToTheTrash) {
    for (const char* f : {"a.db", "b.db", "c.db", "d.db"})
        writeBytes(localPath(f), std::string("bytes of ") + f);
    fs::create_directory(localPath("dir"));
    loginOnConnect = false;
    form->show();
    form->FileListBox1->setCurrentRow(static_cast<int>(localFiles().indexOf("b.db")),
                                      QItemSelectionModel::NoUpdate);
    form->Button3Click();
    EXPECT_EQ(localFiles(), (QStringList{"dir", "a.db", "c.db", "d.db"}));
    form->selectFiles({"dir", "c.db", "d.db"});
    form->Button3Click();
    EXPECT_EQ(localFiles(), (QStringList{"dir", "a.db"}));
    EXPECT_TRUE(scripted.texts("error").isEmpty());
    EXPECT_TRUE(scripted.texts("message").isEmpty());
    for (const char* f : {"b.db", "c.db", "d.db"})
        EXPECT_EQ(readBytes(trash.file(std::string("Trash/files/") + f)), std::string("bytes of ") + f);
    EXPECT_FALSE(fs::exists(trash.file("Trash/files/dir")));
}

TEST_F(BrowserTest, ALocalFileTheTrashWillNotTakeStaysAndIsNamed) {
    writeBytes(localPath("a.db"), "a");
    // No trash can be made where the desktop keeps it.
    writeBytes(trash.file("Trash"), "a file, not the trash folder");
    loginOnConnect = false;
    form->show();
    form->selectFiles({"a.db"});
    form->Button3Click();
    EXPECT_EQ(readBytes(localPath("a.db")), "a");
    EXPECT_EQ(localFiles(), QStringList{"a.db"});
    ASSERT_EQ(scripted.texts("message").size(), 1);
    EXPECT_TRUE(scripted.texts("message")[0].contains("nicht in den Papierkorb"))
        << scripted.texts("message")[0].toStdString();
    EXPECT_TRUE(scripted.texts("message")[0].endsWith("a.db"));
    // Nothing of a makeshift trash is left in the local directory.
    EXPECT_FALSE(fs::exists(localPath("files")));
    EXPECT_FALSE(fs::exists(localPath("info")));
}

TEST_F(BrowserTest, EnterInTheTreeChangesTheLocalAndTheWorkingDirectory) {
    fs::create_directory(localPath("unten"));
    writeBytes(localPath("unten/inside.txt"), "i");
    loginOnConnect = false;
    form->show();
    QList<QListWidgetItem*> items = form->DirectoryListBox1->findItems("unten", Qt::MatchEndsWith);
    ASSERT_EQ(items.size(), 1);
    form->DirectoryListBox1->setCurrentItem(items[0]);
    QTest::keyClick(form->DirectoryListBox1, Qt::Key_Return);
    EXPECT_EQ(form->localDirectory().toStdString(), localPath("unten"));
    EXPECT_EQ(QDir::currentPath().toStdString(), localPath("unten"));
    EXPECT_EQ(localFiles(), QStringList{"inside.txt"});
}

TEST_F(BrowserTest, ResizingGrowsTheRemotePaneAndTheLocalPaneOnlyInHeight) {
    loginOnConnect = false;
    form->show();
    EXPECT_EQ(form->size(), QSize(672, 339));
    EXPECT_EQ(form->windowTitle(), "FTP - Browser");
    // Its dialogs are its transient children, so they stack above it.
    EXPECT_EQ(form->PermissionsDialog->parentWidget(), form.get());
    EXPECT_EQ(form->NewDirDialog->parentWidget(), form.get());
    EXPECT_FALSE(form->Button2->isEnabled() || form->Button5->isEnabled());

    auto rightGap = [this](QWidget* w) {
        return form->width() - w->mapTo(form.get(), QPoint(w->width(), 0)).x();
    };
    const QSize files = form->FileListBox1->size(), grid = form->StringGrid1->size();
    const int gap = rightGap(form->Button8);
    form->resize(900, 500);
    QApplication::processEvents();
    EXPECT_EQ(form->FileListBox1->width(), files.width());
    EXPECT_GT(form->FileListBox1->height(), files.height());
    EXPECT_EQ(form->StringGrid1->width(), grid.width() + 228);
    EXPECT_GT(form->StringGrid1->height(), grid.height() + 100);
    EXPECT_EQ(rightGap(form->Button8), gap);
}

// The grid of a real server's listing: every cell word by word, words with their trailing blank.
class RealListing : public BrowserTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::string kind() const override { return GetParam(); }
};

TEST_P(RealListing, GridCellsFollowTheWords) {
    writeBytes(serverPath("prices.db"), std::string(1234, 'p'));
    writeBytes(serverPath("my  file.txt"), "m");
    fs::create_directory(serverPath("thumbs"));
    open();
    ASSERT_EQ(names(), (Strings{"..", "my  file.txt", "prices.db", "thumbs"}));
    const std::regex word(R"([^ ]+ )");
    const std::regex date(R"([A-Z][a-z]{2}  \d{1,2}  (\d\d:\d\d|\d{4}) )");
    const std::string sizes[] = {"1 ", "1234 ", ""};
    for (int r = 2; r <= 4; ++r) {
        SCOPED_TRACE(form->Cells(1, r));
        for (int c : {2, 3, 4, 5, 7})
            EXPECT_TRUE(std::regex_match(form->Cells(c, r), word)) << c << ": '" << form->Cells(c, r) << "'";
        EXPECT_TRUE(std::regex_match(form->Cells(6, r), date)) << "'" << form->Cells(6, r) << "'";
        EXPECT_EQ(form->Cells(7, r).size(), 11u);
        EXPECT_EQ(form->Cells(0, r), r == 4 ? "[D]" : " ");
        EXPECT_EQ(form->Cells(7, r)[0], r == 4 ? 'd' : '-');
        if (r < 4) {
            EXPECT_EQ(form->Cells(5, r), sizes[r - 2]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealListing, ::testing::Values("pyftpdlib", "vsftpd"));

// The scripted server: odd listings and refusals a real server does not produce on demand.
class ScriptedBrowserTest : public BrowserTest {
protected:
    void configureClient() override {
        account.port = scriptedServer.port();
        account.user = "u";
        account.password = "p";
    }
    ScriptedFtpServer scriptedServer;
};

TEST_F(ScriptedBrowserTest, TheTotalLineBecomesARowOfItsOwn) {
    scriptedServer.setListing("total 8\r\n-rw-r--r--   1 shop     shop          40 Dec  9 12:30 kunden.db\r\n"
                              "lrwxrwxrwx   1 shop     shop           4 Dec  9 12:30 docs -> /srv\r\n");
    open();
    const int total = rowOf("8");
    ASSERT_NE(total, -1);
    EXPECT_EQ(form->Cells(7, total), "total ");
    EXPECT_EQ(form->Cells(6, total), "  ");
    EXPECT_EQ(names(), (Strings{"..", "kunden.db", "docs -> /srv", "8"}));
    // A link is no directory: double-click does nothing, Löschen sends DELE.
    form->setRow(rowOf("docs -> /srv"));
    form->StringGrid1DblClick();
    EXPECT_TRUE(commands.empty());
    scripted.answerConfirm(true);
    form->Button6Click();
    EXPECT_EQ(commands.front(), "DELE docs -> /srv");
}

// The parent row, and a listing's own "." and "..", are never removed: nothing is asked or sent.
TEST_F(ScriptedBrowserTest, TheParentRowIsNeverDeleted) {
    scriptedServer.setListing("drwxr-xr-x   2 shop     shop        4096 Dec  9 12:30 .\r\n"
                              "drwxr-xr-x   9 shop     shop        4096 Dec  9 12:30 ..\r\n");
    open();
    ASSERT_EQ(names(), (Strings{"..", ".", ".."}));
    for (int row = 1; row <= 3; ++row) {
        form->setRow(row);
        form->Button6Click();
    }
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(scripted.texts("confirmDefaultNo").isEmpty());
    EXPECT_EQ(scripted.texts("message").size(), 3);
}

TEST_F(ScriptedBrowserTest, ARefusedTypeStopsAMultiFileUpload) {
    writeBytes(localPath("a.db"), "a");
    writeBytes(localPath("b.db"), "b");
    open();
    scriptedServer.reply("TYPE", "504 Type not implemented\r\n");
    form->selectFiles({"a.db", "b.db"});
    form->Button1->click();
    EXPECT_EQ(commands, Strings{"TYPE A"});
    ASSERT_EQ(scripted.texts("error").size(), 1);
    EXPECT_EQ(scripted.texts("error")[0].trimmed(), "504 Type not implemented");
}

TEST_F(ScriptedBrowserTest, DownloadNamesThatWouldLeaveTheLocalDirectoryAreRefused) {
    scriptedServer.setListing("-rw-r--r-- 1 a b 5 Dec  9 12:30 ../escape.db\r\n"
                              "-rw-r--r-- 1 a b 5 Dec  9 12:30 sub/inner.db\r\n");
    for (const char* name : {"../escape.db", "sub/inner.db"})
        scriptedServer.setFile(name, "owned");
    fs::create_directory(localPath("sub"));
    open();
    ASSERT_EQ(form->RowCount(), 4);
    const fs::path outside = fs::path(local.path()).parent_path() / "escape.db";
    for (int r = 1; r < form->RowCount(); ++r) {
        form->setRow(r);
        form->Button4->click();
    }
    EXPECT_TRUE(commands.empty());
    EXPECT_EQ(scripted.texts("error").size(), 3); // the parent row's ".." too
    EXPECT_TRUE(scripted.texts("error")[1].contains("escape.db")) << scripted.texts("error")[1].toStdString();
    EXPECT_FALSE(fs::exists(outside));
    EXPECT_FALSE(fs::exists(localPath("sub/inner.db")));
    EXPECT_EQ(localFiles(), QStringList{"sub"});
}

// A name the local folder cannot hold is refused before RETR goes out; the local name is UTF-8,
// where each "ä" takes two bytes. One that just fits is fetched.
TEST_F(ScriptedBrowserTest, ANameTooLongForTheLocalFolderIsRefusedBeforeAnythingIsSent) {
    const std::string tooLong = std::string(128, '\xE4') + ".db"; // 131 bytes there, 259 here
    const std::string fits = std::string(126, '\xE4') + ".db";    // 255 here
    scriptedServer.setListing("-rw-r--r-- 1 a b 5 Dec  9 12:30 " + tooLong +
                              "\r\n-rw-r--r-- 1 a b 5 Dec  9 12:30 " + fits + "\r\n");
    scriptedServer.setFile(tooLong, "long");
    scriptedServer.setFile(fits, "fits");
    open();
    form->setRow(rowOf(tooLong));
    form->Button4->click();
    EXPECT_TRUE(commands.empty());
    ASSERT_EQ(scripted.texts("error").size(), 1);
    EXPECT_TRUE(scripted.texts("error")[0].contains("zu lang (259 Byte, erlaubt sind 255)"))
        << scripted.texts("error")[0].toStdString();

    form->setRow(rowOf(fits));
    form->Button4->click();
    // (The reports show the name in UTF-8.)
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR " + cp1252::toUtf8(fits)), 1);
    EXPECT_EQ(readBytes(localPath(cp1252::toUtf8(fits))), "fits");
    EXPECT_EQ(scripted.texts("error").size(), 1);
}

// The permissions dialog starts from the entry's permissions; a row without them (the parent row)
// shows the ticks of the last use.
TEST_F(ScriptedBrowserTest, ThePermissionsDialogStartsFromTheRowsPermissions) {
    scriptedServer.setListing("-rwxr-x--- 1 a b 5 Dec  9 12:30 run.cgi\r\n"
                              "-rw-r--r-- 1 a b 5 Dec  9 12:30 prices.db\r\n");
    open();
    auto ticksShown = [this](int row) {
        std::string seen;
        scripted.onModal([&seen](QDialog& d) {
            auto& f = dynamic_cast<TForm12&>(d);
            for (QCheckBox* box : {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4, f.CheckBox5,
                                   f.CheckBox6, f.CheckBox7, f.CheckBox8, f.CheckBox9})
                seen += box->isChecked() ? 'x' : '-';
            f.Button2->click();
            return f.result();
        });
        form->setRow(row);
        form->Button9Click();
        return seen;
    };
    EXPECT_EQ(ticksShown(rowOf("run.cgi")), "xxxx-x---");
    EXPECT_EQ(ticksShown(rowOf("prices.db")), "xx-x--x--");
    EXPECT_EQ(ticksShown(1), "xx-x--x--");
    EXPECT_TRUE(commands.empty());
}

// The browser's own transfer: its server buttons are disabled while it runs (so is everything of
// the main window's), its progress shows a cancel button, and all comes back when it ends.
TEST_F(ScriptedBrowserTest, ServerButtonsWaitForTheRunningTransfer) {
    scriptedServer.setListing("-rw-r--r-- 1 a b 300000 Dec  9 12:30 big.db\r\n");
    scriptedServer.setFile("big.db", std::string(300000, 'x'));
    open();
    velmo::test::AtFirstProgress during;
    std::vector<bool> enabled;
    bool cancelShown = false;
    during.step = [&] {
        for (QPushButton* b : form->serverButtons())
            enabled.push_back(b->isEnabled());
        cancelShown = !form->CancelButton->isHidden();
    };
    shop.connection.addObserver(during);
    form->setRow(rowOf("big.db"));
    form->Button4Click();
    shop.connection.removeObserver(during);
    EXPECT_EQ(enabled, std::vector<bool>(form->serverButtons().size(), false));
    EXPECT_TRUE(cancelShown);
    for (QPushButton* b : form->serverButtons())
        EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(form->CancelButton->isHidden());
    EXPECT_EQ(readBytes(localPath("big.db")).size(), 300000u);
}

// A directory whose listing would not end is cut off at the bound with a message; the cancel
// button stops a listing at once.
TEST_F(ScriptedBrowserTest, AListingPastItsBoundOrCancelledEndsWithAMessage) {
    std::string huge;
    for (int i = 0; i < 200001; ++i)
        huge += "-rw-r--r-- 1 a b 5 Dec  9 12:30 f" + std::to_string(i) + "\r\n";
    scriptedServer.setListing(huge);
    form->show();
    EXPECT_EQ(
        scripted.texts("error"),
        QStringList{"Das Verzeichnis ist zu groß, um es anzuzeigen: mehr als 200000 Einträge oder 64 MB."});
    EXPECT_EQ(form->RowCount(), 1);

    scripted.clear();
    struct Cancel : sync::ConnectionObserver {
        TForm11& form;
        explicit Cancel(TForm11& f) : form(f) {}
        void progress(std::int64_t, std::int64_t) override {
            if (!form.CancelButton->isHidden())
                form.CancelButton->click();
        }
    } cancel{*form};
    shop.connection.addObserver(cancel);
    EXPECT_FALSE(guarded(scripted, [&] { form->RefreshRemote(); }));
    shop.connection.removeObserver(cancel);
    EXPECT_EQ(scripted.texts("error"), QStringList{"Das Auflisten des Verzeichnisses wurde abgebrochen."});
    EXPECT_FALSE(shop.connection.busy());
}

} // namespace
