#pragma once

#include <QProxyStyle>

// The application's style: Fusion, with the design's keyboard focus ring on the standard controls
// (fields, pickers, check boxes, push and tool buttons) in place of Fusion's faint outline, shown
// only for focus that came from the keyboard; and check boxes drawn as the design's square symbols,
// outlined in the muted colour, so an unchecked one reads in both looks.
class VoskStyle : public QProxyStyle {
    Q_OBJECT

public:
    VoskStyle();

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};
