#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// How many look servers of `parent` wait in the kernel for the file system to answer, held there by a
// folder on the mount that stalls.
int serversHeldUp(qint64 parent)
{
    int held = 0;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        QFile waiting("/proc/" + entry + "/wchan");
        if (!stat.open(QIODevice::ReadOnly) || !waiting.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        // Waiting for the answer, or where nothing ends the wait (behind another look at the same folder).
        if (line.contains("(voskel-look)") && fields.size() > 1 && fields[1].toLongLong() == parent &&
            (fields[0] == "D" || waiting.readAll().contains("request_wait_answer")))
            ++held;
    }
    return held;
}

// The built program, windowed on the offscreen platform, with its own settings and its own folder for
// the instance lock, so it meets neither the user's running application nor other tests.
void prepare(QProcess& process, const QTemporaryDir& runtime, const QTemporaryDir& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("XDG_CONFIG_HOME", home.path());
    // The store's polling loops are asleep on their timers when the application quits, and their
    // frames end with the process rather than being woken for it: not a leak worth failing over.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(VOSKEL_BINARY));
}

// Starts the program as prepare() has it; whether it came up, its instance lock and socket made.
bool started(QProcess& window, const QTemporaryDir& runtime, const QTemporaryDir& home)
{
    prepare(window, runtime, home);
    window.start();
    return window.waitForStarted() &&
           TestSupport::eventually([&] { return QFile::exists(runtime.filePath("voskel.socket")); }, 60000);
}

TEST(WindowOnEngine, ASecondStartHandsOverToTheFirstAndEndsWithStatusZero)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir runtime;
    QTemporaryDir home;
    QProcess first;
    ASSERT_TRUE(started(first, runtime, home));

    QProcess second;
    prepare(second, runtime, home);
    second.start();
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A session that ends quits it the ordinary way.
    first.terminate();
    if (!first.waitForFinished(20000)) {
        first.kill();
        first.waitForFinished();
        ADD_FAILURE() << "the first one did not quit when asked to terminate";
    }
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
}

// Projects whose folder is on a mount that stops answering, shown in the window: a kill ends the
// process at once, and so does a quit. Before, the threads that looked at the folders waited in the
// kernel, where the process could not end while they did, and its window stayed on screen.
TEST(WindowOnEngine, AWindowWithStalledFoldersGoesAtOnceWhenKilledOrQuit)
{
    VOSKEL_REQUIRE_ENGINE();
    // Stalled for this test's processes alone: other runs on the engine look at every container's folder.
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QStringList made;
    const auto removed = qScopeGuard([&] {
        if (!made.isEmpty())
            TestSupport::docker(QStringList{"rm", "-f"} + made);
    });
    for (int i = 0; i < 3; ++i) {
        const QString project = TestSupport::uniqueName(QStringLiteral("stalled%1").arg(i));
        made << project + "-web-1";
        const auto created = TestSupport::docker(
            {"create", "--name", made.last(), "--network", "none", "--label",
             "com.docker.compose.project=" + project, "--label", "com.docker.compose.service=web", "--label",
             "com.docker.compose.project.working_dir=" + mount.stalledPath() + QString::number(i),
             TestSupport::testImage(), "true"});
        ASSERT_EQ(created.status, 0) << created.err.toStdString();
    }

    for (const bool kill : {true, false}) {
        SCOPED_TRACE(kill ? "killed" : "quit");
        QTemporaryDir runtime;
        QTemporaryDir home;
        QProcess window;
        ASSERT_TRUE(started(window, runtime, home));
        // The projects screen looks at the folders, and its looks are held up there.
        ASSERT_TRUE(TestSupport::eventually([&] { return serversHeldUp(window.processId()) >= 3; }, 30000));
        ASSERT_EQ(window.state(), QProcess::Running);
        QElapsedTimer clock;
        clock.start();
        if (kill)
            window.kill();
        else
            window.terminate();
        const bool ended = window.waitForFinished(15000);
        EXPECT_TRUE(ended) << "still there after " << clock.elapsed() << " ms";
        EXPECT_LT(clock.elapsed(), kill ? 2000 : 5000);
        if (!ended)
            continue; // it goes with the mount, at the end of the test
        if (!kill) {
            EXPECT_EQ(window.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(window.exitCode(), 0) << window.readAllStandardError().toStdString();
        }
    }
}

} // namespace
