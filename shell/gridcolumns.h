#pragma once

#include <QObject>
#include <QString>

#include <vector>

class QTableView;

namespace velmo {

// Keeps the columns of a grid readable and remembers the widths the user gives them.
//
// Every column is at least as wide as the widest of: its designed width, its header text, and the
// cell texts of the rows first shown (those in view, at least kMeasuredRows from the top row),
// measured with the grid's own font metrics plus the margins the style draws around a text. Rows
// further down are never read, so a grid of 100,000 rows costs no more than one of fifty.
//
// The user can widen or narrow every column. A width the user sets is kept in the settings store
// under "Columns.<name>" when the grid is hidden, and comes back when a grid of that name is filled
// again, but never below the readable width of what it then shows. The widths are measured again
// whenever the grid's model is reset (a new file, another order or filter), so they follow what is
// shown; a width the user set stays the least until the user changes it.
//
// A settings store that cannot be opened or written costs the remembered widths, nothing else.
class GridColumns : public QObject {
    Q_OBJECT
public:
    static constexpr int kMeasuredRows = 50;

    // Attached to grid (and owned by it) once the grid has its model and its columns the widths
    // they were designed with; those stay the least widths. An empty name remembers nothing.
    GridColumns(QTableView& grid, QString name);
    ~GridColumns() override;

    // The narrowest width that shows the header and every measured cell of column whole.
    int readableWidth(int column) const;
    // The space a text needs in a cell of this grid (margins and grid line included), and in its
    // header.
    int cellWidthFor(const QString& text) const;
    int headerWidthFor(const QString& text) const;

    // Measures and sets every column; runs by itself on every reset of the model.
    void apply();
    // Writes the widths the user set to the settings store; runs by itself when the grid is hidden.
    void save();

    QString settingName() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void userResized(int column, int width);

    QTableView& m_grid;
    QString m_name;
    std::vector<int> m_designed;
    std::vector<int> m_user; // 0 where the user set nothing
    bool m_applying = false;
    bool m_dirty = false;
};

// Parses and writes the remembered widths: "120,,64" holds 120 for column 0, nothing for column 1
// and 64 for column 2. Anything that is not a positive number counts as nothing.
std::vector<int> parseColumnWidths(const QString& text);
QString columnWidthsText(const std::vector<int>& widths);

} // namespace velmo
