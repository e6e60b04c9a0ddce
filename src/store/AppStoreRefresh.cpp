#include "store/AppStore.h"

#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/Pools.h"
#include "platform/Settings.h"

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr auto visiblePause = 2s;
constexpr auto hiddenPause = 10s;
constexpr auto firstStatsPause = 1s;
constexpr auto laterStatsPause = 5s;

} // namespace

void AppStore::start()
{
    if (m_pollTask)
        return;
    setListed(false);
    rediscover(false);
    m_pollTask.emplace(refreshLoop(QPointer<AppStore>(this)));
    m_statsTask.emplace(statsLoop(QPointer<AppStore>(this)));
    m_trashedTask.emplace(forgetTrashedProjects());
}

// Each beat asks every runtime in scope for its listing but waits for none: a runtime that takes its
// whole limit to fail holds only its own listing, and the others keep this rhythm.
QCoro::Task<> AppStore::refreshLoop(QPointer<AppStore> store)
{
    while (store) {
        store->beat();
        const StoreClock clock = store->m_clock;
        co_await clock.sleep(store->m_windowVisible ? visiblePause : hiddenPause);
    }
}

void AppStore::beat()
{
    // Until the runtimes are known there is nothing to list; the first discovery lists what it finds.
    if (!m_discovered)
        return;
    const QList<std::optional<Runtime>> inScope = scope();
    for (const std::optional<Runtime>& runtime : inScope)
        askFor(runtime, false, false);
    // With nothing in scope no listing looks at the endpoints: a socket that comes back is seen here.
    if (inScope.isEmpty())
        lookAgainAtReachability();
    lookAtContexts();
}

QCoro::Task<> AppStore::statsLoop(QPointer<AppStore> store)
{
    while (store) {
        if (store->m_windowVisible && store->runningCount() > 0) {
            co_await store->loadStats();
            if (!store)
                break;
            co_await store->loadAddresses();
            if (!store)
                break;
        } else if (store->runningCount() == 0) {
            // With the window hidden but containers running, the last figures stay for the menu bar.
            store->setStats(std::nullopt);
        }
        const StoreClock clock = store->m_clock;
        co_await clock.sleep(store->m_statsAsked > 1 ? laterStatsPause : firstStatsPause);
    }
}

QCoro::Task<std::optional<QByteArray>> AppStore::contextsNow() const
{
    const QString folder = m_engine->contextsFolder();
    if (folder.isEmpty())
        co_return std::nullopt;
    auto look = Platform::lookAtFolderFor(folder, Docker::Looks::contexts(folder, Docker::appleSocketPath()));
    co_return co_await std::move(look);
}

QCoro::Task<> AppStore::loadContexts()
{
    QPointer<AppStore> self(this);
    auto look = contextsNow();
    const std::optional<QByteArray> seen = co_await std::move(look);
    if (!self)
        co_return;
    co_await discoverFrom(seen);
}

QCoro::Task<> AppStore::discoverFrom(std::optional<QByteArray> seen)
{
    QPointer<AppStore> self(this);
    if (seen)
        m_contextsSeen = seen;
    auto discovery = discover();
    const std::optional<Runtime> current = co_await std::move(discovery);
    if (!self)
        co_return;
    // All runtimes with one left (the others' contexts removed) is that runtime: what the window does
    // (pulling, logging in) is done on it, and it shows as itself, also after a restart.
    if (m_showAll && !m_discoveryFailure && m_runtimes.size() == 1) {
        setRuntime(m_runtimes.first().runtime);
        takeShowAll(false);
    } else if (!m_runtime) {
        setRuntime(current);
    } else if (!m_showAll) {
        handOver();
    }
    keepToScope();
    co_await refresh(false);
}

QCoro::Task<> AppStore::refreshContexts()
{
    QPointer<AppStore> self(this);
    auto look = contextsNow();
    const std::optional<QByteArray> seen = co_await std::move(look);
    if (!self)
        co_return;
    // What discovery reads is as it was: the contexts it would list are those it listed.
    if (m_contextsSeen && seen && seen == m_contextsSeen) {
        co_await refresh(false);
        co_return;
    }
    co_await discoverFrom(seen);
}

QCoro::Task<> AppStore::lookAtContexts()
{
    // Compared with what the last discovery read; none while the first is under way.
    if (m_lookingAtContexts || !m_contextsSeen)
        co_return;
    m_lookingAtContexts = true;
    QPointer<AppStore> self(this);
    auto look = contextsNow();
    const std::optional<QByteArray> seen = co_await std::move(look);
    if (!self)
        co_return;
    m_lookingAtContexts = false;
    if (seen && seen != m_contextsSeen)
        rediscover(false);
}

QCoro::Task<std::optional<Runtime>> AppStore::discover()
{
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    Docker::Discovery found;
    std::optional<QString> failure;
    try {
        auto job = Platform::onUtility([engine] { return engine->runtimes(); });
        found = co_await job;
    } catch (...) {
        // The refresh that follows runs on what was shown and reports its own failure.
        found = {};
        failure = failureText(std::current_exception());
    }
    if (!self)
        co_return std::nullopt;
    m_discoveryFailure = failure;
    setRuntimes(found.list);
    if (!failure)
        forgetVanished();
    co_return found.current;
}

QCoro::Task<> AppStore::refresh(bool afterHandover)
{
    const QList<std::optional<Runtime>> inScope = scope();
    // An empty listing of no runtime would pass for every runtime answering that it runs nothing.
    if (m_showAll && inScope.isEmpty() && !m_discovered)
        co_return;
    QPointer<AppStore> self(this);
    if (inScope.isEmpty()) {
        // Every runtime shown and none reachable: nobody to ask, which is no failure, unless the
        // discovery failed and leaves nothing else to say why.
        lookAgainAtReachability();
        if (m_discoveryFailure) {
            settle(m_discoveryFailure);
            co_return;
        }
        composeLists(false);
        setListed(true);
        settle(std::nullopt);
        co_return;
    }
    QList<QFuture<void>> awaited;
    for (const std::optional<Runtime>& runtime : inScope) {
        const bool silent = isSilent(runtime);
        QFuture<void> answered = askFor(runtime, afterHandover, true);
        if (!silent)
            awaited << answered;
    }
    for (const QFuture<void>& answered : std::as_const(awaited)) {
        co_await answered;
        if (!self)
            co_return;
    }
}

void AppStore::refreshNow()
{
    // Each runtime on its own: one being measured, or measured moments ago, is not measured again.
    const QDateTime now = m_clock.now();
    bool measured = false;
    for (const std::optional<Runtime>& runtime : answeringScope()) {
        const QString key = Docker::runtimeId(runtime);
        if (m_measuring.contains(key))
            continue;
        const auto last = m_measuredAt.constFind(key);
        if (last != m_measuredAt.cend() && last->msecsTo(now) >= 0 &&
            last->msecsTo(now) < std::chrono::milliseconds(pressMeasuringPause).count())
            continue;
        if (!measured)
            setUsageAt(now);
        measured = true;
        measure(runtime, ++m_usageLoads); // taken into usage as it ends
    }
    rediscover(true);
}

void AppStore::rediscover(bool pressed)
{
    if (pressed)
        setPressWaits(true);
    if (m_rediscovering) {
        m_rediscoverAgain = true;
        return;
    }
    rediscoverFolded(); // runs on by itself
}

QCoro::Task<> AppStore::rediscoverFolded()
{
    QPointer<AppStore> self(this);
    m_rediscovering = true;
    do {
        m_rediscoverAgain = false;
        // A press made from here on waits for the next round.
        const bool pressed = m_pressWaits;
        co_await refreshContexts();
        if (!self)
            co_return;
        if (pressed && !m_rediscoverAgain)
            setPressWaits(false);
    } while (m_rediscoverAgain);
    m_rediscovering = false;
    setPressWaits(false);
}

bool AppStore::usageIsDue() const
{
    const qint64 elapsed = m_usageAt.msecsTo(m_clock.now());
    // A measurement dated in the future means the clock was put back; waiting for it to catch up
    // could keep the figures stale for hours.
    return elapsed > 30'000 || elapsed < 0;
}

bool AppStore::handOver()
{
    const std::optional<Runtime> next = Docker::handover(m_runtime, m_runtimes);
    if (!next)
        return false;
    const QString old = Docker::runtimeId(m_runtime);
    setRuntime(next);
    switchScope();
    settle(std::nullopt);
    setNotice(old + QStringLiteral(" is not answering \u2014 switched to ") + next->id() + u'.');
    return true;
}

void AppStore::switchScope()
{
    m_shares.clear();
    setContainers({});
    setImages({});
    setVolumes({});
    setListed(false);
    m_usageParts.clear();
    setUsage(std::nullopt);
    setUsageAt(distantPast());
    setUsageFailed(false);
    forgetStats();
    keepToScope();
}

void AppStore::settle(const std::optional<QString>& refreshFailure)
{
    if (refreshFailure) {
        setError(refreshFailure);
        setRefreshError(refreshFailure);
        return;
    }
    if (m_refreshError && m_error == m_refreshError)
        setError(std::nullopt);
    setRefreshError(std::nullopt);
}

QCoro::Task<> AppStore::show(bool all)
{
    takeShowAll(all);
    co_await refresh(false);
}

void AppStore::takeShowAll(bool all)
{
    setShowAll(all);
    m_defaults.setValue(QString::fromLatin1(showAllKey), all);
    switchScope();
    setUnanswered({});
}

QCoro::Task<> AppStore::select(QString tag)
{
    if (tag == allRuntimesTag()) {
        co_await show(true);
        co_return;
    }
    const auto entry = std::find_if(m_runtimes.cbegin(), m_runtimes.cend(),
                                    [&tag](const RuntimeEntry& e) { return e.runtime.id() == tag; });
    if (entry == m_runtimes.cend())
        co_return;
    setRuntime(entry->runtime);
    co_await show(false);
}

void AppStore::remember(const QList<ComposeProject>& projects, const std::optional<Runtime>& runtime)
{
    ProjectRegistry recorded = m_registry;
    recorded.record(projects, runtime ? std::optional<QString>(runtime->id()) : std::nullopt);
    if (recorded == m_registry)
        return;
    keepRegistry(recorded);
}

void AppStore::askForMounts(const QList<ComposeProject>& projects, const std::optional<Runtime>& runtime)
{
    // The next listing asks for what changed meanwhile.
    if (!runtime || m_askingMounts.contains(runtime->id()))
        return;
    // A question of the engine's is bounded by its listing limit; so many containers at once fit in it.
    constexpr qsizetype mostAskedAtOnce = 200;
    QHash<QString, QStringList>& askedOf = m_mountsAsked[runtime->id()];
    QMap<QString, QStringList> changed;
    qsizetype asked = 0;
    for (const ComposeProject& project : projects) {
        if (project.containers.isEmpty())
            continue;
        // Nothing is made or looked up while its containers stay the same, which is on almost every
        // listing.
        const auto last = askedOf.constFind(project.name);
        if (last != askedOf.cend() &&
            std::equal(last->cbegin(), last->cend(), project.containers.cbegin(), project.containers.cend(),
                       [](const QString& id, const Container& container) { return id == container.id; }))
            continue;
        if (!m_registry.knows(project.name, runtime->id()))
            continue;
        QStringList ids;
        for (const Container& container : project.containers)
            ids << container.id;
        if (!changed.isEmpty() && asked + ids.size() > mostAskedAtOnce)
            break;
        asked += ids.size();
        askedOf.insert(project.name, ids);
        changed.insert(project.name, ids);
    }
    if (changed.isEmpty())
        return;
    m_askingMounts.insert(runtime->id());
    learnMounts(*runtime, changed); // runs on by itself
}

QCoro::Task<> AppStore::learnMounts(Runtime runtime, QMap<QString, QStringList> idsByProject)
{
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    QStringList ids;
    for (const QStringList& of : std::as_const(idsByProject))
        ids << of;
    auto job =
        Platform::onUtility([engine, ids, runtime] { return engine->bindSources(ids, runtime, nullptr); });
    const std::optional<Docker::BindMap> binds = co_await std::move(job);
    if (!self)
        co_return;
    m_askingMounts.remove(runtime.id());
    ProjectRegistry changed = m_registry;
    for (auto project = idsByProject.cbegin(); project != idsByProject.cend(); ++project) {
        // Asked again with the next listing.
        if (!binds) {
            m_mountsAsked[runtime.id()].remove(project.key());
            continue;
        }
        // A container gone since it was listed changes the project's, which are asked for anew: what
        // the others bind is not all the project had mounted.
        QStringList paths;
        bool whole = true;
        for (const QString& id : project.value()) {
            whole = whole && binds->contains(id);
            paths << binds->value(id);
        }
        if (whole)
            changed.recordMounts(project.key(), paths, runtime.id());
    }
    if (changed != m_registry)
        keepRegistry(changed);
}

void AppStore::keepRegistry(const ProjectRegistry& registry)
{
    setRegistry(registry);
    registry.save(m_defaults);
}
