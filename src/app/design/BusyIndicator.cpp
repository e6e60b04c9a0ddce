#include "app/design/BusyIndicator.h"

#include "app/design/Vosk.h"

#include <QPainter>
#include <QTimer>

namespace {

constexpr int frameMillis = 33;
constexpr int stepPerFrame = 12 * 16; // about one turn a second
constexpr double lineWidth = 2;

} // namespace

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    setFixedSize(side, side);
    setAccessibleName(QStringLiteral("In progress"));
    m_timer->setInterval(frameMillis);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle - stepPerFrame) % (360 * 16);
        update();
    });
}

bool BusyIndicator::turning() const
{
    return m_timer->isActive();
}

void BusyIndicator::showEvent(QShowEvent* event)
{
    m_timer->start();
    QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent* event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle = QRectF(rect()).adjusted(lineWidth, lineWidth, -lineWidth, -lineWidth);
    QColor track = Vosk::muted.color();
    track.setAlphaF(0.25);
    painter.setPen(QPen(track, lineWidth));
    painter.drawEllipse(circle);
    painter.setPen(QPen(Vosk::muted.color(), lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, m_angle, 100 * 16);
}
