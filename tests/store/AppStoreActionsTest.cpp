#include "store/StoreFixture.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <functional>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using Command = ScriptedEngine::Command;

namespace {

class Actions : public ScriptedStore {
protected:
    // beta is shown; the items carry alpha, or no runtime at all.
    AppStore& betaShown()
    {
        listing(beta, {container("b")});
        return storeOn({entry(alpha), entry(beta)}, beta);
    }
};

Container on(Container c, const std::optional<Runtime>& runtime)
{
    c.runtime = runtime;
    return c;
}

DockerImage image(const std::optional<Runtime>& runtime)
{
    return {"sha256:1", "shop/web", "1.0", "5MB", runtime};
}

DockerVolume volume(const std::optional<Runtime>& runtime)
{
    return {"shop_data", "local", "/var/lib/docker/volumes/shop_data/_data", runtime};
}

ComposeProject project(const QList<Container>& containers, const std::optional<Runtime>& runtime)
{
    return {"shop", "/srv/shop", containers, 0, runtime};
}

} // namespace

TEST_F(Actions, EachActionRunsItsCommandOnTheItemsRuntimeElseTheShownOne)
{
    AppStore& s = betaShown();
    const Container web = container("web");
    const Container db = container("db", "exited");
    const struct {
        const char* name;
        std::function<QCoro::Task<>(const std::optional<Runtime>&)> act;
        QStringList args;
    } rows[] = {
        {"restart", [&](const auto& r) { return s.restart(on(web, r)); }, {"restart", "id-web"}},
        {"start", [&](const auto& r) { return s.start(on(web, r)); }, {"start", "id-web"}},
        {"stop", [&](const auto& r) { return s.stop(on(web, r)); }, {"stop", "id-web"}},
        {"pause", [&](const auto& r) { return s.pause(on(web, r)); }, {"pause", "id-web"}},
        {"unpause", [&](const auto& r) { return s.unpause(on(web, r)); }, {"unpause", "id-web"}},
        {"remove container", [&](const auto& r) { return s.remove(on(web, r)); }, {"rm", "-f", "id-web"}},
        {"commit",
         [&](const auto& r) { return s.commit(on(web, r), " \tshop/web:snap\t "); },
         {"commit", "id-web", "shop/web:snap"}},
        {"remove image", [&](const auto& r) { return s.remove(image(r)); }, {"rmi", "shop/web:1.0"}},
        {"tag",
         [&](const auto& r) { return s.tag(image(r), "  shop/web:latest "); },
         {"tag", "shop/web:1.0", "shop/web:latest"}},
        {"remove volume", [&](const auto& r) { return s.remove(volume(r)); }, {"volume", "rm", "shop_data"}},
        {"stop all, whatever their state",
         [&](const auto& r) {
             return s.stopAll(project({web, db}, r));
         },
         {"stop", "id-web", "id-db"}},
        {"start all",
         [&](const auto& r) {
             return s.startAll(project({web, db}, r));
         },
         {"start", "id-web", "id-db"}},
    };
    for (const auto& row : rows) {
        for (const std::optional<Runtime>& own : {std::optional<Runtime>(alpha), std::optional<Runtime>()}) {
            const qsizetype before = engine->commands().size();
            run(row.act(own));
            const QList<Command> ran = engine->commands().mid(before);
            ASSERT_EQ(ran.size(), 1) << row.name;
            EXPECT_EQ(ran[0].args, row.args) << row.name;
            EXPECT_EQ(ran[0].runtime, own ? "alpha" : "beta") << row.name;
            EXPECT_EQ(ran[0].cwd, std::nullopt) << row.name;
            EXPECT_EQ(ran[0].input, std::nullopt) << row.name;
        }
    }
}

TEST_F(Actions, PullTakesTheTrimmedReferenceAndAlwaysTheShownRuntime)
{
    AppStore& s = betaShown();
    run(s.pull("\t shop/web:2.0  "));
    ASSERT_EQ(engine->commands().size(), 1);
    EXPECT_EQ(engine->commands()[0], (Command{{"pull", "--", "shop/web:2.0"}, "beta", {}, {}}));
}

TEST_F(Actions, AReferenceOfBlanksDoesNothingAtAll)
{
    AppStore& s = betaShown();
    QSignalSpy busy(&s, &AppStore::busyChanged);
    run(s.pull(" \t "));
    run(s.tag(image(alpha), "  "));
    run(s.commit(container("web"), "\t"));
    EXPECT_TRUE(engine->commands().isEmpty());
    EXPECT_TRUE(busy.isEmpty());
    EXPECT_EQ(engine->total(Call::Containers), 0);
}

TEST_F(Actions, AnActionRunsOnWhenNobodyAwaitsIt)
{
    AppStore& s = betaShown();
    engine->failCommand({"stop", "id-b"}, "refused");
    // Held until busy has been judged: a command that ends at once would be taken up before the look.
    const std::shared_ptr<Gate> command = engine->hold(Call::Run, beta);
    s.stop(container("b")); // as a button does
    ASSERT_TRUE(command->waitArrived());
    EXPECT_TRUE(s.busy());
    command->open();
    ASSERT_TRUE(eventually([&] { return engine->count(Call::Containers, beta) == 1 && !s.busy(); }));
    EXPECT_EQ(s.error(), "refused");
}

TEST_F(Actions, WithoutAnyRuntimeTheCommandGoesToTheClientsOwnContext)
{
    AppStore& s = storeOn({}, std::nullopt);
    run(s.stop(container("web")));
    ASSERT_EQ(engine->commands().size(), 1);
    EXPECT_EQ(engine->commands()[0].runtime, "");
}

TEST_F(Actions, TheErrorIsTheLastActionsOutcomeAndLeavesTheRefreshBookkeepingAlone)
{
    AppStore& s = betaShown();
    const Container web = container("web");
    engine->failCommand({"stop", "id-web"}, "  Error response from daemon: No such container: id-web\n");

    run(s.stop(web));
    EXPECT_EQ(s.error(), "Error response from daemon: No such container: id-web");

    run(s.start(web));
    EXPECT_EQ(s.error(), std::nullopt);

    // A failed refresh put its text up; a successful action clears it but not what the refresh
    // remembers, and a later good refresh then has nothing of its own to clear.
    s.settle(QStringLiteral("beta: refused"));
    run(s.start(web));
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_EQ(s.refreshError(), std::nullopt) << "the action's own refresh succeeded and settled it";

    s.settle(QStringLiteral("beta: refused"));
    engine->failListing(beta, "beta: refused");
    run(s.start(web));
    EXPECT_EQ(s.error(), "beta: refused") << "the action succeeded, its refresh failed again";
}

TEST_F(Actions, AFailureWithoutAWordStillSaysWhatFailed)
{
    AppStore& s = betaShown();
    engine->failCommand({"volume", "rm", "shop_data"}, " \n");
    run(s.remove(volume(alpha)));
    EXPECT_EQ(s.error(), "docker volume rm failed without saying why.");
}

TEST_F(Actions, BusyLastsWhileTheCommandRunsAndEndsBeforeTheRefreshDoes)
{
    AppStore& s = betaShown();
    auto command = engine->hold(Call::Run, beta);
    auto refresh = engine->hold(Call::Containers, beta);

    auto task = s.stop(container("web"));
    EXPECT_TRUE(s.busy());
    ASSERT_TRUE(command->waitArrived());
    EXPECT_TRUE(s.busy());
    command->open();
    // The refresh that shows the outcome is held, yet busy is already over.
    ASSERT_TRUE(eventually([&] { return engine->count(Call::Containers, beta) == 1; }));
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(s.usageAt(), AppStore::distantPast());
    refresh->open();
    run(std::move(task));
    EXPECT_FALSE(s.busy());
}

// Actions run within the limit of a removal's command; Up, which may build for long, has none (see
// the projects' tests). Hung ones keep no thread from the work others wait on: with sixteen stops
// that do not come back, as many as the other pools have threads, a delete sheet still works out
// its plan and the listings still refresh.
TEST_F(Actions, HungActionsLeaveTheWorkersForPlansAndListings)
{
    AppStore& s = betaShown();
    s.setRemovalLimit(std::chrono::minutes(7));
    std::vector<std::shared_ptr<Gate>> gates;
    std::vector<QCoro::Task<>> stops;
    for (int i = 0; i < 16; ++i)
        gates.push_back(engine->hold(Call::Run, beta));
    for (int i = 0; i < 16; ++i)
        stops.push_back(s.stop(container(QStringLiteral("c%1").arg(i))));
    for (const auto& gate : gates)
        ASSERT_TRUE(gate->waitArrived());

    const int refreshes = engine->count(Call::Containers, beta);
    auto plan = s.teardownPlan(project({container("web")}, beta));
    auto refresh = s.refresh(false);
    EXPECT_TRUE(eventually([&] { return engine->total(Call::VolumeMounts) == 1; }, 5000)) << "the plan waits";
    EXPECT_TRUE(eventually([&] { return engine->count(Call::Containers, beta) > refreshes; }, 5000))
        << "the refresh waits";

    for (const auto& gate : gates)
        gate->open();
    for (auto& stop : stops)
        run(std::move(stop));
    run(std::move(plan));
    run(std::move(refresh));
    const auto limits = engine->runLimits();
    EXPECT_EQ(limits.size(), 16);
    for (const auto& limit : limits)
        EXPECT_EQ(limit, std::chrono::minutes(7));
}

// An up that does not come back (its command has no limit) keeps the busy sign through every other
// kind of action that comes and goes meanwhile on another runtime.
TEST_F(Actions, BusyLastsWhileAnyActionRuns)
{
    QTemporaryDir parent;
    AppStore& s = betaShown();
    auto hung = engine->hold(Call::Run, alpha);
    auto up = s.up({"shop", projectFolder(parent, "shop"), {}, 0, alpha});
    ASSERT_TRUE(eventually([&] { return hung->waitArrived(std::chrono::milliseconds(0)); }));
    ASSERT_TRUE(s.busy());
    QSignalSpy changes(&s, &AppStore::busyChanged);

    const ComposeProject other{"web", projectFolder(parent, "web"), {}, 0, beta};
    ASSERT_TRUE(run(s.upCommand(other, {"--build"}))) << "a rebuild's look";
    run(s.stop(on(container("b"), beta)));
    run(s.up(other));
    run(s.deleteProject({"gone", {}, {}, std::nullopt}, beta, false));
    run(s.reclaim({Reclaimable{Reclaimable::Kind::Container, "id-b", "b", 1, {}, {}, {}, beta}}));
    EXPECT_EQ(engine->commands().size(), 3) << "stop, up and the reclaim's removal ran";
    EXPECT_TRUE(s.busy());
    EXPECT_EQ(changes.count(), 0);

    hung->open();
    run(std::move(up));
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(changes.count(), 1);
}

TEST_F(Actions, TheRefreshAfterAnActionReloadsUsageOnlyWhileTheWindowIsVisible)
{
    AppStore& s = betaShown();
    engine->setUsage(beta, DiskUsage{10, {}, {}, {}, {}});
    run(s.loadUsage());
    ASSERT_EQ(engine->total(Call::Usage), 1);

    run(s.stop(container("b")));
    EXPECT_EQ(engine->total(Call::Usage), 1);
    EXPECT_EQ(s.usageAt(), AppStore::distantPast());

    s.setWindowVisible(true);
    run(s.stop(container("b")));
    // The measurement runs beside the refresh, which does not wait for it.
    EXPECT_TRUE(eventually([&] { return engine->total(Call::Usage) == 2; }));
    EXPECT_TRUE(eventually([&] { return !s.awaitingUsage(); }));
}

TEST_F(Actions, DismissingTellsObserversOnlyWhenThereWasSomethingToDismiss)
{
    AppStore& s = betaShown();
    QSignalSpy errors(&s, &AppStore::errorChanged);
    QSignalSpy notices(&s, &AppStore::noticeChanged);
    s.dismissError();
    s.dismissNotice();
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(notices.isEmpty());

    s.setError(QStringLiteral("boom"));
    s.setNotice(QStringLiteral("fyi"));
    s.dismissError();
    EXPECT_EQ(s.error(), std::nullopt);
    EXPECT_EQ(s.notice(), "fyi");
    s.dismissNotice();
    EXPECT_EQ(s.notice(), std::nullopt);
    EXPECT_EQ(errors.size(), 2);
    EXPECT_EQ(notices.size(), 2);
}

TEST_F(Actions, AnActionWhoseStoreIsGoneMeanwhileEndsQuietly)
{
    AppStore& s = betaShown();
    auto command = engine->hold(Call::Run, beta);
    auto task = s.stop(container("b"));
    ASSERT_TRUE(command->waitArrived());
    store.reset();
    command->open();
    run(std::move(task));
    EXPECT_EQ(engine->total(Call::Containers), 0);
}

TEST(CommandTitle, NamesTheCommandWithoutItsOperands)
{
    const struct {
        QStringList args;
        const char* title;
    } rows[] = {
        {{"stop", "id-web"}, "docker stop"},
        {{"rm", "-f", "a", "b"}, "docker rm"},
        {{"volume", "rm", "shop_data"}, "docker volume rm"},
        {{"compose", "-p", "shop", "down"}, "docker compose down"},
        {{"builder", "prune", "-f"}, "docker builder prune"},
        {{}, "docker"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(commandTitle(row.args), row.title);
    EXPECT_EQ(commandFailure({"rm", "x"}, {0, "x\n", ""}), std::nullopt);
    EXPECT_EQ(commandFailure({"rm", "x"}, {1, "", " \n"}), "docker rm exited 1.");
    EXPECT_EQ(commandFailure({"rm", "x"}, {-1, "", "cannot start\n"}), "cannot start");
}

// What a project could free is not known from the start of an action on it until a measurement
// begun after its end has come back: one taken while the command ran counts for nothing. Another
// project's figures stay good, and an action run outside the store marks the project the same way.
TEST_F(Actions, AProjectsFreeableWaitsForAMeasurementTakenAfterItsAction)
{
    AppStore& s = betaShown();
    engine->setUsage(beta, DiskUsage{10, {}, {}, {}, {}});
    const ComposeProject shop = project({on(container("shop-web", "exited", "shop"), beta)}, beta);
    const ComposeProject other{"other", "/srv/other", {}, 0, beta};
    run(s.loadUsage());
    ASSERT_TRUE(s.freeableKnown(shop));

    QSignalSpy changes(&s, &AppStore::projectChangesChanged);
    auto command = engine->hold(Call::Run, beta);
    auto task = s.startAll(shop);
    ASSERT_TRUE(command->waitArrived());
    EXPECT_FALSE(s.freeableKnown(shop));
    EXPECT_TRUE(s.freeableKnown(other));
    EXPECT_EQ(changes.size(), 1);
    run(s.loadUsage()); // measured half way through
    EXPECT_FALSE(s.freeableKnown(shop));
    command->open();
    run(std::move(task)); // the window is hidden: the refresh after it measures nothing
    EXPECT_FALSE(s.freeableKnown(shop));
    EXPECT_EQ(s.usageAt(), AppStore::distantPast());
    run(s.loadUsage());
    EXPECT_TRUE(s.freeableKnown(shop));
    EXPECT_EQ(changes.size(), 2);

    // With the window shown, the refresh that follows the action starts a measurement, and that is enough.
    s.setWindowVisible(true);
    run(s.stopAll(shop));
    EXPECT_TRUE(eventually([&] { return s.freeableKnown(shop); }));

    s.beginProjectChange("shop", beta);
    run(s.loadUsage());
    EXPECT_FALSE(s.freeableKnown(shop));
    s.endProjectChange("shop", beta);
    EXPECT_FALSE(s.freeableKnown(shop));
    run(s.loadUsage());
    EXPECT_TRUE(s.freeableKnown(shop));
}

// A runtime is measured once at a time: a load while its measurement runs takes that one's figures, and a
// load afresh (after a reclaim) waits it out and measures again; the figures begun last stand.
TEST_F(Actions, ARuntimeIsMeasuredOnceAtATime)
{
    AppStore& s = betaShown();
    engine->setUsage(beta, DiskUsage{10, {}, {}, {}, {}});
    const auto first = engine->hold(Call::Usage, beta);
    auto earlier = s.loadUsage();
    ASSERT_TRUE(first->waitArrived());
    auto joining = s.loadUsage();
    auto afresh = s.loadUsage(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(engine->count(Call::Usage, beta), 1);

    const auto second = engine->hold(Call::Usage, beta);
    first->open();
    run(std::move(earlier));
    run(std::move(joining));
    EXPECT_EQ(s.usage()->total, 10);
    ASSERT_TRUE(second->waitArrived());
    engine->setUsage(beta, DiskUsage{20, {}, {}, {}, {}});
    second->open();
    run(std::move(afresh));
    EXPECT_EQ(s.usage()->total, 20);
    EXPECT_EQ(engine->count(Call::Usage, beta), 2);

    // Another runtime shown while one hangs is measured at once: only the same runtime waits.
    const auto hung = engine->hold(Call::Usage, beta);
    auto hanging = s.loadUsage();
    ASSERT_TRUE(hung->waitArrived());
    engine->setUsage(alpha, DiskUsage{30, {}, {}, {}, {}});
    run(s.select("alpha"));
    run(s.loadUsage());
    EXPECT_EQ(s.usage()->total, 30);
    hung->open();
    run(std::move(hanging));
    EXPECT_EQ(s.usage()->total, 30) << "beta's figures came back after the switch";
}
