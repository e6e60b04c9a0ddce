#include "platform/Json.h"

#include "platform/Numbers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QVariant>

#include <cmath>

namespace Platform {

QJsonValue parseJson(const QString& text)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
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
    qsizetype start = 0;
    while (start < utf8.size()) {
        qsizetype end = utf8.indexOf('\n', start);
        if (end < 0)
            end = utf8.size();
        if (end > start) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(utf8.mid(start, end - start), &error);
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
