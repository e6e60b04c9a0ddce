#include "store/DeletionFixture.h"
#include "store/KernelUsers.h"
#include "store/PlanUsers.h"

#include <QDir>
#include <QFileInfo>

using namespace StoreTesting;

namespace {

const QString backupId = QString(64, u'b');

// The kernel's answer as the test gives it: this process's own table, and one namespace of the backup
// container showing `path` at `point`. The real reading is back when it ends.
struct KernelShowing {
    KernelShowing(const QString& path, const QString& point)
    {
        const std::optional<Platform::TreeLocation> at =
            Platform::locate(QFileInfo(path).canonicalFilePath(), Platform::mountTable());
        EXPECT_TRUE(at) << path.toStdString();
        const Platform::MountNamespace backup{
            "4242",
            "sleep",
            {"0::/system.slice/docker-" + backupId + ".scope"},
            {{"0:99", "/", "/"}, {at ? at->device : QByteArray(), at ? at->inFileSystem : QString(), point}}};
        setKernelView([backup](std::chrono::milliseconds) {
            return Platform::HostMounts{true, Platform::mountTable(), {backup}, {}, {}};
        });
    }
    ~KernelShowing() { setKernelView({}); }
};

QStringList removableNames(const TeardownPlan& plan)
{
    QStringList names;
    for (const VolumeUse& volume : plan.removable())
        names << volume.name;
    return names;
}

} // namespace

// Where the engine keeps its volumes on this machine, the plan asks the kernel who has a volume's data
// folder mounted: a container binding it keeps the volume, named; one binding a folder above it (the
// engine's data folder) is only said. No stranger on the machine changes what is judged here.
TEST_F(Deletion, ThePlanAsksTheKernelWhoHasAVolumesDataFolderMounted)
{
    const QString dir = folder("shop");
    const QString engineRoot = root.filePath("engine");
    const QString data = engineRoot + "/volumes/shop_data/_data";
    ASSERT_TRUE(QDir().mkpath(data));
    Container backup = container("backup");
    backup.id = backupId.left(12);
    world(alpha, {member("shop-web", dir), backup},
          {{"shop_data", "local", data, std::nullopt, {{Docker::projectLabel, "shop"}}}});
    engine->setMounts(alpha, {{"shop-web", {"shop_data"}}});
    engine->setEngineInfo(alpha, Docker::EngineInfo{"ENG1", engineRoot});
    engine->setVolumeFolders(alpha, {{"shop_data", {data}}});
    engine->setVolumeData(alpha, {"ENG1", engineRoot, true, {}});
    storeOn({entry(alpha)}, alpha);

    {
        KernelShowing kernel(data, "/x");
        const TeardownPlan shown = planned(dir);
        EXPECT_TRUE(removableNames(shown).isEmpty());
        ASSERT_EQ(shown.kept().size(), 1);
        EXPECT_EQ(shown.kept().first().heldSaying(),
                  QStringList{"its data folder is mounted by backup, which has it mounted at /x"});
    }
    {
        KernelShowing kernel(engineRoot, "/host");
        const TeardownPlan shown = planned(dir);
        EXPECT_EQ(removableNames(shown), QStringList{"shop_data"});
        EXPECT_TRUE(shown.notes.join('\n').contains("which holds the data folder of volume shop_data"))
            << shown.notes.join('\n').toStdString();
    }
}

// Another project's reading: what else of it is unknown hides none of the volumes it names; only when
// which volumes it names cannot be known does it hold them all, running or only remembered.
TEST(VolumeHolds, OnlyAnUnknownOfTheVolumesHoldsThemAll)
{
    OtherReading unrelated{{QString(), "c1", "web", std::optional<QString>("blog")}, {}, true};
    unrelated.read = Docker::ComposeFileUses{};
    unrelated.read->unknown = "a path goes through EXTRA, not set here";
    unrelated.read->volumes = {"media"};
    OtherReading unreadable{{QString(), "c2", "api", std::optional<QString>("shop")}, {}, true};
    unreadable.read = Docker::ComposeFileUses{};
    unreadable.read->unknown = unreadable.read->volumesUnknown = "its compose file is not YAML";

    const VolumeHolds holds = volumeHolds({unrelated, unreadable});
    EXPECT_EQ(holds.namedBy.value("media"), QStringList{"project blog"});
    EXPECT_EQ(holds.unknown, QStringList{"project shop"});
    EXPECT_EQ(holds.why, QStringList{"project shop may name it: its compose file is not YAML"});
}
