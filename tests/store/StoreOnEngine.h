#pragma once

// A store on the real engine for the tests of its actions and deletions.

#include "store/AppStore.h"

#include "engine/Compose.h"
#include "engine/Docker.h"
#include "platform/ByteCount.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <functional>
#include <memory>

namespace EngineTesting {

using TestSupport::docker;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

template <typename T>
inline T run(QCoro::Task<T>&& task)
{
    return QCoro::waitFor(std::move(task));
}

// One service that starts at once and stops quickly, mounting `volumes` (lines under "volumes:"), on a
// network of the project's own: for the tests whose point is that network.
inline QString networkedService(const QString& volumes = {})
{
    return QStringLiteral("services:\n"
                          "  web:\n"
                          "    image: %1\n"
                          "    command: sleep 600\n"
                          "    stop_grace_period: 1s\n")
               .arg(TestSupport::testImage()) +
           (volumes.isEmpty() ? QString() : QStringLiteral("    volumes:\n") + volumes);
}

// How the plan's volumes are held by what the test did not make (TestSupport::strangerHolds).
inline QString strangerHolds(const TeardownPlan& plan)
{
    QStringList holds;
    for (const VolumeUse& volume : plan.volumes)
        holds << volume.usedBy << volume.heldSaying();
    return TestSupport::strangerHolds(holds);
}

// The same on no network, as every other test has it.
inline QString service(const QString& volumes = {})
{
    return networkedService(volumes) + TestSupport::noNetwork;
}

// A store on the real engine, with a client configuration, a home folder and a Trash of its own:
// logins write nowhere that matters and deletions trash nothing of the user's. Everything a test
// makes on the engine is named with the run's prefix and removed at the end.
class ActionsOnEngine : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", root.filePath("docker").toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    ScopedEnv composeName{"COMPOSE_PROJECT_NAME", std::nullopt};
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::unique_ptr<AppStore> store;
    TestSupport::EngineObjects made;
    QStringList& containersMade = made.containers;
    QStringList& volumesMade = made.volumes;
    QStringList& imagesMade = made.images;
    QStringList& projectsMade = made.projects;

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        for (const char* dir : {"docker", "home", "data"})
            ASSERT_TRUE(QDir().mkpath(root.filePath(dir)));
        Docker::setAppleSocketPathForTesting(root.filePath("no-apple.sock"));
        store = std::make_unique<AppStore>(*settings);
        run(store->loadContexts());
        ASSERT_EQ(store->runtime(), Runtime::context("default"));
    }

    void TearDown() override
    {
        store.reset();
        made.removeAll();
        Docker::setAppleSocketPathForTesting(QString());
    }

    void runContainer(const QString& name, const QStringList& options = {})
    {
        // sleep ignores the polite signal as the first process: a short grace keeps stops quick.
        containersMade << name;
        const auto started =
            docker(QStringList{"run", "-d", "--network", "none", "--stop-timeout", "1", "--name", name} +
                   options + QStringList{TestSupport::testImage(), "sleep", "600"});
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
    }

    void createVolume(const QString& name, const QStringList& options = {})
    {
        volumesMade << name;
        const auto created = docker(QStringList{"volume", "create"} + options + QStringList{name});
        ASSERT_EQ(created.status, 0) << created.err.toStdString();
    }

    // A compose project in a folder whose name is not the project's.
    QString projectFolder(const QString& folderName, const QString& composeFile)
    {
        const QString dir = root.filePath(folderName);
        EXPECT_TRUE(QDir().mkpath(dir));
        QFile file(dir + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(composeFile.toUtf8());
        return dir;
    }

    std::optional<Container> listed(const QString& name) const
    {
        for (const Container& c : store->containers())
            if (c.name == name)
                return c;
        return std::nullopt;
    }

    std::optional<ComposeProject> project(const QString& name) const
    {
        for (const ComposeProject& p : store->projects())
            if (p.name == name)
                return p;
        return std::nullopt;
    }

    std::optional<DockerImage> image(const QString& ref) const
    {
        for (const DockerImage& i : store->images())
            if (i.ref() == ref)
                return i;
        return std::nullopt;
    }

    static bool volumeExists(const QString& name) { return docker({"volume", "inspect", name}).status == 0; }

    // How what the test did not make holds `volumes`, as the reclaim weighs them now.
    QString strangersHolding(const QStringList& volumes)
    {
        QList<Reclaimable> items;
        for (const QString& name : volumes) {
            Reclaimable item;
            item.kind = Reclaimable::Kind::Volume;
            item.ref = name;
            item.name = name;
            items << item;
        }
        QStringList holds;
        for (const QStringList& how : run(store->heldVolumes(items)))
            holds << how;
        return TestSupport::strangerHolds(holds);
    }

    static bool stalledElsewhere(const TeardownPlan& plan)
    {
        return TestSupport::stalledElsewhere(plan.notes);
    }

    // A project brought up by hand, as `docker compose -f compose.yaml -f compose.prod.yaml up -d`: the
    // override mounts `keep`, a volume made outside compose that only the override declares external,
    // and sets a variable. `keep` holds a file. Returns the folder, named `folder` when given.
    QString upWithOverride(const QString& name, const QString& keep, const QString& folder = {})
    {
        projectsMade << name;
        volumesMade << name + "_own";
        createVolume(keep);
        EXPECT_EQ(docker({"run", "--rm", "--network", "none", "-v", keep + ":/k", TestSupport::testImage(),
                          "sh", "-c", "echo precious > /k/file"})
                      .status,
                  0);
        const QString dir = projectFolder(folder.isEmpty() ? uniqueName("over") : folder,
                                          service("      - own:/own\n") + "volumes:\n  own: {}\n");
        QFile override(dir + "/compose.prod.yaml");
        EXPECT_TRUE(override.open(QIODevice::WriteOnly));
        override.write(
            ("services:\n  web:\n    volumes: [\"precious:/data\"]\n    environment: {FLAVOUR: prod}\n"
             "volumes:\n  precious:\n    external: true\n    name: " +
             keep + "\n")
                .toUtf8());
        override.close();
        const auto up =
            docker({"compose", "-p", name, "-f", "compose.yaml", "-f", "compose.prod.yaml", "up", "-d"}, dir);
        EXPECT_EQ(up.status, 0) << up.err.toStdString();
        run(store->refresh(false));
        return dir;
    }

    static QString environmentOf(const QString& container)
    {
        return docker({"inspect", "--format", "{{json .Config.Env}}", container}).out;
    }

    static QStringList networksOf(const QString& project)
    {
        return docker({"network", "ls", "-q", "--filter", "label=com.docker.compose.project=" + project})
            .out.split('\n', Qt::SkipEmptyParts);
    }

    static QStringList containersOf(const QString& project)
    {
        return docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + project})
            .out.split('\n', Qt::SkipEmptyParts);
    }
};

} // namespace EngineTesting
