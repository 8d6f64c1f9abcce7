#include "memtable/qt/tablegrid.h"

#include <QHeaderView>

namespace velmo {

MemTableGrid::MemTableGrid(QWidget* parent) : QTableView(parent) {
    // A screen of cells is laid out anew on every jump of the cursor (a search keystroke): plain
    // text without kerning or ligatures skips the shaper, most of a repaint's cost.
    QFont cellFont = font();
    cellFont.setStyleStrategy(QFont::PreferNoShaping);
    setFont(cellFont);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTabKeyNavigation(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Fixed row heights keep a grid of many thousand rows as cheap as one of a few.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("\u25B6")) + 10);
    verticalHeader()->setHighlightSections(false);
}

void MemTableGrid::setTableModel(MemTableModel* model) {
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    m_model = model;
    setModel(model);
    if (!model)
        return;
    connect(model, &MemTableModel::currentRowChanged, this, &MemTableGrid::followCursor);
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        applyColumns();
        followCursor(m_model->currentRow());
    });
    applyColumns();
    followCursor(model->currentRow());
}

void MemTableGrid::applyColumns() {
    const auto& cols = m_model->columns();
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        if (cols[static_cast<std::size_t>(c)].width >= 0)
            setColumnWidth(c, cols[static_cast<std::size_t>(c)].width);
    }
}

void MemTableGrid::followCursor(int row) {
    if (!m_model || !selectionModel())
        return;
    m_following = true;
    if (row < 0) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    } else {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex index = m_model->index(row, column);
        selectionModel()->setCurrentIndex(index,
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    }
    m_following = false;
}

void MemTableGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_following || !m_model || !current.isValid() || current.row() == m_model->currentRow())
        return;
    if (!m_model->moveToRow(current.row()))
        followCursor(m_model->currentRow()); // the move failed: show where the cursor really is
}

} // namespace velmo
