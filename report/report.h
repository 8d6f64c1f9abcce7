#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A banded report: a page set up in millimetres, bands of fixed height and the elements on them.
// Title band once at the start, column header at the top of every page, one detail band per record
// of the report's data, the summary once after the last detail, and the page footer at the bottom of
// every page. The report knows nothing of what it prints; its data comes through DataSource.
namespace velmo::report {

// Where the texts of field-bound elements come from.
class DataSource {
public:
    virtual ~DataSource() = default;
    virtual int recordCount() const = 0;
    // The field's text in record (0 .. recordCount()-1), or in the source's current record for -1.
    // An unknown field gives the empty text.
    virtual QString text(int record, const QString& field) const = 0;
};

struct PageSetup {
    // All in millimetres.
    double paperWidth = 210.0;
    double paperHeight = 297.0;
    double leftMargin = 10.0;
    double topMargin = 10.0;
    double rightMargin = 10.0;
    double bottomMargin = 10.0;

    double bandWidth() const { return paperWidth - leftMargin - rightMargin; }
    double usableHeight() const { return paperHeight - topMargin - bottomMargin; }
};

struct Font {
    QString family = QStringLiteral("Arial");
    double pointSize = 10.0;
    bool bold = false;
    bool italic = false;
};

enum class Align { Left, Right, Center };

struct Element {
    enum class Kind {
        Text,  // fixed text
        Field, // a field of a data source
        Date,  // the date of the run, in the short date form
        Line,  // a line from (left, top) to (left + width, top + height)
        // text with "%1" replaced by the page's number (from 1) and "%2" by the number of pages
        // ("Seite %1 von %2")
        PageNumber,
    };
    Kind kind = Kind::Text;
    // For finding the element before a run (Report::element).
    std::string name;
    // Millimetres from the band's top-left corner. With autoSize the box is as wide as its text and
    // left is the text's anchor: its left edge, its right edge (Align::Right) or its centre.
    double left = 0.0;
    double top = 0.0;
    double width = 0.0;
    double height = 0.0; // 0: one line of the element's font
    Align align = Align::Left;
    bool autoSize = true;
    // Fixed-size boxes only: breaks the text at word boundaries; the lines that do not fit into the
    // box's height are left out.
    bool wordWrap = false;
    Font font;
    QString text;  // Text: the text; PageNumber: the pattern
    QString field; // Field: the field name
    // Field: where the value comes from; null for the report's own data (the detail records).
    const DataSource* source = nullptr;
};

enum class BandKind { Title, ColumnHeader, Detail, Summary, PageFooter };

struct Band {
    BandKind kind = BandKind::Detail;
    double height = 0.0; // millimetres; a band never grows
    bool lineTop = false;
    bool lineBottom = false;
    std::vector<Element> elements;
};

// One band placed on a page.
struct PlacedBand {
    const Band* band = nullptr;
    double top = 0.0; // millimetres from the paper's top edge
    int record = -1;  // detail bands: the record they show
};

struct Page {
    std::vector<PlacedBand> bands;
};

class Report {
public:
    PageSetup page;
    // The font of elements that do not name their own (the base font).
    Font baseFont;
    // The records the detail band repeats for; none means no detail bands.
    const DataSource* data = nullptr;

    // Runs before each run (preview and print alike): the place to set computed texts.
    std::function<void(Report&)> beforeRun;
    // Runs after a print on the printer has completed; not after a preview, a cancelled or a failed
    // print.
    std::function<void()> afterPrint;

    // How "Als PDF speichern" writes the report. archival: the PDF writer makes a PDF/A-1b (fonts
    // embedded, XMP metadata, an sRGB output intent). finish: gets the PDF once the run has drawn it
    // and returns the bytes that go into the file; it may throw, and then no file is written and
    // afterPrint does not run. Without either the PDF is written as drawn.
    struct PdfExport {
        bool archival = false;
        std::function<std::string(const std::string& pdf)> finish;
    } pdf;

    // Adds a band, replacing one of the same kind.
    Band& setBand(Band band);
    // Null when the report has no band of that kind.
    const Band* band(BandKind kind) const;
    Band* band(BandKind kind);
    // The element of that name on any band; null when there is none.
    Element* element(const std::string& name);

    // Places the bands on pages for the data's current records. Page breaks follow from the band
    // heights: a detail band that does not fit starts a new page; the summary stays on the page only
    // when that page has room for it and for one more detail band.
    std::vector<Page> layout() const;

private:
    std::vector<Band> m_bands;
};

} // namespace velmo::report
