#include "engine/Usage.h"

#include "engine/Docker.h"
#include "engine/Reclaim.h"
#include "engine/Stats.h"
#include "engine/Teardown.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>

#include <thread>
#include <vector>

using Kind = Reclaimable::Kind;
using Recovery = Reclaimable::Recovery;
using TestSupport::docker;
using TestSupport::testImage;
using TestSupport::uniqueName;

namespace {

// Everything a test makes on the engine, removed again however the test ends.
class Scene {
public:
    QString container(const QStringList& runArgs, const QString& what)
    {
        const QString name = uniqueName(what);
        m_made.containers << name;
        const auto run = docker(QStringList{"run", "--network", "none", "--name", name} + runArgs);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return name;
    }
    QString volume(const QString& what)
    {
        const QString name = uniqueName(what);
        m_made.volumes << name;
        EXPECT_EQ(docker({"volume", "create", name}).status, 0);
        return name;
    }
    QString namedVolume(const QString& what)
    {
        const QString name = uniqueName(what);
        m_made.volumes << name;
        return name;
    }
    // An image made from a container; untagged when `ref` is empty. Gives what removes it.
    QString commit(const QString& container, const QString& ref = {})
    {
        QStringList args{"commit", container};
        if (!ref.isEmpty()) {
            args << ref;
            m_made.images << ref;
        }
        const auto done = docker(args);
        EXPECT_EQ(done.status, 0) << done.err.toStdString();
        if (ref.isEmpty())
            m_made.images << done.out.trimmed();
        return ref.isEmpty() ? done.out.trimmed() : ref;
    }
    void project(const QString& name) { m_made.projects << name; }

private:
    TestSupport::EngineObjects m_made;
};

// A container by its name, anything else by its ref.
const Reclaimable* find(const DiskUsage& usage, Kind kind, const QString& ref)
{
    for (const Reclaimable& item : usage.candidates)
        if (item.kind == kind && (kind == Kind::Container ? item.name : item.ref) == ref)
            return &item;
    return nullptr;
}

bool exists(const QStringList& inspectArgs)
{
    return docker(inspectArgs).status == 0;
}

} // namespace

TEST(DiskUsageOnEngine, ReportsLooseContainersVolumesAndImagesWithTheirMounts)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    const QString data = scene.namedVolume("data");
    const QString unused = scene.volume("unused");
    const QString exited = scene.container(
        {"-v", data + ":/data", testImage(), "sh", "-c", "head -c 20000 /dev/zero > /data/f"}, "exited");
    const QString snapshot = scene.commit(exited, uniqueName("snap") + ":1");
    const QString untagged = scene.commit(exited);

    const Runtime engine = Runtime::context("default");
    const DiskUsage usage = Docker::usage(engine);
    EXPECT_GT(usage.total, 0);
    EXPECT_TRUE(usage.containerSize.contains(exited));
    EXPECT_EQ(usage.volumeSize.value(data), 20000);
    EXPECT_EQ(usage.mounts.value(exited), QStringList{data});

    const Reclaimable* container = find(usage, Kind::Container, exited);
    ASSERT_TRUE(container);
    EXPECT_EQ(container->ref, docker({"inspect", "--format", "{{.Id}}", exited}).out.trimmed())
        << "removed by what was measured, not by a name that may be given again";
    EXPECT_EQ(container->recovery, Recovery::Gone);
    EXPECT_EQ(container->note, "not in a project"); // it has a volume
    EXPECT_EQ(container->runtime, engine);

    EXPECT_FALSE(find(usage, Kind::Volume, data)); // still mounted by the stopped container
    const Reclaimable* spare = find(usage, Kind::Volume, unused);
    ASSERT_TRUE(spare);
    EXPECT_EQ(spare->recovery, Recovery::Gone);

    // Committed here and never pushed, so only its source could bring it back.
    const Reclaimable* committed = find(usage, Kind::Image, snapshot);
    ASSERT_TRUE(committed);
    EXPECT_EQ(committed->recovery, Recovery::NeedsSource);
    EXPECT_EQ(committed->note, "built here");
    const Reclaimable* loose = find(usage, Kind::Image, untagged);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->name, "untagged");
    EXPECT_EQ(loose->recovery, Recovery::Gone);
}

TEST(DiskUsageOnEngine, AStoppedComposeContainerComesBackOnlyWhileItsComposeFileIsThere)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    QTemporaryDir dir;
    const QString project = uniqueName("proj");
    scene.project(project);
    QFile compose(dir.filePath("compose.yaml"));
    ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
    compose.write(QStringLiteral("services:\n  job:\n    image: %1\n    command: [\"true\"]\n%2")
                      .arg(testImage(), TestSupport::noNetwork)
                      .toUtf8());
    compose.close();
    const auto up = docker({"compose", "-p", project, "up", "-d", "--wait"}, dir.path());
    ASSERT_NE(up.status, -1) << up.err.toStdString();
    docker({"compose", "-p", project, "wait", "job"}, dir.path());
    const QString name = project + "-job-1";

    const DiskUsage before = Docker::usage(std::nullopt);
    const Reclaimable* item = find(before, Kind::Container, name);
    ASSERT_TRUE(item) << "no candidate " << name.toStdString() << "; compose said " << up.err.toStdString();
    EXPECT_EQ(item->recovery, Recovery::Restorable);
    EXPECT_EQ(item->note, "no volume");
    EXPECT_EQ(item->project, project);
    EXPECT_EQ(before.candidatesIn(project).size(), 1);

    ASSERT_TRUE(QFile::remove(dir.filePath("compose.yaml")));
    const DiskUsage after = Docker::usage(std::nullopt);
    item = find(after, Kind::Container, name);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->recovery, Recovery::Gone);
    EXPECT_EQ(item->note, u"compose file missing · no volume"_qs);
}

TEST(DiskUsageOnEngine, AnEngineThatDoesNotAnswerThrows)
{
    VOSKEL_REQUIRE_ENGINE();
    EXPECT_THROW(Docker::usage(Runtime::socket("nowhere", "/nonexistent/voskel.sock")), DockerError);
}

TEST(MountsOnEngine, NamedVolumesPerContainerByName)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    QTemporaryDir bind;
    const QString first = scene.namedVolume("first");
    const QString second = scene.namedVolume("second");
    const QString both = scene.container(
        {"-v", first + ":/a", "-v", second + ":/b", "-v", bind.path() + ":/c", testImage(), "true"}, "both");
    const QString none = scene.container({testImage(), "true"}, "none");
    const QString noneId = docker({"inspect", "--format", "{{.Id}}", none}).out.trimmed();

    const Docker::MountMap mounts = Docker::volumeMounts({both, noneId, uniqueName("missing")}, std::nullopt);
    EXPECT_EQ(mounts.size(), 2);
    QStringList volumes = mounts.value(both);
    std::sort(volumes.begin(), volumes.end());
    EXPECT_EQ(volumes, QStringList({first, second})); // the bind mount is not a volume
    EXPECT_TRUE(mounts.contains(none));               // keyed by name even when asked by id
    EXPECT_TRUE(mounts.value(none).isEmpty());
}

TEST(ReclaimOnEngine, RemovesWhatIsFreeAndLeavesWhatIsInUse)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    const QString spare = scene.volume("spare");
    const QString held = scene.namedVolume("held");
    const QString exited = scene.container({testImage(), "true"}, "exited");
    const QString running =
        scene.container({"-d", "-v", held + ":/h", testImage(), "sleep", "300"}, "running");
    const QString tagged = scene.commit(exited, uniqueName("tagged") + ":1");
    const QString untagged = scene.commit(exited);

    const auto item = [](Kind kind, const QString& ref) {
        return Reclaimable{kind, ref, ref, 0, std::nullopt, Recovery::Gone, std::nullopt, std::nullopt};
    };
    const QList<Reclaimable> chosen{item(Kind::Image, tagged),      item(Kind::Container, exited),
                                    item(Kind::Volume, spare),      item(Kind::Image, untagged),
                                    item(Kind::Container, running), item(Kind::Volume, held)};
    QStringList failures;
    for (const QStringList& args : Docker::reclaimCommands(chosen)) {
        const auto done = Docker::capture(args);
        if (done.status != 0)
            failures << done.err.trimmed();
    }
    // The running container and its volume refuse; without force nothing in use is taken.
    EXPECT_EQ(failures.size(), 2) << failures.join('\n').toStdString();
    EXPECT_TRUE(exists({"inspect", running}));
    EXPECT_TRUE(exists({"volume", "inspect", held}));
    EXPECT_FALSE(exists({"inspect", "--type", "container", exited}));
    EXPECT_FALSE(exists({"volume", "inspect", spare}));
    EXPECT_FALSE(exists({"image", "inspect", tagged}));
    EXPECT_FALSE(exists({"image", "inspect", untagged}));
}

TEST(StatsOnEngine, TimedStatisticsOfARunningContainer)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    const QString live = scene.container({"-d", testImage(), "sleep", "300"}, "live");
    // Its own container alone, with time to spare: a reading of every container on an engine that
    // other runs keep busy may outlast any limit.
    const auto out =
        Docker::timed(Docker::process({"stats", "--no-stream", "--format", "json", live}), 120.0);
    ASSERT_TRUE(out);
    const LiveStats stats = Docker::parseDockerStats(*out);
    EXPECT_TRUE(stats.cpu.contains(live));
    EXPECT_GT(stats.memory.value(live), 0);

    EXPECT_EQ(Docker::timed(Docker::process({"stats", "--no-stream", "--format", "json"},
                                            Runtime::socket("nowhere", "/nonexistent/voskel.sock")),
                            10.0),
              std::nullopt);
}

TEST(DiskUsageOnEngine, ConcurrentMeasurementsAllAnswer)
{
    VOSKEL_REQUIRE_ENGINE();
    // The engine refuses a second measurement while one runs; each caller must still get its report.
    constexpr int callers = 4;
    QStringList reports(callers);
    QStringList failures;
    QMutex lock;
    std::vector<std::thread> threads;
    for (int i = 0; i < callers; ++i)
        threads.emplace_back([&, i] {
            try {
                reports[i] = Docker::diskUsageReport(std::nullopt, true);
            } catch (const DockerError& error) {
                QMutexLocker locked(&lock);
                failures << error.errorDescription();
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(failures.isEmpty()) << failures.join('\n').toStdString();
    for (const QString& report : reports)
        EXPECT_TRUE(report.trimmed().startsWith('{'));
}

// The engine prints a volume's creation time in whole seconds. Made just after a second begins and made
// again as soon as it was measured, a volume would print the same time as before, were the measurement
// not to wait that second out.
TEST(DiskUsageOnEngine, AVolumeMadeAgainRightAfterItsMeasurementPrintsAnotherCreationTime)
{
    VOSKEL_REQUIRE_ENGINE();
    Scene scene;
    const QString name = scene.namedVolume("again");
    const Runtime engine = Runtime::context("default");
    // The engine runs on this machine, by its clock.
    QThread::msleep(static_cast<unsigned long>(1000 - QDateTime::currentMSecsSinceEpoch() % 1000 + 20));
    ASSERT_EQ(docker({"volume", "create", name}).status, 0);

    const QMap<QString, QString> measured = Docker::volumeCreation({name}, engine);

    ASSERT_TRUE(measured.contains(name));
    ASSERT_EQ(docker({"volume", "rm", name}).status, 0);
    ASSERT_EQ(docker({"volume", "create", name}).status, 0);
    const QString now =
        Docker::parseVolumeCreation(docker(Docker::volumeInspectQuery({name})).out).value(name);
    EXPECT_FALSE(now.isEmpty());
    EXPECT_NE(now, measured.value(name));
}
