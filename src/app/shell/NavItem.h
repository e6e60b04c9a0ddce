#pragma once

#include "app/parts/Category.h"

#include <QAbstractButton>

#include <optional>

class EasedValue;

// One section of the sidebar: its symbol, its name (semi-bold while chosen), and a count on the right
// when one is known.
// The chosen one sits on a washed rounded fill with an accent mark before it; a hovered one on half
// of that wash. The whole row takes the click.
class NavItem : public QAbstractButton {
    Q_OBJECT

public:
    explicit NavItem(Category category, QWidget* parent = nullptr);

    Category category() const { return m_category; }
    const std::optional<qsizetype>& count() const { return m_count; }
    void setCount(const std::optional<qsizetype>& count);
    bool selected() const { return m_selected; }
    void setSelected(bool selected);

    // Room kept before the fill for the accent mark, which sits 6 pixels ahead of the row.
    static constexpr int markRoom = 6;
    static constexpr int rowHeight = 30;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    Category m_category;
    std::optional<qsizetype> m_count = 0;
    bool m_selected = false;
    EasedValue* m_hover;
};
