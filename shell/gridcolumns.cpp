#include "shell/gridcolumns.h"

#include "platform/qt/text.h"
#include "platform/settings_store.h"

#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStringList>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <exception>

namespace velmo {

std::vector<int> parseColumnWidths(const QString& text) {
    std::vector<int> widths;
    if (text.isEmpty())
        return widths;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int width = part.trimmed().toInt(&ok);
        widths.push_back(ok && width > 0 ? width : 0);
    }
    return widths;
}

QString columnWidthsText(const std::vector<int>& widths) {
    QStringList parts;
    for (const int width : widths)
        parts << (width > 0 ? QString::number(width) : QString());
    return parts.join(QLatin1Char(','));
}

GridColumns::GridColumns(QTableView& grid, QString name)
    : QObject(&grid), m_grid(grid), m_name(std::move(name)) {
    QHeaderView* header = grid.horizontalHeader();
    for (int c = 0; c < header->count(); ++c)
        m_designed.push_back(header->sectionSize(c));
    header->setSectionResizeMode(QHeaderView::Interactive);
    connect(header, &QHeaderView::sectionResized, this,
            [this](int column, int, int width) { userResized(column, width); });
    if (QAbstractItemModel* model = grid.model()) {
        // A reset puts the sections back to their default size; nothing in between is the user's.
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_applying = true; });
        connect(model, &QAbstractItemModel::modelReset, this, &GridColumns::apply);
    }
    grid.installEventFilter(this);
    load();
    apply();
}

GridColumns::~GridColumns() {
    // The grid is half gone here; save() reads only what this object holds.
    save();
}

QString GridColumns::settingName() const {
    return QStringLiteral("Columns.") + m_name;
}

int GridColumns::cellWidthFor(const QString& text) const {
    // The item delegate keeps this much room on either side of a text; a drawn grid line takes one
    // more pixel.
    const int margin = m_grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &m_grid) + 1;
    return m_grid.fontMetrics().horizontalAdvance(text) + 2 * margin + (m_grid.showGrid() ? 1 : 0);
}

int GridColumns::headerWidthFor(const QString& text) const {
    const QHeaderView* header = m_grid.horizontalHeader();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    // Two margins around the text and one pixel for each edge of the section's frame.
    return header->fontMetrics().horizontalAdvance(text) + 2 * margin + 2;
}

int GridColumns::readableWidth(int column) const {
    const QAbstractItemModel* model = m_grid.model();
    if (!model)
        return 0;
    int width =
        column < static_cast<int>(m_designed.size()) ? m_designed[static_cast<std::size_t>(column)] : 0;
    width = std::max(width, headerWidthFor(model->headerData(column, Qt::Horizontal).toString()));
    width = std::max(width, m_grid.horizontalHeader()->sectionSizeHint(column));

    // The rows first shown: from the top row in view, as many as fill the view, at least
    // kMeasuredRows.
    const int rows = model->rowCount();
    const int top = std::max(m_grid.rowAt(0), 0);
    const int rowHeight = std::max(m_grid.verticalHeader()->defaultSectionSize(), 1);
    const int inView = m_grid.viewport()->height() / rowHeight + 1;
    const int end = std::min(rows, top + std::max(inView, static_cast<int>(kMeasuredRows)));
    for (int row = top; row < end; ++row)
        width = std::max(width, cellWidthFor(model->index(row, column).data().toString()));
    return width;
}

void GridColumns::apply() {
    m_applying = true;
    if (const QAbstractItemModel* model = m_grid.model()) {
        const int columns = model->columnCount();
        for (int c = 0; c < columns; ++c) {
            int width = readableWidth(c);
            if (c < static_cast<int>(m_user.size()))
                width = std::max(width, m_user[static_cast<std::size_t>(c)]);
            m_grid.setColumnWidth(c, width);
        }
    }
    m_applying = false;
}

void GridColumns::userResized(int column, int width) {
    if (m_applying || column < 0)
        return;
    if (column >= static_cast<int>(m_user.size()))
        m_user.resize(static_cast<std::size_t>(column) + 1, 0);
    m_user[static_cast<std::size_t>(column)] = width;
    m_dirty = true;
}

void GridColumns::load() {
    // Opening the store creates its file; a grid that only looks for widths must not.
    const std::vector<std::string> files = SettingsStore::candidatePaths();
    if (m_name.isEmpty() || std::none_of(files.begin(), files.end(),
                                         [](const std::string& f) { return QFileInfo::exists(fromUtf8(f)); }))
        return;
    try {
        if (const std::unique_ptr<SettingsStore> store = SettingsStore::open())
            m_user = parseColumnWidths(fromUtf8(store->readString(toUtf8(settingName()))));
    } catch (const std::exception&) {
        m_user.clear(); // a value that is no text: as if none were kept
    }
}

void GridColumns::save() {
    if (!m_dirty || m_name.isEmpty())
        return;
    m_dirty = false;
    try {
        if (const std::unique_ptr<SettingsStore> store = SettingsStore::open())
            store->writeString(toUtf8(settingName()), toUtf8(columnWidthsText(m_user)));
    } catch (const std::exception&) {
        // Remembering widths is a convenience; a store that cannot be written keeps the old ones.
    }
}

bool GridColumns::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_grid && event->type() == QEvent::Hide)
        save();
    return QObject::eventFilter(watched, event);
}

} // namespace velmo
