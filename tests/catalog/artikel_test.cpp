// The article list window, driven through its handlers, its widgets and the scripted seam.
#include "tests/catalog/article_fixture.h"

#include "memtable/qt/tablegrid.h"
#include "tests/support/grid_widths.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>

using namespace velmo;
using namespace velmo::test;

namespace {

const char* const kSave = "Änderungen erst speichern?";

const std::string kKerzen =
    kHeader + "\r\n" +
    article({"K-2", "KZ-3", "Zeller", "Lager Ost", "Tafel", "Tafelkerze", "12,50", "", "", "", "9,90"}) +
    "\r\n" + article({"K-3", "KZ-1", "M\374ller", "Lager Nord", "Stumpen", "Stumpen rot", "4.50"}) + "\r\n" +
    article({"K-1", "KZ-2", "Albrecht", "Lager West", "Stumpen", "Bienenwachs", "12"}) + "\r\n";

class ArticleListTest : public ArticleWindowTest {
protected:
    void openKerzen() {
        writeFile("kerzen.db", kKerzen);
        open("Kerzen;;Stumpen;Tafel;;kerzen.db\r\nGeschenke;;;geschenke.db\r\n");
        choose(0);
        ASSERT_EQ(rows(), 3);
    }
    void closeEditWindow() {
        onEdit([](TForm5& f) { f.close(); });
    }
};

TEST_F(ArticleListTest, OpeningDisablesTheArticleControlsAndAMissingFileGetsTheHeaderAlone) {
    open("Kerzen;;Stumpen;Tafel;;kerzen.db\r\nB\374cher;;Romane;;b\374cher.db\r\n");
    EXPECT_EQ(list.ComboBox1->count(), 2);
    EXPECT_EQ(list.ComboBox1->itemText(1), "Bücher");
    EXPECT_EQ(list.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(list.Label3->text(), "Suche Artikel-Nr.:");
    QWidget* articleControls[] = {list.DBGrid1, list.ComboBox2, list.Edit1,
                                  list.Button1, list.Button2,   list.Button3};
    for (QWidget* w : articleControls)
        EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(list.Button4->isEnabled() && list.Button5->isEnabled());

    choose(0);
    EXPECT_EQ(fileBytes("kerzen.db"), kHeader + "\r\n");
    EXPECT_EQ(rows(), 0);
    for (QWidget* w : articleControls)
        EXPECT_TRUE(w->isEnabled());
    EXPECT_EQ(edit.DBComboBox1->count(), 2);
    EXPECT_EQ(edit.DBComboBox1->itemText(1), "Tafel");

    // The file name is Windows-1252 in the index and UTF-8 on the disk.
    choose(1);
    EXPECT_EQ(fileBytes("b\xC3\xBC"
                        "cher.db"),
              kHeader + "\r\n");
    EXPECT_TRUE(seam.calls().empty());
}

TEST_F(ArticleListTest, GridColumnsTitlesWidthsAndAlignments) {
    struct Column {
        const char* title;
        int width;
        bool right;
    };
    const Column expected[] = {
        {"ArtikelNr", 70, false},   {"Bezeichnung", 186, false},    {"KatalogID", 73, false},
        {"Hersteller", 95, false},  {"Lieferant", 95, false},       {"Warengruppe", 74, false},
        {"Preis", 65, true},        {"Angeb.-Preis", 68, true},     {"Gewicht (g)", 73, true},
        {"Bestand", 59, true},      {"Beschreibung", 187, false},   {"Bild (klein)", 91, false},
        {"Bild (groß)", 88, false}, {"Hersteller-URL", 171, false},
    };
    openKerzen();
    ASSERT_EQ(grid()->columnCount(), 14);
    for (int c = 0; c < 14; ++c) {
        SCOPED_TRACE(c);
        const Column& e = expected[c];
        EXPECT_EQ(grid()->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(e.title));
        // The designed width is the least; a title or value that needs more widens the column.
        EXPECT_GE(list.DBGrid1->columnWidth(c), e.width);
        const auto align =
            grid()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
        const auto cellAlign = grid()->index(0, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        EXPECT_EQ(bool(align & Qt::AlignRight), e.right);
        EXPECT_EQ(bool(cellAlign & Qt::AlignRight), e.right);
    }
    // The cells show the fields of their titles: K-1 sorts first.
    EXPECT_EQ(cell(0, 0), "K-1");
    EXPECT_EQ(cell(0, 1), "Bienenwachs");
    EXPECT_EQ(cell(0, 2), "KZ-2");
    EXPECT_EQ(cell(0, 6), "12");
}

TEST_F(ArticleListTest, TitlesAndValuesShowWholeAndTheOwnersWidthsComeBack) {
    writeFile("kerzen.db",
              kHeader + "\r\n" +
                  article({"K-100000000000000042", "KZ-2", "Kerzenmanufaktur Albrecht & S\xF6hne",
                           "Lager West", "Stumpen mit Goldrand", "Bienenwachs", "12345,67"}) +
                  "\r\n");
    open("Kerzen;;Stumpen;Tafel;;kerzen.db\r\n");
    choose(0);
    ASSERT_EQ(rows(), 1);
    const QTableView& view = *list.DBGrid1;
    for (int c = 0; c < grid()->columnCount(); ++c) {
        const QString title = grid()->headerData(c, Qt::Horizontal).toString();
        SCOPED_TRACE(title.toStdString());
        EXPECT_GE(view.columnWidth(c), headerTextNeeds(view, title));
        EXPECT_GE(view.columnWidth(c), cellTextNeeds(view, cell(0, c)));
    }

    // The owner widens the description and narrows the article number below its text.
    QHeaderView* header = list.DBGrid1->horizontalHeader();
    const int readable = view.columnWidth(0);
    header->resizeSection(1, 333);
    header->resizeSection(0, 12);
    list.close();

    TForm4 again{shop, edit, &main};
    again.show();
    again.ComboBox1->setCurrentIndex(0);
    guarded(seam, [&] { again.ComboBox1Change(); });
    EXPECT_EQ(again.DBGrid1->columnWidth(1), 333);
    EXPECT_EQ(again.DBGrid1->columnWidth(0), readable);
    EXPECT_TRUE(seam.texts("error").isEmpty()) << seam.texts("error").join("|").toStdString();
}

TEST_F(ArticleListTest, SixIndexesSortTheGridAndNameTheSearch) {
    openKerzen();
    // The article read last is current, at its place in article-number order.
    EXPECT_EQ(current("ArtikelNr"), "K-1");
    EXPECT_EQ(list.DBGrid1->currentIndex().row(), 0);

    struct Case {
        const char* item;
        const char* firstRow; // ArtikelNr of the first row
    };
    const Case cases[] = {{"Artikel-Nr.", "K-1"}, {"Katalog-ID", "K-3"},  {"Hersteller", "K-1"},
                          {"Lieferant", "K-3"},   {"Warengruppe", "K-1"}, {"Bezeichnung", "K-1"}};
    ASSERT_EQ(list.ComboBox2->count(), 6);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(list.ComboBox2->itemText(i), cases[i].item);
        chooseIndex(i);
        EXPECT_EQ(list.Label3->text(), QStringLiteral("Suche %1:").arg(cases[i].item));
        EXPECT_EQ(cell(0, 0), cases[i].firstRow);
    }
    // Of the two Stumpen articles the one read last comes first.
    chooseIndex(4);
    EXPECT_EQ(cell(1, 0), "K-3");
    EXPECT_TRUE(seam.calls().empty());
}

TEST_F(ArticleListTest, TypingSearchesNearestInTheCurrentIndex) {
    writeFile("kerzen.db", kHeader + "\r\n" + article({"1", "", "Lange"}) + "\r\n" +
                               article({"2", "", "Nadler"}) + "\r\n" + article({"3", "", "M\374ller"}) +
                               "\r\n" + article({"4", "", "Meyer"}) + "\r\n" +
                               article({"5", "", "Albrecht"}) + "\r\n");
    open("Kerzen;;;kerzen.db\r\n");
    choose(0);
    chooseIndex(2); // Hersteller
    EXPECT_EQ(list.focusWidget(), list.Edit1);

    QTest::keyClicks(list.Edit1, "M");
    EXPECT_EQ(current("Hersteller"), "Meyer");
    list.Edit1->insert(QString::fromUtf8("ü")); // "Mü": the umlaut sorts as its base letter
    EXPECT_EQ(current("Hersteller"), "M\374ller");
    list.Edit1->setText("Mz");
    EXPECT_EQ(current("Hersteller"), "Nadler");
    list.Edit1->setText("Zz"); // nothing at or after it: the cursor stays
    EXPECT_EQ(current("Hersteller"), "Nadler");
    EXPECT_EQ(list.DBGrid1->currentIndex().row(), 4);

    // Choosing an index empties the search field, which searches for "" and finds the first key.
    chooseIndex(0);
    EXPECT_EQ(list.Edit1->text(), "");
    EXPECT_EQ(current("ArtikelNr"), "1");

    // A new catalog resets the index but keeps the search text without searching.
    chooseIndex(2);
    list.Edit1->setText("N");
    choose(0);
    EXPECT_EQ(list.ComboBox2->currentText(), "Artikel-Nr.");
    EXPECT_EQ(list.Label3->text(), "Suche Artikel-Nr.:");
    EXPECT_EQ(list.Edit1->text(), "N");
    EXPECT_EQ(current("ArtikelNr"), "5");
    EXPECT_EQ(cell(0, 0), "1");
}

TEST_F(ArticleListTest, EditWithoutChangeStillAsksAndNoDiscards) {
    openKerzen();
    closeEditWindow();
    list.Button2Click();
    EXPECT_EQ(seam.texts("modal"), QStringList{"Form5"});
    EXPECT_FALSE(list.saved());

    // "&Nein" on the switch: nothing is written (the comma price would have changed the file).
    seam.answerConfirm(false);
    choose(1);
    EXPECT_EQ(seam.texts("confirm"), QStringList{kSave});
    EXPECT_EQ(fileBytes("kerzen.db"), kKerzen);

    // A new article discarded the same way is gone when the catalog is loaded again.
    choose(0);
    closeEditWindow();
    list.Button1Click();
    EXPECT_EQ(rows(), 4);
    seam.answerConfirm(false);
    choose(1);
    choose(0); // not asked: nothing is unsaved after "&Nein"
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(seam.texts("confirm").size(), 2);
    EXPECT_EQ(fileBytes("kerzen.db"), kKerzen);
}

TEST_F(ArticleListTest, SaveKeepsInsertionOrderConvertsThePriceAndWritesEmptyArticles) {
    openKerzen();
    chooseIndex(2);                                // Hersteller: Albrecht, Müller, Zeller
    onEdit([](TForm5& f) { f.Button1->click(); }); // "&Neu", then "&OK" without typing
    list.Button1Click();
    EXPECT_EQ(list.ArticleTable.IndexName(), "Hersteller");

    seam.answerConfirm(true);
    list.Button5->click();
    EXPECT_EQ(seam.texts("confirm"), QStringList{kSave});
    EXPECT_EQ(list.result(), QDialog::Accepted);
    EXPECT_EQ(
        fileBytes("kerzen.db"),
        kHeader + "\r\n" +
            article(
                {"K-2", "KZ-3", "Zeller", "Lager Ost", "Tafel", "Tafelkerze", "12.50", "", "", "", "9,90"}) +
            "\r\n" + article({"K-3", "KZ-1", "M\374ller", "Lager Nord", "Stumpen", "Stumpen rot", "4.50"}) +
            "\r\n" + article({"K-1", "KZ-2", "Albrecht", "Lager West", "Stumpen", "Bienenwachs", "12"}) +
            "\r\n" + std::string(26, ';') + "\r\n");
    // The grid shows the stored price at once and keeps its order; the empty article sorts first.
    EXPECT_EQ(list.ComboBox2->currentText(), "Hersteller");
    EXPECT_EQ(cell(0, 0), "");
    EXPECT_EQ(cell(3, 3), "Zeller");
    EXPECT_EQ(cell(3, 6), "12.50");
    EXPECT_EQ(cell(3, 7), "9,90");
    EXPECT_TRUE(list.saved());
}

// A save that takes longer than the delay shows its progress in the status bar, and only then.
TEST_F(ArticleListTest, ALongSaveShowsItsProgressUntilItEnds) {
    for (const int delay : {60'000, 0}) {
        openKerzen();
        list.setSaveProgressDelay(delay);
        closeEditWindow();
        list.Button2Click(); // unsaved, even without a change
        QSignalSpy values(list.SaveProgress, &QProgressBar::valueChanged);
        seam.answerConfirm(true);
        list.SaveArticles();
        EXPECT_TRUE(list.saved());
        EXPECT_TRUE(list.SaveProgress->isHidden());
        if (delay > 0) {
            EXPECT_EQ(values.count(), 0);
            continue;
        }
        ASSERT_FALSE(values.isEmpty());
        EXPECT_EQ(values.last().at(0).toInt(), 1000);
        EXPECT_TRUE(list.SaveProgress->text().startsWith(QStringLiteral("Artikel werden gespeichert")));
    }
}

TEST_F(ArticleListTest, DeletionAsksAndMarksTheTableUnsaved) {
    openKerzen();
    seam.answerConfirm(false);
    list.Button3Click();
    EXPECT_EQ(rows(), 3);
    EXPECT_TRUE(list.saved());

    // Each way of deleting, from a saved table, leaves it unsaved.
    seam.answerConfirm(true);
    list.Button3->click();
    EXPECT_EQ(rows(), 2);
    EXPECT_FALSE(list.saved());
    seam.answerConfirm(true);
    list.SaveArticles();
    ASSERT_TRUE(list.saved());

    // Ctrl+Del asks with its own buttons; "Abbrechen" keeps the article, "OK" deletes it.
    list.DBGrid1->setFocus();
    seam.answerConfirm(false);
    QTest::keyClick(list.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(rows(), 2);
    seam.answerConfirm(true);
    QTest::keyClick(list.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(seam.texts("okcancel"), QStringList({"Datensatz löschen?", "Datensatz löschen?"}));
    EXPECT_FALSE(list.saved());

    seam.answerConfirm(true);
    list.Button3->click();
    EXPECT_EQ(rows(), 0);
    // Nothing left: the question, then the table's message, and nothing changes.
    seam.answerConfirm(true);
    list.Button3->click();
    EXPECT_EQ(seam.texts("confirm").size(), 5);
    EXPECT_EQ(seam.texts("error"), QStringList{"Operation bei leerer Datenmenge nicht ausführbar."});
    seam.answerConfirm(true);
    list.Button5Click();
    EXPECT_EQ(fileBytes("kerzen.db"), kHeader + "\r\n");
}

TEST_F(ArticleListTest, ACatalogThatCannotBeLoadedLeavesNothingToSaveUnderItsPath) {
    writeFile("kerzen.db", kKerzen);
    ASSERT_EQ(::mkdir(dir.file("kaputt.db").c_str(), 0755), 0); // exists, cannot be read as a file
    open("Kerzen;;;kerzen.db\r\nKaputt;;;kaputt.db\r\nAlt\r\n");
    choose(0);
    closeEditWindow();
    list.Button2Click();

    seam.answerConfirm(true);
    choose(1);
    EXPECT_EQ(seam.texts("error"), QStringList{QString::fromStdString("Datei " + dir.file("kaputt.db") +
                                                                      " kann nicht geöffnet werden.")});
    EXPECT_EQ(fileBytes("kerzen.db").find("12,50"), std::string::npos); // the first catalog was saved
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(list.ComboBox1->currentIndex(), -1);
    EXPECT_FALSE(list.Button1->isEnabled());
    EXPECT_EQ(list.loadedCatalog(), -1);

    // A line holding a name alone has no file to load or to write.
    choose(2);
    EXPECT_EQ(seam.texts("message"),
              QStringList{"Für den Katalog 'Alt' ist keine Katalogdatei eingetragen."});
    EXPECT_FALSE(list.Button1->isEnabled());
    EXPECT_EQ(seam.texts("error").size(), 1);

    list.Button5Click(); // nothing unsaved: no question
    EXPECT_EQ(seam.texts("confirm").size(), 1);
}

TEST_F(ArticleListTest, AFailedSaveKeepsTheCatalogLoadedAndUnsaved) {
    openKerzen();
    closeEditWindow();
    list.Button2Click();
    // The file's place is taken by a directory: the replacement cannot be written.
    ASSERT_EQ(::unlink(dir.file("kerzen.db").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("kerzen.db").c_str(), 0755), 0);

    seam.answerConfirm(true);
    list.Button5->click();
    EXPECT_EQ(seam.texts("error"), QStringList{QString::fromStdString("Datei " + dir.file("kerzen.db") +
                                                                      " kann nicht erstellt werden.")});
    EXPECT_TRUE(list.isVisible());
    EXPECT_FALSE(list.saved());

    seam.answerConfirm(true);
    choose(1);
    EXPECT_EQ(seam.texts("error").size(), 2);
    EXPECT_EQ(list.loadedCatalog(), 0);
    EXPECT_EQ(list.ComboBox1->currentIndex(), 0); // names the catalog still loaded
    EXPECT_EQ(rows(), 3);
    EXPECT_FALSE(list.saved());
}

TEST_F(ArticleListTest, AValueThatWouldShiftTheLineIsNotWritten) {
    openKerzen();
    // Only the edit window's checks keep such values out; the save must hold even without them.
    list.ArticleTable.SeekNearest("K-3");
    list.ArticleTable.Edit();
    list.ArticleTable.fieldByName("Bezeichnung").setAsString("rot;;gro\337");
    list.ArticleTable.Post();
    list.ArticleTable.SeekNearest("K-1");
    closeEditWindow();
    list.Button2Click();

    seam.answerConfirm(true);
    list.Button5->click();
    ASSERT_EQ(seam.texts("error").size(), 1);
    EXPECT_TRUE(seam.texts("error")[0].startsWith(
        "Das Feld 'Bezeichnung' darf die Zeichenfolge ';;' nicht enthalten."));
    EXPECT_EQ(fileBytes("kerzen.db"), kKerzen);
    EXPECT_TRUE(list.isVisible());
    EXPECT_FALSE(list.saved());
    EXPECT_EQ(current("ArtikelNr"), "K-3");
    EXPECT_EQ(list.ArticleTable.IndexName(), "ArtikelNr");
}

// db_sys.db may come from the server: a file name in it must not reach outside the data directory.
TEST_F(ArticleListTest, ACatalogFileNameThatLeavesTheDataDirectoryIsRefused) {
    // One level down, so that even a fault writes nothing outside the scratch directory.
    std::filesystem::create_directory(dir.file("daten"));
    shop.ShopSettings.localDat = QString::fromStdString(dir.file("daten"));
    writeFile("daten/db_sys.db", "Weg;;;../weg.db\r\nUnter;;G;;sub/x.db\r\n");
    list.show();
    QApplication::processEvents();
    choose(0);
    choose(1);
    EXPECT_EQ(list.loadedCatalog(), -1);
    EXPECT_FALSE(list.Button1->isEnabled());
    const QStringList errors = seam.texts("error");
    ASSERT_EQ(errors.size(), 2);
    EXPECT_EQ(errors[0],
              "Die Katalogdatei '../weg.db' des Katalogs 'Weg' wird nicht geöffnet: Ein Dateiname im "
              "Datenverzeichnis enthält kein '/', kein '\\', kein '..' und keine Steuerzeichen.");
    EXPECT_FALSE(std::filesystem::exists(dir.file("weg.db")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("daten/sub")));
}

TEST_F(ArticleListTest, ReopeningForgetsTheLoadedCatalog) {
    openKerzen();
    closeEditWindow();
    list.Button2Click();
    list.Button4->click(); // "&Abbrechen": no question, nothing saved
    EXPECT_FALSE(list.isVisible());
    EXPECT_TRUE(seam.texts("confirm").isEmpty());

    list.show();
    QApplication::processEvents();
    EXPECT_EQ(list.ComboBox1->currentIndex(), -1);
    EXPECT_EQ(rows(), 0);
    EXPECT_FALSE(list.Button2->isEnabled());
    EXPECT_TRUE(list.saved());
    EXPECT_EQ(fileBytes("kerzen.db"), kKerzen);
}

TEST_F(ArticleListTest, DoubleClickOnTheGridEdits) {
    openKerzen();
    closeEditWindow();
    const QRect row = list.DBGrid1->visualRect(grid()->index(1, 0));
    QTest::mouseDClick(list.DBGrid1->viewport(), Qt::LeftButton, {}, row.center());
    EXPECT_EQ(seam.texts("modal"), QStringList{"Form5"});
    EXPECT_FALSE(list.saved());
}

} // namespace
