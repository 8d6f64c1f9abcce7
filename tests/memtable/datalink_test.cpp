#include "memtable/qt/boundeditors.h"
#include "memtable/qt/datalink.h"
#include "memtable/qt/tablegrid.h"
#include "memtable/qt/tablemodel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace velmo;

namespace {

// Collects the model tester's complaints (and any other warning) instead of printing them.
QStringList* g_warnings = nullptr;
void collect(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type != QtDebugMsg && type != QtInfoMsg && g_warnings)
        g_warnings->append(msg);
}

struct Articles : ::testing::Test {
    MemTable t;
    QStringList warnings;
    QtMessageHandler previous = nullptr;
    std::vector<std::string> errors;
    DataLinkErrorHandler previousHandler;

    void SetUp() override {
        g_warnings = &warnings;
        previous = qInstallMessageHandler(collect);
        previousHandler =
            setDataLinkErrorHandler([this](const std::exception& e) { errors.push_back(e.what()); });
        t.addField("ArtikelNr", FieldType::String, 20);
        t.addField("Hersteller", FieldType::String, 10);
        t.addField("Gewicht", FieldType::Float);
        t.addField("Beschreibung", FieldType::String, 512);
        t.addIndexDef({"ArtikelNr", {"ArtikelNr"}});
        t.addIndexDef({"Hersteller", {"Hersteller"}});
        t.setActive(true);
        t.AppendValues({"3", "Miele", "1,5"});
        t.AppendValues({"1", "Bosch"});
        t.AppendValues({"2", "AEG"});
    }
    void TearDown() override {
        qInstallMessageHandler(previous);
        g_warnings = nullptr;
        setDataLinkErrorHandler(previousHandler);
    }
    std::string current(const char* field = "ArtikelNr") { return t.fieldByName(field).asString(); }
};

// Types text as key presses, umlauts included (QTest's key clicks take ASCII only).
void type(QWidget* w, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(w, &press);
    }
}

QString cell(const QAbstractItemModel& m, int row, int column) {
    return m.data(m.index(row, column)).toString();
}

} // namespace

TEST_F(Articles, ModelPassesTheTesterThroughEveryKindOfChange) {
    MemTableModel model(t);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    t.setIndexName("Hersteller");
    t.Edit();
    t.fieldByName("Hersteller").setAsString("Zeiss");
    t.Post();
    {
        MemTable::UpdateBlock block(t);
        for (int i = 0; i < 50; ++i)
            t.AppendValues({"n" + std::to_string(i), "H" + std::to_string(i % 7)});
    }
    std::string wanted = "H3";
    t.OnFilterRecord = [&](MemTable& tab) { return tab.fieldByName("Hersteller").asString() == wanted; };
    t.setFiltered(true);
    t.First();
    t.Next();
    t.Delete();
    t.setFiltered(false);
    t.SeekNearest("M");
    t.Append();
    t.cancel();
    t.emptyTable();
    t.AppendValues({"x"});
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    EXPECT_EQ(model.rowCount(), 1);
}

TEST_F(Articles, ModelShowsTheCurrentOrderFilterAndValues) {
    MemTableModel model(t);
    ASSERT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Gewicht");
    EXPECT_EQ(cell(model, 0, 0), "3"); // insertion order
    EXPECT_EQ(cell(model, 0, 2), "1,5");

    t.setIndexName("Hersteller");
    EXPECT_EQ(cell(model, 0, 1), "AEG");
    EXPECT_EQ(cell(model, 2, 1), "Miele");

    const int left = model.currentRow();
    ASSERT_GE(left, 0);
    ASSERT_NE(left, 1);
    QSignalSpy moved(&model, &MemTableModel::currentRowChanged);
    QSignalSpy marker(&model, &QAbstractItemModel::headerDataChanged);
    ASSERT_TRUE(t.SeekNearest("B"));
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.takeFirst().at(0).toInt(), 1);
    EXPECT_EQ(model.currentRow(), 1);
    EXPECT_FALSE(model.headerData(1, Qt::Vertical).toString().isEmpty()); // the record marker
    EXPECT_TRUE(model.headerData(left, Qt::Vertical).toString().isEmpty());
    // The view repaints the marker only in the rows it is told of: the one left and the one entered.
    QList<int> repainted;
    for (const QList<QVariant>& signal : marker) {
        EXPECT_EQ(signal.at(0).value<Qt::Orientation>(), Qt::Vertical);
        for (int row = signal.at(1).toInt(); row <= signal.at(2).toInt(); ++row)
            repainted << row;
    }
    EXPECT_TRUE(repainted.contains(left));
    EXPECT_TRUE(repainted.contains(1));

    // A value typed into the current record shows in its row before it is posted.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    t.Edit();
    t.fieldByName("Beschreibung").setAsString("neu");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(cell(model, 1, 3), "neu");
    t.Post();
    EXPECT_EQ(cell(model, 1, 3), "neu");

    t.OnFilterRecord = [](MemTable& tab) { return tab.fieldByName("Hersteller").asString() != "AEG"; };
    t.setFiltered(true);
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(cell(model, 0, 1), "Bosch");

    // Chosen columns, titles and alignment; a date-like custom text.
    MemTableModel::Column gewicht;
    gewicht.field = "Gewicht";
    gewicht.title = "Gewicht (g)";
    gewicht.alignment = Qt::AlignRight | Qt::AlignVCenter;
    MemTableModel::Column nr;
    nr.field = "ArtikelNr";
    nr.text = [](MemTable& tab, RecordId id) { return "#" + QString::fromStdString(tab.textAt(id, 0)); };
    model.setColumns({gewicht, nr});
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Gewicht (g)");
    EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::AlignRight | Qt::AlignVCenter);
    EXPECT_EQ(cell(model, 0, 1), "#1");
}

TEST_F(Articles, GridAndCursorFollowEachOther) {
    MemTableModel model(t);
    MemTableGrid grid;
    grid.setTableModel(&model);
    grid.show();
    t.setIndexName("ArtikelNr");
    t.SeekNearest("2");
    EXPECT_EQ(grid.currentIndex().row(), 1);
    EXPECT_TRUE(grid.selectionModel()->isRowSelected(1, QModelIndex()));

    // The user selects another row: it becomes the current record, and a pending edit is posted.
    t.Edit();
    t.fieldByName("Hersteller").setAsString("Zanussi");
    grid.setCurrentIndex(model.index(2, 0));
    EXPECT_EQ(current(), "3");
    EXPECT_EQ(t.state(), TableState::Browse);
    t.SeekNearest("2");
    EXPECT_EQ(current("Hersteller"), "Zanussi");
}

TEST_F(Articles, TypingIntoABoundEditorEditsTheRecord) {
    BoundLineEdit hersteller;
    hersteller.bind(&t, "Hersteller");
    BoundLineEdit gewicht;
    gewicht.bind(&t, "Gewicht");
    hersteller.show();
    gewicht.show();
    t.setIndexName("ArtikelNr");
    t.First();
    EXPECT_EQ(hersteller.text(), "Bosch");
    EXPECT_EQ(hersteller.maxLength(), 10);

    hersteller.selectAll();
    type(&hersteller, "Gr\u00fcnweg GmbH");
    EXPECT_EQ(t.state(), TableState::Edit);
    EXPECT_EQ(hersteller.text(), "Gr\u00fcnweg Gm"); // the field's size limits the typing
    EXPECT_EQ(current("Hersteller"), "Gr\xFCnweg Gm");

    // A number is written when the record is posted; a bad one stops the post.
    gewicht.clear();
    QTest::keyClicks(&gewicht, "2,5");
    t.Post();
    EXPECT_DOUBLE_EQ(t.fieldByName("Gewicht").asFloat(), 2.5);
    QTest::keyClicks(&gewicht, "x");
    EXPECT_THROW(t.Post(), EConvertError);
    EXPECT_EQ(t.state(), TableState::Edit);
    t.cancel();
    EXPECT_EQ(gewicht.text(), "2,5");

    // Moving the cursor shows the other record.
    t.Next();
    EXPECT_EQ(hersteller.text(), "AEG");

    // Typing with no record at all starts one, which the post stores.
    t.emptyTable();
    QTest::keyClicks(&hersteller, "Neu");
    EXPECT_EQ(t.state(), TableState::Insert);
    t.Post();
    EXPECT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(current("Hersteller"), "Neu");
    EXPECT_TRUE(errors.empty());

    // A closed table refuses, and the refusal reaches the error handler, not Qt.
    t.setActive(false);
    QTest::keyClicks(&hersteller, "x");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Operation bei geschlossener Datenmenge nicht ausführbar");
}

TEST_F(Articles, MultiLineAndDropDownEditors) {
    BoundTextEdit memo;
    memo.bind(&t, "Beschreibung");
    BoundComboBox combo;
    combo.addItems({"AEG", "Bosch", "Miele"});
    combo.bind(&t, "Hersteller");
    BoundLabel label;
    label.bind(&t, "Hersteller");
    label.show();
    t.First(); // "3", Miele; the editors are hidden and catch up when shown
    memo.show();
    combo.show();
    EXPECT_EQ(combo.currentText(), "Miele");

    memo.setFocus();
    QTest::keyClicks(&memo, "eins");
    QTest::keyClick(&memo, Qt::Key_Return);
    QTest::keyClicks(&memo, "zwei");
    EXPECT_EQ(current("Beschreibung"), "eins\r\nzwei");

    combo.setCurrentIndex(0);
    emit combo.activated(0); // what a choice in the open list does
    EXPECT_EQ(current("Hersteller"), "AEG");
    EXPECT_EQ(label.text(), "AEG");
    t.Post();

    t.Next(); // "1", Bosch, no description
    EXPECT_EQ(combo.currentText(), "Bosch");
    EXPECT_TRUE(memo.toPlainText().isEmpty());
    t.SeekNearest("x");
    t.setIndexName("");
    t.First();
    EXPECT_EQ(memo.toPlainText(), "eins\nzwei");
    EXPECT_EQ(t.state(), TableState::Browse);
}

// The grid draws the lines between its cells itself; they must fall on exactly the pixels the table
// view would colour, whatever is scrolled, hidden or mirrored.
TEST(GridLines, FallWhereTheTableViewPutsThem) {
    QStandardItemModel model(300, 6);
    struct Case {
        const char* what;
        int scrolledTo;
        int hiddenColumn;
        Qt::LayoutDirection direction;
    } cases[] = {
        {"top", 0, -1, Qt::LeftToRight},
        {"scrolled, a column hidden", 150, 2, Qt::LeftToRight},
        {"end of the table", 299, -1, Qt::LeftToRight},
        {"right to left", 40, 4, Qt::RightToLeft},
    };
    for (const Case& c : cases) {
        MemTableGrid ours;
        QTableView plain;
        for (QTableView* view : {static_cast<QTableView*>(&ours), &plain}) {
            view->setLayoutDirection(c.direction);
            view->setFont(ours.font());
            view->setModel(&model);
            view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view->verticalHeader()->setDefaultSectionSize(ours.verticalHeader()->defaultSectionSize());
            view->verticalHeader()->setFixedWidth(ours.verticalHeader()->width());
            for (int column = 0; column < 6; ++column)
                view->setColumnWidth(column, 37 + 11 * column);
            if (c.hiddenColumn >= 0)
                view->setColumnHidden(c.hiddenColumn, true);
            view->resize(420, 260);
            view->show();
            view->scrollTo(model.index(c.scrolledTo, 0), QAbstractItemView::PositionAtTop);
        }
        QApplication::processEvents();
        const QImage a = ours.grab().toImage();
        const QImage b = plain.grab().toImage();
        ASSERT_EQ(a.size(), b.size()) << c.what;
        int differing = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                differing += a.pixel(x, y) != b.pixel(x, y);
        EXPECT_EQ(differing, 0) << c.what;
    }
}

// A text the grid meets for the first time is drawn straight away, one it has met before from its
// kept layout: both must put the same pixels, aligned and shortened alike.
TEST(GridCells, FirstAndKeptTextsLookAlike) {
    QStandardItemModel model(12, 3);
    for (int row = 0; row < 12; ++row) {
        model.setData(model.index(row, 0),
                      QStringLiteral("A-%1").arg(row * 7919 % 100000, 5, 10, QLatin1Char('0')));
        model.setData(
            model.index(row, 1),
            row % 3 == 0 ? QStringLiteral(
                               "Kühlschrank „Öko“ mit Gefrierfach, Energieklasse A+++ und 10 Jahren Garantie")
                         : QStringLiteral("Bügeleisen %1 ß").arg(row));
        model.setData(model.index(row, 2), QStringLiteral("%1,99 €").arg(row * 13));
        model.setData(model.index(row, 2), int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
    }
    MemTableGrid grid;
    grid.setModel(&model);
    grid.setColumnWidth(0, 70);
    grid.setColumnWidth(1, 160);
    grid.setColumnWidth(2, 80);
    grid.resize(400, 300);
    // Shown but not yet painted: the first grab is the first time the grid meets the texts.
    grid.setAttribute(Qt::WA_DontShowOnScreen);
    grid.show();
    const QImage first = grid.grab().toImage();
    (void)grid.grab(); // met a second time: laid out and kept
    const QImage kept = grid.grab().toImage();
    ASSERT_EQ(first.size(), kept.size());
    EXPECT_TRUE(first == kept);
}

namespace {

// What the window shows now, from its backing store: unlike grab(), which paints the widget anew,
// this keeps whatever a missed repaint left stale.
QImage onScreen(QWidget& w) {
    return QApplication::primaryScreen()->grabWindow(w.winId()).toImage().convertToFormat(
        QImage::Format_RGB32);
}
QImage repainted(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

// The record marker moves with the cursor without the whole grid being laid out anew; the rows it
// leaves and enters must still be repainted.
TEST_F(Articles, MarkerRepaintsWhereTheCursorMoves) {
    for (int i = 0; i < 40; ++i)
        t.AppendValues({std::to_string(10 + i), "Siemens"});
    t.setIndexName("ArtikelNr");
    t.First();
    MemTableModel model(t);
    MemTableGrid grid;
    grid.setTableModel(&model);
    grid.resize(320, 240);
    grid.show();
    QApplication::processEvents();
    // The column titles stay as they are.
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } titlePaints;
    grid.horizontalHeader()->viewport()->installEventFilter(&titlePaints);
    // Next to each other, a screen away and back to the top.
    for (const char* key : {"2", "3", "35", "36", "1"}) {
        titlePaints.paints = 0;
        ASSERT_TRUE(t.SeekNearest(key));
        QApplication::processEvents();
        EXPECT_EQ(titlePaints.paints, 0) << "after moving to " << key;
        EXPECT_TRUE(onScreen(grid) == repainted(grid)) << "after moving to " << key;
    }
}

// The scroll bars are painted in bands; they must look as the style paints them in one piece.
TEST(GridScrollBars, LookAsTheStylePaintsThem) {
    struct Case {
        const char* what;
        Qt::Orientation orientation;
        QSize size;
        int value;
        bool enabled;
    } cases[] = {
        {"at the top", Qt::Vertical, {14, 405}, 0, true},
        {"in the middle", Qt::Vertical, {14, 405}, 51230, true},
        {"at the bottom", Qt::Vertical, {14, 405}, 99979, true},
        {"a band's height", Qt::Vertical, {16, 95}, 500, true},
        {"disabled", Qt::Vertical, {14, 301}, 700, false},
        {"horizontal", Qt::Horizontal, {788, 14}, 3, true},
    };
    for (const Case& c : cases) {
        MemTableGrid grid;
        QTableView view;
        auto barOf = [&](QTableView& v) {
            return c.orientation == Qt::Vertical ? v.verticalScrollBar() : v.horizontalScrollBar();
        };
        QScrollBar* ours = barOf(grid);
        QScrollBar* plain = barOf(view);
        for (QScrollBar* bar : {ours, plain}) {
            bar->setRange(0, 99979);
            bar->setPageStep(21);
            bar->setValue(c.value);
            bar->setEnabled(c.enabled);
            bar->resize(c.size);
        }
        EXPECT_TRUE(repainted(*ours) == repainted(*plain)) << c.what;
    }
}

// Texts are shortened to their cells and drawn without a clip but where the row is lower than the
// font: nothing of them may fall outside their cells, whatever their alignment.
TEST(GridCells, TextsStayInsideTheirCells) {
    // Tall and deep glyphs first, so that they are drawn however short the cell; then width enough to
    // shorten.
    const QString wide = QStringLiteral("ÅÄ|jgpq ÖÜß WWWWMMMM fffff WWWWWWWWWW");
    for (const int rowHeight : {0, 9}) { // the grid's own height, and one lower than the font
        QStandardItemModel model(8, 5);
        QStandardItemModel empty(8, 5);
        for (int row = 0; row < 8; row += 2) {
            model.setData(model.index(row, 1), wide);
            model.setData(model.index(row, 3), wide);
            model.setData(model.index(row, 3), int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
            empty.setData(empty.index(row, 3), int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
        }
        MemTableGrid withTexts, without;
        for (MemTableGrid* grid : {&withTexts, &without}) {
            grid->setModel(grid == &withTexts ? &model : &empty);
            for (int column = 0; column < 5; ++column)
                grid->setColumnWidth(column, 60);
            if (rowHeight > 0) {
                grid->verticalHeader()->setMinimumSectionSize(1);
                grid->verticalHeader()->setDefaultSectionSize(rowHeight);
            }
            grid->resize(360, 220);
        }
        ASSERT_EQ(withTexts.rowHeight(0), rowHeight > 0 ? rowHeight : without.rowHeight(0));
        const QImage a = repainted(withTexts), b = repainted(without);
        ASSERT_EQ(a.size(), b.size());
        // Outside the text cells (the empty columns, the empty rows) both must be alike.
        int strays = 0;
        for (int y = 0; y < a.height(); ++y) {
            for (int x = 0; x < a.width(); ++x) {
                const QPoint p = withTexts.viewport()->mapFrom(&withTexts, QPoint(x, y));
                const QModelIndex at = withTexts.indexAt(p);
                const bool inTextCell = withTexts.viewport()->rect().contains(p) && at.isValid() &&
                                        at.row() % 2 == 0 && (at.column() == 1 || at.column() == 3);
                if (!inTextCell)
                    strays += a.pixel(x, y) != b.pixel(x, y);
            }
        }
        EXPECT_EQ(strays, 0) << "row height " << rowHeight;
    }
}
