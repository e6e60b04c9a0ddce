#pragma once

#include <QColor>
#include <QSizeF>

#include <optional>

class Token;

// How every button of the application looks: one of four variants and an optional minimum width.
// Geometry and colours live here as plain values; `VoskButton` paints with them.
struct VoskButtonStyle {
    enum class Variant { quiet, accent, ghost, danger };

    // The tokens of one variant; a null fill or border is clear.
    struct Colors {
        const Token* text;
        const Token* fill;
        const Token* pressedFill;
        const Token* border;
    };

    Variant variant = Variant::quiet;
    // Minimum width in device-independent pixels; none hugs the label.
    std::optional<double> wide;

    static constexpr double minimumHeight = 24;
    static constexpr double disabledOpacity = 0.38;
    static constexpr double pressedScale = 0.99;

    static Colors colors(Variant variant);
    static double horizontalPadding(Variant variant);

    // The button's size around a label of `label` size.
    QSizeF size(const QSizeF& label) const;
    // The fill `pressed` of the way from rest (0) to pressed (1), resolved in the current look;
    // transparent for a clear fill.
    QColor fill(double pressed) const;
    double scale(double pressed) const { return 1 - (1 - pressedScale) * pressed; }
};
