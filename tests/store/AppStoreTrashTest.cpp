#include "store/DeletionFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;

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
    const QJsonArray left =
        QJsonDocument::fromJson(settings->string(AppStore::pendingTrashMovesKey).toUtf8()).array();
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
    const std::optional<TeardownPlan> again =
        run(s.deleteProject(plan({"shop-web"}, {}, root.filePath("home")), alpha, true));
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
        engine->setVolumeEvents(alpha, QMap<QString, QString>{});
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
        {"added",
         [&] {
             world(alpha, {member("shop-web", dir), member("extra", dir)}, {made("shop_data")});
         },
         {"extra", "shop-web"},
         {"shop_data"},
         true},
        {"removed", [&] { world(alpha, {}, {made("shop_data")}); }, {}, {"shop_data"}, true},
        {"made anew", [&] { world(alpha, {again}, {made("shop_data")}); }, {"shop-web"}, {"shop_data"}, true},
        {"volume made anew",
         [&] {
             engine->setCreation(alpha, {{"shop_data", "2026-05-05T05:05:05Z"}});
             engine->setVolumeEvents(alpha, QMap<QString, QString>{{"shop_data", "create"}});
         },
         {"shop-web"},
         {"shop_data"},
         true},
        {"declared external",
         [&] {
             engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {"shop_data"}, {"shop_data"}});
         },
         {"shop-web"},
         {},
         true},
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
    EXPECT_EQ(engine->commandArgs().first(),
              (QStringList{"compose", "-p", "shop", "down", "--remove-orphans"}));
}

// The folder is looked at once more just before it goes: a container that started using it meanwhile,
// on any runtime, keeps it where it is, and the failure says who.
TEST_F(Deletion, AFolderSomeoneStartedUsingDuringTheDeletionStays)
{
    const QString dir = folder("shop");
    const TeardownPlan shown = offeredBesideBeta(dir);
    AppStore& s = *store;
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
    EXPECT_EQ(s.error(),
              dir + " was not moved to the Trash: beta did not say which folders its containers use.");
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

// compose records the folder it was started from as written: through a link, the Trash takes the
// folder the files are in, never the link, which stays and is named; the project is forgotten.
TEST_F(Deletion, AFolderReachedThroughALinkGoesWholeAndTheLinkStays)
{
    const QString real = folder("real");
    ASSERT_TRUE(QFile::link(real, root.filePath("lnk")));
    const QString lnk = root.filePath("lnk");
    world(alpha, {member("shop-web", lnk)});
    engine->setBinds(alpha, Docker::BindMap{{"id-shop-web", {lnk + "/data"}}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", lnk, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);

    const TeardownPlan shown = planned(lnk);
    EXPECT_EQ(shown.workingDir, real);
    EXPECT_EQ(shown.folderLink, lnk);
    EXPECT_EQ(shown.folderBinds, QStringList{real + "/data"});
    run(s.deleteProject(shown, alpha, true));

    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_TRUE(trashed("real/compose.yaml"));
    EXPECT_FALSE(QFileInfo::exists(real));
    EXPECT_TRUE(QFileInfo(lnk).isSymLink()) << "the link stays where it was";
    EXPECT_FALSE(s.registry().knows("shop", QStringLiteral("alpha")));
}

// What uses the folder is looked at on every runtime; one that cannot say keeps the folder out of the
// offer, however it fails to.
TEST_F(Deletion, ARuntimeThatCannotSayWhoUsesTheFolderKeepsItOutOfTheOffer)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const struct {
        std::function<void()> silence;
        QString unanswered; // what the plan says of it
    } rows[] = {
        {[&] { engine->failListing(beta, "beta is not answering."); },
         "The engine did not answer: the list of containers on beta (beta is not answering)."},
        {[&] { engine->setBinds(beta, std::nullopt); },
         "The engine did not answer: the folders the containers bind on beta."},
    };
    for (const auto& [silence, unanswered] : rows) {
        world(alpha, {member("shop-web", dir)});
        world(beta, {container("other")});
        engine->setBinds(beta, Docker::BindMap{});
        silence();
        const TeardownPlan shown = planned(dir);
        EXPECT_EQ(shown.workingDir, std::nullopt);
        EXPECT_EQ(shown.notes,
                  (QStringList{unanswered, dir + " is not offered for the Trash: beta did not say which "
                                                 "folders its containers use."}));
    }
    EXPECT_EQ(s.error(), std::nullopt);
}

// The runtimes the client did not list were not asked who uses the folder either: it is not offered,
// and the plan says which question went unanswered.
TEST_F(Deletion, ARuntimeListThatFailedKeepsTheFolderOutOfTheOffer)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir)});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const TeardownPlan offered = planned(dir);
    EXPECT_EQ(offered.workingDir, dir);

    engine->failDiscovery("The runtime is not answering.");
    run(s.loadContexts());
    const TeardownPlan shown = planned(dir);
    EXPECT_EQ(shown.workingDir, std::nullopt);
    EXPECT_EQ(shown.notes,
              (QStringList{"The engine did not answer: the list of contexts (The runtime is not answering).",
                           dir + " is not offered for the Trash: not every runtime could be asked who uses it."}));

    // The list failing between the plan and the deletion: the folder offered then does not go.
    run(s.deleteProject(offered, alpha, true));
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_FALSE(trashed("shop"));
    ASSERT_TRUE(s.error());
    EXPECT_TRUE(s.error()->contains("not every runtime could be asked")) << s.error()->toStdString();
}

// A volume of the project that another container mounts too stays, and so does the folder it keeps
// its data in.
TEST_F(Deletion, AKeptVolumeOfTheProjectKeepsTheFolderItsDataIsIn)
{
    const QString dir = folder("shop");
    world(alpha, {member("shop-web", dir), container("blog-web", "running", "blog")}, {made("shop_data")});
    engine->setMounts(alpha, {{"shop-web", {"shop_data"}}, {"blog-web", {"shop_data"}}});
    engine->setVolumeFolders(alpha, {{"shop_data", {dir + "/data"}}});
    storeOn({entry(alpha)}, alpha);

    const TeardownPlan shown = planned(dir);
    EXPECT_EQ(names(shown.kept()), QStringList{"shop_data"});
    EXPECT_EQ(shown.workingDir, std::nullopt);
    EXPECT_EQ(shown.notes,
              QStringList{dir + " is not offered for the Trash: used by volume shop_data of shop."});
}

// The folder is looked at once more just before it moves: a volume of the plan that could not be
// removed keeps its data there, and a folder put in the plan's one's place is not the plan's. Either
// keeps every folder where it is.
TEST_F(Deletion, TheLastLookBeforeTheMoveSeesTheVolumesLeftAndTheFolderItself)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto then = [&] {
        world(alpha, {member("shop-web", dir)}, {made("shop_data")});
        engine->setMounts(alpha, {{"shop-web", {"shop_data"}}});
        engine->setVolumeFolders(alpha, {{"shop_data", {dir + "/data"}}});
    };

    then();
    engine->failCommand({"volume", "rm", "shop_data"}, "volume is in use");
    run(s.deleteProject(planned(dir), alpha, true));
    EXPECT_EQ(s.error(),
              "volume is in use\n" + dir + " was not moved to the Trash: used by volume shop_data of shop.");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));

    then();
    engine->answer({"volume", "rm", "shop_data"}, {});
    engine->setVolumeFolders(alpha, {});
    const TeardownPlan shown = planned(dir);
    ASSERT_EQ(shown.workingDir, dir);
    auto down = engine->hold(Call::Capture, alpha);
    auto task = s.deleteProject(shown, alpha, true);
    ASSERT_TRUE(eventually([&] { return down->waitArrived(std::chrono::milliseconds(0)); }));
    ASSERT_TRUE(QDir().rename(dir, dir + "-renamed"));
    folder("shop");
    down->open();
    run(std::move(task));
    EXPECT_EQ(s.error(), dir + " was not moved to the Trash: it is not the folder the plan showed.");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_TRUE(QFile::exists(dir + "-renamed/compose.yaml"));
    EXPECT_TRUE(QDir(root.filePath("data/Trash/files")).isEmpty());
}
