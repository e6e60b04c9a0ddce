#include "store/AppStore.h"

#include "engine/Listings.h"
#include "platform/Pools.h"

#include <QFutureWatcher>
#include <QHash>
#include <QtConcurrent/QtConcurrentRun>

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

QCoro::Task<> AppStore::loadUsage(bool afresh)
{
    const Snapshot before = snapshot();
    const QList<std::optional<Runtime>> inScope = answeringScope();
    setUsageAt(m_clock.now());
    const qint64 load = ++m_usageLoads;
    QPointer<AppStore> self(this);
    // The oldest measurement this load's figures come from.
    qint64 begun = load;
    QList<Measurement> parts;
    QList<std::optional<Runtime>> measured;
    for (const std::optional<Runtime>& runtime : inScope) {
        bool answers = true;
        if (afresh) {
            // What the caller changed may have come after the start of the one under way. One that came
            // back without figures says the runtime does not answer them: it is not asked again now.
            for (auto under = m_measuring.constFind(Docker::runtimeId(runtime));
                 answers && under != m_measuring.cend() && under->load < load && !under->result.isFinished();
                 under = m_measuring.constFind(Docker::runtimeId(runtime))) {
                QFuture<std::optional<DiskUsage>> earlier = under->result;
                answers = (co_await earlier).has_value();
                if (!self)
                    co_return;
            }
        }
        if (!answers)
            continue;
        const Measurement measurement = measure(runtime, load);
        begun = std::min(begun, measurement.load);
        parts << measurement;
        measured << runtime;
    }
    std::optional<DiskUsage> merged;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        // Filed by runtime, so that a card reads its own engine's figures for a name that another
        // engine uses too. A runtime that did not answer is left out of the sum; the others still count.
        const std::optional<DiskUsage> usage = co_await parts[i].result;
        if (!self)
            co_return;
        letGo(Docker::runtimeId(measured[i]), parts[i].load);
        if (usage)
            merged = merged ? merged->merging(*usage) : *usage;
    }
    if (isStale(before) || begun < m_usageLoad)
        co_return;
    setUsageFailed(!merged);
    if (!merged)
        co_return;
    m_usageLoad = begun;
    setUsage(merged);
    settleProjectChanges();
}

AppStore::Measurement AppStore::measure(const std::optional<Runtime>& runtime, qint64 load)
{
    const QString key = Docker::runtimeId(runtime);
    const auto under = m_measuring.constFind(key);
    if (under != m_measuring.cend() && !under->result.isFinished())
        return *under;
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Apart from the polling: a measurement that hangs until its limit takes no thread a listing needs.
    const Measurement measurement{
        load, QtConcurrent::run(Platform::Pools::measuring(), [engine, runtime]() -> std::optional<DiskUsage> {
            try {
                return engine->usage(runtime).measuredOn(runtime);
            } catch (...) {
                return std::nullopt;
            }
        })};
    const bool was = awaitingUsage();
    m_measuring.insert(key, measurement);
    // Let go of as soon as it ends, also while the load that began it still waits for other runtimes.
    auto* watcher = new QFutureWatcher<std::optional<DiskUsage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, key, load] {
        watcher->deleteLater();
        letGo(key, load);
    });
    watcher->setFuture(measurement.result);
    if (awaitingUsage() != was)
        emit awaitingUsageChanged();
    return measurement;
}

void AppStore::letGo(const QString& runtime, qint64 load)
{
    const auto ended = m_measuring.constFind(runtime);
    if (ended == m_measuring.cend() || ended->load != load)
        return;
    const bool before = awaitingUsage();
    m_measuring.erase(ended);
    if (awaitingUsage() != before)
        emit awaitingUsageChanged();
}

bool AppStore::measuring() const
{
    const QList<std::optional<Runtime>> inScope = answeringScope();
    return std::any_of(inScope.cbegin(), inScope.cend(), [this](const std::optional<Runtime>& runtime) {
        return m_measuring.contains(Docker::runtimeId(runtime));
    });
}

bool AppStore::awaitingUsage() const
{
    return !m_usageFailed && measuring();
}

void AppStore::setUsageFailed(bool failed)
{
    const bool before = awaitingUsage();
    m_usageFailed = failed;
    if (awaitingUsage() != before)
        emit awaitingUsageChanged();
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
