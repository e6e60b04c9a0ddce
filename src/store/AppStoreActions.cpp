#include "store/AppStore.h"

#include "engine/Container.h"
#include "platform/Pools.h"

#include <algorithm>

namespace {

QStringList withIds(const QString& verb, const QList<Container>& containers)
{
    QStringList args{verb};
    for (const Container& container : containers)
        args << container.id;
    return args;
}

} // namespace

QCoro::Task<> AppStore::act(QStringList args, std::optional<QString> cwd, std::optional<Runtime> on,
                            std::optional<QString> project, bool bounded)
{
    QPointer<AppStore> self(this);
    BusyHold busy = holdBusy();
    // Its runtime as it is now: the one shown may change while the command runs.
    const std::optional<Runtime> changing = actingOn(on);
    if (project)
        beginProjectChange(*project, changing);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    const std::optional<std::chrono::milliseconds> limit =
        bounded ? std::optional<std::chrono::milliseconds>(m_removalLimit) : std::nullopt;
    auto job = Platform::onAction([engine, args, cwd, on, limit]() -> std::optional<QString> {
        try {
            engine->run(args, on, cwd, limit);
            return std::nullopt;
        } catch (...) {
            QString text = failureText(std::current_exception());
            if (text.trimmed().isEmpty())
                text = commandTitle(args) + QStringLiteral(" failed without saying why.");
            return text;
        }
    });
    const std::optional<QString> failed = co_await std::move(job);
    if (!self)
        co_return;
    // Only the action's own outcome: an error a failed refresh put up is cleared by a success too,
    // but the refresh bookkeeping stays as it is.
    setError(failed);
    busy.release();
    setUsageAt(distantPast());
    // Before the refresh, whose measurement then counts as one taken after the change.
    if (project)
        endProjectChange(*project, changing);
    co_await refresh(false);
}

QCoro::Task<> AppStore::restart(const Container& container)
{
    return act({QStringLiteral("restart"), container.id}, std::nullopt, actingOn(container.runtime),
               container.project());
}

QCoro::Task<> AppStore::start(const Container& container)
{
    return act({QStringLiteral("start"), container.id}, std::nullopt, actingOn(container.runtime),
               container.project());
}

QCoro::Task<> AppStore::stop(const Container& container)
{
    return act({QStringLiteral("stop"), container.id}, std::nullopt, actingOn(container.runtime),
               container.project());
}

QCoro::Task<> AppStore::pause(const Container& container)
{
    return act({QStringLiteral("pause"), container.id}, std::nullopt, actingOn(container.runtime));
}

QCoro::Task<> AppStore::unpause(const Container& container)
{
    return act({QStringLiteral("unpause"), container.id}, std::nullopt, actingOn(container.runtime));
}

QCoro::Task<> AppStore::remove(const Container& container)
{
    return act({QStringLiteral("rm"), QStringLiteral("-f"), container.id}, std::nullopt,
               actingOn(container.runtime), container.project());
}

QCoro::Task<> AppStore::commit(Container container, QString reference)
{
    const QString trimmed = Docker::trimBlanks(reference);
    if (trimmed.isEmpty())
        co_return;
    auto task =
        act({QStringLiteral("commit"), container.id, trimmed}, std::nullopt, actingOn(container.runtime));
    co_await std::move(task);
}

QCoro::Task<> AppStore::remove(const DockerImage& image)
{
    return act({QStringLiteral("rmi"), image.ref()}, std::nullopt, actingOn(image.runtime));
}

QCoro::Task<> AppStore::pull(QString reference)
{
    // A reference typed with a stray blank would otherwise reach the client as an invalid name.
    const QString trimmed = Docker::trimBlanks(reference);
    if (trimmed.isEmpty())
        co_return;
    // "--": a reference typed as "-h" or "--help" would otherwise print the client's help and exit 0,
    // a pull that never happened reported as done.
    auto task = act({QStringLiteral("pull"), QStringLiteral("--"), trimmed}, std::nullopt, m_runtime);
    co_await std::move(task);
}

QCoro::Task<> AppStore::tag(DockerImage image, QString reference)
{
    const QString trimmed = Docker::trimBlanks(reference);
    if (trimmed.isEmpty())
        co_return;
    auto task = act({QStringLiteral("tag"), image.ref(), trimmed}, std::nullopt, actingOn(image.runtime));
    co_await std::move(task);
}

QCoro::Task<> AppStore::remove(const DockerVolume& volume)
{
    return act({QStringLiteral("volume"), QStringLiteral("rm"), volume.name}, std::nullopt,
               actingOn(volume.runtime));
}

QCoro::Task<> AppStore::stopAll(const ComposeProject& project)
{
    return act(withIds(QStringLiteral("stop"), project.containers), std::nullopt, actingOn(project.runtime),
               project.name);
}

QCoro::Task<> AppStore::startAll(const ComposeProject& project)
{
    return act(withIds(QStringLiteral("start"), project.containers), std::nullopt, actingOn(project.runtime),
               project.name);
}

void AppStore::dismissError()
{
    setError(std::nullopt);
}

void AppStore::dismissNotice()
{
    setNotice(std::nullopt);
}

QString AppStore::changeKey(const QString& project, const std::optional<Runtime>& on)
{
    return Docker::runtimeId(on) + u'/' + project;
}

void AppStore::beginProjectChange(const QString& project, const std::optional<Runtime>& on)
{
    ProjectChange& change = m_projectChanges[changeKey(project, on)];
    change.runtime = Docker::runtimeId(on);
    ++change.underWay;
    change.since = m_usageLoads;
    emit projectChangesChanged();
}

void AppStore::endProjectChange(const QString& project, const std::optional<Runtime>& on)
{
    const auto change = m_projectChanges.find(changeKey(project, on));
    if (change == m_projectChanges.end())
        return;
    change->underWay = std::max(0, change->underWay - 1);
    // A measurement begun while the command ran may have seen it half done.
    change->since = m_usageLoads;
    setUsageAt(distantPast());
}

bool AppStore::freeableKnown(const ComposeProject& project) const
{
    return !m_projectChanges.contains(changeKey(project.name, actingOn(project.runtime)));
}

void AppStore::settleProjectChanges(const QString& runtime, qint64 load)
{
    const qsizetype before = m_projectChanges.size();
    m_projectChanges.removeIf([&](const QHash<QString, ProjectChange>::iterator& change) {
        return change->runtime == runtime && change->underWay == 0 && load > change->since;
    });
    if (m_projectChanges.size() != before)
        emit projectChangesChanged();
}
