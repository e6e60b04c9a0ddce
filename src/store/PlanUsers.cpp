#include "store/PlanUsers.h"

#include "engine/ComposeUses.h"
#include "engine/ComposeVariables.h"
#include "engine/Docker.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/TimedRunner.h"
#include "store/StoreEngine.h"

#include <QHash>

#include <algorithm>
#include <future>
#include <vector>

namespace {

QString runtimeName(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() : QStringLiteral("the current runtime");
}

// A volume that keeps its data at `path`, as a user of it.
Docker::FolderUse volumeUse(const DockerVolume& volume, const QString& path)
{
    const auto project = volume.labels.constFind(QString::fromLatin1(Docker::projectLabel));
    return {path, QStringLiteral("volume:") + volume.id(), QStringLiteral("volume ") + volume.name,
            project == volume.labels.cend() ? std::nullopt : std::optional<QString>(*project)};
}

// What one runtime said.
struct RuntimeUsers {
    std::optional<Runtime> runtime;
    bool answered = false;
    Docker::EngineInfo engine;
    QList<Container> containers;
    Docker::BindMap binds;
    QList<Users::Volume> volumes;
    bool engineTold = false;                           // `engine` is what it said
    std::optional<QMap<QString, QStringList>> folders; // of the volumes, by name, as the engine said
    // The question that was not answered, when one was not: whether it ran out of time, or why it failed.
    QString unanswered;
    bool late = false;
    QString why;
};

// "the labels of container web", "the labels of containers web, db"; the same of volumes.
QString labelsStep(const QString& kind, const QStringList& names)
{
    return names.size() == 1 ? QStringLiteral("the labels of %1 %2").arg(kind, names.first())
                             : QStringLiteral("the labels of %1s %2").arg(kind, names.join(QStringLiteral(", ")));
}

// Asks one runtime, each query within its limit; the first that cannot be answered ends the asking.
RuntimeUsers askRuntime(StoreEngine& engine, const std::optional<Runtime>& runtime,
                        const std::optional<QList<Container>>& listed, const Platform::Cancellation* cancel)
{
    RuntimeUsers said;
    said.runtime = runtime;
    try {
        said.unanswered = QStringLiteral("the engine's identity and data folder");
        const std::optional<Docker::EngineInfo> info = engine.engineInfo(runtime, cancel);
        if (!info)
            return said;
        said.engine = *info;
        said.engineTold = true;
        said.unanswered = QStringLiteral("the list of containers");
        said.containers = listed ? *listed : engine.containers(runtime);
        // A container whose compose labels were not told may have been started from any folder.
        QStringList unlabelled;
        for (const Container& container : std::as_const(said.containers))
            if (container.labelsUnanswered)
                unlabelled << container.name;
        if (!unlabelled.isEmpty()) {
            said.unanswered = labelsStep(QStringLiteral("container"), unlabelled);
            said.late = true;
            return said;
        }
        QStringList ids;
        for (const Container& container : std::as_const(said.containers))
            ids << container.id;
        said.unanswered = QStringLiteral("the folders the containers bind");
        const std::optional<Docker::BindMap> binds = engine.bindSources(ids, runtime, cancel);
        if (!binds)
            return said;
        said.binds = *binds;
        said.unanswered = QStringLiteral("the list of volumes");
        const QList<DockerVolume> volumes = engine.volumes(runtime);
        QStringList names;
        for (const DockerVolume& volume : volumes)
            names << volume.name;
        said.unanswered = QStringLiteral("the folders of the volumes");
        const std::optional<QMap<QString, QStringList>> folders =
            engine.volumeFolders(names, runtime, cancel);
        if (!folders)
            return said;
        said.folders = folders;
        for (const DockerVolume& volume : volumes) {
            Users::Volume held{runtime, volume.name, {}};
            for (const QString& path : folders->value(volume.name))
                held.uses << volumeUse(volume, path);
            said.volumes << held;
        }
        said.answered = true;
        said.unanswered.clear();
    } catch (const Docker::TimedOut&) {
        said.late = true;
    } catch (...) {
        said.why = failureText(std::current_exception());
    }
    return said;
}

// One other project whose compose files are read, and who it is to the user.
struct Reading {
    Docker::ComposeSource source;
    Docker::FolderUse user; // without a path
};

// The compose files of the projects of `containers`, one reading per project and set of files.
QList<Reading> containerReadings(const QList<Container>& containers)
{
    QList<Reading> readings;
    QSet<QString> seen;
    for (const Container& container : containers) {
        const std::optional<QString> dir = container.workingDir();
        const QString files = container.labels.value(QString::fromLatin1(Docker::configFilesLabel));
        if (!dir && files.isEmpty())
            continue;
        const QString envFiles = container.labels.value(QString::fromLatin1(Docker::environmentFileLabel));
        const QString key =
            QStringList{Docker::runtimeId(container.runtime), container.project().value_or(QString()),
                        dir.value_or(QString()), files, envFiles}
                .join(QChar(0));
        if (seen.contains(key))
            continue;
        seen.insert(key);
        Docker::FolderUse user{QString(), container.id, container.name, container.project()};
        // A label no reading can be trusted of makes the container's uses unknown already (folderUses).
        const std::optional<QStringList> named = Docker::possibleFiles(files);
        const std::optional<QStringList> env = Docker::possibleFiles(envFiles);
        if (!named || !env || (!dir && named->isEmpty()))
            continue;
        readings.append({{*named, dir.value_or(QString()), *env, container.project().value_or(QString())}, user});
    }
    return readings;
}

} // namespace

QList<std::optional<Docker::ComposeSource>> rememberedSources(const KnownProject& known)
{
    if (known.startedFrom.isEmpty())
        return {Docker::ComposeSource{{}, known.workingDir, {}, known.name, true}};
    QList<std::optional<Docker::ComposeSource>> sources;
    for (const StartedFrom& from : known.startedFrom) {
        const std::optional<QStringList> files = Docker::possibleFiles(from.files);
        const std::optional<QStringList> envFiles = Docker::possibleFiles(from.envFiles);
        if (!files || !envFiles) {
            sources << std::nullopt;
            continue;
        }
        sources << Docker::ComposeSource{*files,
                                         from.projectDir.isEmpty() ? known.workingDir : from.projectDir,
                                         *envFiles, known.name, true};
    }
    return sources;
}

Users gatherUsers(StoreEngine& engine, QList<std::optional<Runtime>> runtimes,
                  const std::optional<Runtime>& on, const std::optional<QList<Container>>& listedOn,
                  const Platform::Cancellation* cancel)
{
    if (!runtimes.contains(on))
        runtimes.prepend(on);
    else
        runtimes.move(runtimes.indexOf(on), 0);
    QList<std::optional<Runtime>> asked;
    for (const std::optional<Runtime>& runtime : std::as_const(runtimes))
        if (!asked.contains(runtime))
            asked << runtime;

    // All at once: one that does not answer holds up no other beyond its own limit.
    std::vector<std::future<RuntimeUsers>> answers;
    for (const std::optional<Runtime>& runtime : std::as_const(asked)) {
        const std::optional<QList<Container>> listed = runtime == on ? listedOn : std::nullopt;
        answers.push_back(
            std::async(std::launch::async | std::launch::deferred, [&engine, runtime, listed, cancel] {
                return askRuntime(engine, runtime, listed, cancel);
            }));
    }

    Users users;
    QStringList engines;
    QString ownEngine;
    for (std::future<RuntimeUsers>& answer : answers) {
        const RuntimeUsers said = answer.get();
        const QString& id = said.engine.id;
        if (said.runtime == on) {
            users.ownEngine << on;
            ownEngine = id;
            if (said.engineTold)
                users.ownInfo = said.engine;
            users.ownFolders = said.folders;
        } else if (!id.isEmpty() && id == ownEngine) {
            users.ownEngine << said.runtime;
        }
        if (!said.answered) {
            users.unanswered << runtimeName(said.runtime);
            const QString step = said.runtime == on
                                     ? said.unanswered
                                     : said.unanswered + QStringLiteral(" on ") + runtimeName(said.runtime);
            // A query that gave nothing without saying why failed, or did not answer within its limit.
            users.unansweredSteps << (said.late ? notAnsweredInTime(step)
                                      : said.why.isEmpty()
                                          ? QStringLiteral("The engine did not answer: %1.").arg(step)
                                          : notAnswered(step, said.why));
            continue;
        }
        // Another way to an engine already heard: what it lists is that engine's.
        if (!id.isEmpty() && engines.contains(id))
            continue;
        if (!id.isEmpty())
            engines << id;
        users.containers << said.containers;
        for (auto bind = said.binds.cbegin(); bind != said.binds.cend(); ++bind)
            users.binds.insert(bind.key(), bind.value());
        users.volumes << said.volumes;
        if (said.engine.rootDir.startsWith(u'/'))
            users.engines << Docker::FolderUse{
                said.engine.rootDir, QStringLiteral("engine:") + runtimeName(said.runtime),
                QStringLiteral("the engine of ") + runtimeName(said.runtime), std::nullopt};
    }
    return users;
}

QString notAnsweredInTime(const QString& step)
{
    return QStringLiteral("The engine did not answer in time: %1.").arg(step);
}

QString notAnswered(const QString& step, QString why)
{
    if (why.endsWith(u'.'))
        why.chop(1);
    return QStringLiteral("The engine did not answer: %1 (%2).").arg(step, why);
}

QString unansweredReason(const QStringList& runtimes)
{
    return runtimes.size() == 1
               ? runtimes.first() + QStringLiteral(" did not say which folders its containers use")
               : runtimes.join(QStringLiteral(", ")) +
                     QStringLiteral(" did not say which folders their containers use");
}

QMap<QString, QList<KnownProject>> rememberedBesides(const ProjectRegistry& registry, const QString& project,
                                                     const std::optional<QString>& onId)
{
    QMap<QString, QList<KnownProject>> remembered = registry.byRuntime;
    if (onId)
        if (const auto mine = remembered.find(*onId); mine != remembered.end())
            mine->removeIf([&](const KnownProject& known) { return known.name == project; });
    return remembered;
}

QList<OtherReading> readOthers(const Users& users, const OwnParts& own,
                               const QMap<QString, QList<KnownProject>>& remembered,
                               const QDeadlineTimer& deadline, const std::function<void()>& first,
                               const Platform::Cancellation* cancel)
{
    const QSet<QString> ours(own.containers.cbegin(), own.containers.cend());
    QList<Container> others;
    for (const Container& container : users.containers)
        if (!ours.contains(container.id))
            others << container;
    QStringList ownKeys;
    for (const std::optional<Runtime>& runtime : users.ownEngine)
        ownKeys << Docker::runtimeId(runtime);

    // What the other projects' compose files name: theirs with containers, and those the registry
    // remembers without (the user may start them again, and they would miss what they name).
    QList<OtherReading> readings;
    for (const Reading& reading : containerReadings(others)) {
        const auto container = std::find_if(others.cbegin(), others.cend(), [&](const Container& c) {
            return c.id == reading.user.containerId;
        });
        const bool onOwn = container != others.cend() && ownKeys.contains(Docker::runtimeId(container->runtime));
        readings.append({reading.user, reading.source, onOwn});
    }
    // A remembered project that has containers is named by them.
    QHash<std::pair<QString, QString>, Docker::FolderUse> named;
    for (const Container& container : std::as_const(others))
        if (const std::optional<QString> project = container.project())
            named.insert({Docker::runtimeId(container.runtime), *project},
                         {QString(), container.id, container.name, project});
    for (auto runtime = remembered.cbegin(); runtime != remembered.cend(); ++runtime)
        for (const KnownProject& known : runtime.value()) {
            // The project itself, remembered on a way to its own engine; one of its name remembered on
            // another engine is another project.
            const bool onOwn = ownKeys.contains(runtime.key());
            if ((known.name == own.project && onOwn) || known.workingDir.isEmpty())
                continue;
            const Docker::FolderUse user =
                named.value({runtime.key(), known.name},
                            {QString(), QStringLiteral("project:%1/%2").arg(runtime.key(), known.name),
                             QString(), known.name});
            const bool onlyRemembered = !named.contains({runtime.key(), known.name});
            bool first = true;
            for (const std::optional<Docker::ComposeSource>& source : rememberedSources(known)) {
                OtherReading reading{user, {}, onOwn, onlyRemembered, true};
                if (!source) {
                    // Its folder is its own all the same.
                    reading.source.projectDir = known.workingDir;
                    reading.read = Docker::ComposeFileUses{};
                    reading.read->unknown =
                        QStringLiteral("the compose files it was started from cannot be told apart");
                    reading.read->volumesUnknown = reading.read->unknown;
                } else {
                    reading.source = *source;
                }
                // Its containers' own binds count while they are there.
                if (onlyRemembered && first)
                    reading.mounts = known.mounts;
                first = false;
                readings.append(reading);
            }
        }

    // Each on a look of its own, at its folder (or first file): one on a mount that stalls holds up no
    // other.
    QList<std::optional<Platform::PendingLook<Docker::ComposeFileUses>>> looks;
    for (const OtherReading& reading : std::as_const(readings)) {
        if (reading.read) {
            looks << std::nullopt;
            continue;
        }
        Platform::LookRequest<Docker::ComposeFileUses> read =
            Docker::Looks::composeUses(reading.source, Docker::shellVariables());
        read.beforeLook = first;
        looks << Platform::startFolderLook(reading.where(), std::move(read), Platform::remaining(deadline));
    }
    for (qsizetype i = 0; i < readings.size(); ++i) {
        if (!looks[i])
            continue;
        OtherReading& reading = readings[i];
        reading.read = looks[i]->wait(Platform::remaining(deadline), cancel);
        if (!reading.read) {
            reading.read = Docker::ComposeFileUses{};
            reading.read->unknown =
                QStringLiteral("its compose files in %1 do not answer").arg(reading.where());
            reading.read->volumesUnknown = reading.read->unknown;
        }
    }
    return readings;
}

QString OtherReading::where() const
{
    return source.projectDir.isEmpty() ? source.files.value(0) : source.projectDir;
}

SplitUses splitUses(const Users& users, const OwnParts& own, const std::optional<Runtime>& on,
                    const QMap<QString, QList<KnownProject>>& remembered, const QDeadlineTimer& deadline,
                    const std::function<void()>& first, const Platform::Cancellation* cancel)
{
    return splitUses(users, own, on, readOthers(users, own, remembered, deadline, first, cancel));
}

SplitUses splitUses(const Users& users, const OwnParts& own, const std::optional<Runtime>& on,
                    const QList<OtherReading>& readings)
{
    const QSet<QString> ours(own.containers.cbegin(), own.containers.cend());
    QList<Container> others;
    QList<Container> mine;
    for (const Container& container : users.containers)
        (ours.contains(container.id) ? mine : others) << container;
    SplitUses split;
    for (const Container& container : std::as_const(mine))
        for (const QString& source : users.binds.value(container.id))
            split.own << Docker::FolderUse{source, container.id, container.name, container.project()};
    split.others = Docker::folderUses(others, users.binds);
    split.others << users.engines;
    // A volume of the project that the deletion keeps (mounted elsewhere, declared external, or not
    // removed after all) keeps its folder from the Trash.
    for (const Users::Volume& volume : users.volumes)
        (volume.runtime == on && own.volumes.contains(volume.name) ? split.own : split.others) << volume.uses;

    for (const OtherReading& reading : readings) {
        const Docker::FolderUse& user = reading.user;
        const Docker::ComposeFileUses& read = *reading.read;
        // A remembered project's folder is its own, whatever its files name.
        if (reading.registry && !reading.source.projectDir.isEmpty()) {
            Docker::FolderUse dir = user;
            dir.path = reading.source.projectDir;
            dir.coversBelow = false;
            split.others << dir;
        }
        // What it had mounted while it ran, whatever its files name now.
        for (const QString& path : reading.mounts) {
            Docker::FolderUse use = user;
            use.path = path;
            use.holdingSaid = path == u'/';
            split.others << use;
        }
        // What could not be known is tied to the folder by where the project's own folder and files
        // lie; what could be is a use all the same.
        if (read.unknown) {
            Docker::FolderUse unknown = user;
            unknown.unknown = read.unknown;
            for (const QString& place : QStringList{reading.source.projectDir} + reading.source.files +
                                            reading.source.envFiles)
                if (!place.isEmpty() && !unknown.places.contains(place))
                    unknown.places << place;
            split.others << unknown;
        }
        for (const QString& path : read.paths) {
            Docker::FolderUse use = user;
            use.path = path;
            // The root bound is how a service sees the whole machine, not a use of one folder in it.
            use.holdingSaid = path == u'/';
            split.others << use;
        }
        for (const QString& folder : read.folders) {
            Docker::FolderUse use = user;
            use.path = folder;
            use.coversBelow = false;
            split.others << use;
        }
    }
    return split;
}

VolumeHolds volumeHolds(const QList<OtherReading>& readings)
{
    VolumeHolds holds;
    for (const OtherReading& reading : readings) {
        if (!reading.ownEngine || !reading.read)
            continue;
        const QString who = QStringLiteral("project ") + reading.user.project.value_or(QString());
        // Running or not, its files may name a volume for a service it has not started: when which
        // ones cannot be known it may name any. What else of it is unknown hides none it does name.
        if (reading.read->volumesUnknown && !holds.unknown.contains(who)) {
            holds.unknown << who;
            holds.why << QStringLiteral("%1 may name it: %2").arg(who, *reading.read->volumesUnknown);
        }
        for (const QString& volume : reading.read->volumes)
            if (!holds.namedBy[volume].contains(who))
                holds.namedBy[volume] << who;
    }
    return holds;
}
