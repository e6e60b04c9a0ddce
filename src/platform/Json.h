#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

// Reading the JSON that tools print. Nothing here fails on content: what does not have the expected
// shape gives nothing, so a parser built on these skips it.
namespace Platform {

// The text as one JSON object or array; undefined when it is not JSON.
QJsonValue parseJson(const QString& text);

// One JSON object per line, as tools print with "--format json"; a line that is not an object is
// skipped.
QList<QJsonObject> jsonObjectLines(const QString& text);

// The elements of an array that holds objects only; none for anything else, including an array
// with a single element of another kind, since such output is not the list it claims to be.
std::optional<QList<QJsonObject>> objectArray(const QJsonValue& value);

// A JSON number as a whole number: an integer exactly as written, another number with its fraction
// cut off; none when it is not a number or does not fit 64 bits.
std::optional<qint64> jsonInteger(const QJsonValue& value);

// The same for a number written without a fraction only: 2 and 2.0 give 2, 2.5 gives none.
std::optional<qint64> jsonWholeNumber(const QJsonValue& value);

} // namespace Platform
