#include "app/shell/NavItem.h"

#include "app/design/EasedValue.h"
#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {

constexpr int hoverMillis = 160;
constexpr double rowRadius = 10;
constexpr double padding = 10;
constexpr double iconBox = 16;
constexpr double spacing = 9;

} // namespace

NavItem::NavItem(Category category, QWidget* parent)
    : QAbstractButton(parent), m_category(category), m_hover(new EasedValue(this, 0, hoverMillis))
{
    setObjectName(rawValue(category).toLower() + QStringLiteral("NavButton"));
    setText(rawValue(category));
    setAccessibleName(rawValue(category));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(rowHeight);
    setCursor(Qt::PointingHandCursor);
}

void NavItem::setCount(const std::optional<qsizetype>& count)
{
    if (count == m_count)
        return;
    m_count = count;
    update();
}

void NavItem::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

QSize NavItem::sizeHint() const
{
    const QFontMetricsF title(TextStyles::bodySelected.font());
    const QFontMetricsF figure(TextStyles::count.font());
    const double width = markRoom + padding + iconBox + spacing + title.horizontalAdvance(text()) + 6 +
                         figure.horizontalAdvance(QStringLiteral("000")) + padding;
    return {int(std::ceil(width)), rowHeight};
}

void NavItem::enterEvent(QEnterEvent* event)
{
    m_hover->setTarget(1);
    QAbstractButton::enterEvent(event);
}

void NavItem::leaveEvent(QEvent* event)
{
    m_hover->setTarget(0);
    QAbstractButton::leaveEvent(event);
}

void NavItem::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF row(markRoom, 0, width() - markRoom, height());

    QColor fill = Vosk::wash.color();
    if (!m_selected)
        fill.setAlphaF(0.5 * std::clamp(m_hover->value(), 0.0, 1.0));
    if (fill.alpha() > 0)
        painter.fillPath(Vosk::roundedRect(row, rowRadius), fill);
    if (m_selected)
        painter.fillPath(Vosk::roundedRect(QRectF(0, (height() - 14) / 2.0, 3, 14), 2), Vosk::ion.color());
    if (FocusRing::shows(this))
        FocusRing::paint(painter, row, rowRadius);

    double x = row.left() + padding;
    Symbols::paint(painter, symbolName(m_category), QRectF(x, 0, iconBox, height()), 13, Vosk::ink.color());
    x += iconBox + spacing;

    const TextStyle& titleStyle = m_selected ? TextStyles::bodySelected : TextStyles::body;
    const QString figure = m_count ? QString::number(*m_count) : QString();
    painter.setFont(TextStyles::count.font());
    const double figureWidth = QFontMetricsF(painter.font()).horizontalAdvance(figure);
    const double figureLeft = row.right() - padding - figureWidth;
    painter.setPen(Vosk::muted.color());
    painter.drawText(QRectF(figureLeft, 0, figureWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     figure);

    painter.setFont(titleStyle.font());
    painter.setPen(Vosk::ink.color());
    const QRectF titleBox(x, 0, std::max(0.0, figureLeft - 6 - x), height());
    const QString shown = QFontMetricsF(painter.font()).elidedText(text(), Qt::ElideRight, titleBox.width());
    painter.drawText(titleBox, Qt::AlignVCenter | Qt::AlignLeft, shown);
}
