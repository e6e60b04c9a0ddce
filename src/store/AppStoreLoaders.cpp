#include "store/AppStore.h"

#include "engine/Listings.h"
#include "platform/Pools.h"

#include <QHash>

#include <algorithm>

namespace {

struct Sampled {
    LiveStats stats;
    QMap<QString, CPUSample> samples;
};

// One statistics pass over the scope. Runtimes that give nothing are left out, and with them their
// processor samples, so a runtime that comes back starts measuring afresh.
std::optional<Sampled> sample(StoreEngine& engine, const std::function<QDateTime()>& now,
                              const QList<std::optional<Runtime>>& scope,
                              const QHash<QString, QString>& endpoints,
                              const QMap<QString, CPUSample>& previous)
{
    std::optional<LiveStats> merged;
    QMap<QString, CPUSample> samples;
    for (const std::optional<Runtime>& runtime : scope) {
        const QString key = Docker::runtimeId(runtime);
        const auto endpoint = endpoints.constFind(key);
        const bool apple = (runtime && runtime->isSocket()) ||
                           (endpoint != endpoints.cend() && endpoint->contains(u"socktainer"));
        const CPUSample before = previous.value(key, CPUSample::initial());
        LiveStats stats;
        CPUSample after = before;
        try {
            if (apple) {
                const std::optional<QString> out = engine.appleStats();
                if (!out)
                    continue;
                Docker::ContainerStatsReading reading = Docker::parseContainerStats(*out, before, now());
                stats = std::move(reading.stats);
                after = std::move(reading.sample);
            } else {
                const std::optional<QString> out = engine.dockerStats(runtime);
                if (!out)
                    continue;
                stats = Docker::parseDockerStats(*out);
            }
        } catch (...) {
            continue; // as silent as a command that printed nothing
        }
        merged = merged ? merged->merging(stats) : stats;
        samples.insert(key, after);
    }
    if (!merged)
        return std::nullopt;
    return Sampled{*merged, samples};
}

} // namespace

QCoro::Task<> AppStore::loadUsage()
{
    const Snapshot before = snapshot();
    const QList<std::optional<Runtime>> inScope = answeringScope();
    setUsageAt(m_clock.now());
    const qint64 load = ++m_usageLoads;
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Made apart from the co_await, as Platform::onPool asks.
    auto job = Platform::onUtility([engine, inScope] {
        std::optional<DiskUsage> merged;
        for (const std::optional<Runtime>& runtime : inScope) {
            try {
                // Filed by runtime, so that a card reads its own engine's figures for a name that
                // another engine uses too.
                const DiskUsage usage = engine->usage(runtime).measuredOn(runtime);
                merged = merged ? merged->merging(usage) : usage;
            } catch (...) {
                // left out of the sum; the others still count
            }
        }
        return merged;
    });
    const std::optional<DiskUsage> measured = co_await job;
    if (!self || !measured || isStale(before) || load < m_usageLoad)
        co_return;
    m_usageLoad = load;
    setUsage(measured);
    settleProjectChanges();
}

QCoro::Task<> AppStore::loadStats()
{
    const Snapshot before = snapshot();
    const QList<std::optional<Runtime>> inScope = answeringScope();
    QHash<QString, QString> endpoints;
    for (const RuntimeEntry& entry : std::as_const(m_runtimes))
        if (!endpoints.contains(entry.id()))
            endpoints.insert(entry.id(), entry.endpoint);
    const QMap<QString, CPUSample> previous = m_cpuSamples;
    setStatsAsked(m_statsAsked + 1);

    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    const std::function<QDateTime()> now = m_clock.now;
    auto job = Platform::onUtility([engine, now, inScope, endpoints, previous] {
        return sample(*engine, now, inScope, endpoints, previous);
    });
    const std::optional<Sampled> sampled = co_await job;
    if (!self || isStale(before))
        co_return;
    if (sampled) {
        setStats(sampled->stats);
        setCpuSamples(sampled->samples);
    } else {
        setStats(std::nullopt);
        setCpuSamples({});
    }
}

QCoro::Task<> AppStore::loadAddresses()
{
    const QList<std::optional<Runtime>> inScope = scope();
    if (std::none_of(inScope.cbegin(), inScope.cend(),
                     [this](const auto& runtime) { return isApple(runtime); })) {
        setAddresses({});
        co_return;
    }
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUtility([engine]() -> std::optional<QMap<QString, QString>> {
        try {
            const std::optional<QString> out = engine->appleAddresses();
            if (out)
                return Docker::parseAddresses(*out);
        } catch (...) {
        }
        return std::nullopt;
    });
    const std::optional<QMap<QString, QString>> found = co_await job;
    // Kept even when the shown runtime changed meanwhile: switching empties the map, and the next
    // pass puts right what this one brought.
    if (!self || !found)
        co_return;
    setAddresses(*found);
}

void AppStore::forgetStats()
{
    setStats(std::nullopt);
    setCpuSamples({});
    setStatsAsked(0);
    setAddresses({});
}
