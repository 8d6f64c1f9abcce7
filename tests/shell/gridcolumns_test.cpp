// The grid column rule on a plain grid: readable widths from the header and the first rows only,
// and the widths the user sets kept in the settings store.
#include "shell/gridcolumns.h"

#include "platform/settings_store.h"
#include "tests/support/grid_widths.h"
#include "tests/support/temp_dir.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QTableView>
#include <gtest/gtest.h>

#include <memory>

using namespace velmo;
using namespace velmo::test;

namespace {

// Three columns of many rows; one cell holds a long text. Counts the cells read.
class CountingModel : public QAbstractTableModel {
public:
    int rows = 100000;
    int longRow = 0;
    QString longText = QStringLiteral("Bienenwachskerze mit Goldrand, handgezogen");
    mutable int reads = 0;

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole)
            return {};
        ++reads;
        if (index.column() == 1 && index.row() == longRow)
            return longText;
        return QStringLiteral("x");
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role == Qt::DisplayRole && orientation == Qt::Horizontal)
            return section == 2 ? QStringLiteral("Warengruppe der Artikel") : QStringLiteral("Nr");
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    void replace(int newLongRow) {
        beginResetModel();
        longRow = newLongRow;
        endResetModel();
    }
};

struct Grid {
    explicit Grid(CountingModel& model) {
        view.setModel(&model);
        for (int c = 0; c < 3; ++c)
            view.setColumnWidth(c, 20);
        view.resize(400, 300);
    }
    QTableView view;
};

TEST(ColumnWidthsText, ReadsAndWritesTheRememberedWidths) {
    struct Case {
        const char* text;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"", {}},
        {"120,,64", {120, 0, 64}},
        {" 80 ,abc,-5,0,7", {80, 0, 0, 0, 7}},
        {",", {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseColumnWidths(QString::fromUtf8(c.text)), c.widths);
    }
    EXPECT_EQ(columnWidthsText({120, 0, 64}), QStringLiteral("120,,64"));
    EXPECT_EQ(parseColumnWidths(columnWidthsText({0, 33})), (std::vector<int>{0, 33}));
}

TEST(GridColumns, HeaderAndFirstRowsSetTheWidthNeverLessThanDesigned) {
    TempDir dir;
    CountingModel model;
    Grid grid(model);
    grid.view.setColumnWidth(0, 90);
    auto* columns = new GridColumns(grid.view, QString());
    EXPECT_EQ(grid.view.columnWidth(0), 90) << "the designed width stays when more than needed";
    EXPECT_GE(grid.view.columnWidth(1), cellTextNeeds(grid.view, model.longText));
    EXPECT_GE(grid.view.columnWidth(2),
              headerTextNeeds(grid.view, QStringLiteral("Warengruppe der Artikel")));
    EXPECT_EQ(columns->readableWidth(1), grid.view.columnWidth(1));
    // Only the first rows are read, not 100,000.
    EXPECT_LT(model.reads, 3 * 200);

    // A long text far below the rows first shown does not count; a new set of rows is measured.
    model.replace(5000);
    EXPECT_LT(grid.view.columnWidth(1), cellTextNeeds(grid.view, model.longText));
    model.replace(3);
    EXPECT_GE(grid.view.columnWidth(1), cellTextNeeds(grid.view, model.longText));
}

TEST(GridColumns, TheUsersWidthsComeBackButNotBelowTheReadableWidth) {
    TempDir dir;
    CountingModel model;
    int readable = 0;
    int narrowest = 0;
    {
        Grid grid(model);
        new GridColumns(grid.view, QStringLiteral("Test.Grid"));
        readable = grid.view.columnWidth(1);
        grid.view.show();
        // What a drag on the header's section edges does.
        grid.view.horizontalHeader()->resizeSection(0, 150);
        narrowest = grid.view.horizontalHeader()->minimumSectionSize();
        grid.view.horizontalHeader()->resizeSection(1, narrowest);
        grid.view.hide();
    }
    ASSERT_LT(narrowest, readable);
    EXPECT_EQ(SettingsStore::open()->readString("Columns.Test.Grid"), "150," + std::to_string(narrowest));

    Grid again(model);
    new GridColumns(again.view, QStringLiteral("Test.Grid"));
    EXPECT_EQ(again.view.columnWidth(0), 150);
    EXPECT_EQ(again.view.columnWidth(1), readable);
    // A reset keeps what the user chose.
    model.replace(0);
    EXPECT_EQ(again.view.columnWidth(0), 150);

    // Another grid keeps its own widths; an unreadable stored value counts as none.
    SettingsStore::open()->writeString("Columns.Other", "wide");
    Grid other(model);
    new GridColumns(other.view, QStringLiteral("Other"));
    EXPECT_LT(other.view.columnWidth(0), 150);
}

TEST(GridColumns, ResizesByTheProgramAreNotRemembered) {
    TempDir dir;
    CountingModel model;
    {
        Grid grid(model);
        new GridColumns(grid.view, QStringLiteral("Test.Grid"));
        model.replace(2); // the view puts its sections back, the rule widens them again
        grid.view.show();
        grid.view.hide();
    }
    EXPECT_FALSE(SettingsStore::open()->valueExists("Columns.Test.Grid"));
}

} // namespace
