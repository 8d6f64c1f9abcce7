#include "orders/tablesource.h"

#include "platform/qt/text.h"

namespace velmo {

int MemTableSource::recordCount() const {
    return m_table && m_table->Active() ? m_table->visibleCount() : 0;
}

QString MemTableSource::text(int record, const QString& fieldName) const {
    if (!m_table || !m_table->Active())
        return {};
    const Field* field = m_table->findField(fromQString(fieldName));
    if (!field)
        return {};
    if (record < 0) {
        if (m_table->currentRecord() == kNoRecord)
            return {};
        return toQString(field->asString());
    }
    if (record >= m_table->visibleCount())
        return {};
    return toQString(m_table->textAt(m_table->visibleAt(record), field->index()));
}

} // namespace velmo
