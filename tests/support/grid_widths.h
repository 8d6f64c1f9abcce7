#pragma once

// Whether a grid shows a text whole: its column must hold the text as the grid's font measures it,
// plus the room the style keeps around a cell's or a header's text.
#include <QFontMetrics>
#include <QHeaderView>
#include <QString>
#include <QStyle>
#include <QTableView>

namespace velmo::test {

inline int cellTextNeeds(const QTableView& grid, const QString& text) {
    const int margin = grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1;
    return grid.fontMetrics().horizontalAdvance(text) + 2 * margin;
}

inline int headerTextNeeds(const QTableView& grid, const QString& text) {
    const QHeaderView* header = grid.horizontalHeader();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    return header->fontMetrics().horizontalAdvance(text) + 2 * margin;
}

} // namespace velmo::test
