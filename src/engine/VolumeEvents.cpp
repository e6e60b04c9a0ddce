#include "engine/VolumeEvents.h"

#include "engine/Docker.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QJsonObject>

namespace Docker {

std::optional<QString> engineTime(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(process({QStringLiteral("system"), QStringLiteral("info"),
                                    QStringLiteral("--format"), QStringLiteral("{{.SystemTime}}")},
                                   runtime),
                           limit);
    if (done.timedOut || !done.succeeded())
        return std::nullopt;
    const QString time = Platform::decodeUtf8Strict(done.run.out).trimmed();
    return time.isEmpty() ? std::nullopt : std::optional<QString>(time);
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
    const Platform::TimedCompletion done =
        Platform::runTimed(process(eventsQuery(since, *now), runtime), Platform::remaining(deadline));
    if (done.timedOut || !done.succeeded())
        return std::nullopt;
    return parseVolumeEvents(Platform::decodeUtf8Strict(done.run.out), names);
}

} // namespace Docker
