#pragma once

#include "report/report.h"

#include <QFont>
#include <QRectF>

#include <vector>

class QPagedPaintDevice;
class QPaintDevice;
class QPrinter;

namespace velmo::report {

// The family a layout's font name is drawn with. A layout names the fonts of the machine it was made
// on; where such a family is missing, a metric-compatible one stands in, so that widths and line
// breaks stay as designed ("Arial" → "Liberation Sans", "Times New Roman" → "Liberation Serif",
// "Courier New" → "Liberation Mono").
QString resolveFamily(const QString& family);
QFont qtFont(const Font& font);

// Sets the device's page to the report's paper without margins, so that the painter's origin is the
// paper's top-left corner and every position is the layout's own.
void preparePage(const Report& report, QPagedPaintDevice& device);

// Draws the pages onto a device prepared by preparePage, one device page per layout page. Returns
// false when the device could not be painted on or reported an error (a failed print).
bool renderPages(const Report& report, const std::vector<Page>& pages, QPagedPaintDevice& device);

// A whole run onto the device: beforeRun, the layout, preparePage and renderPages.
bool renderReport(Report& report, QPagedPaintDevice& device);

// Where an element's box lies on a device (device pixels), for a band placed at bandTop millimetres
// from the paper's top edge, with the element's text already resolved.
QRectF elementRect(const Report& report, const Element& element, double bandTop, const QString& text,
                   const QPaintDevice& device);

} // namespace velmo::report
