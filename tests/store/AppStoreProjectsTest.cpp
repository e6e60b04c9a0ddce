#include "store/StoreFixture.h"

#include "engine/Compose.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using Command = ScriptedEngine::Command;

namespace {

// Project folders on disk, since compose is only asked about folders that hold a compose file.
class Projects : public ScriptedStore {
protected:
    QTemporaryDir folders;

    QString folder(const QString& name, bool withComposeFile = true)
    {
        return projectFolder(folders, name, withComposeFile);
    }

    ComposeProject project(const QString& name, const std::optional<QString>& dir,
                           const std::optional<Runtime>& runtime = std::nullopt)
    {
        return {name, dir, {container("web", "running", name)}, 0, runtime};
    }

    QList<KnownProject> saved(const QString& runtime)
    {
        return ProjectRegistry::load(*settings).byRuntime.value(runtime);
    }
};

} // namespace

TEST_F(Projects, UpNeedsAFolderThatHoldsAComposeFile)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const std::optional<QString> cases[] = {std::nullopt, folders.filePath("gone"), folder("empty", false)};
    for (const std::optional<QString>& dir : cases)
        run(s.up(project("shop", dir)));
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->total(Call::CheckCompose), 0);
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_FALSE(s.busy());
}

TEST_F(Projects, UpRunsInItsFolderAndDownByTheLabelsAloneBothNamingTheProjectOnItsRuntime)
{
    // The folder's name is not the project's: compose must not be left to derive one.
    const QString dir = folder("checkout-2");
    AppStore& s = storeOn({entry(alpha), entry(beta)}, beta);

    run(s.up(project("shop", dir, alpha)));
    run(s.down(project("shop", dir)));
    run(s.down(project("shop", folders.filePath("gone"))));

    ASSERT_EQ(engine->commands().size(), 3);
    EXPECT_EQ(engine->commands()[0], (Command{{"compose", "-p", "shop", "up", "-d"}, "alpha", dir, {}}));
    EXPECT_EQ(engine->commands()[1], (Command{{"compose", "-p", "shop", "down"}, "beta", "/", {}}));
    EXPECT_EQ(engine->commands()[2], engine->commands()[1]) << "a project whose folder is gone goes down too";
}

// compose takes an empty -p for the project of the folder it runs in, and refuses or rewrites other
// names: such a project's Down removes its containers, and nothing else runs compose for it.
TEST_F(Projects, ANameComposeDoesNotTakeRunsNoComposeCommand)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    for (const QString& name : {QString(), QStringLiteral("Shop Front"), QStringLiteral("-shop")}) {
        SCOPED_TRACE(name.toStdString());
        const qsizetype before = engine->commands().size();
        ComposeProject p{name, dir, {container("a"), container("b")}, 0, std::nullopt};
        run(s.up(p));
        EXPECT_EQ(s.error(), Docker::composeRefusalMessage(name));
        s.setError(std::nullopt);
        EXPECT_EQ(run(s.upCommand(p, {"--build"})), std::nullopt);
        EXPECT_EQ(s.error(), Docker::composeRefusalMessage(name));
        run(s.down(p));
        EXPECT_EQ(engine->commands().mid(before),
                  (QList<Command>{{{"rm", "-f", "id-a", "id-b"}, "alpha", std::nullopt, {}}}));
        EXPECT_EQ(engine->total(Call::CheckCompose), 0);
    }
}

TEST_F(Projects, UpMayBuildForLongAndDownHasTheLimitOfAnyAction)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.up(project("shop", dir)));
    run(s.down(project("shop", dir)));
    EXPECT_EQ(engine->runLimits(),
              (QList<std::optional<std::chrono::milliseconds>>{std::nullopt, Docker::removalLimit}));
}

TEST_F(Projects, UpPutsTheChecksWarningInTheNoticeOrClearsIt)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setNotice(QStringLiteral("delta is not answering \u2014 switched to alpha."));

    run(s.up(project("shop", dir)));
    EXPECT_EQ(s.notice(), std::nullopt);

    engine->setCheck(dir, ComposeCheck::valid(QStringLiteral("TAG has no value")));
    run(s.up(project("shop", dir)));
    EXPECT_EQ(s.notice(), "TAG has no value");
    EXPECT_EQ(engine->commands().size(), 2);
}

TEST_F(Projects, AnInvalidComposeFileStopsUpWithItsMessageAndNoRefresh)
{
    const QString dir = folder("shop");
    engine->setCheck(dir, ComposeCheck::invalid(QStringLiteral("services.web: image or build required")));
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.loadUsage()); // nothing to measure, but the attempt is dated
    const QDateTime measured = s.usageAt();
    s.setNotice(QStringLiteral("kept"));
    auto check = engine->hold(Call::CheckCompose);

    auto task = s.up(project("shop", dir));
    EXPECT_TRUE(s.busy()) << "busy from the moment up is called";
    ASSERT_TRUE(eventually([&] { return check->waitArrived(std::chrono::milliseconds(0)); }));
    check->open();
    run(std::move(task));

    EXPECT_FALSE(s.busy());
    EXPECT_EQ(s.error(), "services.web: image or build required");
    EXPECT_EQ(s.notice(), "kept");
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->total(Call::Containers), 0);
    EXPECT_EQ(s.usageAt(), measured);
}

TEST_F(Projects, AddingNeedsARuntime)
{
    const QString dir = folder("shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    AppStore& all = storeOn({entry(alpha), entry(beta)}, alpha, true);
    EXPECT_EQ(run(all.addProject(dir, std::nullopt)), "Choose a runtime to add the project to.");
    AppStore& none = storeOn({}, std::nullopt, false);
    EXPECT_EQ(run(none.addProject(dir, std::nullopt)), "Choose a runtime to add the project to.");
    EXPECT_EQ(engine->total(Call::ComposeProject), 0);
    EXPECT_TRUE(store->registry().byRuntime.isEmpty());
}

TEST_F(Projects, AddingAFolderWithoutAProjectReturnsTheReadersMessage)
{
    const QString dir = folder("nothing", false);
    engine->setComposeProject(dir, std::nullopt, "No compose file in " + dir);
    AppStore& s = storeOn({entry(alpha)}, alpha);
    EXPECT_EQ(run(s.addProject(dir, std::nullopt)), "No compose file in " + dir);
    EXPECT_TRUE(s.registry().byRuntime.isEmpty());
}

TEST_F(Projects, AddingToAnotherRuntimeRemembersItThereAndSwitchesToIt)
{
    const QString dir = folder("shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"db", "web"}, {}, {}});
    listing(alpha, {container("a")});
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    auto listingOfBeta = engine->hold(Call::Containers, beta);

    EXPECT_EQ(run(s.addProject(dir, beta)), std::nullopt) << "returns without waiting for the listing";

    EXPECT_EQ(s.runtime(), beta);
    EXPECT_FALSE(s.showAll());
    EXPECT_TRUE(s.containers().isEmpty());
    EXPECT_EQ(saved("beta"), (QList<KnownProject>{{"shop", dir, {"db", "web"}}}));
    EXPECT_EQ(engine->composeNamesAsked(), QStringList{""}) << "the folder's own project, under no name";
    ASSERT_TRUE(listingOfBeta->waitArrived());
    listingOfBeta->open();
    ASSERT_TRUE(eventually([&] { return names(s.containers()) == QStringList{"b"}; }));
}

TEST_F(Projects, AddingToTheShownRuntimeOrWhileAllAreShownRefreshesInPlace)
{
    const QString dir = folder("shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    listing(alpha, {container("a")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    EXPECT_EQ(run(s.addProject(dir, std::nullopt)), std::nullopt);
    EXPECT_EQ(names(s.containers()), QStringList{"a"});
    EXPECT_EQ(s.runtime(), alpha);

    s.setShowAll(true);
    EXPECT_EQ(run(s.addProject(dir, beta)), std::nullopt);
    EXPECT_TRUE(s.showAll());
    EXPECT_EQ(s.runtime(), alpha);
    EXPECT_EQ(saved("beta").size(), 1);
    EXPECT_EQ(engine->count(Call::Containers, alpha), 2);
}

TEST_F(Projects, AddingComparesWithTheRuntimeShownWhenTheFolderHasBeenRead)
{
    const QString dir = folder("shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    auto read = engine->hold(Call::ComposeProject);
    auto task = s.addProject(dir, beta);
    ASSERT_TRUE(eventually([&] { return read->waitArrived(std::chrono::milliseconds(0)); }));
    s.setRuntime(beta); // the user switched meanwhile
    read->open();
    EXPECT_EQ(run(std::move(task)), std::nullopt);
    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(engine->count(Call::Containers, beta), 1);
}

TEST_F(Projects, RelocatingKeepsTheNameAndTakesTheNewFolderAndServices)
{
    const QString old = folder("shop");
    const QString moved = folder("shop-moved");
    engine->setComposeProject(moved, ComposeConfig{"shop", {"api", "web"}, {}, {}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", old, {"web"}}, QStringLiteral("alpha"));
    registry.add({"blog", old, {"web"}}, QStringLiteral("alpha"));
    s.setRegistry(registry);

    EXPECT_EQ(run(s.relocate(project("shop", old), moved)), std::nullopt);

    EXPECT_EQ(saved("alpha"), (QList<KnownProject>{{"shop", moved, {"api", "web"}}, {"blog", old, {"web"}}}));
    EXPECT_EQ(engine->count(Call::Containers, alpha), 1);
}

TEST_F(Projects, RelocatingToAnotherProjectsFolderChangesNothing)
{
    const QString other = folder("api");
    engine->setComposeProject(other, ComposeConfig{"api", {"web"}, {}, {}});
    AppStore& s = storeOn({entry(alpha)}, alpha);

    EXPECT_EQ(run(s.relocate(project("web", "/srv/web"), other)),
              QStringLiteral("That directory is compose project \u201c"
                             "api\u201d, not \u201cweb\u201d. Up there would create a different project "
                             "\u2014 add it as its own project instead."));
    EXPECT_TRUE(s.registry().byRuntime.isEmpty());
    EXPECT_EQ(engine->total(Call::Containers), 0);
}

TEST_F(Projects, RelocatingNeedsARuntimeWhateverIsShown)
{
    AppStore& s = storeOn({entry(alpha)}, std::nullopt, true);
    EXPECT_EQ(run(s.relocate(project("web", "/srv/web"), folder("web"))), "Choose a runtime first.");
    EXPECT_EQ(engine->total(Call::ComposeProject), 0);
}

// Its containers were made in a folder that is gone: the folder the user locates is the project's, and
// stays so on every refresh while their labels name the old one. A folder of theirs that is there wins.
TEST_F(Projects, AProjectWhoseFolderIsGoneIsLocatedElsewhereAndStaysThere)
{
    const QString gone = folders.filePath("gone");
    const QString kept = folder("kept");
    const QString moved = folder("moved");
    engine->setComposeProject(moved, ComposeConfig{"shop", {"web"}, {}, {}});
    Container web = container("web", "running", "shop");
    web.labels.insert(Docker::workingDirLabel, gone);
    listing(alpha, {web});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.refresh(false));
    ASSERT_EQ(s.projects().size(), 1);
    ASSERT_EQ(s.projects()[0].workingDir, gone);

    EXPECT_EQ(run(s.relocate(s.projects()[0], moved)), std::nullopt);
    run(s.refresh(false));
    ASSERT_EQ(saved("alpha").size(), 1);
    EXPECT_EQ(saved("alpha")[0].workingDir, moved);
    EXPECT_EQ(saved("alpha")[0].movedFrom, gone);
    EXPECT_EQ(s.projects()[0].workingDir, moved);

    web.labels.insert(Docker::workingDirLabel, kept);
    listing(alpha, {web});
    run(s.refresh(false));
    const std::optional<QString> refused = run(s.relocate(s.projects()[0], moved));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(kept)) << refused->toStdString();
    EXPECT_EQ(saved("alpha")[0],
              (KnownProject{"shop", kept, {"web"}, {}, {StartedFrom{{}, kept, {}, {"web"}}}}));
}

// A folder on a mount that stalls: the action returns to the window at once, the window keeps running,
// and the action fails at the limit naming the folder, having run nothing.
TEST_F(Projects, AFolderThatDoesNotAnswerFailsTheActionAtTheLimitWithoutHoldingTheWindow)
{
    const QString dir = folder("shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto stall = std::make_shared<QSemaphore>();
    s.setFolderLooks(std::chrono::milliseconds(300), [stall] { stall->acquire(); });
    const auto release = qScopeGuard([stall] { stall->release(100); });

    const struct {
        const char* action;
        std::function<std::optional<QString>()> act;
    } rows[] = {
        {"up",
         [&] {
             run(s.up(project("shop", dir)));
             return s.error();
         }},
        {"rebuild",
         [&] {
             EXPECT_EQ(run(s.upCommand(project("shop", dir), {"--build"})), std::nullopt);
             return s.error();
         }},
        {"locate", [&] { return run(s.relocate(project("shop", folders.filePath("gone")), dir)); }},
        {"add", [&] { return run(s.addProject(dir, std::nullopt)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.action);
        s.setError(std::nullopt);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(row.act(), dir + " does not answer.");
        EXPECT_GE(clock.elapsed(), 250); // the limit, give or take a coarse timer
        EXPECT_GE(ticks, 10) << "the event loop ran while the folder was looked at";
        EXPECT_FALSE(s.busy());
    }
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->total(Call::ComposeProject), 0);
    EXPECT_EQ(engine->total(Call::CheckCompose), 0);
}

TEST_F(Projects, ASecondUpWhileTheFirstIsUnderWayStartsNothing)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto stall = std::make_shared<QSemaphore>();
    s.setFolderLooks(std::chrono::seconds(20), [stall] { stall->acquire(); });
    const auto release = qScopeGuard([stall] { stall->release(100); });

    auto first = s.up(project("shop", dir));
    run(s.up(project("shop", dir)));
    EXPECT_EQ(run(s.upCommand(project("shop", dir), {"--build"})), std::nullopt);
    stall->release(100);
    run(std::move(first));
    EXPECT_EQ(engine->commands().size(), 1);
    EXPECT_EQ(s.error(), std::nullopt);

    run(s.up(project("shop", dir)));
    EXPECT_EQ(engine->commands().size(), 2) << "once it is done, Up runs again";
}

TEST_F(Projects, ForgettingDropsTheProjectOfItsRuntimeElseOfTheShownOne)
{
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {"web"}}, QStringLiteral("alpha"));
    registry.add({"shop", "/srv/shop", {"web"}}, QStringLiteral("beta"));
    s.setRegistry(registry);

    s.forget({"shop", "/srv/shop", {}, 0, beta});
    EXPECT_TRUE(saved("beta").isEmpty());
    EXPECT_EQ(saved("alpha").size(), 1);
    s.forget({"shop", "/srv/shop", {}, 0, std::nullopt});
    EXPECT_TRUE(saved("alpha").isEmpty());
    EXPECT_EQ(s.registry(), ProjectRegistry::load(*settings));

    // With no runtime anywhere there is nothing to forget it from.
    registry.byRuntime.clear();
    registry.add({"blog", "/srv/blog", {}}, QStringLiteral("alpha"));
    s.setRegistry(registry);
    s.setRuntime(std::nullopt);
    s.forget({"blog", "/srv/blog", {}, 0, std::nullopt});
    EXPECT_EQ(s.registry(), registry);
    EXPECT_EQ(engine->total(Call::Containers), 0) << "no refresh";
}

namespace {

// A container of the project "shop" for `service`, made in `dir` from `files` with `envFiles` (each
// list joined by commas, as compose labels them).
Container madeFrom(const QString& service, const QString& dir, const QString& files,
                   const QString& envFiles = {})
{
    Container c = container(service, "running", "shop");
    c.labels.insert(Docker::workingDirLabel, dir);
    c.labels.insert(Docker::configFilesLabel, files);
    if (!envFiles.isEmpty())
        c.labels.insert(Docker::environmentFileLabel, envFiles);
    return c;
}

void touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

} // namespace

// Up recreates nothing from what it was not made from: the compose files, folder and env files (in their
// order: a later one wins) its containers name, or the registry remembers of a project that is down, and
// containers made from several sets each from their own, with nothing else.
TEST_F(Projects, UpGivesComposeWhatTheProjectWasStartedFrom)
{
    const QString dir = folder("shop");
    const QString compose = dir + "/compose.yaml";
    const QString extra = dir + "/extra.yaml";
    touch(extra);
    touch(dir + "/a.env");
    touch(dir + "/b.env");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const QStringList head{"compose", "-p", "shop", "--project-directory", dir, "-f", compose};
    const QStringList env{"--env-file", dir + "/a.env", "--env-file", dir + "/b.env"};
    const QStringList up{"up", "-d"};
    const struct {
        const char* what;
        ComposeProject project;
        QList<QStringList> commands;
    } rows[] = {
        {"running, with env files",
         {"shop", dir, {madeFrom("web", dir, compose, dir + "/a.env," + dir + "/b.env")}, 0, std::nullopt},
         {head + env + up}},
        {"down, remembered with them",
         {"shop", dir, {}, 0, std::nullopt, {StartedFrom{compose, dir, dir + "/a.env," + dir + "/b.env"}}},
         {head + env + up}},
        {"running, made from two sets",
         {"shop",
          dir,
          {madeFrom("db", dir, compose), madeFrom("web", dir, compose + "," + extra, dir + "/b.env"),
           madeFrom("worker", dir, compose)},
          0,
          std::nullopt},
         {head + up + QStringList{"--no-deps", "db", "worker"},
          head + QStringList{"-f", extra, "--env-file", dir + "/b.env"} + up +
              QStringList{"--no-deps", "web"}}},
        {"down, remembered with two sets",
         {"shop",
          dir,
          {},
          0,
          std::nullopt,
          {StartedFrom{compose + "," + extra, dir, {}, {"web"}}, StartedFrom{compose, dir, {}, {"db"}},
           StartedFrom{compose, dir, dir + "/a.env", {}}}},
         {head + QStringList{"-f", extra} + up + QStringList{"--no-deps", "web"},
          head + up + QStringList{"--no-deps", "db"}}},
    };
    for (const auto& row : rows) {
        const qsizetype before = engine->commands().size();
        run(s.up(row.project));
        EXPECT_EQ(s.error(), std::nullopt) << row.what;
        QList<QStringList> ran;
        for (const Command& command : engine->commands().mid(before))
            ran << command.args;
        EXPECT_EQ(ran, row.commands) << row.what;
    }
    EXPECT_EQ(engine->total(Call::CheckCompose), 6) << "every set is checked";

    // A rebuild runs one command in a sheet, which would recreate some from another set's files.
    s.setError(std::nullopt);
    EXPECT_EQ(run(s.upCommand(rows[2].project, {"--build"})), std::nullopt);
    ASSERT_TRUE(s.error());
    EXPECT_TRUE(s.error()->contains("different sets of compose files")) << s.error()->toStdString();
    EXPECT_EQ(
        run(s.upCommand(rows[0].project, {"--build"})),
        (AppStore::ComposeRun{
            head + env + up + QStringList{"--build"}, dir, {compose}, {dir + "/a.env", dir + "/b.env"}}));
}

// Without an env file it was made with, a container would be recreated with other values: Up runs
// nothing and says which is missing, as for a compose file.
TEST_F(Projects, AMissingEnvFileRefusesUpAndRunsNothing)
{
    const QString dir = folder("shop");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const ComposeProject running{
        "shop", dir, {madeFrom("web", dir, dir + "/compose.yaml", dir + "/b.env")}, 0, std::nullopt};
    const ComposeProject remembered{
        "shop", dir, {}, 0, std::nullopt, {StartedFrom{dir + "/compose.yaml", dir, dir + "/b.env"}}};
    for (const ComposeProject& project : {running, remembered}) {
        s.setError(std::nullopt);
        run(s.up(project));
        EXPECT_EQ(s.error(),
                  "The env file " + dir +
                      "/b.env is missing. The project's containers were made with it, so compose is "
                      "not run without it.");
    }
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_EQ(engine->total(Call::CheckCompose), 0);
}

// What a remembered project's containers bind-mount is asked of the engine once its containers change,
// not on every listing, and stays once they are gone.
TEST_F(Projects, WhatARememberedProjectHadMountedIsAskedOnceAndOutlivesItsContainers)
{
    listing(alpha, {container("web", "running", "shop"), container("loose")});
    engine->setBinds(alpha,
                     Docker::BindMap{{"id-web", {"/srv/shop/data", "/srv/shared"}}, {"id-loose", {"/x"}}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto mounts = [&] { return saved("alpha").value(0).mounts; };
    run(s.refresh(false));
    ASSERT_TRUE(eventually([&] { return mounts() == QStringList{"/srv/shared", "/srv/shop/data"}; }));
    run(s.refresh(false));
    run(s.refresh(false));
    Platform::Pools::drain();
    EXPECT_EQ(engine->total(Call::BindSources), 1) << "its containers did not change";

    listing(alpha, {container("loose")});
    run(s.refresh(false));
    Platform::Pools::drain();
    QCoreApplication::processEvents();
    EXPECT_EQ(mounts(), (QStringList{"/srv/shared", "/srv/shop/data"}));
    EXPECT_EQ(engine->total(Call::BindSources), 1);
}
