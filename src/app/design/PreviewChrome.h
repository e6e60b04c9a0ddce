#pragma once

#include <QAbstractButton>
#include <QMenu>
#include <QPointer>

// The screenshot switch: set at the root of what the screenshot mode renders, read by every widget
// below it. Widgets that cannot be drawn off screen (menus, checkboxes) then draw still pictures.
// Nothing but the screenshot mode sets it.
void setVoskPreviewChrome(QWidget* root, bool on);
bool voskPreviewChrome(const QWidget* widget);

// The "ellipsis" menu button of list rows and cards: a muted symbol, 22 pixels wide, that pops up its
// menu without blocking. Under the preview switch it is only the picture and cannot be opened.
class EllipsisMenuButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit EllipsisMenuButton(QWidget* parent = nullptr);

    // The menu is not owned; give it this button as parent to tie their lives together.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }

    static constexpr int boxWidth = 22;
    static constexpr double symbolSize = 13;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void popUp();

    QPointer<QMenu> m_menu;
};
