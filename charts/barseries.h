#pragma once

#include "memtable/memtable.h"

#include <QObject>
#include <QString>

#include <string>
#include <vector>

namespace velmo::charts {

// One bar: its axis label, its length and the text of its value mark.
struct BarPoint {
    QString label;
    QString name; // the whole text the label was cut from
    double value = 0;
    QString mark;
};

// A horizontal bar series fed from a record table: one bar per visible record in the order of the
// table's current index, the first record at the bottom. The length comes from a numeric field, the
// axis label from a text field (at most kMaxLabelChars characters), the mark from the length written
// with a German number pattern ("#,##0.###", "#,##0.00").
class TableBarSeries : public QObject, private MemTableLink {
    Q_OBJECT
public:
    static constexpr int kMaxLabelChars = 20;

    TableBarSeries(MemTable& table, std::string valueField, std::string labelField, std::string markPattern,
                   QObject* parent = nullptr);
    ~TableBarSeries() override;

    // The field whose text the bars are named by in full, where their labels are cut; the label
    // field until set. Takes effect at the next refresh.
    void setNameField(std::string field) { m_nameField = std::move(field); }

    // Reads the table again (the refresh on demand). Leaves the table's cursor where it was.
    void refresh();
    // When on, every change of the table refreshes the series; the changes of one pass of the event
    // loop are read once, when the loop is next idle.
    void setAutoRefresh(bool on);
    bool autoRefresh() const { return m_autoRefresh; }

    // Index 0 is the bottom bar, the table's first record.
    const std::vector<BarPoint>& points() const { return m_points; }
    int count() const { return static_cast<int>(m_points.size()); }
    // The smallest and largest lengths (0 when there are no bars).
    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }

signals:
    void changed();

private:
    void dataSetChanged() override { scheduleRefresh(); }
    void recordChanged(int) override { scheduleRefresh(); }
    void tableDestroyed() override { m_table = nullptr; }
    void scheduleRefresh();

    MemTable* m_table;
    std::string m_valueField, m_labelField, m_markPattern, m_nameField;
    std::vector<BarPoint> m_points;
    double m_min = 0, m_max = 0;
    bool m_autoRefresh = false;
    bool m_refreshPending = false;
};

} // namespace velmo::charts
