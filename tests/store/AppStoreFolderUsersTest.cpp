#include "store/DeletionFixture.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <memory>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;

namespace {

const Runtime twin = Runtime::context("twin");

// The project "shop" in `dir` with a volume of its own whose data the local driver binds into the
// folder, as every runtime of `runtimes` lists it.
void shopIn(ScriptedEngine& engine, const QString& dir, const QList<Runtime>& runtimes)
{
    for (const Runtime& runtime : runtimes) {
        Container web = container("shop-web", "running", "shop");
        web.labels.insert(Docker::workingDirLabel, dir);
        DockerVolume data{
            "shop_data", "local", "/v/shop_data", std::nullopt, {{Docker::projectLabel, "shop"}}};
        engine.setListing(runtime, {{web}, {}, {data}});
        engine.setMounts(runtime, {{"shop-web", {"shop_data"}}});
        engine.setVolumeFolders(runtime, {{"shop_data", {dir + "/data"}}});
    }
}

} // namespace

// An engine reached through a second context lists the project's own containers and volumes again:
// they are still the project's own when the engine says it is the same one. Told apart, or when one
// cannot say who it is, they are somebody else's, as a second engine's would be.
TEST_F(Deletion, OneEngineThroughTwoContextsIsOneUser)
{
    const QString dir = folder("shop");
    shopIn(*engine, dir, {alpha, twin});
    storeOn({entry(alpha), entry(twin)}, alpha);
    const struct {
        const char* what;
        std::optional<Docker::EngineInfo> alphaIs;
        std::optional<Docker::EngineInfo> twinIs;
        bool offered;
    } rows[] = {
        {"the same engine", Docker::EngineInfo{"E1", "/var/lib/docker"},
         Docker::EngineInfo{"E1", "/var/lib/docker"}, true},
        {"two engines", Docker::EngineInfo{"E1", {}}, Docker::EngineInfo{"E2", {}}, false},
        {"one that cannot say", Docker::EngineInfo{"E1", {}}, Docker::EngineInfo{}, false},
    };
    for (const auto& row : rows) {
        engine->setEngineInfo(alpha, row.alphaIs);
        engine->setEngineInfo(twin, row.twinIs);
        const TeardownPlan plan = planned(dir);
        EXPECT_EQ(plan.workingDir.has_value(), row.offered) << row.what;
        EXPECT_EQ(names(plan.removable()), QStringList{"shop_data"}) << row.what;
        if (row.offered)
            EXPECT_EQ(plan.folderBinds, QStringList{dir + "/data"}) << row.what;
        else
            EXPECT_EQ(plan.notes,
                      QStringList{dir + " is not offered for the Trash: used by volume shop_data of shop."})
                << row.what;
    }
}

// Every runtime is asked at once: one that takes its time holds up no other's answer, and the plan
// waits for the slowest, not for all of them one after another.
TEST_F(Deletion, TheRuntimesAreAskedAtTheSameTime)
{
    const QString dir = folder("shop");
    shopIn(*engine, dir, {alpha});
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha);
    auto heldBeta = engine->hold(Call::Containers, beta);
    auto heldDelta = engine->hold(Call::Containers, delta);

    auto task = s.teardownPlan({"shop", dir, {}, 0, alpha});
    EXPECT_TRUE(heldBeta->waitArrived());
    EXPECT_TRUE(heldDelta->waitArrived()) << "delta was asked while beta had not answered";
    heldBeta->open();
    heldDelta->open();
    EXPECT_EQ(run(std::move(task)).workingDir, dir);
}

// A project the registry remembers without containers would miss its folder, and whatever its compose
// files name, when the user brings it up again; one whose files cannot be read may name anything.
TEST_F(Deletion, ARememberedProjectUsesItsFolderAndWhatItsFilesName)
{
    const QString dir = folder("shop");
    ASSERT_TRUE(QDir().mkpath(dir + "/inside"));
    QFile inside(dir + "/inside/compose.yaml");
    ASSERT_TRUE(inside.open(QIODevice::WriteOnly) && inside.write("services: {}\n") > 0);
    inside.close();
    shopIn(*engine, dir, {alpha});
    world(beta, {});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const auto compose = [&](const QString& project, const QString& text) {
        const QString there = folder(project, false);
        QFile file(there + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
        return there;
    };
    const struct {
        QString name;
        QString folder;
        QString why;
    } rows[] = {
        {"inside", dir + "/inside", "used by project inside"},
        {"includer", compose("includer", "include: [../shop/common.yaml]\n"), "used by project includer"},
        {"broken", compose("broken", "services: {web: [\n"),
         "what project broken uses is not known: " + root.filePath("broken") +
             "/compose.yaml is not a compose file that can be read"},
        // The project itself, remembered on its own runtime, is no other user.
        {"shop", dir, {}},
    };
    for (const auto& row : rows) {
        ProjectRegistry registry;
        registry.add({row.name, row.folder, {"web"}}, QString(row.name == "shop" ? "alpha" : "beta"));
        s.setRegistry(registry);
        const TeardownPlan plan = planned(dir);
        if (row.why.isEmpty()) {
            EXPECT_EQ(plan.workingDir, dir) << plan.notes.join('\n').toStdString();
            continue;
        }
        EXPECT_EQ(plan.workingDir, std::nullopt) << row.name.toStdString();
        EXPECT_EQ(plan.notes, QStringList{dir + " is not offered for the Trash: " + row.why + "."});
    }

    // One on a mount that stalls may name anything: the plan waits for it no longer than its limit.
    const QString stalled = compose("stalled", "services: {}\n");
    TestSupport::HeldLooks looks(stalled, std::chrono::hours(1));
    s.setFolderLooks(std::chrono::milliseconds(500), {});
    ProjectRegistry registry;
    registry.add({"stalled", stalled, {"web"}}, QStringLiteral("beta"));
    s.setRegistry(registry);
    EXPECT_EQ(planned(dir).notes,
              QStringList{dir +
                          " is not offered for the Trash: what project stalled uses is not "
                          "known: its compose files in " +
                          stalled + " do not answer."});
}
