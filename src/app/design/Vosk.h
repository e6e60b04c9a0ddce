#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>
#include <QString>
#include <QtGlobal>

// The two looks a token resolves to. Where the design prints them they are "Aqua" and "DarkAqua".
enum class Look { light, dark };

QString lookName(Look look);

// One named colour of the design with a value for each look. Tokens are compile-time constants with
// one address each, so widgets keep a reference and resolve it when they paint; a change of look
// then needs only a repaint.
class Token {
public:
    constexpr Token(QRgb light, QRgb dark) : m_light(light), m_dark(dark) {}

    QColor resolve(Look look) const { return QColor::fromRgb(look == Look::dark ? m_dark : m_light); }
    // The value for the look the application shows right now.
    QColor color() const;
    operator QColor() const { return color(); }

    QRgb light() const { return m_light | 0xff000000u; }
    QRgb dark() const { return m_dark | 0xff000000u; }
    bool changesWithLook() const { return m_light != m_dark; }

private:
    QRgb m_light;
    QRgb m_dark;
};

// The design's vocabulary: colour tokens, faces, radii and motion. No instances.
class Vosk final {
public:
    Vosk() = delete;

    static constexpr Token page{0xF5F1E9, 0x0A1B3D};
    static constexpr Token chrome{0xEFEBE2, 0x0D2049};
    static constexpr Token card{0xFBF8F2, 0x102249};
    static constexpr Token control{0xF5F1E9, 0x16294F};
    static constexpr Token wash{0xE4DFD5, 0x1B335C};
    static constexpr Token line{0xE4DDD0, 0x1B335C};
    static constexpr Token ink{0x0A1B3D, 0xF5F1E9};
    static constexpr Token inkSoft{0x2C2C34, 0xE8E4DC};
    static constexpr Token muted{0x5E6884, 0x8E99B4};
    static constexpr Token ion{0xC58230, 0xC58230};
    static constexpr Token ionHover{0xA96C22, 0xD9953F};
    static constexpr Token onAccent{0xFFFFFF, 0xFFFFFF};
    static constexpr Token success{0x1C7A4A, 0x3FA872};
    static constexpr Token danger{0xA23B3B, 0xD2635F};
    // Same values as `wash`, kept apart so pills can change without touching pressed fills.
    static constexpr Token pillFill{0xE4DFD5, 0x1B335C};
    static constexpr Token pillInk{0x0A1B3D, 0xD8CDB8};
    static constexpr Token badgeFill{0xF3E3D2, 0x3A2A18};
    static constexpr Token badgeInk{0x8A4E26, 0xE7C08A};
    static constexpr Token errFill{0xF6E6E4, 0x2E1A1E};
    static constexpr Token errLine{0xE4C4C0, 0x5A3038};
    static constexpr Token errInk{0x8C3232, 0xE39B96};

    // A face of a family with several weights (400 regular, 500 medium, 600 semibold) at a size in
    // device-independent pixels. The weight picks the static file of that weight; a family that is
    // not there falls back to the platform's default face.
    static QFont varied(const QString& family, double weight, double size);
    // A face asked for by its font name, "Inter-Medium": family, a hyphen and the weight's style name.
    static QFont named(const QString& fontName, double size);
    // Points for a size in device-independent pixels on the screen the application shows.
    static double pointsForPixels(double pixels);

    // Corner radii: controls, pills, chips and badges; notices and strips; cards.
    static constexpr double controlRadius = 6;
    static constexpr double stripRadius = 10;
    static constexpr double cardRadius = 14;

    // Motion, always ease-out: a button press, and a ring or meter moving to a new value.
    static constexpr int pressMillis = 120;
    static constexpr int valueMillis = 300;

    // What shows where a value is absent: an em dash.
    static QString absent() { return QStringLiteral("\u2014"); }
    // A tooltip that shows `text` exactly as it is, even when it looks like markup.
    static QString toolTip(const QString& text);

    // The rounded rectangle every surface is drawn with. A hairline drawn along it should use
    // `hairlineRect`, so the 1-pixel stroke lands on whole pixels.
    static QPainterPath roundedRect(const QRectF& rect, double radius);
    static QRectF hairlineRect(const QRectF& rect) { return rect.adjusted(0.5, 0.5, -0.5, -0.5); }
};
