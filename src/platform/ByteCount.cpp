#include "platform/ByteCount.h"

#include <array>
#include <cmath>

namespace Platform {

namespace {

constexpr std::array<const char*, 7> units{"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};

int fractionDigits(std::size_t unit)
{
    return unit <= 1 ? 0 : unit == 2 ? 1 : 2;
}

// "1234567" -> "1,234,567"; the integer part only.
QString grouped(const QString& digits)
{
    QString out;
    const qsizetype n = digits.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += u',';
        out += digits.at(i);
    }
    return out;
}

// The value rounded to `digits` fraction digits, halves away from zero, without trailing zeros.
QString number(long double value, int digits)
{
    const long double scale = std::pow(10.0L, digits);
    const long double rounded = std::round(value * scale) / scale;
    QString text = QString::number(double(rounded), 'f', digits);
    if (text.contains(u'.')) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u'.'))
            text.chop(1);
    }
    const qsizetype dot = text.indexOf(u'.');
    const QString whole = dot < 0 ? text : text.left(dot);
    return grouped(whole) + (dot < 0 ? QString() : text.mid(dot));
}

} // namespace

QString byteCount(qint64 bytes, ByteCountStyle style)
{
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const bool negative = bytes < 0;
    // The magnitude of the most negative value does not fit a qint64; it does fit here.
    const long double magnitude =
        negative ? -static_cast<long double>(bytes) : static_cast<long double>(bytes);
    const QString sign = negative ? QStringLiteral("-") : QString();

    const long double base = style == ByteCountStyle::File ? 1000.0L : 1024.0L;
    std::size_t unit = 0;
    long double value = magnitude;
    while (unit + 1 < units.size() && value >= base) {
        value /= base;
        ++unit;
    }
    // Rounding may reach the next unit ("1000 KB" reads as "1 MB").
    const long double scale = std::pow(10.0L, fractionDigits(unit));
    if (unit > 0 && unit + 1 < units.size() && std::round(value * scale) / scale >= base) {
        value /= base;
        ++unit;
    }

    if (unit == 0)
        return sign + number(value, 0) +
               (magnitude == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    return sign + number(value, fractionDigits(unit)) + u' ' + QString::fromLatin1(units[unit]);
}

} // namespace Platform
