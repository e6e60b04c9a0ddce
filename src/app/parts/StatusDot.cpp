#include "app/parts/StatusDot.h"

#include "app/design/Vosk.h"

#include <QPainter>

StatusDot::StatusDot(const Token& fill, int diameter, QWidget* parent)
    : QWidget(parent), m_fill(&fill), m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
}

void StatusDot::setFill(const Token& fill)
{
    if (&fill == m_fill)
        return;
    m_fill = &fill;
    update();
}

void StatusDot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_fill->color());
    painter.drawEllipse(QRectF(rect()));
}
