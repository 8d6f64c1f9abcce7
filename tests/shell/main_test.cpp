// The main window's roads: first start, settings load, pending lists, closing, the connect item.
#include "platform/errors.h"
#include "platform/settings_store.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/main.h"
#include "shell/shop.h"
#include "tests/ftp/support/scripted_server.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::writeBytes;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    // One program start: a fresh main window's first activation.
    void start(TForm1& window) {
        ASSERT_TRUE(guarded(seam, [&] { window.FormActivate(); }));
    }

    test::TempDir dir;
    test::ScriptedDialogs seam;
    Shop shop{seam};
    TForm9 currency{seam};
    TForm1 form{shop, currency};
};

TEST_F(MainWindowTest, FirstStartAsksCurrencyOnceAndWritesSixValues) {
    const std::string cwd = currentDirectory();
    QString preset;
    seam.onModal([&](QDialog& d) {
        auto& prompt = static_cast<TForm9&>(d);
        preset = prompt.Edit1->text();
        // Typed once the window has settled, the text replaces the preset.
        QTest::qWait(20);
        QTest::keyClicks(prompt.Edit1, "EUR");
        prompt.Button1->click();
        return d.result();
    });
    start(form);

    EXPECT_EQ(seam.texts("modal"), QStringList{"Form9"});
    EXPECT_EQ(preset, "DM");
    EXPECT_EQ(shop.ShopSettings.Currency, "EUR");
    for (const QString* dirValue : {&shop.ShopSettings.localProg, &shop.ShopSettings.localDat,
                                    &shop.ShopSettings.localBg, &shop.ShopSettings.localBk})
        EXPECT_EQ(dirValue->toStdString(), cwd);
    EXPECT_EQ(shop.ShopSettings.docRoot, "/");

    auto store = SettingsStore::open();
    ASSERT_TRUE(store);
    for (const char* name : {"Currency", "localProg", "localDat", "localBg", "localBk", "docRoot"})
        EXPECT_TRUE(store->valueExists(name)) << name;
    EXPECT_EQ(store->readString("localBk"), cwd);

    // The key holds the FTP password later: owner-only.
    struct stat st {};
    ASSERT_EQ(::stat(dir.settingsPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);

    // The second start reads and asks nothing.
    seam.clear();
    Shop secondRun(seam);
    TForm1 second(secondRun, currency);
    start(second);
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_EQ(secondRun.ShopSettings.Currency, "EUR");
    EXPECT_EQ(secondRun.ShopSettings.localDat.toStdString(), cwd);
}

TEST_F(MainWindowTest, CurrencyDialogClosedByCloseBoxStoresTheField) {
    seam.onModal([](QDialog& d) {
        static_cast<TForm9&>(d).Edit1->setText(QString::fromUtf8("€"));
        d.close();
        return d.result();
    });
    start(form);
    EXPECT_EQ(shop.ShopSettings.Currency, QString::fromUtf8("€"));
    EXPECT_EQ(SettingsStore::open()->readString("Currency"), "€");
}

TEST_F(MainWindowTest, EmptiedCurrencyIsStoredAndNeverAskedAgain) {
    seam.onModal([](QDialog& d) {
        static_cast<TForm9&>(d).Edit1->clear();
        d.close();
        return 0;
    });
    start(form);
    EXPECT_TRUE(SettingsStore::open()->valueExists("Currency"));
    seam.clear();
    Shop secondRun(seam);
    TForm1 second(secondRun, currency);
    start(second);
    EXPECT_TRUE(seam.texts("modal").isEmpty());
    EXPECT_EQ(secondRun.ShopSettings.Currency, "");
}

TEST_F(MainWindowTest, MissingProgramDirectoryResetsAllFive) {
    writeBytes(dir.settingsPath(), "[Velmo]\n\"Currency\"=\"EUR\"\n\"localDat\"=\"/srv/shop\"\n"
                                   "\"docRoot\"=\"/htdocs/\"\n");
    start(form);
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_EQ(shop.ShopSettings.Currency, "EUR");
    EXPECT_EQ(shop.ShopSettings.localDat.toStdString(), currentDirectory());
    EXPECT_EQ(shop.ShopSettings.docRoot, "/");
    EXPECT_EQ(SettingsStore::open()->readString("localDat"), currentDirectory());
}

TEST_F(MainWindowTest, PresentProgramDirectoryReadsMissingValuesAsEmpty) {
    writeBytes(dir.settingsPath(), "[Velmo]\n\"Currency\"=\"EUR\"\n\"localProg\"=\"/opt/shop\"\n");
    start(form);
    EXPECT_EQ(shop.ShopSettings.localProg, "/opt/shop");
    EXPECT_EQ(shop.ShopSettings.localDat, "");
    EXPECT_EQ(shop.ShopSettings.docRoot, "");
    EXPECT_FALSE(SettingsStore::open()->valueExists("localDat"));
}

TEST_F(MainWindowTest, AnUnavailableStoreIsReportedAndNoFileLandsInTheRoot) {
    // A file where the store's folder should be: not even root can create the store.
    writeBytes(dir.file("blocker"), "");
    const std::string store = dir.path() + "/blocker/velmo.ini";
    ::setenv("VELMO_SETTINGS", store.c_str(), 1);
    EXPECT_FALSE(guarded(seam, [&] { form.FormActivate(); }));
    // Checked first: without the refusal below, the close would write into "/".
    ASSERT_EQ(seam.texts("error"),
              QStringList{QString::fromStdString("Die Einstellungen können nicht geöffnet werden (" + store +
                                                 ": ein Teil des Pfades ist kein Verzeichnis)")});
    EXPECT_TRUE(seam.texts("modal").isEmpty());
    EXPECT_EQ(shop.ShopSettings.Currency, "");
    EXPECT_EQ(shop.ShopSettings.localDat, "");

    // Nothing pending: nothing to write, the window closes. Something pending: the owner is told.
    EXPECT_TRUE(form.FormCloseQuery());
    shop.MemoThumb = {"k.jpg"};
    EXPECT_FALSE(form.FormCloseQuery());
    EXPECT_EQ(seam.texts("error").last(),
              "Für die Datei 'thumblst.db' ist kein Verzeichnis eingestellt (Optionen, Verzeichnisse)");
}

TEST_F(MainWindowTest, NonStringValueStopsTheLoadWithTheErrorBox) {
    writeBytes(dir.settingsPath(), "[Velmo]\n\"Currency\"=\"EUR\"\n\"localProg\"=\"/opt\"\n"
                                   "\"localDat\"=dword:00000001\n\"localBg\"=\"/pics\"\n");
    EXPECT_FALSE(guarded(seam, [&] { form.FormActivate(); }));
    EXPECT_EQ(seam.texts("error"), QStringList{QString::fromUtf8("Ungültiger Datentyp für 'localDat'")});
    EXPECT_EQ(shop.ShopSettings.localProg, "/opt"); // read before the bad value
    EXPECT_EQ(shop.ShopSettings.localBg, "");       // never reached
}

TEST_F(MainWindowTest, PendingListsSurviveACloseAndBeenden) {
    writeBytes(dir.settingsPath(), "[Velmo]\n\"Currency\"=\"DM\"\n\"localProg\"=\"" + dir.path() +
                                       "\"\n\"localDat\"=\"" + dir.path() + "\"\n");
    start(form);
    shop.MemoPic = {"gross1.jpg", "gross1.jpg"};
    shop.MemoThumb = {"klein\xe4.jpg"};
    QCloseEvent close;
    QCoreApplication::sendEvent(&form, &close);
    EXPECT_TRUE(close.isAccepted());
    EXPECT_EQ(readBytes(dir.file("piclst.db")), "gross1.jpg\r\ngross1.jpg\r\n");
    EXPECT_EQ(readBytes(dir.file("thumblst.db")), "klein\xe4.jpg\r\n");

    Shop nextRun(seam);
    TForm1 next(nextRun, currency);
    start(next);
    EXPECT_EQ(nextRun.MemoPic, (Lines{"gross1.jpg", "gross1.jpg"}));
    EXPECT_EQ(nextRun.MemoThumb, Lines{"klein\xe4.jpg"});

    // "&Beenden" saves both lists too: pictures chosen in this run still reach the server.
    nextRun.MemoPic.push_back("neu.jpg");
    nextRun.MemoThumb.clear();
    next.Beenden1Click();
    EXPECT_EQ(readBytes(dir.file("piclst.db")), "gross1.jpg\r\ngross1.jpg\r\nneu.jpg\r\n");
    EXPECT_EQ(readBytes(dir.file("thumblst.db")), "");
}

TEST_F(MainWindowTest, EmptyListsGiveEmptyFiles) {
    shop.ShopSettings.localDat = QString::fromStdString(dir.path());
    ASSERT_TRUE(form.FormCloseQuery());
    EXPECT_EQ(readBytes(dir.file("piclst.db")), "");
    EXPECT_EQ(readBytes(dir.file("thumblst.db")), "");
}

TEST_F(MainWindowTest, UnreadableListFileShowsTheErrorBox) {
    shop.ShopSettings.localDat = QString::fromStdString(dir.path());
    ASSERT_EQ(::mkdir(dir.file("piclst.db").c_str(), 0755), 0); // exists, cannot be read as a file
    EXPECT_FALSE(guarded(seam, [&] { form.LoadPendingLists(); }));
    EXPECT_EQ(seam.texts("error"), QStringList{QString::fromStdString("Datei " + dir.file("piclst.db") +
                                                                      " kann nicht geöffnet werden.")});
}

TEST_F(MainWindowTest, FailedSaveAbandonsTheClose) {
    shop.ShopSettings.localDat = QString::fromStdString(dir.path() + "/gone");
    shop.MemoPic = {"a.jpg"};
    QCloseEvent close;
    QCoreApplication::sendEvent(&form, &close);
    EXPECT_FALSE(close.isAccepted());
    EXPECT_EQ(seam.texts("error"),
              QStringList{QString::fromStdString("Datei " + dir.path() +
                                                 "/gone/thumblst.db kann nicht erstellt werden.")});
}

// "&Beenden" with lists that cannot be saved: the error box, then the owner decides whether to end.
TEST_F(MainWindowTest, BeendenAfterAFailedSaveAsksWhetherToEndAnyway) {
    shop.ShopSettings.localDat = QString::fromStdString(dir.path() + "/gone");
    shop.MemoPic = {"a.jpg"};
    int quits = 0;
    form.actions.quit = [&] { ++quits; };
    seam.answerConfirm(false);
    seam.answerConfirm(true);
    form.Beenden1Click();
    EXPECT_EQ(quits, 0);
    form.Beenden1Click();
    EXPECT_EQ(quits, 1);
    const QString error =
        QString::fromStdString("Datei " + dir.path() + "/gone/thumblst.db kann nicht erstellt werden.");
    EXPECT_EQ(seam.texts("error"), (QStringList{error, error}));
    EXPECT_EQ(
        seam.texts("confirm"),
        (QStringList(2, QStringLiteral("Die Listen der noch hochzuladenden Bilder konnten nicht gespeichert "
                                       "werden. Programm trotzdem beenden?"))));
    // Saved lists end the program without a question.
    shop.ShopSettings.localDat = QString::fromStdString(dir.path());
    form.Beenden1Click();
    EXPECT_EQ(quits, 2);
    EXPECT_EQ(seam.texts("confirm").size(), 2);
}

// The connect item's caption follows the login, whichever way it changed: a login, a logout, a
// failed attempt, a server that dropped the line.
TEST_F(MainWindowTest, ConnectItemFollowsTheLoginNotTheCaption) {
    velmo::test::ScriptedFtpServer server;
    int connects = 0, disconnects = 0;
    bool fail = false;
    form.actions.connect = [&] {
        ++connects;
        sync::Account account;
        account.host = "127.0.0.1";
        account.port = fail ? 1 : server.port();
        try {
            shop.connection.connect(account);
        } catch (const std::exception&) {
        }
    };
    form.actions.disconnect = [&] {
        ++disconnects;
        shop.connection.disconnect();
    };
    QAction* item = form.connectItem();
    EXPECT_EQ(item->text(), "&Verbinden");

    seam.answerConfirm(false);
    form.Verbinden1Click();
    EXPECT_EQ(connects, 0);
    EXPECT_EQ(seam.texts("confirm"), QStringList{"Bitte starten Sie jetzt Ihre Internetverbindung"});

    seam.answerConfirm(true);
    form.Verbinden1Click();
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(item->text(), "&Trennen");

    form.Verbinden1Click();
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(item->text(), "&Verbinden");

    // A stale caption: the item looks at the login, and a failed attempt leaves "&Verbinden".
    item->setText("&Trennen");
    fail = true;
    seam.answerConfirm(true);
    form.Verbinden1Click();
    EXPECT_EQ(connects, 2);
    EXPECT_EQ(item->text(), "&Verbinden");

    // Opening the menu shows the state as it is.
    QMenu* menu = nullptr;
    for (QMenu* m : form.menuBar()->findChildren<QMenu*>()) {
        if (m->actions().contains(item))
            menu = m;
    }
    ASSERT_NE(menu, nullptr);
    fail = false;
    seam.answerConfirm(true);
    form.Verbinden1Click();
    item->setText("&Verbinden");
    emit menu->aboutToShow();
    EXPECT_EQ(item->text(), "&Trennen");
    server.greeting("");
    shop.connection.disconnect();
    item->setText("&Trennen");
    emit menu->aboutToShow();
    EXPECT_EQ(item->text(), "&Verbinden");
}

TEST_F(MainWindowTest, StatusLineShowsTextAndTransferProgress) {
    StatusLine& status = form;
    QProgressBar* bar = form.progressBar();
    EXPECT_FALSE(bar->isVisibleTo(&form));

    status.setStatusText(QString::fromUtf8("Übertrage bücher.db"));
    EXPECT_EQ(status.statusText(), QString::fromUtf8("Übertrage bücher.db"));

    status.showProgress(0, 0); // size unknown
    EXPECT_TRUE(bar->isVisibleTo(&form));
    EXPECT_EQ(bar->maximum(), 0);

    // Sizes beyond the range of int, and a count that overshoots its total.
    status.showProgress(3'000'000'000, 6'000'000'000);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value() * 2, bar->maximum());
    status.showProgress(7, 5);
    EXPECT_EQ(bar->value(), bar->maximum());

    status.hideProgress();
    EXPECT_FALSE(bar->isVisibleTo(&form));
    EXPECT_EQ(status.statusText(), QString::fromUtf8("Übertrage bücher.db"));
}

TEST_F(MainWindowTest, MenuHasEveryEntryInOrder) {
    QStringList top;
    for (QAction* a : form.mainMenu()->actions())
        top << a->text();
    EXPECT_EQ(top, (QStringList{"&Datei", "&Artikel", "&Bestellungen", "&FTP-Browser", "&Statistik",
                                "&Optionen", "", "", "", "&Info"}));
    QStringList articles;
    for (QAction* a : form.mainMenu()->actions()[1]->menu()->actions())
        articles << a->text();
    EXPECT_EQ(articles, (QStringList{"&Download", "&Upload", "&Kataloge", "&Artikel"}));
    EXPECT_EQ(form.windowTitle(), "Internet - Shop");
}

TEST_F(MainWindowTest, MenuActionsRunInsideTheGuard) {
    form.actions.catalogs = [] { throw EFOpenError("Datei /x/db_sys.db kann nicht geöffnet werden"); };
    form.mainMenu()->actions()[1]->menu()->actions()[2]->trigger();
    EXPECT_EQ(seam.texts("error"),
              QStringList{QString::fromUtf8("Datei /x/db_sys.db kann nicht geöffnet werden.")});
}

TEST(ErrorBox, AppendsAFullStopOnlyAfterALetterOrDigit) {
    EXPECT_EQ(errorBoxText("Fehler 12"), "Fehler 12.");
    EXPECT_EQ(errorBoxText(QString::fromUtf8("Größe ß")), QString::fromUtf8("Größe ß."));
    EXPECT_EQ(errorBoxText("Schon fertig."), "Schon fertig.");
    EXPECT_EQ(errorBoxText("'x' ist falsch'"), "'x' ist falsch'");
    EXPECT_EQ(errorBoxText("Zeile\r\n"), "Zeile\r\n");
    EXPECT_EQ(errorBoxText(""), "");
    EXPECT_EQ(programTitle(), "velmoshop");
}

} // namespace
