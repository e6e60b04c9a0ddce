#pragma once

#include <QAbstractButton>
#include <QPointer>

class QMenu;

// A toolbar pull-down: a symbol, a title and a chevron that says a menu opens below it. A press of
// the mouse, or Space, Return or Down, pops the menu up without blocking. The button is drawn pressed
// exactly while its menu is open, whichever way the menu closes.
class PullDownButton : public QAbstractButton {
    Q_OBJECT

public:
    PullDownButton(const QString& symbol, const QString& text, QWidget* parent = nullptr);

    // The menu is not owned; give it this button as parent to tie their lives together.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }
    bool menuOpen() const { return m_open; }

    static constexpr double symbolSize = 14;
    static constexpr double chevronSize = 9;
    static constexpr double barHeight = 26;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void popUp();
    void setOpen(bool open);

    QString m_symbol;
    QPointer<QMenu> m_menu;
    bool m_open = false;
};
