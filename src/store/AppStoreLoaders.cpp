#include "store/AppStore.h"

#include "engine/Listings.h"
#include "platform/Pools.h"

#include <QFutureWatcher>
#include <QHash>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

// One runtime's statistics in one pass, and its processor sample after it.
struct Sampled {
    LiveStats stats;
    CPUSample sample;
};

// Nothing when the runtime gave nothing: it is then left out of the pass, and with it its processor
// sample, so a runtime that comes back starts measuring afresh.
std::optional<Sampled> sample(StoreEngine& engine, const std::function<QDateTime()>& now,
                              const std::optional<Runtime>& runtime, bool apple, const CPUSample& before)
{
    try {
        if (apple) {
            const std::optional<QString> out = engine.appleStats();
            if (!out)
                return std::nullopt;
            Docker::ContainerStatsReading reading = Docker::parseContainerStats(*out, before, now());
            return Sampled{std::move(reading.stats), std::move(reading.sample)};
        }
        const std::optional<QString> out = engine.dockerStats(runtime);
        if (!out)
            return std::nullopt;
        return Sampled{Docker::parseDockerStats(*out), before};
    } catch (...) {
        return std::nullopt; // as silent as a command that printed nothing
    }
}

} // namespace

QCoro::Task<> AppStore::loadUsage(bool afresh)
{
    const QList<std::optional<Runtime>> inScope = answeringScope();
    setUsageAt(m_clock.now());
    const qint64 load = ++m_usageLoads;
    QPointer<AppStore> self(this);
    QList<Measurement> parts;
    for (const std::optional<Runtime>& runtime : inScope) {
        bool answers = true;
        if (afresh) {
            // What the caller changed may have come after the start of the one under way. One that came
            // back without figures says the runtime does not answer them: it is not asked again now.
            for (auto under = m_measuring.constFind(Docker::runtimeId(runtime));
                 answers && under != m_measuring.cend() && under->load < load && !under->result.isFinished();
                 under = m_measuring.constFind(Docker::runtimeId(runtime))) {
                const Measurement earlier = *under;
                answers = (co_await earlier.result).has_value();
                if (!self)
                    co_return;
                take(earlier);
            }
        }
        if (answers)
            parts << measure(runtime, load);
    }
    // Each is taken as it ends, whichever runtime ends first; a runtime that hangs until its limit
    // holds no other's figures back.
    for (const Measurement& part : std::as_const(parts)) {
        co_await part.result;
        if (!self)
            co_return;
        take(part);
    }
}

AppStore::Measurement AppStore::measure(const std::optional<Runtime>& runtime, qint64 load)
{
    const QString key = Docker::runtimeId(runtime);
    const auto under = m_measuring.constFind(key);
    if (under != m_measuring.cend())
        return *under;
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Apart from the polling: a measurement that hangs until its limit takes no thread a listing needs.
    const Measurement measurement{runtime, load,
                                  QtConcurrent::run(Platform::Pools::measuring(),
                                                    [engine, runtime]() -> std::optional<DiskUsage> {
                                                        try {
                                                            return engine->usage(runtime).measuredOn(runtime);
                                                        } catch (...) {
                                                            return std::nullopt;
                                                        }
                                                    }),
                                  std::make_shared<bool>(false)};
    const bool was = awaitingUsage();
    m_measuring.insert(key, measurement);
    // Taken as soon as it ends, also while the load that began it still waits for other runtimes, and
    // when nobody waits for it at all.
    auto* watcher = new QFutureWatcher<std::optional<DiskUsage>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, measurement] {
        watcher->deleteLater();
        take(measurement);
    });
    watcher->setFuture(measurement.result);
    if (awaitingUsage() != was)
        emit awaitingUsageChanged();
    return measurement;
}

void AppStore::take(const Measurement& measurement)
{
    if (std::exchange(*measurement.taken, true))
        return;
    const QString key = Docker::runtimeId(measurement.runtime);
    const bool before = awaitingUsage();
    const auto under = m_measuring.constFind(key);
    if (under != m_measuring.cend() && under->taken == measurement.taken)
        m_measuring.erase(under);
    m_measuredAt.insert(key, m_clock.now());
    // Filed by runtime, its figures stand for that runtime in any scope that shows it.
    if (answeringScope().contains(measurement.runtime)) {
        const std::optional<DiskUsage> figures = measurement.result.result();
        if (figures)
            m_usageParts.insert(key, *figures);
        else
            m_usageParts.remove(key); // no longer current
        composeUsage();
        // A runtime that did not answer leaves the others' figures standing; without any, nothing stands.
        m_usageFailed = !m_usage;
        if (figures)
            settleProjectChanges(key, measurement.load);
    }
    if (awaitingUsage() != before)
        emit awaitingUsageChanged();
}

void AppStore::composeUsage()
{
    std::optional<DiskUsage> merged;
    for (const std::optional<Runtime>& runtime : scope()) {
        const auto part = m_usageParts.constFind(Docker::runtimeId(runtime));
        if (part == m_usageParts.cend() || isSilent(runtime))
            continue;
        // A name on two runtimes keeps the figures of the earlier one in scope order.
        merged = merged ? merged->merging(*part) : *part;
    }
    setUsage(merged);
}

bool AppStore::awaitingUsage() const
{
    if (m_usageFailed)
        return false;
    // A runtime of the scope that answered is being measured.
    const QList<std::optional<Runtime>> inScope = answeringScope();
    return std::any_of(inScope.cbegin(), inScope.cend(), [this](const std::optional<Runtime>& runtime) {
        return m_measuring.contains(Docker::runtimeId(runtime));
    });
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
    // Every runtime at once: one that hangs until its limit holds the others up by no more than that.
    QList<QFuture<std::optional<Sampled>>> passes;
    for (const std::optional<Runtime>& runtime : inScope) {
        const QString key = Docker::runtimeId(runtime);
        const auto endpoint = endpoints.constFind(key);
        const bool apple = (runtime && runtime->isSocket()) ||
                           (endpoint != endpoints.cend() && endpoint->contains(u"socktainer"));
        const CPUSample last = previous.value(key, CPUSample::initial());
        passes << QtConcurrent::run(Platform::Pools::utility(), [engine, now, runtime, apple, last] {
            return sample(*engine, now, runtime, apple, last);
        });
    }
    std::optional<LiveStats> merged;
    QMap<QString, CPUSample> samples;
    for (qsizetype i = 0; i < passes.size(); ++i) {
        const std::optional<Sampled> sampled = co_await passes[i];
        if (!self)
            co_return;
        if (!sampled)
            continue;
        // The earlier runtime's figures win for a name both list.
        merged = merged ? merged->merging(sampled->stats) : sampled->stats;
        samples.insert(Docker::runtimeId(inScope[i]), sampled->sample);
    }
    if (isStale(before))
        co_return;
    setStats(merged);
    setCpuSamples(samples);
}

QCoro::Task<> AppStore::loadAddresses()
{
    const QList<std::optional<Runtime>> inScope = scope();
    const auto apple = [this](const auto& runtime) { return isApple(runtime); };
    if (std::none_of(inScope.cbegin(), inScope.cend(), apple)) {
        setAddresses({});
        co_return;
    }
    // Apple's runtime, while its listing does not answer, would only wait out the limit again.
    const QList<std::optional<Runtime>> answering = answeringScope();
    if (std::none_of(answering.cbegin(), answering.cend(), apple))
        co_return;
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
