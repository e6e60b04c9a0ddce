#include "store/DeletionFixture.h"

#include "platform/DiskLook.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using Command = ScriptedEngine::Command;

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
    EXPECT_EQ(plan.volumes, (QList<VolumeUse>{{"shop_data", {"loose"}, {}, {"container loose mounts it"}}, {"shop_idle", {}, {}}}));
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
    EXPECT_EQ(
        plan.volumes,
        (QList<VolumeUse>{{"shop_cache", {}, {}}, {"shop_data", {}, "1.5 MB"}, {"shop_empty", {}, {}}}));
}

// Without a readable file the external volumes are unknown: of the mounted volumes only those compose
// made for this project may go, never one it borrows, another project's, or one not listed at all.
TEST_F(Deletion, APlanWithoutAReadableFileTakesOnlyTheVolumesComposeMadeForTheProject)
{
    const QString dir = folder("broken");
    engine->setComposeProject(dir, std::nullopt);
    engine->setMounts(std::nullopt,
                      {{"shop-web", {"shop_data", "ext", "blog_media", "unlisted"}}, {"loose", {"ext"}}});
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
    TestSupport::HeldLooks looks(dir, std::chrono::milliseconds(60000));
    world(std::nullopt, {member("shop-web", dir)}, {made("shop_data"), made("shop_idle")});
    storeOn({}, std::nullopt);

    QElapsedTimer clock;
    clock.start();
    const TeardownPlan plan = planned(dir, std::nullopt);
    EXPECT_LT(clock.elapsed(), 25000) << "the plan waited for the folder";
    EXPECT_TRUE(engine->composeNamesAsked().isEmpty());
    EXPECT_EQ(plan.volumes, QList<VolumeUse>{own});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes, QStringList{dir + " does not answer. Volumes its compose file declares that no "
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
        {"compose: no configuration file provided\n",
         {},
         {down, {"rm", "-f", "id-shop-db", "id-shop-stray", "id-shop-web"}, {"volume", "rm", "shop_data"}},
         "compose: no configuration file provided"},
        {{}, {}, {down, {"rm", "-f", "id-shop-stray"}, {"volume", "rm", "shop_data"}}, std::nullopt},
        {{},
         "permission denied\n",
         {down, {"rm", "-f", "id-shop-stray"}, {"volume", "rm", "shop_data"}},
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
    const QStringList attached{"inspect",
                               "--type",
                               "container",
                               "id-shop-db",
                               "id-shop-web",
                               "--format",
                               "{{json .NetworkSettings.Networks}}"};
    EXPECT_EQ(engine->commandArgs(), (QList<QStringList>{attached,
                                                         {"rm", "-f", "id-shop-db", "id-shop-web"},
                                                         attached,
                                                         {"rm", "-f", "id-shop-db", "id-shop-web"}}));
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

    EXPECT_EQ(engine->commandArgs(), (QList<QStringList>{down,
                                                         {"inspect", "--type", "container", "id-shop-web",
                                                          "--format", "{{json .NetworkSettings.Networks}}"},
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
    engine->answer(
        {"inspect", "--type", "container", "id-shop-db", "id-shop-web", "--format",
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
        return QStringList{
            "ps", "-a", "-q", "--no-trunc", "--filter", "network=" + id, "--filter", "network=" + name};
    };
    engine->answer(users("n2", "shared"), {0, "c0ffee\n", {}});
    engine->failCommand({"network", "rm", "n1"},
                        "Error response from daemon: network n1 has active endpoints\n");
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
                  (QList<QStringList>{{"inspect", "--type", "container", "id-" + web, "--format",
                                       "{{json .NetworkSettings.Networks}}"},
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
          {made("checkout_data", "checkout"),
           {"plain", "local", "/v/2", std::nullopt, {}},
           made("odd_own", QString())});
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

// A plan made again that could not be made in full (a runtime that did not say who uses the folder)
// removes nothing and says what it could not check, without claiming a change; asked again once the
// runtime answers, the deletion goes through.
TEST_F(Deletion, APlanThatCouldNotBeCheckedAgainRemovesNothingAndClaimsNoChange)
{
    const QString dir = folder("shop");
    const TeardownPlan shown = offeredBesideBeta(dir);
    AppStore& s = *store;

    engine->setBinds(beta, std::nullopt);
    EXPECT_EQ(run(s.deleteProject(shown, alpha, true)), std::nullopt) << "no new plan to confirm";
    EXPECT_EQ(s.error(),
              "Nothing was removed, as the plan could not be checked again: beta did not say which "
              "folders its containers use.");
    EXPECT_TRUE(engine->commands().isEmpty());

    // What did change is still shown to confirm, whatever could not be checked besides.
    world(alpha, {member("shop-web", dir), member("shop-extra", dir)});
    const std::optional<TeardownPlan> grown = run(s.deleteProject(shown, alpha, true));
    ASSERT_TRUE(grown);
    EXPECT_EQ(grown->containers, (QStringList{"shop-extra", "shop-web"}));
    EXPECT_TRUE(engine->commands().isEmpty());

    world(alpha, {member("shop-web", dir)});
    engine->setBinds(beta, Docker::BindMap{});
    EXPECT_EQ(run(s.deleteProject(shown, alpha, true)), std::nullopt);
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_TRUE(trashed("shop"));
}
