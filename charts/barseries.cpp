#include "charts/barseries.h"

#include "platform/german.h"
#include "platform/qt/text.h"

#include <QMetaObject>

#include <algorithm>

namespace velmo::charts {

TableBarSeries::TableBarSeries(MemTable& table, std::string valueField, std::string labelField,
                               std::string markPattern, QObject* parent)
    : QObject(parent), m_table(&table), m_valueField(std::move(valueField)),
      m_labelField(std::move(labelField)), m_markPattern(std::move(markPattern)) {
    m_table->addLink(this);
}

TableBarSeries::~TableBarSeries() {
    if (m_table)
        m_table->removeLink(this);
}

void TableBarSeries::setAutoRefresh(bool on) {
    m_autoRefresh = on;
}

void TableBarSeries::scheduleRefresh() {
    if (!m_autoRefresh || m_refreshPending)
        return;
    // A table being filled changes thousands of times; the chart needs only the final state.
    m_refreshPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_refreshPending)
                refresh();
        },
        Qt::QueuedConnection);
}

void TableBarSeries::refresh() {
    m_refreshPending = false;
    m_points.clear();
    m_min = m_max = 0;
    if (m_table && m_table->Active()) {
        const int value = m_table->fieldByName(m_valueField).index();
        const int label = m_table->fieldByName(m_labelField).index();
        const int name = m_nameField.empty() ? label : m_table->fieldByName(m_nameField).index();
        const Field& valueField = m_table->field(value);
        const int rows = m_table->visibleCount();
        m_points.reserve(static_cast<std::size_t>(rows));
        for (int row = 0; row < rows; ++row) {
            const RecordId id = m_table->visibleAt(row);
            BarPoint p;
            p.name = toQString(m_table->viewAt(id, name));
            p.label = (name == label ? p.name : toQString(m_table->viewAt(id, label))).left(kMaxLabelChars);
            // Stored numbers read back through their text, which the table writes exactly; a
            // currency amount keeps all of its four decimals that way.
            const std::string text = m_table->textAt(id, value);
            p.value = text.empty() ? 0.0 : german::strToFloat(text);
            if (valueField.type() == FieldType::Currency)
                p.mark = toQString(
                    german::formatCurr(m_markPattern, german::strToCurr(text.empty() ? "0" : text)));
            else
                p.mark = toQString(german::formatFloat(m_markPattern, p.value));
            m_points.push_back(std::move(p));
        }
    }
    if (!m_points.empty()) {
        const auto [lo, hi] =
            std::minmax_element(m_points.begin(), m_points.end(),
                                [](const BarPoint& a, const BarPoint& b) { return a.value < b.value; });
        m_min = lo->value;
        m_max = hi->value;
    }
    emit changed();
}

} // namespace velmo::charts
