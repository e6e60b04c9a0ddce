#include "app/design/Meter.h"

#include "app/design/EasedValue.h"
#include "app/design/Vosk.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double clampShare(double fraction)
{
    return std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
}

void capsule(QPainter& painter, const QRectF& rect, const QColor& color)
{
    if (rect.width() <= 0 || rect.height() <= 0)
        return;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    painter.fillPath(path, color);
}

} // namespace

Meter::Meter(double fraction, const Token& tint, const Token* rest, QWidget* parent)
    : QWidget(parent), m_fraction(fraction), m_tint(&tint), m_rest(rest),
      m_shown(new EasedValue(this, clampShare(fraction), Vosk::valueMillis))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(int(height));
}

void Meter::setFraction(double fraction)
{
    m_fraction = fraction;
    const double share = clampShare(fraction);
    // Statistics nudge a share on every poll: a nudge the bar cannot show neither eases nor repaints,
    // and what is drawn stays within a quarter of a device pixel of the share.
    if (isVisible() && !moves(m_shown->target(), share, width() * devicePixelRatioF()))
        return;
    m_shown->setTarget(share);
}

void Meter::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A nudge left out at the old width may show at the new one (a bar squeezed to nothing and grown).
    if (m_shown->target() != clampShare(m_fraction))
        m_shown->setTarget(clampShare(m_fraction));
}

bool Meter::moves(double from, double to, double devicePixels)
{
    return std::abs(clampShare(to) - clampShare(from)) * std::max(0.0, devicePixels) >= 0.25;
}

void Meter::setColors(const Token& tint, const Token* rest)
{
    if (&tint == m_tint && rest == m_rest)
        return;
    m_tint = &tint;
    m_rest = rest;
    update();
}

Meter::Segments Meter::segments(double fraction, double width, bool hasRest)
{
    const double w = std::max(0.0, width);
    const double tint = clampShare(fraction) * w;
    if (!hasRest)
        return {tint, tint, 0};
    const double restX = tint + gap;
    return {tint, restX, std::max(0.0, w - restX)};
}

void Meter::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double top = (QWidget::height() - height) / 2;
    capsule(painter, QRectF(0, top, w, height), Vosk::wash.color());
    const Segments parts = segments(m_shown->value(), w, m_rest != nullptr);
    capsule(painter, QRectF(0, top, parts.tintWidth, height), m_tint->color());
    if (m_rest)
        capsule(painter, QRectF(parts.restX, top, parts.restWidth, height), m_rest->color());
}
