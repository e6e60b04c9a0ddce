#include "platform/ProcessRunner.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <thread>
#include <vector>

using Platform::PreparedProcess;
using TestSupport::shell;

TEST(SearchPath, NeverEndsInAnEmptyElement)
{
    struct Row {
        QStringList prefix;
        QString inherited;
        QString expected;
    };
    const Row rows[] = {
        {{"/opt/homebrew/bin", "/usr/local/bin"},
         "/usr/bin:/bin",
         "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin"},
        {{"/opt/homebrew/bin", "/usr/local/bin"}, "", "/opt/homebrew/bin:/usr/local/bin"},
        {{}, "", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Platform::childSearchPath(row.prefix, row.inherited), row.expected);

    Platform::setTestSearchPrefix(QStringLiteral("/tmp/fakes"));
    EXPECT_EQ(Platform::childSearchPath({"/usr/local/bin"}, ""), "/tmp/fakes:/usr/local/bin");
    Platform::setTestSearchPrefix(QString());
}

TEST(StrictUtf8, InvalidBytesGiveTheEmptyText)
{
    EXPECT_EQ(Platform::decodeUtf8Strict("caf\xc3\xa9 \xe2\x80\x94 ok"), QStringLiteral(u"café — ok"));
    EXPECT_EQ(Platform::decodeUtf8Strict("half \xc3"), QString());
    EXPECT_EQ(Platform::decodeUtf8Strict("bad \xff byte"), QString());
    EXPECT_EQ(Platform::decodeUtf8Strict("\xed\xa0\x80"), QString()); // an encoded surrogate
    EXPECT_EQ(Platform::decodeUtf8Strict(QByteArray()), QString());
}

TEST(Capture, ReturnsStatusAndBothStreamsUntrimmed)
{
    const auto result = Platform::capture(shell("printf ' out\\n'; printf 'err \\n' >&2; exit 3"));
    EXPECT_EQ(result, (Platform::Capture{3, " out\n", "err \n"}));
}

TEST(Capture, StandardInputIsTheNullDeviceUnlessInputIsGiven)
{
    // `cat` would wait forever on an inherited terminal; on the null device it sees end of file.
    EXPECT_EQ(Platform::capture(shell("cat; echo end")).out, "end\n");
    EXPECT_EQ(Platform::capture(shell("cat"), QByteArray("secret")).out, "secret");
}

TEST(Capture, InputToAChildThatExitsEarlyIsHarmless)
{
    const QByteArray large(4 * 1024 * 1024, 'x'); // far beyond a pipe's capacity
    const auto result = Platform::capture(shell("exit 0"), large);
    EXPECT_EQ(result.status, 0);
    const auto closing = Platform::capture(shell("exec 0<&-; echo closed"), large);
    EXPECT_EQ(closing.out, "closed\n");
}

TEST(Capture, LargeErrorOutputBeforeAnyOutputDoesNotStall)
{
    const auto result = Platform::capture(shell("head -c 600000 /dev/zero | tr '\\0' e >&2; echo after"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err.size(), 600000);
    EXPECT_EQ(result.out, "after\n");
}

TEST(Capture, InvalidUtf8EmptiesOnlyThatStream)
{
    const auto result = Platform::capture(shell("printf 'a\\377b'; printf 'fine' >&2"));
    EXPECT_EQ(result.out, QString());
    EXPECT_EQ(result.err, "fine");
}

TEST(Capture, AChildKilledBySignalIsAFailure)
{
    const auto result = Platform::capture(shell("kill -9 $$"));
    EXPECT_EQ(result.status, 128 + SIGKILL);
    const auto done = Platform::runToEnd(shell("kill -TERM $$"));
    EXPECT_TRUE(done.crashed);
    EXPECT_FALSE(done.succeeded());
}

TEST(Capture, AChildThatCannotStartGivesMinusOneAndTheReason)
{
    PreparedProcess missingDir = shell("true");
    missingDir.workingDirectory = QStringLiteral("/nonexistent/voskel/dir");
    const auto result = Platform::capture(missingDir);
    EXPECT_EQ(result.status, -1);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_FALSE(result.err.isEmpty());

    PreparedProcess missingProgram;
    missingProgram.program = QStringLiteral("/nonexistent/voskel/program");
    EXPECT_EQ(Platform::capture(missingProgram).status, -1);
}

TEST(Capture, RunsInTheGivenWorkingDirectoryWithTheGivenEnvironment)
{
    QTemporaryDir dir;
    PreparedProcess prepared = shell("pwd; printf '%s' \"$VOSKEL_PROBE\"");
    prepared.workingDirectory = dir.path();
    prepared.environment.insert(QStringLiteral("VOSKEL_PROBE"), QStringLiteral("probe value"));
    EXPECT_EQ(Platform::capture(prepared).out, dir.path() + "\nprobe value");
}

TEST(EndRunningChildren, EndsChildrenStillRunning)
{
    Platform::Capture result;
    std::thread worker([&] { result = Platform::capture(shell("exec sleep 60")); });
    QElapsedTimer clock;
    clock.start();
    while (Platform::trackedChildCount() == 0 && clock.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Platform::trackedChildCount(), 1);

    Platform::endRunningChildren(2000);
    worker.join();
    EXPECT_EQ(result.status, 128 + SIGTERM);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

TEST(EndRunningChildren, KillsAChildThatIgnoresTermination)
{
    PreparedProcess stubborn = shell("trap '' TERM; while :; do sleep 0.05; done");
    Platform::Capture result;
    std::thread worker([&] { result = Platform::capture(stubborn); });
    QElapsedTimer clock;
    clock.start();
    while (Platform::trackedChildCount() == 0 && clock.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the trap be set

    Platform::endRunningChildren(300);
    worker.join();
    EXPECT_EQ(result.status, 128 + SIGKILL);
}

TEST(EndRunningChildren, EndsWhatTheChildStarted)
{
    // As the docker client runs its compose plugin: the child waits on a process of its own.
    QTemporaryDir dir;
    const QString pidFile = dir.filePath("grandchild");
    Platform::Capture result;
    std::thread worker([&] {
        result = Platform::capture(shell(QStringLiteral("sleep 60 & echo $! > %1; wait").arg(pidFile)));
    });
    QElapsedTimer clock;
    clock.start();
    while (TestSupport::pidFromFile(pidFile) < 0 && clock.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const qint64 grandchild = TestSupport::pidFromFile(pidFile);
    ASSERT_GT(grandchild, 0);

    Platform::endRunningChildren(2000);
    worker.join();
    EXPECT_EQ(result.status, 128 + SIGTERM);
    EXPECT_TRUE(TestSupport::processGone(grandchild));
}

TEST(EndRunningChildren, ReachesChildrenThatHaveOnlyJustStarted)
{
    // Children shown to run are ended even when the threads that started them have not got round to
    // anything since. Many start at once, each ended as soon as it has left its mark; a starting
    // thread that loses the processor at the wrong moment is then bound to occur in some round.
    constexpr int rounds = 40;
    constexpr int count = 24;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir dir;
        std::vector<int> statuses(count, 0);
        std::vector<std::thread> workers;
        for (int i = 0; i < count; ++i)
            workers.emplace_back([&, i] {
                const QString script = QStringLiteral(": > %1/%2; exec sleep 10").arg(dir.path()).arg(i);
                statuses[i] = Platform::capture(shell(script)).status;
            });
        QElapsedTimer clock;
        clock.start();
        while (QDir(dir.path()).entryList(QDir::Files).size() < count && clock.elapsed() < 10000)
            std::this_thread::yield();

        Platform::endRunningChildren(2000);
        for (std::thread& worker : workers)
            worker.join();
        const auto missed = std::count_if(statuses.cbegin(), statuses.cend(),
                                          [](int status) { return status != 128 + SIGTERM; });
        ASSERT_EQ(missed, 0) << "round " << round;
        ASSERT_LT(clock.elapsed(), 5000);
    }
}
