#pragma once

#include "app/design/VoskCard.h"

#include <optional>

class Meter;
class SymbolView;
class Token;
class VoskLabel;

// One measured quantity on a card: a symbol and a capital title, the figure with its unit, a meter,
// and a footer the caller supplies. Without a figure it shows a muted dash and an empty meter.
class VitalCard : public VoskCard {
    Q_OBJECT

public:
    VitalCard(const QString& icon, const QString& title, const std::optional<QString>& value,
              const QString& unit, double fraction, const Token& tint, const Token* rest, QWidget* footer,
              QWidget* parent = nullptr);

    void setFigure(const std::optional<QString>& value, const QString& unit, double fraction);
    void setMeterColors(const Token& tint, const Token* rest);
    std::optional<QString> value() const { return m_value; }
    QString unit() const { return m_unit; }
    // What the meter is asked to show: the fraction, or nothing while there is no figure.
    double meterFraction() const;
    QWidget* footer() const { return m_footer; }

    // How the figure and its unit share a line `width` wide: the figure's face shrinks to three
    // quarters first; then the unit gives way (shortened, or left out), and only a figure too wide on
    // its own is shortened. A figure cut to "7.3 …" would no longer say what it measures.
    struct FigureFit {
        double scale;
        QString figure;
        QString unit;
    };
    static FigureFit fitFigure(const QString& figure, const QString& unit, double width);
    static constexpr double unitSpacing = 7;
    static constexpr double minimumScale = 0.75;

    static constexpr double padding = 14;
    static constexpr double rowSpacing = 9;
    static constexpr double footerHeight = 24;

private:
    void describe();

    QString m_title;
    std::optional<QString> m_value;
    QString m_unit;
    double m_fraction;
    QWidget* m_figure;
    Meter* m_meter;
    QWidget* m_footer;
};
