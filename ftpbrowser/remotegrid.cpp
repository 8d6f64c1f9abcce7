#include "ftpbrowser/remotegrid.h"

#include "platform/qt/text.h"

namespace velmo::browser {

void RemoteGridModel::setRows(std::vector<GridRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int RemoteGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RemoteGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RemoteGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return toQString(m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
}

QVariant RemoteGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 && section < ColumnCount)
        return QString();
    return QAbstractTableModel::headerData(section, orientation, role);
}

} // namespace velmo::browser
