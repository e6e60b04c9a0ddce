#include "toolchain/ServicesStatus.h"

#include "toolchain/KeyedRows.h"
#include "toolchain/Toolchain.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace Toolchain {

namespace {

// A JSON number as an integer of type T, its fraction dropped; absent when it is not a number or
// lies outside T's range.
template <typename T>
std::optional<T> truncated(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double d = std::trunc(value.toDouble());
    // The upper bound is exclusive: 2^63 itself does not fit a 64-bit integer.
    const double upper = std::ldexp(1.0, std::numeric_limits<T>::digits);
    const double lower = -upper;
    if (!(d >= lower && d < upper))
        return std::nullopt;
    return static_cast<T>(d);
}

// The same, for places where only a whole number is meant.
template <typename T>
std::optional<T> whole(const QJsonValue& value)
{
    if (!value.isDouble() || std::trunc(value.toDouble()) != value.toDouble())
        return std::nullopt;
    return truncated<T>(value);
}

} // namespace

QStringList systemStatusCommand()
{
    return {QStringLiteral("container"), QStringLiteral("system"), QStringLiteral("status")};
}

QStringList builderStatusCommand()
{
    return {QStringLiteral("container"), QStringLiteral("builder"), QStringLiteral("status"),
            QStringLiteral("--format"), QStringLiteral("json")};
}

QStringList engineListCommand()
{
    return {QStringLiteral("colima"), QStringLiteral("list"), QStringLiteral("--json")};
}

SystemStatus parseStatus(const QString& text)
{
    QHash<QString, QString> table;
    for (const auto& [key, values] : keyedRows(text))
        table.insert(key, values.join(QLatin1Char(' ')));

    SystemStatus status;
    const auto state = table.constFind(QStringLiteral("status"));
    status.running = state != table.cend() && state->toLower() == u"running";
    if (const auto client = table.constFind(QStringLiteral("client.version")); client != table.cend())
        status.clientVersion = *client;
    if (const auto server = table.constFind(QStringLiteral("server.version")); server != table.cend())
        status.serverVersion = *server;
    return status;
}

BuilderStatus parseBuilder(const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isArray() || document.array().isEmpty())
        return {};
    const QJsonArray builders = document.array();
    for (const QJsonValue& builder : builders) {
        if (!builder.isObject())
            return {};
    }

    const QJsonObject first = builders.first().toObject();
    BuilderStatus status;
    status.exists = true;
    const QJsonValue state = first.value(QLatin1String("status"));
    status.running = state.isObject() && state.toObject().value(QLatin1String("state")).isString() &&
                     state.toObject().value(QLatin1String("state")).toString() == u"running";
    const QJsonObject resources =
        first.value(QLatin1String("configuration")).toObject().value(QLatin1String("resources")).toObject();
    status.cpus = truncated<int>(resources.value(QLatin1String("cpus")));
    status.memoryBytes = truncated<qint64>(resources.value(QLatin1String("memoryInBytes")));
    return status;
}

EngineStatus parseEngine(const QString& text)
{
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
        if (!document.isObject())
            continue;
        const QJsonObject profile = document.object();
        const QJsonValue name = profile.value(QLatin1String("name"));
        if (!name.isString() || name.toString() != u"default")
            continue;
        EngineStatus status;
        const QJsonValue state = profile.value(QLatin1String("status"));
        status.running = state.isString() && state.toString() == u"Running";
        status.cpus = whole<int>(profile.value(QLatin1String("cpus")));
        status.memoryBytes = whole<qint64>(profile.value(QLatin1String("memory")));
        return status;
    }
    return {};
}

SystemStatus readSystemStatus()
{
    const Platform::Capture result = capture(systemStatusCommand());
    return parseStatus(result.out + QLatin1Char('\n') + result.err);
}

BuilderStatus readBuilderStatus()
{
    return parseBuilder(capture(builderStatusCommand()).out);
}

EngineStatus readEngineStatus()
{
    return parseEngine(capture(engineListCommand()).out);
}

} // namespace Toolchain
