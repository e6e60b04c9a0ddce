#include "engine/Teardown.h"

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Docker.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

size_t qHash(const VolumeUse& use, size_t seed) noexcept
{
    return qHashMulti(seed, use.name, use.usedBy, use.size.has_value(), use.size.value_or(QString()), use.holds);
}

QStringList VolumeUse::heldSaying() const
{
    if (!holds.isEmpty())
        return holds;
    return usedBy.isEmpty() ? QStringList() : QStringList{QStringLiteral("used by ") + usedBy.join(QStringLiteral(", "))};
}

QList<VolumeUse> TeardownPlan::removable() const
{
    QList<VolumeUse> out;
    for (const VolumeUse& volume : volumes)
        if (volume.usedBy.isEmpty())
            out << volume;
    return out;
}

QList<VolumeUse> TeardownPlan::kept() const
{
    QList<VolumeUse> out;
    for (const VolumeUse& volume : volumes)
        if (!volume.usedBy.isEmpty())
            out << volume;
    return out;
}

namespace Docker {

QStringList existingContainersArgs()
{
    return {QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("--no-trunc"),
            QStringLiteral("--format"), QStringLiteral(R"({"ID":{{json .ID}},"Names":{{json .Names}}})")};
}

MountMap volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime)
{
    return volumeMounts(ids, runtime, listingLimit, nullptr).value_or(MountMap());
}

namespace {

// One inspect of the mounts of `ids`: what it printed, and whether it succeeded; none when it ran out of
// time or was cancelled.
std::optional<std::pair<MountMap, bool>> inspectMounts(const QStringList& ids,
                                                       const std::optional<Runtime>& runtime,
                                                       std::chrono::milliseconds limit,
                                                       const Platform::Cancellation* cancel)
{
    QStringList args{QStringLiteral("inspect")};
    args << ids << QStringLiteral("--format")
         << QStringLiteral(R"({{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}})");
    const Platform::TimedCompletion done =
        Platform::runTimed(process(args, runtime), limit, std::chrono::seconds(2), cancel);
    if (done.timedOut || done.cancelled)
        return std::nullopt;
    return std::pair{parseMounts(Platform::decodeUtf8Strict(done.run.out)), done.succeeded()};
}

} // namespace

std::optional<MountMap> volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime,
                                     std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    if (ids.isEmpty())
        return MountMap();
    const QDeadlineTimer deadline(limit);
    const std::optional<std::pair<MountMap, bool>> asked = inspectMounts(ids, runtime, limit, cancel);
    if (!asked)
        return std::nullopt;
    MountMap mounts = asked->first;
    if (asked->second)
        return mounts;
    // Ids that vanished since they were listed make the client fail while it still prints the others,
    // but so does an engine that failed half way. The answer stands only when every asked container
    // that exists now has its line; a container the listing cannot rule out is unknown, and then so
    // are the users of every volume.
    QList<QJsonObject> now;
    try {
        const std::chrono::milliseconds left = Platform::remaining(deadline);
        now = ndjson(run(existingContainersArgs(), runtime, std::nullopt, left, cancel));
    } catch (...) {
        return std::nullopt;
    }
    QStringList missing;
    for (const QJsonObject& container : std::as_const(now)) {
        const QString id = str(container, QLatin1StringView("ID"));
        const QString name = str(container, QLatin1StringView("Names")).section(u',', 0, 0);
        const bool wanted = std::any_of(ids.cbegin(), ids.cend(), [&](const QString& given) {
            return given == name || (!given.isEmpty() && !id.isEmpty() && id.startsWith(given));
        });
        if (wanted && !mounts.contains(name))
            missing << name;
    }
    if (missing.isEmpty())
        return mounts;
    // A container made again under its name between the inspect and the listing (compose recreating a
    // service) was gone for the one and there for the other: those are asked once more, alone.
    const std::optional<std::pair<MountMap, bool>> again =
        inspectMounts(missing, runtime, Platform::remaining(deadline), cancel);
    if (!again || !again->second)
        return std::nullopt;
    for (const QString& name : std::as_const(missing)) {
        if (!again->first.contains(name))
            return std::nullopt;
        mounts.insert(name, again->first.value(name));
    }
    return mounts;
}

MountMap parseMounts(const QString& text)
{
    MountMap mounts;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype bar = line.indexOf(u'|');
        QStringView name = bar < 0 ? line : line.left(bar);
        while (!name.isEmpty() && (name.front() == u'/' || name.front() == u' '))
            name = name.mid(1);
        while (!name.isEmpty() && (name.back() == u'/' || name.back() == u' '))
            name.chop(1);
        if (name.isEmpty())
            continue;
        QStringList volumes;
        if (bar >= 0)
            for (const QStringView volume : line.mid(bar + 1).split(u',', Qt::SkipEmptyParts))
                volumes << volume.toString();
        mounts.insert(name.toString(), volumes);
    }
    return mounts;
}

namespace {

// The plan of the containers and volumes; the folder is for the caller to decide.
TeardownPlan planOf(const ComposeProject& project, const QList<Container>& allContainers,
                    const MountMap& mounts, const QStringList& declaredVolumes,
                    const QMap<QString, QString>& sizes, const QStringList& externalVolumes)
{
    QStringList names;
    for (const Container& container : project.containers)
        names << container.name;
    const QSet<QString> inProject(names.cbegin(), names.cend());
    // Someone else's volume that the project merely borrows: deleting the project must never take it.
    const QSet<QString> external(externalVolumes.cbegin(), externalVolumes.cend());

    QStringList volumeNames;
    const auto take = [&](const QString& volume) {
        if (!external.contains(volume) && !volumeNames.contains(volume))
            volumeNames << volume;
    };
    for (const QString& name : std::as_const(names))
        for (const QString& volume : mounts.value(name))
            take(volume);
    for (const QString& volume : declaredVolumes)
        take(volume);
    std::sort(volumeNames.begin(), volumeNames.end());

    TeardownPlan plan{project.name, names, {}, std::nullopt};
    for (const Container& container : project.containers)
        plan.containerIds << container.id;
    for (const QString& volume : std::as_const(volumeNames)) {
        QStringList usedBy;
        for (const Container& container : allContainers)
            if (!inProject.contains(container.name) && mounts.value(container.name).contains(volume))
                usedBy << container.name;
        std::sort(usedBy.begin(), usedBy.end());
        std::optional<QString> size;
        if (const auto it = sizes.constFind(volume); it != sizes.cend())
            size = it.value();
        QStringList holds;
        for (const QString& container : std::as_const(usedBy))
            holds << QStringLiteral("container %1 mounts it").arg(container);
        plan.volumes << VolumeUse{volume, usedBy, size, holds};
    }
    return plan;
}

} // namespace

TeardownPlan plan(const ComposeProject& project, const QList<Container>& allContainers,
                  const MountMap& mounts, const QStringList& declaredVolumes,
                  const QMap<QString, QString>& sizes, const QStringList& externalVolumes)
{
    TeardownPlan planned = planOf(project, allContainers, mounts, declaredVolumes, sizes, externalVolumes);
    // A folder only: a label naming a file must not offer that file for the Trash.
    if (project.workingDir && namesExactly(*project.workingDir) && QFileInfo(*project.workingDir).isDir())
        planned.workingDir = project.workingDir;
    return planned;
}

namespace {

// The plan's folder named as itself rather than through a link (`own`, every link resolved): moving
// the link would leave the files where they are. The bind mounts in it follow.
void nameByItsOwn(TeardownPlan& plan, const QString& own)
{
    const QString named = *plan.workingDir;
    const QString clean = QDir::cleanPath(named);
    if (own.isEmpty() || own == clean)
        return;
    const QString inside = clean + u'/';
    for (QString& bind : plan.folderBinds) {
        if (QDir::cleanPath(bind) == clean)
            bind = own;
        else if (bind.startsWith(inside))
            bind = own + u'/' + bind.mid(inside.size());
    }
    std::sort(plan.folderBinds.begin(), plan.folderBinds.end());
    plan.folderLink = named;
    plan.workingDir = own;
}

} // namespace

TeardownPlan planFrom(ComposeProject project, const QList<Container>& allContainers,
                      const PlanReadings& readings, const QMap<QString, QString>& sizes)
{
    QStringList notes;
    const MountMap mounts = readings.mounts.value_or(MountMap());
    // Without the mounts nothing tells whether a container elsewhere uses a volume, so none may be
    // shown as free of other users, nor removed.
    if (!readings.mounts)
        notes << QStringLiteral(
                     "The engine did not say which volumes the containers mount (it failed, or did not "
                     "answer within %1 seconds), so other users of the project's volumes could not be "
                     "checked and no volume is planned for removal.")
                     .arg(listingLimit.count());
    if (readings.configTimedOut)
        notes << composeTimeoutMessage(listingLimit) +
                     QStringLiteral(" Volumes it declares that no container mounts are not planned.");
    // Several folders are several checkouts of one project name: none of them is the project's alone.
    if (const QStringList folders = project.containerFolders(); folders.size() > 1) {
        project.workingDir.reset();
        notes << QStringLiteral(
                     "The project's containers were started from different folders (%1), so none is "
                     "offered for the Trash.")
                     .arg(folders.join(QStringLiteral(", ")));
    } else if (project.workingDir && !namesExactly(*project.workingDir)) {
        notes << inexactNameMessage(*project.workingDir) +
                     QStringLiteral(" It is not offered for the Trash.");
        project.workingDir.reset();
    }
    const QStringList declared = readings.config ? readings.config->volumes : QStringList();
    const QString projectKey = QString::fromLatin1(projectLabel);
    QSet<QString> own;
    // A volume without the label is nobody's, also for a project whose name is empty.
    for (const DockerVolume& volume : readings.listed)
        if (const auto label = volume.labels.constFind(projectKey);
            label != volume.labels.cend() && *label == project.name)
            own.insert(volume.name);
    // What the file declares external stays even when compose once made it for this project.
    QStringList notOwn = readings.config ? readings.config->externalVolumes : QStringList();
    const auto leaveOut = [&](const QString& volume) {
        if (!own.contains(volume) && !notOwn.contains(volume))
            notOwn << volume;
    };
    for (const Container& container : std::as_const(project.containers))
        for (const QString& volume : mounts.value(container.name))
            leaveOut(volume);
    for (const QString& volume : declared)
        leaveOut(volume);

    TeardownPlan planned = planOf(project, allContainers, mounts, declared, sizes, notOwn);
    if (!readings.mounts)
        planned.volumes.clear();
    // A volume another project's files name is that project's too, running or not: it would find its
    // data gone when it is brought up again.
    for (VolumeUse& volume : planned.volumes) {
        const auto hold = [&volume](const QString& who, const QString& how) {
            if (!volume.usedBy.contains(who))
                volume.usedBy << who;
            if (!volume.holds.contains(how))
                volume.holds << how;
        };
        for (const QString& project : readings.namedElsewhere.value(volume.name))
            hold(project, project + QStringLiteral(" names it in its compose files"));
        for (qsizetype i = 0; i < readings.heldByUnknown.size(); ++i)
            hold(readings.heldByUnknown[i], readings.unknownWhy.value(i, readings.heldByUnknown[i] +
                                                                             QStringLiteral(" cannot be read")));
        for (const VolumeHold& held : readings.heldBy.value(volume.name))
            hold(held.who, held.how);
        std::sort(volume.usedBy.begin(), volume.usedBy.end());
    }
    for (const VolumeUse& volume : std::as_const(planned.volumes))
        if (const auto made = readings.created.constFind(volume.name); made != readings.created.cend())
            planned.volumesMade.insert(volume.name, *made);
    // Only a folder found to be the project's alone goes to the Trash; what keeps the others says why.
    // It was looked at by a look server when it was judged (TrashOffer): this process looks at no
    // folder itself, and one that is not there got neither an identity nor a refusal.
    if (project.workingDir && readings.trash && readings.trash->identity) {
        planned.workingDir = project.workingDir;
        planned.folder = readings.trash->identity;
        planned.folderBinds = readings.trash->ownBinds;
        for (const QString& note : readings.trash->notes)
            if (!planned.trashNotes.contains(note))
                planned.trashNotes << note;
        nameByItsOwn(planned, readings.trash->folder);
    } else if (project.workingDir && readings.trash && readings.trash->refusal) {
        notes << Platform::notOfferedMessage(*project.workingDir, *readings.trash->refusal);
    }
    // Said once: the folder kept for the same reason says it already.
    if (!planned.volumes.isEmpty())
        for (const QString& why : readings.unknownWhy)
            if (std::none_of(notes.cbegin(), notes.cend(), [&](const QString& note) { return note.contains(why); }))
                notes << why.left(1).toUpper() + why.mid(1) + QStringLiteral(". The project's volumes are kept.");
    planned.notes = notes;
    return planned;
}

} // namespace Docker
