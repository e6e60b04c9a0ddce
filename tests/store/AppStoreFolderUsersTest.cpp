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
        return composedFolder(project, text);
    };
    const struct {
        QString name;
        QString folder;
        QString why;
    } rows[] = {
        {"inside", dir + "/inside", "used by project inside"},
        {"includer", compose("includer", "include: [../shop/common.yaml]\n"), "used by project includer"},
        // One that cannot be read, its folder holding the folder: what it does not say may be there.
        {"above",
         [&] {
             QFile file(root.filePath("compose.yaml"));
             EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("services: {web: [\n") > 0);
             return root.path();
         }(),
         "what project above uses is not known (" + root.filePath("compose.yaml") +
             " is not a compose file that can be read), and its folder or files lie at, in or above it"},
        // The project itself, remembered on its own runtime, is no other user.
        {"shop", dir, {}},
        // One that cannot be read elsewhere is said beside the offer, which stands.
        {"broken", compose("broken", "services: {web: [\n"), {}},
    };
    for (const auto& row : rows) {
        ProjectRegistry registry;
        registry.add({row.name, row.folder, {"web"}}, QString(row.name == "shop" ? "alpha" : "beta"));
        s.setRegistry(registry);
        const TeardownPlan plan = planned(dir);
        if (row.why.isEmpty()) {
            EXPECT_EQ(plan.workingDir, dir) << plan.notes.join('\n').toStdString();
            const QString said = "What project broken uses is not known: " + root.filePath("broken") +
                                 "/compose.yaml is not a compose file that can be read. Its folder and files "
                                 "lie elsewhere.";
            EXPECT_EQ(plan.trashNotes.count(said), row.name == "broken" ? 1 : 0)
                << plan.trashNotes.join('\n').toStdString();
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
              QStringList{dir + " is not offered for the Trash: " + stalled +
                          " (used by project stalled) does not answer, and a link there may lead into it."});
}

// A volume of the project that another project's compose file takes as external is that project's
// too, also while it is down and only remembered on a way to the same engine. One remembered whose
// files cannot be read may name any volume: it keeps them all, and the plan names it. Remembered on
// another engine, or forgotten, it holds nothing.
TEST_F(Deletion, AVolumeARememberedProjectNamesIsKept)
{
    const QString dir = folder("shop");
    shopIn(*engine, dir, {alpha, twin});
    world(beta, {});
    engine->setEngineInfo(alpha, Docker::EngineInfo{"E1", {}});
    engine->setEngineInfo(twin, Docker::EngineInfo{"E1", {}});
    engine->setEngineInfo(beta, Docker::EngineInfo{"E2", {}});
    AppStore& s = storeOn({entry(alpha), entry(twin), entry(beta)}, alpha);
    const auto compose = [&](const QString& project, const QString& text) {
        return composedFolder(project, text);
    };
    const QString orders = compose("orders", "services:\n  db:\n    image: db\n    volumes: [\"d:/d\"]\n"
                                             "volumes:\n  d:\n    external: true\n    name: shop_data\n");
    const QString broken = compose("broken", "services: {db: [\n");
    // Started with -f from another folder as its own: its folder holds no compose file.
    const QString run = folder("orders-run", false);
    const StartedFrom fromOrders{orders + "/compose.yaml", run, {}};
    const QString gone = root.filePath("gone");
    const struct {
        const char* what;
        QString name;
        QString folder;
        std::optional<QString> on;
        QStringList usedBy;
        QList<StartedFrom> startedFrom = {};
    } rows[] = {
        {"remembered on the project's runtime", "orders", orders, "alpha", {"project orders"}},
        {"remembered through another way to its engine", "orders", orders, "twin", {"project orders"}},
        {"remembered on another engine", "orders", orders, "beta", {}},
        {"forgotten", "orders", orders, std::nullopt, {}},
        {"unreadable", "broken", broken, "alpha", {"project broken"}},
        {"started from a file elsewhere", "orders", run, "alpha", {"project orders"}, {fromOrders}},
        {"gone with its files", "orders", gone, "alpha", {}, {StartedFrom{gone + "/stack.yml", gone, {}}}},
    };
    for (const auto& row : rows) {
        ProjectRegistry registry;
        if (row.on)
            registry.add({row.name, row.folder, {"db"}, {}, row.startedFrom}, *row.on);
        s.setRegistry(registry);
        const TeardownPlan plan = planned(dir);
        ASSERT_EQ(plan.volumes.size(), 1) << row.what;
        EXPECT_EQ(plan.volumes.first().usedBy, row.usedBy) << row.what;
        // A volume kept keeps the folder its data is in.
        EXPECT_EQ(plan.workingDir.has_value(), row.usedBy.isEmpty()) << row.what;
        // Said once, whatever it keeps.
        const QString unknown = "project " + row.name + " may name it: ";
        const QString said = (plan.notes + plan.trashNotes + plan.volumes.first().heldSaying()).join('\n');
        EXPECT_EQ(said.count(unknown, Qt::CaseInsensitive), row.name == "broken" ? 1 : 0)
            << row.what << ": " << said.toStdString();
    }
}

// Who uses the folder is known only from every answer of a runtime: one that lists its containers and
// their binds but does not say where its volumes keep their data may keep it in the folder. An engine
// that keeps its own data inside the folder uses it.
TEST_F(Deletion, AnEngineThatKeepsItsDataThereOrDoesNotSayWhereItsVolumesDoKeepsTheFolder)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    world(beta, {});
    storeOn({entry(alpha), entry(beta)}, alpha);
    ASSERT_EQ(planned(dir).workingDir, dir);

    engine->failVolumeFolders(beta);
    TeardownPlan plan = planned(dir);
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes,
              (QStringList{"The engine did not answer: the folders of the volumes on beta.",
                           dir + " is not offered for the Trash: beta did not say which folders its "
                                 "containers use."}));

    engine->setVolumeFolders(beta, {});
    ASSERT_TRUE(QDir().mkpath(dir + "/engine"));
    engine->setEngineInfo(beta, Docker::EngineInfo{"E2", dir + "/engine"});
    plan = planned(dir);
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes, QStringList{dir + " is not offered for the Trash: used by the engine of beta."});
}

// A project of the same name remembered on another engine is another project: what its files name is
// used by it.
TEST_F(Deletion, AProjectOfTheSameNameRememberedOnAnotherEngineUsesWhatItNames)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    world(beta, {});
    engine->setEngineInfo(alpha, Docker::EngineInfo{"E1", {}});
    engine->setEngineInfo(beta, Docker::EngineInfo{"E2", {}});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const QString other = folder("shop-copy", false);
    QFile file(other + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("services:\n  web:\n    image: web\n    volumes: [\"%1/media:/media\"]\n").arg(dir).toUtf8());
    file.close();
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    registry.add({"shop", other, {"web"}}, QStringLiteral("beta"));
    s.setRegistry(registry);
    const TeardownPlan plan = planned(dir);
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes, QStringList{dir + " is not offered for the Trash: used by project shop."});
}
