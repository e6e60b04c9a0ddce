#include "platform/Pools.h"

#include <QThread>

#include <chrono>

#include <algorithm>
#include <limits>

namespace Platform::Pools {

namespace {
// Jobs mostly wait on child processes, so the pools are wider than the processor count.
constexpr int jobsPerPool = 16;

// Runtimes measured at once.
constexpr int measurementsAtOnce = 4;

// How long the way out gives the looks at the disk still under way: one that answers is done in well
// under a millisecond.
constexpr std::chrono::milliseconds lookSettles{250};

// Actions the user started, each waiting on its command.
constexpr int actionsAtOnce = 64;

QThreadPool* makePool(QThread::Priority priority, int threads = jobsPerPool)
{
    auto* pool = new QThreadPool; // lives for the whole process
    pool->setMaxThreadCount(threads);
    pool->setThreadPriority(priority);
    return pool;
}
} // namespace

QThreadPool* utility()
{
    static QThreadPool* pool = makePool(QThread::LowPriority);
    return pool;
}

QThreadPool* userInitiated()
{
    static QThreadPool* pool = makePool(QThread::NormalPriority);
    return pool;
}

QThreadPool* disk()
{
    static QThreadPool* pool = makePool(QThread::LowPriority, diskThreads);
    return pool;
}

QThreadPool* measuring()
{
    static QThreadPool* pool = makePool(QThread::LowPriority, measurementsAtOnce);
    return pool;
}

QThreadPool* actions()
{
    static QThreadPool* pool = makePool(QThread::NormalPriority, actionsAtOnce);
    return pool;
}

bool drain(QDeadlineTimer deadline)
{
    for (QThreadPool* pool : {utility(), userInitiated(), measuring(), actions()}) {
        // -1 waits for good, as a deadline that never comes asks.
        const qint64 left = deadline.remainingTime();
        if (!pool->waitForDone(int(std::min<qint64>(left, std::numeric_limits<int>::max()))))
            return false;
    }
    const qint64 left = deadline.remainingTime();
    const qint64 forDisk = left < 0 ? lookSettles.count() : std::min<qint64>(left, lookSettles.count());
    return disk()->waitForDone(int(forDisk));
}

} // namespace Platform::Pools
