#include "app/design/VoskButton.h"

#include "app/design/EasedValue.h"
#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>

#include <cmath>

VoskButton::VoskButton(const QString& text, VoskButtonStyle::Variant variant, std::optional<double> wide,
                       QWidget* parent)
    : QAbstractButton(parent), m_style{variant, wide}, m_press(new EasedValue(this, 0, Vosk::pressMillis))
{
    setText(text);
    setFont(TextStyles::label.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, false);
}

void VoskButton::setVariant(VoskButtonStyle::Variant variant)
{
    if (variant == m_style.variant)
        return;
    m_style.variant = variant;
    updateGeometry();
    update();
}

void VoskButton::setWide(std::optional<double> wide)
{
    m_style.wide = wide;
    updateGeometry();
    update();
}

void VoskButton::setSymbol(const QString& name, SymbolSide side, double size, double spacing)
{
    m_symbol = name;
    m_symbolSide = side;
    m_symbolSize = size;
    m_symbolSpacing = spacing;
    updateGeometry();
    update();
}

QSizeF VoskButton::labelSize() const
{
    const QFontMetricsF metrics(font());
    // Mnemonic markers are not drawn; "&&" shows as one ampersand.
    double width = metrics.size(Qt::TextHideMnemonic | Qt::TextSingleLine, text()).width();
    double height = metrics.height();
    if (!m_symbol.isEmpty()) {
        width += m_symbolSize + (text().isEmpty() ? 0 : m_symbolSpacing);
        height = std::max(height, m_symbolSize);
    }
    return {width, height};
}

QSize VoskButton::sizeHint() const
{
    const QSizeF size = m_style.size(labelSize());
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

void VoskButton::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    // A key presses only the button that shows it has the focus: one that got it silently (the first
    // control of a sheet that has just opened) wears no ring, and nobody pressing Space or Return on it
    // means it.
    const bool ringed = window()->testAttribute(Qt::WA_KeyboardFocusChange);
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // Taken here either way: passed on, the window would press a button of its own choosing (a
        // sheet's default, an alert's), not the one the ring is on.
        event->accept();
        if (!event->isAutoRepeat() && isEnabled() && ringed)
            click();
        return;
    }
    if (key == Qt::Key_Space && !ringed) {
        event->accept();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void VoskButton::paintEvent(QPaintEvent*)
{
    // The press animation follows the down state however it was set (mouse, keyboard, setDown).
    m_press->setTarget(isDown() ? 1 : 0);
    const double pressed = m_press->value();
    const VoskButtonStyle::Colors colors = VoskButtonStyle::colors(m_style.variant);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(VoskButtonStyle::disabledOpacity);

    const QRectF bounds = QRectF(rect());
    const double scale = m_style.scale(pressed);
    painter.translate(bounds.center());
    painter.scale(scale, scale);
    painter.translate(-bounds.center());

    const QColor fill = m_style.fill(pressed);
    if (fill.alpha() > 0)
        painter.fillPath(Vosk::roundedRect(bounds, Vosk::controlRadius), fill);
    if (colors.border) {
        painter.setPen(QPen(colors.border->color(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(Vosk::roundedRect(Vosk::hairlineRect(bounds), Vosk::controlRadius - 0.5));
    }
    if (FocusRing::shows(this))
        FocusRing::paint(painter, bounds, Vosk::controlRadius,
                         colors.fill ? std::optional<QColor>(colors.fill->color()) : std::nullopt);

    // The label block (text and symbol) sits centred.
    const QColor ink = colors.text->color();
    const QSizeF label = labelSize();
    const QFontMetricsF metrics(font());
    const double textWidth = metrics.size(Qt::TextHideMnemonic | Qt::TextSingleLine, text()).width();
    double x = bounds.center().x() - label.width() / 2;
    const QRectF line(0, bounds.top(), 0, bounds.height());
    const auto drawSymbol = [&] {
        Symbols::paint(painter, m_symbol, QRectF(x, line.top(), m_symbolSize, line.height()), m_symbolSize,
                       ink);
        x += m_symbolSize + (text().isEmpty() ? 0 : m_symbolSpacing);
    };
    if (!m_symbol.isEmpty() && m_symbolSide == SymbolSide::leading)
        drawSymbol();
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(x, line.top(), textWidth + 1, line.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic | Qt::TextSingleLine, text());
    x += textWidth + m_symbolSpacing;
    if (!m_symbol.isEmpty() && m_symbolSide == SymbolSide::trailing)
        Symbols::paint(painter, m_symbol, QRectF(x, line.top(), m_symbolSize, line.height()), m_symbolSize,
                       ink);
}
