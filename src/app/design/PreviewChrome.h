#pragma once

#include "app/design/MenuButton.h"

// The screenshot switch: set at the root of what the screenshot mode renders, read by every widget
// below it. Widgets that cannot be drawn off screen (menus, checkboxes) then draw still pictures.
// Nothing but the screenshot mode sets it.
void setVoskPreviewChrome(QWidget* root, bool on);
bool voskPreviewChrome(const QWidget* widget);

// The "ellipsis" menu button of list rows and cards: a muted symbol, 22 pixels wide. Under the preview
// switch it is only the picture and cannot be opened.
class EllipsisMenuButton : public MenuButton {
    Q_OBJECT

public:
    explicit EllipsisMenuButton(QWidget* parent = nullptr);

    static constexpr int boxWidth = 22;
    static constexpr double symbolSize = 13;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool opens() const override;
};
