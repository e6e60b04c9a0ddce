#pragma once

#include <QAbstractButton>
#include <QMenu>
#include <QPointer>

// A button that pops its menu up below itself without blocking: a left press, Space, Return or Down
// opens it. It knows whether the menu is open from the menu itself, since the menu grabs the mouse
// and the release of the press that opened it never reaches the button.
class MenuButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit MenuButton(QWidget* parent = nullptr);

    // The menu is not owned; give it this button as parent to tie their lives together.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }
    bool menuOpen() const { return m_open; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Whether the menu may open now.
    virtual bool opens() const { return isEnabled(); }

private:
    void popUp();
    void setOpen(bool open);

    QPointer<QMenu> m_menu;
    bool m_open = false;
};
