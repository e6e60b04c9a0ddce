#include "engine/Docker.h"

#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QJsonArray>

using TestSupport::ScopedEnv;

TEST(DockerProcess, ContextRuntimeAddsItsNameAndNeverInheritsDockerHost)
{
    ScopedEnv host("DOCKER_HOST", QByteArray("tcp://elsewhere:2375"));
    const auto prepared = Docker::process({"ps"}, Runtime::context("colima"));
    EXPECT_EQ(prepared.program, "/usr/bin/env");
    EXPECT_EQ(prepared.arguments, (QStringList{"docker", "--context", "colima", "ps"}));
    EXPECT_FALSE(prepared.environment.contains("DOCKER_HOST"));
    EXPECT_FALSE(prepared.workingDirectory.has_value());

    const auto absent = Docker::process({"ps", "-a"});
    EXPECT_EQ(absent.arguments, (QStringList{"docker", "ps", "-a"}));
    EXPECT_FALSE(absent.environment.contains("DOCKER_HOST"));
}

TEST(DockerProcess, SocketRuntimeSetsDockerHost)
{
    const auto prepared =
        Docker::process({"images", "--format", "json"}, Runtime::socket("apple-container", "/tmp/a b.sock"),
                        QStringLiteral("/srv/project"));
    EXPECT_EQ(prepared.arguments, (QStringList{"docker", "images", "--format", "json"}));
    EXPECT_EQ(prepared.environment.value("DOCKER_HOST"), "unix:///tmp/a b.sock");
    EXPECT_EQ(prepared.workingDirectory, QStringLiteral("/srv/project"));
}

TEST(DockerProcess, SearchPathPutsHomebrewFirstAndNeverEndsInAColon)
{
    {
        ScopedEnv path("PATH", QByteArray("/usr/bin:/bin"));
        EXPECT_EQ(Docker::process({"ps"}).environment.value("PATH"),
                  "/opt/homebrew/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:/usr/bin:/bin");
    }
    for (const auto& value : {std::optional<QByteArray>(), std::optional<QByteArray>(QByteArray())}) {
        ScopedEnv path("PATH", value);
        const QString childPath = Docker::process({"ps"}).environment.value("PATH");
        EXPECT_EQ(childPath, "/opt/homebrew/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin");
    }
}

TEST(DockerNdjson, KeepsObjectLinesAndSkipsEverythingElse)
{
    const QString text =
        "{\"Name\":\"a\"}\n\nplain words\n  \n[1,2]\n42\n{\"Name\":\"b\",\"N\":1}\n{broken\n";
    const auto objects = Docker::ndjson(text);
    ASSERT_EQ(objects.size(), 2);
    EXPECT_EQ(Docker::str(objects[0], QStringLiteral("Name")), "a");
    EXPECT_EQ(Docker::str(objects[1], QStringLiteral("Name")), "b");

    EXPECT_TRUE(Docker::ndjson("[{\"Name\":\"a\"}]").isEmpty());
    EXPECT_TRUE(Docker::ndjson("").isEmpty());
    EXPECT_EQ(Docker::ndjson("{\"a\":\"é\"}").size(), 1);
}

TEST(DockerNdjson, ReadsARecordedContainerListing)
{
    const auto objects = Docker::ndjson(TestSupport::fixture("engine/ps.ndjson"));
    ASSERT_FALSE(objects.isEmpty());
    for (const auto& object : objects) {
        EXPECT_FALSE(Docker::str(object, QStringLiteral("ID")).isEmpty());
        EXPECT_FALSE(Docker::str(object, QStringLiteral("Names")).isEmpty());
    }
}

TEST(DockerStr, OnlyStringValuesCount)
{
    const QJsonObject object{{"text", "x"},
                             {"number", 3},
                             {"flag", true},
                             {"list", QJsonArray{"a"}},
                             {"nothing", QJsonValue::Null}};
    EXPECT_EQ(Docker::str(object, QStringLiteral("text")), "x");
    for (const char* key : {"number", "flag", "list", "nothing", "missing"})
        EXPECT_EQ(Docker::str(object, QString::fromLatin1(key)), QString()) << key;
}

namespace {
// A docker on the search path that behaves as the test asks.
class FakeDocker : public testing::Test {
protected:
    TestSupport::FakeTools fakes{{"docker"}};
};
} // namespace

TEST_F(FakeDocker, RunReturnsOutputUntrimmed)
{
    fakes.answer("docker", {"version"}, "Docker 28\n");
    EXPECT_EQ(Docker::run({"version"}), "Docker 28\n");
}

TEST_F(FakeDocker, RunThrowsTheTrimmedErrorText)
{
    fakes.answer("docker", {"rm", "x"}, "", "  Error: No such container: x\n", 1);
    fakes.answer("docker", {"stop", "x"}, "", "", 3);
    fakes.answerBytes("docker", {"kill", "x"}, "", "\xff\xfe", 2);
    const auto errorOf = [](const QStringList& args) -> QString {
        try {
            Docker::run(args);
        } catch (const DockerError& error) {
            return error.errorDescription();
        }
        return "no error";
    };
    EXPECT_EQ(errorOf({"rm", "x"}), "Error: No such container: x");
    EXPECT_EQ(errorOf({"stop", "x"}), "");
    EXPECT_EQ(errorOf({"kill", "x"}), "docker exited 2");
}

TEST_F(FakeDocker, ADockerKilledBySignalIsAFailure)
{
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("signal:KILL"));
    EXPECT_THROW(Docker::run({"ps"}), DockerError);
    EXPECT_EQ(Docker::capture({"ps"}).status, 128 + 9);
}

TEST_F(FakeDocker, LargeErrorOutputBeforeAnyOutputCompletes)
{
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("stderr-flood:600"));
    EXPECT_EQ(Docker::run({"ps"}), "done\n");
    const auto captured = Docker::capture({"ps"});
    EXPECT_EQ(captured.status, 0);
    EXPECT_EQ(captured.err.size(), 600 * 1024);
    EXPECT_EQ(captured.out, "done\n");
}

TEST_F(FakeDocker, CaptureWritesInputAndNeverThrows)
{
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("stdin"));
    EXPECT_EQ(Docker::capture({"login"}, std::nullopt, std::nullopt, QStringLiteral("pässword")).out,
              "pässword");
    EXPECT_EQ(Docker::capture({"login"}).out, ""); // null device without input

    const auto missingDir = Docker::capture({"ps"}, std::nullopt, QStringLiteral("/nonexistent/voskel"));
    EXPECT_EQ(missingDir.status, -1);
    EXPECT_TRUE(missingDir.out.isEmpty());
    EXPECT_FALSE(missingDir.err.isEmpty());
    EXPECT_THROW(Docker::run({"ps"}, std::nullopt, QStringLiteral("/nonexistent/voskel")),
                 Platform::LaunchError);
}

TEST_F(FakeDocker, CaptureWithInputEndsAtItsLimit)
{
    // A login to a registry that never answers.
    fakes.hang("docker", {"--context", "c", "login", "--password-stdin"});
    const auto hung = Docker::capture({"login", "--password-stdin"}, Runtime::context("c"), std::nullopt,
                                      QStringLiteral("secret"), std::chrono::milliseconds(300));
    EXPECT_EQ(hung.status, -1);
    EXPECT_EQ(hung.err, "c is not answering.");
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

TEST_F(FakeDocker, ChildSeesTheRuntimeInItsEnvironment)
{
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("env:DOCKER_HOST"));
    TestSupport::ScopedEnv host("DOCKER_HOST", QByteArray("tcp://inherited:1"));
    EXPECT_EQ(Docker::run({"ps"}, Runtime::socket("s", "/run/x.sock")), "unix:///run/x.sock\n");
    EXPECT_EQ(Docker::run({"ps"}, Runtime::context("c")), "\n");
}

TEST(TooOldClient, OnlyVersionsBefore23AreRefused)
{
    const struct {
        const char* printed;
        std::optional<QString> message;
    } rows[] = {
        {"Docker version 20.10.24+dfsg1, build 297e128\n",
         "This docker client (20.10.24+dfsg1) is too old: version 23 or later is needed."},
        {"Docker version 19.03.13, build 4484c46d9d",
         "This docker client (19.03.13) is too old: version 23 or later is needed."},
        {"Docker version 23.0.0, build e92dd87", std::nullopt},
        {"Docker version 28.2.2, build e6534b4", std::nullopt},
        {"env: 'docker': No such file or directory", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Docker::tooOldClientMessage(row.printed), row.message) << row.printed;
}
