#include "engine/Docker.h"

#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QJsonDocument>

TEST(DockerRunnerOnEngine, RunReturnsTheClientsOutput)
{
    VOSKEL_REQUIRE_ENGINE();
    const QString out = Docker::run({"version", "--format", "json"});
    const QJsonObject version = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_FALSE(version.value("Server").toObject().value("Version").toString().isEmpty());
    EXPECT_TRUE(out.endsWith('\n'));
}

TEST(DockerRunnerOnEngine, FailuresCarryTheTrimmedErrorText)
{
    VOSKEL_REQUIRE_ENGINE();
    const QString missing = TestSupport::uniqueName("missing");
    try {
        Docker::run({"inspect", missing});
        FAIL() << "inspecting a missing object succeeded";
    } catch (const DockerError& error) {
        const QString text = error.errorDescription();
        EXPECT_TRUE(text.contains(missing)) << text.toStdString();
        EXPECT_EQ(text, text.trimmed());
    }
    const auto captured = Docker::capture({"inspect", missing});
    EXPECT_NE(captured.status, 0);
    EXPECT_TRUE(captured.err.endsWith('\n')); // capture leaves the text as printed
}

TEST(DockerRunnerOnEngine, ASocketRuntimeReachesTheEngineThroughDockerHost)
{
    VOSKEL_REQUIRE_ENGINE();
    const Runtime engine = Runtime::socket("test-engine", "/var/run/docker.sock");
    EXPECT_FALSE(Docker::run({"version", "--format", "{{.Server.Version}}"}, engine).trimmed().isEmpty());
    EXPECT_THROW(Docker::run({"version", "--format", "{{.Server.Version}}"},
                             Runtime::socket("nowhere", "/nonexistent/voskel.sock")),
                 DockerError);
}

TEST(DockerRunnerOnEngine, WorkingDirectoryAndInput)
{
    VOSKEL_REQUIRE_ENGINE();
    const auto missing =
        Docker::capture({"version"}, std::nullopt, QStringLiteral("/nonexistent/voskel/project"));
    EXPECT_EQ(missing.status, -1);
    EXPECT_TRUE(missing.out.isEmpty());

    // The client never reads its input here and exits; the write must not bring the test down.
    const auto ignored = Docker::capture({"version", "--format", "{{.Client.Version}}"}, std::nullopt,
                                         std::nullopt, QString(512 * 1024, 'p'));
    EXPECT_EQ(ignored.status, 0);

    TestSupport::EngineObjects made;
    const QString name = TestSupport::uniqueName("cat");
    made.containers << name;
    const auto echoed = Docker::capture(
        {"run", "--rm", "-i", "--network", "none", "--name", name, TestSupport::testImage(), "cat"},
        std::nullopt, std::nullopt, QStringLiteral("through stdin"));
    EXPECT_EQ(echoed.out, "through stdin");
}
