#include "diagnostics/DumpAll.h"
#include "diagnostics/RecordedScene.h"
#include "diagnostics/RuntimeDump.h"
#include "platform/DiskLook.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

using DiagnosticsTest::printed;

// Projects whose folders are on a mount that stalls, more of them than the looks at folders have
// threads, listed before projects whose folders answer: each folder's look has its own time, so the
// folders that answer read as they are and only the stalled ones as not answering.
TEST(DiagnosticsOnEngine, AFolderThatStallsHoldsUpOnlyItsOwnLineOfTheDump)
{
    VOSKEL_REQUIRE_ENGINE();
    // Only this process and what it starts find the folders stalled; other runs find nothing there.
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    TestSupport::EngineObjects made;
    QTemporaryDir answering;
    const QString base = TestSupport::uniqueName("dump");
    constexpr int stalledCount = Platform::Pools::diskThreads + 2;
    constexpr int answeringCount = 6;
    QStringList stalled;
    QStringList fine;
    const auto create = [&](const QString& project, const QString& folder) {
        made.containers << project + "-web-1";
        const auto done = TestSupport::docker(
            {"create", "--name", project + "-web-1", "--network", "none", "--label",
             "com.docker.compose.project=" + project, "--label", "com.docker.compose.service=web", "--label",
             "com.docker.compose.project.working_dir=" + folder, TestSupport::testImage(), "true"});
        ASSERT_EQ(done.status, 0) << done.err.toStdString();
    };
    // By name, the stalled projects come first.
    for (int i = 0; i < stalledCount; ++i) {
        stalled << base + "-a" + QString::number(i);
        ASSERT_NO_FATAL_FAILURE(create(stalled.last(), mount.stalledPath() + QString::number(i)));
    }
    for (int i = 0; i < answeringCount; ++i) {
        fine << base + "-b" + QString::number(i);
        // With a compose file: another run's plan reads it, where a folder without one would leave it
        // unsure what the project uses, and so unable to offer any folder for the Trash.
        const QString folder = answering.filePath(QString::number(i));
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile compose(folder + "/compose.yaml");
        ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
        compose.write(
            ("services:\n  web:\n    image: " + TestSupport::testImage() + "\n" + TestSupport::noNetwork)
                .toUtf8());
        compose.close();
        ASSERT_NO_FATAL_FAILURE(create(fine.last(), folder));
    }

    const QStringList lines =
        printed([](QTextStream& out) { Diagnostics::runDump(out, std::nullopt); }).split('\n');
    for (const QString& project : std::as_const(stalled))
        EXPECT_TRUE(
            lines.contains("  project " + project + "  0/1  [workdir does not answer - compose disabled]"))
            << project.toStdString() << "\n"
            << lines.join('\n').toStdString();
    for (const QString& project : std::as_const(fine))
        EXPECT_TRUE(lines.contains("  project " + project + "  0/1")) << project.toStdString() << "\n"
                                                                      << lines.join('\n').toStdString();
    mount.release();
}

// A hundred projects whose folders are on a mount that stalls: each dump says so of their folders and
// ends within about one folder's ten seconds beside the engine's own time, not a wait for each folder
// (a generous bound, no measure of speed).
TEST(DiagnosticsOnEngine, TheDumpsEndInAboutOneFolderLimitHoweverManyFoldersStall)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    TestSupport::EngineObjects made;
    const QString base = TestSupport::uniqueName("many");
    constexpr int stalledCount = 100;
    QStringList stalled;
    for (int i = 0; i < stalledCount; ++i) {
        const QString project = base + "-" + QString::number(i);
        stalled << project;
        made.containers << project + "-web-1";
        const auto done = TestSupport::docker(
            {"create", "--name", project + "-web-1", "--network", "none", "--label",
             "com.docker.compose.project=" + project, "--label", "com.docker.compose.service=web", "--label",
             "com.docker.compose.project.working_dir=" + mount.stalledPath() + QString::number(i),
             TestSupport::testImage(), "true"});
        ASSERT_EQ(done.status, 0) << done.err.toStdString();
    }
    QTemporaryDir config;
    const TestSupport::ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toUtf8());
    constexpr qint64 bound = 2 * Platform::folderAnswerLimit.count();

    QElapsedTimer clock;
    clock.start();
    const QStringList lines =
        printed([](QTextStream& out) { Diagnostics::runDump(out, std::nullopt); }).split('\n');
    EXPECT_LT(clock.elapsed(), bound);
    for (const QString& project : {stalled.first(), stalled.last()})
        EXPECT_TRUE(
            lines.contains("  project " + project + "  0/1  [workdir does not answer - compose disabled]"))
            << project.toStdString() << "\n"
            << lines.join('\n').toStdString();

    clock.restart();
    const QString all = printed([](QTextStream& out) { QCoro::waitFor(Diagnostics::runDumpAll(out)); });
    EXPECT_LT(clock.elapsed(), bound);
    EXPECT_TRUE(all.contains("  project " + stalled.last() + "  on ")) << all.toStdString();
    mount.release();
}
