#pragma once

// The article list and edit windows as the program wires them (main window first, the edit window
// before the list that opens it), over a scratch data directory and the scripted dialog seam.
#include "catalog/artedit.h"
#include "catalog/artikel.h"
#include "datafiles/articlefile.h"
#include "memtable/qt/boundeditors.h"
#include "memtable/qt/tablegrid.h"
#include "shell/currency.h"
#include "shell/dialogs.h"
#include "shell/main.h"
#include "shell/shop.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <string>

namespace velmo::test {

inline const std::string kHeader = datafiles::articleHeaderLine();

// An article line; the fields not given stay empty.
inline std::string article(std::initializer_list<std::string> fields) {
    datafiles::ArticleValues v;
    std::size_t i = 0;
    for (const std::string& f : fields)
        v[i++] = f;
    return datafiles::joinArticleLine(v);
}

class ArticleWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        shop.ShopSettings.localDat = QString::fromStdString(dir.path());
        shop.ShopSettings.localBk = QStringLiteral("/bilder/klein");
        shop.ShopSettings.localBg = QStringLiteral("/bilder/gross");
    }

    void writeFile(const std::string& name, const std::string& bytes) { writeBytes(dir.file(name), bytes); }
    std::string fileBytes(const std::string& name) const { return readBytes(dir.file(name)); }

    // Opens the window with this catalog index, as the menu does.
    void open(const std::string& index) {
        writeFile("db_sys.db", index);
        list.show();
        list.activateWindow();
        QApplication::processEvents();
    }
    // The owner picks catalog i; errors go to the error box as they would from the signal.
    void choose(int i) {
        list.ComboBox1->setCurrentIndex(i);
        guarded(seam, [&] { list.ComboBox1Change(); });
    }
    void chooseIndex(int i) {
        list.ComboBox2->setCurrentIndex(i);
        guarded(seam, [&] { list.ComboBox2Change(); });
    }
    // The next edit window: script gets it while it is up.
    void onEdit(const std::function<void(TForm5&)>& script) {
        seam.onModal([script](QDialog& d) {
            script(static_cast<TForm5&>(d));
            return d.result();
        });
    }

    QAbstractItemModel* grid() const { return list.DBGrid1->model(); }
    int rows() const { return grid()->rowCount(); }
    QString cell(int row, int column) const { return grid()->index(row, column).data().toString(); }
    std::string current(const char* field) { return list.ArticleTable.fieldByName(field).asString(); }

    TempDir dir;
    ScriptedDialogs seam;
    Shop shop{seam};
    TForm9 currency{seam};
    TForm1 main{shop, currency};
    TForm5 edit{shop, &main};
    TForm4 list{shop, edit, &main};
};

} // namespace velmo::test
