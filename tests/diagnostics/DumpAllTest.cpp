#include "diagnostics/DumpAll.h"

#include "diagnostics/RecordedScene.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/ProjectRegistry.h"
#include "platform/Settings.h"

#include <QCoroTask>

using DiagnosticsTest::printed;
using Platform::Settings;

namespace {

// The recorded scene on the context "default", beside a context that is reachable but does not
// answer and one whose socket is gone. The user's own settings live in a folder of the test's own
// and remember the shop with two services and an old project, taken down, with three.
class DumpAll : public DiagnosticsTest::RecordedScene {
protected:
    DumpAll()
    {
        answerDocker(
            {"context", "ls", "--format", "json"},
            recorded("context-ls.ndjson").replace("/var/run/docker.sock", socketPath()) +
                R"({"Current":false,"DockerEndpoint":"tcp://127.0.0.1:1","Name":"broken"})"
                "\n"
                R"({"Current":false,"DockerEndpoint":"unix:///nonexistent/other.sock","Name":"other"})"
                "\n");
        fakes.answer("docker", QStringList{"--context", "broken"} + Docker::containerListingArgs(), "",
                     "Cannot connect to the Docker daemon at tcp://127.0.0.1:1.\n", 1);

        ProjectRegistry registry;
        registry.add({"dg7shop", workdir.path(), {"web", "worker"}}, QString("default"));
        registry.add({"dg7old", "/nonexistent/old", {"api", "db", "queue"}}, QString("default"));
        auto user = Settings::standard();
        registry.save(*user);
        user->setValue("showAllRuntimes", false);
    }

    QString dumpAll()
    {
        return printed([](QTextStream& out) { QCoro::waitFor(Diagnostics::runDumpAll(out)); });
    }

    static QByteArray userFile()
    {
        QFile file(Settings::suiteFile(Settings::standardSuite));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir config;
    TestSupport::ScopedEnv configHome{"XDG_CONFIG_HOME", config.path().toUtf8()};
};

} // namespace

TEST_F(DumpAll, ShowsWhatTheWindowWouldHoldForEveryRuntimeAndLeavesTheUsersSettingsAlone)
{
    const QByteArray before = userFile();
    ASSERT_FALSE(before.isEmpty());

    expectGolden(dumpAll(), "dump-all.txt");
    EXPECT_EQ(userFile(), before);
    EXPECT_FALSE(QFile::exists(Settings::suiteFile(Diagnostics::dumpSuite)));
    // A runtime that is not reachable is never asked.
    EXPECT_TRUE(fakes.calls().filter("--context other").isEmpty());
}

TEST_F(DumpAll, ASuiteThatCannotBeUsedGivesWayToMemoryNotToTheUsersSettings)
{
    // A folder where the suite's file would be: it can be neither read nor written.
    ASSERT_TRUE(QDir().mkpath(Settings::suiteFile(Diagnostics::dumpSuite)));
    ASSERT_FALSE(Settings::suite(Diagnostics::dumpSuite)->isUsable());
    const QByteArray before = userFile();

    const QString out = dumpAll();
    EXPECT_TRUE(out.contains("\n  project dg7shop  on default  1/2\n")) << out.toStdString();
    EXPECT_EQ(userFile(), before);
    EXPECT_FALSE(Settings::standard()->boolean("showAllRuntimes", true));
}

TEST_F(DumpAll, WithoutStatisticsOrDiskUseTheReadingHasNoFiguresAndTheErrorIsShown)
{
    answerDocker({"context", "ls", "--format", "json"},
                 recorded("context-ls.ndjson").replace("/var/run/docker.sock", socketPath()));
    answerDocker(Docker::containerListingArgs(), "", "permission denied while trying to connect\n", 1);
    answerDocker({"system", "df", "--format", "json"}, "", "no", 1);
    answerDocker({"stats", "--no-stream", "--format", "json"}, "", "no", 1);

    const QStringList lines = dumpAll().split('\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.filter("on disk:").isEmpty());
    EXPECT_TRUE(lines.contains("in use: — of the processor  —")) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.last(), "error: permission denied while trying to connect");
}

// Clients before 23 print the word "json" for every row they were asked to format. The containers are
// listed through a template such a client still fills in; the images are not.
TEST_F(DumpAll, AClientTooOldForJsonListingsIsNamedInsteadOfShowingAnEmptyEngine)
{
    fakes.answer("docker", {"--version"}, "Docker version 20.10.24+dfsg1, build 297e128\n");
    answerDocker({"context", "ls", "--format", "json"}, "json\n");
    answerDocker(Docker::containerListingArgs(), "");
    answerDocker({"images", "--format", "json"}, "json\n");
    const QString tooOld = "This docker client (20.10.24+dfsg1) is too old: version 23 or later is needed.";

    const QStringList lines = dumpAll().split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.last(), "error: " + tooOld) << lines.join('\n').toStdString();
    EXPECT_TRUE(printed([](QTextStream& out) {
                    Diagnostics::runDump(out, std::nullopt);
                }).endsWith("\ndump failed: " + tooOld + "\n"));
}
