#include "orders/invoicesource.h"

#include "platform/qt/text.h"

namespace velmo {

int InvoiceSource::recordCount() const {
    if (!m_snapshot)
        return 0;
    return m_part == Part::Order ? 1 : static_cast<int>(m_snapshot->positions.size());
}

QString InvoiceSource::text(int record, const QString& fieldName) const {
    if (!m_snapshot)
        return {};
    const std::string name = fromQString(fieldName);
    const std::string* value = nullptr;
    if (m_part == Part::Order)
        value = record <= 0 ? m_snapshot->orderField(name) : nullptr;
    else if (record >= 0)
        value = m_snapshot->positionField(static_cast<std::size_t>(record), name);
    return value ? toQString(*value) : QString();
}

} // namespace velmo
