#include "engine/Compose.h"
#include "engine/Docker.h"
#include "engine/Listings.h"
#include "engine/ProjectRegistry.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

using TestSupport::docker;
using TestSupport::uniqueName;

namespace {

void write(const QString& path, const QString& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text.toUtf8());
}

std::optional<ComposeProject> projectNamed(const QList<ComposeProject>& projects, const QString& name)
{
    for (const ComposeProject& p : projects)
        if (p.name == name)
            return p;
    return std::nullopt;
}

// A compose project brought up in a folder of its own: a web server publishing a port on a free host
// port (on the engine's own bridge, so the project makes no network of its own), a worker whose health
// check fails, a job that exits with 3 (both on no network at all), a named volume and an external
// one. Taken down again, with both volumes, at the end.
class RunningProject : public testing::Test {
protected:
    QTemporaryDir dir;
    QString name = uniqueName("shop");
    QString external = uniqueName("shared");
    QString data = name + "_data";

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        ASSERT_EQ(docker({"volume", "create", external}).status, 0);
        write(dir.filePath("compose.yaml"), QStringLiteral(R"(name: %1
services:
  web:
    image: %2
    command: ["httpd", "-f", "-p", "80", "-h", "/"]
    ports: ["80"]
    network_mode: bridge
    labels:
      com.example.note: "one, two,three"
    volumes: ["data:/data", "shared:/shared"]
  worker:
    image: %2
    command: ["sleep", "600"]
    network_mode: none
    healthcheck:
      test: ["CMD", "false"]
      interval: 1s
      retries: 1
  job:
    image: %2
    command: ["sh", "-c", "exit 3"]
    network_mode: none
volumes:
  data:
    name: %3
  shared:
    name: %4
    external: true
)")
                                                .arg(name, TestSupport::testImage(), data, external));
        const auto up = docker({"compose", "up", "-d"}, dir.path());
        ASSERT_EQ(up.status, 0) << up.err.toStdString();
    }

    void TearDown() override
    {
        docker({"compose", "down", "-v", "-t", "1"}, dir.path());
        docker({"volume", "rm", "-f", external});
    }

    // The project as the application lists it, once `ready` holds for it.
    std::optional<ComposeProject> listUntil(const std::function<bool(const ComposeProject&)>& ready)
    {
        QDeadlineTimer deadline(90000);
        std::optional<ComposeProject> project;
        do {
            project = projectNamed(Docker::group(Docker::containers(std::nullopt)), name);
            if (project && ready(*project))
                return project;
            QThread::msleep(300);
        } while (!deadline.hasExpired());
        return project;
    }
};

} // namespace

TEST_F(RunningProject, IsListedGroupedAndReadBack)
{
    const auto project = listUntil(
        [](const ComposeProject& p) { return p.containers.size() == 3 && p.troubled().size() == 2; });
    ASSERT_TRUE(project.has_value());
    EXPECT_EQ(project->workingDir, dir.path());
    EXPECT_EQ(project->runtime, std::nullopt);
    ASSERT_EQ(project->containers.size(), 3);
    EXPECT_EQ(project->containers[0].service(), "job");
    EXPECT_EQ(project->containers[1].service(), "web");
    EXPECT_EQ(project->containers[2].service(), "worker");
    EXPECT_EQ(project->statusText(), "2 of 3 running");
    EXPECT_FALSE(project->hasBuild());

    const Container& job = project->containers[0];
    EXPECT_TRUE(job.isFailed());
    EXPECT_TRUE(job.status.contains("(3)")) << job.status.toStdString();

    const Container& web = project->containers[1];
    EXPECT_EQ(web.labels.value("com.example.note"), "one, two,three"); // commas in a label value survive
    ASSERT_EQ(web.hostPorts().size(), 1)
        << web.ports.toStdString(); // one pair for the IPv4 and IPv6 bindings
    EXPECT_GT(web.hostPorts().first().toInt(), 0);
    EXPECT_EQ(Docker::shortPorts(web.ports), web.hostPorts().first() + ":80");

    EXPECT_TRUE(project->containers[2].status.contains("(unhealthy)"));

    for (const Container& loose : Docker::ungrouped(Docker::containers(std::nullopt)))
        EXPECT_NE(loose.project(), name);

    const ComposeConfig config = Docker::composeProject(dir.path());
    EXPECT_EQ(config.name, name);
    EXPECT_EQ(config.services, (QStringList{"job", "web", "worker"}));
    EXPECT_EQ(config.volumes, (QStringList{data, external}));
    EXPECT_EQ(config.externalVolumes, (QStringList{external}));
    EXPECT_EQ(Docker::checkCompose(dir.path()), ComposeCheck::valid());
}

TEST_F(RunningProject, RegistryRemembersItAfterItIsTakenDown)
{
    const auto project = listUntil([](const ComposeProject& p) { return p.containers.size() == 3; });
    ASSERT_TRUE(project.has_value());
    ProjectRegistry registry;
    registry.record({*project}, QStringLiteral("default"));
    const QList<KnownProject> known = registry.byRuntime.value("default");
    ASSERT_EQ(known.size(), 1);
    EXPECT_EQ(known.first().name, name);
    EXPECT_EQ(known.first().workingDir, dir.path());
    EXPECT_EQ(known.first().services, (QStringList{"job", "web", "worker"}));
    // What it was started from, as its labels say, to read and start it from once it is down.
    ASSERT_EQ(known.first().startedFrom.size(), 1);
    EXPECT_EQ(known.first().startedFrom.first().files, dir.filePath("compose.yaml"));
    EXPECT_EQ(known.first().startedFrom.first().projectDir, dir.path());

    ASSERT_EQ(docker({"compose", "down", "-t", "1"}, dir.path()).status, 0);
    const auto merged = ProjectRegistry::merge(Docker::group(Docker::containers(std::nullopt)),
                                               registry.byRuntime.value("default"));
    const auto remembered = projectNamed(merged, name);
    ASSERT_TRUE(remembered.has_value());
    EXPECT_EQ(remembered->statusText(), "Not running");
    EXPECT_EQ(remembered->serviceCount, 3);
    EXPECT_EQ(remembered->workingDir, dir.path());
}

TEST(EngineListings, ImagesVolumesAndRuntimesAreCarried)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::EngineObjects made;
    const QString volume = uniqueName("vol");
    made.volumes << volume;
    ASSERT_EQ(docker({"volume", "create", volume}).status, 0);
    const Runtime socket = Runtime::socket("engine-socket", "/var/run/docker.sock");

    bool listed = false;
    for (const DockerVolume& v : Docker::volumes(socket)) {
        if (v.name != volume)
            continue;
        listed = true;
        EXPECT_EQ(v.driver, "local");
        EXPECT_FALSE(v.mountpoint.isEmpty());
        EXPECT_EQ(v.id(), "engine-socket/" + volume);
    }
    EXPECT_TRUE(listed);

    QStringList refs;
    for (const DockerImage& image : Docker::images(std::nullopt))
        refs << image.ref();
    EXPECT_TRUE(refs.contains(TestSupport::testImage())) << refs.join(", ").toStdString();

    for (const Container& c : Docker::containers(socket))
        EXPECT_EQ(c.runtime, socket);
}

// Only a project label that is there with an empty value makes the nameless group, never another
// label whose value holds the same text as the client joins it; the same for volumes.
TEST(EngineListings, AnEmptyProjectLabelIsReadFromTheEnginesOwnLabelsNeverFromTheJoinedText)
{
    VOSKEL_REQUIRE_ENGINE();
    const QString P = Docker::projectLabel;
    const struct {
        QString what;
        QStringList labels;
        std::optional<QString> project;
    } rows[] = {
        {"crafted", {"x=a," + P + "=,b"}, std::nullopt},
        {"crafted-at-end", {"x=a," + P + "="}, std::nullopt},
        {"nameless", {P + "="}, QString()},
        {"nameless-and-crafted", {P + "=", "x=a," + P + "=,b"}, QString()},
        {"named-and-crafted", {P + "=shop", "x=a," + P + "=,b"}, QString("shop")},
    };
    QStringList containers;
    QStringList volumes;
    const auto cleanUp = qScopeGuard([&] {
        docker(QStringList{"rm", "-f"} + containers);
        docker(QStringList{"volume", "rm", "-f"} + volumes);
    });
    for (const auto& row : rows) {
        QStringList create{"create", "--name", uniqueName(row.what)};
        QStringList volume{"volume", "create"};
        for (const QString& label : row.labels) {
            create << "--label" << label;
            volume << "--label" << label;
        }
        containers << create[2];
        volumes << uniqueName(row.what);
        ASSERT_EQ(docker(create << TestSupport::testImage() << "true").status, 0);
        ASSERT_EQ(docker(volume << volumes.last()).status, 0);
    }

    // Twice: the second listing takes what the engine said of each container the first time.
    for (int listing = 0; listing < 2; ++listing) {
        const QList<Container> listed = Docker::containers(std::nullopt);
        const QList<DockerVolume> listedVolumes = Docker::volumes(std::nullopt);
        for (qsizetype i = 0; i < std::size(rows); ++i) {
            const auto container = std::find_if(listed.cbegin(), listed.cend(),
                                                [&](const Container& c) { return c.name == containers[i]; });
            ASSERT_NE(container, listed.cend()) << containers[i].toStdString();
            EXPECT_EQ(container->project(), rows[i].project) << rows[i].what.toStdString();
            const auto volume = std::find_if(listedVolumes.cbegin(), listedVolumes.cend(),
                                             [&](const DockerVolume& v) { return v.name == volumes[i]; });
            ASSERT_NE(volume, listedVolumes.cend()) << volumes[i].toStdString();
            const auto label = volume->labels.constFind(P);
            EXPECT_EQ(label == volume->labels.cend() ? std::nullopt : std::optional<QString>(*label),
                      rows[i].project)
                << rows[i].what.toStdString();
        }
    }
}

TEST(EngineListings, AnEngineThatDoesNotAnswerThrowsTheClientsText)
{
    VOSKEL_REQUIRE_ENGINE();
    const Runtime dead = Runtime::socket("dead", "/nonexistent/voskel.sock");
    for (const auto& list : {std::function<void()>([&] { Docker::containers(dead); }),
                             std::function<void()>([&] { Docker::images(dead); }),
                             std::function<void()>([&] { Docker::volumes(dead); })}) {
        try {
            list();
            ADD_FAILURE() << "a missing socket answered";
        } catch (const DockerError& error) {
            EXPECT_TRUE(error.errorDescription().contains("/nonexistent/voskel.sock"))
                << error.errorDescription().toStdString();
        }
    }
}

// Real compose files checked by the real plugin.
class ComposeFiles : public testing::Test {
protected:
    QTemporaryDir dir;
    void SetUp() override { VOSKEL_REQUIRE_ENGINE(); }
};

TEST_F(ComposeFiles, UnsetVariablesAreWarnedAboutButValid)
{
    const QByteArray a = uniqueName("A").toUpper().replace('-', '_').toUtf8();
    const QByteArray b = uniqueName("B").toUpper().replace('-', '_').toUtf8();
    TestSupport::ScopedEnv unsetA(a.constData(), std::nullopt);
    TestSupport::ScopedEnv unsetB(b.constData(), std::nullopt);
    write(dir.filePath("docker-compose.yml"),
          QStringLiteral("services:\n  db:\n    image: %1\n    environment:\n"
                         "      ONE: ${%2}\n      TWO: ${%3}\n")
              .arg(TestSupport::testImage(), QString(a), QString(b)));
    const ComposeCheck check = Docker::checkCompose(dir.path());
    ASSERT_TRUE(check.isValid()) << check.message.toStdString();
    ASSERT_TRUE(check.warning.has_value());
    EXPECT_TRUE(check.warning->startsWith("2 variables have no value: ")) << check.warning->toStdString();
    EXPECT_TRUE(check.warning->contains(QString(a)) && check.warning->contains(QString(b)));
    EXPECT_TRUE(check.warning->endsWith(
        ". compose substituted empty strings. Check the .env beside the compose file."));

    // A value in the .env beside the file silences the warning for it.
    write(dir.filePath(".env"), QString(a) + "=set\n");
    EXPECT_EQ(Docker::checkCompose(dir.path()),
              ComposeCheck::valid(QString(b) +
                                  " has no value; compose substituted an empty string. Check the .env "
                                  "beside the compose file."));
}

TEST_F(ComposeFiles, BrokenFilesAreInvalidWithThePluginsMessage)
{
    write(dir.filePath("compose.yaml"), "services:\n  web:\n    image: [unclosed\n");
    EXPECT_EQ(Docker::checkCompose(dir.path()),
              ComposeCheck::invalid("yaml: line 2: did not find expected ',' or ']'"));
    try {
        Docker::composeProject(dir.path());
        ADD_FAILURE() << "read a broken file";
    } catch (const DockerError& error) {
        EXPECT_TRUE(error.errorDescription().contains("did not find expected"))
            << error.errorDescription().toStdString();
    }

    write(dir.filePath("compose.yaml"), "services:\n  web:\n    imag: busybox\n");
    const ComposeCheck check = Docker::checkCompose(dir.path());
    EXPECT_FALSE(check.isValid());
    EXPECT_TRUE(check.message.contains("Additional property imag is not allowed"))
        << check.message.toStdString();
}

TEST_F(ComposeFiles, AMissingFileIsReportedBeforeAnythingRuns)
{
    EXPECT_EQ(Docker::checkCompose(dir.path()),
              ComposeCheck::invalid(Docker::noComposeFileMessage(dir.path())));
}
