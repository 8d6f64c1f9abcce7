#include "catalog/artikel.h"

#include "datafiles/articlefile.h"
#include "datafiles/catalogindex.h"
#include "memtable/qt/tablegrid.h"
#include "memtable/qt/tablemodel.h"
#include "platform/cp1252.h"
#include "platform/qt/text.h"
#include "shell/gridcolumns.h"
#include "shell/shop.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <array>

namespace velmo {

using datafiles::kArticleFieldCount;

namespace {

// The sort orders, in the index box's order; each on the field of the same position in the file.
constexpr std::array<const char*, ArticleDocument::kIndexCount> kIndexTitles = {
    "Artikel-Nr.", "Katalog-ID", "Hersteller", "Lieferant", "Warengruppe", "Bezeichnung"};

struct GridColumn {
    const char* field;
    const char* title; // UTF-8
    int width;
    bool right;
};

constexpr std::array<GridColumn, kArticleFieldCount> kGridColumns = {{
    {"ArtikelNr", "ArtikelNr", 70, false},
    {"Bezeichnung", "Bezeichnung", 186, false},
    {"KatalogID", "KatalogID", 73, false},
    {"Hersteller", "Hersteller", 95, false},
    {"Lieferant", "Lieferant", 95, false},
    {"Warengruppe", "Warengruppe", 74, false},
    {"Preis", "Preis", 65, true},
    {"AngebPreis", "Angeb.-Preis", 68, true},
    {"Gewicht", "Gewicht (g)", 73, true},
    {"Bestand", "Bestand", 59, true},
    {"Beschreibung", "Beschreibung", 187, false},
    {"thumb", "Bild (klein)", 91, false},
    {"picture", "Bild (groß)", 88, false},
    {"HerstellerURL", "Hersteller-URL", 171, false},
}};

QPushButton* makeButton(const char* caption, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    // Return in the search field must not press a button.
    button->setAutoDefault(false);
    return button;
}

} // namespace

TForm4::TForm4(Shop& shop, ArticleEditor& editor, QWidget* parent)
    : ShopWindow(shop.dialogs, Placement::OnOwner, parent), m_shop(shop), m_editor(editor) {
    setObjectName("Form4");
    setWindowTitle(QStringLiteral("Artikel"));
    m_editor.setArticleTable(&ArticleTable);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(false);
    ComboBox1->setMinimumContentsLength(16);
    ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboBox2 = new QComboBox(this);
    ComboBox2->setEditable(false);
    for (const char* title : kIndexTitles)
        ComboBox2->addItem(QString::fromUtf8(title));
    Label3 = new QLabel(this);
    Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Edit1 = new QLineEdit(this);
    Edit1->setFixedWidth(160);
    Label3->setBuddy(Edit1);

    m_model = new MemTableModel(ArticleTable, this);
    std::vector<MemTableModel::Column> columns;
    for (const GridColumn& c : kGridColumns) {
        MemTableModel::Column column;
        column.field = QString::fromLatin1(c.field);
        column.title = QString::fromUtf8(c.title);
        column.width = c.width;
        column.alignment = (c.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        columns.push_back(std::move(column));
    }
    m_model->setColumns(std::move(columns));
    DBGrid1 = new MemTableGrid(this);
    DBGrid1->setTableModel(m_model);
    DBGrid1->setAccessibleName(QStringLiteral("Artikel"));
    new GridColumns(*DBGrid1, QStringLiteral("Form4.DBGrid1"));
    DBGrid1->installEventFilter(this);
    DBGrid1->viewport()->installEventFilter(this);

    Button1 = makeButton("&Neu", this);
    Button2 = makeButton("&Bearbeiten", this);
    Button3 = makeButton("&Löschen", this);
    Button4 = makeButton("&Abbrechen", this);
    Button5 = makeButton("&OK", this);
    StatusBar1 = new QStatusBar(this);
    SaveProgress = new QProgressBar(StatusBar1);
    SaveProgress->setRange(0, 1000);
    SaveProgress->setFormat(QStringLiteral("Artikel werden gespeichert … %p %"));
    SaveProgress->setAccessibleName(QStringLiteral("Speicherfortschritt"));
    StatusBar1->addWidget(SaveProgress, 1);
    SaveProgress->hide();

    auto label = [this](const char* caption, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        l->setBuddy(buddy);
        return l;
    };
    auto* top = new QHBoxLayout;
    top->addWidget(label("Katalog:", ComboBox1));
    top->addWidget(ComboBox1);
    top->addSpacing(12);
    top->addWidget(label("Index:", ComboBox2));
    top->addWidget(ComboBox2);
    top->addWidget(Label3, 1);
    top->addWidget(Edit1);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Button1);
    bottom->addWidget(Button2);
    bottom->addWidget(Button3);
    bottom->addStretch(1);
    bottom->addWidget(Button4);
    bottom->addWidget(Button5);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->addLayout(top);
    layout->addWidget(DBGrid1, 1);
    layout->addLayout(bottom);
    layout->addWidget(StatusBar1);
    resize(820, 520);

    showIndex(0);
    enableArticleControls(false);

    // activated: only the owner's choice counts, not a selection made by the window itself.
    connect(ComboBox1, &QComboBox::activated, this, guard([this] { ComboBox1Change(); }));
    connect(ComboBox2, &QComboBox::activated, this, guard([this] { ComboBox2Change(); }));
    connect(Edit1, &QLineEdit::textChanged, this, guard([this] { Edit1Change(); }));
    connect(Button1, &QPushButton::clicked, this, guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, guard([this] { Button2Click(); }));
    connect(Button3, &QPushButton::clicked, this, guard([this] { Button3Click(); }));
    connect(Button4, &QPushButton::clicked, this, guard([this] { Button4Click(); }));
    connect(Button5, &QPushButton::clicked, this, guard([this] { Button5Click(); }));
}

bool TForm4::eventFilter(QObject* watched, QEvent* event) {
    if (watched == DBGrid1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & Qt::ControlModifier)) {
            guarded([this] { DBGrid1DeleteKey(); });
            return true;
        }
    } else if (watched == DBGrid1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        if (DBGrid1->isEnabled() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            guarded([this] { Button2Click(); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm4::enableArticleControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{DBGrid1, ComboBox2, Edit1, Button1, Button2, Button3})
        w->setEnabled(on);
}

void TForm4::showIndex(int i) {
    ComboBox2->setCurrentIndex(i);
    Label3->setText(QStringLiteral("Suche ") + ComboBox2->itemText(i) + QLatin1Char(':'));
}

void TForm4::FormShow() {
    // Whatever was loaded before (and not saved) is gone: an opening starts without a catalog.
    ComboBox1->setCurrentIndex(-1);
    showIndex(0);
    m_document.unload();
    enableArticleControls(false);
    m_loaded = -1;

    // A missing index is created empty and the catalog box keeps the names it has.
    std::optional<Lines> lines = datafiles::loadCatalogIndex(m_shop.dataFile(datafiles::kCatalogIndexFile));
    if (!lines)
        return;
    m_indexLines = std::move(*lines);
    ComboBox1->clear();
    for (const std::string& name : datafiles::catalogNames(m_indexLines))
        ComboBox1->addItem(toQString(name));
    // A selection-only box picks its first entry by itself; no catalog is chosen yet.
    ComboBox1->setCurrentIndex(-1);
}

void TForm4::ComboBox1Change() {
    const int i = ComboBox1->currentIndex();
    if (i < 0 || i >= static_cast<int>(m_indexLines.size()))
        return;
    try {
        SaveArticles();
    } catch (...) {
        // The loaded catalog stays loaded, and the box names it rather than the one not loaded.
        ComboBox1->setCurrentIndex(m_loaded);
        throw;
    }
    loadCatalog(i);
}

void TForm4::unloadCatalog() {
    // Nothing that belongs to another catalog may stay where a save could write it to this path.
    m_loaded = -1;
    m_document.unload();
    enableArticleControls(false);
    ComboBox1->setCurrentIndex(-1);
}

void TForm4::loadCatalog(int i) {
    const datafiles::CatalogEntry entry =
        datafiles::splitCatalogLine(m_indexLines[static_cast<std::size_t>(i)]);
    if (entry.fileName.empty()) {
        // A line holding a name alone: writing the articles to the data directory itself, or to
        // a file the index does not name (and the upload would not send), would lose them.
        unloadCatalog();
        dialogs().showMessage(fromUtf8(formatMessage(
            "Für den Katalog '%s' ist keine Katalogdatei eingetragen.", cp1252::toUtf8(entry.name))));
        return;
    }
    try {
        // The name may have come from the server: it must not lead out of the data directory. A
        // missing file is created holding the header line alone.
        m_document.load(
            localPath(m_shop.ShopSettings.localDat, cp1252::toUtf8(datafiles::articleFileNameOf(entry))));
    } catch (...) {
        unloadCatalog();
        throw;
    }
    m_loaded = i;
    m_editor.setGroups(entry.groups);
    showIndex(0);
    enableArticleControls(true);
    ComboBox1->setCurrentIndex(i);
}

void TForm4::ComboBox2Change() {
    const int i = ComboBox2->currentIndex();
    if (i < 0 || i >= static_cast<int>(kIndexTitles.size()) || !ArticleTable.Active())
        return;
    ArticleTable.setIndexName(ArticleDocument::indexName(i));
    ArticleTable.SyncIndexes();
    showIndex(i);
    // Emptying a search field that holds text is a change of its own and searches for "".
    Edit1->clear();
    Edit1->setFocus();
}

void TForm4::Edit1Change() {
    if (ArticleTable.Active())
        ArticleTable.SeekNearest(fromQString(Edit1->text()));
}

void TForm4::showEditWindow() {
    m_editor.editCurrentArticle();
}

void TForm4::Button1Click() {
    const std::string keep = ArticleTable.IndexName();
    auto restore = [&] {
        // Posts what the edit window left pending.
        ArticleTable.setIndexName(keep);
        ArticleTable.SyncIndexes();
    };
    ArticleTable.setIndexName("");
    ArticleTable.SyncIndexes();
    // The new article is stored at once, at the end of the insertion order, even if it stays empty.
    ArticleTable.Append();
    ArticleTable.Post();
    m_document.markChanged();
    ArticleTable.Edit();
    try {
        showEditWindow();
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

void TForm4::Button2Click() {
    // Counts as a change even when nothing was changed.
    m_document.markChanged();
    showEditWindow();
    ArticleTable.Refresh();
}

void TForm4::Button3Click() {
    if (!dialogs().confirm(QStringLiteral("Den gewählten Datensatz löschen?")))
        return;
    m_document.deleteCurrent();
}

void TForm4::DBGrid1DeleteKey() {
    if (!ArticleTable.Active() || ArticleTable.currentRecord() == kNoRecord)
        return;
    if (!dialogs().confirmOkCancel(QStringLiteral("Datensatz löschen?")))
        return;
    // A deletion is a change like any other: without the mark, "&OK" would drop it without asking.
    m_document.deleteCurrent();
}

void TForm4::Button4Click() {
    reject();
}

void TForm4::Button5Click() {
    SaveArticles();
    accept();
}

void TForm4::SaveArticles() {
    if (m_document.saved())
        return;
    if (!dialogs().confirm(QStringLiteral("Änderungen erst speichern?"))) {
        // "&Nein" discards: the next load or opening proceeds as if they had been saved.
        m_document.markSaved();
        return;
    }
    if (m_loaded >= 0)
        saveWithProgress();
    m_document.markSaved();
}

void TForm4::saveWithProgress() {
    QElapsedTimer clock;
    clock.start();
    struct Hide {
        QProgressBar* bar;
        ~Hide() { bar->hide(); }
    } hide{SaveProgress};
    qint64 painted = -1000;
    // Only painted, never an event loop: the owner cannot act on the window in the middle of a save.
    m_document.save([&](std::size_t done, std::size_t total) {
        if (SaveProgress->isHidden()) {
            if (clock.elapsed() < m_saveProgressDelay)
                return;
            SaveProgress->show();
            QApplication::sendPostedEvents(StatusBar1, QEvent::LayoutRequest);
        }
        SaveProgress->setValue(total == 0 ? 0 : static_cast<int>(done * 1000 / total));
        // A repaint costs as much as writing thousands of articles: a few a second are enough.
        if (done == total || clock.elapsed() - painted >= 100) {
            painted = clock.elapsed();
            StatusBar1->repaint();
        }
    });
}

} // namespace velmo
