#include "toolchain/ToolJob.h"

#include "toolchain/Scripts.h"
#include "toolchain/Toolchain.h"

#include "support/TestSupport.h"

#include <QTemporaryDir>

namespace {

const QString services = "container system start --enable-kernel-install || exit $?\n"
                         "if brew list --formula socktainer >/dev/null 2>&1; then\n"
                         "    brew services %1 socktainer\n"
                         "fi";

} // namespace

TEST(ToolJob, EveryJobHasItsTitleScriptBannerAndIdentity)
{
    const struct {
        ToolJob job;
        QString title;
        QString script;
        QString id; // empty: the script
    } rows[] = {
        {ToolJob::upgrade({"docker"}), "Updating docker", "brew upgrade docker", "upgrade:docker"},
        {ToolJob::upgrade({"docker", "colima"}), "Updating docker, colima", "brew upgrade docker colima",
         "upgrade:docker,colima"},
        {ToolJob::install({"docker"}), "Installing docker", "brew install docker || exit $?\n",
         "install:docker"},
        {ToolJob::start(), "Starting the runtime", services.arg("start"), "start"},
        {ToolJob::restart(), "Restarting the runtime", "container system stop\n" + services.arg("restart"),
         "restart"},
        {ToolJob::builderStart(std::nullopt, std::nullopt), "Starting the image builder",
         "container builder start", ""},
        {ToolJob::builderStart(4, 8), "Starting the image builder",
         "container builder start --cpus 4 --memory 8G", ""},
        {ToolJob::builderStop(), "Stopping the image builder", "container builder stop", ""},
        {ToolJob::builderDelete(), "Deleting the image builder", "container builder delete", ""},
        {ToolJob::engineStart(std::nullopt, 8), "Starting the Docker engine",
         "colima start --activate=false --memory 8", ""},
        {ToolJob::engineRestart(2, std::nullopt), "Restarting the Docker engine",
         "colima stop\ncolima start --activate=false --cpus 2", ""},
        {ToolJob::engineStop(), "Stopping the Docker engine", "colima stop", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title.toStdString());
        EXPECT_EQ(row.job.title(), row.title);
        EXPECT_EQ(row.job.script(), row.script);
        EXPECT_EQ(row.job.id(), row.id.isEmpty() ? row.script : row.id);
        // A script of several lines is shown as it is; a one-liner as a command line.
        EXPECT_EQ(row.job.banner(), row.script.contains('\n') ? row.script : "$ " + row.script);
    }
}

TEST(ToolJob, EqualityAndIdentityFollowThePayload)
{
    EXPECT_EQ(ToolJob::engineStart(2, 4), ToolJob::engineStart(2, 4));
    EXPECT_EQ(ToolJob::engineStart(2, 4).id(), ToolJob::engineStart(2, 4).id());
    EXPECT_NE(ToolJob::engineStart(2, 4), ToolJob::engineStart(2, 8));
    EXPECT_NE(ToolJob::engineStart(2, 4).id(), ToolJob::engineStart(2, 8).id());
    // Same sizes, another case.
    EXPECT_NE(ToolJob::engineStart(2, 4), ToolJob::engineRestart(2, 4));
    EXPECT_NE(ToolJob::builderStart(2, 4), ToolJob::engineStart(2, 4));
    const QSet<ToolJob> jobs{ToolJob::start(), ToolJob::start(), ToolJob::restart(),
                             ToolJob::upgrade({"colima"})};
    EXPECT_EQ(jobs.size(), 3);
}

TEST(ToolJob, OnlyFormulaNamesReachTheShell)
{
    // A bare `brew upgrade` would update every formula on the machine.
    for (const QStringList& formulae : {QStringList{}, QStringList{"docker; touch pwned"},
                                        QStringList{"docker", "--force"}, QStringList{""}}) {
        SCOPED_TRACE(formulae.join('|').toStdString());
        EXPECT_FALSE(ToolJob::upgrade(formulae).script().contains("brew upgrade"));
        if (!formulae.isEmpty()) {
            EXPECT_FALSE(ToolJob::install(formulae).script().contains("brew install"));
        }
    }

    QTemporaryDir dir;
    TestSupport::ScopedEnv home("HOME", dir.path().toUtf8());
    TestSupport::FakeTools fakes{{"brew"}};
    const auto run = Toolchain::capture({"/bin/sh", "-c", ToolJob::upgrade({"x$(brew upgrade)"}).script()});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(fakes.calls().isEmpty());
}
