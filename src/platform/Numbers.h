#pragma once

#include <QStringView>
#include <QtGlobal>

#include <optional>

// Numbers that come from outside (tool output, JSON) go through these before they become integers,
// so NaN, infinities and values beyond 64 bits give an absent value instead of undefined behaviour.
namespace Platform {

// The nearest whole number, halves away from zero; none when not finite or outside qint64.
std::optional<qint64> roundedInt64(double value);

// The whole part, the fraction cut off; none when not finite or outside qint64.
std::optional<qint64> truncatedInt64(double value);

// A plain decimal number: an optional sign, digits with an optional fraction, an optional exponent.
// Blanks, "inf", "nan" and hexadecimal forms are refused, so a finite text never reads as something else.
// A value too large for a double is refused as well.
std::optional<double> parseDecimal(QStringView text);

// a + b, held at the ends of the range instead of overflowing.
qint64 saturatingAdd(qint64 a, qint64 b);

} // namespace Platform
