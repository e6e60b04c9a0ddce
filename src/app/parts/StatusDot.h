#pragma once

#include <QWidget>

class Token;

// A small filled circle in a colour token that follows the look: a container's status, a project's
// running state.
class StatusDot : public QWidget {
    Q_OBJECT

public:
    explicit StatusDot(const Token& fill, int diameter = 8, QWidget* parent = nullptr);

    const Token& fill() const { return *m_fill; }
    void setFill(const Token& fill);

    QSize sizeHint() const override { return {m_diameter, m_diameter}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Token* m_fill;
    int m_diameter;
};
