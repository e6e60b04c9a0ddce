#include "app/design/MenuButton.h"

#include <QKeyEvent>
#include <QMouseEvent>

MenuButton::MenuButton(QWidget* parent) : QAbstractButton(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
}

void MenuButton::setMenu(QMenu* menu)
{
    if (m_menu)
        disconnect(m_menu, nullptr, this, nullptr);
    m_menu = menu;
    setOpen(false);
    if (!menu)
        return;
    connect(menu, &QMenu::aboutToShow, this, [this] { setOpen(true); });
    connect(menu, &QMenu::aboutToHide, this, [this] { setOpen(false); });
}

void MenuButton::setOpen(bool open)
{
    if (open == m_open)
        return;
    m_open = open;
    update();
}

void MenuButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !opens()) {
        event->ignore();
        return;
    }
    event->accept();
    popUp();
}

void MenuButton::keyPressEvent(QKeyEvent* event)
{
    const bool opening = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                         event->key() == Qt::Key_Enter || event->key() == Qt::Key_Down;
    if (!opening || !opens()) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    event->accept();
    popUp();
}

void MenuButton::popUp()
{
    if (!m_menu || !opens() || m_menu->isVisible())
        return;
    m_menu->popup(mapToGlobal(QPoint(0, height())));
}
