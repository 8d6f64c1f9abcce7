// Page breaks of the banded report: title once, column header and footer on every page, the details
// in order, and the summary only where there is room for it and for one more detail band.
#include "report/report.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace velmo::report;

namespace {

class Rows : public DataSource {
public:
    explicit Rows(int n) : m_n(n) {}
    int recordCount() const override { return m_n; }
    QString text(int record, const QString&) const override { return QString::number(record); }

private:
    int m_n;
};

// A4 with 30 mm margins and the band heights of an invoice: 237 mm of page, of which the footer
// takes 18.8 mm; 18 details fit below the title and header on the first page, 33 on later ones.
Report invoiceLikeReport(const DataSource& rows) {
    Report r;
    r.page = {210, 297, 30, 30, 30, 30};
    r.data = &rows;
    r.setBand({BandKind::Title, 97.4, false, false, {}});
    r.setBand({BandKind::ColumnHeader, 6.35, false, true, {}});
    r.setBand({BandKind::Detail, 6.35, false, false, {}});
    r.setBand({BandKind::Summary, 25.4, true, true, {}});
    r.setBand({BandKind::PageFooter, 18.8, false, false, {}});
    return r;
}

struct PageShape {
    int details;
    bool summary;
};

struct BreakCase {
    int records;
    std::vector<PageShape> pages;
};

class PageBreaks : public ::testing::TestWithParam<BreakCase> {};

TEST_P(PageBreaks, BandsArePlacedAsThePageAllows) {
    const BreakCase& c = GetParam();
    Rows rows(c.records);
    const Report r = invoiceLikeReport(rows);
    const std::vector<Page> pages = r.layout();
    ASSERT_EQ(pages.size(), c.pages.size());

    int nextRecord = 0;
    int summaries = 0;
    for (std::size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        const std::vector<PlacedBand>& bands = pages[p].bands;
        std::size_t i = 0;
        if (p == 0) {
            ASSERT_EQ(bands.at(i).band->kind, BandKind::Title);
            EXPECT_DOUBLE_EQ(bands.at(i).top, 30.0);
            ++i;
        }
        ASSERT_EQ(bands.at(i).band->kind, BandKind::ColumnHeader);
        EXPECT_DOUBLE_EQ(bands.at(i).top, p == 0 ? 127.4 : 30.0);
        ++i;
        int details = 0;
        bool summary = false;
        double bottom = bands.at(i - 1).top + bands.at(i - 1).band->height;
        for (; i + 1 < bands.size(); ++i) {
            const PlacedBand& b = bands[i];
            // Bands follow each other without gaps and end above the footer.
            EXPECT_NEAR(b.top, bottom, 1e-9);
            bottom = b.top + b.band->height;
            EXPECT_LE(bottom, 297.0 - 30.0 - 18.8 + 1e-9);
            if (b.band->kind == BandKind::Detail) {
                EXPECT_FALSE(summary) << "a detail after the summary";
                EXPECT_EQ(b.record, nextRecord++);
                ++details;
            } else {
                ASSERT_EQ(b.band->kind, BandKind::Summary);
                summary = true;
                ++summaries;
            }
        }
        ASSERT_EQ(bands.back().band->kind, BandKind::PageFooter);
        EXPECT_DOUBLE_EQ(bands.back().top, 297.0 - 30.0 - 18.8);
        EXPECT_EQ(details, c.pages[p].details);
        EXPECT_EQ(summary, c.pages[p].summary);
    }
    EXPECT_EQ(nextRecord, c.records);
    EXPECT_EQ(summaries, 1);
}

INSTANTIATE_TEST_SUITE_P(Invoice, PageBreaks,
                         ::testing::Values(
                             // No records: title, header, summary and footer on one page.
                             BreakCase{0, {{0, true}}},
                             // 13 details leave 31.75 mm, exactly a summary and one more detail.
                             BreakCase{13, {{13, true}}},
                             // One more and the summary moves on, alone below the next page's header.
                             BreakCase{14, {{14, false}, {0, true}}}, BreakCase{18, {{18, false}, {0, true}}},
                             BreakCase{19, {{18, false}, {1, true}}},
                             // A second page filled to its last detail sends the summary to a third.
                             BreakCase{51, {{18, false}, {33, false}, {0, true}}},
                             BreakCase{70, {{18, false}, {33, false}, {19, true}}}));

TEST(Layout, ReportWithoutHeaderOrSummaryStillBreaksPages) {
    Rows rows(10);
    Report r;
    r.page = {100, 100, 10, 10, 10, 10};
    r.data = &rows;
    r.setBand({BandKind::Detail, 20, false, false, {}});
    const std::vector<Page> pages = r.layout();
    ASSERT_EQ(pages.size(), 3u); // 4 + 4 + 2 in 80 mm
    EXPECT_EQ(pages[0].bands.size(), 4u);
    EXPECT_EQ(pages[2].bands.size(), 2u);
    EXPECT_EQ(pages[2].bands.back().record, 9);
}

TEST(Layout, BandTallerThanThePageTakesAPageOfItsOwn) {
    Rows rows(2);
    Report r;
    r.page = {100, 100, 10, 10, 10, 10};
    r.data = &rows;
    r.setBand({BandKind::Detail, 120, false, false, {}});
    // Never an endless run of empty pages.
    EXPECT_EQ(r.layout().size(), 2u);
}

} // namespace
