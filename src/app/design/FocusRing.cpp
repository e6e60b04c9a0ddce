#include "app/design/FocusRing.h"

#include "app/design/Vosk.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QStyle>
#include <QStyleOption>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

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
                // Not only the focused control: a surround may wear its ring beyond its edges.
                window->update();
            }
        }
        return false;
    }
};

// The ring over a surround, for the control inside it; it takes no clicks and no focus.
class Worn final : public QWidget {
public:
    Worn(QWidget* frame, QWidget* control, std::function<bool()> when)
        : QWidget(frame), m_control(control), m_when(std::move(when))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(frame->rect());
        frame->installEventFilter(this);
        if (control != frame)
            control->installEventFilter(this);
        raise();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Resize:
            if (watched == parent())
                setGeometry(parentWidget()->rect());
            break;
        case QEvent::ChildAdded:
            // Children added to the frame later would otherwise cover the ring.
            if (watched == parent())
                QTimer::singleShot(0, this, [this] { raise(); });
            break;
        case QEvent::FocusIn:
        case QEvent::FocusOut:
            if (watched == m_control)
                update();
            break;
        default:
            break;
        }
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        if (!m_control || !FocusRing::shows(m_control) || (m_when && !m_when()))
            return;
        QPainter painter(this);
        FocusRing::paint(painter, QRectF(rect()), Vosk::controlRadius);
    }

private:
    QPointer<QWidget> m_control;
    std::function<bool()> m_when;
};

} // namespace

namespace FocusRing {

void wear(QWidget* frame, QWidget* control, std::function<bool()> when)
{
    new Worn(frame, control, std::move(when));
}

bool takesTyping(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return !line->isReadOnly();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return !text->isReadOnly();
    if (const auto* text = qobject_cast<const QTextEdit*>(widget))
        return !text->isReadOnly();
    if (const auto* spin = qobject_cast<const QAbstractSpinBox*>(widget))
        return !spin->isReadOnly();
    if (const auto* box = qobject_cast<const QComboBox*>(widget))
        return box->isEditable();
    return false;
}

bool shows(const QWidget* widget)
{
    return widget && widget->hasFocus() &&
           (widget->window()->testAttribute(Qt::WA_KeyboardFocusChange) || takesTyping(widget));
}

bool shows(const QStyleOption& option, const QWidget* widget)
{
    return option.state.testFlag(QStyle::State_HasFocus) &&
           (option.state.testFlag(QStyle::State_KeyboardFocusChange) || takesTyping(widget));
}

double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double c) {
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor color(const std::optional<QColor>& fill)
{
    // A control without a fill of its own shows the page through it.
    const QColor page = Vosk::page.color();
    const QColor inside = fill && fill->alpha() > 0 ? *fill : page;
    QColor best;
    double bestContrast = 0;
    for (const Token* token : {&Vosk::ionHover, &Vosk::ink, &Vosk::onAccent}) {
        const QColor candidate = token->color();
        const double apart = std::min(contrast(candidate, inside), contrast(candidate, page));
        if (apart >= leastContrast)
            return candidate;
        if (apart > bestContrast) {
            best = candidate;
            bestContrast = apart;
        }
    }
    return best;
}

void paint(QPainter& painter, const QRectF& bounds, double radius, const std::optional<QColor>& fill)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const double half = width / 2;
    painter.setPen(QPen(color(fill), width));
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
