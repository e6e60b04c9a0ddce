#include "store/AppStore.h"

#include "engine/Compose.h"
#include "engine/Listings.h"
#include "platform/Pools.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Where compose can act on the project: a folder that exists and holds a compose file.
std::optional<QString> composeFolder(const ComposeProject& project)
{
    if (!project.workingDir || !QFileInfo::exists(*project.workingDir) ||
        !Docker::composeFile(*project.workingDir))
        return std::nullopt;
    return project.workingDir;
}

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
            return Read{engine->composeProject(dir, std::nullopt, {}, nullptr), QString()};
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
               ". compose tells projects apart by name alone, so this folder would act on them: take "
               "that project down first, or give this one another name.");
}

bool sameFolder(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    return ca.isEmpty() || cb.isEmpty() ? QDir::cleanPath(a) == QDir::cleanPath(b) : ca == cb;
}

} // namespace

// compose is told the project's name: left to itself it would take COMPOSE_PROJECT_NAME from our
// environment, the file's `name:` or the folder's name, and could act on another project, or on
// none and still succeed.
QStringList AppStore::composeCommand(const QString& project, const QString& command, const QStringList& files,
                                     const QString& dir)
{
    QStringList args =
        QStringList{QStringLiteral("compose"), QStringLiteral("-p"), project} + Docker::fileArgs(files, dir);
    args << command;
    if (command == u"up")
        args << QStringLiteral("-d");
    return args;
}

QCoro::Task<> AppStore::up(ComposeProject project)
{
    const std::optional<QString> dir = composeFolder(project);
    if (!dir)
        co_return;
    // Recreated from the files they were made from: the folder's own file alone would drop what an
    // override added (mounts, environment) from every container it recreates.
    QStringList files;
    try {
        files = Docker::composeFilesOf(project);
    } catch (const DockerError& missing) {
        setError(missing.errorDescription());
        co_return;
    }
    QPointer<AppStore> self(this);
    setBusy(true);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUserInitiated(
        [engine, folder = *dir, files] { return engine->checkCompose(folder, files); });
    const ComposeCheck check = co_await std::move(job);
    if (!self)
        co_return;
    if (!check.isValid()) {
        setError(check.message);
        setBusy(false);
        co_return;
    }
    setNotice(check.warning);
    auto task = act(composeCommand(project.name, QStringLiteral("up"), files, *dir), dir,
                    actingOn(project.runtime), project.name);
    co_await std::move(task);
}

QCoro::Task<> AppStore::down(ComposeProject project)
{
    const std::optional<QString> dir = composeFolder(project);
    if (!dir)
        co_return;
    auto task = act(composeCommand(project.name, QStringLiteral("down")), dir, actingOn(project.runtime),
                    project.name);
    co_await std::move(task);
}

QCoro::Task<std::optional<QString>> AppStore::addProject(QString dir, std::optional<Runtime> on)
{
    const std::optional<Runtime> target = on ? on : (m_showAll ? std::nullopt : m_runtime);
    if (!target)
        co_return QStringLiteral("Choose a runtime to add the project to.");

    QPointer<AppStore> self(this);
    auto job = readProject(m_engine, dir);
    const Read read = co_await std::move(job);
    if (!self)
        co_return std::nullopt;
    if (!read.config)
        co_return read.failure;
    if (const std::optional<QString> other = folderInUse(read.config->name, dir, *target))
        co_return inUseMessage(read.config->name, *other);

    keepProject({read.config->name, dir, read.config->services}, *target);

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

    // The next refresh would take the folder its containers name back.
    if (const std::optional<QString> other = folderInUse(project.name, dir, *runtime))
        co_return inUseMessage(project.name, *other);

    // Added under its own name, which replaces the entry: the project keeps its name, in a new folder.
    keepProject({project.name, dir, read.config->services}, *runtime);
    co_await refresh(false);
    co_return std::nullopt;
}

std::optional<QString> AppStore::folderInUse(const QString& name, const QString& dir,
                                            const Runtime& runtime) const
{
    // While a project has containers, the folder they name is the project's, whatever is added.
    for (const ComposeProject& project : Docker::group(m_containers)) {
        if (project.name != name || actingOn(project.runtime) != runtime || !project.workingDir)
            continue;
        if (!sameFolder(*project.workingDir, dir))
            return project.workingDir;
    }
    return std::nullopt;
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
