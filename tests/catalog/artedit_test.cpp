// The article edit window, opened by the article list window through the scripted seam.
#include "tests/catalog/article_fixture.h"

#include "memtable/qt/boundeditors.h"
#include "shell/picturedialog.h"

#include <QTest>

using namespace velmo;
using namespace velmo::test;

namespace {

class ArticleEditTest : public ArticleWindowTest {
protected:
    void SetUp() override {
        ArticleWindowTest::SetUp();
        writeFile("kerzen.db", kHeader + "\r\nK-1;;KZ-1;;Albrecht\r\n");
        open("Kerzen;;Stumpen;Tafel;;kerzen.db\r\n");
        choose(0);
    }
    // "&Bearbeiten" on the current article with this script in the edit window.
    void editCurrent(const std::function<void(TForm5&)>& script) {
        onEdit(script);
        list.Button2Click();
    }
    std::string savedLine(int article) {
        seam.answerConfirm(true);
        list.Button5Click();
        return splitLines(fileBytes("kerzen.db")).at(static_cast<std::size_t>(article) + 1);
    }
};

TEST_F(ArticleEditTest, EveryFieldIsBoundToItsArticleFieldWithItsLength) {
    struct Case {
        BoundLineEdit* TForm5::*editor;
        const char* field;
        int size;
    };
    const Case cases[] = {
        {&TForm5::DBEdit1, "ArtikelNr", 20},      {&TForm5::DBEdit2, "KatalogID", 40},
        {&TForm5::DBEdit3, "Lieferant", 50},      {&TForm5::DBEdit4, "Hersteller", 50},
        {&TForm5::DBEdit5, "HerstellerURL", 100}, {&TForm5::DBEdit6, "Bezeichnung", 100},
        {&TForm5::DBEdit7, "Preis", 20},          {&TForm5::DBEdit8, "AngebPreis", 20},
        {&TForm5::DBEdit9, "Gewicht", 20},        {&TForm5::DBEdit10, "Bestand", 12},
        {&TForm5::DBEdit11, "thumb", 20},         {&TForm5::DBEdit12, "picture", 20},
    };
    QWidget* focus = nullptr;
    editCurrent([&](TForm5& f) {
        focus = f.focusWidget();
        EXPECT_EQ(f.DBEdit1->text(), "K-1");
        EXPECT_EQ(f.DBEdit4->text(), "Albrecht");
        for (const Case& c : cases) {
            (f.*c.editor)->selectAll();
            QTest::keyClicks(f.*c.editor, QStringLiteral("w%1").arg(c.field));
        }
        f.DBMemo1->setPlainText("Beschreibung");
        QTest::keyClick(f.DBComboBox1, Qt::Key_Down); // the first group
        f.Button1->click();
    });
    EXPECT_EQ(focus, edit.DBEdit1);
    EXPECT_EQ(list.ArticleTable.state(), TableState::Browse);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_EQ((edit.*c.editor)->maxLength(), c.size);
        EXPECT_EQ(current(c.field), ("w" + std::string(c.field)).substr(0, static_cast<std::size_t>(c.size)));
    }
    EXPECT_EQ(current("Beschreibung"), "Beschreibung");
    EXPECT_EQ(current("Warengruppe"), "Stumpen");
}

TEST_F(ArticleEditTest, ChosenPicturesGoIntoTheArticleAndTheirNamesIntoThePendingLists) {
    const std::string name20 = "abcdefghijklmnop.jpg"; // as long as the field
    const std::string name21 = "abcdefghijklmnopq.jpg";
    editCurrent([&](TForm5& f) {
        seam.answerPicture("C:\\Bilder\\klein\\tasse.jpg");
        f.SpeedButton1->click();
        seam.answerPicture(QString::fromStdString("/bilder/gross/" + name20));
        f.SpeedButton2->click();
        // Longer than the field: refused, since the article would name a file never uploaded.
        seam.answerPicture(QString::fromStdString("/bilder/gross/" + name21));
        f.SpeedButton2->click();
        // A name without a Windows-1252 form would be stored with "?": refused.
        seam.answerPicture(QString::fromUtf8("/bilder/gross/foto✓.jpg"));
        f.SpeedButton2->click();
        f.SpeedButton1->click(); // cancelled: nothing changes
        f.close();               // by the title bar: the choices stay
    });
    EXPECT_EQ(seam.texts("picture"), QStringList({"/bilder/klein", "/bilder/gross", "/bilder/gross",
                                                  "/bilder/gross", "/bilder/klein"}));
    EXPECT_EQ(seam.lastPictureFilter, pictureNameFilters());
    EXPECT_EQ(
        seam.texts("message"),
        QStringList({QString::fromStdString(
                         "Der Dateiname '" + name21 +
                         "' ist zu lang: Das Bildfeld des Artikels fasst höchstens 20 Zeichen. Bitte "
                         "benennen Sie die Datei um und wählen Sie sie erneut."),
                     QString::fromUtf8("Der Dateiname 'foto✓.jpg' enthält Zeichen, die es im Zeichensatz "
                                       "des Shops (Windows-1252) nicht gibt. Bitte benennen Sie die Datei "
                                       "um und wählen Sie sie erneut.")}));
    EXPECT_EQ(current("thumb"), "tasse.jpg");
    EXPECT_EQ(current("picture"), name20);
    EXPECT_EQ(shop.MemoThumb, Lines{"tasse.jpg"});
    EXPECT_EQ(shop.MemoPic, Lines{name20});

    // The same picture for a new article is queued again; names reach the lists as Windows-1252.
    onEdit([&](TForm5& f) {
        seam.answerPicture("C:\\Bilder\\klein\\tasse.jpg");
        f.SpeedButton1->click();
        seam.answerPicture(QString::fromUtf8("/bilder/gross/Bär.jpg"));
        f.SpeedButton2->click();
        f.Button1->click();
    });
    list.Button1Click();
    EXPECT_EQ(current("thumb"), "tasse.jpg");
    EXPECT_EQ(current("picture"), "B\344r.jpg");
    EXPECT_EQ(shop.MemoThumb, Lines({"tasse.jpg", "tasse.jpg"}));
    EXPECT_EQ(shop.MemoPic, Lines({name20, "B\344r.jpg"}));
}

TEST_F(ArticleEditTest, TheDescriptionIsStoredAsOneLineHoweverTheWindowCloses) {
    editCurrent([](TForm5& f) {
        f.DBMemo1->setPlainText("eins\nzwei\ndrei\n");
        f.Button1->click();
    });
    EXPECT_EQ(current("Beschreibung"), "eins zwei drei");
    EXPECT_EQ(edit.DBMemo1->lineWrapMode(), QPlainTextEdit::NoWrap);

    editCurrent([](TForm5& f) {
        EXPECT_EQ(f.DBMemo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        f.DBMemo1->setPlainText(QString::fromUtf8("vier\nfünf"));
        f.close();
    });
    EXPECT_EQ(current("Beschreibung"), "vier f\374nf");
    EXPECT_EQ(savedLine(0), article({"K-1", "KZ-1", "Albrecht", "", "", "", "", "", "", "vier f\374nf"}));
}

TEST_F(ArticleEditTest, AValueHoldingASeparatorKeepsTheWindowOpen) {
    struct Case {
        BoundLineEdit* TForm5::*editor;
        const char* typed;
        const char* message;
    };
    const Case cases[] = {
        {&TForm5::DBEdit6, "rot;;blau", "Das Feld 'Bezeichnung' darf die Zeichenfolge ';;' nicht enthalten."},
        {&TForm5::DBEdit7, "12;", "Das Feld 'Preis' darf nicht mit einem Semikolon (;) enden."},
        {&TForm5::DBEdit5, "http://a;;b",
         "Das Feld 'Hersteller - URL' darf die Zeichenfolge ';;' nicht enthalten."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        seam.clear();
        editCurrent([&](TForm5& f) {
            BoundLineEdit* editor = f.*c.editor;
            QTest::keyClicks(editor, c.typed);
            f.Button1->click();
            EXPECT_TRUE(f.isVisible());
            EXPECT_EQ(f.focusWidget(), editor);
            f.close();
            EXPECT_TRUE(f.isVisible());
            EXPECT_EQ(seam.texts("message"),
                      QStringList({QString::fromUtf8(c.message), QString::fromUtf8(c.message)}));
            editor->clear();
            QTest::keyClicks(editor, "ok");
            f.Button1->click();
            EXPECT_FALSE(f.isVisible());
        });
    }
    EXPECT_EQ(savedLine(0),
              article({"K-1", "KZ-1", "Albrecht", "", "", "ok", "ok", "", "", "", "", "", "", "ok"}));
}

TEST_F(ArticleEditTest, EditingAnEmptyTableAddsAnArticleOnlyWhenTypedOrConfirmed) {
    seam.answerConfirm(true);
    list.Button3Click();
    ASSERT_EQ(rows(), 0);

    editCurrent([](TForm5& f) { f.close(); });
    EXPECT_EQ(rows(), 0);
    editCurrent([](TForm5& f) {
        QTest::keyClicks(f.DBEdit1, "N-1");
        f.close();
    });
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(current("ArtikelNr"), "N-1");

    seam.answerConfirm(true);
    list.Button3Click();
    editCurrent([](TForm5& f) { f.Button1->click(); });
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(savedLine(0), std::string(26, ';'));
}

} // namespace
