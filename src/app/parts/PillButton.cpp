#include "app/parts/PillButton.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

PillButton::PillButton(QWidget* parent) : QAbstractButton(parent), m_ink(&Vosk::pillInk)
{
    setFont(TextStyles::mono.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void PillButton::setFace(const QString& text, const QString& symbol, const Token& ink)
{
    if (text == this->text() && symbol == m_symbol && &ink == m_ink)
        return;
    const bool resized = text != this->text() || symbol.isEmpty() != m_symbol.isEmpty();
    setText(text);
    m_symbol = symbol;
    m_ink = &ink;
    if (resized)
        updateGeometry();
    update();
}

QSize PillButton::sizeHint() const
{
    double width = QFontMetricsF(font()).horizontalAdvance(text()) + 2 * paddingX;
    if (!m_symbol.isEmpty())
        width += spacing + symbolSize;
    return {int(std::ceil(width)), int(height)};
}

void PillButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        setCursor(isEnabled() ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QAbstractButton::changeEvent(event);
}

void PillButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box(rect());
    painter.fillPath(Vosk::roundedRect(box, Vosk::controlRadius), Vosk::pillFill.color());
    if (FocusRing::shows(this))
        FocusRing::paint(painter, box, Vosk::controlRadius);
    const QColor ink = m_ink->color();
    painter.setPen(ink);
    painter.setFont(font());
    const double textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    painter.drawText(QRectF(paddingX, 0, textWidth + 1, box.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     text());
    if (!m_symbol.isEmpty()) {
        const QRectF symbolBox(paddingX + textWidth + spacing, (box.height() - symbolSize) / 2, symbolSize,
                               symbolSize);
        Symbols::paint(painter, m_symbol, symbolBox, symbolSize, ink);
    }
}
