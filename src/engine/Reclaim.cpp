#include "engine/Reclaim.h"

#include "engine/Docker.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QSet>

#include <algorithm>

namespace {

QString inspectBuilds(const QStringList& refs, const std::optional<Runtime>& runtime,
                      const QDeadlineTimer& deadline)
{
    QStringList args{QStringLiteral("image"), QStringLiteral("inspect")};
    args << refs << QStringLiteral("--format")
         << QStringLiteral(R"({{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}})");
    const Platform::TimedCompletion done =
        Platform::runTimed(Docker::process(args, runtime),
                           std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0)));
    if (done.timedOut)
        throw Docker::TimedOut(Docker::notAnswering(runtime));
    return Platform::decodeUtf8Strict(done.run.out);
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

} // namespace Docker
