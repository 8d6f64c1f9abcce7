#pragma once

#include "orders/core/orderdocument.h"
#include "report/report.h"

namespace velmo {

// An invoice snapshot as a report's data: its order header (the source's current record, for the
// title, summary and footer bands) or its positions (the detail records).
class InvoiceSource : public report::DataSource {
public:
    enum class Part { Order, Positions };
    explicit InvoiceSource(Part part) : m_part(part) {}
    void setSnapshot(const InvoiceSnapshot* snapshot) { m_snapshot = snapshot; }

    int recordCount() const override;
    QString text(int record, const QString& field) const override;

private:
    Part m_part;
    const InvoiceSnapshot* m_snapshot = nullptr;
};

} // namespace velmo
