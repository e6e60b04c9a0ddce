#pragma once

#include <QDeadlineTimer>
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>
#include <QCoroTask>

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>

namespace Platform {

// The two background pools: utility (polling, low priority) and user-initiated (actions).
namespace Pools {
QThreadPool* utility();
QThreadPool* userInitiated();
// Runs what tests put before a look at the disk (they hold it there as a mount that stalls would), and
// the tests' own folder checks: at utility priority, apart from the two above. The looks themselves
// take no thread of it: one thread waits for every look server's answer (Platform::lookAtDisk). It has
// diskThreads threads, and one more for each job held up on it.
QThreadPool* disk();
inline constexpr int diskThreads = 4;
// Disk measurements: apart from the polling, so a measurement that hangs until its limit takes no thread
// that listings and statistics need. The store measures each runtime once at a time, so a few threads do.
QThreadPool* measuring();
// One-shot actions (start, stop, remove, up, ...): apart from the others, so actions that hang until
// their limit take no thread that listings, plans and measurements need. Wider than the others: each
// action holds a thread only while its command runs, and a click should not wait for a hung one.
QThreadPool* actions();
// How long the way out waits, in all, for work it cannot end (a move to the Trash under way in a look
// server) before the process ends anyway.
inline constexpr std::chrono::seconds wayOutLimit{10};
// Waits for every queued and running job of utility, user-initiated, measuring and actions, for the
// application's way out, but not past `deadline`; true when they have all finished and no look at the disk is
// still awaited. The way out has given the looks up (Platform::giveUpLooks), so the disk pool gets a quarter
// of a second.
bool drain(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
} // namespace Pools

namespace detail {

template <typename R>
struct Outcome {
    std::optional<R> value;
    std::exception_ptr failure;
};

template <typename R>
QCoro::Task<R> awaitOutcome(QFuture<Outcome<R>> future)
{
    Outcome<R> outcome = co_await future;
    if (outcome.failure)
        std::rethrow_exception(outcome.failure);
    co_return std::move(*outcome.value);
}

inline QCoro::Task<> awaitFailure(QFuture<std::exception_ptr> future)
{
    const std::exception_ptr failure = co_await future;
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace detail

// Runs `work` on `pool` and resumes the awaiting coroutine with its result on the thread that
// awaited. An exception thrown by `work` is rethrown to the awaiting coroutine as it was thrown.
//
// Not a coroutine itself, and the job is handed over outside any co_await: GCC 12 destroys a
// temporary built inside a co_await expression twice, which freed what `work` had captured. For the
// same reason callers should make the task in a statement of their own and then co_await it, when
// `work` captures anything with a destructor.
template <typename F>
auto onPool(QThreadPool* pool, F work) -> QCoro::Task<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        auto future = QtConcurrent::run(pool, [work = std::move(work)]() mutable {
            try {
                work();
                return std::exception_ptr();
            } catch (...) {
                return std::current_exception();
            }
        });
        return detail::awaitFailure(std::move(future));
    } else {
        auto future = QtConcurrent::run(pool, [work = std::move(work)]() mutable {
            detail::Outcome<R> outcome;
            try {
                outcome.value.emplace(work());
            } catch (...) {
                outcome.failure = std::current_exception();
            }
            return outcome;
        });
        return detail::awaitOutcome<R>(std::move(future));
    }
}

template <typename F>
auto onUtility(F work)
{
    return onPool(Pools::utility(), std::move(work));
}

template <typename F>
auto onUserInitiated(F work)
{
    return onPool(Pools::userInitiated(), std::move(work));
}

template <typename F>
auto onAction(F work)
{
    return onPool(Pools::actions(), std::move(work));
}

} // namespace Platform
