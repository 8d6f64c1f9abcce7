#pragma once

#include "memtable/memtable.h"
#include "report/report.h"

namespace velmo {

// A record table as a report's data: its visible records in the order of its current index, read
// when the report runs, so that a run shows the table as it is at that moment.
class MemTableSource : public report::DataSource {
public:
    explicit MemTableSource(MemTable* table = nullptr) : m_table(table) {}
    void setTable(MemTable* table) { m_table = table; }

    int recordCount() const override;
    QString text(int record, const QString& field) const override;

private:
    MemTable* m_table;
};

} // namespace velmo
