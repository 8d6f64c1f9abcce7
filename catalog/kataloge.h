#pragma once

#include "catalog/core/catalogdocument.h"
#include "shell/shopwindow.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;

namespace velmo {

class CatalogNamePrompt;
class Shop;

// The catalog editor: works on an in-memory copy of the catalog index db_sys.db and writes it back
// only on "&OK". Entry i of the catalog list is the name of index line i, so both always have the
// same length and order; the list's current entry is the selected catalog.
class TForm2 : public ShopWindow {
    Q_OBJECT
public:
    TForm2(Shop& shop, CatalogNamePrompt& namePrompt, QWidget* parent = nullptr);

    QComboBox* ComboBox1;   // Katalog: the catalog names, selection only
    QLineEdit* Edit1;       // Katalogdatei: the selected catalog's article file name
    QPlainTextEdit* Memo1;  // Kataloggruppen: one group per line
    QPushButton* Button1;   // &OK
    QPushButton* Button2;   // &Abbrechen
    QPushButton* Button3;   // &Neu
    QPushButton* Button4;   // &Löschen
    QLabel* Panel1;         // help text
    QStatusBar* StatusBar1; // never receives text

    // Handlers, callable from tests.
    void FormShow();        // reloads the index; runs each time the window is shown
    void ComboBox1Change(); // a catalog was chosen
    // Leaving the group field or the file name field (both run the same step). False when the
    // owner was sent back into a field of the selected catalog to correct it.
    bool Memo1Exit();
    bool Edit1Exit();
    void Button1Click(); // &OK: save and close
    void Button2Click(); // &Abbrechen: close without saving
    void Button3Click(); // &Neu
    void Button4Click(); // &Löschen

    // The index lines as they will be saved (Windows-1252 bytes).
    const Lines& indexLines() const { return m_document.lines(); }
    // The selected catalog's position, -1 for none.
    int selectedCatalog() const;

protected:
    void opening() override { FormShow(); }
    // An index that exists but cannot be read must not be overwritten by whatever the lists still
    // hold: the editor does not stay open on it.
    bool keepOpenOnFailure() const override { return false; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool leaveFields();
    bool leaveFieldFor(QWidget* button);
    void enterField(QWidget* field);
    void clearCatalogList();

    Shop& m_shop;
    CatalogNamePrompt& m_namePrompt;
    CatalogDocument m_document;
    // The field (group or file name) the focus is in, whose leave step has not run yet.
    QWidget* m_entered = nullptr;
};

} // namespace velmo
