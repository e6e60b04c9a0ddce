#include "store/VolumeWeighing.h"

#include "engine/Docker.h"
#include "engine/FolderUsers.h"
#include "platform/MountTable.h"
#include "store/KernelUsers.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QSet>

namespace {

QString runtimeName(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() : QStringLiteral("the current runtime");
}

// The projects of containers on the engine whose compose files no reading can be made of: a label that
// may be split in too many places, or none at all beside the project's name. Any volume may be theirs.
QList<VolumeHold> unreadableProjects(const Users& users, const QSet<QString>& own)
{
    QList<VolumeHold> holds;
    QSet<QString> seen;
    for (const Container& container : users.containers) {
        const std::optional<QString> project = container.project();
        if (own.contains(container.id) || !project || !users.ownEngine.contains(container.runtime))
            continue;
        const QString files = container.labels.value(QString::fromLatin1(Docker::configFilesLabel));
        const QString envFiles = container.labels.value(QString::fromLatin1(Docker::environmentFileLabel));
        const std::optional<QStringList> named = Docker::possibleFiles(files);
        const bool readable =
            named && Docker::possibleFiles(envFiles) && (container.workingDir() || !named->isEmpty());
        const QString who = project->isEmpty() ? QStringLiteral("container ") + container.name
                                               : QStringLiteral("project ") + *project;
        if (readable || seen.contains(who))
            continue;
        seen.insert(who);
        holds << VolumeHold{who, QStringLiteral("%1 may name it: its containers do not say which compose "
                                                "files it was started from")
                                     .arg(who)};
    }
    return holds;
}

} // namespace

bool reachesData(const QString& path, const QString& dataFolder)
{
    if (!path.startsWith(u'/') || !dataFolder.startsWith(u'/'))
        return false;
    const QString clean = QDir::cleanPath(path);
    const QString data = QDir::cleanPath(dataFolder);
    if (Platform::atOrUnder(clean, data))
        return true;
    // The local driver keeps the data in "_data" of the volume's own folder: that folder is the volume's.
    return data.endsWith(QStringLiteral("/_data")) && clean == data.chopped(6);
}

VolumeWeighing weighVolumes(const WeighAsk& ask, const Users& users, const QList<OtherReading>& others)
{
    VolumeWeighing weighed;
    const QSet<QString> own(ask.own.cbegin(), ask.own.cend());
    const auto holdAll = [&](const VolumeHold& hold) {
        for (auto volume = ask.dataFolders.cbegin(); volume != ask.dataFolders.cend(); ++volume)
            if (!weighed.held[volume.key()].contains(hold))
                weighed.held[volume.key()] << hold;
    };

    // The runtime the volumes are on could not say what its containers bind: any may bind a data folder.
    if (users.unanswered.contains(runtimeName(ask.on)))
        holdAll({QStringLiteral("the engine"),
                 QStringLiteral("nobody can say whether a container uses it: %1 did not say which folders "
                                "its containers use")
                     .arg(runtimeName(ask.on))});

    // The other projects' compose files: what they name, and whether they may name anything.
    const VolumeHolds named = volumeHolds(others);
    for (auto volume = named.namedBy.cbegin(); volume != named.namedBy.cend(); ++volume)
        if (ask.dataFolders.contains(volume.key()))
            for (const QString& project : volume.value())
                weighed.held[volume.key()] << VolumeHold{project, project + QStringLiteral(" names it in its "
                                                                                           "compose files")};
    for (qsizetype i = 0; i < named.unknown.size(); ++i)
        holdAll({named.unknown[i], named.why.value(i)});
    for (const VolumeHold& hold : unreadableProjects(users, own))
        holdAll(hold);

    for (auto volume = ask.dataFolders.cbegin(); volume != ask.dataFolders.cend(); ++volume) {
        const QString& name = volume.key();
        const QString& data = volume.value();
        QList<VolumeHold>& held = weighed.held[name];
        if (data.isEmpty())
            continue;
        // What the engines say their containers bind, and the other volumes take their data from.
        QStringList holders = ask.mountedBy.value(name);
        for (const Container& container : users.containers) {
            if (own.contains(container.id))
                continue;
            for (const QString& source : users.binds.value(container.id))
                if (reachesData(source, data)) {
                    held << VolumeHold{container.name, QStringLiteral("container %1 binds its data folder "
                                                                      "(%2)")
                                                           .arg(container.name, source)};
                    holders << container.name;
                    break;
                }
        }
        for (const Users::Volume& other : users.volumes) {
            if (other.name == name && users.ownEngine.contains(other.runtime))
                continue;
            for (const Docker::FolderUse& use : other.uses)
                if (reachesData(use.path, data)) {
                    held << VolumeHold{QStringLiteral("volume ") + other.name,
                                       QStringLiteral("volume %1 takes its data from its data folder (%2)")
                                           .arg(other.name, use.path)};
                    break;
                }
        }
        if (!ask.host)
            continue;
        // The kernel's tables: whoever has the data folder mounted, whichever path it came through.
        QStringList known = ask.own;
        for (const Container& container : users.containers)
            if (holders.contains(container.name))
                known << container.id;
        const KernelVolumeVerdict verdict =
            kernelVolumeVerdict(*ask.host, data, users.containers, known, {QDir::cleanPath(data)});
        for (const QString& user : verdict.users)
            held << VolumeHold{user, QStringLiteral("its data folder is mounted by ") + user};
        for (const QString& doubt : verdict.doubts)
            held << VolumeHold{QStringLiteral("the kernel's mount tables"), doubt};
        for (const QString& above : verdict.above)
            weighed.notes << QStringLiteral("%1, which holds the data folder of volume %2: not counted as a "
                                            "use of it.")
                                 .arg(above.left(1).toUpper() + above.mid(1), name);
    }
    // A volume nothing holds has no entry.
    weighed.held.removeIf([](const auto& entry) { return entry.value().isEmpty(); });
    return weighed;
}

QMap<QString, QStringList> volumesHeld(StoreEngine& engine, const QStringList& names,
                                       const std::optional<Runtime>& on,
                                       const QList<std::optional<Runtime>>& runtimes,
                                       const QMap<QString, QList<KnownProject>>& remembered,
                                       std::chrono::milliseconds folderLimit,
                                       const Platform::Cancellation* cancel)
{
    QMap<QString, QStringList> held;
    if (names.isEmpty())
        return held;
    const auto doubtAll = [&](const QString& why) {
        for (const QString& name : names)
            held[name] << why;
        return held;
    };
    const Users users = gatherUsers(engine, runtimes, on, std::nullopt, cancel);
    const QList<OtherReading> others =
        readOthers(users, {QString(), {}}, remembered, QDeadlineTimer(folderLimit), {}, cancel);
    WeighAsk ask{on, {}};
    for (const QString& name : names)
        ask.dataFolders.insert(name, QString());
    try {
        for (const DockerVolume& volume : engine.volumes(on))
            if (ask.dataFolders.contains(volume.name))
                ask.dataFolders.insert(volume.name, volume.mountpoint);
    } catch (...) {
        return doubtAll(QStringLiteral("the engine did not list the volumes: %1")
                            .arg(failureText(std::current_exception())));
    }
    // Whoever mounts one by its name now.
    QStringList listed;
    for (const Container& container : users.containers)
        if (container.runtime == on || users.ownEngine.contains(container.runtime))
            listed << container.name;
    const std::optional<Docker::MountMap> mounts = engine.volumeMounts(listed, on, cancel);
    if (!mounts)
        return doubtAll(QStringLiteral("the engine did not say which volumes the containers mount"));
    for (auto container = mounts->cbegin(); container != mounts->cend(); ++container)
        for (const QString& volume : container.value())
            if (ask.dataFolders.contains(volume)) {
                ask.mountedBy[volume] << container.key();
                held[volume] << QStringLiteral("container %1 mounts it").arg(container.key());
            }
    Docker::VolumeData data;
    if (users.ownInfo && users.ownFolders)
        data = engine.volumeData(*users.ownInfo, *users.ownFolders, names, on, cancel);
    if (data.local)
        ask.host = kernelView(folderLimit);
    const VolumeWeighing weighed = weighVolumes(ask, users, others);
    for (auto volume = weighed.held.cbegin(); volume != weighed.held.cend(); ++volume)
        for (const VolumeHold& hold : volume.value())
            if (!held[volume.key()].contains(hold.how))
                held[volume.key()] << hold.how;
    return held;
}
