#include "memtable/qt/tablemodel.h"

#include "memtable/qt/datalink.h"
#include "platform/qt/text.h"

namespace velmo {

namespace {

// More than any grid column shows.
constexpr qsizetype kCellChars = 256;

} // namespace

class MemTableModel::Link : public MemTableLink {
public:
    explicit Link(MemTableModel& model) : m_model(model) {}
    void dataSetChanged() override { m_model.resetFromTable(); }
    void recordChanged(int) override { m_model.recordChanged(); }
    void cursorMoved() override { m_model.followCursor(); }
    void stateChanged() override { m_model.followCursor(); }
    void tableDestroyed() override { m_model.tableGone(); }

private:
    MemTableModel& m_model;
};

MemTableModel::MemTableModel(MemTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(&table), m_link(std::make_unique<Link>(*this)) {
    std::vector<Column> all;
    for (int f = 0; f < table.fieldCount(); ++f) {
        Column c;
        c.field = QString::fromStdString(table.field(f).name());
        all.push_back(std::move(c));
    }
    setColumns(std::move(all));
    m_table->addLink(m_link.get());
}

MemTableModel::~MemTableModel() {
    if (m_table)
        m_table->removeLink(m_link.get());
}

void MemTableModel::setColumns(std::vector<Column> columns) {
    beginResetModel();
    m_columns = std::move(columns);
    m_fieldOf.clear();
    for (auto& c : m_columns) {
        Field* f = m_table ? m_table->findField(c.field.toStdString()) : nullptr;
        m_fieldOf.push_back(f ? f->index() : -1);
        if (c.title.isEmpty())
            c.title = c.field;
    }
    runLinked([&] { m_rows = m_table ? m_table->visibleCount() : 0; });
    runLinked([&] { m_currentRow = m_table ? m_table->currentRow() : -1; });
    endResetModel();
}

int MemTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int MemTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

RecordId MemTableModel::recordAt(int row) const {
    if (!m_table || row < 0 || row >= m_rows)
        return kNoRecord;
    RecordId id = kNoRecord;
    runLinked([&] { id = m_table->visibleAt(row); });
    return id;
}

QVariant MemTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() >= columnCount())
        return {};
    const Column& col = m_columns[static_cast<std::size_t>(index.column())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(col.alignment);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    const RecordId id = recordAt(index.row());
    const int field = m_fieldOf[static_cast<std::size_t>(index.column())];
    if (id == kNoRecord || (field < 0 && !col.text))
        return {};
    QString text;
    runLinked([&] {
        if (col.text)
            text = col.text(*m_table, id);
        else if (m_table->field(field).type() == FieldType::String)
            text = toQString(m_table->viewAt(id, field));
        else
            text = toQString(m_table->textAt(id, field));
    });
    // A cell shows one line, and the view lays out the whole text before it elides it: a long
    // description would cost more time than everything else on the screen together.
    if (role == Qt::DisplayRole && text.size() > kCellChars)
        text.truncate(kCellChars);
    return text;
}

QVariant MemTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount())
            return {};
        const Column& col = m_columns[static_cast<std::size_t>(section)];
        if (role == Qt::DisplayRole)
            return col.title;
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(col.alignment);
        return {};
    }
    if (section < 0 || section >= m_rows)
        return {};
    // The record indicator: a marker on the current record's row.
    if (role == Qt::DisplayRole)
        return section == m_currentRow ? QStringLiteral("\u25B6") : QString();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return {};
}

Qt::ItemFlags MemTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool MemTableModel::moveToRow(int row) {
    if (!m_table || row < 0 || row >= m_rows)
        return false;
    const RecordId id = recordAt(row);
    if (id == kNoRecord)
        return false;
    return runLinked([&] { m_table->gotoRecord(id); });
}

void MemTableModel::resetFromTable() {
    beginResetModel();
    m_rows = 0;
    runLinked([&] { m_rows = m_table ? m_table->visibleCount() : 0; });
    m_currentRow = -1;
    runLinked([&] { m_currentRow = m_table ? m_table->currentRow() : -1; });
    if (m_currentRow >= m_rows)
        m_currentRow = -1;
    endResetModel();
    emit currentRowChanged(m_currentRow);
}

void MemTableModel::followCursor() {
    int row = -1;
    runLinked([&] { row = m_table ? m_table->currentRow() : -1; });
    if (row >= m_rows)
        row = -1;
    if (row == m_currentRow)
        return;
    const int old = m_currentRow;
    m_currentRow = row;
    if (old >= 0)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
    emit currentRowChanged(row);
}

void MemTableModel::recordChanged() {
    if (m_currentRow >= 0 && !m_columns.empty())
        emit dataChanged(index(m_currentRow, 0), index(m_currentRow, columnCount() - 1));
    followCursor();
}

void MemTableModel::tableGone() {
    beginResetModel();
    m_table = nullptr;
    m_rows = 0;
    m_currentRow = -1;
    endResetModel();
}

} // namespace velmo
