#pragma once

#include "app/design/MenuButton.h"

// A toolbar pull-down: a symbol, a title and a chevron that says a menu opens below it. It is drawn
// pressed exactly while its menu is open, whichever way the menu closes.
class PullDownButton : public MenuButton {
    Q_OBJECT

public:
    PullDownButton(const QString& symbol, const QString& text, QWidget* parent = nullptr);

    static constexpr double symbolSize = 14;
    static constexpr double chevronSize = 9;
    static constexpr double barHeight = 26;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
};
