#include "store/AppStore.h"

#include "engine/Compose.h"
#include "engine/Listings.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/Pools.h"

#include <QDir>
#include <QScopeGuard>

namespace {

struct Read {
    std::optional<ComposeConfig> config;
    QString failure;
};

// The project in `dir` as compose names it on its own, which is what a folder being added or
// relocated to is checked by.
QCoro::Task<Read> readProject(std::shared_ptr<StoreEngine> engine, QString dir)
{
    auto job = Platform::onUserInitiated([engine, dir] {
        try {
            return Read{engine->composeProject(dir, std::nullopt, {}, nullptr, Docker::composeCheckLimit),
                        QString()};
        } catch (...) {
            return Read{std::nullopt, failureText(std::current_exception())};
        }
    });
    co_return co_await std::move(job);
}

QString inUseMessage(const QString& name, const QString& otherFolder)
{
    return QStringLiteral("Compose project \u201c") + name +
           QStringLiteral("\u201d already has containers from ") + otherFolder +
           QStringLiteral(
               ". Compose tells projects apart by name alone, so this folder would act on them: take "
               "that project down first, or give this one another name.");
}

// `a` and `b` with their resolved paths, which are empty where nothing is.
bool sameFolder(const QString& a, const QString& ca, const QString& b, const QString& cb)
{
    return ca.isEmpty() || cb.isEmpty() ? QDir::cleanPath(a) == QDir::cleanPath(b) : ca == cb;
}

} // namespace

QCoro::Task<std::optional<QList<AppStore::ComposeRun>>> AppStore::lookForUp(ComposeProject project,
                                                                            QStringList extra)
{
    // compose would take another project for this one, or none.
    if (!Docker::composeAcceptsName(project.name)) {
        setError(Docker::composeRefusalMessage(project.name));
        co_return std::nullopt;
    }
    if (!project.workingDir)
        co_return std::nullopt;
    QPointer<AppStore> self(this);
    // Recreated from the files and env files they were made from: the folder's own file alone would
    // drop what an override added (mounts, environment), and its .env alone the values an env file
    // gave, from every container it recreates.
    QList<Docker::ComposeFileNames> setups;
    try {
        setups = Docker::composeSetups(project);
    } catch (const DockerError& inexact) {
        setError(inexact.errorDescription());
        co_return std::nullopt;
    }
    // Made from several sets, each service is brought up from its own, and from no other: compose given
    // one set recreates every service it names as that set has it.
    if (setups.size() > 1) {
        QList<Docker::ComposeFileNames> serving;
        for (const Docker::ComposeFileNames& names : std::as_const(setups))
            if (!names.services.isEmpty())
                serving << names;
        setups = serving.isEmpty() ? setups.mid(0, 1) : serving;
    }
    if (setups.isEmpty())
        setups << Docker::ComposeFileNames{{}, {}, {}, {}, *project.workingDir};

    QList<ComposeRun> runs;
    for (const Docker::ComposeFileNames& names : std::as_const(setups)) {
        auto job = lookAtFolder(Docker::Looks::composeFiles(names.dir, names.files + names.envFiles));
        const std::optional<Docker::ComposeFilesFound> look = co_await std::move(job);
        if (!self)
            co_return std::nullopt;
        if (!look) {
            setError(Platform::folderNotAnswering(names.dir));
            co_return std::nullopt;
        }
        // Files named are read wherever they are; only a folder's own search needs one in it.
        if (!look->there || (names.files.isEmpty() && !look->composeFile))
            co_return std::nullopt;
        if (const std::optional<QString> missing = Docker::missingComposeFilesMessage(names, look->missing)) {
            setError(*missing);
            co_return std::nullopt;
        }
        QStringList args =
            composeCommand(project.name, QStringLiteral("up"), names.files, names.dir, names.envFiles) +
            extra;
        // Its dependencies were made from their own set, and are brought up from that one.
        if (setups.size() > 1)
            args << QStringLiteral("--no-deps") << names.services;
        runs << ComposeRun{args, names.dir, names.files, names.envFiles};
    }
    co_return runs;
}

QCoro::Task<std::optional<AppStore::ComposeRun>> AppStore::upCommand(ComposeProject project,
                                                                     QStringList extra)
{
    const QString id = project.id();
    if (m_bringingUp.contains(id))
        co_return std::nullopt;
    QPointer<AppStore> self(this);
    m_bringingUp.insert(id);
    const auto release = qScopeGuard([self, id] {
        if (self)
            self->m_bringingUp.remove(id);
    });
    BusyHold busy = holdBusy();
    auto look = lookForUp(project, extra);
    const std::optional<QList<ComposeRun>> runs = co_await std::move(look);
    if (!self || !runs)
        co_return std::nullopt;
    busy.release();
    if (runs->size() > 1) {
        setError(
            QStringLiteral("The services of %1 were started from %2 different sets of compose files, and "
                           "this runs one compose command, which would make some of them from files they "
                           "were not started from. Up brings each set's services up from their own.")
                .arg(project.displayName())
                .arg(runs->size()));
        co_return std::nullopt;
    }
    co_return runs->first();
}

QCoro::Task<> AppStore::up(ComposeProject project)
{
    // A second click while the first up looks at the folder, or runs, would start it twice.
    const QString id = project.id();
    if (m_bringingUp.contains(id))
        co_return;
    QPointer<AppStore> self(this);
    m_bringingUp.insert(id);
    const auto release = qScopeGuard([self, id] {
        if (self)
            self->m_bringingUp.remove(id);
    });
    // Without a folder there is nothing to look at, and up ends at once.
    BusyHold busy = project.workingDir ? holdBusy() : BusyHold();
    auto look = lookForUp(project, {});
    const std::optional<QList<ComposeRun>> runs = co_await std::move(look);
    if (!self || !runs)
        co_return;
    // Every set is checked before any runs: a project is not brought up in part.
    const std::shared_ptr<StoreEngine> engine = m_engine;
    QStringList warnings;
    for (const ComposeRun& run : *runs) {
        auto job = Platform::onUserInitiated(
            [engine, run] { return engine->checkCompose(run.dir, run.files, run.envFiles); });
        const ComposeCheck check = co_await std::move(job);
        if (!self)
            co_return;
        if (!check.isValid()) {
            setError(check.message);
            co_return;
        }
        if (check.warning && !warnings.contains(*check.warning))
            warnings << *check.warning;
    }
    setNotice(warnings.isEmpty() ? std::nullopt : std::optional<QString>(warnings.join(u'\n')));
    // Up may build for long: no limit, but a quit ends it. The command holds busy of its own from here.
    for (const ComposeRun& run : *runs) {
        auto task = act(run.args, run.dir, actingOn(project.runtime), project.name, false);
        busy.release();
        co_await std::move(task);
        // A set that failed leaves the others as they are.
        if (!self || m_error)
            co_return;
    }
}

QCoro::Task<> AppStore::down(ComposeProject project)
{
    const std::optional<Runtime> on = actingOn(project.runtime);
    // compose would take another project for this one: its containers go one by one, and no network
    // goes with them, since none is known to be theirs alone.
    if (!Docker::composeAcceptsName(project.name)) {
        if (project.containers.isEmpty())
            co_return;
        QStringList removal{QStringLiteral("rm"), QStringLiteral("-f")};
        for (const Container& container : std::as_const(project.containers))
            removal << container.id;
        auto task = act(removal, std::nullopt, on, project.name);
        co_await std::move(task);
        co_return;
    }
    // By the containers' labels alone, so it needs neither the folder nor its files, and takes every
    // container of the project, also those of services the file no longer names.
    auto task =
        act(composeCommand(project.name, QStringLiteral("down")), Docker::labelsOnlyDir(), on, project.name);
    co_await std::move(task);
}

QCoro::Task<std::optional<QString>> AppStore::addProject(QString dir, std::optional<Runtime> on)
{
    const std::optional<Runtime> target = on ? on : (m_showAll ? std::nullopt : m_runtime);
    if (!target)
        co_return QStringLiteral("Choose a runtime to add the project to.");

    QPointer<AppStore> self(this);
    // compose only reads the folder once it has answered this look: a stalled mount holds up neither
    // the window nor an action thread for good.
    auto look = lookAtFolder(Platform::Looks::resolved(dir));
    const std::optional<QString> resolved = co_await std::move(look);
    if (!self)
        co_return std::nullopt;
    if (!resolved)
        co_return Platform::folderNotAnswering(dir);
    auto job = readProject(m_engine, dir);
    const Read read = co_await std::move(job);
    if (!self)
        co_return std::nullopt;
    if (!read.config)
        co_return read.failure;
    auto claiming = claimFolder(read.config->name, dir, *resolved, *target);
    const Claim claim = co_await std::move(claiming);
    if (!self)
        co_return std::nullopt;
    if (claim.refusal)
        co_return claim.refusal;

    keepProject({read.config->name, dir, read.config->services, claim.movedFrom}, *target);

    // The user may have switched runtimes while the folder was read: compare with what is shown now.
    if (!m_showAll && m_runtime != target) {
        setRuntime(target);
        show(false); // runs on by itself; the caller's form need not wait for the listing
        co_return std::nullopt;
    }
    co_await refresh(false);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> AppStore::relocate(ComposeProject project, QString dir)
{
    const std::optional<Runtime> runtime = actingOn(project.runtime);
    if (!runtime)
        co_return QStringLiteral("Choose a runtime first.");

    QPointer<AppStore> self(this);
    auto look = lookAtFolder(Platform::Looks::resolved(dir));
    const std::optional<QString> resolved = co_await std::move(look);
    if (!self)
        co_return std::nullopt;
    if (!resolved)
        co_return Platform::folderNotAnswering(dir);
    auto job = readProject(m_engine, dir);
    const Read read = co_await std::move(job);
    if (!self)
        co_return std::nullopt;
    if (!read.config)
        co_return read.failure;
    if (read.config->name != project.name)
        co_return QStringLiteral("That directory is compose project \u201c") + read.config->name +
            QStringLiteral("\u201d, not \u201c") + project.name + QStringLiteral("\u201d. ") +
            QStringLiteral(
                "Up there would create a different project \u2014 add it as its own project instead.");

    // The next refresh would take the folder its containers name back, while it is there.
    auto claiming = claimFolder(project.name, dir, *resolved, *runtime);
    const Claim claim = co_await std::move(claiming);
    if (!self)
        co_return std::nullopt;
    if (claim.refusal)
        co_return claim.refusal;

    // Added under its own name, which replaces the entry: the project keeps its name, in a new folder.
    keepProject({project.name, dir, read.config->services, claim.movedFrom}, *runtime);
    co_await refresh(false);
    co_return std::nullopt;
}

std::optional<ComposeProject> AppStore::runningAs(const QString& name, const Runtime& runtime) const
{
    for (const ComposeProject& project : Docker::group(m_containers))
        if (project.name == name && actingOn(project.runtime) == runtime)
            return project;
    return std::nullopt;
}

QCoro::Task<AppStore::Claim> AppStore::claimFolder(QString name, QString dir, QString resolved,
                                                   Runtime runtime)
{
    Claim claim;
    const std::optional<ComposeProject> running = runningAs(name, runtime);
    if (!running)
        co_return claim;
    QPointer<AppStore> self(this);
    QStringList gone;
    for (const QString& folder : running->containerFolders()) {
        auto look = lookAtFolder(Platform::Looks::resolved(folder));
        const std::optional<QString> there = co_await std::move(look);
        if (!self)
            co_return claim;
        if (!there) {
            claim.refusal = Platform::folderNotAnswering(folder);
            co_return claim;
        }
        if (sameFolder(folder, *there, dir, resolved))
            continue;
        // While the folder its containers were made in is there, compose acting on the project from
        // this one would act on them, and the next refresh would put their folder back.
        if (!there->isEmpty()) {
            claim.refusal = inUseMessage(name, folder);
            co_return claim;
        }
        gone << folder;
    }
    // Their folder is gone: this one is the project's now, as for a project without containers. The
    // registry keeps it while their labels still name the old one.
    if (running->workingDir && gone.contains(*running->workingDir))
        claim.movedFrom = *running->workingDir;
    co_return claim;
}

void AppStore::keepProject(const KnownProject& project, const Runtime& runtime)
{
    ProjectRegistry changed = m_registry;
    changed.add(project, runtime.id());
    keepRegistry(changed);
}

void AppStore::forget(const ComposeProject& project)
{
    const std::optional<Runtime> runtime = actingOn(project.runtime);
    ProjectRegistry changed = m_registry;
    changed.forget(project.name, runtime ? std::optional<QString>(runtime->id()) : std::nullopt);
    keepRegistry(changed);
}
