#include "memtable/qt/tablegrid.h"

#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace velmo {

namespace {

// Draws a cell's text laid out once and kept: a search keystroke that jumps far repaints a whole
// screen of cells, and the texts of manufacturers, suppliers and groups repeat from row to row. The
// style draws only what text does not cover (the focus frame); selection and text colours are the
// palette's, the text elided at the right and placed as the style places it.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                                : QPalette::Inactive;
        const bool selected = opt.state & QStyle::State_Selected;
        if (selected)
            painter->fillRect(opt.rect, opt.palette.brush(group, QPalette::Highlight));
        else if (opt.backgroundBrush.style() != Qt::NoBrush)
            painter->fillRect(opt.rect, opt.backgroundBrush);

        // The cells hold text alone (no icon, no check box), so the text takes the whole cell but the
        // style's margins; asking the style for the text rectangle would lay the text out once more.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
        if (!opt.text.isEmpty() && textRect.width() > 0) {
            const QStaticText& text = laidOut(opt.text, opt.font, textRect.width());
            const QSizeF size = text.size();
            const Qt::Alignment align = QStyle::visualAlignment(opt.direction, opt.displayAlignment);
            qreal x = textRect.left();
            if (align & Qt::AlignRight)
                x = textRect.right() + 1 - size.width();
            else if (align & Qt::AlignHCenter)
                x = textRect.left() + (textRect.width() - size.width()) / 2;
            const qreal y = textRect.top() + (textRect.height() - size.height()) / 2;
            painter->save();
            painter->setClipRect(textRect, Qt::IntersectClip);
            painter->setFont(opt.font);
            painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            painter->drawStaticText(QPointF(x, y), text);
            painter->restore();
        }
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = opt.rect;
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor =
                opt.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

private:
    const QStaticText& laidOut(const QString& text, const QFont& font, int width) const {
        if (font != m_font) {
            m_cache.clear();
            m_font = font;
        }
        const QString key = QString::number(width) + QLatin1Char('|') + text;
        auto it = m_cache.find(key);
        if (it != m_cache.end())
            return *it;
        // Bounded: a long scroll through distinct texts must not keep them all.
        if (m_cache.size() >= 8192)
            m_cache.clear();
        const QFontMetrics metrics(font);
        QStaticText laid(metrics.elidedText(text, Qt::ElideRight, width));
        laid.setTextFormat(Qt::PlainText);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        laid.setTextOption(option);
        laid.prepare(QTransform(), font);
        return *m_cache.insert(key, laid);
    }

    mutable QHash<QString, QStaticText> m_cache;
    mutable QFont m_font;
};

} // namespace

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
    setItemDelegate(new CellDelegate(this));
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
