#pragma once

#include "app/design/TextStyle.h"

#include <QLabel>

class Token;

// Plain text in one of the design's text styles and a colour token that follows the look. One-line
// labels can shrink their face down to a floor and then shorten with an ellipsis; wrapping labels can
// be held to a number of lines. Data is always shown as plain text, never as markup.
class VoskLabel : public QLabel {
    Q_OBJECT

public:
    VoskLabel(const QString& text, const TextStyle& style, const Token& ink, QWidget* parent = nullptr);

    // The text as given; `text()` is what shows (capitals for capital styles).
    QString plainText() const { return m_plain; }
    void setPlainText(const QString& text);
    const TextStyle& textStyle() const { return m_style; }
    void setTextStyle(const TextStyle& style);
    const Token& ink() const { return *m_ink; }
    void setInk(const Token& ink);

    // One line, shortened at `mode` when it does not fit.
    void setElideMode(Qt::TextElideMode mode);
    // Before shortening, the face may shrink to `factor` of its size (0.75 keeps three quarters).
    void setMinimumScale(double factor);
    // Wraps over at most `lines` lines from the top; 0 lifts the limit. A text that needs more shows
    // its first lines, the last of them ended with "…" (a selectable label, which draws its own
    // selection, is cut after its last line instead).
    void setMaximumLines(int lines);
    // The lines drawn at the label's width when it holds more than its maximum and is not selectable,
    // else none (the text is drawn as it wraps).
    QStringList cappedLines() const;
    // Wraps, and may break a long run of characters without blanks (a name, a path) anywhere inside
    // it: such a run would otherwise set the label's least width to its own, however long it is.
    // Words of ordinary length still wrap whole.
    void setBreakLongRuns(bool on);

    // How the text fits `width`: the scale its face is drawn at and the text drawn.
    struct Fit {
        double scale;
        QString text;
    };
    Fit fit(double width) const;
    // The same for any text in any style: the face shrinks (not below `minimumScale`) until the text
    // fits, and what still does not fit is shortened at `elide` (ElideNone leaves it to overflow).
    static Fit fitText(const QString& text, const TextStyle& style, double width, double minimumScale,
                       Qt::TextElideMode elide);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool fitsItself() const;
    void applyInk();
    // What the label draws for `text`: its style's form, with the breaks it may take.
    QString shown(const QString& text) const;

    QString m_plain;
    TextStyle m_style;
    const Token* m_ink;
    Qt::TextElideMode m_elide = Qt::ElideNone;
    double m_minimumScale = 1;
    int m_maximumLines = 0;
    bool m_breakLongRuns = false;
};
