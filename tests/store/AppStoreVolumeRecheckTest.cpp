#include "store/DeletionFixture.h"
#include "store/KernelUsers.h"

#include <functional>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;

namespace {

// The project "shop" of one container in its folder on alpha, mounting its own volume shop_data, whose
// engine keeps its volumes on this machine.
class VolumeRecheck : public Deletion {
protected:
    const Docker::VolumeFolder first{{7, 40}, 1'000};
    // Made again where the file system gave out the same number once more.
    const Docker::VolumeFolder again{{7, 40}, 2'000};
    const QString moved = "2026-05-05T05:05:05Z";

    static Docker::VolumeData here(const Docker::VolumeFolder& folder, const QString& engineId = "E")
    {
        return {engineId, "/var/lib/docker", true, {{"shop_data", folder}}};
    }

    TeardownPlan shown()
    {
        const QString dir = folder("shop");
        // A local engine's data folder is there, and the kernel, as the test gives it, shows nobody
        // else holding it.
        DockerVolume volume = made("shop_data");
        volume.mountpoint = root.filePath("engine/volumes/shop_data/_data");
        EXPECT_TRUE(QDir().mkpath(volume.mountpoint));
        setKernelView([](std::chrono::milliseconds) {
            return Platform::HostMounts{true, Platform::mountTable(), {}, {}, {}};
        });
        world(alpha, {member("shop-web", dir)}, {volume});
        engine->setMounts(alpha, {{"shop-web", {"shop_data"}}});
        engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {"shop_data"}, {}});
        engine->setVolumeData(alpha, here(first));
        engine->setCreation(alpha, {});
        engine->setVolumeEvents(alpha, QMap<QString, QString>{});
        storeOn({entry(alpha)}, alpha);
        return planned(dir);
    }

    void TearDown() override
    {
        setKernelView({});
        Deletion::TearDown();
    }

    // Deletes `plan`; `meanwhile` changes what the engine says while compose takes the project down.
    std::optional<QString> deleted(const TeardownPlan& plan, const std::function<void()>& meanwhile)
    {
        auto down = engine->hold(Call::Capture, alpha);
        auto task = store->deleteProject(plan, alpha, false);
        EXPECT_TRUE(eventually([&] { return down->waitArrived(std::chrono::milliseconds(0)); }));
        meanwhile();
        down->open();
        EXPECT_EQ(run(std::move(task)), std::nullopt) << "the plan held when the deletion began";
        return store->error();
    }

    // A store on an engine that has run nothing yet, for the next row.
    void anew()
    {
        store.reset();
        engine = std::make_shared<ScriptedEngine>();
        engine->removeWhatIsRemoved();
    }

    bool volumeRemoved() const
    {
        return engine->commandArgs().contains(QStringList{"volume", "rm", "shop_data"});
    }
};

} // namespace

// Just before it goes, a volume of the plan is looked at once more: the engine's record of what was
// made and removed since the plan, while it still keeps all of it; else, where the engine keeps its
// volumes on this machine, the volume's own folder. A volume neither can tell apart stays, and says
// why: its creation time, in whole seconds of when its data last changed, only ever keeps it.
TEST_F(VolumeRecheck, EachVolumeGoesOnlyWhenTheRecordOrItsFolderSaysItIsTheOneShown)
{
    const QString madeAgain = "shop_data was made again since the plan was made; it was not removed.";
    const QString timeMoved = "shop_data was not removed: its creation time changed since the plan was made, "
                              "and neither the engine's events nor its data folder here could tell whether "
                              "it was made again.";
    const QString untold = "shop_data was not removed: neither the engine's events since the plan nor its "
                           "data folder here could tell whether it is still the volume the plan showed.";
    using Events = std::optional<QMap<QString, QString>>;
    const struct {
        const char* what;
        Events events;
        Docker::VolumeData data;
        QString created;
        std::optional<QString> error;
        bool removed;
    } rows[] = {
        {"the record: untouched", QMap<QString, QString>{}, {}, moved, std::nullopt, true},
        {"the record: made again",
         QMap<QString, QString>{{"shop_data", "create"}},
         here(first),
         {},
         madeAgain,
         false},
        {"the record: removed by another",
         QMap<QString, QString>{{"shop_data", "destroy"}},
         here(first),
         {},
         std::nullopt,
         false},
        {"the same folder, written into", std::nullopt, here(first), moved, std::nullopt, true},
        {"made again within the same second", std::nullopt, here(again), {}, madeAgain, false},
        {"another engine now", std::nullopt, here(first, "F"), moved, timeMoved, false},
        {"the folder out of sight, its time moved", std::nullopt, {}, moved, timeMoved, false},
        {"the folder out of sight, its time the same", std::nullopt, {}, {}, untold, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TeardownPlan plan = shown();
        ASSERT_EQ(plan.volumeData, here(first));
        const std::optional<QString> error = deleted(plan, [&] {
            engine->setVolumeEvents(alpha, row.events);
            engine->setVolumeData(alpha, row.data);
            if (!row.created.isEmpty())
                engine->setCreation(alpha, {{"shop_data", row.created}});
        });
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(volumeRemoved(), row.removed);
        anew();
    }
}

// Between the plan and the deletion the project's containers write into the volume, and the engine
// prints another creation time. Where its record of that time is gone, the volume's own folder tells
// whether it is still the one shown: then the deletion goes ahead; else the plan made anew comes back
// and nothing goes.
TEST_F(VolumeRecheck, ACreationTimeMovedBeforeTheDeletionIsTheVolumesOwnOnlyByItsFolder)
{
    const struct {
        const char* what;
        Docker::VolumeData data;
        bool proceeds;
    } rows[] = {
        {"the same folder", here(first), true},
        {"made again", here(again), false},
        {"the folder out of sight", {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const TeardownPlan plan = shown();
        engine->setCreation(alpha, {{"shop_data", moved}});
        engine->setVolumeEvents(alpha, std::nullopt);
        engine->setVolumeData(alpha, row.data);
        const std::optional<TeardownPlan> changed = run(store->deleteProject(plan, alpha, false));
        EXPECT_EQ(changed.has_value(), !row.proceeds);
        EXPECT_EQ(engine->commands().isEmpty(), !row.proceeds);
        if (changed) {
            EXPECT_EQ(changed->volumesMade.value("shop_data"), moved);
        }
        anew();
    }
}
