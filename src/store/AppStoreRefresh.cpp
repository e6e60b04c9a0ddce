#include "store/AppStore.h"

#include "engine/Docker.h"
#include "engine/Listings.h"
#include "platform/Pools.h"
#include "platform/Settings.h"

#include <chrono>

using namespace std::chrono_literals;

namespace {

constexpr auto visiblePause = 2s;
constexpr auto hiddenPause = 10s;
constexpr auto firstStatsPause = 1s;
constexpr auto laterStatsPause = 5s;

// One refresh's listings, concatenated over the runtimes that answered, in scope order.
struct Fetched {
    QList<Container> containers;
    QList<DockerImage> images;
    QList<DockerVolume> volumes;
    // The containers each runtime of the scope listed (none for a silent one), in scope order.
    QList<QList<Container>> byRuntime;
    QStringList silent;
    // Set only when no runtime in scope answered: the last one's failure.
    std::optional<QString> failure;
};

QString nameOf(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() : QStringLiteral("the runtime");
}

template <typename T>
QList<T> joined(const QList<QList<T>>& parts)
{
    if (parts.size() == 1)
        return parts.first(); // shared, not copied
    qsizetype size = 0;
    for (const QList<T>& part : parts)
        size += part.size();
    QList<T> all;
    all.reserve(size);
    for (const QList<T>& part : parts)
        all.append(part);
    return all;
}

Fetched fetch(StoreEngine& engine, const QList<std::optional<Runtime>>& scope)
{
    Fetched fetched;
    QList<QList<DockerImage>> images;
    QList<QList<DockerVolume>> volumes;
    QString lastFailure;
    for (const std::optional<Runtime>& runtime : scope) {
        try {
            // One after the other: a runtime that fails its first listing is not asked again.
            QList<Container> containers = engine.containers(runtime);
            QList<DockerImage> imageList = engine.images(runtime);
            QList<DockerVolume> volumeList = engine.volumes(runtime);
            fetched.byRuntime.append(std::move(containers));
            images.append(std::move(imageList));
            volumes.append(std::move(volumeList));
        } catch (...) {
            fetched.byRuntime.append(QList<Container>());
            fetched.silent.append(nameOf(runtime));
            lastFailure = failureText(std::current_exception());
            // A client that fails without a word must not leave an empty error banner.
            if (lastFailure.trimmed().isEmpty())
                lastFailure = Docker::notAnswering(runtime);
        }
    }
    if (!fetched.silent.isEmpty() && fetched.silent.size() == scope.size())
        fetched.failure = lastFailure;
    fetched.containers = joined(fetched.byRuntime);
    fetched.images = joined(images);
    fetched.volumes = joined(volumes);
    return fetched;
}

QString notAnswering(const QStringList& silent)
{
    return silent.join(QStringLiteral(", ")) +
           (silent.size() == 1 ? QStringLiteral(" is") : QStringLiteral(" are")) +
           QStringLiteral(" not answering \u2014 showing the rest.");
}

} // namespace

bool AppStore::hasListed(const std::optional<Runtime>& runtime) const
{
    if (!m_listed || m_unanswered.contains(nameOf(runtime)))
        return false;
    return !m_showAll || m_listedScope.contains(runtime);
}

void AppStore::start()
{
    if (m_pollTask)
        return;
    setListed(false);
    loadContexts();
    m_pollTask.emplace(refreshLoop(QPointer<AppStore>(this)));
    m_statsTask.emplace(statsLoop(QPointer<AppStore>(this)));
    m_trashedTask.emplace(forgetTrashedProjects());
}

QCoro::Task<> AppStore::refreshLoop(QPointer<AppStore> store)
{
    while (store) {
        co_await store->refresh(false);
        if (!store)
            break;
        const StoreClock clock = store->m_clock;
        co_await clock.sleep(store->m_windowVisible ? visiblePause : hiddenPause);
    }
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

QCoro::Task<> AppStore::loadContexts()
{
    QPointer<AppStore> self(this);
    auto discovery = discover();
    const std::optional<Runtime> current = co_await std::move(discovery);
    if (!self)
        co_return;
    if (!m_runtime)
        setRuntime(current);
    else if (!m_showAll)
        handOver();
    co_await refresh(false);
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
    co_return found.current;
}

QCoro::Task<> AppStore::refresh(bool afterHandover)
{
    const Snapshot before = snapshot();
    const QList<std::optional<Runtime>> inScope = scope();
    // An empty listing of no runtime would pass for every runtime answering that it runs nothing.
    if (m_showAll && inScope.isEmpty() && !m_discovered)
        co_return;
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Every background job is made in a statement of its own, as Platform::onPool asks.
    auto job = Platform::onUtility([engine, inScope] { return fetch(*engine, inScope); });
    Fetched fetched = co_await job;
    if (!self || isStale(before))
        co_return;
    // With every runtime shown, a discovery that failed leaves nothing to ask and nothing else to say why.
    if (inScope.isEmpty() && m_discoveryFailure)
        fetched.failure = m_discoveryFailure;

    if (fetched.failure) {
        rederiveReachability();
        if (!afterHandover && !before.showAll && handOver()) {
            co_await refresh(true);
            co_return;
        }
        settle(fetched.failure);
        co_return;
    }

    setContainers(fetched.containers);
    setImages(fetched.images);
    setVolumes(fetched.volumes);
    m_listedScope = inScope;
    setListed(true);
    settle(std::nullopt);
    if (fetched.silent != m_unanswered) {
        setUnanswered(fetched.silent);
        if (!fetched.silent.isEmpty())
            setNotice(notAnswering(fetched.silent));
    }
    rederiveReachability();
    // A runtime's listing carries only its own containers, so it is the runtime's share as it stands.
    for (qsizetype i = 0; i < inScope.size(); ++i) {
        // One runtime's listing is the whole listing: grouped once for the screens and the registry.
        const QList<Container> share = fetched.byRuntime.value(i);
        remember(share == m_containers ? groups() : Docker::group(share), inScope[i]);
    }
    // Never waited for: a measurement may take minutes, or hang until its limit, and the listing keeps
    // its rhythm meanwhile. One under way is not begun again.
    if (m_windowVisible && usageIsDue() && !measuring())
        loadUsage();
}

void AppStore::refreshNow()
{
    if (!measuring())
        loadUsage(); // runs on by itself
    if (m_refreshingNow) {
        m_refreshAgain = true;
        return;
    }
    refreshFolded();
}

QCoro::Task<> AppStore::refreshFolded()
{
    QPointer<AppStore> self(this);
    m_refreshingNow = true;
    do {
        m_refreshAgain = false;
        co_await loadContexts();
        if (!self)
            co_return;
    } while (m_refreshAgain);
    m_refreshingNow = false;
}

bool AppStore::usageIsDue() const
{
    const qint64 elapsed = m_usageAt.msecsTo(m_clock.now());
    // A measurement dated in the future means the clock was put back; waiting for it to catch up
    // could keep the figures stale for hours.
    return elapsed > 30'000 || elapsed < 0;
}

void AppStore::rederiveReachability()
{
    QList<RuntimeEntry> fresh = m_runtimes;
    for (RuntimeEntry& entry : fresh)
        entry.reachable = m_engine->isReachable(entry.endpoint);
    setRuntimes(fresh);
}

bool AppStore::handOver()
{
    const std::optional<Runtime> next = Docker::handover(m_runtime, m_runtimes);
    if (!next)
        return false;
    const QString old = Docker::runtimeId(m_runtime);
    setRuntime(next);
    setContainers({});
    setImages({});
    setVolumes({});
    setListed(false);
    setUsage(std::nullopt);
    setUsageAt(distantPast());
    setUsageFailed(false);
    forgetStats();
    settle(std::nullopt);
    setNotice(old + QStringLiteral(" is not answering \u2014 switched to ") + next->id() + u'.');
    return true;
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
    setShowAll(all);
    m_defaults.setValue(QString::fromLatin1(showAllKey), all);
    setContainers({});
    setImages({});
    setVolumes({});
    setListed(false);
    setUsage(std::nullopt);
    setUsageAt(distantPast());
    setUsageFailed(false);
    setUnanswered({});
    forgetStats();
    co_await refresh(false);
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

void AppStore::keepRegistry(const ProjectRegistry& registry)
{
    setRegistry(registry);
    registry.save(m_defaults);
}
