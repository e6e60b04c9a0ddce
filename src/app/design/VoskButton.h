#pragma once

#include "app/design/VoskButtonStyle.h"

#include <QAbstractButton>

class EasedValue;

// A push button painted in `VoskButtonStyle`: its label in Inter Medium 12, optionally with a symbol
// before or after it. Disabled it fades to 38 %; pressed it darkens and shrinks a little; focused from
// the keyboard it wears the focus ring, and then Return, Enter and Space press it, as they press the
// focused button in a desktop's dialogs; without the ring no key presses it. A key held down presses
// nothing more: its repeats are no presses.
class VoskButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class SymbolSide { leading, trailing };

    VoskButton(const QString& text, VoskButtonStyle::Variant variant,
               std::optional<double> wide = std::nullopt, QWidget* parent = nullptr);

    VoskButtonStyle buttonStyle() const { return m_style; }
    void setVariant(VoskButtonStyle::Variant variant);
    void setWide(std::optional<double> wide);
    // A symbol beside the label ("chevron.right" after "Details"), `size` pixels, `spacing` apart.
    void setSymbol(const QString& name, SymbolSide side, double size, double spacing);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QSizeF labelSize() const;

    VoskButtonStyle m_style;
    QString m_symbol;
    SymbolSide m_symbolSide = SymbolSide::leading;
    double m_symbolSize = 0;
    double m_symbolSpacing = 0;
    EasedValue* m_press;
};
