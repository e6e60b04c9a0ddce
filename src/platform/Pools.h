#pragma once

#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>
#include <QCoroTask>

#include <exception>
#include <optional>
#include <type_traits>

namespace Platform {

// The two background pools: utility (polling, low priority) and user-initiated (actions).
namespace Pools {
QThreadPool* utility();
QThreadPool* userInitiated();
// Waits for every queued and running job of both pools; for the application's way out.
void drain();
} // namespace Pools

// Runs `work` on `pool` and resumes the awaiting coroutine with its result on the thread that
// awaited. An exception thrown by `work` is rethrown to the awaiting coroutine as it was thrown.
template <typename F>
auto onPool(QThreadPool* pool, F work) -> QCoro::Task<std::invoke_result_t<F>>
{
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_void_v<R>) {
        std::exception_ptr failure = co_await QtConcurrent::run(pool, [work = std::move(work)]() mutable {
            try {
                work();
                return std::exception_ptr();
            } catch (...) {
                return std::current_exception();
            }
        });
        if (failure)
            std::rethrow_exception(failure);
    } else {
        struct Outcome {
            std::optional<R> value;
            std::exception_ptr failure;
        };
        Outcome outcome = co_await QtConcurrent::run(pool, [work = std::move(work)]() mutable {
            Outcome o;
            try {
                o.value.emplace(work());
            } catch (...) {
                o.failure = std::current_exception();
            }
            return o;
        });
        if (outcome.failure)
            std::rethrow_exception(outcome.failure);
        co_return std::move(*outcome.value);
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

} // namespace Platform
