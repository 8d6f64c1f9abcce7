#pragma once

#include "report/report.h"

#include <QString>

#include <utility>

// The building blocks both invoice layouts are made of: texts and fields placed in millimetres,
// in the invoices' Arial.
namespace velmo::layout {

inline report::Font arial(double points, bool bold = false, bool italic = false) {
    return {QStringLiteral("Arial"), points, bold, italic};
}

inline report::Element text(double left, double top, const QString& content, report::Font font = arial(10)) {
    report::Element e;
    e.kind = report::Element::Kind::Text;
    e.left = left;
    e.top = top;
    e.text = content;
    e.font = std::move(font);
    return e;
}

inline report::Element text(double left, double top, const char* content, report::Font font = arial(10)) {
    return text(left, top, QString::fromUtf8(content), std::move(font));
}

inline report::Element field(double left, double top, const char* name, const report::DataSource* source,
                             report::Font font = arial(10)) {
    report::Element e;
    e.kind = report::Element::Kind::Field;
    e.left = left;
    e.top = top;
    e.field = QString::fromLatin1(name);
    e.source = source;
    e.font = std::move(font);
    return e;
}

// The element under a name, for texts set before every run.
inline report::Element named(report::Element e, const char* name) {
    e.name = name;
    return e;
}

// Right-aligned at a right edge, sized to the text.
inline report::Element rightAt(report::Element e, double rightEdge) {
    e.left = rightEdge;
    e.align = report::Align::Right;
    return e;
}

// A fixed box from left to right.
inline report::Element box(report::Element e, double right, report::Align align) {
    e.width = right - e.left;
    e.autoSize = false;
    e.align = align;
    return e;
}

// An article description in a detail band of height bandHeight: from left to right, wrapped, and cut
// at the band's bottom edge (the band does not grow; what does not fit is left out).
inline report::Element wrappedDescription(double left, double top, double right, double bandHeight,
                                          const char* name) {
    report::Element e = box(field(left, top, name, nullptr, arial(8)), right, report::Align::Left);
    e.wordWrap = true;
    e.height = bandHeight - top;
    return e;
}

} // namespace velmo::layout
