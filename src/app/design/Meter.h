#pragma once

#include <QWidget>

class EasedValue;
class Token;

// A 6-pixel bar over a rounded track: `tint` fills the share given, and `rest`, when given, fills what
// is left after a 2-pixel gap. The share eases to a new value.
class Meter : public QWidget {
    Q_OBJECT

public:
    Meter(double fraction, const Token& tint, const Token* rest = nullptr, QWidget* parent = nullptr);

    double fraction() const { return m_fraction; }
    void setFraction(double fraction);
    void setColors(const Token& tint, const Token* rest);

    static constexpr double height = 6;
    static constexpr double gap = 2;

    // Where the two parts lie across a bar `width` wide; the share is held between 0 and 1.
    struct Segments {
        double tintWidth;
        double restX;
        double restWidth;
    };
    static Segments segments(double fraction, double width, bool hasRest);
    // Whether a bar `devicePixels` wide shows a move of its share from `from` to `to`: its end moves
    // by a quarter of a device pixel or more.
    static bool moves(double from, double to, double devicePixels);

    QSize sizeHint() const override { return {120, int(height)}; }
    QSize minimumSizeHint() const override { return {0, int(height)}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    double m_fraction;
    const Token* m_tint;
    const Token* m_rest;
    EasedValue* m_shown;
};
