#pragma once

#include <QWidget>

class Token;

// A small label in capitals on a rounded fill: warnings in badge colours, errors in error colours.
class VoskBadge : public QWidget {
    Q_OBJECT

public:
    VoskBadge(const QString& text, const Token& fill, const Token& ink, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    void setColors(const Token& fill, const Token& ink);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    const Token* m_fill;
    const Token* m_ink;
};
