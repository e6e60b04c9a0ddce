#pragma once

#include "platform/LookWire.h"
#include "platform/Pools.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QFutureInterface>
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
// them. From then on its server counts as one held at a folder that stalls, and the looks after it are
// not queued behind it.
inline constexpr std::chrono::milliseconds heldUpAfter{250};

// "<folder> does not answer.": what an action says of a folder whose look did not come back in time.
QString folderNotAnswering(const QString& folder);

// The look servers there are, for tests and for trying by hand: waiting for a look, making one (or being
// started for one), and given up on while making one and not ended since.
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

// One look, as the look and whoever waits for it see it. Looks wait for their servers on one thread of
// their own, the servers' thread, whatever their number; only a look that runs test code before it is
// sent (LookRequest::beforeLook, beforeFolderLook) takes a thread of the disk pool for that. A look
// that has run for heldUpAfter is held up; one held up on the disk pool has the pool get a thread in
// its place until it ends, so test code that never comes back never takes the threads the others need.
// Thread-safe.
class DiskJob {
public:
    DiskJob() = default;
    DiskJob(const DiskJob&) = delete;
    DiskJob& operator=(const DiskJob&) = delete;

    // As the look starts: on a thread of the disk pool (`onPool`), or sent to a look server from the
    // servers' thread. Only the first start counts.
    void begin(bool onPool = true);
    // The look leaves its thread of the disk pool for the servers' thread.
    void leavePool();
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
    // Nobody waits for what it finds any more.
    bool givenUp() const;

private:
    enum class State { queued, running, heldUp, ended };

    // Held up on the disk pool: the pool has a thread in its place.
    void countOnPool(bool counted);

    mutable std::mutex m_mutex;
    std::condition_variable m_ending;
    State m_state = State::queued;
    bool m_onPool = false;
    bool m_countedOnPool = false;
    bool m_abandoned = false; // given up on while still queued: held up from its first moment
    bool m_givenUp = false;
    std::chrono::steady_clock::time_point m_began;
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
// while a look server given up on there has not ended. Looks whose claims share a folder are sent one
// after another, never at once: a second look at a folder whose look is held up does not answer.
std::optional<FolderLookClaim> claimFolderLook(const QString& folder);
void releaseFolderLook(const FolderLookClaim& claim);

// Runs before every look at a claimed folder, in this process, on the thread that sends the look to a
// look server: where a test holds a folder up as a mount that stalls would. Nothing outside tests.
void beforeFolderLook(const QString& folder);
void setBeforeFolderLookForTesting(std::function<void(const QString& folder)> hold);

// One look on its way to a look server.
struct ServedLook {
    std::shared_ptr<DiskJob> job;
    QByteArray operation;
    QByteArray arguments;
    bool change = false;
    std::function<void()> beforeLook;
    QDeadlineTimer deadline; // counted from its asking
    std::optional<FolderLookClaim> claim;
    // Takes what the server answered, just before the job ends; on the servers' thread.
    std::function<void(const QByteArray& answer)> take;
    QFutureInterface<void> finished;
};

// Hands `look` to the look servers and returns at once. Once it has been answered, or not in time, the
// claim is given back (unless a server given up on keeps it), the answer taken, the job ended and the
// future finished. A look not sent by its deadline, given up before it is sent, or beyond the bound on
// servers held up at folders that stall, is not answered.
QFuture<void> sendLook(ServedLook look);
// The end of a look sent, with what its server answered, if anything; `keepClaim`: a server given up on
// holds the folder now.
void finishLook(ServedLook& look, const std::optional<QByteArray>& answer, bool keepClaim = false);

// Sends `request` for `job`, to be answered within `limit` from now; the future finishes once the job
// has ended.
template <typename R>
QFuture<void> startLook(std::shared_ptr<DiskLookJob<R>> job, LookRequest<R> request,
                        std::chrono::milliseconds limit, std::optional<FolderLookClaim> claim = std::nullopt)
{
    ServedLook look;
    look.job = job;
    look.operation = QByteArray(request.operation);
    look.arguments = std::move(request.arguments);
    look.change = request.change;
    look.beforeLook = std::move(request.beforeLook);
    look.deadline = QDeadlineTimer(limit);
    look.claim = std::move(claim);
    look.take = [job](const QByteArray& answer) { job->found = Wire::decoded<R>(answer); };
    return sendLook(std::move(look));
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
    QFuture<void> future = detail::startLook<R>(job, std::move(request), limit);
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
    QFuture<void> future = detail::startLook<R>(job, std::move(request), limit, std::move(claim));
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

private:
    std::shared_ptr<detail::DiskLookJob<R>> m_job;
};

// Starts `request` at `folder` on a look server, for a worker thread that may wait for it (never the
// window's thread); the server is given up once `limit` has passed. While an earlier look at the same
// folder has been held up, it starts nothing: the folder does not answer, and the servers of a mount
// that stalls do not pile up round after round.
template <typename R>
PendingLook<R> startFolderLook(const QString& folder, LookRequest<R> request,
                               std::chrono::milliseconds limit = folderAnswerLimit)
{
    std::optional<detail::FolderLookClaim> claim = detail::claimFolderLook(folder);
    if (!claim)
        return {};
    auto job = std::make_shared<detail::DiskLookJob<R>>();
    detail::startLook<R>(job, std::move(request), limit, std::move(claim));
    return PendingLook<R>(std::move(job));
}

// The same, waiting for it on the calling thread for at most `limit`.
template <typename R>
std::optional<R> lookAtFolder(const QString& folder, LookRequest<R> request, std::chrono::milliseconds limit)
{
    return startFolderLook(folder, std::move(request), limit).wait(limit);
}

} // namespace Platform
