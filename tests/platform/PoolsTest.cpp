#include "platform/Pools.h"

#include <QCoroTask>
#include <QThread>

#include <gtest/gtest.h>

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

} // namespace

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

TEST(Pools, UtilityRunsBelowNormalPriority)
{
    EXPECT_EQ(Platform::Pools::utility()->threadPriority(), QThread::LowPriority);
    EXPECT_EQ(Platform::Pools::userInitiated()->threadPriority(), QThread::NormalPriority);
}
