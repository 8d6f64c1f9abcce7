// The catalog editor and its name prompt, driven through their handlers and the scripted seam.
#include "catalog/kataloge.h"
#include "catalog/katneu.h"
#include "shell/shop.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::writeBytes;

namespace {

const QString kNoGroupsMessage =
    QString::fromUtf8("Ohne Kataloggruppen kann der Katalog nicht eingetragen werden!");

class CatalogEditorTest : public ::testing::Test {
protected:
    void SetUp() override { shop.ShopSettings.localDat = QString::fromStdString(dir.path()); }

    void open(const std::string& index) {
        writeBytes(indexPath(), index);
        open();
    }
    // Shown as the menu would, then made the active window so that focus changes are delivered.
    void open() {
        editor.show();
        editor.activateWindow();
        QApplication::processEvents();
    }

    // "&Neu", typing name into the prompt and closing it with "&OK" (or "&Abbrechen").
    void newCatalog(const QString& name, bool ok = true) {
        seam.onModal([name, ok](QDialog& d) {
            auto& prompt = static_cast<TForm3&>(d);
            prompt.Edit1->setText(name);
            (ok ? prompt.Button1 : prompt.Button2)->click();
            return d.result();
        });
        editor.Button3Click();
    }

    void choose(int i) {
        editor.ComboBox1->setCurrentIndex(i);
        editor.ComboBox1Change();
    }

    std::string indexPath() const { return dir.file("db_sys.db"); }
    std::string indexBytes() const { return readBytes(indexPath()); }

    test::TempDir dir;
    test::ScriptedDialogs seam;
    Shop shop{seam};
    TForm3 prompt{seam};
    TForm2 editor{shop, prompt};
};

TEST_F(CatalogEditorTest, NewCatalogWithTwoGroupsIsSavedByOkFromTheGroupField) {
    open("Sonstiges;;;sonstiges.db\r\n");
    newCatalog("Kerzen");
    EXPECT_EQ(editor.Edit1->text(), "kerzen.db");
    EXPECT_EQ(editor.indexLines().back(), "Kerzen");
    EXPECT_EQ(QApplication::focusWidget(), editor.Memo1);

    editor.Memo1->setPlainText("Stumpen\nTafel");
    // "&OK" while the group field has the focus: its leave step runs before the save.
    editor.Button1->click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(indexBytes(), "Sonstiges;;;sonstiges.db\r\nKerzen;;Stumpen;Tafel;;kerzen.db\r\n");
    EXPECT_TRUE(seam.texts("message").isEmpty());
}

TEST_F(CatalogEditorTest, NewNameMustBeginWithAToZAndIsOtherwiseIgnoredSilently) {
    struct Case {
        const char* typed; // UTF-8
        bool ok;
        // Windows-1252 (\374 is ü) after leaving the group field with "Romane", "" when ignored
        const char* line;
    };
    const Case cases[] = {
        {"Bücher", true, "B\374cher;;Romane;;b\374cher.db"},
        {"Neue Artikel", true, "Neue Artikel;;Romane;;neue artikel.db"},
        {"Äpfel", true, ""},
        {"kerzen", true, ""},
        {"", true, ""},
        {"Kerzen", false, ""}, // "&Abbrechen"
    };
    open("");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        const Lines before = editor.indexLines();
        newCatalog(QString::fromUtf8(c.typed), c.ok);
        editor.Memo1->setPlainText("Romane");
        editor.Memo1Exit();
        if (*c.line) {
            ASSERT_EQ(editor.indexLines().size(), before.size() + 1);
            EXPECT_EQ(editor.indexLines().back(), c.line);
            EXPECT_EQ(editor.ComboBox1->currentText(), QString::fromUtf8(c.typed));
        } else {
            EXPECT_EQ(editor.indexLines(), before);
            EXPECT_EQ(editor.ComboBox1->count(), static_cast<int>(before.size()));
        }
    }
    EXPECT_TRUE(seam.texts("message").isEmpty());
    editor.Button1Click();
    // Umlauts reach the file as their Windows-1252 bytes.
    EXPECT_EQ(indexBytes(), "B\374cher;;Romane;;b\374cher.db\r\nNeue Artikel;;Romane;;neue artikel.db\r\n");
}

TEST_F(CatalogEditorTest, EmptyGroupLinesAreDropped) {
    open("");
    newCatalog("Kerzen");
    editor.Memo1->setPlainText("\nStumpen\n\n\nTafel\n\n");
    editor.Memo1Exit();
    EXPECT_EQ(editor.indexLines().back(), "Kerzen;;Stumpen;Tafel;;kerzen.db");
    editor.Memo1->setPlainText("\n\n");
    editor.Edit1->setText("kerzen2.db");
    editor.Edit1Exit();
    EXPECT_EQ(editor.indexLines().back(), "Kerzen;;;kerzen2.db");
}

TEST_F(CatalogEditorTest, EmptyGroupFieldIsReportedOnlyAfterANameWasAccepted) {
    open("Alt\r\nSonstiges;;;sonstiges.db\r\n");
    choose(0); // a line holding a name alone: no groups, no file name
    EXPECT_EQ(editor.Memo1->toPlainText(), "");
    EXPECT_TRUE(editor.Memo1Exit());
    EXPECT_TRUE(seam.calls().empty());

    newCatalog("Kerzen");
    EXPECT_FALSE(editor.Memo1Exit());
    EXPECT_EQ(seam.texts("message"), QStringList{kNoGroupsMessage});
    EXPECT_EQ(QApplication::focusWidget(), editor.Memo1);
    EXPECT_EQ(editor.indexLines().back(), "Kerzen");

    // "&OK" from the empty group field shows the message again and keeps the window open.
    editor.Button1->click();
    EXPECT_EQ(seam.texts("message").size(), 2);
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(indexBytes(), "Alt\r\nSonstiges;;;sonstiges.db\r\n");

    // The flag stays set: choosing the catalog with no groups (one empty line) is no complaint,
    // emptying the field of another one is.
    choose(1);
    EXPECT_TRUE(editor.Memo1Exit());
    EXPECT_EQ(editor.indexLines()[1], "Sonstiges;;;sonstiges.db");
    editor.Memo1->clear();
    EXPECT_FALSE(editor.Edit1Exit());
    EXPECT_EQ(seam.texts("message").size(), 3);

    // "&Neu" from that empty field does nothing but repeat the message.
    editor.Button3Click();
    EXPECT_EQ(seam.texts("message").size(), 4);
    EXPECT_EQ(seam.texts("modal").size(), 1); // the prompt of the first "&Neu" only

    // "&Neu" clears it; a cancelled prompt leaves it cleared.
    choose(1);
    newCatalog("Kerzen", false);
    EXPECT_FALSE(prompt.newCatalogNamed());
    editor.Memo1->clear();
    EXPECT_TRUE(editor.Memo1Exit());
    EXPECT_EQ(seam.texts("message").size(), 4);
}

TEST_F(CatalogEditorTest, ChoosingShowsTheLineAndLeavingRebuildsOnlyWhatChanged) {
    open("Kerzen;;Stumpen;Tafel;;kerzen.db\r\nSonstiges;;;sonstiges.db\r\nKerzen;;Stumpen;;k2.db\r\n");
    EXPECT_EQ(editor.selectedCatalog(), -1);
    EXPECT_EQ(editor.ComboBox1->count(), 3);
    choose(0);
    EXPECT_EQ(editor.Edit1->text(), "kerzen.db");
    EXPECT_EQ(editor.Memo1->toPlainText(), "Stumpen\nTafel");
    editor.Edit1->setText("kerzen_neu.db");
    editor.Edit1Exit();
    EXPECT_EQ(editor.indexLines()[0], "Kerzen;;Stumpen;Tafel;;kerzen_neu.db");

    choose(1);
    EXPECT_EQ(editor.Memo1->toPlainText(), "\n"); // one empty group
    editor.Memo1Exit();
    EXPECT_EQ(editor.indexLines()[1], "Sonstiges;;;sonstiges.db");
    // With an empty group field the file name is not taken over.
    editor.Memo1->clear();
    editor.Edit1->setText("anders.db");
    editor.Edit1Exit();
    EXPECT_EQ(editor.indexLines()[1], "Sonstiges;;;sonstiges.db");

    // Two catalogs of the same name keep their own lines.
    choose(2);
    editor.Memo1Exit();
    EXPECT_EQ(editor.indexLines()[2], "Kerzen;;Stumpen;;k2.db");
}

TEST_F(CatalogEditorTest, TabbingOutOfTheGroupFieldRebuildsTheLine) {
    open("Kerzen;;Stumpen;;kerzen.db\r\n");
    choose(0);
    editor.Memo1->setFocus();
    editor.Memo1->setPlainText("Stumpen\nTafel");
    // Focus taken by another window (a message box) is not leaving the field.
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(editor.Memo1, &away);
    EXPECT_EQ(editor.indexLines()[0], "Kerzen;;Stumpen;;kerzen.db");
    QTest::keyClick(editor.Memo1, Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), editor.Memo1);
    EXPECT_EQ(editor.indexLines()[0], "Kerzen;;Stumpen;Tafel;;kerzen.db");
}

TEST_F(CatalogEditorTest, ValuesThatWouldBreakTheLineAreRefusedAtEntry) {
    const char* const kNotAPlainName = "Das Feld 'Katalogdatei' muss einen Dateinamen im Datenverzeichnis "
                                       "enthalten: ohne '/', '\\', '..' und Steuerzeichen.";
    open("Kerzen;;Stumpen;;kerzen.db\r\n");
    choose(0);
    struct Case {
        const char* groups;
        const char* file;
        QWidget* field;
        const char* message;
    };
    const Case cases[] = {
        {"Stumpen\nTa;fel", "kerzen.db", editor.Memo1,
         "Das Feld 'Kataloggruppen' darf kein Semikolon (;) enthalten."},
        {"Stumpen", "ker;;zen.db", editor.Edit1,
         "Das Feld 'Katalogdatei' darf die Zeichenfolge ';;' nicht enthalten."},
        {"Stumpen", ";kerzen.db", editor.Edit1,
         "Das Feld 'Katalogdatei' darf nicht mit einem Semikolon (;) beginnen."},
        {"Stumpen", "kerzen\r.db", editor.Edit1,
         "Das Feld 'Katalogdatei' darf keinen Zeilenumbruch enthalten."},
        // The file name becomes a path in the data directory: nothing that leaves it.
        {"Stumpen", "../kerzen.db", editor.Edit1, kNotAPlainName},
        {"Stumpen", "ker\tzen.db", editor.Edit1, kNotAPlainName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        seam.clear();
        editor.Memo1->setPlainText(c.groups);
        editor.Edit1->setText(c.file);
        EXPECT_FALSE(editor.Memo1Exit());
        EXPECT_EQ(seam.texts("message"), QStringList{QString::fromUtf8(c.message)});
        EXPECT_EQ(QApplication::focusWidget(), c.field);
        EXPECT_EQ(editor.indexLines()[0], "Kerzen;;Stumpen;;kerzen.db");
    }
    // "&OK" runs the refused leave step again and neither saves nor closes.
    editor.Button1->click();
    EXPECT_TRUE(editor.isVisible());
    EXPECT_EQ(indexBytes(), "Kerzen;;Stumpen;;kerzen.db\r\n");

    // The prompt refuses a name that would end before its ";;" and stays open.
    seam.clear();
    bool stayedOpen = false;
    seam.onModal([&](QDialog& d) {
        auto& p = static_cast<TForm3&>(d);
        p.Edit1->setText("Kerzen;");
        p.Button1->click();
        stayedOpen = p.isVisible();
        p.Button2->click();
        return d.result();
    });
    editor.Edit1->setText("kerzen.db");
    editor.Button3Click();
    EXPECT_TRUE(stayedOpen);
    EXPECT_FALSE(prompt.newCatalogNamed());
    EXPECT_EQ(
        seam.texts("message"),
        QStringList{QString::fromUtf8("Das Feld 'Katalogname' darf nicht mit einem Semikolon (;) enden.")});
    EXPECT_EQ(editor.indexLines().size(), 1u);
}

TEST_F(CatalogEditorTest, DeleteThenOkDropsTheLineAndKeepsTheArticleFile) {
    writeBytes(dir.file("kerzen.db"), "Artikel-Nr;;Katalog-ID\r\n");
    open("Kerzen;;Stumpen;;kerzen.db\r\nB\374cher;;;b\374cher.db\r\n");
    choose(0);
    editor.Button4Click();
    EXPECT_EQ(editor.selectedCatalog(), -1);
    EXPECT_EQ(editor.ComboBox1->count(), 1);
    EXPECT_EQ(editor.ComboBox1->itemText(0), QString::fromUtf8("Bücher"));
    EXPECT_EQ(editor.Edit1->text(), "");
    EXPECT_EQ(editor.Memo1->toPlainText(), "");
    editor.Button4Click(); // nothing selected: nothing happens
    EXPECT_EQ(editor.indexLines().size(), 1u);

    editor.Button1Click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(indexBytes(), "B\374cher;;;b\374cher.db\r\n");
    EXPECT_EQ(readBytes(dir.file("kerzen.db")), "Artikel-Nr;;Katalog-ID\r\n");
    EXPECT_TRUE(seam.calls().empty());
}

TEST_F(CatalogEditorTest, CancelLeavesTheFileAndTheNextOpeningReloadsIt) {
    const std::string index = "Kerzen;;Stumpen;;kerzen.db\r\nSonstiges;;;sonstiges.db";
    open(index);
    choose(0);
    editor.Button4Click();
    newCatalog("Tee");
    editor.Memo1->setPlainText(QString::fromUtf8("Grün"));
    editor.Memo1Exit();
    editor.Button2Click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(indexBytes(), index);

    open();
    EXPECT_EQ(editor.indexLines(), (Lines{"Kerzen;;Stumpen;;kerzen.db", "Sonstiges;;;sonstiges.db"}));
    EXPECT_EQ(editor.ComboBox1->count(), 2);
    EXPECT_EQ(editor.selectedCatalog(), -1);
    EXPECT_EQ(QApplication::focusWidget(), editor.ComboBox1);
}

TEST_F(CatalogEditorTest, WriteProtectedIndexKeepsItsContentsAndTellsThePath) {
    const std::string index = "Kerzen;;Stumpen;;kerzen.db\r\n";
    open(index);
    ASSERT_EQ(::chmod(indexPath().c_str(), 0444), 0);
    choose(0);
    editor.Button4Click();
    editor.Button1Click();
    EXPECT_EQ(seam.texts("message"),
              QStringList{QString::fromUtf8(
                  ("Datei " + indexPath() + " ist schreibgeschützt. Kann Daten nicht speichern!").c_str())});
    EXPECT_EQ(indexBytes(), index);
    EXPECT_FALSE(editor.isVisible());
}

TEST_F(CatalogEditorTest, MissingIndexIsCreatedEmptyAndTheListsAreKept) {
    open("Kerzen;;Stumpen;;kerzen.db\r\n");
    editor.Button2Click();
    ASSERT_EQ(::unlink(indexPath().c_str()), 0);

    open();
    EXPECT_EQ(indexBytes(), "");
    EXPECT_EQ(editor.ComboBox1->count(), 1);
    editor.Button1Click();
    EXPECT_EQ(indexBytes(), "Kerzen;;Stumpen;;kerzen.db\r\n");
}

TEST_F(CatalogEditorTest, UnreadableIndexIsNeitherReplacedNorEdited) {
    ASSERT_EQ(::mkdir(indexPath().c_str(), 0755), 0);
    open();
    EXPECT_EQ(seam.texts("error"),
              QStringList{QString::fromStdString("Datei " + indexPath() + " kann nicht geöffnet werden.")});
    QApplication::processEvents();
    EXPECT_FALSE(editor.isVisible());
    struct stat st {};
    ASSERT_EQ(::stat(indexPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

} // namespace
