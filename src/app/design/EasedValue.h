#pragma once

#include <QObject>

class QVariantAnimation;
class QWidget;

// A number a widget draws with that moves to a new target with the design's ease-out curve and
// repaints the widget on every step. While the widget is not visible it jumps, so a first paint or
// an off-screen render always shows the final state.
class EasedValue : public QObject {
    Q_OBJECT

public:
    EasedValue(QWidget* owner, double initial, int durationMillis);

    double value() const { return m_value; }
    double target() const { return m_target; }
    void setTarget(double target);

private:
    QWidget* m_owner;
    QVariantAnimation* m_animation;
    double m_value;
    double m_target;
};
