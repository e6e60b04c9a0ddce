#include "store/StoreOnEngine.h"

#include <QFileInfo>

using namespace EngineTesting;

// A volume goes only when nothing can hold it: judged by what the holders themselves still see and can
// do after the deletion, not by what the plan says of them.

namespace {

class VolumeHolders : public ActionsOnEngine {
protected:
    // A project in its own folder with a volume of its own, "<name>_data", holding a file.
    QString upOwner(const QString& name)
    {
        projectsMade << name;
        volumesMade << name + "_data";
        const QString dir = projectFolder(name, service("      - data:/data\n") + "volumes:\n  data: {}\n");
        const auto up = docker({"compose", "-p", name, "up", "-d"}, dir);
        EXPECT_EQ(up.status, 0) << up.err.toStdString();
        EXPECT_EQ(docker({"exec", name + "-web-1", "sh", "-c", "echo kept > /data/file"}).status, 0);
        return dir;
    }

    TeardownPlan planOf(const QString& name)
    {
        run(store->refresh(false));
        const std::optional<ComposeProject> found = project(name);
        EXPECT_TRUE(found) << name.toStdString();
        return found ? run(store->teardownPlan(*found)) : TeardownPlan{};
    }

    static const VolumeUse* keptOf(const TeardownPlan& plan, const QString& volume)
    {
        for (const VolumeUse& use : plan.volumes)
            if (use.name == volume && !use.usedBy.isEmpty())
                return &use;
        return nullptr;
    }
};

} // namespace

// A backup container binds the volume's data folder on the host (`-v <Mountpoint>:/x`): the plan keeps
// the volume and says that container binds it; after the deletion it still reads the data in /x.
TEST_F(VolumeHolders, AContainerBindingTheDataFolderKeepsTheVolume)
{
    const QString owner = uniqueName("vbound");
    const QString volume = owner + "_data";
    upOwner(owner);
    const QString data = docker({"volume", "inspect", "--format", "{{.Mountpoint}}", volume}).out.trimmed();
    ASSERT_FALSE(data.isEmpty());
    const QString backup = uniqueName("vbackup");
    ASSERT_NO_FATAL_FAILURE(runContainer(backup, {"-v", data + ":/x"}));

    const TeardownPlan plan = planOf(owner);
    const VolumeUse* kept = keptOf(plan, volume);
    ASSERT_NE(kept, nullptr) << "the plan removes " << volume.toStdString();
    EXPECT_TRUE(kept->heldSaying().join('\n').contains(backup))
        << kept->heldSaying().join('\n').toStdString();

    run(store->deleteProject(plan, store->runtime(), false));
    EXPECT_TRUE(volumeExists(volume));
    EXPECT_EQ(docker({"exec", backup, "cat", "/x/file"}).out, "kept\n");
}

// Another running project names the volume as external only in a service of a profile it has not
// started, and one of its other paths goes through a variable not set here: it still names the volume,
// which stays, and its `--profile backup up` still finds it afterwards.
TEST_F(VolumeHolders, AProfileServiceOfAProjectWithAnUnsetVariableKeepsTheVolume)
{
    const QString owner = uniqueName("vowner");
    const QString volume = owner + "_data";
    upOwner(owner);
    const QString other = uniqueName("vprofile");
    projectsMade << other;
    ScopedEnv unset{"EXTRA", std::nullopt};
    const QString dir = projectFolder(
        other,
        service() + "    env_file:\n      - path: ${EXTRA}/e.env\n        required: false\n" +
            QStringLiteral("  backup:\n    image: %1\n    command: sleep 600\n    stop_grace_period: 1s\n"
                           "    network_mode: none\n    profiles: [backup]\n    volumes: [held:/held]\n"
                           "volumes:\n  held:\n    external: true\n    name: %2\n")
                .arg(TestSupport::testImage(), volume));
    const auto up = docker({"compose", "-p", other, "up", "-d"}, dir);
    ASSERT_EQ(up.status, 0) << up.err.toStdString();

    const TeardownPlan plan = planOf(owner);
    const VolumeUse* kept = keptOf(plan, volume);
    ASSERT_NE(kept, nullptr) << "the plan removes " << volume.toStdString();
    EXPECT_TRUE(kept->heldSaying().join('\n').contains("project " + other))
        << kept->heldSaying().join('\n').toStdString();

    run(store->deleteProject(plan, store->runtime(), false));
    EXPECT_TRUE(volumeExists(volume));
    const auto backup = docker({"compose", "-p", other, "--profile", "backup", "up", "-d"}, dir);
    EXPECT_EQ(backup.status, 0) << backup.err.toStdString();
    EXPECT_EQ(docker({"exec", other + "-backup-1", "cat", "/held/file"}).out, "kept\n");
}

// A volume nothing mounts, which a project only remembered declares as its external one, is not offered
// as unused: reclaim names the project that holds it, and a removal asked for anyway leaves it.
TEST_F(VolumeHolders, ReclaimDoesNotOfferAVolumeARememberedProjectNames)
{
    const QString volume = uniqueName("vreclaim");
    ASSERT_NO_FATAL_FAILURE(createVolume(volume));
    const QString other = uniqueName("vremembered");
    const QString dir =
        projectFolder(other, service("      - held:/held\n") +
                                 "volumes:\n  held:\n    external: true\n    name: " + volume + "\n");
    ProjectRegistry registry;
    registry.byRuntime.insert("default", {KnownProject{other, dir, {"web"}}});
    store->setRegistry(registry);
    run(store->loadUsage(true));

    Reclaimable item{Reclaimable::Kind::Volume, volume, volume};
    item.runtime = store->runtime();
    const QMap<QString, QStringList> held = run(store->heldVolumes({item}));
    ASSERT_TRUE(held.contains(item.id()));
    EXPECT_TRUE(held.value(item.id()).contains("project " + other + " names it in its compose files"))
        << held.value(item.id()).join('\n').toStdString();

    const QStringList failures = run(store->reclaim({item}));
    EXPECT_TRUE(volumeExists(volume));
    EXPECT_FALSE(failures.isEmpty());
}
