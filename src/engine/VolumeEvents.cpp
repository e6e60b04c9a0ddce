#include "engine/VolumeEvents.h"

#include "engine/Docker.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QJsonObject>

namespace Docker {

std::optional<QString> engineTime(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    const Platform::Capture said = capture({QStringLiteral("system"), QStringLiteral("info"),
                                            QStringLiteral("--format"), QStringLiteral("{{.SystemTime}}")},
                                           runtime, std::nullopt, limit);
    const QString time = said.out.trimmed();
    if (said.status != 0 || time.isEmpty())
        return std::nullopt;
    return time;
}

QStringList eventsQuery(const QString& since, const QString& until)
{
    return {QStringLiteral("events"),   QStringLiteral("--since"),   since, QStringLiteral("--until"), until,
            QStringLiteral("--format"), QStringLiteral("{{json .}}")};
}

std::optional<QMap<QString, QString>> parseVolumeEvents(const QString& text, const QStringList& names)
{
    const QList<QJsonObject> events = ndjson(text);
    // As many as the engine keeps: older ones may have gone before they were asked for.
    if (events.size() >= keptEvents)
        return std::nullopt;
    QMap<QString, QString> happened;
    for (const QJsonObject& event : events) {
        const QString action = str(event, QLatin1StringView("Action"));
        const QString name = str(event.value(QLatin1StringView("Actor")).toObject(), QLatin1StringView("ID"));
        if (str(event, QLatin1StringView("Type")) == u"volume" &&
            (action == u"create" || action == u"destroy") && names.contains(name))
            happened.insert(name, action);
    }
    return happened;
}

std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                   const std::optional<Runtime>& runtime,
                                                   std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    const std::optional<QString> now = engineTime(runtime, limit);
    if (!now)
        return std::nullopt;
    const Platform::Capture said =
        capture(eventsQuery(since, *now), runtime, std::nullopt, Platform::remaining(deadline));
    if (said.status != 0)
        return std::nullopt;
    return parseVolumeEvents(said.out, names);
}

} // namespace Docker
