#include "app/design/AdaptiveGrid.h"

#include <QWidget>

#include <algorithm>
#include <cmath>

int AdaptiveGrid::columns(double width, double minimum, double spacing)
{
    if (!std::isfinite(width) || !(minimum > 0) || width < minimum)
        return 1;
    const double step = minimum + std::max(0.0, spacing);
    return std::max(1, int(std::floor((width + std::max(0.0, spacing)) / step)));
}

AdaptiveGrid::AdaptiveGrid(double minimum, double spacing, QWidget* parent)
    : QLayout(parent), m_minimum(std::max(1.0, minimum)), m_spacing(std::max(0.0, spacing))
{
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGrid::~AdaptiveGrid()
{
    qDeleteAll(m_items);
}

void AdaptiveGrid::insertWidget(int index, QWidget* widget)
{
    addChildWidget(widget);
    auto* item = new QWidgetItemV2(widget);
    if (index < 0 || index > m_items.size())
        index = int(m_items.size());
    m_items.insert(index, item);
    invalidate();
}

void AdaptiveGrid::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem* AdaptiveGrid::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* AdaptiveGrid::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

void AdaptiveGrid::invalidate()
{
    m_cachedWidth = -1;
    QLayout::invalidate();
}

QList<QLayoutItem*> AdaptiveGrid::visibleItems() const
{
    QList<QLayoutItem*> items;
    items.reserve(m_items.size());
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            items.append(item);
    }
    return items;
}

AdaptiveGrid::Rows AdaptiveGrid::rowsFor(int innerWidth) const
{
    if (innerWidth == m_cachedWidth)
        return m_cached;
    Rows rows;
    rows.columns = columns(innerWidth, m_minimum, m_spacing);
    rows.columnWidth = std::max(0.0, (innerWidth - m_spacing * (rows.columns - 1)) / rows.columns);
    const QList<QLayoutItem*> items = visibleItems();
    const int cellWidth = int(std::floor(rows.columnWidth));
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QLayoutItem* item = items.at(i);
        const int height =
            item->hasHeightForWidth() ? item->heightForWidth(cellWidth) : item->sizeHint().height();
        if (i % rows.columns == 0)
            rows.heights.append(height);
        else
            rows.heights.last() = std::max(rows.heights.last(), height);
    }
    for (int height : std::as_const(rows.heights))
        rows.total += height;
    if (!rows.heights.isEmpty())
        rows.total += int(std::ceil(m_spacing * (rows.heights.size() - 1)));
    m_cachedWidth = innerWidth;
    m_cached = rows;
    return rows;
}

int AdaptiveGrid::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return rowsFor(width - margins.left() - margins.right()).total + margins.top() + margins.bottom();
}

QSize AdaptiveGrid::sizeHint() const
{
    // One column at the minimum width, as tall as that makes it.
    const QMargins margins = contentsMargins();
    const int width = int(std::ceil(m_minimum)) + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize AdaptiveGrid::minimumSize() const
{
    const QMargins margins = contentsMargins();
    return {int(std::ceil(m_minimum)) + margins.left() + margins.right(), 0};
}

void AdaptiveGrid::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const Rows rows = rowsFor(inner.width());
    m_columns = rows.columns;
    const QList<QLayoutItem*> items = visibleItems();
    double y = inner.top();
    for (qsizetype i = 0; i < items.size(); ++i) {
        const int row = int(i / rows.columns);
        const int column = int(i % rows.columns);
        if (column == 0 && row > 0)
            y += rows.heights.at(row - 1) + m_spacing;
        const int left = inner.left() + int(std::lround(column * (rows.columnWidth + m_spacing)));
        const int right =
            inner.left() + int(std::lround(column * (rows.columnWidth + m_spacing) + rows.columnWidth));
        QLayoutItem* item = items.at(i);
        const int height = std::min(rows.heights.at(row), item->maximumSize().height());
        item->setGeometry(QRect(left, int(std::lround(y)), right - left, height));
    }
}
