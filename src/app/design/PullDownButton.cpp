#include "app/design/PullDownButton.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButtonStyle.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {

constexpr double padding = 8;
constexpr double symbolSpacing = 6;
constexpr double chevronSpacing = 5;

} // namespace

PullDownButton::PullDownButton(const QString& symbol, const QString& text, QWidget* parent)
    : MenuButton(parent), m_symbol(symbol)
{
    setText(text);
    setFont(TextStyles::body.font());
}

QSize PullDownButton::sizeHint() const
{
    const double textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    const double width =
        padding + symbolSize + symbolSpacing + textWidth + chevronSpacing + chevronSize + padding;
    return {int(std::ceil(width)), int(barHeight)};
}

void PullDownButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(VoskButtonStyle::disabledOpacity);
    const QRectF bounds(rect());
    if (menuOpen())
        painter.fillPath(Vosk::roundedRect(bounds, Vosk::controlRadius), Vosk::wash.color());

    const QColor ink = Vosk::ink.color();
    double x = padding;
    Symbols::paint(painter, m_symbol, QRectF(x, 0, symbolSize, bounds.height()), symbolSize, ink);
    x += symbolSize + symbolSpacing;
    const double textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    painter.setFont(font());
    painter.setPen(ink);
    painter.drawText(QRectF(x, 0, textWidth + 1, bounds.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    x += textWidth + chevronSpacing;
    Symbols::paint(painter, QStringLiteral("chevron.down"), QRectF(x, 0, chevronSize, bounds.height()),
                   chevronSize, ink);

    if (FocusRing::shows(this))
        FocusRing::paint(painter, bounds, Vosk::controlRadius);
}
