#pragma once

#include "platform/LookWire.h"
#include "platform/Pools.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QString>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroSignal>
#include <QCoroTask>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace Platform {

// How long an action waits for a look at a project's folder before it gives up on the folder.
inline constexpr std::chrono::milliseconds folderAnswerLimit{std::chrono::seconds(10)};

// How long a look at the disk may take before it counts as held up by a mount that stalls. A folder on
// a disk that answers is looked at in well under a millisecond, on a busy network share in tens of
// them. From then on the look has a thread of the disk pool to itself, so it holds up only itself.
inline constexpr std::chrono::milliseconds heldUpAfter{250};

// "<folder> does not answer.": what an action says of a folder whose look did not come back in time.
QString folderNotAnswering(const QString& folder);

// The look servers there are, for tests and for trying by hand: waiting for a look, making one, and
// given up on while making one and not ended since.
struct LookServerCount {
    int idle = 0;
    int working = 0;
    int abandoned = 0;

    bool operator==(const LookServerCount&) const = default;
};
LookServerCount lookServerCount();

// The way out: every look under way is given up at once, and none is made from now on; a change on the
// disk under way (a move to the Trash) is still waited for, as the way out waits for any work it cannot
// end. Cannot be undone.
void giveUpLooks();

namespace detail {

// One job on the disk pool, as the job and whoever waits for it see it. A job that has run for
// heldUpAfter while someone waits or while its look server has not answered, or that is given up on
// while it runs, is held up: the pool gets a
// thread in its place until it ends, so jobs that never come back never take the threads the others
// need. Thread-safe.
class DiskJob {
public:
    DiskJob();
    ~DiskJob();
    DiskJob(const DiskJob&) = delete;
    DiskJob& operator=(const DiskJob&) = delete;

    // On the pool, as the job starts and as it ends.
    void begin();
    void end();
    // The job is taken to be held up if it has run for heldUpAfter, or with `now` as soon as it runs at
    // all; one that waits in the queue or has ended is not. `now` also gives the job up: whoever waited
    // for it no longer does.
    void holdUp(bool now = false);
    // Waits on the calling thread until the job has ended or `limit` has passed; whether it has ended.
    bool waitForEnd(std::chrono::milliseconds limit);
    bool ended() const;
    // Taken to be held up, and not ended since.
    bool isHeldUp() const;
    // How long it has run (or ran) since it began; none while it waits in the queue.
    std::optional<std::chrono::milliseconds> runningFor() const;
    // Nobody waits for what it finds any more.
    bool givenUp() const;
    // Readable once the job has been given up (-1 when it could not be made): for the job to wait on
    // beside what it waits for.
    int givenUpFd() const { return m_givenUpFd; }
    // Takes the news of the give-up from givenUpFd, which then waits for nothing again.
    void takeGiveUp() const;

private:
    enum class State { queued, running, heldUp, ended };

    mutable std::mutex m_mutex;
    std::condition_variable m_ending;
    State m_state = State::queued;
    bool m_abandoned = false; // given up on while still queued: held up from its first moment
    bool m_givenUp = false;
    std::chrono::steady_clock::time_point m_began;
    int m_givenUpFd = -1;
};

// A look that brings back what it found. `found` is set before the job ends and read only once it has.
template <typename R>
struct DiskLookJob : DiskJob {
    std::optional<R> found;
};

// Where a look at a folder is under way, so that a folder held up by its mount is not looked at again
// while that look waits: what it found comes when it comes, and until then the folder does not answer.
struct FolderLookClaim {
    QString folder;
    quint64 serial = 0;
};
// A claim on `folder`; none while a look there has been under way for longer than heldUpAfter, or
// while a look server given up on there has not ended.
std::optional<FolderLookClaim> claimFolderLook(const QString& folder);
void releaseFolderLook(const FolderLookClaim& claim);

// Runs before every look at a claimed folder, in this process, on the thread that sends the look to a
// look server: where a test holds a folder up as a mount that stalls would. Nothing outside tests.
void beforeFolderLook(const QString& folder);
void setBeforeFolderLookForTesting(std::function<void(const QString& folder)> hold);

// Has a look server make `request` and waits on the calling thread (never the window's) for its answer:
// until `deadline`, or, once `job` is given up, for at most heldUpAfter of the look. A server that has
// not answered by then is given up, left to end by itself, and holds `claim` (released here otherwise)
// until it has. What it found, encoded; none when it was not answered.
std::optional<QByteArray> askLookServer(DiskJob& job, const QByteArray& operation,
                                        const QByteArray& arguments, bool change,
                                        const std::function<void()>& beforeLook,
                                        const QDeadlineTimer& deadline, std::optional<FolderLookClaim> claim);

// The same, decoded.
template <typename R>
std::optional<R> askFor(DiskJob& job, const LookRequest<R>& request, const QDeadlineTimer& deadline,
                        std::optional<FolderLookClaim> claim)
{
    const std::optional<QByteArray> answer =
        askLookServer(job, QByteArray(request.operation), request.arguments, request.change,
                      request.beforeLook, deadline, std::move(claim));
    if (!answer)
        return std::nullopt;
    return Wire::decoded<R>(*answer);
}

// Where a look's own time runs from: its asking, or the moment the pool gets to it.
enum class LimitFrom { asking, start };

template <typename R>
QFuture<void>
runOnDiskPool(std::shared_ptr<DiskLookJob<R>> job, LookRequest<R> request, std::chrono::milliseconds limit,
              std::optional<FolderLookClaim> claim = std::nullopt, LimitFrom from = LimitFrom::asking)
{
    const QDeadlineTimer asked(limit);
    // The future finishes only after the job has set what it found.
    return QtConcurrent::run(Pools::disk(), [job, request = std::move(request), asked, limit, from,
                                             claim = std::move(claim)]() mutable {
        job->begin();
        const QDeadlineTimer deadline = from == LimitFrom::start ? QDeadlineTimer(limit) : asked;
        job->found = askFor<R>(*job, request, deadline, std::move(claim));
        job->end();
    });
}

QCoro::Task<bool> endedWithin(QFuture<void> future, std::chrono::milliseconds limit);

// Waits for `job` until `limit` has passed, a slice of heldUpAfter at a time, so that a job which only
// starts running once others have left the queue is still seen to be held up.
template <typename R>
QCoro::Task<std::optional<R>> awaitLook(std::shared_ptr<DiskLookJob<R>> job, QFuture<void> future,
                                        std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!job->ended()) {
        const auto left = std::chrono::milliseconds(deadline.remainingTime());
        if (left <= std::chrono::milliseconds(0)) {
            job->holdUp(true);
            co_return std::nullopt;
        }
        if (co_await endedWithin(future, std::min(left, heldUpAfter)))
            break;
        job->holdUp();
    }
    co_return job->found;
}

template <typename R>
QCoro::Task<std::optional<R>> unanswered()
{
    co_return std::nullopt;
}
} // namespace detail

// Has a look server make `request`, a look at the disk that a stalled mount can hold up for good (does
// a folder exist, what files does it hold), and resumes the awaiting coroutine with its result, or with
// nothing once `limit` has passed without one. A look that does not come back holds up neither this
// process, nor the caller, nor the polling, nor the looks after it: its server is given up and ends on
// its own, if ever, and what it found goes nowhere.
template <typename R>
QCoro::Task<std::optional<R>> lookAtDisk(LookRequest<R> request,
                                         std::chrono::milliseconds limit = folderAnswerLimit)
{
    auto job = std::make_shared<detail::DiskLookJob<R>>();
    QFuture<void> future = detail::runOnDiskPool<R>(job, std::move(request), limit);
    return detail::awaitLook<R>(std::move(job), std::move(future), limit);
}

// lookAtDisk for a look at `folder` in particular, from the window's thread: while an earlier look there
// has been held up, it looks again no sooner than that one comes back, and answers nothing at once. So
// asking again and again after a folder on a mount that stalls starts no more look servers.
template <typename R>
QCoro::Task<std::optional<R>> lookAtFolderFor(const QString& folder, LookRequest<R> request,
                                              std::chrono::milliseconds limit = folderAnswerLimit)
{
    std::optional<detail::FolderLookClaim> claim = detail::claimFolderLook(folder);
    if (!claim)
        return detail::unanswered<R>();
    auto job = std::make_shared<detail::DiskLookJob<R>>();
    QFuture<void> future = detail::runOnDiskPool<R>(job, std::move(request), limit, std::move(claim));
    return detail::awaitLook<R>(std::move(job), std::move(future), limit);
}

// A look at a folder under way, for a worker thread to wait for.
template <typename R>
class PendingLook {
public:
    // Nothing under way: the folder does not answer.
    PendingLook() = default;
    explicit PendingLook(std::shared_ptr<detail::DiskLookJob<R>> job) : m_job(std::move(job)) {}

    // What the look found, waiting on the calling thread for at most `limit`; nothing when it has not
    // come back by then, or `cancel` (may be null) ended the wait. A wait that ends so gives the look up.
    std::optional<R> wait(std::chrono::milliseconds limit, const Cancellation* cancel = nullptr) const
    {
        if (!m_job)
            return std::nullopt;
        const QDeadlineTimer deadline(limit);
        while (
            !m_job->waitForEnd(std::min(std::chrono::milliseconds(deadline.remainingTime()), heldUpAfter))) {
            if (deadline.hasExpired() || (cancel && cancel->isCancelled())) {
                m_job->holdUp(true);
                return std::nullopt;
            }
            m_job->holdUp();
        }
        return m_job->found;
    }

    // The same, for a look started with its limit counted from its start (startFolderLookOnItsOwn):
    // waits until it has had `limit` since it began, however long it waited in the queue first. The
    // pool gets to a queued look once the held-up ones before it have a thread of their own.
    std::optional<R> waitItsOwnTime(std::chrono::milliseconds limit) const
    {
        if (!m_job)
            return std::nullopt;
        while (!m_job->waitForEnd(heldUpAfter)) {
            const std::optional<std::chrono::milliseconds> running = m_job->runningFor();
            if (running && *running >= limit) {
                m_job->holdUp(true);
                return std::nullopt;
            }
            m_job->holdUp();
        }
        return m_job->found;
    }

private:
    std::shared_ptr<detail::DiskLookJob<R>> m_job;
};

// Starts `request` at `folder` on a look server, for a worker thread that may wait for it (never the
// window's thread); the server is given up once `limit` has passed. While an earlier look at the same
// folder has been held up, it starts nothing: the folder does not answer, and the servers of a mount
// that stalls do not pile up round after round.
template <typename R>
PendingLook<R> startFolderLook(const QString& folder, LookRequest<R> request,
                               std::chrono::milliseconds limit = folderAnswerLimit,
                               detail::LimitFrom from = detail::LimitFrom::asking)
{
    std::optional<detail::FolderLookClaim> claim = detail::claimFolderLook(folder);
    if (!claim)
        return {};
    auto job = std::make_shared<detail::DiskLookJob<R>>();
    detail::runOnDiskPool<R>(job, std::move(request), limit, std::move(claim), from);
    return PendingLook<R>(std::move(job));
}

// startFolderLook for a look whose `limit` runs from when the pool gets to it rather than from its
// asking: one of many started at once, each waited for with PendingLook::waitItsOwnTime, so that looks
// queued behind folders that stall still get their whole time.
template <typename R>
PendingLook<R> startFolderLookOnItsOwn(const QString& folder, LookRequest<R> request,
                                       std::chrono::milliseconds limit = folderAnswerLimit)
{
    return startFolderLook(folder, std::move(request), limit, detail::LimitFrom::start);
}

// The same, waiting for it on the calling thread for at most `limit`.
template <typename R>
std::optional<R> lookAtFolder(const QString& folder, LookRequest<R> request, std::chrono::milliseconds limit)
{
    return startFolderLook(folder, std::move(request), limit).wait(limit);
}

} // namespace Platform
