#include "toolchain/Toolchain.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

using TestSupport::ScopedEnv;

TEST(ToolchainProcess, RunsThroughEnvWithAQuietHomebrewAndAFixedSearchPath)
{
    ScopedEnv path("PATH", QByteArray("/custom/bin"));
    ScopedEnv color("HOMEBREW_NO_COLOR", QByteArray("0"));
    ScopedEnv host("DOCKER_HOST", QByteArray("tcp://kept:1"));
    const auto prepared = Toolchain::process({"brew", "info", "--json=v2", "colima"});
    EXPECT_EQ(prepared.program, "/usr/bin/env");
    EXPECT_EQ(prepared.arguments, (QStringList{"brew", "info", "--json=v2", "colima"}));
    EXPECT_EQ(prepared.environment.value("PATH"),
              "/opt/homebrew/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:/usr/bin:/bin:/custom/bin");
    for (const char* key :
         {"HOMEBREW_NO_COLOR", "HOMEBREW_NO_EMOJI", "HOMEBREW_NO_ENV_HINTS", "HOMEBREW_NO_AUTO_UPDATE"})
        EXPECT_EQ(prepared.environment.value(key), "1") << key;
    EXPECT_EQ(prepared.environment.value("DOCKER_HOST"), "tcp://kept:1");
    EXPECT_FALSE(prepared.workingDirectory.has_value());
}

TEST(ToolchainProcess, NoInheritedSearchPathLeavesNoEmptyElement)
{
    for (const auto& value : {std::optional<QByteArray>(), std::optional<QByteArray>(QByteArray())}) {
        ScopedEnv path("PATH", value);
        EXPECT_EQ(Toolchain::process({"git"}).environment.value("PATH"),
                  "/opt/homebrew/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:/usr/bin:/bin");
    }
}

TEST(ToolchainCapture, ReadsBothStreamsAndGivesEndOfFileOnInput)
{
    EXPECT_EQ(Toolchain::capture({"sh", "-c", "cat; echo out; echo err >&2; exit 4"}),
              (Platform::Capture{4, "out\n", "err\n"}));
}

TEST(ToolchainCapture, AMissingCommandIsEnvsFailureNotALaunchFailure)
{
    const auto result = Toolchain::capture({"voskel-no-such-tool", "--version"});
    EXPECT_EQ(result.status, 127);
    EXPECT_TRUE(result.err.contains("voskel-no-such-tool"));
}

TEST(ToolchainCapture, FakeToolsShadowRealOnes)
{
    TestSupport::FakeTools fakes{{"colima"}};
    fakes.answer("colima", {"version"}, "colima version 0.8.1\n");
    EXPECT_EQ(Toolchain::capture({"colima", "version"}).out, "colima version 0.8.1\n");
    // Arguments beyond ASCII, as a project folder's name may hold, find their answer too.
    fakes.answer("colima", {"start", "--profile", "bücher"}, "started\n");
    EXPECT_EQ(Toolchain::capture({"colima", "start", "--profile", "bücher"}).out, "started\n");
    EXPECT_EQ(fakes.calls(), (QStringList{"colima version", "colima start --profile bücher"}));
}

TEST(BrewPath, TakesTheFirstExecutableLocation)
{
    QTemporaryDir dir;
    const auto make = [&](const QString& name, QFile::Permissions perms) {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.setPermissions(perms);
        return file.fileName();
    };
    const auto exec = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QString first = make("first", exec);
    const QString second = make("second", exec);
    const QString plain = make("plain", QFile::ReadOwner | QFile::WriteOwner);
    const QString missing = dir.filePath("missing");

    EXPECT_EQ(Toolchain::brewPath({first, second}), first);
    EXPECT_EQ(Toolchain::brewPath({missing, second}), second);
    EXPECT_EQ(Toolchain::brewPath({plain, second}), second);
    EXPECT_EQ(Toolchain::brewPath({plain, missing}), std::nullopt);
    EXPECT_EQ(Toolchain::brewLocations().first(), "/opt/homebrew/bin/brew");
}
