#include "engine/VolumeEvents.h"

#include "engine/Docker.h"
#include "platform/TimedRunner.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QRegularExpression>

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

std::optional<qint64> engineNanos(const QString& time)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)(?:\.(\d{1,9}))?(Z|[+-]\d\d:\d\d)$)"));
    const QRegularExpressionMatch parts = form.match(time.trimmed());
    if (!parts.hasMatch())
        return std::nullopt;
    const QDateTime whole = QDateTime::fromString(parts.captured(1) + parts.captured(3), Qt::ISODate);
    if (!whole.isValid())
        return std::nullopt;
    return whole.toSecsSinceEpoch() * 1'000'000'000 + parts.captured(2).leftJustified(9, u'0').toLongLong();
}

QStringList eventsQuery(const QString& since, const QString& until, const QStringList& names)
{
    QStringList args{QStringLiteral("events"),
                     QStringLiteral("--since"),
                     since,
                     QStringLiteral("--until"),
                     until,
                     QStringLiteral("--filter"),
                     QStringLiteral("type=volume"),
                     QStringLiteral("--filter"),
                     QStringLiteral("event=create"),
                     QStringLiteral("--filter"),
                     QStringLiteral("event=destroy")};
    for (const QString& name : names)
        args << QStringLiteral("--filter") << QStringLiteral("volume=") + name;
    return args << QStringLiteral("--format") << QStringLiteral("{{json .}}");
}

QStringList keptEventsQuery(const QString& until)
{
    // From the first second of the epoch: every event still kept.
    return {QStringLiteral("events"),
            QStringLiteral("--since"),
            QStringLiteral("1"),
            QStringLiteral("--until"),
            until,
            QStringLiteral("--format"),
            QStringLiteral("{{.TimeNano}}")};
}

QMap<QString, QString> parseVolumeEvents(const QString& text, const QStringList& names)
{
    QMap<QString, QString> happened;
    for (const QJsonObject& event : ndjson(text)) {
        const QString action = str(event, QLatin1StringView("Action"));
        const QString name = str(event.value(QLatin1StringView("Actor")).toObject(), QLatin1StringView("ID"));
        if (str(event, QLatin1StringView("Type")) == u"volume" &&
            (action == u"create" || action == u"destroy") && names.contains(name))
            happened.insert(name, action);
    }
    return happened;
}

bool keptSince(const QString& printed, const QString& since)
{
    constexpr qint64 second = 1'000'000'000;
    const std::optional<qint64> from = engineNanos(since);
    if (!from)
        return false;
    for (const QStringView line : QStringView(printed).split(u'\n', Qt::SkipEmptyParts)) {
        bool number = false;
        const qint64 stamped = line.trimmed().toLongLong(&number);
        if (number && stamped > 0 && stamped <= *from - second)
            return true;
    }
    return false;
}

std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                   const std::optional<Runtime>& runtime,
                                                   std::chrono::milliseconds limit)
{
    if (names.isEmpty())
        return QMap<QString, QString>();
    const QDeadlineTimer deadline(limit);
    const std::optional<QString> now = engineTime(runtime, limit);
    if (!now)
        return std::nullopt;
    const Platform::Capture said =
        capture(eventsQuery(since, *now, names), runtime, std::nullopt, Platform::remaining(deadline));
    if (said.status != 0)
        return std::nullopt;
    // Asked after the events were read: an event let go before then is older than every one still
    // kept now, so one kept from before `since` shows that none of that time was let go.
    const Platform::Capture kept =
        capture(keptEventsQuery(since), runtime, std::nullopt, Platform::remaining(deadline));
    if (kept.status != 0 || !keptSince(kept.out, since))
        return std::nullopt;
    return parseVolumeEvents(said.out, names);
}

} // namespace Docker
