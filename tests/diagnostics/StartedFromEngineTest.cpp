#include "diagnostics/PlanDump.h"
#include "diagnostics/RecordedScene.h"
#include "diagnostics/RuntimeDump.h"
#include "engine/ProjectRegistry.h"
#include "engine/Runtime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using DiagnosticsTest::printed;
using TestSupport::docker;
using TestSupport::uniqueName;

namespace {

QString oneService(const QString& volumes = {})
{
    return "services:\n  web:\n    image: " + TestSupport::testImage() +
           "\n    command: [\"sleep\", \"600\"]\n    network_mode: none\n" + volumes;
}

// The lines of a plan that say what becomes of each volume.
QStringList volumeLines(const QString& plan)
{
    QStringList lines;
    for (const QString& line : plan.split('\n'))
        if (line.startsWith("  remove volume") || line.startsWith("  KEEP volume"))
            lines << line;
    return lines;
}

} // namespace

// A project that is down, remembered on the client's current context, takes the volume as external: the
// plan keeps it whether the context is named or not, as the delete sheet does.
TEST(DiagnosticsOnEngine, ThePlanWithoutAContextReadsTheRegistryAsTheWindowDoes)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir root;
    TestSupport::EngineObjects made;
    const QString shop = uniqueName("shop");
    const QString orders = uniqueName("orders");
    made.projects << shop;
    made.volumes << shop + "_data";
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(
        root.filePath("shop/compose.yaml"), oneService("    volumes: [data:/data]\nvolumes:\n  data: {}\n")));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(
        root.filePath("orders/compose.yaml"),
        oneService("    volumes: [d:/d]\nvolumes:\n  d:\n    external: true\n    name: " + shop +
                   "_data\n")));
    const auto started = docker({"compose", "-p", shop, "up", "-d"}, root.filePath("shop"));
    ASSERT_EQ(started.status, 0) << started.err.toStdString();

    std::optional<QString> current;
    for (const RuntimeEntry& entry : Docker::runtimes().list)
        if (entry.current)
            current = entry.id();
    ASSERT_TRUE(current) << "the client names no current context";
    ProjectRegistry registry;
    registry.add({orders, root.filePath("orders"), {"web"}}, *current);

    const auto plan = [&](const std::optional<QString>& context) {
        return printed([&](QTextStream& s) { Diagnostics::runPlan(s, shop, context, registry); });
    };
    const QString named = plan(current);
    const QString unnamed = plan(std::nullopt);
    ASSERT_EQ(volumeLines(named).size(), 1) << named.toStdString();
    EXPECT_TRUE(volumeLines(named).first().startsWith("  KEEP volume       " + shop + "_data"))
        << named.toStdString();
    EXPECT_TRUE(volumeLines(named).first().contains(orders)) << named.toStdString();
    // Others on the engine may hold it too, and come and go between the two plans: both keep it for
    // the remembered project.
    ASSERT_EQ(volumeLines(unnamed).size(), 1) << unnamed.toStdString();
    EXPECT_TRUE(volumeLines(unnamed).first().startsWith("  KEEP volume       " + shop + "_data"))
        << unnamed.toStdString();
    EXPECT_TRUE(volumeLines(unnamed).first().contains("project " + orders + " names it"))
        << unnamed.toStdString();
    EXPECT_EQ(docker({"volume", "inspect", shop + "_data"}).status, 0) << "only a plan";
}

// Started from `-f stack.yml` in another folder, with its own folder holding no compose file: the dump
// shows it ready, as the window does, and checks the files it runs from.
TEST(DiagnosticsOnEngine, TheDumpJudgesAProjectByTheFilesItWasStartedFrom)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir root;
    TestSupport::EngineObjects made;
    const QString name = uniqueName("stack");
    made.projects << name;
    ASSERT_TRUE(QDir().mkpath(root.filePath("run")));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(root.filePath("deploy/stack.yml"), oneService()));
    const auto started = docker({"compose", "-p", name, "--project-directory", root.filePath("run"), "-f",
                                 root.filePath("deploy/stack.yml"), "up", "-d"});
    ASSERT_EQ(started.status, 0) << started.err.toStdString();

    const QStringList lines =
        printed([](QTextStream& s) { Diagnostics::runDump(s, std::nullopt); }).split('\n');
    const qsizetype at = lines.indexOf("  project " + name + "  1/1");
    ASSERT_GE(at, 0) << lines.join('\n').toStdString();
    EXPECT_EQ(lines.value(at + 1), "    compose config: ok");

    ASSERT_TRUE(QFile::remove(root.filePath("deploy/stack.yml")));
    const QStringList gone =
        printed([](QTextStream& s) { Diagnostics::runDump(s, std::nullopt); }).split('\n');
    EXPECT_TRUE(gone.contains("  project " + name + "  1/1  [no compose file - compose disabled]"))
        << gone.join('\n').toStdString();
}
