#include "platform/Pools.h"

#include <QCoroTask>
#include <QElapsedTimer>
#include <QList>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

QCoro::Task<int> answerOnPool(QThread** worker, QThread** resumed)
{
    const int value = co_await Platform::onUtility([worker] {
        *worker = QThread::currentThread();
        return 42;
    });
    *resumed = QThread::currentThread();
    co_return value;
}

QCoro::Task<QString> failOnPool()
{
    try {
        co_await Platform::onUserInitiated([]() -> int { throw std::runtime_error("engine gone"); });
    } catch (const std::runtime_error& error) {
        co_return QString::fromUtf8(error.what());
    }
    co_return QString();
}

QCoro::Task<bool> voidJob()
{
    bool ran = false;
    co_await Platform::onUtility([&ran] { ran = true; });
    co_return ran;
}

// Counts its living copies, so a copy destroyed twice shows as a negative count.
struct Counted {
    static inline std::atomic<int> alive = 0;
    Counted() { ++alive; }
    Counted(const Counted&) { ++alive; }
    Counted(Counted&&) noexcept { ++alive; }
    ~Counted() { --alive; }
};

QCoro::Task<int> captureOnPool()
{
    const Counted counted;
    const QList<int> shared{1, 2, 3};
    auto job = Platform::onUtility([counted, shared] { return int(shared.size()); });
    co_return co_await job;
}

QCoro::Task<> captureOnPoolWithoutResult()
{
    const Counted counted;
    auto job = Platform::onUserInitiated([counted] {});
    co_await job;
}

} // namespace

TEST(Pools, WhatAJobCapturedIsDestroyedExactlyOnce)
{
    // The pool lets go of its copy after the result is handed over, so wait until it has.
    EXPECT_EQ(QCoro::waitFor(captureOnPool()), 3);
    Platform::Pools::drain();
    EXPECT_EQ(Counted::alive, 0);
    QCoro::waitFor(captureOnPoolWithoutResult());
    Platform::Pools::drain();
    EXPECT_EQ(Counted::alive, 0);
}

TEST(Pools, WorkRunsOnThePoolAndResumesOnTheAwaitingThread)
{
    QThread* worker = nullptr;
    QThread* resumed = nullptr;
    EXPECT_EQ(QCoro::waitFor(answerOnPool(&worker, &resumed)), 42);
    EXPECT_NE(worker, QThread::currentThread());
    EXPECT_EQ(resumed, QThread::currentThread());
}

TEST(Pools, ExceptionsReachTheAwaitingCoroutineUnchanged)
{
    EXPECT_EQ(QCoro::waitFor(failOnPool()), "engine gone");
    EXPECT_TRUE(QCoro::waitFor(voidJob()));
}

// A job stuck where nothing can end it (a look at a stalled mount) holds the way out up only until
// its deadline; once it is through, the drain is whole again.
TEST(Pools, TheDrainGivesUpOnAStuckJobAtItsDeadline)
{
    std::atomic<bool> released = false;
    auto stuck = QtConcurrent::run(Platform::Pools::userInitiated(), [&released] {
        while (!released)
            QThread::msleep(5);
    });
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(Platform::Pools::drain(QDeadlineTimer(300)));
    EXPECT_GE(took.elapsed(), 290);
    EXPECT_LT(took.elapsed(), 3000);
    EXPECT_FALSE(Platform::Pools::drain(QDeadlineTimer(0))) << "an expired deadline does not wait";

    released = true;
    EXPECT_TRUE(Platform::Pools::drain(QDeadlineTimer(5000)));
    EXPECT_TRUE(stuck.isFinished());
}

// A look at the disk held by a stalled mount would keep the process a zombie with its files open after
// its end; the drain says so in a quarter of a second, whatever time the way out has left, so the
// process ends at once.
TEST(Pools, ALookAtTheDiskStillUnderWayLeavesTheDrainIncomplete)
{
    std::atomic<bool> released = false;
    auto held = QtConcurrent::run(Platform::Pools::disk(), [&released] {
        while (!released)
            QThread::msleep(5);
    });
    QElapsedTimer took;
    took.start();
    EXPECT_FALSE(Platform::Pools::drain(QDeadlineTimer(QDeadlineTimer::Forever)));
    EXPECT_LT(took.elapsed(), 3000);

    released = true;
    held.waitForFinished();
    EXPECT_TRUE(Platform::Pools::drain(QDeadlineTimer(5000)));
}
