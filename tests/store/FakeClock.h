#pragma once

// The store's clock, as a test drives it. Header only, so that the benchmark can use it too.

#include "store/StoreEngine.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>

#include <chrono>
#include <coroutine>
#include <mutex>
#include <utility>

namespace StoreTesting {

// A clock that stands still until the test moves it. Sleepers wake, in the order they fell asleep,
// when the time they asked for has passed.
class FakeClock {
public:
    explicit FakeClock(const QDateTime& start = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC))
        : m_now(start)
    {
    }

    StoreClock clock()
    {
        return {[this] { return now(); },
                [this](std::chrono::milliseconds interval) { return sleep(interval); }};
    }

    QDateTime now() const
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }

    // Every pause asked for so far, in order.
    QList<std::chrono::milliseconds> pauses() const { return m_pauses; }
    int sleeping() const { return int(m_sleepers.size()); }

    void advance(std::chrono::milliseconds by)
    {
        QDateTime now;
        {
            std::lock_guard lock(m_mutex);
            m_now = m_now.addMSecs(by.count());
            now = m_now;
        }
        QList<Sleeper> due;
        for (qsizetype i = 0; i < m_sleepers.size();) {
            if (m_sleepers[i].until <= now)
                due.append(m_sleepers.takeAt(i));
            else
                ++i;
        }
        for (const Sleeper& sleeper : due)
            sleeper.handle.resume();
    }

    // Wakes everyone without moving the time.
    void wakeAll()
    {
        const QList<Sleeper> all = std::exchange(m_sleepers, {});
        for (const Sleeper& sleeper : all)
            sleeper.handle.resume();
    }

private:
    struct Sleeper {
        QDateTime until;
        std::coroutine_handle<> handle;
    };

    struct Wait {
        FakeClock* clock;
        QDateTime until;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { clock->m_sleepers.append({until, handle}); }
        void await_resume() const noexcept {}
    };

    QCoro::Task<> sleep(std::chrono::milliseconds interval)
    {
        m_pauses.append(interval);
        co_await Wait{this, now().addMSecs(interval.count())};
    }

    mutable std::mutex m_mutex;
    QDateTime m_now;
    QList<Sleeper> m_sleepers;
    QList<std::chrono::milliseconds> m_pauses;
};

} // namespace StoreTesting
