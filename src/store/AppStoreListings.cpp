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

QString notAnswering(const QStringList& silent)
{
    return silent.join(QStringLiteral(", ")) +
           (silent.size() == 1 ? QStringLiteral(" is") : QStringLiteral(" are")) +
           QStringLiteral(" not answering \u2014 showing the rest.");
}

template <typename T>
void append(QList<T>& all, const QList<T>& part)
{
    if (all.isEmpty())
        all = part; // shared, not copied
    else
        all.append(part);
}

QFuture<void> done()
{
    QPromise<void> promise;
    promise.start();
    promise.finish();
    return promise.future();
}

} // namespace

// Where a listing stops when one of its commands throws: a runtime that fails its first listing is not
// asked for the others. The endpoints are looked at once it is over, for the hand-over to judge by.
AppStore::Answer AppStore::ask(StoreEngine& engine, const std::optional<Runtime>& runtime,
                               const QStringList& endpoints)
{
    Answer answer;
    try {
        Share share;
        share.containers = engine.containers(runtime);
        share.images = engine.images(runtime);
        share.volumes = engine.volumes(runtime);
        answer.share = std::move(share);
    } catch (...) {
        answer.failure = failureText(std::current_exception());
        // A client that fails without a word must not leave an empty error banner.
        if (answer.failure.trimmed().isEmpty())
            answer.failure = Docker::notAnswering(runtime);
    }
    for (const QString& endpoint : endpoints)
        if (!answer.reachable.contains(endpoint))
            answer.reachable.insert(endpoint, engine.isReachable(endpoint));
    return answer;
}

bool AppStore::listingUnderWay() const
{
    return std::any_of(m_listers.cbegin(), m_listers.cend(), [](const Lister& l) { return l.running; });
}

QFuture<void> AppStore::askFor(const std::optional<Runtime>& runtime, bool afterHandover, bool fresh)
{
    const QString key = Docker::runtimeId(runtime);
    Lister& lister = m_listers[key];
    lister.runtime = runtime;
    qint64 awaited = lister.begun + 1;
    if (!lister.running) {
        lister.running = true;
        lister.againAfterHandover = afterHandover;
        runLister(key); // runs on by itself, and has begun its listing when it returns
    } else if (fresh) {
        // The one under way may have begun before what the caller wants to see.
        lister.again = true;
        lister.againAfterHandover = lister.againAfterHandover || afterHandover;
    } else {
        awaited = lister.begun;
    }
    Lister& now = m_listers[key];
    if (now.ended >= awaited)
        return done();
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    now.waiting.append({awaited, promise});
    return promise->future();
}

QCoro::Task<> AppStore::runLister(QString key)
{
    QPointer<AppStore> self(this);
    for (;;) {
        Lister& lister = m_listers[key];
        const std::optional<Runtime> runtime = lister.runtime;
        const bool afterHandover = std::exchange(lister.againAfterHandover, false);
        lister.again = false;
        const qint64 number = ++lister.begun;
        co_await listOnce(runtime, afterHandover);
        if (!self)
            co_return;
        Lister& ended = m_listers[key];
        ended.ended = number;
        QList<std::pair<qint64, std::shared_ptr<QPromise<void>>>> still;
        for (const auto& [awaited, promise] : std::as_const(ended.waiting)) {
            if (awaited <= number)
                promise->finish();
            else
                still.append({awaited, promise});
        }
        ended.waiting = still;
        if (!ended.again) {
            ended.running = false;
            co_return;
        }
    }
}

QCoro::Task<> AppStore::listOnce(std::optional<Runtime> runtime, bool afterHandover)
{
    const Snapshot before = snapshot();
    QStringList endpoints;
    for (const RuntimeEntry& entry : std::as_const(m_runtimes))
        endpoints << entry.endpoint;
    QPointer<AppStore> self(this);
    const std::shared_ptr<StoreEngine> engine = m_engine;
    // Every background job is made in a statement of its own, as Platform::onPool asks.
    auto job = Platform::onUtility([engine, runtime, endpoints] { return ask(*engine, runtime, endpoints); });
    Answer answer = co_await std::move(job);
    if (!self || isStale(before) || !scope().contains(runtime))
        co_return; // a dropped result changes nothing at all
    co_await takeAnswer(runtime, std::move(answer), afterHandover);
}

QCoro::Task<> AppStore::takeAnswer(std::optional<Runtime> runtime, Answer answer, bool afterHandover)
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
        remember(containers == m_containers ? groups() : Docker::group(containers), runtime);
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
    if (!failed) {
        // An answer only takes its runtime off the list: one still silent may be about to answer too,
        // and is named once its own listing has failed.
        QStringList still = m_unanswered;
        still.removeIf([&silent](const QString& name) { return !silent.contains(name); });
        setUnanswered(still);
        return;
    }
    if (silent != m_unanswered) {
        setUnanswered(silent);
        if (!silent.isEmpty())
            setNotice(notAnswering(silent));
    }
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
    m_shares.removeIf([&](const QHash<QString, Share>::iterator& it) { return gone(it.key()); });
    m_failures.removeIf([&](const QHash<QString, QString>::iterator& it) { return gone(it.key()); });
    if (m_usageParts.removeIf([&](const QHash<QString, DiskUsage>::iterator& it) { return gone(it.key()); }) >
        0)
        composeUsage();
}
