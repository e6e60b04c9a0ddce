#include "store/AppStore.h"

#include "engine/Docker.h"
#include "engine/Listings.h"
#include "platform/Pools.h"

#include <algorithm>

namespace {

QString nameOf(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() : QStringLiteral("the runtime");
}

// `rest`: whether other runtimes are shown meanwhile.
QString notAnswering(const QStringList& silent, bool rest)
{
    return silent.join(QStringLiteral(", ")) +
           (silent.size() == 1 ? QStringLiteral(" is") : QStringLiteral(" are")) +
           (rest ? QStringLiteral(" not answering \u2014 showing the rest.")
                 : QStringLiteral(" not answering."));
}

QStringList endpointsOf(const QList<RuntimeEntry>& runtimes)
{
    QStringList endpoints;
    for (const RuntimeEntry& entry : runtimes)
        endpoints << entry.endpoint;
    return endpoints;
}

template <typename T>
void append(QList<T>& all, const QList<T>& part)
{
    if (all.isEmpty())
        all = part; // shared, not copied
    else
        all.append(part);
}

} // namespace

bool AppStore::hasListed(const std::optional<Runtime>& runtime) const
{
    if (!m_listed || m_unanswered.contains(nameOf(runtime)))
        return false;
    return !m_showAll || m_shares.contains(Docker::runtimeId(runtime));
}

bool AppStore::listingUnderWay() const
{
    return m_listings.running();
}

QFuture<void> AppStore::askFor(const std::optional<Runtime>& runtime, bool afterHandover, bool fresh)
{
    const QString key = Docker::runtimeId(runtime);
    const OneAtATime::Ask asked = m_listings.ask(key, fresh);
    if (afterHandover)
        m_nextAfterHandover.insert(key);
    if (asked.begin)
        runListings(runtime); // runs on by itself, and has begun its listing when it returns
    return asked.ended;
}

QCoro::Task<> AppStore::runListings(std::optional<Runtime> runtime)
{
    QPointer<AppStore> self(this);
    const QString key = Docker::runtimeId(runtime);
    for (;;) {
        const bool afterHandover = m_nextAfterHandover.remove(key);
        const qint64 number = m_listings.begin(key);
        co_await listOnce(runtime, afterHandover);
        if (!self || !m_listings.end(key, number))
            co_return;
    }
}

QCoro::Task<> AppStore::listOnce(std::optional<Runtime> runtime, bool afterHandover)
{
    const Snapshot before = snapshot();
    const std::optional<QByteArray> contextsBefore = m_contextsSeen;
    const QStringList endpoints = endpointsOf(m_runtimes);
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Every background job is made in a statement of its own, as Platform::onPool asks.
    auto job = Platform::onUtility(
        [engine, runtime, endpoints] { return listRuntime(*engine, runtime, endpoints); });
    ListingAnswer answer = co_await std::move(job);
    // A context removed since the last discovery fails its listing too, and is no runtime that does not
    // answer: when the context folder changed since the listing began, what discovery finds there decides,
    // and the listings after it are judged instead.
    if (self && !answer.share && contextsBefore) {
        auto look = contextsNow();
        const std::optional<QByteArray> seen = co_await std::move(look);
        if (self && seen && seen != contextsBefore) {
            rediscover(false);
            co_return;
        }
    }
    if (!self || isStale(before) || !scope().contains(runtime))
        co_return; // a dropped result changes nothing at all
    co_await takeAnswer(runtime, std::move(answer), afterHandover);
}

QCoro::Task<> AppStore::takeAnswer(std::optional<Runtime> runtime, ListingAnswer answer, bool afterHandover)
{
    const QString key = Docker::runtimeId(runtime);
    if (answer.share) {
        const QList<Container> containers = answer.share->containers;
        m_shares.insert(key, std::move(*answer.share));
        m_failures.remove(key);
        setSilent(key, false);
        takeReachability(answer.reachable);
        composeLists(false);
        if (!scope().contains(runtime))
            co_return; // its socket went as it answered
        // A runtime's listing carries only its own containers, so it is the runtime's share as it stands.
        const QList<ComposeProject> projects =
            containers == m_containers ? groups() : Docker::group(containers);
        remember(projects, runtime);
        askForMounts(projects, runtime);
        // Never waited for: a measurement may take minutes, or hang until its limit, and the listing
        // keeps its rhythm meanwhile. A runtime being measured is not measured again.
        if (m_windowVisible && usageIsDue())
            loadUsage();
        co_return;
    }

    m_failures.insert(key, answer.failure);
    setSilent(key, true);
    // Its figures are not current while it does not answer.
    if (m_usageParts.remove(key))
        composeUsage();
    takeReachability(answer.reachable);
    if (!m_showAll && !afterHandover && handOver()) {
        co_await refresh(true);
        co_return;
    }
    composeLists(true);
    if (m_showAll && scope().contains(runtime) && !answeringScope().isEmpty())
        remember({}, runtime);
}

void AppStore::composeLists(bool failed)
{
    const QList<std::optional<Runtime>> inScope = scope();
    QStringList silent;
    QString lastFailure;
    for (const std::optional<Runtime>& runtime : inScope) {
        if (!isSilent(runtime))
            continue;
        silent << nameOf(runtime);
        lastFailure = m_failures.value(Docker::runtimeId(runtime));
    }
    if (!inScope.isEmpty() && silent.size() == inScope.size()) {
        // The refresh as a whole failed: the lists stay as they were, and the error says why.
        settle(lastFailure);
        return;
    }
    QList<Container> containers;
    QList<DockerImage> images;
    QList<DockerVolume> volumes;
    bool answered = false;
    for (const std::optional<Runtime>& runtime : inScope) {
        const QString key = Docker::runtimeId(runtime);
        if (isSilent(runtime)) {
            m_shares.remove(key); // nothing of a runtime that did not answer is shown
            continue;
        }
        const auto share = m_shares.constFind(key);
        if (share == m_shares.cend())
            continue; // its first answer is still on its way
        answered = true;
        append(containers, share->containers);
        append(images, share->images);
        append(volumes, share->volumes);
    }
    setContainers(containers);
    setImages(images);
    setVolumes(volumes);
    if (answered) {
        setListed(true);
        settle(std::nullopt);
    }
    // An answer only takes its runtime off the list: one still silent may be about to answer too, and
    // is named once its own listing has failed. With all shown, one whose socket is gone is never asked,
    // so it is named as soon as it is seen so.
    QStringList named;
    const auto name = [&](const QString& runtime, bool offline) {
        if (offline || (silent.contains(runtime) && (failed || m_unanswered.contains(runtime))))
            named << runtime;
    };
    if (m_showAll) {
        for (const RuntimeEntry& entry : std::as_const(m_runtimes))
            name(entry.runtime.id(), !entry.reachable);
    } else {
        for (const std::optional<Runtime>& runtime : inScope)
            name(nameOf(runtime), false);
    }
    if (named == m_unanswered)
        return;
    const bool newlyNamed = std::any_of(named.cbegin(), named.cend(), [this](const QString& runtime) {
        return !m_unanswered.contains(runtime);
    });
    setUnanswered(named);
    if (!named.isEmpty() && (failed || newlyNamed))
        setNotice(notAnswering(named, named.size() < m_runtimes.size() || !m_showAll));
}

void AppStore::forgetVanished()
{
    // A runtime whose context was removed is gone, not one that does not answer.
    QStringList still = m_unanswered;
    still.removeIf([this](const QString& name) {
        return std::none_of(m_runtimes.cbegin(), m_runtimes.cend(),
                            [&name](const RuntimeEntry& entry) { return entry.runtime.id() == name; });
    });
    if (still == m_unanswered)
        return;
    // Only the notice that named them: a later one (a hand-over, a compose warning) is left as it is.
    const bool named =
        m_notice == notAnswering(m_unanswered, true) || m_notice == notAnswering(m_unanswered, false);
    setUnanswered(still);
    if (named)
        setNotice(still.isEmpty() ? std::nullopt
                                  : std::optional<QString>(
                                        notAnswering(still, still.size() < m_runtimes.size() || !m_showAll)));
}

void AppStore::setSilent(const QString& runtime, bool silent)
{
    if (silent == m_silent.contains(runtime))
        return;
    if (silent)
        m_silent.insert(runtime);
    else
        m_silent.remove(runtime);
    emit silentChanged();
}

void AppStore::takeReachability(const QHash<QString, bool>& reachable)
{
    QList<RuntimeEntry> fresh = m_runtimes;
    for (RuntimeEntry& entry : fresh) {
        const auto found = reachable.constFind(entry.endpoint);
        if (found != reachable.cend())
            entry.reachable = *found;
    }
    if (fresh == m_runtimes)
        return;
    setRuntimes(fresh);
    if (m_showAll)
        keepToScope();
}

QCoro::Task<> AppStore::lookAgainAtReachability()
{
    if (m_lookingAtReachability)
        co_return;
    m_lookingAtReachability = true;
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    auto job = Platform::onUtility(
        [engine, endpoints = endpointsOf(m_runtimes)] { return reachability(*engine, endpoints); });
    const QHash<QString, bool> reachable = co_await std::move(job);
    if (!self)
        co_return;
    m_lookingAtReachability = false;
    takeReachability(reachable);
}

void AppStore::keepToScope()
{
    QSet<QString> inScope;
    for (const std::optional<Runtime>& runtime : scope())
        inScope.insert(Docker::runtimeId(runtime));
    const auto gone = [&inScope](const QString& key) { return !inScope.contains(key); };
    const qsizetype silentBefore = m_silent.size();
    m_silent.removeIf([&](const QString& key) { return gone(key); });
    if (m_silent.size() != silentBefore)
        emit silentChanged();
    m_shares.removeIf([&](const QHash<QString, RuntimeShare>::iterator& it) { return gone(it.key()); });
    m_failures.removeIf([&](const QHash<QString, QString>::iterator& it) { return gone(it.key()); });
    if (m_usageParts.removeIf([&](const QHash<QString, DiskUsage>::iterator& it) { return gone(it.key()); }) >
        0)
        composeUsage();
}
