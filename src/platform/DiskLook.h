#pragma once

#include "platform/Pools.h"

#include <QFutureWatcher>
#include <QString>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroSignal>
#include <QCoroTask>

#include <chrono>
#include <optional>
#include <type_traits>

namespace Platform {

// How long an action waits for a look at a project's folder before it gives up on the folder.
inline constexpr std::chrono::milliseconds folderAnswerLimit{std::chrono::seconds(10)};

// "<folder> does not answer.": what an action says of a folder whose look did not come back in time.
QString folderNotAnswering(const QString& folder);

namespace detail {

template <typename R>
QCoro::Task<std::optional<R>> awaitWithin(QFuture<R> future, std::chrono::milliseconds limit)
{
    if (!future.isFinished()) {
        QFutureWatcher<R> watcher;
        watcher.setFuture(future);
        // Finished before the watcher was set: it reports that too, as a queued call, so the wait below
        // cannot miss it.
        auto finished = qCoro(&watcher, &QFutureWatcherBase::finished, limit);
        const std::optional<std::tuple<>> done = co_await std::move(finished);
        if (!done && !future.isFinished())
            co_return std::nullopt;
    }
    co_return future.result();
}

} // namespace detail

// Runs `look`, a look at the disk that a stalled mount can hold up for good (does a folder exist, what
// files does it hold), off the calling thread, and resumes the awaiting coroutine with its result, or
// with nothing once `limit` has passed without one. A look that does not come back holds up neither
// the caller nor the polling: it finishes on its own, if ever, and what it found goes nowhere.
// `look` must not throw.
template <typename F>
auto lookAtDisk(F look, std::chrono::milliseconds limit = folderAnswerLimit)
    -> QCoro::Task<std::optional<std::invoke_result_t<F>>>
{
    using R = std::invoke_result_t<F>;
    QFuture<R> future = QtConcurrent::run(Pools::disk(), std::move(look));
    return detail::awaitWithin<R>(std::move(future), limit);
}

} // namespace Platform
