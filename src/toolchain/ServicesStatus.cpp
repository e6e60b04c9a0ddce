#include "toolchain/ServicesStatus.h"

#include "platform/Json.h"
#include "toolchain/KeyedRows.h"
#include "toolchain/Toolchain.h"

#include <QHash>

#include <limits>

namespace Toolchain {

namespace {

// A processor count that does not fit an int is nonsense and left out rather than wrapped.
std::optional<int> processorCount(std::optional<qint64> count)
{
    if (!count || *count < std::numeric_limits<int>::min() || *count > std::numeric_limits<int>::max())
        return std::nullopt;
    return int(*count);
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
    const std::optional<QList<QJsonObject>> builders = Platform::objectArray(Platform::parseJson(text));
    if (!builders || builders->isEmpty())
        return {};

    const QJsonObject& first = builders->first();
    BuilderStatus status;
    status.exists = true;
    const QJsonValue state = first.value(QLatin1String("status"));
    status.running = state.isObject() && state.toObject().value(QLatin1String("state")).isString() &&
                     state.toObject().value(QLatin1String("state")).toString() == u"running";
    const QJsonObject resources =
        first.value(QLatin1String("configuration")).toObject().value(QLatin1String("resources")).toObject();
    status.cpus = processorCount(Platform::jsonInteger(resources.value(QLatin1String("cpus"))));
    status.memoryBytes = Platform::jsonInteger(resources.value(QLatin1String("memoryInBytes")));
    return status;
}

EngineStatus parseEngine(const QString& text)
{
    for (const QJsonObject& profile : Platform::jsonObjectLines(text)) {
        const QJsonValue name = profile.value(QLatin1String("name"));
        if (!name.isString() || name.toString() != u"default")
            continue;
        EngineStatus status;
        const QJsonValue state = profile.value(QLatin1String("status"));
        status.running = state.isString() && state.toString() == u"Running";
        status.cpus = processorCount(Platform::jsonWholeNumber(profile.value(QLatin1String("cpus"))));
        status.memoryBytes = Platform::jsonWholeNumber(profile.value(QLatin1String("memory")));
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
