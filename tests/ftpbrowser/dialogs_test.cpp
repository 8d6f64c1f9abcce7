// The permissions and new-directory dialogs, through their buttons.
#include "ftpbrowser/chmod.h"
#include "ftpbrowser/mkdir.h"
#include "tests/support/scripted_dialogs.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace velmo;
using velmo::test::ScriptedDialogs;

namespace {

// The boxes ticked, owner read first.
std::array<QCheckBox*, 9> boxesOf(TForm12& f) {
    return {f.CheckBox1, f.CheckBox2, f.CheckBox3, f.CheckBox4, f.CheckBox5,
            f.CheckBox6, f.CheckBox7, f.CheckBox8, f.CheckBox9};
}

TEST(PermissionsDialog, StartsWithReadForEverybodyInThreeBlankPaddedGroups) {
    ScriptedDialogs scripted;
    TForm12 f(scripted);
    EXPECT_EQ(f.windowTitle(), "Permissions");
    EXPECT_EQ(f.size(), QSize(339, 218));
    QStringList groups;
    for (QGroupBox* g : f.findChildren<QGroupBox*>())
        groups << g->title();
    EXPECT_EQ(groups, (QStringList{" Owner  ", " Group  ", " Other  "}));
    QStringList ticks;
    for (QCheckBox* b : boxesOf(f))
        ticks << (b->isChecked() ? b->text() : "-");
    EXPECT_EQ(ticks, (QStringList{"Read", "-", "-", "Read", "-", "-", "Read", "-", "-"}));
    f.show();
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_EQ(f.PermissionMode, 444);
    EXPECT_EQ(f.result(), QDialog::Accepted);
}

TEST(PermissionsDialog, CancelOrCloseComputesNothingAndTheTicksStay) {
    ScriptedDialogs scripted;
    TForm12 f(scripted);
    f.CheckBox2->setChecked(true);
    f.PermissionMode = 0;
    f.show();
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    EXPECT_EQ(f.PermissionMode, 0);
    EXPECT_EQ(f.result(), QDialog::Rejected);
    f.show();
    f.close();
    EXPECT_EQ(f.PermissionMode, 0);
    f.show();
    EXPECT_TRUE(f.CheckBox2->isChecked());
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_EQ(f.PermissionMode, 644);
}

TEST(NewDirectoryDialog, OnlyOkYieldsTheNameExactlyAsTyped) {
    ScriptedDialogs scripted;
    TForm13 f(scripted);
    EXPECT_EQ(f.windowTitle(), "new Directory");
    EXPECT_EQ(f.size(), QSize(254, 168));
    EXPECT_TRUE(f.Edit1->text().isEmpty());

    f.show();
    QTest::keyClicks(f.Edit1, "  neue Bilder ");
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_EQ(f.NewDirName, "  neue Bilder ");

    // The field keeps the name; the next showing starts without one, and Abbrechen or the close
    // box leave it so.
    f.show();
    EXPECT_EQ(f.Edit1->text(), "  neue Bilder ");
    EXPECT_TRUE(f.NewDirName.isEmpty());
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    EXPECT_TRUE(f.NewDirName.isEmpty());
    f.show();
    f.close();
    EXPECT_TRUE(f.NewDirName.isEmpty());

    // OK without a change makes the same name again; OK on an empty field yields nothing.
    f.show();
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_EQ(f.NewDirName, "  neue Bilder ");
    f.show();
    f.Edit1->clear();
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    EXPECT_TRUE(f.NewDirName.isEmpty());
}

TEST(NewDirectoryDialog, OpensWhereItWasPutNotCentred) {
    ScriptedDialogs scripted;
    TForm13 f(scripted);
    f.move(37, 41);
    f.show();
    EXPECT_EQ(f.pos(), QPoint(37, 41));
}

} // namespace
