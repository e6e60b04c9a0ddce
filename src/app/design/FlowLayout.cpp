#include "app/design/FlowLayout.h"

#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

FlowLayout::Arrangement FlowLayout::arrange(const QList<QSizeF>& sizes, double maxWidth, double spacing)
{
    Arrangement result;
    result.origins.reserve(sizes.size());
    double x = 0;
    double y = 0;
    double rowHeight = 0;
    double width = 0;
    for (const QSizeF& size : sizes) {
        // Both tests strict: a row's first child never wraps, and an exact fit stays in the row.
        if (x > 0 && x + size.width() > maxWidth) {
            y += rowHeight + spacing;
            x = 0;
            rowHeight = 0;
        }
        result.origins.append(QPointF(x, y));
        x += size.width() + spacing;
        rowHeight = std::max(rowHeight, size.height());
        width = std::max(width, x - spacing);
    }
    result.size = QSizeF(width, y + rowHeight);
    return result;
}

FlowLayout::FlowLayout(double spacing, QWidget* parent)
    : QLayout(parent), m_spacing(std::isfinite(spacing) ? std::max(0.0, spacing) : 0.0)
{
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout()
{
    qDeleteAll(m_items);
}

void FlowLayout::addItem(QLayoutItem* item)
{
    m_items.append(item);
    invalidate();
}

void FlowLayout::insertWidget(int index, QWidget* widget)
{
    addChildWidget(widget);
    auto* item = new QWidgetItem(widget);
    m_items.insert(index >= 0 && index <= m_items.size() ? index : m_items.size(), item);
    invalidate();
}

QLayoutItem* FlowLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem* FlowLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem* item = m_items.takeAt(index);
    invalidate();
    return item;
}

QList<QLayoutItem*> FlowLayout::visibleItems() const
{
    QList<QLayoutItem*> items;
    for (QLayoutItem* item : m_items) {
        if (!item->isEmpty())
            items.append(item);
    }
    return items;
}

QList<QSizeF> FlowLayout::idealSizes(const QList<QLayoutItem*>& items)
{
    QList<QSizeF> sizes;
    sizes.reserve(items.size());
    for (const QLayoutItem* item : items)
        sizes.append(QSizeF(item->sizeHint()));
    return sizes;
}

int FlowLayout::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const double inner = width - margins.left() - margins.right();
    const Arrangement arranged = arrange(idealSizes(visibleItems()), inner, m_spacing);
    return int(std::ceil(arranged.size.height())) + margins.top() + margins.bottom();
}

QSize FlowLayout::sizeHint() const
{
    const QMargins margins = contentsMargins();
    const Arrangement arranged =
        arrange(idealSizes(visibleItems()), std::numeric_limits<double>::infinity(), m_spacing);
    return QSize(int(std::ceil(arranged.size.width())), int(std::ceil(arranged.size.height()))) +
           QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize FlowLayout::minimumSize() const
{
    // As narrow as the widest child; the height then follows from heightForWidth.
    int widest = 0;
    int tallest = 0;
    for (const QLayoutItem* item : visibleItems()) {
        widest = std::max(widest, item->sizeHint().width());
        tallest = std::max(tallest, item->sizeHint().height());
    }
    const QMargins margins = contentsMargins();
    return QSize(widest + margins.left() + margins.right(), tallest + margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const QList<QLayoutItem*> items = visibleItems();
    QList<QSizeF> sizes = idealSizes(items);
    // An item wider than the whole row gets the row, on a row of its own, and fits itself into it.
    for (QSizeF& size : sizes)
        size.setWidth(std::min(size.width(), double(std::max(0, inner.width()))));
    const Arrangement arranged = arrange(sizes, inner.width(), m_spacing);
    for (qsizetype i = 0; i < items.size() && i < arranged.origins.size(); ++i) {
        const QPointF origin = arranged.origins.at(i);
        const QPoint topLeft(inner.left() + int(std::lround(origin.x())),
                             inner.top() + int(std::lround(origin.y())));
        items.at(i)->setGeometry(QRect(topLeft, sizes.at(i).toSize()));
    }
}
