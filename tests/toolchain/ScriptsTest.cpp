#include "toolchain/Scripts.h"

#include "toolchain/Toolchain.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

const QString runtimeStart = "container system start --enable-kernel-install || exit $?\n"
                             "if brew list --formula socktainer >/dev/null 2>&1; then\n"
                             "    brew services start socktainer\n"
                             "fi";

} // namespace

TEST(InstallScript, SingleFormulaeAsSettingsInstallsThem)
{
    EXPECT_EQ(Toolchain::installScript({"docker"}), "brew install docker || exit $?\n");
    EXPECT_EQ(Toolchain::installScript({"docker-compose"}),
              "brew install docker-compose || exit $?\n"
              "mkdir -p \"$HOME/.docker/cli-plugins\" || exit $?\n"
              "ln -sfn \"$(brew --prefix)/lib/docker/cli-plugins/docker-compose\"     "
              "\"$HOME/.docker/cli-plugins/docker-compose\" || exit $?\n");
    EXPECT_EQ(Toolchain::installScript({"container"}), "brew install container || exit $?\n" + runtimeStart);
    EXPECT_EQ(Toolchain::installScript({"colima"}),
              "brew install colima || exit $?\ncolima start --activate=false || exit $?\n");
    EXPECT_EQ(Toolchain::installScript({}), "brew install  || exit $?\n");
}

TEST(InstallScript, CombinedFormulaeStartTheRuntimeOnceAndKeepLinesApart)
{
    EXPECT_EQ(Toolchain::installScript({"container", "socktainer"}),
              "brew install container socktainer || exit $?\n" + runtimeStart);
    EXPECT_EQ(Toolchain::installScript({"container", "colima"}),
              "brew install container colima || exit $?\n" + runtimeStart +
                  "\ncolima start --activate=false || exit $?\n");
    EXPECT_EQ(Toolchain::servicesScript("restart"),
              QString(runtimeStart).replace("start socktainer", "restart socktainer"));
}

TEST(InstallScript, NamesThatAreNotFormulaeNeverReachTheShell)
{
    for (const QString& name : {QString("docker; touch pwned"), QString("-v"), QString(""), QString("Docker"),
                                QString("$(id)"), QString("a b"), QString("colima\n")}) {
        EXPECT_FALSE(Toolchain::isFormulaName(name)) << name.toStdString();
        const QString script = Toolchain::installScript({"docker", name});
        EXPECT_FALSE(script.contains("brew install")) << name.toStdString();
    }
    for (const char* name : {"python@3.12", "gtk+3", "docker-compose", "c_ares", "libfoo.1"})
        EXPECT_TRUE(Toolchain::isFormulaName(name)) << name;

    // The refusal fails visibly, so the job never reads as a success.
    QTemporaryDir dir;
    TestSupport::ScopedEnv home("HOME", dir.path().toUtf8());
    const auto run =
        Toolchain::capture({"/bin/sh", "-c", Toolchain::installScript({"x; touch \"$HOME/pwned\""})});
    EXPECT_NE(run.status, 0);
    EXPECT_FALSE(run.err.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("pwned")));
}

TEST(InstallScript, LinksThePluginIntoTheUsersPluginFolder)
{
    TestSupport::FakeTools fakes{{"brew"}};
    QTemporaryDir home;
    TestSupport::ScopedEnv homeEnv("HOME", home.path().toUtf8());
    fakes.answer("brew", {"install", "docker-compose"}, "installed\n");
    fakes.answer("brew", {"--prefix"}, home.filePath("prefix") + "\n");

    const auto run = Toolchain::capture({"/bin/sh", "-c", Toolchain::installScript({"docker-compose"})});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    const QFileInfo plugin(home.filePath(".docker/cli-plugins/docker-compose"));
    EXPECT_TRUE(plugin.isSymLink());
    EXPECT_EQ(plugin.symLinkTarget(), home.filePath("prefix/lib/docker/cli-plugins/docker-compose"));

    // A failing install stops the script before anything else runs.
    fakes.answer("brew", {"install", "docker-compose"}, "", "Error: no bottle\n", 1);
    QDir(home.filePath(".docker")).removeRecursively();
    const auto failed = Toolchain::capture({"/bin/sh", "-c", Toolchain::installScript({"docker-compose"})});
    EXPECT_EQ(failed.status, 1);
    EXPECT_FALSE(QFileInfo::exists(home.filePath(".docker")));
}

TEST(StartScripts, LeaveOutOnlyAbsentSizes)
{
    EXPECT_EQ(Toolchain::engineStartScript(4, 8), "colima start --activate=false --cpus 4 --memory 8");
    EXPECT_EQ(Toolchain::engineStartScript(std::nullopt, 4), "colima start --activate=false --memory 4");
    EXPECT_EQ(Toolchain::engineStartScript(std::nullopt, std::nullopt), "colima start --activate=false");
    EXPECT_EQ(Toolchain::engineStartScript(0, std::nullopt), "colima start --activate=false --cpus 0");
    EXPECT_EQ(Toolchain::builderStartScript(2, 4), "container builder start --cpus 2 --memory 4G");
    EXPECT_EQ(Toolchain::builderStartScript(std::nullopt, 16), "container builder start --memory 16G");
    EXPECT_EQ(Toolchain::builderStartScript(std::nullopt, std::nullopt), "container builder start");
}
