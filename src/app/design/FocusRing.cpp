#include "app/design/FocusRing.h"

#include "app/design/Vosk.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

#include <algorithm>

namespace {

// Qt marks a window when Tab, Backtab or a shortcut moves its focus, and keeps the mark for good;
// a press of the mouse here takes it away again, so a focus that followed a click shows no ring.
class MouseEndsKeyboardCue final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
            watched->isWidgetType()) {
            QWidget* window = static_cast<QWidget*>(watched)->window();
            if (window->testAttribute(Qt::WA_KeyboardFocusChange)) {
                window->setAttribute(Qt::WA_KeyboardFocusChange, false);
                if (QWidget* focus = window->focusWidget())
                    focus->update();
            }
        }
        return false;
    }
};

} // namespace

namespace FocusRing {

bool shows(const QWidget* widget)
{
    return widget && widget->hasFocus() && widget->window()->testAttribute(Qt::WA_KeyboardFocusChange);
}

bool shows(const QStyleOption& option)
{
    return option.state.testFlag(QStyle::State_HasFocus) &&
           option.state.testFlag(QStyle::State_KeyboardFocusChange);
}

void paint(QPainter& painter, const QRectF& bounds, double radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const double half = width / 2;
    painter.setPen(QPen(Vosk::ion.color(), width));
    painter.drawPath(
        Vosk::roundedRect(bounds.adjusted(half, half, -half, -half), std::max(0.0, radius - half)));
    const double inner = width + 0.5;
    painter.setPen(QPen(Vosk::page.color(), 1));
    painter.drawPath(
        Vosk::roundedRect(bounds.adjusted(inner, inner, -inner, -inner), std::max(0.0, radius - inner)));
    painter.restore();
}

void install(QApplication& application)
{
    static QPointer<QObject> filter;
    if (filter)
        return;
    filter = new MouseEndsKeyboardCue(&application);
    application.installEventFilter(filter);
}

} // namespace FocusRing
