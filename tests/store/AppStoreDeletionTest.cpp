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

// A home folder and a Trash of the test's own, so nothing here can reach the user's.
class Deletion : public ScriptedStore {
protected:
    QTemporaryDir root;
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};

    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(root.filePath("home")));
        ASSERT_TRUE(QDir().mkpath(root.filePath("data")));
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

    static TeardownPlan plan(const QStringList& containers, const QList<VolumeUse>& volumes,
                             const std::optional<QString>& dir)
    {
        return {"shop", containers, volumes, dir};
    }

    // What the deletion finds when it lists the runtime again: these containers of `project`.
    void listedAgain(const std::optional<Runtime>& runtime, const QStringList& names,
                     const QString& project = "shop")
    {
        QList<Container> containers;
        for (const QString& name : names) {
            Container c = container(name);
            c.labels.insert(Docker::projectLabel, project);
            containers << c;
        }
        listing(runtime, containers);
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
    AppStore& s = storeOn({entry(alpha), entry(beta)}, beta, true);
    s.setContainers({on(container("shop-web", "running", "shop"), alpha), on(container("loose"), alpha),
                     on(container("other"), beta)});
    const QMap<QString, QString> ours{{Docker::projectLabel, "shop"}};
    s.setVolumes({{"shop_data", "local", "/v/1", alpha, ours},
                  {"shop_idle", "local", "/v/2", alpha, ours},
                  {"media", "local", "/v/3", alpha, ours},
                  {"shop_idle", "local", "/v/4", beta, {}}});

    const ComposeProject shop{"shop", dir, {on(container("shop-web", "running", "shop"), alpha)}, 0, alpha};
    const TeardownPlan planned = run(s.teardownPlan(shop));

    EXPECT_EQ(engine->mountsAsked(), (QList<QStringList>{{"shop-web", "loose"}}));
    EXPECT_EQ(engine->composeNamesAsked(), QStringList{"shop"});
    EXPECT_EQ(planned.containers, QStringList{"shop-web"});
    // media is declared external: another project's, never this one's to remove, whatever its label.
    EXPECT_EQ(planned.volumes, (QList<VolumeUse>{{"shop_data", {"loose"}, {}}, {"shop_idle", {}, {}}}));
    EXPECT_EQ(planned.workingDir, dir);
    EXPECT_FALSE(s.busy());
}

TEST_F(Deletion, PlannedSizesAreTheEnginesMeasurementOrAbsent)
{
    engine->setMounts(alpha, {{"shop-web", {"shop_data", "shop_cache", "shop_empty"}}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const Container web = on(container("shop-web", "running", "shop"), alpha);
    s.setContainers({web});
    const QMap<QString, QString> ours{{Docker::projectLabel, "shop"}};
    s.setVolumes({{"shop_data", "local", root.path(), alpha, ours},
                  {"shop_cache", "local", root.path(), alpha, ours},
                  {"shop_empty", "local", root.path(), alpha, ours}});
    const ComposeProject shop{"shop", std::nullopt, {web}, 0, alpha};

    // Before anything was measured there is no size, whatever the mount point's directory weighs.
    TeardownPlan planned = run(s.teardownPlan(shop));
    ASSERT_EQ(planned.volumes.size(), 3);
    for (const VolumeUse& v : planned.volumes)
        EXPECT_EQ(v.size, std::nullopt) << v.name.toStdString();

    DiskUsage usage;
    usage.volumeSize = {{"shop_data", 1'500'000}, {"shop_empty", 0}};
    s.setUsage(usage);
    planned = run(s.teardownPlan(shop));
    EXPECT_EQ(
        planned.volumes,
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
    AppStore& s = storeOn({}, std::nullopt);
    const Container web = container("shop-web", "running", "shop");
    s.setContainers({web, container("loose")});
    s.setVolumes({{"shop_data", "local", "/v/1", std::nullopt, {{Docker::projectLabel, "shop"}}},
                  {"ext", "local", "/v/2", std::nullopt},
                  {"blog_media", "local", "/v/3", std::nullopt, {{Docker::projectLabel, "blog"}}}});

    for (const std::optional<QString>& workingDir : {std::optional<QString>(dir), std::optional<QString>()}) {
        const TeardownPlan planned = run(s.teardownPlan({"shop", workingDir, {web}, 0, std::nullopt}));
        EXPECT_EQ(planned.volumes, QList<VolumeUse>{own});
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
    AppStore& s = storeOn({}, std::nullopt);
    const Container web = container("shop-web", "running", "shop");
    s.setContainers({web});
    const QMap<QString, QString> ours{{Docker::projectLabel, "shop"}};
    s.setVolumes({{"shop_data", "local", "/v/1", std::nullopt, ours},
                  {"shop_idle", "local", "/v/2", std::nullopt, ours}});

    QElapsedTimer clock;
    clock.start();
    const TeardownPlan planned = run(s.teardownPlan({"shop", dir, {web}, 0, std::nullopt}));
    EXPECT_LT(clock.elapsed(), 25000) << "the plan waited for the folder";
    EXPECT_TRUE(engine->composeNamesAsked().isEmpty());
    EXPECT_EQ(planned.volumes, QList<VolumeUse>{own});
    EXPECT_EQ(planned.workingDir, std::nullopt);
    EXPECT_EQ(planned.notes,
              QStringList{dir + " does not answer. Volumes its compose file declares that no "
                                "container mounts are not planned, and the folder is not offered "
                                "for the Trash."});
}

TEST_F(Deletion, WithAComposeFileOnlyComposeTakesTheProjectDownEvenWhenItFails)
{
    const QString dir = folder("checkout");
    const QStringList down{"compose", "-p", "shop", "down", "--remove-orphans"};
    engine->failCommand(down, "compose: no configuration file provided\n");
    listedAgain(alpha, {"shop-db", "shop-web"});
    AppStore& s = storeOn({entry(alpha)}, alpha);

    run(s.deleteProject(plan({"shop-web", "shop-db"}, {own, shared}, dir), alpha, false));

    EXPECT_EQ(engine->commands(), (QList<Command>{{down, "alpha", dir, {}},
                                                  {{"volume", "rm", "shop_data"}, "alpha", {}, {}}}));
    EXPECT_EQ(s.error(), "compose: no configuration file provided");
}

TEST_F(Deletion, WithoutAComposeFileTheContainersAreRemovedInOneCommand)
{
    listedAgain(alpha, {"shop-web", "shop-db"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const std::optional<QString> folders[] = {std::nullopt, folder("plain", false)};
    for (const std::optional<QString>& dir : folders)
        run(s.deleteProject(plan({"shop-web", "shop-db"}, {}, dir), alpha, false));
    // The networks they were attached to are read before they go; attached to none, none goes.
    const QStringList attached{"inspect", "--type", "container", "shop-web", "shop-db",
                               "--format", "{{json .NetworkSettings.Networks}}"};
    EXPECT_EQ(engine->commandArgs(), (QList<QStringList>{attached, {"rm", "-f", "shop-web", "shop-db"}, attached,
                                                         {"rm", "-f", "shop-web", "shop-db"}}));
}

// What compose down would have taken of the networks, and nothing else: of those the containers were
// attached to, the one labelled with the project's name that nobody uses afterwards. The one shared
// with another project's container, one of another project and one without the label stay, as does
// every network the containers were not attached to, whatever its label.
TEST_F(Deletion, OnlyTheSpareNetworksOfTheRemovedContainersThatCarryTheProjectsLabelGo)
{
    listedAgain(alpha, {"shop-web", "shop-db"});
    engine->answer({"inspect", "--type", "container", "shop-web", "shop-db", "--format",
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

    run(s.deleteProject(plan({"shop-web", "shop-db"}, {}, std::nullopt), alpha, false));

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
    listedAgain(alpha, {"shop-web"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    s.windDown();
    run(s.deleteProject(plan({"shop-web"}, {own}, dir), alpha, true));
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
    listedAgain(alpha, {"shop-web"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);

    run(s.deleteProject(plan({"shop-web"}, {cache, own}, dir), alpha, true));

    EXPECT_EQ(s.error(), "down failed\ndocker volume rm exited 1.");
    EXPECT_TRUE(trashed("shop"));
    EXPECT_FALSE(QFile::exists(dir));
    EXPECT_TRUE(s.registry().knows("shop", QStringLiteral("alpha"))) << "kept, to be deleted again";
}

// compose takes an empty -p for the folder's own project and refuses or rewrites other names it does
// not take as given: such a project never goes through compose, whatever its folder holds. Its
// containers go by name, and only the networks labelled with exactly its name.
TEST_F(Deletion, ANameComposeDoesNotTakeAsGivenHasItsContainersRemovedByName)
{
    const QString dir = folder("shop");
    int looks = 0;
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setFolderLooks(std::chrono::seconds(5), [&] { ++looks; });
    for (const QString& name : {QString(), QStringLiteral("Shop Front"), QStringLiteral("shop,front=1")}) {
        const QString web = name + "-web-1";
        listedAgain(alpha, {web}, name);
        ProjectRegistry registry;
        registry.add({name, dir, {"web"}}, QStringLiteral("alpha"));
        s.setRegistry(registry);
        const int before = int(engine->commands().size());

        run(s.deleteProject({name, {web}, {own}, dir}, alpha, false));

        EXPECT_EQ(engine->commandArgs().mid(before),
                  (QList<QStringList>{
                      {"inspect", "--type", "container", web, "--format", "{{json .NetworkSettings.Networks}}"},
                      {"rm", "-f", web},
                      {"volume", "rm", "shop_data"}}))
            << name.toStdString();
        EXPECT_EQ(s.error(), std::nullopt);
        EXPECT_FALSE(s.registry().knows(name, QStringLiteral("alpha"))) << name.toStdString();
    }

    EXPECT_EQ(looks, 0) << "no compose file is looked for";

    // When the removal fails, its failure shows and the project stays.
    ProjectRegistry registry;
    registry.add({"Shop Front", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    listedAgain(alpha, {"Shop Front-web-1"}, "Shop Front");
    engine->failCommand({"rm", "-f", "Shop Front-web-1"}, "permission denied\n");
    run(s.deleteProject({"Shop Front", {"Shop Front-web-1"}, {}, dir}, alpha, false));
    EXPECT_EQ(s.error(), "permission denied");
    EXPECT_TRUE(s.registry().knows("Shop Front", QStringLiteral("alpha")));
}

// The plan of a project with an empty name reads no compose file (compose would read the folder's own
// project) and counts no unlabelled volume as its own.
TEST_F(Deletion, ThePlanOfAnEmptyNameReadsNoComposeFileAndTakesNoUnlabelledVolume)
{
    const QString dir = folder("checkout");
    engine->setComposeProject(dir, ComposeConfig{"checkout", {"web"}, {"checkout_data"}, {}});
    engine->setMounts(alpha, {{"odd", {"checkout_data", "plain", "odd_own"}}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const Container odd = on(container("odd", "running", "x"), alpha);
    Container nameless = odd;
    nameless.labels.insert(Docker::projectLabel, QString());
    s.setContainers({nameless});
    s.setVolumes({{"checkout_data", "local", "/v/1", alpha, {{Docker::projectLabel, "checkout"}}},
                  {"plain", "local", "/v/2", alpha, {}},
                  {"odd_own", "local", "/v/3", alpha, {{Docker::projectLabel, QString()}}}});

    const TeardownPlan planned = run(s.teardownPlan({"", dir, {nameless}, 0, alpha}));

    EXPECT_TRUE(engine->composeNamesAsked().isEmpty());
    EXPECT_EQ(planned.volumes, (QList<VolumeUse>{{"odd_own", {}, {}}}));
}

TEST_F(Deletion, ASuccessClearsAnEarlierErrorAndBusyLastsThroughTheRefresh)
{
    listedAgain(alpha, {"shop-web"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setError(QStringLiteral("an earlier action failed"));
    auto removal = engine->hold(Call::Capture, alpha);

    auto task = s.deleteProject(plan({"shop-web"}, {}, std::nullopt), alpha, false);
    ASSERT_TRUE(eventually([&] { return removal->waitArrived(std::chrono::milliseconds(0)); }));
    auto refresh = engine->hold(Call::Containers, alpha);
    removal->open();
    ASSERT_TRUE(eventually([&] { return engine->count(Call::Containers, alpha) == 2; }));
    EXPECT_TRUE(s.busy());
    EXPECT_EQ(s.error(), std::nullopt);
    refresh->open();
    run(std::move(task));
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(s.usageAt(), AppStore::distantPast()) << "untouched: never measured";
}

TEST_F(Deletion, WithoutARuntimeTheCommandsGoToTheClientsContextAndTheRegistryStays)
{
    listedAgain(std::nullopt, {"shop-web"});
    AppStore& s = storeOn({}, std::nullopt);
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    run(s.deleteProject(plan({"shop-web"}, {}, std::nullopt), std::nullopt, false));
    ASSERT_EQ(engine->commands().size(), 2);
    for (const Command& command : engine->commands())
        EXPECT_EQ(command.runtime, "") << command.args.join(' ').toStdString();
    EXPECT_EQ(s.registry(), registry);
}

TEST_F(Deletion, TheTrashIsAskedOnlyForAFolderThePlanHas)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.deleteProject(plan({}, {}, dir), alpha, false));
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
    listedAgain(alpha, {"shop-web"});
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setRegistry(registry);
    QStringList seen;
    QObject::connect(settings.get(), &Platform::Settings::changed, [&](const QString& key) {
        if (key == AppStore::pendingTrashMovesKey)
            seen << (QFile::exists(dir) ? "noted, folder in place" : "noted, folder gone");
    });
    run(s.deleteProject(plan({"shop-web"}, {}, dir), alpha, true));
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

TEST_F(Deletion, AFolderFromLabelsThatHoldsTheHomeFolderIsRefusedAndReported)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    // Anyone who can start a container can label it with any working directory.
    for (const QString& dir : {root.filePath("home"), root.path()}) {
        run(s.deleteProject(plan({}, {}, dir), alpha, true));
        ASSERT_TRUE(s.error());
        EXPECT_TRUE(s.error()->startsWith("Refused to move " + dir + " to the Trash"))
            << s.error()->toStdString();
        EXPECT_TRUE(QFile::exists(root.filePath("home")));
    }
}

// A container started since the plan was made (compose run, say) would go with compose down unseen:
// the deletion lists the project again first and, when it is no longer the plan's, removes nothing
// and gives back what is there now. A listing that fails removes nothing either.
TEST_F(Deletion, AProjectThatChangedSinceItsPlanLosesNothing)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", dir, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    s.setError(QStringLiteral("an earlier action failed"));
    const TeardownPlan planned = plan({"shop-web"}, {own}, dir);

    for (const QStringList& now : {QStringList{"shop-web", "extra"}, QStringList{}, QStringList{"shop-db"}}) {
        listedAgain(alpha, now);
        const std::optional<QList<Container>> relisted = run(s.deleteProject(planned, alpha, true));
        ASSERT_TRUE(relisted) << now.join(' ').toStdString();
        QStringList sorted = now;
        sorted.sort();
        EXPECT_EQ(names(*relisted), sorted) << "by name, as a project lists them";
    }
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_TRUE(s.registry().knows("shop", QStringLiteral("alpha")));
    EXPECT_EQ(s.error(), "an earlier action failed") << "a plan that no longer holds is no failure";
    EXPECT_FALSE(s.busy());

    engine->failListing(alpha, "alpha is not answering.");
    EXPECT_EQ(run(s.deleteProject(planned, alpha, true)), std::nullopt);
    EXPECT_EQ(s.error(), "alpha is not answering.");
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));

    // The same containers in another order are the plan's.
    listedAgain(alpha, {"shop-web", "shop-db"});
    EXPECT_EQ(run(s.deleteProject(plan({"shop-db", "shop-web"}, {}, dir), alpha, false)), std::nullopt);
    EXPECT_EQ(engine->commandArgs(),
              (QList<QStringList>{{"compose", "-p", "shop", "down", "--remove-orphans"}}));
}

// The folder is looked at off the window's thread; one that does not answer fails the deletion with
// its name and nothing goes, while the window's thread stays free.
TEST_F(Deletion, AFolderThatDoesNotAnswerFailsTheDeletionAndNothingGoes)
{
    const QString dir = folder("shop");
    listedAgain(alpha, {"shop-web"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    // Shared: the look finishes on its own after the test has moved on.
    const auto released = std::make_shared<std::atomic_bool>(false);
    s.setFolderLooks(std::chrono::milliseconds(300), [released] {
        while (!*released)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });

    run(s.deleteProject(plan({"shop-web"}, {own}, dir), alpha, true));
    *released = true;

    EXPECT_TRUE(ticked) << "the window's thread went on meanwhile";
    EXPECT_EQ(s.error(), dir + " does not answer.");
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->count(Call::Containers, alpha), 1) << "only the refresh listed";
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(s.busy());
}
