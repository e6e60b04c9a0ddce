#include "engine/Reclaim.h"

#include "engine/Docker.h"
#include "platform/Json.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace {

// `docker <args>` within what is left of `deadline`; Docker::TimedOut with notAnswering(runtime) when
// that passes first.
Platform::Completed within(const QStringList& args, const std::optional<Runtime>& runtime,
                           const QDeadlineTimer& deadline)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(Docker::process(args, runtime), Platform::remaining(deadline));
    if (done.timedOut)
        throw Docker::TimedOut(Docker::notAnswering(runtime));
    return done.run;
}

QString inspectBuilds(const QStringList& refs, const std::optional<Runtime>& runtime,
                      const QDeadlineTimer& deadline)
{
    QStringList args{QStringLiteral("image"), QStringLiteral("inspect")};
    args << refs << QStringLiteral("--format")
         << QStringLiteral(R"({{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}})");
    return Platform::decodeUtf8Strict(within(args, runtime, deadline).out);
}

// The engine's own clock; none when it does not say. Volumes are dated by it, not by this machine's.
std::optional<QDateTime> engineClock(const std::optional<Runtime>& runtime, const QDeadlineTimer& deadline)
{
    const Platform::Completed said = within({QStringLiteral("system"), QStringLiteral("info"),
                                             QStringLiteral("--format"), QStringLiteral("{{.SystemTime}}")},
                                            runtime, deadline);
    if (!said.succeeded())
        return std::nullopt;
    const QDateTime clock =
        QDateTime::fromString(Platform::decodeUtf8Strict(said.out).trimmed(), Qt::ISODateWithMs);
    return clock.isValid() ? std::optional<QDateTime>(clock) : std::nullopt;
}

QMap<QString, QString> inspectCreation(const QStringList& names, const std::optional<Runtime>& runtime,
                                       const QDeadlineTimer& deadline)
{
    // A volume gone since it was listed makes the client fail, but the others are still printed.
    return Docker::parseVolumeCreation(
        Platform::decodeUtf8Strict(within(Docker::volumeInspectQuery(names), runtime, deadline).out));
}

} // namespace

namespace Docker {

LocalBuilds localBuilds(const QStringList& refs, const std::optional<Runtime>& runtime,
                        std::chrono::milliseconds limit)
{
    if (refs.isEmpty())
        return {};
    const QDeadlineTimer deadline(std::max<qint64>(limit.count(), 0));
    const QString out = inspectBuilds(refs, runtime, deadline);
    const qsizetype lines = out.split(u'\n', Qt::SkipEmptyParts).size();
    if (lines == 0 || lines >= refs.size())
        return parseLocalBuilds(refs, out);
    // An image removed since it was listed leaves one line fewer, and the rest no longer pair with
    // their refs. Asked one by one, the others are still told apart, so a local build is never
    // offered as something a pull brings back.
    LocalBuilds builds;
    for (const QString& ref : refs)
        builds.insert(parseLocalBuilds({ref}, inspectBuilds({ref}, runtime, deadline)));
    return builds;
}

LocalBuilds parseLocalBuilds(const QStringList& refs, const QString& out)
{
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    if (lines.size() != refs.size())
        return {};
    LocalBuilds builds;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringList pieces = lines[i].split(u'|');
        if (pieces.size() != 2)
            continue;
        // The template engine's placeholder for a label the image does not carry.
        const QString project = pieces[0] == u"<no value>" ? QString() : pieces[0];
        // A compose label means compose built it; no repository digest means it was never pulled or pushed.
        if (!project.isEmpty() || pieces[1] == u"0")
            builds.insert(refs[i], project);
    }
    return builds;
}

QList<Reclaimable> marking(const QList<Reclaimable>& items, const LocalBuilds& localBuilds)
{
    QList<Reclaimable> marked = items;
    for (Reclaimable& item : marked) {
        if (item.kind != Reclaimable::Kind::Image)
            continue;
        const auto build = localBuilds.constFind(item.ref);
        if (build == localBuilds.cend())
            continue;
        item.note = QStringLiteral("built here");
        item.recovery = Reclaimable::Recovery::NeedsSource;
        item.project = build.value().isEmpty() ? std::nullopt : std::optional<QString>(build.value());
    }
    return marked;
}

std::optional<QString> reclaimWarning(const QList<Reclaimable>& items)
{
    qsizetype gone = 0;
    qsizetype needSource = 0;
    for (const Reclaimable& item : items) {
        if (item.recovery == Reclaimable::Recovery::Gone)
            ++gone;
        else if (item.recovery == Reclaimable::Recovery::NeedsSource)
            ++needSource;
    }
    QStringList parts;
    if (gone > 0)
        parts << QStringLiteral("%1 cannot come back").arg(gone);
    if (needSource == 1)
        parts << QStringLiteral("1 needs its source");
    else if (needSource > 1)
        parts << QStringLiteral("%1 need their source").arg(needSource);
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(partSeparator);
}

QList<QStringList> reclaimCommands(const QList<Reclaimable>& items)
{
    QStringList containers{QStringLiteral("rm")};
    QStringList volumes{QStringLiteral("volume"), QStringLiteral("rm")};
    QStringList images{QStringLiteral("rmi")};
    bool buildCache = false;
    QSet<QString> taken; // removing one thing twice fails on what the first removal took away
    for (const Reclaimable& item : items) {
        // Engines never name anything with a leading dash; from a confused report it would read as an
        // option (a stray "-f" would force the removal of running containers).
        if (item.ref.startsWith(u'-'))
            continue;
        const QString key = Reclaimable::rawValue(item.kind) + u'/' + item.ref;
        if (taken.contains(key))
            continue;
        taken.insert(key);
        switch (item.kind) {
        case Reclaimable::Kind::Container:
            containers << item.ref;
            break;
        case Reclaimable::Kind::Volume:
            volumes << item.ref;
            break;
        case Reclaimable::Kind::Image:
            images << item.ref;
            break;
        case Reclaimable::Kind::BuildCache:
            buildCache = true;
            break;
        }
    }
    QList<QStringList> commands;
    if (containers.size() > 1)
        commands << containers;
    if (volumes.size() > 2)
        commands << volumes;
    if (images.size() > 1)
        commands << images;
    if (buildCache)
        commands << QStringList{QStringLiteral("builder"), QStringLiteral("prune"), QStringLiteral("-f")};
    return commands;
}

QStringList imageIdQuery(const QString& ref)
{
    return {QStringLiteral("image"),   QStringLiteral("inspect"), QStringLiteral("--format"),
            QStringLiteral("{{.Id}}"), QStringLiteral("--"),      ref};
}

QString movedTagMessage(const QString& tag)
{
    return tag + QStringLiteral(" now names another image; not removed.");
}

QStringList volumeInspectQuery(const QStringList& names)
{
    return QStringList{QStringLiteral("volume"), QStringLiteral("inspect"), QStringLiteral("--")} + names;
}

QMap<QString, QString> parseVolumeCreation(const QString& json)
{
    QMap<QString, QString> created;
    for (const QJsonObject& volume :
         Platform::objectArray(Platform::parseJson(json)).value_or(QList<QJsonObject>())) {
        const QString name = str(volume, QLatin1StringView("Name"));
        if (!name.isEmpty())
            created.insert(name, str(volume, QLatin1StringView("CreatedAt")));
    }
    return created;
}

std::optional<std::chrono::milliseconds> sameSecondLeft(const QString& createdAt, const QDateTime& clock)
{
    const QDateTime made = QDateTime::fromString(createdAt.trimmed(), Qt::ISODateWithMs);
    if (!made.isValid() || !clock.isValid())
        return std::nullopt;
    const qint64 madeMs = made.toMSecsSinceEpoch();
    const qint64 second = madeMs >= 0 ? madeMs / 1000 : (madeMs - 999) / 1000;
    return std::chrono::milliseconds(std::max<qint64>(0, (second + 1) * 1000 - clock.toMSecsSinceEpoch()));
}

QMap<QString, QString> volumeCreation(const QStringList& names, const std::optional<Runtime>& runtime,
                                      std::chrono::milliseconds limit)
{
    if (names.isEmpty())
        return {};
    const QDeadlineTimer deadline(std::max<qint64>(limit.count(), 0));
    const std::optional<QDateTime> clock = engineClock(runtime, deadline);
    QElapsedTimer sinceClock;
    sinceClock.start();
    QMap<QString, QString> created = inspectCreation(names, runtime, deadline);
    // Without the engine's time, or with times that do not read, the times are compared as printed.
    if (!clock)
        return created;

    QStringList young;
    qint64 longest = 0;
    for (auto volume = created.cbegin(); volume != created.cend(); ++volume) {
        const std::optional<std::chrono::milliseconds> left = sameSecondLeft(volume.value(), *clock);
        if (left && left->count() > 0) {
            young << volume.key();
            longest = std::max<qint64>(longest, left->count());
        }
    }
    if (young.isEmpty())
        return created;
    // A volume made in the second the look began could be made again within that second and print the
    // same time. Once the engine's clock is past that second, what is there now can be told apart from
    // anything made later. The wait is at most a second beyond the looks themselves.
    constexpr qint64 margin = 20;
    constexpr qint64 longestWait = 1500;
    if (const qint64 wait = longest - sinceClock.elapsed(); wait > 0)
        QThread::msleep(static_cast<unsigned long>(
            std::clamp<qint64>(std::min(wait + margin, longestWait), 0, deadline.remainingTime())));
    const qint64 lookedAfter = sinceClock.elapsed();
    const QMap<QString, QString> again = inspectCreation(young, runtime, deadline);
    for (const QString& name : std::as_const(young)) {
        const std::optional<std::chrono::milliseconds> left = sameSecondLeft(created.value(name), *clock);
        if (again.value(name) != created.value(name) || !left || left->count() > lookedAfter)
            created.remove(name);
    }
    return created;
}

QList<Reclaimable> withCreation(const QList<Reclaimable>& items, const QMap<QString, QString>& createdAt)
{
    QList<Reclaimable> dated;
    for (Reclaimable item : items) {
        if (item.kind == Reclaimable::Kind::Volume) {
            const auto created = createdAt.constFind(item.ref);
            if (created == createdAt.cend())
                continue;
            item.createdAt = created.value();
        }
        dated << item;
    }
    return dated;
}

QString madeAgainMessage(const QString& name)
{
    return name + QStringLiteral(" was made again since it was measured; not removed.");
}

} // namespace Docker
