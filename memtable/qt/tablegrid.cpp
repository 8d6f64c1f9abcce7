#include "memtable/qt/tablegrid.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QHash>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QScrollBar>
#include <QSet>
#include <QStaticText>
#include <QStyleFactory>
#include <QStyledItemDelegate>

#include <algorithm>
#include <array>
#include <utility>

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
        if (qobject_cast<const MemTableModel*>(index.model())) {
            // The record model answers with text and alignment alone; asking it every role the
            // style option knows costs a tenth of the cell.
            opt.text = index.data(Qt::DisplayRole).toString();
            opt.text.replace(QLatin1Char('\n'), QChar::LineSeparator);
            if (const QVariant align = index.data(Qt::TextAlignmentRole); align.isValid())
                opt.displayAlignment = align.value<Qt::Alignment>();
            opt.features |= QStyleOptionViewItem::HasDisplay;
        } else {
            initStyleOption(&opt, index);
        }
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
            // The painter is the grid's own and carries from cell to cell; only what differs is set.
            if (painter->font() != opt.font)
                painter->setFont(opt.font);
            const QColor color =
                opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
            if (painter->pen().color() != color || painter->pen().style() != Qt::SolidLine)
                painter->setPen(color);
            const Qt::Alignment align = QStyle::visualAlignment(opt.direction, opt.displayAlignment);
            auto left = [&](qreal width) {
                if (align & Qt::AlignRight)
                    return textRect.right() + 1 - width;
                if (align & Qt::AlignHCenter)
                    return textRect.left() + (textRect.width() - width) / 2;
                return qreal(textRect.left());
            };
            // The text is shortened to the cell's width, so it needs no clip but where the row is
            // lower than the font: a clip makes the painter blend every glyph at its edge the slow way.
            const QFontMetricsF metrics(opt.font);
            const bool clipped = metrics.height() > textRect.height();
            if (clipped) {
                painter->save();
                painter->setClipRect(textRect, Qt::IntersectClip);
            }
            if (const QStaticText* text = laidOut(opt.text, opt.font, textRect.width())) {
                const QSizeF size = text->size();
                painter->drawStaticText(
                    QPointF(left(size.width()), textRect.top() + (textRect.height() - size.height()) / 2),
                    *text);
            } else {
                // A text seen for the first time (most of a screen after a far jump) is drawn
                // straight away: laying it out to keep costs more than drawing it.
                QString shown = opt.text;
                qreal width = advance(shown, metrics);
                if (width > textRect.width()) {
                    shown = metrics.elidedText(shown, Qt::ElideRight, textRect.width());
                    width = metrics.horizontalAdvance(shown);
                }
                const qreal top = textRect.top() + (textRect.height() - metrics.height()) / 2;
                painter->drawText(QPointF(left(width), top + metrics.ascent()), shown);
            }
            if (clipped)
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
    // The text laid out and kept once it has been seen before in this width; null the first time.
    // Values that repeat (manufacturers, suppliers, groups) are laid out once, unique ones never.
    const QStaticText* laidOut(const QString& text, const QFont& font, int width) const {
        if (font != m_font) {
            m_cache.clear();
            m_seen.clear();
            m_advances.fill(-1);
            m_font = font;
        }
        const QString key = QString::number(width) + QLatin1Char('|') + text;
        auto it = m_cache.find(key);
        if (it != m_cache.end())
            return &*it;
        // Bounded: a long scroll through distinct texts must not keep them all.
        if (m_seen.size() >= 65536)
            m_seen.clear();
        if (!m_seen.contains(key)) {
            m_seen.insert(key);
            return nullptr;
        }
        if (m_cache.size() >= 8192)
            m_cache.clear();
        const QFontMetrics metrics(font);
        QStaticText laid(metrics.elidedText(text, Qt::ElideRight, width));
        laid.setTextFormat(Qt::PlainText);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        laid.setTextOption(option);
        laid.prepare(QTransform(), font);
        return &*m_cache.insert(key, laid);
    }

    // The width of a text drawn without shaping: the sum of its characters' advances, kept per
    // character for the first 256; others are measured whole.
    qreal advance(const QString& text, const QFontMetricsF& metrics) const {
        qreal width = 0;
        for (const QChar c : text) {
            if (c.unicode() >= m_advances.size())
                return metrics.horizontalAdvance(text);
            qreal& a = m_advances[c.unicode()];
            if (a < 0)
                a = metrics.horizontalAdvance(c);
            width += a;
        }
        return width;
    }

    mutable std::array<qreal, 256> m_advances = [] {
        std::array<qreal, 256> unknown{};
        unknown.fill(-1);
        return unknown;
    }();
    mutable QHash<QString, QStaticText> m_cache;
    mutable QSet<QString> m_seen;
    mutable QFont m_font;
};

// The record marker's column has the width it is given. The table view asks for the header's size
// on every layout, which a header of many thousand rows would measure from their texts.
// Its sections look alike but for the marker, so each look is drawn by the style once and kept.
class RowHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;
    QSize sizeHint() const override {
        if (minimumWidth() == maximumWidth())
            return {minimumWidth(), length()};
        return QHeaderView::sizeHint();
    }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        if (!rect.isValid())
            return;
        QStyleOptionHeader option;
        initStyleOption(&option);
        initStyleOptionForIndex(&option, logicalIndex);
        option.rect = QRect(QPoint(0, 0), rect.size());
        const Look key{rect.size(),
                       int(option.state),
                       int(option.position),
                       int(option.selectedPosition),
                       int(option.sortIndicator),
                       int(option.textAlignment),
                       option.palette.cacheKey(),
                       option.text};
        auto it = m_looks.find(key);
        if (it == m_looks.end()) {
            if (m_looks.size() >= 64)
                m_looks.clear();
            QPixmap look(rect.size() * devicePixelRatio());
            look.setDevicePixelRatio(devicePixelRatio());
            look.fill(Qt::transparent);
            QPainter onLook(&look);
            onLook.setFont(painter->font());
            onLook.setBrushOrigin(painter->brushOrigin() - rect.topLeft());
            style()->drawControl(QStyle::CE_Header, &option, &onLook, this);
            onLook.end();
            it = m_looks.insert(key, look);
        }
        painter->drawPixmap(rect.topLeft(), *it);
    }

private:
    // What tells one section's look from another's.
    struct Look {
        QSize size;
        int state, position, selectedPosition, sortIndicator, alignment;
        qint64 palette;
        QString text;
        bool operator==(const Look&) const = default;
        friend size_t qHash(const Look& l, size_t seed = 0) {
            return qHashMulti(seed, l.size.width(), l.size.height(), l.state, l.position, l.selectedPosition,
                              l.sortIndicator, l.alignment, l.palette, l.text);
        }
    };
    mutable QHash<Look, QPixmap> m_looks;
};

// Column titles that do not show the selection (the grid's) take no part in it: a new current row,
// which selects a whole row and so touches every column, leaves them unpainted.
class ColumnHeader : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

protected:
    QRegion visualRegionForSelection(const QItemSelection& selection) const override {
        return highlightSections() ? QHeaderView::visualRegionForSelection(selection) : QRegion();
    }
};

// Scroll bars painted in bands. The style paints a bar's groove as a gradient the bar's length, and
// the painter hands a fill of many lines to other threads and waits for them: on every jump of the
// cursor, for less work than the waking costs. A band of fewer lines is filled where it is painted.
class BandedScrollBars : public QProxyStyle {
public:
    BandedScrollBars() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        const QRect r = option->rect;
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        if (control != CC_ScrollBar || r.height() * ratio <= kBand || r.isEmpty()) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const int band = int(kBand / ratio);
        QImage image(QSize(r.width(), band) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        for (int y = r.top(); y <= r.bottom(); y += band) {
            image.fill(Qt::transparent);
            QPainter onBand(&image);
            onBand.setFont(painter->font());
            onBand.setRenderHints(painter->renderHints());
            onBand.translate(-r.left(), -y);
            QProxyStyle::drawComplexControl(control, option, &onBand, widget);
            onBand.end();
            const int lines = std::min(band, r.bottom() + 1 - y);
            painter->drawImage(QRectF(r.left(), y, r.width(), lines), image,
                               QRectF(0, 0, r.width() * ratio, lines * ratio));
        }
    }

private:
    static constexpr int kBand = 95; // device lines: the painter shares out fills of 96 lines and more
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
    setVerticalHeader(new RowHeader(Qt::Vertical, this));
    auto* looks = new BandedScrollBars;
    looks->setParent(this);
    verticalScrollBar()->setStyle(looks);
    horizontalScrollBar()->setStyle(looks);
    setHorizontalHeader(new ColumnHeader(Qt::Horizontal, this));
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // Fixed row heights keep a grid of many thousand rows as cheap as one of a few.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("\u25B6")) + 10);
    verticalHeader()->setHighlightSections(false);
    setItemDelegate(new CellDelegate(this));
    setGridStyle(Qt::NoPen); // the cells keep their room for the lines; drawGridLines draws them
}

void MemTableGrid::setTableModel(MemTableModel* model) {
    if (m_model)
        disconnect(m_model, nullptr, this, nullptr);
    for (const QMetaObject::Connection& c : std::exchange(m_titleLayouts, {}))
        disconnect(c);
    m_model = model;
    setModel(model);
    if (!model)
        return;
    connect(model, &MemTableModel::currentRowChanged, this, &MemTableGrid::followCursor);
    layOutOnlyForColumnTitles();
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        applyColumns();
        followCursor(m_model->currentRow());
    });
    applyColumns();
    followCursor(model->currentRow());
}

void MemTableGrid::layOutOnlyForColumnTitles() {
    const char* const slot = "_q_headerDataChanged()";
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(this), static_cast<QAbstractItemView*>(horizontalHeader()),
          static_cast<QAbstractItemView*>(verticalHeader())}) {
        if (view->metaObject()->indexOfSlot(slot) < 0 ||
            !disconnect(m_model, SIGNAL(headerDataChanged(Qt::Orientation, int, int)), view,
                        SLOT(_q_headerDataChanged())))
            continue; // the view keeps laying itself out as it always did
        m_titleLayouts.push_back(connect(m_model, &QAbstractItemModel::headerDataChanged, view,
                                         [this, view](Qt::Orientation orientation) {
                                             if (orientation != Qt::Horizontal)
                                                 return;
                                             if (view == this)
                                                 scheduleDelayedItemsLayout();
                                             else
                                                 view->doItemsLayout();
                                         }));
    }
}

void MemTableGrid::applyColumns() {
    const auto& cols = m_model->columns();
    for (int c = 0; c < static_cast<int>(cols.size()); ++c) {
        if (cols[static_cast<std::size_t>(c)].width >= 0)
            setColumnWidth(c, cols[static_cast<std::size_t>(c)].width);
    }
}

void MemTableGrid::paintEvent(QPaintEvent* event) {
    QTableView::paintEvent(event);
    if (showGrid())
        drawGridLines(event->region());
}

void MemTableGrid::drawGridLines(const QRegion& region) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QColor color = QColor::fromRgba(
        static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this)));
    const QHeaderView* rows = verticalHeader();
    const QHeaderView* columns = horizontalHeader();
    // Where the table ends: below its last row and beside its last column there are no lines.
    const bool rightToLeft = isRightToLeft();
    const int width = viewport()->width();
    QRect table(0, 0, columns->length() - columns->offset(), rows->length() - rows->offset());
    if (rightToLeft)
        table.moveRight(width - 1);
    QPainter painter(viewport());
    painter.setClipRegion(region);
    const QRect area = region.boundingRect() & table;
    if (area.isEmpty())
        return;
    const int firstRow = std::max(rows->visualIndexAt(area.top()), 0);
    int lastRow = rows->visualIndexAt(area.bottom());
    if (lastRow < 0)
        lastRow = rows->count() - 1;
    for (int v = firstRow; v <= lastRow; ++v) {
        const int row = rows->logicalIndex(v);
        if (rows->isSectionHidden(row))
            continue;
        painter.fillRect(QRect(area.left(), rowViewportPosition(row) + rowHeight(row) - 1, area.width(), 1),
                         color);
    }
    // The header takes viewport positions and mirrors them itself.
    int firstColumn = columns->visualIndexAt(area.left());
    int lastColumn = columns->visualIndexAt(area.right());
    if (rightToLeft)
        std::swap(firstColumn, lastColumn);
    if (lastColumn < 0)
        lastColumn = columns->count() - 1;
    for (int v = std::max(firstColumn, 0); v <= lastColumn; ++v) {
        const int column = columns->logicalIndex(v);
        if (columns->isSectionHidden(column))
            continue;
        int x = columnViewportPosition(column);
        if (!rightToLeft)
            x += columnWidth(column) - 1;
        painter.fillRect(QRect(x, area.top(), 1, area.height()), color);
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
