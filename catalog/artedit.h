#pragma once

#include "catalog/artikel.h"
#include "datafiles/fieldcheck.h"
#include "platform/linefile.h"
#include "shell/shopwindow.h"

#include <cstddef>
#include <string>

class QPushButton;

namespace velmo {

class BoundComboBox;
class BoundLineEdit;
class BoundTextEdit;
class MemTable;
class Shop;

// The description's lines as one line: the first, then one space and each further line. A line break
// at the very end does not start another line.
std::string joinDescriptionLines(const std::string& text);

// The article edit window: every field of the current article of the article list's table, bound
// directly to it, so what the owner types goes into the table. Opened modally by the article list
// window for a new article and for an existing one. A chosen picture also goes into the shop's
// pending upload lists.
//
// The article file has no quoting: a line break or ";;" in a value would shift the fields of the
// line. The window therefore makes the description one line whenever it closes (also by its title
// bar), and does not close while a value holds a separator; it says which field to correct instead.
class TForm5 : public ShopWindow, public ArticleEditor {
    Q_OBJECT
public:
    explicit TForm5(Shop& shop, QWidget* parent = nullptr);

    // The table whose current article the fields show.
    void setArticleTable(MemTable* table) override;
    MemTable* articleTable() const { return m_table; }

    BoundLineEdit* DBEdit1;     // Artikel-Nr.      ArtikelNr
    BoundComboBox* DBComboBox1; // Warengruppe      Warengruppe, entries: the group choice list
    BoundLineEdit* DBEdit2;     // Katalog-ID       KatalogID
    BoundLineEdit* DBEdit3;     // Lieferant        Lieferant
    BoundLineEdit* DBEdit4;     // Hersteller       Hersteller
    BoundLineEdit* DBEdit5;     // Hersteller - URL HerstellerURL
    BoundLineEdit* DBEdit6;     // Bezeichnung      Bezeichnung
    BoundTextEdit* DBMemo1;     // Beschreibung     Beschreibung
    BoundLineEdit* DBEdit7;     // Preis            Preis
    BoundLineEdit* DBEdit8;     // Angebot-Preis    AngebPreis
    BoundLineEdit* DBEdit9;     // Gewicht (g)      Gewicht
    BoundLineEdit* DBEdit10;    // Bestand          Bestand
    BoundLineEdit* DBEdit11;    // Bild (klein)     thumb
    BoundLineEdit* DBEdit12;    // Bild (groß)      picture
    QPushButton* SpeedButton1;  // "..." beside Bild (klein)
    QPushButton* SpeedButton2;  // "..." beside Bild (groß)
    QPushButton* Button1;       // &OK

    // The group choice list (Windows-1252 bytes), set by the article list for each catalog loaded.
    void setGroups(const Lines& groups) override;
    // Shows the window modally.
    void editCurrentArticle() override;

    // Handlers, callable from tests.
    void FormShow();          // each showing: focus to Artikel-Nr., description wraps
    void SpeedButton1Click(); // choose the small picture
    void SpeedButton2Click(); // choose the large picture
    void Button1Click();      // &OK: one-line description, post, close

    // Closing by the title bar (or Escape): the description becomes one line, as with "&OK"; a value
    // holding a separator keeps the window open. Posting is left to the article list.
    void reject() override;

protected:
    void opening() override { FormShow(); }

private:
    void choosePicture(const QString& directory, std::size_t field, Lines& pending);
    // Makes the current article's description one line when it holds a line break.
    void joinDescription();
    // False (with a message, and the focus in the field) when a value would break the article line.
    bool checkFields();
    // Calls visit(editor, field) for each field's editor: the one place that pairs them, for the
    // binding and for the focus after a message about a field.
    template <typename Visit> void forEachEditor(Visit&& visit) const;
    // The editor of a field (a position in file order).
    QWidget* editorFor(std::size_t field) const;

    Shop& m_shop;
    MemTable* m_table = nullptr;
};

} // namespace velmo
