#pragma once

#include "engine/Container.h"
#include "engine/Listings.h"
#include "engine/Runtime.h"

#include <QFuture>
#include <QHash>
#include <QList>
#include <QPromise>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

class StoreEngine;

// What one runtime answered a listing with.
struct RuntimeShare {
    QList<Container> containers;
    QList<DockerImage> images;
    QList<DockerVolume> volumes;
};

// One runtime's listing as it ended, and how the endpoints looked once it was over.
struct ListingAnswer {
    std::optional<RuntimeShare> share; // none: it did not answer
    QString failure;
    QHash<QString, bool> reachable; // by endpoint
};

// Whether each of `endpoints` can be reached, each looked at once. Blocks: for a background pool.
QHash<QString, bool> reachability(StoreEngine& engine, const QStringList& endpoints);

// Lists `runtime` (containers, then images, then volumes; one that fails is not asked for the others),
// then looks at each of `endpoints` (reachability). Blocks: for a background pool.
ListingAnswer listRuntime(StoreEngine& engine, const std::optional<Runtime>& runtime,
                          const QStringList& endpoints);

// Runs of some work, one at a time per key: what is asked for while one runs is one more run, begun
// when that ends, which every later ask joins. It keeps the count; the caller does the work. Main thread
// only; a run asked for but never ended is ended for its waiters when the queue goes.
class OneAtATime {
public:
    struct Ask {
        QFuture<void> ended; // when the run asked for has ended
        bool begin = false;  // no run was under way: the caller begins one now
    };
    // With `fresh`, a run begun from now on; otherwise the one under way will do.
    Ask ask(const QString& key, bool fresh);
    // As a run of `key` begins: its number.
    qint64 begin(const QString& key);
    // As run `number` of `key` ends: whether another was asked for meanwhile and begins now.
    bool end(const QString& key, qint64 number);
    bool running() const;

private:
    struct Runs {
        bool running = false;
        bool again = false;
        qint64 begun = 0;
        qint64 ended = 0;
        // Who waits for the run of which number to end.
        QList<std::pair<qint64, std::shared_ptr<QPromise<void>>>> waiting;
    };
    QHash<QString, Runs> m_runs;
};
