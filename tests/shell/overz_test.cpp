// The directory settings window: pick target, picking, storing, cancelling.
#include "platform/settings_store.h"
#include "shell/overz.h"
#include "shell/shop.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

using namespace velmo;

namespace {

class DirectoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        shop.ShopSettings.localProg = "/p";
        shop.ShopSettings.localDat = "/d";
        shop.ShopSettings.localBg = "/g";
        shop.ShopSettings.localBk = "/k";
        shop.ShopSettings.docRoot = "/htdocs/";
        QDir(QString::fromStdString(dir.path())).mkpath("a/b");
        window.show();
        window.activateWindow();
    }

    QString sub(const char* name) const { return QString::fromStdString(dir.path()) + "/" + name; }

    test::TempDir dir;
    test::ScriptedDialogs seam;
    Shop shop{seam};
    TForm10 window{shop};
};

TEST_F(DirectoryWindowTest, ShowingFillsTheFieldsAndTargetsTheFirst) {
    EXPECT_EQ(window.pickTarget(), 1);
    EXPECT_EQ(window.Edit2->text(), "/d");
    EXPECT_EQ(window.Edit5->text(), "/htdocs/");
    window.setDirectory(sub("a"));
    EXPECT_EQ(window.Edit1->text(), sub("a"));
    EXPECT_EQ(window.Edit2->text(), "/d");
}

TEST_F(DirectoryWindowTest, TargetIsTheLastDirectoryFieldEntered) {
    window.Edit3->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(window.pickTarget(), 3);
    // Neither the root field nor the tree changes the target.
    window.Edit5->setFocus();
    window.DirectoryListBox1->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(window.pickTarget(), 3);
    window.setDirectory(sub("a/b"));
    EXPECT_EQ(window.Edit3->text(), sub("a/b"));
    EXPECT_EQ(window.Edit5->text(), "/htdocs/");
}

TEST_F(DirectoryWindowTest, HiddenFoldersAreLeftOutOfTheListUnlessTheyAreOnThePath) {
    QDir(sub("a")).mkpath(".versteckt/innen");
    auto names = [this] {
        QStringList shown;
        for (int i = 0; i < window.DirectoryListBox1->count(); ++i)
            shown << window.DirectoryListBox1->item(i)->text().trimmed();
        return shown;
    };
    window.setDirectory(sub("a"));
    EXPECT_EQ(names().last(), "b");
    EXPECT_FALSE(names().contains(".versteckt"));
    // Entered by its path, a hidden folder is shown as the current one, with what it holds.
    window.setDirectory(sub("a/.versteckt"));
    EXPECT_EQ(names().mid(names().size() - 2), QStringList({".versteckt", "innen"}));
}

TEST_F(DirectoryWindowTest, KeyInTheTreeCopiesTheDirectoryCurrentBeforeIt) {
    window.setDirectory(sub("a"));
    window.Edit2->setFocus();
    QApplication::processEvents();
    QTest::keyClick(window.DirectoryListBox1, Qt::Key_Down); // moves to the sub-directory b
    EXPECT_EQ(window.Edit2->text(), sub("a"));
    QTest::keyClick(window.DirectoryListBox1, Qt::Key_Return); // opens b
    EXPECT_EQ(window.directory(), sub("a/b"));
    EXPECT_EQ(window.Edit2->text(), sub("a/b"));
}

TEST_F(DirectoryWindowTest, ChangingTheDriveWritesItsDirectoryAtOnce) {
    window.Edit4->setFocus();
    QApplication::processEvents();
    // A second mounted file system: the scratch directory.
    const QString drive = QString::fromStdString(dir.path());
    window.DriveComboBox1->addItem(drive);
    window.DriveComboBox1->setCurrentText(drive);
    EXPECT_EQ(window.Edit4->text(), drive);
    window.setDirectory(sub("a"));
    // Back to the first drive and again to the second: each keeps its directory.
    window.DriveComboBox1->setCurrentIndex(0);
    EXPECT_NE(window.Edit4->text(), sub("a"));
    window.DriveComboBox1->setCurrentText(drive);
    EXPECT_EQ(window.Edit4->text(), sub("a"));
}

TEST_F(DirectoryWindowTest, OkStoresTheFiveValuesAsTyped) {
    window.Edit1->setText("/neu/prog");
    window.Edit2->setText(sub("a"));
    window.Edit3->setText("/neu/gross");
    window.Edit4->setText("/neu/klein");
    window.Edit5->clear();
    window.Button1->click();
    EXPECT_EQ(shop.ShopSettings.localProg, "/neu/prog");
    EXPECT_EQ(shop.ShopSettings.localDat, sub("a"));
    EXPECT_EQ(shop.ShopSettings.localBg, "/neu/gross");
    EXPECT_EQ(shop.ShopSettings.localBk, "/neu/klein");
    EXPECT_EQ(shop.ShopSettings.docRoot, "");
    auto store = SettingsStore::open();
    EXPECT_EQ(store->readString("localProg"), "/neu/prog");
    EXPECT_EQ(store->readString("localBg"), "/neu/gross");
    EXPECT_EQ(store->readString("localBk"), "/neu/klein");
    EXPECT_TRUE(store->valueExists("docRoot"));
    EXPECT_EQ(store->readString("docRoot"), "");
    EXPECT_FALSE(window.isVisible());
}

TEST_F(DirectoryWindowTest, CancelStoresNothingAndTheNextShowingDiscardsTheEdits) {
    window.setDirectory(sub("a"));
    window.Button2->click();
    EXPECT_EQ(shop.ShopSettings.localProg, "/p");
    EXPECT_FALSE(SettingsStore::open()->valueExists("localProg"));

    // The window system showing the window again (after un-minimising) is no new showing.
    window.show();
    window.Edit1->setText("/getippt");
    QShowEvent restored;
    QSpontaneKeyEvent::setSpontaneous(&restored);
    static_cast<QObject&>(window).event(&restored); // sendEvent() would clear the flag
    EXPECT_EQ(window.Edit1->text(), "/getippt");

    window.hide();
    window.show();
    EXPECT_EQ(window.Edit1->text(), "/p");
}

TEST_F(DirectoryWindowTest, UnavailableStoreChangesNothingButCloses) {
    // A file where the store's folder should be: not even root can create the store.
    test::writeBytes(dir.file("blocker"), "");
    ::setenv("VELMO_SETTINGS", (dir.path() + "/blocker/store.ini").c_str(), 1);
    window.Edit1->setText("/x");
    window.Button1->click();
    EXPECT_EQ(shop.ShopSettings.localProg, "/p");
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_FALSE(window.isVisible());
}

} // namespace
