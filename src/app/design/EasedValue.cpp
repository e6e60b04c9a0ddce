#include "app/design/EasedValue.h"

#include <QEasingCurve>
#include <QVariantAnimation>
#include <QWidget>

namespace {

// The platform's standard ease-out: a cubic Bézier through (0, 0), (0.58, 1), (1, 1).
QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace

EasedValue::EasedValue(QWidget* owner, double initial, int durationMillis)
    : QObject(owner), m_owner(owner), m_animation(new QVariantAnimation(this)), m_value(initial),
      m_target(initial)
{
    m_animation->setDuration(durationMillis);
    m_animation->setEasingCurve(easeOut());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_value = value.toDouble();
        m_owner->update();
    });
}

void EasedValue::setTarget(double target)
{
    if (target == m_target)
        return;
    m_target = target;
    m_animation->stop();
    if (!m_owner->isVisible()) {
        m_value = target;
        m_owner->update();
        return;
    }
    m_animation->setStartValue(m_value);
    m_animation->setEndValue(target);
    m_animation->start();
}
