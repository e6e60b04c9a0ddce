#include "store/RuntimeListing.h"

#include "store/StoreEngine.h"

#include <algorithm>

QHash<QString, bool> reachability(StoreEngine& engine, const QStringList& endpoints)
{
    QHash<QString, bool> reachable;
    for (const QString& endpoint : endpoints)
        if (!reachable.contains(endpoint))
            reachable.insert(endpoint, engine.isReachable(endpoint));
    return reachable;
}

ListingAnswer listRuntime(StoreEngine& engine, const std::optional<Runtime>& runtime,
                          const QStringList& endpoints)
{
    ListingAnswer answer;
    try {
        RuntimeShare share;
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
    // Once the listing is over: whether a socket that did not answer is still there decides a hand-over.
    answer.reachable = reachability(engine, endpoints);
    return answer;
}

OneAtATime::Ask OneAtATime::ask(const QString& key, bool fresh)
{
    Runs& runs = m_runs[key];
    Ask asked;
    qint64 awaited = runs.begun + 1;
    if (!runs.running) {
        runs.running = true;
        asked.begin = true;
    } else if (fresh) {
        // The one under way may have begun before what the caller wants to see.
        runs.again = true;
    } else {
        awaited = runs.begun;
    }
    if (runs.ended >= awaited) {
        QPromise<void> ended;
        ended.start();
        ended.finish();
        asked.ended = ended.future();
        return asked;
    }
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    runs.waiting.append({awaited, promise});
    asked.ended = promise->future();
    return asked;
}

qint64 OneAtATime::begin(const QString& key)
{
    Runs& runs = m_runs[key];
    runs.again = false;
    return ++runs.begun;
}

bool OneAtATime::end(const QString& key, qint64 number)
{
    Runs& runs = m_runs[key];
    runs.ended = number;
    QList<std::pair<qint64, std::shared_ptr<QPromise<void>>>> still;
    for (const auto& [awaited, promise] : std::as_const(runs.waiting)) {
        if (awaited <= number)
            promise->finish();
        else
            still.append({awaited, promise});
    }
    runs.waiting = still;
    if (!runs.again)
        runs.running = false;
    return runs.running;
}

bool OneAtATime::running() const
{
    return std::any_of(m_runs.cbegin(), m_runs.cend(), [](const Runs& runs) { return runs.running; });
}
