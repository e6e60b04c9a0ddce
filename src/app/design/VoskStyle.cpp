#include "app/design/VoskStyle.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButtonStyle.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include <algorithm>

namespace {

// Fusion outlines whatever has the focus in its highlight colour, a click's focus included; the
// design's ring takes that place, so the base style is told nothing of the focus.
template <typename Option>
Option withoutFocus(const Option& option)
{
    Option copy = option;
    copy.state &= ~(QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange);
    return copy;
}

// Fusion's fields and pickers round their corners less than the design's controls.
constexpr double fieldRadius = 3;

// Has `draw` draw the control without the focus and puts the ring round it; false when the option is
// not the kind the control draws with.
template <typename Option, typename Draw>
bool withRing(const QStyleOption* option, QPainter* painter, const QWidget* widget, Draw draw)
{
    const auto* typed = qstyleoption_cast<const Option*>(option);
    if (!typed)
        return false;
    const Option plain = withoutFocus(*typed);
    draw(&plain);
    if (FocusRing::shows(*option, widget))
        FocusRing::paint(*painter, QRectF(option->rect), fieldRadius);
    return true;
}

} // namespace

VoskStyle::VoskStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{
}

void VoskStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    switch (element) {
    case PE_FrameFocusRect:
        if (FocusRing::shows(*option))
            FocusRing::paint(*painter, QRectF(option->rect), Vosk::controlRadius);
        return;
    case PE_IndicatorCheckBox: {
        const bool on = option->state.testFlag(State_On);
        painter->save();
        if (!option->state.testFlag(State_Enabled))
            painter->setOpacity(painter->opacity() * VoskButtonStyle::disabledOpacity);
        const QRectF box(option->rect);
        Symbols::paint(*painter, on ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square"), box,
                       std::min(box.width(), box.height()), (on ? Vosk::ion : Vosk::muted).color());
        painter->restore();
        return;
    }
    case PE_FrameLineEdit:
        if (withRing<QStyleOptionFrame>(option, painter, widget, [&](const QStyleOption* plain) {
                QProxyStyle::drawPrimitive(element, plain, painter, widget);
            }))
            return;
        break;
    default:
        break;
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

void VoskStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    // A push button is drawn without the focus, then wears the ring round the whole of it.
    if (element == CE_PushButton &&
        withRing<QStyleOptionButton>(option, painter, widget, [&](const QStyleOption* plain) {
            QProxyStyle::drawControl(element, plain, painter, widget);
        }))
        return;
    if (element == CE_CheckBox) {
        if (const auto* box = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            if (FocusRing::shows(*option)) {
                // Round the box and its label together, not round the label alone. The box sits on
                // the control's edge, so it is drawn over the ring rather than under it.
                const QRect indicator = subElementRect(SE_CheckBoxIndicator, option, widget);
                const QRect label = subElementRect(SE_CheckBoxFocusRect, option, widget);
                const QRect ring = (indicator | label).adjusted(-3, -3, 3, 3) & option->rect;
                FocusRing::paint(*painter, QRectF(ring), Vosk::controlRadius);
            }
            const QStyleOptionButton plain = withoutFocus(*box);
            QProxyStyle::drawControl(element, &plain, painter, widget);
            return;
        }
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void VoskStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                   QPainter* painter, const QWidget* widget) const
{
    switch (control) {
    case CC_ComboBox:
        if (withRing<QStyleOptionComboBox>(option, painter, widget, [&](const QStyleOption* plain) {
                QProxyStyle::drawComplexControl(control, qstyleoption_cast<const QStyleOptionComplex*>(plain),
                                                painter, widget);
            }))
            return;
        break;
    case CC_ToolButton:
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (FocusRing::shows(*option))
            FocusRing::paint(*painter, QRectF(option->rect), Vosk::controlRadius);
        return;
    default:
        break;
    }
    QProxyStyle::drawComplexControl(control, option, painter, widget);
}
