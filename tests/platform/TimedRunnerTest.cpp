#include "platform/TimedRunner.h"

#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <future>

using namespace std::chrono_literals;
using Platform::PreparedProcess;
using TestSupport::shell;

TEST(TimedRunner, AQuickChildGivesItsOutputAndStatus)
{
    const auto ok = Platform::runTimed(shell("printf 'out'; echo noise >&2"), 5s);
    EXPECT_TRUE(ok.succeeded());
    EXPECT_EQ(ok.run.out, "out");
    EXPECT_EQ(ok.run.err, "noise\n");

    const auto failed = Platform::runTimed(shell("echo printed; exit 1"), 5s);
    EXPECT_FALSE(failed.succeeded());
    EXPECT_FALSE(failed.timedOut);
    EXPECT_EQ(failed.run.exitCode, 1);
    EXPECT_EQ(failed.run.out, "printed\n");

    const auto killed = Platform::runTimed(shell("kill -9 $$"), 5s);
    EXPECT_TRUE(killed.run.crashed);
    EXPECT_FALSE(killed.succeeded());

    PreparedProcess missing;
    missing.program = QStringLiteral("/nonexistent/voskel/program");
    const auto unstarted = Platform::runTimed(missing, 5s);
    EXPECT_FALSE(unstarted.run.started);
    EXPECT_FALSE(unstarted.run.launchError.isEmpty());
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

TEST(TimedRunner, LargeErrorOutputCannotStallTheChild)
{
    const auto result = Platform::runTimed(shell("head -c 2000000 /dev/zero >&2; echo after"), 10s);
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.run.out, "after\n");
}

TEST(TimedRunner, AChildPastItsLimitIsEndedAndFails)
{
    QElapsedTimer clock;
    clock.start();
    const auto result = Platform::runTimed(shell("echo started; exec sleep 30"), 300ms);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_EQ(result.run.out, "started\n"); // what came before the end is kept for whoever wants it
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

TEST(TimedRunner, AChildThatTrapsTerminationAndExitsCleanlyStillCountsAsEnded)
{
    const auto result = Platform::runTimed(shell("trap 'exit 0' TERM; while :; do sleep 0.05; done"), 300ms);
    EXPECT_TRUE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
}

TEST(TimedRunner, AChildIgnoringTerminationIsKilledAfterTheGrace)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("grandchild");
    // The grandchild inherits the ignored signal and holds standard output open.
    const QString script = QStringLiteral("trap '' TERM; sleep 60 & echo $! > %1; wait; wait").arg(pidFile);
    QElapsedTimer clock;
    clock.start();
    const auto result = Platform::runTimed(shell(script), 300ms, 500ms);
    EXPECT_TRUE(result.timedOut);
    EXPECT_TRUE(result.run.crashed);
    EXPECT_GE(clock.elapsed(), 700);
    EXPECT_LT(clock.elapsed(), 3000);
    const qint64 grandchild = TestSupport::pidFromFile(pidFile);
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(TestSupport::processGone(grandchild));
}

TEST(TimedRunner, AGrandchildHoldingTheOutputDoesNotHoldTheCaller)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("grandchild");
    QElapsedTimer clock;
    clock.start();
    const auto result =
        Platform::runTimed(shell(QStringLiteral("sleep 30 & echo $! > %1; echo done").arg(pidFile)), 20s);
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.run.out, "done\n");
    EXPECT_LT(clock.elapsed(), 3000);
    const qint64 grandchild = TestSupport::pidFromFile(pidFile);
    if (grandchild > 0)
        ::kill(pid_t(grandchild), SIGKILL);
}

TEST(TimedRunner, TheApplicationsWayOutReachesATimedChild)
{
    auto running =
        std::async(std::launch::async, [] { return Platform::runTimed(shell("exec sleep 30"), 60s); });
    QElapsedTimer clock;
    clock.start();
    while (Platform::trackedChildCount() == 0 && clock.elapsed() < 5000)
        QThread::msleep(10);
    ASSERT_EQ(Platform::trackedChildCount(), 1);
    Platform::endRunningChildren(1000);
    const auto result = running.get();
    EXPECT_FALSE(result.succeeded());
    EXPECT_LT(clock.elapsed(), 5000);
}

// A closed sheet or a quit cancels what it waits for: the run ends with its group well before its
// limit, and a run handed the cancelled object never starts.
TEST(TimedRunner, ACancelledRunEndsWithItsGroupAndTheNextNeverStarts)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("grandchild");
    Platform::Cancellation cancel;
    auto running = std::async(std::launch::async, [&] {
        return Platform::runTimed(shell(QStringLiteral("sleep 60 & echo $! > %1; wait").arg(pidFile)), 60s,
                                  2s, &cancel);
    });
    ASSERT_TRUE(TestSupport::eventually([&] { return TestSupport::pidFromFile(pidFile) > 0; }, 5000));
    QElapsedTimer clock;
    clock.start();
    cancel.cancel();
    const auto result = running.get();
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.timedOut);
    EXPECT_FALSE(result.succeeded());
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_TRUE(TestSupport::processGone(TestSupport::pidFromFile(pidFile)));

    const auto never =
        Platform::runTimed(shell(QStringLiteral("touch %1").arg(dir.filePath("ran"))), 5s, 2s, &cancel);
    EXPECT_TRUE(never.cancelled);
    EXPECT_FALSE(never.run.started);
    EXPECT_FALSE(QFile::exists(dir.filePath("ran")));
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}
