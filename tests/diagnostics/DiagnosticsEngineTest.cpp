#include "diagnostics/EngineScene.h"
#include "diagnostics/PlanDump.h"
#include "diagnostics/RecordedScene.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/Compose.h"
#include "engine/ComposeProject.h"
#include "engine/Docker.h"
#include "engine/Listings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

using DiagnosticsTest::EngineScene;
using DiagnosticsTest::printed;

namespace {

// Other users of the engine have things of their own on it, so lines are looked for, not counted.
void expectLine(const QStringList& lines, const QString& pattern)
{
    const QRegularExpression line(QRegularExpression::anchoredPattern(pattern));
    EXPECT_TRUE(
        std::any_of(lines.cbegin(), lines.cend(), [&](const QString& l) { return line.match(l).hasMatch(); }))
        << "no line like: " << pattern.toStdString() << "\n"
        << lines.join('\n').toStdString();
}

QString quoted(const QString& text)
{
    return QRegularExpression::escape(text);
}

// The runtime dump, taken again while its statistics gave nothing, for two minutes at most: a reading
// takes every container on the engine within the application's limit, which an engine that other runs
// keep busy outlasts now and then.
QStringList runtimeDump()
{
    const QDeadlineTimer patience(120000);
    QStringList lines;
    do
        lines = printed([](QTextStream& out) {
                    Diagnostics::runDump(out, std::nullopt);
                }).split('\n', Qt::SkipEmptyParts);
    while (lines.contains("in use: this runtime did not report processor or memory") &&
           !patience.hasExpired());
    return lines;
}

} // namespace

TEST(DiagnosticsOnEngine, TheRuntimeDumpShowsTheProjectTheLooseContainersAndTheirReadings)
{
    VOSKEL_REQUIRE_ENGINE();
    const EngineScene scene;
    const QStringList lines = runtimeDump();

    expectLine(lines, R"(runtime: \S+( · current)?( · offline)?  \S+(  \[opens here\])?)");
    expectLine(lines, R"(runtime: \(current\)  containers: \d+)");
    const qsizetype project = lines.indexOf("  project " + scene.project + "  1/2");
    ASSERT_GE(project, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.mid(project + 1, 3),
              (QStringList{"    compose config: ok",
                           "    - " + scene.web() + "  [running]  " + TestSupport::testImage(),
                           "    - " + scene.worker() + "  [exited]  " + TestSupport::testImage()}));
    expectLine(lines, "  \\(no project\\) " + quoted(scene.failed) + "  \\[exited\\]");
    expectLine(lines, "  \\(no project\\) " + quoted(scene.sidecar) + "  \\[running\\]");
    expectLine(lines, R"(images: \d+  volumes: \d+)");
    expectLine(lines, R"(on disk: .+ (bytes?|KB|MB|GB|TB)  reclaimable: .+)");
    // The project's own volume counts towards it: 200 KB at least.
    expectLine(lines, "  project " + quoted(scene.project) + R"(  (\d\d\d KB|[\d.]+ MB))");
    expectLine(lines, "  could remove container " + quoted(scene.failed) +
                          R"(  .+  \[not in a project · no volume\])");
    expectLine(lines, R"(in use: (\d+%|<1%) of the processor  .+ of .+)");
    expectLine(lines, "  " + quoted(scene.sidecar) + R"(  (\d+%|<1%)  .+)");
    expectLine(lines, "  " + quoted(scene.web()) + R"(  (\d+%|<1%)  .+)");
    for (const QString& line : lines)
        EXPECT_FALSE(line.startsWith("  " + scene.failed + "  ")) << "a stopped container got a reading";
}

TEST(DiagnosticsOnEngine, ThePlanKeepsTheSharedVolumeAndLeavesTheExternalOneAlone)
{
    VOSKEL_REQUIRE_ENGINE();
    const EngineScene scene;
    const QString out =
        printed([&](QTextStream& s) { Diagnostics::runPlan(s, scene.project, QString("default")); });
    if (TestSupport::stalledElsewhere({out}))
        GTEST_SKIP() << out.toStdString();
    EXPECT_EQ(out, scene.expectedPlan());
    // Only a plan: everything is still there.
    EXPECT_EQ(TestSupport::docker({"volume", "inspect", scene.data()}).status, 0);
    EXPECT_EQ(TestSupport::docker({"inspect", scene.web()}).status, 0);
}

// A compose project label is whatever its maker wrote; an escape sequence in it reaches the reader's
// terminal only written out.
TEST(DiagnosticsOnEngine, AnEscapeSequenceInALabelIsWrittenOutNotSentToTheTerminal)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::EngineObjects made;
    const QString name = TestSupport::uniqueName("esc");
    made.containers << name;
    const QString project = name + "\x1B]0;owned\x07\x1B[2J";
    ASSERT_EQ(TestSupport::docker({"create", "--name", name, "--label",
                                   "com.docker.compose.project=" + project, TestSupport::testImage(), "true"})
                  .status,
              0);
    const QString out = printed([](QTextStream& s) { Diagnostics::runDump(s, std::nullopt); });
    EXPECT_TRUE(out.contains("  project " + name + "\\x1B]0;owned\\x07\\x1B[2J  0/1")) << out.toStdString();
    EXPECT_FALSE(out.contains(QChar(0x1B)));
    EXPECT_FALSE(out.contains(QChar(0x07)));
}

// A line break in a label must not forge a line of the label's choosing, neither in the dump nor in
// the list of projects a plan names when it finds none.
TEST(DiagnosticsOnEngine, ALineFeedInALabelStaysInsideItsLine)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::EngineObjects made;
    const QString name = TestSupport::uniqueName("lf");
    made.containers << name;
    ASSERT_EQ(TestSupport::docker({"create", "--name", name, "--label",
                                   "com.docker.compose.project=" + name + "\nruntime: evil\r\t!",
                                   TestSupport::testImage(), "true"})
                  .status,
              0);
    const QString dump = printed([](QTextStream& s) { Diagnostics::runDump(s, std::nullopt); });
    const QString plan = printed([&](QTextStream& s) { Diagnostics::runPlan(s, name, std::nullopt); });
    for (const QString& out : {dump, plan}) {
        for (const QString& line : out.split('\n'))
            EXPECT_FALSE(line.startsWith("runtime: evil")) << out.toStdString();
        EXPECT_TRUE(out.contains(name + "\\x0Aruntime: evil\\x0D\\x09!")) << out.toStdString();
    }
    EXPECT_TRUE(plan.startsWith("no project named " + name + ". Found: ")) << plan.toStdString();
}

namespace {

// Compose projects started from folders made by the shell, which can name them byte for byte, and
// taken down again by name however the test ends, their folders with them (a name that is not UTF-8
// is beyond Qt's reach).
class FolderProjects {
public:
    ~FolderProjects()
    {
        for (const QString& project : std::as_const(m_projects))
            TestSupport::docker({"compose", "-p", project, "down", "-t", "0"});
        for (const QString& folder : std::as_const(m_folders))
            QProcess::execute("/bin/sh", {"-c", "rm -rf -- " + folder});
    }

    // Makes `folder` (a shell word: "$(printf ...)" is spelled out) with a one-service compose file
    // and brings `project` up in it.
    void up(const QString& project, const QString& folder)
    {
        m_projects << project;
        m_folders << folder;
        QProcess shell;
        shell.start("/bin/sh", {"-c",
                                "set -e; dir=" + folder +
                                    "; mkdir -p \"$dir\"; printf 'services:\\n  app:\\n    image: %s\\n    "
                                    "command: [\"sleep\", \"600\"]\\n    network_mode: none\\n' \"$2\" "
                                    ">\"$dir/compose.yaml\"; cd \"$dir\"; "
                                    "docker compose -p \"$1\" up -d",
                                "sh", project, TestSupport::testImage()});
        ASSERT_TRUE(shell.waitForFinished(120000));
        ASSERT_EQ(shell.exitCode(), 0) << shell.readAllStandardError().toStdString();
    }

private:
    QStringList m_projects;
    QStringList m_folders;
};

void touch(const QString& path)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("keep me\n");
}

} // namespace

// A project started from "shop,env=prod" beside a folder "shop": the plan offers the project's own
// folder, whole, for the Trash. One started from a folder whose name holds the byte 0xFF, which the
// engine keeps as U+FFFD: neither that name's sibling (made here, with a compose file) nor anything
// else is offered, the plan says why, and compose is not run in the sibling.
TEST(DiagnosticsOnEngine, ThePlanOffersOnlyTheFolderTheProjectWasStartedFrom)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir root;
    const QString cm = root.filePath("cm");
    touch(cm + "/shop/notes.txt");
    const QString sibling = cm + QStringLiteral("/bad\uFFFD");
    touch(sibling + "/compose.yaml");
    const QString comma = TestSupport::uniqueName("comma");
    const QString bad = TestSupport::uniqueName("bad");
    FolderProjects projects;
    ASSERT_NO_FATAL_FAILURE(projects.up(comma, "'" + cm + "/shop,env=prod'"));
    ASSERT_NO_FATAL_FAILURE(projects.up(bad, "'" + cm + "/bad'\"$(printf '\\377')\""));

    const auto plan = [](const QString& project) {
        return printed([&](QTextStream& s) { Diagnostics::runPlan(s, project, std::nullopt); });
    };
    // What others on the engine leave in doubt is said beside the offer: theirs, not this test's.
    const auto ours = [](const QString& planned) {
        QStringList lines = planned.split(u'\n');
        lines.removeIf([](const QString& line) {
            return line.startsWith("  beside the offer") && !TestSupport::strangersNamedIn(line).isEmpty();
        });
        return lines.join(u'\n');
    };
    const QString commaPlan = ours(plan(comma));
    if (TestSupport::stalledElsewhere({commaPlan}))
        GTEST_SKIP() << commaPlan.toStdString();
    EXPECT_TRUE(commaPlan.endsWith("  offer to trash    " + cm + "/shop,env=prod\n"))
        << commaPlan.toStdString();

    const QString badPlan = ours(plan(bad));
    EXPECT_FALSE(badPlan.contains("offer to trash")) << badPlan.toStdString();
    EXPECT_TRUE(badPlan.endsWith("  note              " + Docker::inexactNameMessage(sibling) +
                                 " It is not offered for the Trash.\n"))
        << badPlan.toStdString();

    for (const ComposeProject& project : Docker::group(Docker::containers(std::nullopt))) {
        if (project.name == comma) {
            EXPECT_EQ(Docker::composeFilesOf(project), QStringList{cm + "/shop,env=prod/compose.yaml"});
        } else if (project.name == bad) {
            EXPECT_EQ(project.workingDir, sibling);
            EXPECT_FALSE(Docker::checkCompose(*project.workingDir).isValid());
            try {
                Docker::composeFilesOf(project);
                ADD_FAILURE() << "compose would read " << sibling.toStdString();
            } catch (const DockerError& refused) {
                EXPECT_TRUE(refused.errorDescription().startsWith(sibling + " cannot be named exactly"))
                    << refused.errorDescription().toStdString();
            }
        }
    }
    EXPECT_TRUE(QFile::exists(cm + "/shop/notes.txt"));
}

// A project started with the system's /etc as its project folder, and one started in the folder that
// holds Voskel's own settings (set outside the home): neither is offered for the Trash, and the plan
// says why in a sentence of its own.
TEST(DiagnosticsOnEngine, ThePlanNeverOffersASystemOrPersonalFolder)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir root;
    const QString settings = root.filePath("settings");
    touch(root.filePath("etc-project/compose.yaml"));
    touch(settings + "/voskel/voskel.ini");
    const TestSupport::ScopedEnv config("XDG_CONFIG_HOME", settings.toUtf8());
    const QString system = TestSupport::uniqueName("etc");
    const QString personal = TestSupport::uniqueName("conf");
    // Taken down however the test ends; nothing of /etc is ever removed by it.
    const auto down = qScopeGuard([&] {
        for (const QString& project : {system, personal})
            TestSupport::docker({"compose", "-p", project, "down", "-t", "0"});
    });
    const QByteArray compose = "services:\n  app:\n    image: " + TestSupport::testImage().toUtf8() +
                               "\n    command: [\"sleep\", \"600\"]\n    network_mode: none\n";
    for (const QString& file : {root.filePath("etc-project/compose.yaml"), settings + "/compose.yaml"}) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(compose);
    }
    const Platform::Capture etc =
        TestSupport::docker({"compose", "-p", system, "-f", root.filePath("etc-project/compose.yaml"),
                             "--project-directory", "/etc", "up", "-d"});
    ASSERT_EQ(etc.status, 0) << etc.err.toStdString();
    const Platform::Capture own = TestSupport::docker({"compose", "-p", personal, "up", "-d"}, settings);
    ASSERT_EQ(own.status, 0) << own.err.toStdString();

    const auto plan = [](const QString& project) {
        return printed([&](QTextStream& s) { Diagnostics::runPlan(s, project, std::nullopt); });
    };
    const QString etcPlan = plan(system);
    const QString ownPlan = plan(personal);
    if (TestSupport::stalledElsewhere({etcPlan, ownPlan}))
        GTEST_SKIP() << etcPlan.toStdString() << ownPlan.toStdString();
    EXPECT_FALSE(etcPlan.contains("offer to trash")) << etcPlan.toStdString();
    EXPECT_TRUE(etcPlan.contains("  note              /etc is not offered for the Trash: it is a system "
                                 "folder, directly under the root of the file system.\n"))
        << etcPlan.toStdString();
    EXPECT_FALSE(ownPlan.contains("offer to trash")) << ownPlan.toStdString();
    EXPECT_TRUE(ownPlan.contains("  note              " + settings +
                                 " is not offered for the Trash: it is a personal folder: your settings "
                                 "folder.\n"))
        << ownPlan.toStdString();
}
