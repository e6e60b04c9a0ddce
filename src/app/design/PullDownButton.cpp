#include "app/design/PullDownButton.h"

#include "app/design/FocusRing.h"
#include "app/design/Symbols.h"
#include "app/design/TextStyle.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButtonStyle.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace {

constexpr double padding = 8;
constexpr double symbolSpacing = 6;
constexpr double chevronSpacing = 5;

} // namespace

PullDownButton::PullDownButton(const QString& symbol, const QString& text, QWidget* parent)
    : QAbstractButton(parent), m_symbol(symbol)
{
    setText(text);
    setFont(TextStyles::body.font());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

void PullDownButton::setMenu(QMenu* menu)
{
    if (m_menu)
        disconnect(m_menu, nullptr, this, nullptr);
    m_menu = menu;
    setOpen(false);
    if (!menu)
        return;
    // The menu grabs the mouse while it is open, so the button never sees the release of the press
    // that opened it: the menu's own showing and hiding say when it is pressed.
    connect(menu, &QMenu::aboutToShow, this, [this] { setOpen(true); });
    connect(menu, &QMenu::aboutToHide, this, [this] { setOpen(false); });
}

void PullDownButton::setOpen(bool open)
{
    if (open == m_open)
        return;
    m_open = open;
    update();
}

QSize PullDownButton::sizeHint() const
{
    const double textWidth = QFontMetricsF(font()).horizontalAdvance(text());
    const double width =
        padding + symbolSize + symbolSpacing + textWidth + chevronSpacing + chevronSize + padding;
    return {int(std::ceil(width)), int(barHeight)};
}

void PullDownButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    popUp();
}

void PullDownButton::keyPressEvent(QKeyEvent* event)
{
    const bool opens = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                       event->key() == Qt::Key_Enter || event->key() == Qt::Key_Down;
    if (!opens) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    event->accept();
    popUp();
}

void PullDownButton::popUp()
{
    if (!m_menu || !isEnabled() || m_menu->isVisible())
        return;
    m_menu->popup(mapToGlobal(QPoint(0, height())));
}

void PullDownButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(VoskButtonStyle::disabledOpacity);
    const QRectF bounds(rect());
    if (m_open)
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
