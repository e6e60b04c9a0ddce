#include "engine/Runtime.h"

#include "engine/Docker.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

using TestSupport::ids;

namespace {

// Contexts in a private client configuration: one whose endpoint is a symbolic link to the engine's
// socket, and one at an address where nothing answers.
class EngineContexts : public testing::Test {
protected:
    QTemporaryDir config;
    QTemporaryDir sockets;
    TestSupport::ScopedEnv dockerConfig{"DOCKER_CONFIG", config.path().toUtf8()};
    TestSupport::ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    QString link = sockets.filePath("engine-link.sock");
    QString base = TestSupport::uniqueName("ctx");
    QString linked = base + "-a-linked";
    QString dead = base + "-b-dead";

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        Docker::setAppleSocketPathForTesting(sockets.filePath("no-apple.sock"));
        ASSERT_TRUE(QFile::link("/var/run/docker.sock", link));
        create(linked, "unix://" + link);
        create(dead, "tcp://127.0.0.1:1");
    }
    void TearDown() override { Docker::setAppleSocketPathForTesting(QString()); }

    void create(const QString& name, const QString& endpoint)
    {
        const auto made = TestSupport::docker({"context", "create", name, "--docker", "host=" + endpoint});
        ASSERT_EQ(made.status, 0) << made.err.toStdString();
    }
};

} // namespace

TEST_F(EngineContexts, ListsEveryContextWithItsReachability)
{
    const auto found = Docker::runtimes();
    EXPECT_EQ(ids(found.list), (QStringList{"default", linked, dead}));
    for (const auto& entry : found.list)
        EXPECT_TRUE(entry.reachable) << entry.id().toStdString();
    EXPECT_EQ(found.current, Runtime::context("default"));
    EXPECT_TRUE(found.list[0].current);

    EXPECT_FALSE(Docker::run({"ps", "-q"}, Runtime::context(linked)).contains("error"));
    try {
        Docker::run({"ps"}, Runtime::context(dead));
        FAIL() << "a context where nothing listens answered";
    } catch (const DockerError& error) {
        EXPECT_TRUE(error.errorDescription().contains("127.0.0.1:1"))
            << error.errorDescription().toStdString();
    }
}

TEST_F(EngineContexts, TheDefaultAliasGoesWhenAnotherCurrentContextReachesTheSameSocket)
{
    ASSERT_EQ(TestSupport::docker({"context", "use", linked}).status, 0);
    const auto found = Docker::runtimes();
    EXPECT_EQ(ids(found.list), (QStringList{linked, dead}));
    EXPECT_EQ(found.current, Runtime::context(linked));
}

TEST_F(EngineContexts, RemovingTheLinkMakesTheRuntimeUnreachableAndHandsOver)
{
    ASSERT_EQ(TestSupport::docker({"context", "use", linked}).status, 0);
    ASSERT_TRUE(QFile::remove(link));
    const auto found = Docker::runtimes();
    EXPECT_EQ(ids(found.list), (QStringList{"default", linked, dead}));
    EXPECT_FALSE(found.list[1].reachable);
    EXPECT_EQ(found.current, Runtime::context("default"));
    EXPECT_EQ(Docker::handover(Runtime::context(linked), found.list), Runtime::context("default"));
}

TEST_F(EngineContexts, TheAppleRuntimeJoinsWhenItsSocketAppears)
{
    QFile socketFile(sockets.filePath("apple.sock"));
    ASSERT_TRUE(socketFile.open(QIODevice::WriteOnly));
    Docker::setAppleSocketPathForTesting(socketFile.fileName());
    const auto found = Docker::runtimes();
    ASSERT_EQ(found.list.size(), 4);
    EXPECT_EQ(found.list.last().runtime, Docker::appleRuntime());
    EXPECT_FALSE(found.list.last().current);
}
