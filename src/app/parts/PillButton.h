#pragma once

#include <QAbstractButton>

class Token;

// The pill every small value button shares: a text in JetBrains Mono 11 with an optional 8-pixel
// symbol after it, on a rounded pill fill 22 pixels high. The whole pill is the button.
class PillButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit PillButton(QWidget* parent = nullptr);

    // `symbol` empty: no symbol.
    void setFace(const QString& text, const QString& symbol, const Token& ink);
    QString symbol() const { return m_symbol; }
    const Token& ink() const { return *m_ink; }

    static constexpr double height = 22;
    static constexpr double paddingX = 7;
    static constexpr double symbolSize = 8;
    static constexpr double spacing = 4;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_symbol;
    const Token* m_ink;
};
