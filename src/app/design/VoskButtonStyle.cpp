#include "app/design/VoskButtonStyle.h"

#include "app/design/Vosk.h"

#include <algorithm>
#include <cmath>

VoskButtonStyle::Colors VoskButtonStyle::colors(Variant variant)
{
    switch (variant) {
    case Variant::quiet:
        return {&Vosk::ink, &Vosk::control, &Vosk::wash, &Vosk::line};
    case Variant::accent:
        return {&Vosk::onAccent, &Vosk::ion, &Vosk::ionHover, nullptr};
    case Variant::ghost:
        return {&Vosk::muted, nullptr, &Vosk::wash, nullptr};
    case Variant::danger:
        return {&Vosk::errInk, &Vosk::errFill, &Vosk::errLine, &Vosk::errLine};
    }
    return {&Vosk::ink, &Vosk::control, &Vosk::wash, &Vosk::line};
}

double VoskButtonStyle::horizontalPadding(Variant variant)
{
    return variant == Variant::ghost ? 6 : 11;
}

QSizeF VoskButtonStyle::size(const QSizeF& label) const
{
    double width = label.width() + 2 * horizontalPadding(variant);
    if (wide && std::isfinite(*wide))
        width = std::max(width, *wide);
    return {width, std::max(label.height(), minimumHeight)};
}

QColor VoskButtonStyle::fill(double pressed) const
{
    const Colors c = colors(variant);
    const double t = std::clamp(pressed, 0.0, 1.0);
    QColor rest = c.fill ? c.fill->color() : QColor(Qt::transparent);
    QColor down = c.pressedFill ? c.pressedFill->color() : QColor(Qt::transparent);
    // A clear fill fades in the pressed colour rather than passing through black.
    if (!c.fill) {
        rest = down;
        rest.setAlphaF(0);
    }
    return QColor::fromRgbF(rest.redF() + (down.redF() - rest.redF()) * t,
                            rest.greenF() + (down.greenF() - rest.greenF()) * t,
                            rest.blueF() + (down.blueF() - rest.blueF()) * t,
                            rest.alphaF() + (down.alphaF() - rest.alphaF()) * t);
}
