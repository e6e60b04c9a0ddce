#include "app/design/RunRing.h"

#include "app/design/EasedValue.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QPainter>

#include <algorithm>

RunRing::RunRing(qint64 running, qint64 total, bool dimmed, QWidget* parent)
    : QWidget(parent), m_running(running), m_total(total), m_dimmed(dimmed),
      m_arc(new EasedValue(this, fraction(running, total), Vosk::valueMillis))
{
    setFixedSize(side, side);
    setFont(TextStyles::ringCount.font());
    describe();
}

double RunRing::fraction(qint64 running, qint64 total)
{
    if (total < 1)
        return 0;
    return std::clamp(double(running) / double(total), 0.0, 1.0);
}

void RunRing::setCounts(qint64 running, qint64 total)
{
    if (running == m_running && total == m_total)
        return;
    m_running = running;
    m_total = total;
    describe();
    m_arc->setTarget(fraction(running, total));
    update();
}

void RunRing::setDimmed(bool dimmed)
{
    if (dimmed == m_dimmed)
        return;
    m_dimmed = dimmed;
    update();
}

void RunRing::setKnown(bool known)
{
    if (known == m_known)
        return;
    m_known = known;
    describe();
    update();
}

QString RunRing::countText() const
{
    return (m_known ? QString::number(m_running) : Vosk::absent()) + u'/' + QString::number(m_total);
}

void RunRing::describe()
{
    setAccessibleName(m_known ? QStringLiteral("%1 of %2 running").arg(m_running).arg(m_total)
                              : QStringLiteral("Not known how many of %1 run").arg(m_total));
}

void RunRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The stroke stays inside the 32-pixel frame.
    const QRectF circle =
        QRectF(0, 0, side, side).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Vosk::line.color(), lineWidth, Qt::SolidLine, Qt::FlatCap));
    painter.drawEllipse(circle);

    const double share = std::clamp(m_arc->value(), 0.0, 1.0);
    if (m_known && share > 0) {
        const QColor arc = m_dimmed ? Vosk::muted.color() : Vosk::success.color();
        painter.setPen(QPen(arc, lineWidth, Qt::SolidLine, Qt::RoundCap));
        // From twelve o'clock, clockwise (Qt counts angles anticlockwise in sixteenths of a degree).
        painter.drawArc(circle, 90 * 16, -int(share * 360 * 16));
    }

    painter.setPen(Vosk::ink.color());
    painter.setFont(font());
    painter.drawText(QRectF(rect()), Qt::AlignCenter | Qt::TextSingleLine, countText());
}
