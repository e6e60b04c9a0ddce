#include "app/RunProgram.h"
#include "diagnostics/EngineScene.h"
#include "platform/Settings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The run script's main job on a machine without a display.
TEST(StartupProgramOnEngine, DumpsEveryRuntimeAndLeavesNoSettingsBehind)
{
    VOSKEL_REQUIRE_ENGINE();
    const DiagnosticsTest::EngineScene scene;
    QTemporaryDir config;
    const TestSupport::ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toUtf8());

    // Run again while the statistics gave nothing, for three minutes at most: a reading takes every
    // container on the engine within the application's limit, which an engine that other runs keep
    // busy outlasts now and then.
    const QRegularExpression reading(R"((^|\n)in use: (\d+%|<1%) of the processor  .+ (bytes?|KB|MB)\n)");
    const QDeadlineTimer patience(180000);
    AppTest::Ran ran;
    do
        ran = AppTest::runVoskel({"--dump", "all"});
    while (!reading.match(ran.out).hasMatch() && !patience.hasExpired());
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.err.isEmpty()) << ran.err.toStdString();
    const auto has = [&](const QString& pattern) {
        return QRegularExpression("(^|\n)" + pattern + "\n").match(ran.out).hasMatch();
    };
    const QString on = "  on \\S+";
    EXPECT_TRUE(has(R"(containers: \d+  running: \d+)")) << ran.out.toStdString();
    EXPECT_TRUE(has("  project " + scene.project + on + "  1/2\n    - " + scene.web() + "  \\[running\\]" +
                    on + "\n    - " + scene.worker() + "  \\[exited\\]" + on));
    EXPECT_TRUE(has("  \\(no project\\) " + scene.failed + "  \\[exited\\]" + on));
    EXPECT_TRUE(has("  could remove container " + scene.failed + on));
    EXPECT_TRUE(reading.match(ran.out).hasMatch()) << ran.out.toStdString();
    EXPECT_FALSE(QFile::exists(Platform::Settings::suiteFile("voskel.dump")));
}

namespace {

// A context of the client's own, in a configuration of the test's own, whose engine takes the
// connection and never answers: the kernel completes the connections a listening socket queues,
// though nothing ever serves them.
class HungRuntime {
public:
    const QString name = TestSupport::uniqueName("hung");

    ~HungRuntime()
    {
        if (m_listener >= 0)
            ::close(m_listener);
    }

    bool open()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 64) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        const auto made =
            TestSupport::docker({"context", "create", name, "--docker",
                                 QStringLiteral("host=tcp://127.0.0.1:%1").arg(ntohs(address.sin_port))});
        EXPECT_EQ(made.status, 0) << made.err.toStdString();
        return made.status == 0;
    }

private:
    QTemporaryDir m_clientConfig;
    TestSupport::ScopedEnv m_dockerConfig{"DOCKER_CONFIG", m_clientConfig.path().toUtf8()};
    TestSupport::ScopedEnv m_dockerHost{"DOCKER_HOST", std::nullopt};
    int m_listener = -1;
};

} // namespace

// A runtime that takes the connection and never answers: both dumps end, name it and show the rest.
TEST(StartupProgramOnEngine, ARuntimeThatNeverAnswersIsNamedAndTheRestShown)
{
    VOSKEL_REQUIRE_ENGINE();
    const DiagnosticsTest::EngineScene scene;
    QTemporaryDir config;
    const TestSupport::ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toUtf8());
    HungRuntime runtime;
    ASSERT_TRUE(runtime.open());
    const QString& hung = runtime.name;

    const AppTest::Ran all = AppTest::runVoskel({"--dump", "all"});
    EXPECT_EQ(all.exitCode, 0) << all.err.toStdString();
    EXPECT_TRUE(all.out.contains("\nruntime: " + hung + "\n")) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains("    - " + scene.web() + "  [running]  on default\n"))
        << all.out.toStdString();
    EXPECT_TRUE(
        all.out.endsWith("notice: " + hung + QStringLiteral(" is not answering \u2014 showing the rest.\n")))
        << all.out.toStdString();

    const AppTest::Ran one = AppTest::runVoskel({"--dump", hung});
    EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_TRUE(one.out.endsWith("dump failed: " + hung + " is not answering.\n")) << one.out.toStdString();
}

namespace {

// The process ids whose command line holds `word`.
QList<qint64> processesNaming(const QString& word)
{
    QList<qint64> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile cmdline("/proc/" + entry + "/cmdline");
        if (number && cmdline.open(QIODevice::ReadOnly) &&
            QString::fromUtf8(cmdline.readAll()).contains(word))
            found << pid;
    }
    return found;
}

} // namespace

// Ctrl+C while a dump waits on a runtime that never answers: the tool it waits on leads a process
// group of its own, out of the terminal's reach, and must not be left behind waiting for ever.
TEST(StartupProgramOnEngine, AnInterruptedDumpEndsTheToolItWaitsOn)
{
    VOSKEL_REQUIRE_ENGINE();
    HungRuntime runtime;
    ASSERT_TRUE(runtime.open());
    const QString& hung = runtime.name;

    QProcess voskel;
    voskel.start(QStringLiteral(VOSKEL_BINARY), {"--dump", hung});
    ASSERT_TRUE(voskel.waitForStarted());
    ASSERT_TRUE(TestSupport::eventually([&] {
        return processesNaming(hung).size() > (voskel.state() == QProcess::Running ? 1 : 0);
    })) << "the dump never asked the runtime";
    ::kill(pid_t(voskel.processId()), SIGINT);
    ASSERT_TRUE(voskel.waitForFinished(30000));
    EXPECT_EQ(voskel.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(voskel.exitCode(), 128 + SIGINT) << voskel.readAll().toStdString();
    EXPECT_TRUE(TestSupport::eventually([&] { return processesNaming(hung).isEmpty(); }, 20000))
        << "left running: " << processesNaming(hung).size();
}

// A compose project whose folder is on a mount that stops answering, as a network share whose server
// went away: each text mode says so within its limits and ends, a reader of its output included. The
// process never waits on the folder itself (it could not end while it did), and what looks at it for
// the process holds none of its output.
TEST(StartupProgramOnEngine, TextModesEndWithinTheirLimitsWhateverAFolderDoes)
{
    VOSKEL_REQUIRE_ENGINE();
    // Stalled for this test's processes alone: other runs on the engine look at every container's folder.
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    const QString project = TestSupport::uniqueName("stalled");
    const QString web = project + "-web-1";
    const auto removed = qScopeGuard([&] { TestSupport::docker({"rm", "-f", web}); });
    const auto made = TestSupport::docker(
        {"create", "--name", web, "--network", "none", "--label", "com.docker.compose.project=" + project,
         "--label", "com.docker.compose.service=web", "--label",
         "com.docker.compose.project.working_dir=" + mount.stalledPath(), TestSupport::testImage(), "true"});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    QTemporaryDir config;
    const TestSupport::ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toUtf8());

    const struct {
        QStringList arguments;
        QString says; // what it says of the folder
    } rows[] = {
        {{"--plan", project}, mount.stalledPath() + " does not answer."},
        {{"--dump"}, "  project " + project + "  0/1  [workdir does not answer - compose disabled]"},
        {{"--dump", "all"}, "  project " + project + "  on "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        QProcess shell;
        shell.start("/bin/sh",
                    QStringList{"-c", "\"$0\" \"$@\" | cat", QStringLiteral(VOSKEL_BINARY)} + row.arguments);
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(shell.waitForFinished(90000)) << "still waiting after " << clock.elapsed() << " ms";
        // The folder's ten seconds, beside the engine's answers, and nothing like the mount's own time.
        EXPECT_LT(clock.elapsed(), 30000);
        EXPECT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
        const QString out = QString::fromUtf8(shell.readAllStandardOutput());
        EXPECT_TRUE(out.contains(row.says)) << out.toStdString();
    }
}
