#pragma once

#include "catalog/core/articledocument.h"
#include "memtable/memtable.h"
#include "platform/linefile.h"
#include "shell/shopwindow.h"

#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace velmo {

class MemTableGrid;
class MemTableModel;
class Shop;

// What the article list needs of the edit window it opens.
class ArticleEditor {
public:
    virtual ~ArticleEditor() = default;
    // The table whose current article the editor shows and changes.
    virtual void setArticleTable(MemTable* table) = 0;
    // The group choice list (Windows-1252) of the catalog just loaded.
    virtual void setGroups(const Lines& groups) = 0;
    // Opens the editor modally on the table's current article.
    virtual void editCurrentArticle() = 0;
};

// The article list window: the articles of one catalog at a time, loaded from the catalog's article
// file into ArticleTable, shown in a grid, sorted by six keys, searched as the owner types, created,
// edited (in the article edit window) and deleted, and written back to the file, after a question,
// when another catalog is chosen or on "&OK".
class TForm4 : public ShopWindow {
    Q_OBJECT
public:
    TForm4(Shop& shop, ArticleEditor& editor, QWidget* parent = nullptr);

    // 14 string fields in the order of the article file; six single-field indexes named after their
    // fields. Inactive until the first catalog is loaded.
    MemTable ArticleTable;

    QComboBox* ComboBox1;       // Katalog: the catalog names of db_sys.db, selection only
    QComboBox* ComboBox2;       // Index: the six sort orders, selection only
    QLabel* Label3;             // "Suche <index>:"
    QLineEdit* Edit1;           // search text; every change searches
    MemTableGrid* DBGrid1;      // the articles
    QPushButton* Button1;       // &Neu
    QPushButton* Button2;       // &Bearbeiten
    QPushButton* Button3;       // &Löschen
    QPushButton* Button4;       // &Abbrechen
    QPushButton* Button5;       // &OK
    QStatusBar* StatusBar1;     // empty but while a long save shows its progress
    QProgressBar* SaveProgress; // in the status bar, shown only while a save takes long

    // Handlers, callable from tests.
    void FormShow();         // each opening: index reloaded, table emptied, controls disabled
    void ComboBox1Change();  // a catalog was chosen: save the loaded one, load the chosen one
    void ComboBox2Change();  // an index was chosen
    void Edit1Change();      // the search text changed
    void Button1Click();     // &Neu
    void Button2Click();     // &Bearbeiten (also a double-click on the grid)
    void Button3Click();     // &Löschen
    void Button4Click();     // &Abbrechen
    void Button5Click();     // &OK: save routine, then close
    void DBGrid1DeleteKey(); // Ctrl+Del in the grid
    // Asks "Änderungen erst speichern?" when the table holds changes and writes the file on "&Ja".
    // Throws when the file could not be written; the table then still counts as unsaved.
    void SaveArticles();

    // True when nothing needs saving.
    bool saved() const { return m_document.saved(); }
    // The article file of the loaded catalog (UTF-8 path), empty when none is loaded.
    const std::string& articleFilePath() const { return m_document.path(); }
    // The catalog index lines as read at the last opening (Windows-1252).
    const Lines& catalogLines() const { return m_indexLines; }
    // The position of the loaded catalog in the index, -1 when none is loaded.
    int loadedCatalog() const { return m_loaded; }
    // How long a save runs before its progress is shown (ms).
    void setSaveProgressDelay(int ms) { m_saveProgressDelay = ms; }

protected:
    void opening() override { FormShow(); }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enableArticleControls(bool on);
    void showIndex(int i);
    // Back to the state of an opening: nothing loaded, table empty, controls disabled.
    void unloadCatalog();
    void loadCatalog(int i);
    void showEditWindow();
    void saveWithProgress();

    Shop& m_shop;
    ArticleEditor& m_editor;
    ArticleDocument m_document{ArticleTable};
    MemTableModel* m_model = nullptr;
    Lines m_indexLines;
    int m_loaded = -1;
    int m_saveProgressDelay = 500;
};

} // namespace velmo
