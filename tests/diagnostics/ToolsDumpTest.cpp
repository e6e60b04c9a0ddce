#include "diagnostics/ToolsDump.h"

#include "diagnostics/RecordedScene.h"

using DiagnosticsTest::printed;

namespace {

const QStringList everyFormula{"container", "socktainer", "docker", "docker-compose", "colima"};

// Every tool the dump asks is a fake; Homebrew's presence and the login item come from the host
// record, so nothing of this machine leaks into the output.
class ToolsDump : public DiagnosticsTest::RecordedScene {
protected:
    ToolsDump()
    {
        fakes.answer("brew", QStringList{"info", "--json=v2"} + everyFormula,
                     TestSupport::fixture("diagnostics/brew-info.json"));
        fakes.answer("brew", QStringList{"list", "--formula", "--versions"} + everyFormula,
                     "container 0.5.0\ndocker-compose 2.26.1\ncolima 0.8.1\n");
        fakes.answer("container", {"--version"},
                     "container CLI version 0.5.0 (build: release, commit: 4a3f2b1)\n");
        fakes.answer("socktainer", {"--version"}, "", "socktainer: command not found\n", 127);
        fakes.answer("docker", {"--version"}, "Docker version 28.2.2, build e6534b4\n");
        fakes.answer("docker", {"compose", "version"}, "Docker Compose version v2.26.1\n");
        fakes.answer("colima", {"--version"}, "colima version 0.8.1\n");
        fakes.answer("container", {"system", "status"},
                     TestSupport::fixture("diagnostics/container-system-status.txt"));
    }

    static Diagnostics::ToolsHost host(bool brew, LoginItem::State login)
    {
        return {brew ? std::optional<QString>("/opt/homebrew/bin/brew") : std::nullopt, login,
                "/opt/voskel/bin/voskel"};
    }
};

} // namespace

TEST_F(ToolsDump, ShowsEachToolsUpdateStateAndWhetherHomebrewCanUpdateIt)
{
    const QString out = printed(
        [](QTextStream& s) { Diagnostics::runToolsDump(s, false, host(true, LoginItem::State::On)); });
    expectGolden(out, "tools-brew.txt");
}

TEST_F(ToolsDump, WithoutHomebrewNothingHasALatestVersionAndTheScriptsFollowOnRequest)
{
    fakes.answer("container", {"system", "status"}, "status    running\nclient.version   0.5.0\n");

    const QString out = printed(
        [](QTextStream& s) { Diagnostics::runToolsDump(s, true, host(false, LoginItem::State::Off)); });
    expectGolden(out, "tools-no-brew.txt");
    for (const QString& call : fakes.calls())
        EXPECT_FALSE(call.startsWith("brew ")) << call.toStdString();
}

TEST_F(ToolsDump, AContainerToolThatCannotStartReadsAsStoppedServices)
{
    fakes.answer("container", {"system", "status"}, "", "", 127);
    const QString out = printed([](QTextStream& s) {
        Diagnostics::runToolsDump(s, false, host(true, LoginItem::State::NeedsApproval));
    });
    EXPECT_TRUE(out.contains("\nservices: stopped  client -  server -\n")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("\nlogin item: needsApproval  bundle /opt/voskel/bin/voskel\n"));
}
