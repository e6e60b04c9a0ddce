#include "platform/Numbers.h"

#include <QString>

#include <cmath>
#include <limits>

namespace Platform {

namespace {

// 2^63 is exactly representable as a double; every double below it and at or above -2^63 fits.
constexpr double twoToThe63 = 9223372036854775808.0;

std::optional<qint64> fitting(double whole)
{
    if (!std::isfinite(whole) || whole < -twoToThe63 || whole >= twoToThe63)
        return std::nullopt;
    return static_cast<qint64>(whole);
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

} // namespace

std::optional<qint64> roundedInt64(double value)
{
    return fitting(std::round(value));
}

std::optional<qint64> truncatedInt64(double value)
{
    return fitting(std::trunc(value));
}

std::optional<double> parseDecimal(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text[i]))
        ++i, ++digits;
    if (i < n && text[i] == u'.') {
        ++i;
        while (i < n && isDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        qsizetype exponentDigits = 0;
        while (i < n && isDigit(text[i]))
            ++i, ++exponentDigits;
        if (exponentDigits == 0)
            return std::nullopt;
    }
    if (i != n)
        return std::nullopt;

    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (!__builtin_add_overflow(a, b, &sum))
        return sum;
    return b > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
}

} // namespace Platform
