// The bar chart fed from a record table: what its series reads, and which bars the view holds.
#include "charts/barchart.h"
#include "charts/barseries.h"
#include "memtable/memtable.h"

#include <QApplication>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QHelpEvent>
#include <QLegend>
#include <QScrollBar>
#include <QToolTip>
#include <gtest/gtest.h>

using namespace velmo;
using namespace velmo::charts;

namespace {

class BarChartTest : public ::testing::Test {
protected:
    void SetUp() override {
        table.addField("Name", FieldType::String, 40);
        table.addField("Menge", FieldType::Float);
        table.addField("Betrag", FieldType::Currency);
        table.addIndexDef({"Menge", {"Menge"}});
        table.setActive(true);
        table.setIndexName("Menge");
    }

    QStringList labels(const TableBarSeries& s) const {
        QStringList out;
        for (const BarPoint& p : s.points())
            out << p.label;
        return out;
    }
    QStringList marks(const TableBarSeries& s) const {
        QStringList out;
        for (const BarPoint& p : s.points())
            out << p.mark;
        return out;
    }

    MemTable table;
};

TEST_F(BarChartTest, BarsFollowTheTableFirstRecordAtTheBottom) {
    table.AppendValues({"Kanne", "3", "1"});
    table.AppendValues({"Tasse", "1", "1"});
    table.AppendValues({"Dose", "3", "1"});
    table.AppendValues({"Porzellanschale mit Goldrand", "2", "1"});
    TableBarSeries series(table, "Menge", "Name", "#,##0.###");
    series.refresh();
    // Equal lengths keep the table's order for equal keys: the later record first.
    EXPECT_EQ(labels(series), (QStringList{"Tasse", "Porzellanschale mit ", "Dose", "Kanne"}));
    EXPECT_EQ(marks(series), (QStringList{"1", "2", "3", "3"}));
    EXPECT_EQ(series.minValue(), 1);
    EXPECT_EQ(series.maxValue(), 3);
}

TEST_F(BarChartTest, MarksWithGermanSeparators) {
    struct Case {
        const char* field;
        const char* pattern;
        const char* value;
        QString mark;
    } cases[] = {
        {"Menge", "#,##0.###", "1234,5", "1.234,5"},
        {"Menge", "#,##0.###", "0,12345", "0,123"},
        {"Menge", "#,##0.###", "-1234567", "-1.234.567"},
        {"Betrag", "#,##0.00", "15,5", "15,50"},
        {"Betrag", "#,##0.00", "1234567,891", "1.234.567,89"},
        {"Betrag", "#,##0.00", "-0,005", "-0,01"},
        {"Betrag", "#,##0.00", "", "0,00"},
    };
    for (const Case& c : cases) {
        table.emptyTable();
        table.AppendValues({"A", c.value, c.value});
        TableBarSeries series(table, c.field, "Name", c.pattern);
        series.refresh();
        ASSERT_EQ(series.count(), 1);
        EXPECT_EQ(series.points()[0].mark, c.mark) << c.value;
    }
}

TEST_F(BarChartTest, RefreshOnDemandOrAfterEveryChange) {
    table.AppendValues({"A", "1", "1"});
    TableBarSeries onDemand(table, "Menge", "Name", "#,##0.###");
    TableBarSeries automatic(table, "Menge", "Name", "#,##0.###");
    automatic.setAutoRefresh(true);
    onDemand.refresh();
    automatic.refresh();
    table.AppendValues({"B", "2", "1"});
    table.AppendValues({"C", "3", "1"});
    QApplication::processEvents();
    EXPECT_EQ(onDemand.count(), 1);
    EXPECT_EQ(automatic.count(), 3);
    onDemand.refresh();
    EXPECT_EQ(onDemand.count(), 3);
}

TEST_F(BarChartTest, ViewHoldsTheBarsInSight) {
    for (int i = 0; i < 100; ++i)
        table.AppendValues({"Artikel " + std::to_string(i), std::to_string(i), "1"});
    TableBarSeries series(table, "Menge", "Name", "#,##0.###");
    series.refresh();
    BarChart chart("Titel");
    chart.resize(400, 300);
    chart.show();
    chart.setSeries(&series);
    chart.setScrollHeight(4438);
    QApplication::processEvents();
    EXPECT_EQ(chart.title(), "Titel");
    EXPECT_FALSE(chart.chart()->legend()->isVisible());
    EXPECT_TRUE(chart.verticalScrollBar()->isVisible());
    EXPECT_EQ(chart.contentHeight(), 4438);

    auto inView = [&] {
        std::vector<double> values;
        values.reserve(static_cast<std::size_t>(chart.barsInView()->count()));
        for (int i = 0; i < chart.barsInView()->count(); ++i)
            values.push_back(chart.barsInView()->at(i));
        return values;
    };
    auto expected = [&](int first, int count) {
        std::vector<double> values;
        for (int i = first; i < first + count; ++i)
            values.push_back(series.points()[static_cast<std::size_t>(i)].value);
        return values;
    };
    // At the top, the largest bars; about eight per 355 pixels.
    const int shown = chart.barsInView()->count();
    EXPECT_GE(shown, 4);
    EXPECT_LE(shown, 10);
    EXPECT_EQ(chart.firstBarInView() + shown, 100);
    EXPECT_EQ(inView(), expected(chart.firstBarInView(), shown));
    // At the bottom, the smallest.
    chart.verticalScrollBar()->setValue(chart.verticalScrollBar()->maximum());
    EXPECT_EQ(chart.firstBarInView(), 0);
    EXPECT_EQ(inView(), expected(0, chart.barsInView()->count()));

    // Without a scroll height the chart fills the visible area and shows every bar.
    chart.setScrollHeight(0);
    QApplication::processEvents();
    EXPECT_FALSE(chart.verticalScrollBar()->isVisible());
    EXPECT_LE(chart.contentHeight(), 300);
    EXPECT_EQ(chart.barsInView()->count(), 100);
}

// A label cut at its 20 characters names the bar in full as the tooltip of the bar's row; a
// whole label needs none. The name comes from its own field when the label field is cut itself.
TEST_F(BarChartTest, ACutLabelShowsTheWholeNameAsTooltip) {
    MemTable names;
    names.addField("Name", FieldType::String, 40);
    names.addField("Menge", FieldType::Float);
    names.addField("Kurz", FieldType::String, 20);
    names.setActive(true);
    const std::string longName = "Porzellanschale mit Goldrand";
    const std::string shortName = "Tasse";
    const std::string cutName = longName.substr(0, 20);
    names.AppendValues({shortName, "1", shortName});
    names.AppendValues({longName, "2", cutName});

    struct Case {
        const char* labelField;
        const char* nameField; // "" for none
    };
    for (const Case& c : {Case{"Name", ""}, Case{"Kurz", "Name"}}) {
        SCOPED_TRACE(c.labelField);
        TableBarSeries series(names, "Menge", c.labelField, "#,##0.###");
        if (*c.nameField)
            series.setNameField(c.nameField);
        series.refresh();
        BarChart chart("Titel");
        chart.resize(400, 300);
        chart.show();
        chart.setSeries(&series);
        chart.setScrollHeight(0);
        QApplication::processEvents();

        // Down the label column: each row tells its tooltip once.
        QStringList tips;
        for (int y = 0; y < chart.height(); ++y) {
            const QString tip = chart.toolTipAt(QPoint(10, y));
            if (!tip.isEmpty() && !tips.contains(tip))
                tips << tip;
        }
        EXPECT_EQ(tips, QStringList{QString::fromStdString(longName)});
        EXPECT_EQ(series.points()[1].label, QString::fromStdString(cutName));

        // Resting the pointer on that row shows it.
        QWidget* viewport = chart.findChild<QChartView*>()->viewport();
        bool shown = false;
        for (int y = 0; y < viewport->height() && !shown; ++y) {
            const QPoint at(10, y);
            if (chart.toolTipAt(viewport->mapTo(&chart, at)).isEmpty())
                continue;
            QHelpEvent help(QEvent::ToolTip, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &help);
            EXPECT_EQ(QToolTip::text(), QString::fromStdString(longName));
            QToolTip::hideText();
            shown = true;
        }
        EXPECT_TRUE(shown);
    }
}

} // namespace
