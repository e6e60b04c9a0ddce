#include "platform/Pools.h"

#include <QThread>

namespace Platform::Pools {

namespace {
// Jobs mostly wait on child processes, so the pools are wider than the processor count.
constexpr int jobsPerPool = 16;

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

QThreadPool* actions()
{
    static QThreadPool* pool = makePool(QThread::NormalPriority, actionsAtOnce);
    return pool;
}

void drain()
{
    utility()->waitForDone();
    userInitiated()->waitForDone();
    actions()->waitForDone();
}

} // namespace Platform::Pools
