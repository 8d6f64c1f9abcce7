#pragma once

#include "memtable/qt/tablemodel.h"

#include <QTableView>

namespace velmo {

// A read-only grid over a MemTableModel: whole rows are selected, a narrow vertical header carries
// the record marker, columns take the widths the model's columns ask for. The selected row and the
// table's current record follow each other: moving the cursor selects its row, and a click or a key
// that selects another row makes that record current (posting a pending edit first).
class MemTableGrid : public QTableView {
    Q_OBJECT
public:
    explicit MemTableGrid(QWidget* parent = nullptr);

    void setTableModel(MemTableModel* model);
    MemTableModel* tableModel() const { return m_model; }

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    void followCursor(int row);
    void applyColumns();

    MemTableModel* m_model = nullptr;
    bool m_following = false;
};

} // namespace velmo
