#include "app/design/Vosk.h"

#include "app/design/Theme.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

QString lookName(Look look)
{
    return look == Look::dark ? QStringLiteral("DarkAqua") : QStringLiteral("Aqua");
}

QColor Token::color() const
{
    return resolve(Theme::currentLook());
}

double Vosk::pointsForPixels(double pixels)
{
    double dpi = 96;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const double logical = screen->logicalDotsPerInchY();
        if (std::isfinite(logical) && logical >= 24 && logical <= 1000)
            dpi = logical;
    }
    return pixels * 72.0 / dpi;
}

QFont Vosk::varied(const QString& family, double weight, double size)
{
    QFont font(family);
    const double safeWeight = std::isfinite(weight) ? std::clamp(weight, 1.0, 1000.0) : 400.0;
    font.setWeight(QFont::Weight(int(std::lround(safeWeight))));
    const double safeSize = std::isfinite(size) ? std::clamp(size, 1.0, 512.0) : 12.0;
    font.setPointSizeF(pointsForPixels(safeSize));
    return font;
}

QFont Vosk::named(const QString& fontName, double size)
{
    struct StyleWeight {
        const char* style;
        int weight;
    };
    static constexpr StyleWeight styles[] = {
        {"Thin", 100},     {"ExtraLight", 200}, {"Light", 300},     {"Regular", 400}, {"Medium", 500},
        {"SemiBold", 600}, {"Bold", 700},       {"ExtraBold", 800}, {"Black", 900},
    };
    const qsizetype hyphen = fontName.lastIndexOf(QLatin1Char('-'));
    if (hyphen > 0) {
        const QStringView style = QStringView(fontName).mid(hyphen + 1);
        for (const StyleWeight& entry : styles) {
            if (style == QLatin1String(entry.style))
                return varied(fontName.left(hyphen), entry.weight, size);
        }
    }
    return varied(fontName, 400, size);
}

QString Vosk::toolTip(const QString& text)
{
    if (text.isEmpty())
        return {};
    return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>").arg(text.toHtmlEscaped());
}

QPainterPath Vosk::roundedRect(const QRectF& rect, double radius)
{
    QPainterPath path;
    const double r = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
    path.addRoundedRect(rect, r, r);
    return path;
}
