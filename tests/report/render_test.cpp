// The painter puts every element at its millimetre position on a PDF page (read back through
// poppler), and the preview window blocks its caller, prints through the print dialog and counts only
// completed prints.
#include "report/painter.h"
#include "report/preview.h"
#include "tests/support/pdf_text.h"
#include "tests/support/temp_dir.h"

#include <QFontDatabase>
#include <QPdfWriter>
#include <QPrinter>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <utility>

using namespace velmo;
using namespace velmo::report;
using velmo::test::PdfWord;

namespace {

constexpr double kTolerance = 0.2; // mm

class Rows : public DataSource {
public:
    explicit Rows(int n) : m_n(n) {}
    int recordCount() const override { return m_n; }
    QString text(int record, const QString& field) const override {
        if (record < 0)
            return QStringLiteral("Kopf");
        return field + QString::number(record + 1);
    }

private:
    int m_n;
};

Element textAt(double left, double top, const QString& text, Font font = {}) {
    Element e;
    e.left = left;
    e.top = top;
    e.text = text;
    e.font = std::move(font);
    return e;
}

// A detail band of 6.35 mm with the field "Nr" at (2.1, 1.9).
Band numberDetail() {
    Band detail{BandKind::Detail, 6.35, false, false, {}};
    Element nr;
    nr.kind = Element::Kind::Field;
    nr.left = 2.1;
    nr.top = 1.9;
    nr.field = QStringLiteral("Nr");
    detail.elements.push_back(nr);
    return detail;
}

const PdfWord* find(const std::vector<PdfWord>& words, const QString& text, int page = -1) {
    for (const PdfWord& w : words) {
        if (w.text == text && (page < 0 || w.page == page))
            return &w;
    }
    return nullptr;
}

// The top of a text's box as poppler reports it: the baseline less the font's ascent.
TEST(Render, ElementsLandAtTheirMillimetrePositions) {
    test::TempDir dir;
    Rows rows(2);
    Report r;
    r.page = {210, 297, 30, 30, 30, 30};
    r.data = &rows;
    Band title{BandKind::Title, 50, false, false, {}};
    title.elements.push_back(textAt(2.1, 27.5, QStringLiteral("Links")));
    Element right = textAt(31.8, 5.0, QStringLiteral("Rechtsbündig"));
    right.align = Align::Right;
    title.elements.push_back(right);
    Element boxed = textAt(105.3, 10.0, QStringLiteral("Kasten"));
    boxed.width = 127.0 - 105.3;
    boxed.autoSize = false;
    boxed.align = Align::Right;
    title.elements.push_back(boxed);
    title.elements.push_back(
        textAt(2.1, 40.0, QStringLiteral("GROSS"), Font{QStringLiteral("Arial"), 12, true, true}));
    Element bound;
    bound.kind = Element::Kind::Field;
    bound.left = 60;
    bound.top = 20;
    bound.field = QStringLiteral("x");
    bound.source = &rows;
    title.elements.push_back(bound);
    r.setBand(title);
    r.setBand(numberDetail());

    const QString pdf = QString::fromStdString(dir.file("elements.pdf"));
    {
        QPdfWriter writer(pdf);
        ASSERT_TRUE(renderReport(r, writer));
    }
    const std::vector<PdfWord> words = test::pdfWords(pdf);

    struct Expect {
        const char* text;
        double left;  // < 0: not checked
        double right; // < 0: not checked
        double top;
    };
    const Expect expected[] = {
        {"Links", 32.1, -1, 30 + 27.5},
        {"Rechtsbündig", -1, 61.8, 35.0},
        {"Kasten", -1, 157.0, 40.0},
        {"GROSS", 32.1, -1, 70.0},
        {"Kopf", 90.0, -1, 50.0},
        // Detail bands follow the 50 mm title band, 6.35 mm apart.
        {"Nr1", 32.1, -1, 80 + 1.9},
        {"Nr2", 32.1, -1, 86.35 + 1.9},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(e.text);
        const PdfWord* w = find(words, QString::fromUtf8(e.text));
        ASSERT_NE(w, nullptr);
        if (e.left >= 0) {
            EXPECT_NEAR(w->left, e.left, kTolerance);
        }
        if (e.right >= 0) {
            EXPECT_NEAR(w->right, e.right, kTolerance);
        }
        EXPECT_NEAR(w->top, e.top, kTolerance);
    }
}

TEST(Render, WrappedTextKeepsToItsBoxAndTheBandDoesNotGrow) {
    test::TempDir dir;
    Rows rows(1);
    Report r;
    r.page = {210, 297, 30, 30, 30, 30};
    r.data = &rows;
    Band detail{BandKind::Detail, 6.35, false, false, {}};
    Element e = textAt(36.0, 1.9,
                       QStringLiteral("eins zwei drei vier fünf sechs sieben acht neun zehn elf zwölf "
                                      "dreizehn vierzehn fünfzehn sechzehn siebzehn achtzehn"),
                       Font{QStringLiteral("Arial"), 8});
    e.width = 101.3 - 36.0;
    e.height = 6.35 - 1.9;
    e.autoSize = false;
    e.wordWrap = true;
    detail.elements.push_back(e);
    r.setBand(detail);
    Band summary{BandKind::Summary, 10, false, false, {}};
    summary.elements.push_back(textAt(0, 0, QStringLiteral("Ende")));
    r.setBand(summary);

    const QString pdf = QString::fromStdString(dir.file("wrap.pdf"));
    {
        QPdfWriter writer(pdf);
        ASSERT_TRUE(renderReport(r, writer));
    }
    const std::vector<PdfWord> words = test::pdfWords(pdf);
    ASSERT_NE(find(words, QStringLiteral("eins")), nullptr);
    // The first line ends inside the box; its continuation would overlap the next band.
    for (const PdfWord& w : words) {
        if (w.text == QLatin1String("Ende"))
            continue;
        EXPECT_LE(w.right, 131.3 + kTolerance) << w.text.toStdString();
        EXPECT_LE(w.top, 36.35) << w.text.toStdString();
    }
    EXPECT_EQ(find(words, QStringLiteral("achtzehn")), nullptr);
    const PdfWord* end = find(words, QStringLiteral("Ende"));
    ASSERT_NE(end, nullptr);
    EXPECT_NEAR(end->top, 36.35, kTolerance);
}

TEST(Render, ArialIsDrawnWithAMetricCompatibleFamily) {
    const QString family = resolveFamily(QStringLiteral("Arial"));
    EXPECT_TRUE(QFontDatabase::families().contains(family, Qt::CaseInsensitive)) << family.toStdString();
    EXPECT_EQ(resolveFamily(QStringLiteral("Keine Schrift")), QStringLiteral("Keine Schrift"));
}

// --- preview ------------------------------------------------------------------------------------

struct PreviewFixture : ::testing::Test {
    test::TempDir dir;
    Rows rows{80}; // three pages
    Report report;
    int runs = 0;
    int printed = 0;
    int dialogs = 0;
    QStringList errors;
    bool answer = true;
    QString output;

    void SetUp() override {
        report.page = {210, 297, 30, 30, 30, 30};
        report.data = &rows;
        report.setBand(numberDetail());
        report.beforeRun = [this](Report&) { ++runs; };
        report.afterPrint = [this] { ++printed; };
        output = QString::fromStdString(dir.file("print.pdf"));
    }

    PrintSeam seam() {
        return {[this](QWidget*, QPrinter& printer) {
                    ++dialogs;
                    printer.setOutputFormat(QPrinter::PdfFormat);
                    printer.setOutputFileName(output);
                    return answer;
                },
                [this](const QString& text) { errors << text; }, nullptr};
    }
};

TEST_F(PreviewFixture, BlocksUntilClosedWhilePrintingOnCtrlP) {
    QWidget opener;
    opener.show();
    PreviewWindow preview(report, seam(), &opener);
    EXPECT_EQ(preview.parentWidget(), &opener);
    EXPECT_EQ(preview.windowTitle(), QStringLiteral("Vorschau"));
    bool returned = false;
    // Whatever goes wrong, the loop ends.
    QTimer::singleShot(20000, &preview, [&] { preview.close(); });
    QTimer::singleShot(0, &preview, [&] {
        EXPECT_TRUE(preview.isRunning());
        EXPECT_EQ(preview.pageCount(), 3);
        preview.setCurrentPage(3);
        EXPECT_EQ(preview.currentPage(), 3);
        preview.setCurrentPage(9);
        EXPECT_EQ(preview.currentPage(), 3);
        const double zoom = preview.zoomFactor();
        preview.zoomIn();
        EXPECT_GT(preview.zoomFactor(), zoom);
        preview.activateWindow();
        QTest::keyClick(&preview, Qt::Key_P, Qt::ControlModifier);
        EXPECT_FALSE(returned);
        QTest::keyClick(&preview, Qt::Key_Escape);
    });
    preview.run();
    returned = true;
    EXPECT_FALSE(preview.isVisible());
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(printed, 1);
    EXPECT_GE(runs, 2); // the preview's pages and the print
    const QString text = test::pdfLayoutText(output);
    EXPECT_TRUE(text.contains(QStringLiteral("Nr80")));
    EXPECT_EQ(text.count(QLatin1Char('\f')), 3);
}

TEST_F(PreviewFixture, CancelledOrFailedPrintsDoNotCount) {
    PreviewWindow preview(report, seam(), nullptr);
    answer = false;
    EXPECT_FALSE(preview.print());
    EXPECT_EQ(printed, 0);
    EXPECT_TRUE(errors.isEmpty());

    answer = true;
    output = QString::fromStdString(dir.file("no/such/dir/print.pdf"));
    EXPECT_FALSE(preview.print());
    EXPECT_EQ(printed, 0);
    EXPECT_EQ(errors.size(), 1);

    output = QString::fromStdString(dir.file("print.pdf"));
    EXPECT_TRUE(preview.print());
    EXPECT_TRUE(preview.print());
    EXPECT_EQ(printed, 2);
}

} // namespace
