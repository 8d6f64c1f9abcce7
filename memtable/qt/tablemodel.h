#pragma once

#include "memtable/memtable.h"

#include <QAbstractTableModel>

#include <functional>
#include <memory>
#include <vector>

namespace velmo {

// The rows of a MemTable as a grid shows them: the visible records (filter applied) in the order of
// the current index, one column per chosen field. Nothing is copied: every cell is read from the table
// when asked for. The model follows the table: a changed order, filter or record set resets it, a
// changed value of the current record updates that row, and a moved cursor moves the record marker in
// the vertical header and is announced by currentRowChanged.
//
// Bulk changes (loading a file) belong between MemTable::beginUpdate() and endUpdate(), so that the
// views hear of them once.
class MemTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Column {
        QString field;                                              // field name
        QString title;                                              // header text; the field name when empty
        Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter; // cells and title
        int width = -1; // pixels, for MemTableGrid; -1 leaves the default
        // The cell text instead of the field's own text (e.g. only the date of a date-time).
        std::function<QString(MemTable& table, RecordId record)> text;
    };

    // All fields as columns until setColumns is called.
    explicit MemTableModel(MemTable& table, QObject* parent = nullptr);
    ~MemTableModel() override;

    void setColumns(std::vector<Column> columns);
    const std::vector<Column>& columns() const { return m_columns; }
    MemTable* table() const { return m_table; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The row of the table's current record, -1 when it has none or it is not visible (or a new
    // record is being inserted).
    int currentRow() const { return m_currentRow; }
    RecordId recordAt(int row) const;
    // Makes the record of row current (posting a pending edit first). Errors go to the data-link
    // error handler; returns false then.
    bool moveToRow(int row);

signals:
    void currentRowChanged(int row);

private:
    class Link;
    void resetFromTable();
    void followCursor();
    void recordChanged();
    void tableGone();

    MemTable* m_table;
    std::unique_ptr<Link> m_link;
    std::vector<Column> m_columns;
    std::vector<int> m_fieldOf; // column -> field number, -1 when the table has no such field
    int m_rows = 0;             // as last told to the views
    int m_currentRow = -1;
};

} // namespace velmo
