#include "app/design/VoskBadge.h"

#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double paddingX = 7;
constexpr double paddingY = 3;

} // namespace

VoskBadge::VoskBadge(const QString& text, const Token& fill, const Token& ink, QWidget* parent)
    : QWidget(parent), m_text(text), m_fill(&fill), m_ink(&ink)
{
    setFont(TextStyles::badge.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void VoskBadge::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void VoskBadge::setColors(const Token& fill, const Token& ink)
{
    if (&fill == m_fill && &ink == m_ink)
        return;
    m_fill = &fill;
    m_ink = &ink;
    update();
}

QSize VoskBadge::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const QString shown = TextStyles::badge.display(m_text);
    return {int(std::ceil(metrics.horizontalAdvance(shown) + 2 * paddingX)),
            int(std::ceil(metrics.height() + 2 * paddingY))};
}

void VoskBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Vosk::roundedRect(QRectF(rect()), Vosk::controlRadius), m_fill->color());
    painter.setPen(m_ink->color());
    painter.setFont(font());
    painter.drawText(QRectF(rect()).adjusted(paddingX, 0, -paddingX + 2, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     TextStyles::badge.display(m_text));
}
