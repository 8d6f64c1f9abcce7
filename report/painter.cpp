#include "report/painter.h"

#include "platform/german.h"
#include "platform/qt/text.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <QTextLayout>

#include <cmath>

namespace velmo::report {

namespace {

constexpr double kMmPerInch = 25.4;
// The rules of bands and line elements.
constexpr double kLineWidthMm = 0.2;

struct Scale {
    double x, y; // device pixels per millimetre
    explicit Scale(const QPaintDevice& d)
        : x(d.logicalDpiX() / kMmPerInch), y(d.logicalDpiY() / kMmPerInch) {}
};

const Font& effectiveFont(const Report& report, const Element& e) {
    return e.font.family.isEmpty() ? report.baseFont : e.font;
}

// page counts from 1.
QString elementText(const Report& report, const Element& e, int record, int page, int pages) {
    switch (e.kind) {
    case Element::Kind::Text:
        return e.text;
    case Element::Kind::PageNumber:
        return QString(e.text)
            .replace(QLatin1String("%1"), QString::number(page))
            .replace(QLatin1String("%2"), QString::number(pages));
    case Element::Kind::Field: {
        if (e.source)
            return e.source->text(-1, e.field);
        return report.data ? report.data->text(record, e.field) : QString();
    }
    case Element::Kind::Date:
        return fromUtf8(german::dateToStr(german::now()));
    case Element::Kind::Line:
        break;
    }
    return {};
}

// The lines of a word-wrapped text that fit into the box, laid out from the box's top-left corner.
void drawWrapped(QPainter& painter, const QRectF& box, const QString& text, const QFont& font, Align align,
                 QPaintDevice& device) {
    QTextLayout layout(text, font, &device);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    option.setAlignment(align == Align::Right    ? Qt::AlignRight
                        : align == Align::Center ? Qt::AlignHCenter
                                                 : Qt::AlignLeft);
    layout.setTextOption(option);
    layout.beginLayout();
    double height = 0.0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(box.width());
        // The first line always shows; the others only when they fit whole.
        if (height > 0.0 && height + line.height() > box.height() + 0.5) {
            line.setNumColumns(0);
            line.setPosition(QPointF(0, -1e6));
            break;
        }
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    painter.save();
    painter.setClipRect(box);
    layout.draw(&painter, box.topLeft());
    painter.restore();
}

} // namespace

QString resolveFamily(const QString& family) {
    static const QStringList families = QFontDatabase::families();
    if (families.contains(family, Qt::CaseInsensitive))
        return family;
    static const std::pair<const char*, const char*> kStandIns[] = {
        {"Arial", "Liberation Sans"},
        {"Helvetica", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"},
        {"Courier New", "Liberation Mono"},
    };
    for (const auto& [name, standIn] : kStandIns) {
        if (family.compare(QLatin1String(name), Qt::CaseInsensitive) == 0 &&
            families.contains(QLatin1String(standIn), Qt::CaseInsensitive))
            return QLatin1String(standIn);
    }
    return family;
}

QFont qtFont(const Font& font) {
    QFont f(resolveFamily(font.family));
    f.setPointSizeF(font.pointSize);
    f.setBold(font.bold);
    f.setItalic(font.italic);
    // Widths as designed, not as hinted for a screen.
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(true);
    return f;
}

void preparePage(const Report& report, QPagedPaintDevice& device) {
    const QSizeF paper(report.page.paperWidth, report.page.paperHeight);
    QPageSize size(paper, QPageSize::Millimeter);
    // A standard size goes by its name, so that the printer picks the right tray.
    const QPageSize::PageSizeId id = QPageSize::id(paper, QPageSize::Millimeter, QPageSize::FuzzyMatch);
    if (id != QPageSize::Custom)
        size = QPageSize(id);
    if (auto* printer = dynamic_cast<QPrinter*>(&device))
        printer->setFullPage(true);
    device.setPageLayout(
        QPageLayout(size, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
}

QRectF elementRect(const Report& report, const Element& e, double bandTop, const QString& text,
                   const QPaintDevice& device) {
    const Scale s(device);
    const double left = (report.page.leftMargin + e.left) * s.x;
    const double top = (bandTop + e.top) * s.y;
    if (e.kind == Element::Kind::Line)
        return QRectF(left, top, e.width * s.x, e.height * s.y);
    const QFontMetricsF metrics(qtFont(effectiveFont(report, e)), const_cast<QPaintDevice*>(&device));
    const double height = e.height > 0.0 ? e.height * s.y : metrics.height();
    if (!e.autoSize)
        return QRectF(left, top, e.width * s.x, height);
    const double width = metrics.horizontalAdvance(text);
    switch (e.align) {
    case Align::Left:
        return QRectF(left, top, width, height);
    case Align::Right:
        return QRectF(left - width, top, width, height);
    case Align::Center:
        return QRectF(left - width / 2, top, width, height);
    }
    return {};
}

bool renderPages(const Report& report, const std::vector<Page>& pages, QPagedPaintDevice& device) {
    QPainter painter;
    if (!painter.begin(&device))
        return false;
    const Scale s(device);
    QPen pen(Qt::black);
    pen.setWidthF(kLineWidthMm * s.x);
    pen.setCapStyle(Qt::FlatCap);
    bool ok = true;
    for (std::size_t p = 0; p < pages.size() && ok; ++p) {
        if (p > 0 && !device.newPage()) {
            ok = false;
            break;
        }
        for (const PlacedBand& placed : pages[p].bands) {
            const Band& band = *placed.band;
            const double x0 = report.page.leftMargin * s.x;
            const double x1 = (report.page.leftMargin + report.page.bandWidth()) * s.x;
            painter.setPen(pen);
            if (band.lineTop)
                painter.drawLine(QPointF(x0, placed.top * s.y), QPointF(x1, placed.top * s.y));
            if (band.lineBottom) {
                const double y = (placed.top + band.height) * s.y;
                painter.drawLine(QPointF(x0, y), QPointF(x1, y));
            }
            for (const Element& e : band.elements) {
                if (e.kind == Element::Kind::Line) {
                    const QRectF r = elementRect(report, e, placed.top, {}, device);
                    painter.setPen(pen);
                    painter.drawLine(r.topLeft(), r.bottomRight());
                    continue;
                }
                const QString text = elementText(report, e, placed.record, static_cast<int>(p) + 1,
                                                 static_cast<int>(pages.size()));
                if (text.isEmpty())
                    continue;
                const QFont font = qtFont(effectiveFont(report, e));
                const QRectF box = elementRect(report, e, placed.top, text, device);
                painter.setFont(font);
                painter.setPen(Qt::black);
                if (e.wordWrap && !e.autoSize) {
                    drawWrapped(painter, box, text, font, e.align, device);
                    continue;
                }
                const Qt::Alignment align = e.align == Align::Right    ? Qt::AlignRight
                                            : e.align == Align::Center ? Qt::AlignHCenter
                                                                       : Qt::AlignLeft;
                // Fixed boxes cut what does not fit; sized boxes fit their text.
                const int flags = static_cast<int>(align | Qt::AlignTop) | Qt::TextSingleLine |
                                  (e.autoSize ? Qt::TextDontClip : 0);
                painter.drawText(box, flags, text);
            }
        }
    }
    if (!painter.end())
        ok = false;
    if (auto* printer = dynamic_cast<QPrinter*>(&device)) {
        if (printer->printerState() == QPrinter::Error || printer->printerState() == QPrinter::Aborted)
            ok = false;
    }
    return ok;
}

bool renderReport(Report& report, QPagedPaintDevice& device) {
    if (report.beforeRun)
        report.beforeRun(report);
    preparePage(report, device);
    return renderPages(report, report.layout(), device);
}

} // namespace velmo::report
