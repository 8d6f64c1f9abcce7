#pragma once

#include "memtable/qt/tablemodel.h"

#include <QTableView>

#include <vector>

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
    void paintEvent(QPaintEvent* event) override;

private:
    void followCursor(int row);
    void applyColumns();
    // A table view and each of its headers lay themselves out anew, and then repaint whole, after any
    // change of header data. Of the record model's it is only the record marker that changes with
    // every move of the cursor, and the row header repaints the rows it leaves and enters by itself;
    // a change of the column titles still gets the new layout.
    void layOutOnlyForColumnTitles();
    // The lines between the cells, where the table view would draw them, as one-pixel rectangles:
    // a filled rectangle costs a fraction of a drawn line, and a jump repaints a whole screen.
    void drawGridLines(const QRegion& region);

    MemTableModel* m_model = nullptr;
    bool m_following = false;
    std::vector<QMetaObject::Connection> m_titleLayouts; // to the model in place of the views' own
};

} // namespace velmo
