#include "store/StoreFixture.h"

#include "platform/DiskLook.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using Command = ScriptedEngine::Command;
using TestSupport::ScopedEnv;

namespace {

// A home folder and a Trash of the test's own, so nothing here can reach the user's. The engine takes
// out of its listing what a removal removes, as a real one does.
class Deletion : public ScriptedStore {
protected:
    QTemporaryDir root;
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(root.filePath("home")));
        ASSERT_TRUE(QDir().mkpath(root.filePath("data")));
        engine->removeWhatIsRemoved();
    }

    QString folder(const QString& name, bool withComposeFile = true)
    {
        return projectFolder(root, name, withComposeFile);
    }

    bool trashed(const QString& name) const
    {
        return QFile::exists(root.filePath("data/Trash/files/" + name));
    }

    static Container on(Container c, const std::optional<Runtime>& runtime)
    {
        c.runtime = runtime;
        return c;
    }

    // A container of `project` made in `dir` (none: one that names no folder).
    static Container member(const QString& name, const std::optional<QString>& dir, const QString& project = "shop")
    {
        Container c = container(name, "running", project);
        c.labels.insert(Docker::projectLabel, project);
        c.labels.remove(Docker::workingDirLabel);
        if (dir)
            c.labels.insert(Docker::workingDirLabel, *dir);
        return c;
    }

    // A volume compose made for `project`.
    static DockerVolume made(const QString& name, const QString& project = "shop")
    {
        return {name, "local", "/v/" + name, std::nullopt, {{Docker::projectLabel, project}}};
    }

    static TeardownPlan plan(const QStringList& containers, const QList<VolumeUse>& volumes,
                             const std::optional<QString>& dir)
    {
        TeardownPlan made{"shop", containers, volumes, dir};
        for (const QString& name : containers)
            made.containerIds << "id-" + name;
        return made;
    }

    // What `runtime` lists: these containers and volumes.
    void world(const std::optional<Runtime>& runtime, const QList<Container>& containers,
               const QList<DockerVolume>& volumes = {})
    {
        engine->setListing(runtime, {containers, {}, volumes});
    }

    // The plan the store makes of the project "shop" on alpha as the engine lists it now.
    TeardownPlan planned(const std::optional<QString>& dir, const std::optional<Runtime>& runtime = alpha)
    {
        return run(store->teardownPlan({"shop", dir, {}, 0, runtime}));
    }
};

const VolumeUse own{"shop_data", {}, std::nullopt};
const VolumeUse cache{"shop_cache", {}, std::nullopt};
const VolumeUse shared{"media", {"blog-web"}, std::nullopt};

} // namespace

TEST_F(Deletion, ThePlanWeighsOnlyTheProjectsRuntimeAndReadsTheFileUnderTheProjectsName)
{
    const QString dir = folder("checkout");
    engine->setComposeProject(dir,
                              ComposeConfig{"shop", {"web"}, {"media", "shop_data", "shop_idle"}, {"media"}});
    engine->setMounts(alpha, {{"shop-web", {"shop_data", "media"}}, {"loose", {"shop_data"}}});
    world(alpha, {member("shop-web", dir), container("loose")},
          {made("shop_data"), made("shop_idle"), made("media")});
    world(beta, {container("other")}, {{"shop_idle", "local", "/v/4", std::nullopt, {}}});
    storeOn({entry(alpha), entry(beta)}, beta, true);

    const TeardownPlan plan = planned(dir);

    EXPECT_EQ(engine->mountsAsked(), (QList<QStringList>{{"shop-web", "loose"}}));
    EXPECT_EQ(engine->composeNamesAsked(), QStringList{"shop"});
    EXPECT_EQ(plan.containers, QStringList{"shop-web"});
    EXPECT_EQ(plan.containerIds, QStringList{"id-shop-web"});
    // media is declared external: another project's, never this one's to remove, whatever its label.
    EXPECT_EQ(plan.volumes, (QList<VolumeUse>{{"shop_data", {"loose"}, {}}, {"shop_idle", {}, {}}}));
    EXPECT_EQ(plan.volumesMade.value("shop_idle"), ScriptedEngine::createdDefault());
    EXPECT_EQ(plan.workingDir, dir);
    EXPECT_EQ(plan.folder, Platform::identityOf(dir));
    EXPECT_FALSE(store->busy());
}

TEST_F(Deletion, PlannedSizesAreTheEnginesMeasurementOrAbsent)
{
    engine->setMounts(alpha, {{"shop-web", {"shop_data", "shop_cache", "shop_empty"}}});
    const QList<DockerVolume> volumes{made("shop_data"), made("shop_cache"), made("shop_empty")};
    world(alpha, {member("shop-web", std::nullopt)}, volumes);
    AppStore& s = storeOn({entry(alpha)}, alpha);
    QList<DockerVolume> listed = volumes;
    for (DockerVolume& volume : listed)
        volume.runtime = alpha;
    s.setVolumes(listed);

    // Before anything was measured there is no size, whatever the mount point's directory weighs.
    TeardownPlan plan = planned(std::nullopt);
    ASSERT_EQ(plan.volumes.size(), 3);
    for (const VolumeUse& v : plan.volumes)
        EXPECT_EQ(v.size, std::nullopt) << v.name.toStdString();

    DiskUsage usage;
    usage.volumeSize = {{"shop_data", 1'500'000}, {"shop_empty", 0}};
    s.setUsage(usage);
    plan = planned(std::nullopt);
    EXPECT_EQ(plan.volumes,
              (QList<VolumeUse>{{"shop_cache", {}, {}}, {"shop_data", {}, "1.5 MB"}, {"shop_empty", {}, {}}}));
}

// Without a readable file the external volumes are unknown: of the mounted volumes only those compose
// made for this project may go, never one it borrows, another project's, or one not listed at all.
TEST_F(Deletion, APlanWithoutAReadableFileTakesOnlyTheVolumesComposeMadeForTheProject)
{
    const QString dir = folder("broken");
    engine->setComposeProject(dir, std::nullopt);
    engine->setMounts(std::nullopt, {{"shop-web", {"shop_data", "ext", "blog_media", "unlisted"}},
                                     {"loose", {"ext"}}});
    storeOn({}, std::nullopt);
    for (const std::optional<QString>& workingDir : {std::optional<QString>(dir), std::optional<QString>()}) {
        world(std::nullopt, {member("shop-web", workingDir), container("loose")},
              {made("shop_data"), {"ext", "local", "/v/2", std::nullopt}, made("blog_media", "blog")});
        EXPECT_EQ(planned(workingDir, std::nullopt).volumes, QList<VolumeUse>{own});
    }
}

// The project's folder on a mount that stalls: the plan waits for it no longer than for the engine, then
// plans without it, says so, and neither reads its file nor offers the folder.
TEST_F(Deletion, APlanWhoseFolderDoesNotAnswerEndsWithinItsLimitWithANote)
{
    const QString dir = folder("stalled");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {"shop_data", "shop_idle"}, {}});
    engine->setMounts(std::nullopt, {{"shop-web", {"shop_data"}}});
    const auto released = std::make_shared<std::atomic_bool>(false);
    Platform::detail::setBeforeFolderLookForTesting([released, dir](const QString& folder) {
        const QDeadlineTimer limit(60000);
        while (folder == dir && !*released && !limit.hasExpired())
            QThread::msleep(5);
    });
    const auto restore = qScopeGuard([&] {
        *released = true;
        Platform::detail::setBeforeFolderLookForTesting({});
    });
    world(std::nullopt, {member("shop-web", dir)}, {made("shop_data"), made("shop_idle")});
    storeOn({}, std::nullopt);

    QElapsedTimer clock;
    clock.start();
    const TeardownPlan plan = planned(dir, std::nullopt);
    EXPECT_LT(clock.elapsed(), 25000) << "the plan waited for the folder";
    EXPECT_TRUE(engine->composeNamesAsked().isEmpty());
    EXPECT_EQ(plan.volumes, QList<VolumeUse>{own});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes,
              QStringList{dir + " does not answer. Volumes its compose file declares that no "
                                "container mounts are not planned, and the folder is not offered "
                                "for the Trash."});
}

// compose down may fail, or leave a container that only carries the project's labels: every planned
// container still there then goes by its identifier, and one that stays even so is named.
TEST_F(Deletion, WhatComposeDownLeavesOfThePlanGoesByIdentifierOrIsNamed)
{
    const QString dir = folder("checkout");
    const QStringList down{"compose", "-p", "shop", "down", "--remove-orphans"};
    AppStore& s = storeOn({entry(alpha)}, alpha);
    Container stray = member("shop-stray", dir);
    stray.labels.insert("compose.ignores", "1");
    const struct {
        QString downSays;
        QString rmSays;
        QList<QStringList> commands;
        std::optional<QString> error;
    } rows[] = {
        {"compose: no configuration file provided\n", {},
         {down, {"rm", "-f", "id-shop-db", "id-shop-stray", "id-shop-web"}, {"volume", "rm", "shop_data"}},
         "compose: no configuration file provided"},
        {{}, {}, {down, {"rm", "-f", "id-shop-stray"}, {"volume", "rm", "shop_data"}}, std::nullopt},
        {{}, "permission denied\n", {down, {"rm", "-f", "id-shop-stray"}, {"volume", "rm", "shop_data"}},
         "permission denied\nshop-stray is still there: it could not be removed."},
    };
    for (const auto& row : rows) {
        world(alpha, {member("shop-db", dir), stray, member("shop-web", dir)}, {made("shop_data")});
        engine->setMounts(alpha, {{"shop-web", {"shop_data"}}});
        engine->answer(down, {row.downSays.isEmpty() ? 0 : 1, QString(), row.downSays});
        engine->answer({"rm", "-f", "id-shop-stray"}, {row.rmSays.isEmpty() ? 0 : 1, QString(), row.rmSays});
        const TeardownPlan shown = planned(dir);
        ASSERT_EQ(shown.containers, (QStringList{"shop-db", "shop-stray", "shop-web"}));
        const qsizetype before = engine->commands().size();

        EXPECT_EQ(run(s.deleteProject(shown, alpha, false)), std::nullopt);

        EXPECT_EQ(engine->commandArgs().mid(before), row.commands) << row.downSays.toStdString();
        EXPECT_EQ(s.error(), row.error);
    }
}

TEST_F(Deletion, WithoutAComposeFileTheContainersAreRemovedInOneCommand)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const std::optional<QString> folders[] = {std::nullopt, folder("plain", false)};
    for (const std::optional<QString>& dir : folders) {
        world(alpha, {member("shop-web", dir), member("shop-db", dir)});
        run(s.deleteProject(planned(dir), alpha, false));
    }
    // The networks they were attached to are read before they go; attached to none, none goes.
    const QStringList attached{"inspect", "--type", "container", "id-shop-db", "id-shop-web",
                               "--format", "{{json .NetworkSettings.Networks}}"};
    EXPECT_EQ(engine->commandArgs(), (QList<QStringList>{attached, {"rm", "-f", "id-shop-db", "id-shop-web"},
                                                         attached, {"rm", "-f", "id-shop-db", "id-shop-web"}}));
    EXPECT_EQ(s.error(), std::nullopt);
}

// compose may refuse a name after all, one it read as another project's or its own rules changed: the
// containers then go one by one, with the project's networks, and that is no failure.
TEST_F(Deletion, ANameComposeRefusesHasItsContainersRemovedOneByOne)
{
    const QString dir = folder("checkout");
    const QStringList down{"compose", "-p", "shop", "down", "--remove-orphans"};
    engine->failCommand(down, "invalid project name \"shop\": must consist only of lowercase letters\n");
    world(alpha, {member("shop-web", dir)});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);

    run(s.deleteProject(planned(dir), alpha, false));

    EXPECT_EQ(engine->commandArgs(),
              (QList<QStringList>{down,
                                  {"inspect", "--type", "container", "id-shop-web", "--format",
                                   "{{json .NetworkSettings.Networks}}"},
                                  {"rm", "-f", "id-shop-web"}}));
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_FALSE(s.registry().knows("shop", QStringLiteral("alpha")));
}

// What compose down would have taken of the networks, and nothing else: of those the containers were
// attached to, the one labelled with the project's name that nobody uses afterwards. The one shared
// with another project's container, one of another project and one without the label stay, as does
// every network the containers were not attached to, whatever its label.
TEST_F(Deletion, OnlyTheSpareNetworksOfTheRemovedContainersThatCarryTheProjectsLabelGo)
{
    world(alpha, {member("shop-web", std::nullopt), member("shop-db", std::nullopt)});
    engine->answer({"inspect", "--type", "container", "id-shop-db", "id-shop-web", "--format",
                    "{{json .NetworkSettings.Networks}}"},
                   {0,
                    R"({"shop_default":{"NetworkID":"n1"},"shared":{"NetworkID":"n2"}})"
                    "\n"
                    R"({"shop_default":{"NetworkID":"n1"},"never_started":{"NetworkID":""},"bridge":{"NetworkID":"n4"}})"
                    "\n",
                    {}});
    const QString format = R"({"Id":{{json .Id}},"Name":{{json .Name}},"Labels":{{json .Labels}}})";
    engine->answer({"network", "inspect", "n2", "n1", "n4", "never_started", "--format", format},
                   {1,
                    R"({"Id":"n1","Name":"shop_default","Labels":{"com.docker.compose.project":"shop"}})"
                    "\n"
                    R"({"Id":"n2","Name":"shared","Labels":{"com.docker.compose.project":"shop"}})"
                    "\n"
                    R"({"Id":"n3","Name":"never_started","Labels":{"com.docker.compose.project":"shops"}})"
                    "\n"
                    R"({"Id":"n4","Name":"bridge","Labels":{}})"
                    "\n",
                    "Error: one was gone"});
    const auto users = [](const QString& id, const QString& name) {
        return QStringList{"ps", "-a", "-q", "--no-trunc", "--filter", "network=" + id, "--filter", "network=" + name};
    };
    engine->answer(users("n2", "shared"), {0, "c0ffee\n", {}});
    engine->failCommand({"network", "rm", "n1"}, "Error response from daemon: network n1 has active endpoints\n");
    AppStore& s = storeOn({entry(alpha)}, alpha);

    run(s.deleteProject(planned(std::nullopt), alpha, false));

    const QList<QStringList> commands = engine->commandArgs();
    ASSERT_GE(commands.size(), 3);
    EXPECT_EQ(commands.mid(2), (QList<QStringList>{{"network", "inspect", "n2", "n1", "n4", "never_started",
                                                    "--format", format},
                                                   users("n1", "shop_default"),
                                                   {"network", "rm", "n1"},
                                                   users("n2", "shared")}));
    EXPECT_EQ(s.error(), "Error response from daemon: network n1 has active endpoints");
}

// A deletion asked for once the way out has begun removes nothing and forgets nothing.
TEST_F(Deletion, OneAskedForOnTheWayOutRemovesNothing)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)}, {made("shop_data")});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    const TeardownPlan shown = planned(dir);
    s.windDown();
    run(s.deleteProject(shown, alpha, true));
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(dir));
    EXPECT_TRUE(s.registry().knows("shop", QStringLiteral("alpha")));
}

TEST_F(Deletion, NothingToTakeDownAndOnlyKeptVolumesRunNoCommand)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.deleteProject(plan({}, {shared}, std::nullopt), alpha, true));
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(s.error(), std::nullopt);
}

TEST_F(Deletion, EveryFailureIsALineInTheOrderItHappenedAndTheRestStillRuns)
{
    const QString dir = folder("shop");
    engine->failCommand({"compose", "-p", "shop", "down", "--remove-orphans"}, "down failed");
    engine->failCommand({"volume", "rm", "shop_cache", "shop_data"}, "", 1);
    engine->setMounts(alpha, {{"shop-web", {"shop_cache", "shop_data"}}});
    world(alpha, {member("shop-web", dir)}, {made("shop_cache"), made("shop_data")});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);

    run(s.deleteProject(planned(dir), alpha, true));

    EXPECT_EQ(s.error(), "down failed\ndocker volume rm exited 1.");
    EXPECT_TRUE(trashed("shop"));
    EXPECT_FALSE(QFile::exists(dir));
    EXPECT_TRUE(s.registry().knows("shop", QStringLiteral("alpha"))) << "kept, to be deleted again";
}

// compose takes an empty -p for the folder's own project and refuses or rewrites other names it does
// not take as given: such a project never goes through compose, whatever its folder holds. Its
// containers go by identifier, and only the networks labelled with exactly its name.
TEST_F(Deletion, ANameComposeDoesNotTakeAsGivenHasItsContainersRemovedByIdentifier)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    for (const QString& name : {QString(), QStringLiteral("Shop Front"), QStringLiteral("shop,front=1")}) {
        const QString web = name + "-web-1";
        world(alpha, {member(web, dir, name)}, {made(name + "_data", name)});
        engine->setMounts(alpha, {{web, {name + "_data"}}});
        ProjectRegistry registry;
        registry.add({name, dir, {"web"}}, QStringLiteral("alpha"));
        s.setRegistry(registry);
        const int before = int(engine->commands().size());

        run(s.deleteProject(run(s.teardownPlan({name, dir, {}, 0, alpha})), alpha, false));

        EXPECT_EQ(engine->commandArgs().mid(before),
                  (QList<QStringList>{
                      {"inspect", "--type", "container", "id-" + web, "--format", "{{json .NetworkSettings.Networks}}"},
                      {"rm", "-f", "id-" + web},
                      {"volume", "rm", name + "_data"}}))
            << name.toStdString();
        EXPECT_EQ(s.error(), std::nullopt);
        EXPECT_FALSE(s.registry().knows(name, QStringLiteral("alpha"))) << name.toStdString();
    }
    EXPECT_TRUE(engine->composeNamesAsked().isEmpty()) << "compose read nothing for these names";

    // When the removal fails, its failure shows, the container is named, and the project stays.
    ProjectRegistry registry;
    registry.add({"Shop Front", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    world(alpha, {member("Shop Front-web-1", dir, "Shop Front")});
    engine->failCommand({"rm", "-f", "id-Shop Front-web-1"}, "permission denied\n");
    run(s.deleteProject(run(s.teardownPlan({"Shop Front", dir, {}, 0, alpha})), alpha, false));
    EXPECT_EQ(s.error(), "permission denied\nShop Front-web-1 is still there: it could not be removed.");
    EXPECT_TRUE(s.registry().knows("Shop Front", QStringLiteral("alpha")));
}

// The plan of a project with an empty name reads no compose file (compose would read the folder's own
// project) and counts no unlabelled volume as its own.
TEST_F(Deletion, ThePlanOfAnEmptyNameReadsNoComposeFileAndTakesNoUnlabelledVolume)
{
    const QString dir = folder("checkout");
    engine->setComposeProject(dir, ComposeConfig{"checkout", {"web"}, {"checkout_data"}, {}});
    engine->setMounts(alpha, {{"odd", {"checkout_data", "plain", "odd_own"}}});
    world(alpha, {member("odd", dir, QString())},
          {made("checkout_data", "checkout"), {"plain", "local", "/v/2", std::nullopt, {}}, made("odd_own", QString())});
    AppStore& s = storeOn({entry(alpha)}, alpha);

    const TeardownPlan plan = run(s.teardownPlan({"", dir, {}, 0, alpha}));

    EXPECT_TRUE(engine->composeNamesAsked().isEmpty());
    EXPECT_EQ(plan.volumes, (QList<VolumeUse>{{"odd_own", {}, {}}}));
}

TEST_F(Deletion, ASuccessClearsAnEarlierErrorAndBusyLastsThroughTheRefresh)
{
    world(alpha, {member("shop-web", std::nullopt)});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setError(QStringLiteral("an earlier action failed"));
    const TeardownPlan shown = planned(std::nullopt);
    auto removal = engine->hold(Call::Capture, alpha);

    auto task = s.deleteProject(shown, alpha, false);
    ASSERT_TRUE(eventually([&] { return removal->waitArrived(std::chrono::milliseconds(0)); }));
    auto leftovers = engine->hold(Call::Containers, alpha);
    auto refresh = engine->hold(Call::Containers, alpha);
    removal->open();
    const auto arrived = [](const std::shared_ptr<Gate>& gate) {
        return eventually([&] { return gate->waitArrived(std::chrono::milliseconds(0)); });
    };
    ASSERT_TRUE(arrived(leftovers));
    leftovers->open();
    ASSERT_TRUE(arrived(refresh));
    EXPECT_TRUE(s.busy());
    EXPECT_EQ(s.error(), std::nullopt);
    refresh->open();
    run(std::move(task));
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(s.usageAt(), AppStore::distantPast()) << "untouched: never measured";
}

TEST_F(Deletion, WithoutARuntimeTheCommandsGoToTheClientsContextAndTheRegistryStays)
{
    world(std::nullopt, {member("shop-web", std::nullopt)});
    AppStore& s = storeOn({}, std::nullopt);
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    run(s.deleteProject(planned(std::nullopt, std::nullopt), std::nullopt, false));
    ASSERT_EQ(engine->commands().size(), 2);
    for (const Command& command : engine->commands())
        EXPECT_EQ(command.runtime, "") << command.args.join(' ').toStdString();
    EXPECT_EQ(s.registry(), registry);
}

TEST_F(Deletion, TheTrashIsAskedOnlyForAFolderThePlanHas)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.deleteProject(planned(dir), alpha, false));
    EXPECT_TRUE(QFile::exists(dir));
    run(s.deleteProject(plan({}, {}, std::nullopt), alpha, true));
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_TRUE(QDir(root.filePath("data/Trash/files")).isEmpty());
}

// A quit while the folder moves ends the event loop before the deletion can forget the project: the
// project is noted before its folder moves, and the note is settled at the next start by where the
// folder is, or left for the one after while the folder does not answer.
TEST_F(Deletion, AProjectWhoseFolderWentToTheTrashUnseenIsForgottenAtTheNextStart)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setRegistry(registry);
    QStringList seen;
    QObject::connect(settings.get(), &Platform::Settings::changed, [&](const QString& key) {
        if (key == AppStore::pendingTrashMovesKey)
            seen << (QFile::exists(dir) ? "noted, folder in place" : "noted, folder gone");
    });
    run(s.deleteProject(planned(dir), alpha, true));
    EXPECT_EQ(seen, (QStringList{"noted, folder in place", "noted, folder gone"}));
    EXPECT_FALSE(settings->contains(AppStore::pendingTrashMovesKey));
    EXPECT_FALSE(s.registry().knows("shop", QStringLiteral("alpha")));

    // What a start finds after moves the application did not see end.
    const QString there = folder("there");
    const QString stalled = folder("stalled");
    const struct {
        const char* name;
        QString noted;      // the folder noted
        QString remembered; // the folder the registry holds for it
        bool forgotten;
    } rows[] = {
        {"moved", root.filePath("moved"), root.filePath("moved"), true},
        {"notMoved", there, there, false},
        {"addedAgainElsewhere", root.filePath("gone"), there, false},
        {"stalled", stalled, stalled, false},
    };
    QJsonArray notes;
    registry = {};
    for (const auto& row : rows) {
        notes.append(QJsonObject{{"runtime", "alpha"}, {"name", row.name}, {"workingDir", row.noted}});
        registry.add({row.name, row.remembered, {}}, QStringLiteral("alpha"));
    }
    settings->setValue(AppStore::pendingTrashMovesKey, QString::fromUtf8(QJsonDocument(notes).toJson()));
    registry.save(*settings);
    AppStore& next = makeStore();
    // The folders are looked at in the order noted: the last look does not come back in time.
    auto looks = std::make_shared<std::atomic<int>>(0);
    next.setFolderLooks(std::chrono::milliseconds(300), [looks] {
        if (++*looks == 4)
            QThread::msleep(1500);
    });
    run(next.forgetTrashedProjects());
    for (const auto& row : rows)
        EXPECT_EQ(next.registry().knows(row.name, QStringLiteral("alpha")), !row.forgotten) << row.name;
    EXPECT_EQ(ProjectRegistry::load(*settings), next.registry());
    const QJsonArray left = QJsonDocument::fromJson(settings->string(AppStore::pendingTrashMovesKey).toUtf8()).array();
    ASSERT_EQ(left.size(), 1);
    EXPECT_EQ(left[0].toObject().value("name").toString(), "stalled");
}


// Anyone who can start a container can label it with any working directory: the home folder, a folder
// that holds it, or one a link leads there from is never offered, and says why.
TEST_F(Deletion, AFolderFromLabelsThatHoldsTheHomeFolderIsNeverOffered)
{
    ASSERT_TRUE(QFile::link(root.filePath("home"), root.filePath("to-home")));
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const struct {
        QString dir;
        QString why;
    } rows[] = {{root.filePath("home"), "it is your home folder"},
                {root.path(), "it holds your home folder"},
                {root.filePath("to-home"), "it is your home folder"},
                {root.filePath("home/../home"), "it is not a plain absolute path"}};
    for (const auto& row : rows) {
        world(alpha, {member("shop-web", row.dir)});
        const TeardownPlan shown = planned(row.dir);
        EXPECT_EQ(shown.workingDir, std::nullopt) << row.dir.toStdString();
        EXPECT_EQ(shown.notes, QStringList{row.dir + " is not offered for the Trash: " + row.why + "."});
    }
    // A plan made elsewhere that offers it all the same is made again before anything goes.
    world(alpha, {member("shop-web", root.filePath("home"))});
    const std::optional<TeardownPlan> again = run(s.deleteProject(plan({"shop-web"}, {}, root.filePath("home")), alpha, true));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->workingDir, std::nullopt);
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(root.filePath("home")));
}

// Between the plan and the deletion the project may have changed under the same names: containers
// added, removed, or made anew (down and up again), a volume made anew or declared external, a user of
// its folder come. Nothing is removed, and the plan made from what is there now comes back. A listing
// that fails removes nothing either.
TEST_F(Deletion, AProjectThatChangedSinceItsPlanLosesNothing)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    s.setError(QStringLiteral("an earlier action failed"));
    const auto then = [&] {
        world(alpha, {member("shop-web", dir)}, {made("shop_data")});
        world(beta, {});
        engine->setMounts(alpha, {{"shop-web", {"shop_data"}}});
        engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {"shop_data"}, {}});
        engine->setCreation(alpha, {});
    };
    Container again = member("shop-web", dir);
    again.id = "id-shop-web-again";
    Container user = container("blog-web", "running", "blog");
    user.labels.insert(Docker::workingDirLabel, dir + "/blog");
    const struct {
        QString what;
        std::function<void()> change;
        QStringList containers;
        QStringList removable;
        bool offered;
    } rows[] = {
        {"added", [&] { world(alpha, {member("shop-web", dir), member("extra", dir)}, {made("shop_data")}); },
         {"extra", "shop-web"}, {"shop_data"}, true},
        {"removed", [&] { world(alpha, {}, {made("shop_data")}); }, {}, {"shop_data"}, true},
        {"made anew", [&] { world(alpha, {again}, {made("shop_data")}); }, {"shop-web"}, {"shop_data"}, true},
        {"volume made anew", [&] { engine->setCreation(alpha, {{"shop_data", "2026-05-05T05:05:05Z"}}); },
         {"shop-web"}, {"shop_data"}, true},
        {"declared external",
         [&] { engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {"shop_data"}, {"shop_data"}}); },
         {"shop-web"}, {}, true},
        {"folder used elsewhere", [&] { world(beta, {user}); }, {"shop-web"}, {"shop_data"}, false},
    };
    for (const auto& row : rows) {
        then();
        const TeardownPlan shown = planned(dir);
        ASSERT_TRUE(shown.workingDir) << row.what.toStdString();
        row.change();
        const std::optional<TeardownPlan> now = run(s.deleteProject(shown, alpha, true));
        ASSERT_TRUE(now) << row.what.toStdString();
        EXPECT_EQ(now->containers, row.containers) << row.what.toStdString();
        EXPECT_EQ(names(now->removable()), row.removable) << row.what.toStdString();
        EXPECT_EQ(now->workingDir.has_value(), row.offered) << row.what.toStdString();
    }
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_TRUE(s.registry().knows("shop", QStringLiteral("alpha")));
    EXPECT_EQ(s.error(), "an earlier action failed") << "a plan that no longer holds is no failure";
    EXPECT_FALSE(s.busy());

    then();
    const TeardownPlan shown = planned(dir);
    engine->failListing(alpha, "alpha is not answering.");
    EXPECT_EQ(run(s.deleteProject(shown, alpha, true)), std::nullopt);
    EXPECT_EQ(s.error(), "alpha is not answering.");
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));

    // Without the Trash a user of the folder changes nothing that goes.
    then();
    const TeardownPlan kept = planned(dir);
    world(beta, {user});
    EXPECT_EQ(run(s.deleteProject(kept, alpha, false)), std::nullopt);
    EXPECT_EQ(engine->commandArgs().first(), (QStringList{"compose", "-p", "shop", "down", "--remove-orphans"}));
}

// The folder is looked at once more just before it goes: a container that started using it meanwhile,
// on any runtime, keeps it where it is, and the failure says who.
TEST_F(Deletion, AFolderSomeoneStartedUsingDuringTheDeletionStays)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    world(beta, {});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const TeardownPlan shown = planned(dir);
    ASSERT_EQ(shown.workingDir, dir);
    auto down = engine->hold(Call::Capture, alpha);

    auto task = s.deleteProject(shown, alpha, true);
    ASSERT_TRUE(eventually([&] { return down->waitArrived(std::chrono::milliseconds(0)); }));
    Container user = container("db", "running");
    world(beta, {user});
    engine->setBinds(beta, Docker::BindMap{{user.id, {dir + "/db"}}});
    down->open();
    run(std::move(task));

    EXPECT_EQ(s.error(), dir + " was not moved to the Trash: used by db.");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(trashed("shop"));

    // A runtime that cannot say who uses it keeps it too.
    world(alpha, {member("shop-web", dir)});
    world(beta, {});
    const TeardownPlan second = planned(dir);
    auto held = engine->hold(Call::Capture, alpha);
    auto again = s.deleteProject(second, alpha, true);
    ASSERT_TRUE(eventually([&] { return held->waitArrived(std::chrono::milliseconds(0)); }));
    engine->setBinds(beta, std::nullopt);
    held->open();
    run(std::move(again));
    EXPECT_EQ(s.error(), dir + " was not moved to the Trash: beta did not say which folders its containers use.");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
}

// The folder is looked at off the window's thread; one that does not answer fails the deletion with
// its name and nothing goes, while the window's thread stays free.
TEST_F(Deletion, AFolderThatDoesNotAnswerFailsTheDeletionAndNothingGoes)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const TeardownPlan shown = planned(dir);
    // Shared: the look finishes on its own after the test has moved on.
    const auto released = std::make_shared<std::atomic_bool>(false);
    s.setFolderLooks(std::chrono::milliseconds(300), [released] {
        while (!*released)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    const int listings = engine->count(Call::Containers, alpha);

    run(s.deleteProject(shown, alpha, true));
    *released = true;

    EXPECT_TRUE(ticked) << "the window's thread went on meanwhile";
    EXPECT_EQ(s.error(), dir + " does not answer.");
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->count(Call::Containers, alpha), listings + 2) << "the plan made again, and the refresh";
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(s.busy());
}
