#include "store/StoreOnEngine.h"

#include "engine/VolumeEvents.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <atomic>
#include <thread>

using namespace EngineTesting;

namespace {

class VolumesOnEngine : public ActionsOnEngine {
protected:
    TeardownPlan plan(const QString& name)
    {
        run(store->refresh(false));
        const std::optional<ComposeProject> found = project(name);
        EXPECT_TRUE(found) << name.toStdString();
        return found ? run(store->teardownPlan(*found)) : TeardownPlan{};
    }

    // Makes the volumes `names` (already registered), eight at a time, and removes them again: two
    // events each on the engine's record, and nothing left.
    static bool churn(const QStringList& names)
    {
        QProcess sh;
        sh.start("/bin/sh",
                 QStringList{"-c",
                             "printf '%s\\n' \"$@\" | xargs -P 8 -n 1 docker volume create >/dev/null && "
                             "docker volume rm \"$@\" >/dev/null",
                             "sh"} +
                     names);
        return sh.waitForFinished(120000) && sh.exitStatus() == QProcess::NormalExit && sh.exitCode() == 0;
    }
};

} // namespace

// One service goes at once, the other stops slowly: once the first is gone, its volume is removed and
// made again under its name, with the project's label, and written into; then so much happens on the
// engine that it no longer keeps its record of the time since the plan. The volume's own folder, where
// the engine keeps it on this machine, tells it is another: it stays, with its data, and is named.
TEST_F(VolumesOnEngine, AVolumeMadeAgainAfterTheEngineLetItsRecordGoIsKeptWithItsData)
{
    const QString name = uniqueName("untold");
    const QString volume = name + "_data";
    const QString image = TestSupport::testImage();
    projectsMade << name;
    volumesMade << volume;
    // An engine that keeps no identifier in its data folder shows it is its own by a container's folder.
    ASSERT_NO_FATAL_FAILURE(runContainer(uniqueName("witness")));
    const QString control = root.filePath("control");
    ASSERT_TRUE(QDir().mkpath(control));
    const QString dir = projectFolder(
        "untold",
        QStringLiteral("services:\n"
                       "  fast:\n    image: %1\n    command: sleep 600\n    stop_grace_period: 1s\n"
                       "    network_mode: none\n    volumes: [data:/data]\n"
                       "  slow:\n    image: %1\n    stop_grace_period: 90s\n    network_mode: none\n"
                       "    volumes: [\"%2:/control\"]\n"
                       "    command: [sh, -c, 'trap \"while [ ! -e /control/go ]; do sleep 0.1; done; "
                       "exit 0\" TERM; while true; do sleep 1; done']\n"
                       "volumes:\n  data: {}\n")
            .arg(image, control));
    ASSERT_EQ(docker({"compose", "-p", name, "up", "-d"}, dir).status, 0);
    const TeardownPlan shown = plan(name);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(shown));
    ASSERT_EQ(TestSupport::names(shown.removable()), QStringList{volume});
    ASSERT_TRUE(shown.engineTime);
    if (!shown.volumeData.local)
        GTEST_SKIP() << "the engine does not keep its volumes where this test can see them";

    // Enough to push the record of the plan's time out of what the engine keeps many times over.
    QList<QStringList> batches;
    for (int batch = 0; batch < 8; ++batch) {
        QStringList names;
        for (int i = 0; i < 64; ++i)
            names << uniqueName(QStringLiteral("churn-%1-%2").arg(batch).arg(i));
        volumesMade << names;
        batches << names;
    }
    std::atomic_bool remade = false;
    std::atomic_bool untold = false;
    std::thread meanwhile([&] {
        const QDeadlineTimer limit(60000);
        while (docker({"container", "inspect", name + "-fast-1"}).status == 0 && !limit.hasExpired())
            QThread::msleep(50);
        remade =
            docker({"volume", "rm", volume}).status == 0 &&
            docker({"volume", "create", "--label", "com.docker.compose.project=" + name, volume}).status ==
                0 &&
            docker({"run", "--rm", "--network", "none", "-v", volume + ":/d", image, "sh", "-c",
                    "echo theirs > /d/note"})
                    .status == 0;
        for (const QStringList& names : std::as_const(batches)) {
            if (!churn(names))
                break;
            untold = !Docker::volumeEvents({volume}, *shown.engineTime, std::nullopt, Docker::listingLimit);
            if (untold)
                break;
        }
        QFile(control + "/go").open(QIODevice::WriteOnly);
    });
    run(store->deleteProject(shown, store->runtime(), false));
    meanwhile.join();

    ASSERT_TRUE(remade) << "the volume was not made again during the down";
    ASSERT_TRUE(untold) << "the engine still kept its record of the time since the plan";
    EXPECT_EQ(store->error(), volume + " was made again since the plan was made; it was not removed.");
    EXPECT_EQ(docker({"run", "--rm", "--network", "none", "-v", volume + ":/d", image, "cat", "/d/note"}).out,
              "theirs\n");
    EXPECT_TRUE(containersOf(name).isEmpty());
}
