#pragma once

#include "ftpbrowser/listing.h"

#include <QAbstractTableModel>

#include <vector>

namespace velmo::browser {

// The remote grid's rows for a view: eight columns with empty captions, cells converted from the
// server's bytes only when the view asks for them, so a listing of 100,000 entries costs no more
// than the rows on screen.
class RemoteGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<GridRow> rows);
    const std::vector<GridRow>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<GridRow> m_rows;
};

} // namespace velmo::browser
