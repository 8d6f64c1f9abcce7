// The article quantity and turnover windows: activation, charts, and what a failure leaves.
#include "charts/barchart.h"
#include "charts/barseries.h"
#include "datafiles/orderfiles.h"
#include "shell/shop.h"
#include "statistics/u_artikel.h"
#include "statistics/u_preis.h"
#include "tests/support/scripted_dialogs.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

using namespace velmo;
using velmo::test::readBytes;
using velmo::test::writeBytes;

namespace {

std::string line(const std::string& order, const std::string& menge, const std::string& nr,
                 const std::string& text, const std::string& preis) {
    return order + ";;x;;" + menge + ";;" + nr + ";;" + text + ";;" + preis + ";;0\r\n";
}

class StatisticsWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { shop.ShopSettings.localDat = QString::fromStdString(dir.path()); }

    std::string positionFile() const { return dir.file(datafiles::kPositionFile); }
    void positions(const std::string& bytes) { writeBytes(positionFile(), bytes); }

    // Shown as the menu shows it; the activation runs on the show.
    void activate(QDialog& window) {
        window.hide();
        window.show();
        QApplication::processEvents();
    }

    static QStringList texts(const charts::TableBarSeries& s, bool marks) {
        QStringList out;
        for (const charts::BarPoint& p : s.points())
            out << (marks ? p.mark : p.label);
        return out;
    }

    test::ScriptedDialogs seam;
    test::TempDir dir;
    Shop shop{seam};
};

TEST_F(StatisticsWindowsTest, QuantityChart) {
    positions(line("1", "2", "K1", "Kanne", "10.00") + line("2", "1", "T1", "Tasse", "3") +
              line("2", "3", "K1", "Kanne", "10.00") + line("3", "7", "D1", "Dose", "1") +
              line("4", "1", "S1", "Schale aus Steingut, handbemalt", "8") +
              line("4", "1", "", "Versand", "4.90"));
    TForm14 window(shop);
    activate(window);
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_EQ(window.windowTitle(), "Artikelauswertung");
    EXPECT_EQ(window.DBChart1->title(), "Artike (Menge)");
    // Smallest quantity at the bottom. Of equal totals the one posted last comes first, and the
    // totals are posted in article-number order: T1 before S1.
    EXPECT_EQ(texts(*window.Series1, false), (QStringList{"Tasse", "Schale aus Steingut,", "Kanne", "Dose"}));
    EXPECT_EQ(texts(*window.Series1, true), (QStringList{"1", "1", "5", "7"}));
    EXPECT_EQ(window.DBChart1->scrollHeight(), 178);
    EXPECT_TRUE(window.Gauge1->isHidden());
    EXPECT_TRUE(window.StatusBar1->currentMessage().isEmpty());

    // Every activation reads the file again.
    positions(readBytes(positionFile()) + line("5", "10", "T1", "Tasse", "3"));
    activate(window);
    EXPECT_EQ(texts(*window.Series1, false), (QStringList{"Schale aus Steingut,", "Kanne", "Dose", "Tasse"}));
    EXPECT_EQ(window.AllPositions.RecordCount(), 6);
    EXPECT_EQ(window.ArticleTotals.RecordCount(), 4);

    // Closed, the window lets go of the positions; the totals it charted stay.
    window.Button1->click();
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.AllPositions.RecordCount(), 0);
    EXPECT_EQ(window.ArticleTotals.RecordCount(), 4);
    EXPECT_EQ(window.Series1->count(), 4);
}

TEST_F(StatisticsWindowsTest, TurnoverChart) {
    positions(line("1", "1", "A", "Tasse", "10.00") + line("2", "1", "A", "Tasse", "5.50") +
              line("3", "3", "B", "Kanne", "30.00") + line("4", "1", "C", "Dose", "1234.5"));
    TForm15 window(shop);
    activate(window);
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_EQ(window.windowTitle(), "Umsatzauswerung");
    EXPECT_EQ(window.DBChart2->title(), "Artikelumsatz");
    EXPECT_EQ(texts(*window.HorizBarSeries1, false), (QStringList{"Tasse", "Kanne", "Dose"}));
    EXPECT_EQ(texts(*window.HorizBarSeries1, true), (QStringList{"15,50", "30,00", "1.234,50"}));
    EXPECT_EQ(window.HorizBarSeries1->points()[0].value, 15.5);
    // The turnover chart grows with the number of articles as the quantity chart does.
    EXPECT_EQ(window.DBChart2->scrollHeight(), 133);
}

TEST_F(StatisticsWindowsTest, NoPositions) {
    TForm15 turnover(shop);
    activate(turnover);
    EXPECT_TRUE(std::filesystem::exists(positionFile()));
    EXPECT_EQ(turnover.HorizBarSeries1->count(), 0);
    EXPECT_EQ(turnover.DBChart2->scrollHeight(), 0);
    EXPECT_TRUE(seam.calls().empty());

    TForm14 quantity(shop);
    activate(quantity);
    EXPECT_EQ(quantity.Series1->count(), 0);
    EXPECT_EQ(quantity.DBChart1->scrollHeight(), 0);
    EXPECT_FALSE(quantity.DBChart1->verticalScrollBar()->isVisible());
}

TEST_F(StatisticsWindowsTest, FailuresLeaveTheWindowOpen) {
    const std::string good = line("1", "2", "A", "Tasse", "1") + line("2", "1", "B", "Kanne", "1");
    struct Case {
        const char* what;
        std::string bytes;
        QString error;
        QStringList labelsAfter; // of the quantity chart, smallest first
        bool gaugeShown;
    } cases[] = {
        // Reading stops: no totals, the chart keeps what it showed.
        {"bad quantity",
         good + line("3", "2.5", "C", "Dose", "1"),
         QString::fromUtf8("'2.5' ist kein gültiger Fließkommawert für Feld 'menge'"),
         {"Kanne", "Tasse"},
         false},
        // The totals stop: the articles completed before the bad amount are charted, the progress
        // bar stays.
        {"bad amount",
         line("1", "5", "A", "Tasse", "1") + line("2", "1", "B", "Kanne", "zwei"),
         QString::fromUtf8("'zwei' ist kein gültiger Gleitkommawert."),
         {"Tasse"},
         true},
        {"short line",
         good + "3;;x;;1;;C\r\n",
         QString::fromUtf8(
             "Zeile 3 in bestellungen.db ist unvollständig: sie hat weniger als 6 Trennzeichen \";;\""),
         {"Kanne", "Tasse"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TForm14 window(shop);
        positions(good);
        activate(window);
        ASSERT_EQ(texts(*window.Series1, false), (QStringList{"Kanne", "Tasse"}));
        seam.clear();
        positions(c.bytes);
        activate(window);
        EXPECT_EQ(seam.texts("error"), QStringList{c.error});
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(texts(*window.Series1, false), c.labelsAfter);
        EXPECT_EQ(window.Gauge1->isHidden(), !c.gaugeShown);
    }

    // A file that can be neither read nor created: nothing is computed.
    TForm15 window(shop);
    positions(good);
    activate(window);
    seam.clear();
    shop.ShopSettings.localDat = QString::fromStdString(dir.file("fehlt"));
    activate(window);
    ASSERT_EQ(seam.texts("error").size(), 1);
    EXPECT_TRUE(seam.texts("error")[0].contains("kann nicht erstellt werden"))
        << seam.texts("error")[0].toStdString();
    EXPECT_EQ(texts(*window.HorizBarSeries1, false), (QStringList{"Kanne", "Tasse"}));
    EXPECT_TRUE(window.isVisible());
}

// A file read in many slices: the activation returns at once, the progress bar moves while the
// event loop runs, and the chart is what one slice would have made. Closing the window stops the
// reading; a bad line met in a later slice still ends in the error box.
TEST_F(StatisticsWindowsTest, LargeFileIsReadInSlices) {
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes +=
            line(std::to_string(i), std::to_string(1 + i % 3), "A" + std::to_string(i % 7), "Text", "1.00");
    positions(bytes);
    TForm15 window(shop);
    window.setSlices(64, std::chrono::milliseconds(0));
    auto runUntilRead = [&] {
        std::vector<int> progress;
        for (int turns = 0; window.reading() && turns < 10000; ++turns) {
            progress.push_back(window.Gauge1->value());
            EXPECT_TRUE(window.Gauge1->isVisible());
            QApplication::processEvents();
        }
        EXPECT_FALSE(window.reading());
        QApplication::processEvents();
        return progress;
    };

    activate(window);
    EXPECT_TRUE(window.reading());
    const std::vector<int> progress = runUntilRead();
    EXPECT_GT(progress.size(), 20u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(window.Gauge1->isHidden());
    EXPECT_TRUE(seam.calls().empty());
    EXPECT_EQ(window.AllPositions.RecordCount(), 300);
    EXPECT_EQ(texts(*window.HorizBarSeries1, true),
              (QStringList{"42,00", "43,00", "43,00", "43,00", "43,00", "43,00", "43,00"}));

    positions(bytes + line("x", "1", "B", "Neu", "5"));
    activate(window);
    EXPECT_TRUE(window.reading());
    window.Button1->click();
    EXPECT_FALSE(window.reading());
    EXPECT_TRUE(window.Gauge1->isHidden());
    QApplication::processEvents();
    EXPECT_EQ(window.HorizBarSeries1->count(), 7);
    EXPECT_TRUE(seam.calls().empty());

    positions(bytes + line("x", "2.5", "B", "Neu", "5"));
    activate(window);
    runUntilRead();
    EXPECT_EQ(seam.texts("error"),
              QStringList{QString::fromUtf8("'2.5' ist kein gültiger Fließkommawert für Feld 'menge'")});
    EXPECT_EQ(window.HorizBarSeries1->count(), 7);
    EXPECT_TRUE(window.Gauge1->isHidden());
}

} // namespace
