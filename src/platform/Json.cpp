#include "platform/Json.h"

#include "platform/Numbers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QVariant>

#include <cmath>

namespace {

const QByteArray byteOrderMark("\xEF\xBB\xBF");

// Qt's reader drops a byte order mark that begins a string, so the name "\uFEFFweb" would read as
// "web", another container's name. Written as an escape it stays, as JSON means it to. A mark that
// begins the document is the reader's to skip, as before.
QByteArray keepingByteOrderMarks(QByteArrayView json)
{
    const bool leading = json.startsWith(byteOrderMark);
    QByteArray rest = json.sliced(leading ? byteOrderMark.size() : 0).toByteArray();
    rest.replace(byteOrderMark, QByteArrayLiteral("\\ufeff"));
    return leading ? byteOrderMark + rest : rest;
}

// Looks for the mark's lead byte alone first: that search is several times faster than one for
// the whole sequence, and the byte is rare in what the tools print.
bool holdsByteOrderMark(QByteArrayView bytes)
{
    for (qsizetype at = bytes.indexOf('\xEF'); at >= 0; at = bytes.indexOf('\xEF', at + 1))
        if (bytes.sliced(at).startsWith(byteOrderMark))
            return true;
    return false;
}

QJsonDocument readJson(const QByteArray& json, bool mayHoldMarks, QJsonParseError* error)
{
    if (mayHoldMarks && holdsByteOrderMark(json))
        return QJsonDocument::fromJson(keepingByteOrderMarks(json), error);
    return QJsonDocument::fromJson(json, error);
}

} // namespace

namespace Platform {

QJsonValue parseJson(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument doc = readJson(text.toUtf8(), true, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Undefined);
    if (doc.isObject())
        return doc.object();
    if (doc.isArray())
        return doc.array();
    return QJsonValue(QJsonValue::Undefined);
}

QList<QJsonObject> jsonObjectLines(const QString& text)
{
    QList<QJsonObject> objects;
    const QByteArray utf8 = text.toUtf8();
    const bool mayHoldMarks = holdsByteOrderMark(utf8);
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = utf8.indexOf('\n', start);
        if (end < 0)
            end = utf8.size();
        if (end > start) {
            QJsonParseError error;
            const QJsonDocument doc = readJson(utf8.mid(start, end - start), mayHoldMarks, &error);
            if (error.error == QJsonParseError::NoError && doc.isObject())
                objects.append(doc.object());
        }
        start = end + 1;
    }
    return objects;
}

std::optional<QList<QJsonObject>> objectArray(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QList<QJsonObject> objects;
    const QJsonArray array = value.toArray();
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return std::nullopt;
        objects << element.toObject();
    }
    return objects;
}

std::optional<qint64> jsonInteger(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    // Integers beyond 2^53 are kept as written; only other numbers go through a double.
    const QVariant exact = value.toVariant();
    if (exact.typeId() == QMetaType::LongLong)
        return exact.toLongLong();
    return truncatedInt64(value.toDouble());
}

std::optional<qint64> jsonWholeNumber(const QJsonValue& value)
{
    const double number = value.toDouble();
    if (value.isDouble() && std::trunc(number) != number)
        return std::nullopt;
    return jsonInteger(value);
}

} // namespace Platform
