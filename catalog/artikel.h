#pragma once

#include "memtable/memtable.h"
#include "platform/linefile.h"

#include <QDialog>

#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace velmo {

class MemTableGrid;
class MemTableModel;

// The article list window: the articles of one catalog at a time, loaded from the catalog's article
// file into ArticleTable, shown in a grid, sorted by six keys, searched as the owner types, created,
// edited (in the article edit window) and deleted, and written back to the file, after a question,
// when another catalog is chosen or on "&OK".
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    ~TForm4() override;

    // 14 string fields in the order of the article file; six single-field indexes named after their
    // fields. Inactive until the first catalog is loaded.
    MemTable ArticleTable;

    QComboBox* ComboBox1;   // Katalog: the catalog names of db_sys.db, selection only
    QComboBox* ComboBox2;   // Index: the six sort orders, selection only
    QLabel* Label3;         // "Suche <index>:"
    QLineEdit* Edit1;       // search text; every change searches
    MemTableGrid* DBGrid1;  // the articles
    QPushButton* Button1;   // &Neu
    QPushButton* Button2;   // &Bearbeiten
    QPushButton* Button3;   // &Löschen
    QPushButton* Button4;   // &Abbrechen
    QPushButton* Button5;   // &OK
    QStatusBar* StatusBar1; // stays empty

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
    bool saved() const { return m_saved; }
    // The article file of the loaded catalog (UTF-8 path), empty when none is loaded.
    const std::string& articleFilePath() const { return m_path; }
    // The catalog index lines as read at the last opening (Windows-1252).
    const Lines& catalogLines() const { return m_indexLines; }
    // The position of the loaded catalog in the index, -1 when none is loaded.
    int loadedCatalog() const { return m_loaded; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void enableArticleControls(bool on);
    void showIndex(int i);
    // Back to the state of an opening: nothing loaded, table empty, controls disabled.
    void unloadCatalog();
    void loadCatalog(int i);
    void writeArticleFile();
    void showEditWindow();

    MemTableModel* m_model = nullptr;
    Lines m_indexLines;
    std::string m_path;
    std::string m_header; // the first line of the article file as read
    int m_loaded = -1;
    bool m_saved = true;
};

// The program's article list window.
inline TForm4* Form4 = nullptr;

} // namespace velmo
