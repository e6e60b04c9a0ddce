#include "store/StoreFixture.h"

#include <QSignalSpy>

#include <functional>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;

namespace {

const std::optional<QString> none;
const QString restOfNotice = QStringLiteral(" not answering \u2014 showing the rest.");

class Refresh : public ScriptedStore {
protected:
    int writesOf(const QSignalSpy& changes, const QString& key)
    {
        return int(std::count_if(changes.cbegin(), changes.cend(), [&](const QList<QVariant>& args) {
            return args.value(0).toString() == key;
        }));
    }
};

class Discovery : public ScriptedStore {};
class ShowAndSelect : public ScriptedStore {};

} // namespace

TEST_F(Refresh, ListsTheReachableRuntimesInListOrderMarkedWithTheirRuntime)
{
    engine->setListing(alpha, {{container("a1"), container("a2")},
                               {{"sha256:1", "box", "1", "1MB", {}}},
                               {{"alpha-data", "local", "/v/a", {}}}});
    engine->setListing(delta, {{container("g1")}, {}, {{"delta-data", "local", "/v/g", {}}}});
    AppStore& s = storeOn({entry(delta), entry(beta, false), entry(alpha)}, beta, true);

    run(s.refresh(false));

    EXPECT_EQ(names(s.containers()), (QStringList{"g1", "a1", "a2"}));
    EXPECT_EQ(s.containers()[0].runtime, delta);
    EXPECT_EQ(s.containers()[1].runtime, alpha);
    ASSERT_EQ(s.images().size(), 1);
    EXPECT_EQ(s.images()[0].runtime, alpha);
    ASSERT_EQ(s.volumes().size(), 2);
    EXPECT_EQ(s.volumes()[0].name, "delta-data");
    EXPECT_EQ(engine->count(Call::Containers, beta), 0);
}

TEST_F(Refresh, AFailingRuntimeIsNotAskedForItsOtherListings)
{
    engine->failListing(alpha, "alpha: refused");
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.refresh(false));
    EXPECT_EQ(engine->count(Call::Containers, alpha), 1);
    EXPECT_EQ(engine->count(Call::Images, alpha), 0);
    EXPECT_EQ(engine->count(Call::Volumes, alpha), 0);
}

TEST_F(Refresh, ErrorAndNoticeFollowEachEventInTurn)
{
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha);
    const auto answerAll = [&] {
        listing(alpha, {container("a")});
        listing(beta, {container("b")});
        listing(delta, {container("g")});
    };
    answerAll();
    const auto refresh = [&] {
        run(s.refresh(false));
        drain(s);
    };

    const struct {
        const char* event;
        std::function<void()> happen;
        std::optional<QString> error;
        std::optional<QString> notice;
        QStringList unanswered;
        QStringList containers;
    } steps[] = {
        {"a first refresh", refresh, none, none, {}, {"a"}},
        {"the shown runtime fails but its socket is still there",
         [&] {
             engine->failListing(alpha, "alpha: connection refused");
             refresh();
         },
         "alpha: connection refused",
         none,
         {},
         {"a"}},
        {"an action fails meanwhile",
         [&] { s.setError("restart failed"); },
         "restart failed",
         none,
         {},
         {"a"}},
        {"a good refresh leaves an action's error",
         [&] {
             answerAll();
             refresh();
         },
         "restart failed",
         none,
         {},
         {"a"}},
        {"the user dismisses it", [&] { s.setError(none); }, none, none, {}, {"a"}},
        {"a failed refresh",
         [&] {
             engine->failListing(alpha, "alpha: gone");
             refresh();
         },
         "alpha: gone",
         none,
         {},
         {"a"}},
        {"a good refresh clears the error of a failed one",
         [&] {
             answerAll();
             refresh();
         },
         none,
         none,
         {},
         {"a"}},
        {"a form fails, then all runtimes are shown",
         [&] {
             s.setError("form failed");
             run(s.show(true));
             drain(s);
         },
         "form failed",
         none,
         {},
         {"a", "b", "g"}},
        {"one of three stops answering",
         [&] {
             engine->failListing(beta, "beta: down");
             refresh();
         },
         "form failed",
         "beta is" + restOfNotice,
         {"beta"},
         {"a", "g"}},
        {"the notice is dismissed and the runtime is still silent",
         [&] {
             s.setNotice(none);
             refresh();
         },
         "form failed",
         none,
         {"beta"},
         {"a", "g"}},
        {"a second one stops answering",
         [&] {
             engine->failListing(alpha, "alpha: down");
             refresh();
         },
         "form failed",
         "alpha, beta are" + restOfNotice,
         {"alpha", "beta"},
         {"g"}},
        {"the last one fails too: the refresh fails with its text",
         [&] {
             engine->failListing(delta, "delta: down");
             refresh();
         },
         "delta: down",
         "alpha, beta are" + restOfNotice,
         {"alpha", "beta"},
         {"g"}},
        {"all answer again",
         [&] {
             answerAll();
             refresh();
         },
         none,
         "alpha, beta are" + restOfNotice,
         {},
         {"a", "b", "g"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.event);
        step.happen();
        EXPECT_EQ(s.error(), step.error);
        EXPECT_EQ(s.notice(), step.notice);
        EXPECT_EQ(s.unanswered(), step.unanswered);
        EXPECT_EQ(names(s.containers()), step.containers);
    }
}

TEST_F(Refresh, HandsOverWhenTheShownRuntimeFailsAndItsSocketIsGone)
{
    AppStore& s = alphaWithFigures();
    s.settle("an earlier refresh failed");

    engine->failListing(alpha, "alpha: no such file or directory");
    engine->setUnreachable(endpointOf(alpha));
    run(s.refresh(false));

    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(s.notice(), QStringLiteral("alpha is not answering \u2014 switched to beta."));
    EXPECT_EQ(s.error(), none);
    EXPECT_EQ(names(s.containers()), (QStringList{"b"}));
    EXPECT_FALSE(s.runtimes()[0].reachable);
    EXPECT_EQ(s.usage(), std::nullopt);
    EXPECT_EQ(s.usageAt(), AppStore::distantPast());
    EXPECT_EQ(s.stats(), std::nullopt);
    EXPECT_TRUE(s.addresses().isEmpty());
}

TEST_F(Refresh, HandsOverOnlyOncePerChain)
{
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha);
    engine->failListing(alpha, "alpha: gone");
    engine->setUnreachable(endpointOf(alpha));
    engine->failListing(beta, "beta: refused");
    const auto followUp = engine->hold(Call::Containers, beta);

    auto chain = s.refresh(false);
    ASSERT_TRUE(eventually([&] { return s.runtime() == beta; }));
    // Now that beta is unreachable as well, a second hand-over would move on to delta.
    engine->setUnreachable(endpointOf(beta));
    followUp->open();
    run(std::move(chain));

    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(s.error(), "beta: refused");
    EXPECT_EQ(s.notice(), QStringLiteral("alpha is not answering \u2014 switched to beta."));
    EXPECT_EQ(engine->count(Call::Containers, delta), 0);
}

TEST_F(Refresh, AFailureWithoutAWordStillSaysWhichRuntimeFailed)
{
    const struct {
        std::optional<Runtime> shown;
        QString error;
    } rows[] = {{alpha, "alpha is not answering."}, {std::nullopt, "The runtime is not answering."}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error.toStdString());
        engine->failListing(row.shown, " \n");
        AppStore& s = storeOn({entry(alpha)}, row.shown);
        run(s.refresh(false));
        EXPECT_EQ(s.error(), row.error);
    }
}

TEST_F(Refresh, AResultForARuntimeNoLongerShownChangesNothing)
{
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    engine->failListing(alpha, "alpha: late failure");
    engine->setUnreachable(endpointOf(alpha));
    const auto gate = engine->hold(Call::Containers, alpha);
    auto late = s.refresh(false);
    ASSERT_TRUE(gate->waitArrived());
    run(s.select("beta"));
    ASSERT_EQ(names(s.containers()), (QStringList{"b"}));

    QSignalSpy containers(&s, &AppStore::containersChanged);
    QSignalSpy runtimes(&s, &AppStore::runtimesChanged);
    QSignalSpy error(&s, &AppStore::errorChanged);
    QSignalSpy notice(&s, &AppStore::noticeChanged);
    QSignalSpy runtime(&s, &AppStore::runtimeChanged);
    QSignalSpy registry(&s, &AppStore::registryChanged);
    gate->open();
    run(std::move(late));

    EXPECT_EQ(containers.count() + runtimes.count() + error.count() + notice.count() + runtime.count() +
                  registry.count(),
              0);
}

TEST_F(Refresh, WhileAllAreShownAChangeOfTheSelectedRuntimeAloneKeepsTheResult)
{
    listing(alpha, {container("a")});
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    const auto gate = engine->hold(Call::Containers, alpha);
    auto pending = s.refresh(false);
    s.setRuntime(beta);
    gate->open();
    run(std::move(pending));
    EXPECT_EQ(names(s.containers()), (QStringList{"a", "b"}));
}

TEST_F(Refresh, SwitchingBetweenAllAndOneDropsTheResultInFlight)
{
    listing(alpha, {container("a")});
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const auto gate = engine->hold(Call::Containers, alpha);
    auto pending = s.refresh(false);
    ASSERT_TRUE(gate->waitArrived());
    // The listing of alpha that showing all asks for begins once the one under way has ended.
    auto shown = s.show(true);
    gate->open();
    run(std::move(pending));
    run(std::move(shown));
    EXPECT_EQ(names(s.containers()), (QStringList{"a", "b"}));
    EXPECT_EQ(engine->count(Call::Containers, alpha), 2);
}

// However often a refresh is asked for, a runtime is listed once at a time: what is asked while a listing
// runs is one more listing, begun when it ends, which every later ask joins.
TEST_F(Refresh, ARuntimeIsListedOnceAtATimeAndAsksMeanwhileFoldIntoOneMore)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto first = engine->hold(Call::Containers, alpha);
    const auto second = engine->hold(Call::Containers, alpha);
    auto asked = s.refresh(false);
    ASSERT_TRUE(first->waitArrived());
    std::vector<QCoro::Task<>> meanwhile;
    for (int ask = 0; ask < 5; ++ask)
        meanwhile.push_back(s.refresh(false));
    EXPECT_EQ(engine->count(Call::Containers, alpha), 1);

    listing(alpha, {container("older")}); // what the held call reads when it goes on
    first->open();
    run(std::move(asked));
    EXPECT_EQ(names(s.containers()), (QStringList{"older"}));
    ASSERT_TRUE(second->waitArrived());
    listing(alpha, {container("newer")});
    second->open();
    for (QCoro::Task<>& task : meanwhile)
        run(std::move(task));
    EXPECT_EQ(names(s.containers()), (QStringList{"newer"}));
    EXPECT_EQ(engine->count(Call::Containers, alpha), 2);
}

TEST_F(Refresh, RemembersProjectsAndWritesTheRegistryOnlyWhenItChanges)
{
    listing(alpha, {container("web", "running", "shop"), container("loose")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    QSignalSpy changes(settings.get(), &Platform::Settings::changed);

    run(s.refresh(false));
    ProjectRegistry expected;
    expected.byRuntime.insert("alpha",
                              {{"shop", "/srv/shop", {"web"}, {}, {StartedFrom{{}, "/srv/shop", {}, {"web"}}}}});
    expected.byRuntime.insert("beta", {}); // a runtime without projects is known to have none
    EXPECT_EQ(s.registry(), expected);
    EXPECT_EQ(writesOf(changes, ProjectRegistry::settingsKey), 2) << "once for each runtime new to it";
    EXPECT_EQ(ProjectRegistry::load(*settings), expected);

    run(s.refresh(false));
    run(s.refresh(false));
    EXPECT_EQ(writesOf(changes, ProjectRegistry::settingsKey), 2);

    listing(alpha, {container("web", "running", "shop"), container("worker", "exited", "shop")});
    run(s.refresh(false));
    EXPECT_EQ(writesOf(changes, ProjectRegistry::settingsKey), 3);
    EXPECT_EQ(ProjectRegistry::load(*settings).byRuntime.value("alpha").value(0).services,
              (QStringList{"web", "worker"}));
}

TEST_F(Refresh, ReloadsDiskUsageAtMostEveryThirtySecondsWhileTheWindowIsVisible)
{
    engine->setUsage(alpha, DiskUsage{1000, {}, {}, {}, {}});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    // The refresh starts the measurement and does not wait for it.
    const auto refreshes = [&](int loads) {
        run(s.refresh(false));
        Platform::Pools::measuring()->waitForDone();
        return eventually([&] { return !s.awaitingUsage(); }) && engine->count(Call::Usage, alpha) == loads;
    };

    EXPECT_TRUE(refreshes(0)) << "hidden window";
    s.setWindowVisible(true);
    EXPECT_TRUE(refreshes(1)) << "shown, never measured";
    ASSERT_TRUE(eventually([&] { return s.usage().has_value(); }));
    EXPECT_EQ(s.usage()->total, 1000);
    EXPECT_EQ(s.usageAt(), clock.now());
    EXPECT_TRUE(refreshes(1)) << "just measured";
    clock.advance(std::chrono::seconds(30));
    EXPECT_TRUE(refreshes(1)) << "exactly thirty seconds later";
    clock.advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(refreshes(2)) << "more than thirty seconds later";
    clock.advance(-std::chrono::hours(1));
    EXPECT_TRUE(refreshes(3)) << "the clock was put back";
    s.setWindowVisible(false);
    clock.advance(std::chrono::minutes(5));
    EXPECT_TRUE(refreshes(3)) << "hidden again";
}

TEST_F(Discovery, ShowsTheRuntimeDiscoveryPrefersWhenNoneIsShown)
{
    engine->setDiscovery({{entry(alpha), entry(beta, true, true)}, beta});
    listing(beta, {container("b")});
    AppStore& s = makeStore();
    run(s.loadContexts());
    EXPECT_EQ(s.runtimes(), (QList<RuntimeEntry>{entry(alpha), entry(beta, true, true)}));
    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(names(s.containers()), (QStringList{"b"}));
    EXPECT_EQ(s.notice(), none);
}

TEST_F(Discovery, HandsOverFromARuntimeThatIsGoneOrUnreachable)
{
    const struct {
        const char* what;
        QList<RuntimeEntry> found;
    } rows[] = {
        {"unreachable", {entry(alpha, false), entry(beta)}},
        {"no longer listed", {entry(beta)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        engine->setDiscovery({row.found, beta});
        AppStore& s = storeOn({}, alpha);
        run(s.loadContexts());
        EXPECT_EQ(s.runtime(), beta);
        EXPECT_EQ(s.notice(), QStringLiteral("alpha is not answering \u2014 switched to beta."));
        store.reset();
    }
}

TEST_F(Discovery, LeavesTheSelectionAloneWhileAllAreShown)
{
    engine->setDiscovery({{entry(alpha, false), entry(beta)}, beta});
    engine->setUnreachable(endpointOf(alpha));
    listing(beta, {container("b")});
    AppStore& s = storeOn({}, alpha, true);
    run(s.loadContexts());
    EXPECT_EQ(s.runtime(), alpha);
    EXPECT_EQ(s.notice(), "alpha is" + restOfNotice) << "never asked, its socket gone";
    EXPECT_EQ(names(s.containers()), (QStringList{"b"}));
}

// All runtimes shown with one left, the others' contexts removed, is that runtime shown on its own:
// the setting says so for the next start. A failed discovery, which lists none, decides nothing.
TEST_F(Discovery, AllRuntimesWithOneLeftShowThatOne)
{
    listing(alpha, {container("a")});
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, beta, true);
    settings->setValue(AppStore::showAllKey, true);

    engine->failDiscovery("docker: cannot read the contexts");
    run(s.loadContexts());
    EXPECT_TRUE(s.showAll());

    engine->setDiscovery({{entry(alpha, true, true)}, alpha});
    run(s.loadContexts());
    EXPECT_FALSE(s.showAll());
    EXPECT_EQ(s.runtime(), alpha);
    EXPECT_EQ(s.selection(), "alpha");
    EXPECT_EQ(names(s.containers()), (QStringList{"a"}));
    EXPECT_FALSE(settings->boolean(AppStore::showAllKey, true));
    EXPECT_FALSE(makeStore().showAll()) << "read back by the next store";

    // Started again with the setting of an earlier version and one runtime: the same.
    settings->setValue(AppStore::showAllKey, true);
    AppStore& again = makeStore();
    ASSERT_TRUE(again.showAll());
    run(again.loadContexts());
    EXPECT_FALSE(again.showAll());
    EXPECT_EQ(again.runtime(), alpha);
}

TEST_F(Discovery, AFailedDiscoveryLeavesNoRuntimesAndTheRefreshReportsItsOwnFailure)
{
    engine->failDiscovery("docker: command not found");
    engine->failListing(std::nullopt, "cannot run docker: No such file or directory");
    AppStore& s = storeOn({entry(alpha)}, std::nullopt);
    run(s.loadContexts());
    EXPECT_TRUE(s.runtimes().isEmpty());
    EXPECT_EQ(s.runtime(), std::nullopt);
    EXPECT_EQ(s.error(), "cannot run docker: No such file or directory");
    EXPECT_TRUE(s.containers().isEmpty());
}

TEST_F(ShowAndSelect, ShowingAllSavesTheSettingAndStartsAfresh)
{
    AppStore& s = alphaWithFigures();
    s.setError("kept");
    s.setNotice("kept too");

    // Each runtime's listing shows as it comes: both are held, to see what showing all does first.
    const auto gate = engine->hold(Call::Containers, alpha);
    const auto other = engine->hold(Call::Containers, beta);
    auto shown = s.show(true);
    EXPECT_TRUE(settings->boolean(AppStore::showAllKey, false));
    EXPECT_TRUE(s.showAll());
    EXPECT_TRUE(s.containers().isEmpty());
    EXPECT_EQ(s.usage(), std::nullopt);
    EXPECT_EQ(s.usageAt(), AppStore::distantPast());
    EXPECT_EQ(s.stats(), std::nullopt);
    EXPECT_TRUE(s.addresses().isEmpty());
    gate->open();
    other->open();
    run(std::move(shown));

    EXPECT_EQ(names(s.containers()), (QStringList{"a", "b"}));
    EXPECT_EQ(s.runtime(), alpha);
    EXPECT_EQ(s.error(), "kept");
    EXPECT_EQ(s.notice(), "kept too");
    EXPECT_TRUE(makeStore().showAll()) << "read back by the next store";
}

TEST_F(ShowAndSelect, ThePickerChoosesARuntimeOrAllOfThem)
{
    listing(alpha, {container("a")});
    listing(beta, {container("b")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);

    run(s.select("beta"));
    EXPECT_EQ(s.runtime(), beta);
    EXPECT_FALSE(s.showAll());
    EXPECT_EQ(s.selection(), "beta");
    EXPECT_EQ(names(s.containers()), (QStringList{"b"}));

    run(s.select(QString(QChar(0)) + "all"));
    EXPECT_TRUE(s.showAll());
    EXPECT_EQ(s.selection(), AppStore::allRuntimesTag());
    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(names(s.containers()), (QStringList{"a", "b"}));

    const int listed = engine->total(Call::Containers);
    run(s.select("unknown"));
    EXPECT_TRUE(s.showAll());
    EXPECT_EQ(engine->total(Call::Containers), listed);

    run(s.select("beta"));
    run(s.select("beta")); // the same runtime again still refreshes
    EXPECT_EQ(engine->total(Call::Containers), listed + 2);
}

TEST_F(ShowAndSelect, AllWithNothingReachableIsAnEmptySuccess)
{
    engine->setUnreachable(endpointOf(alpha));
    AppStore& s = storeOn({entry(alpha, false)}, alpha);
    s.settle("alpha: refused");
    run(s.show(true));
    EXPECT_TRUE(s.containers().isEmpty());
    EXPECT_EQ(s.error(), none);
    EXPECT_EQ(s.notice(), "alpha is not answering.") << "there is no rest to show";
    EXPECT_EQ(engine->total(Call::Containers), 0);
}

// With all shown, a runtime whose socket is gone is never asked and named at once, in list order
// among those that did not answer; one whose socket comes back and answers is no longer named.
TEST_F(ShowAndSelect, AllShownNamesTheRuntimesWhoseSocketIsGone)
{
    listing(alpha, {container("a")});
    engine->failListing(delta, "delta is not answering.");
    engine->setUnreachable(endpointOf(beta));
    AppStore& s = storeOn({entry(alpha), entry(beta, false), entry(delta)}, alpha);
    run(s.show(true));
    drain(s);
    EXPECT_EQ(s.unanswered(), (QStringList{"beta", "delta"}));
    EXPECT_EQ(s.notice(), "beta, delta are" + restOfNotice);
    EXPECT_EQ(names(s.containers()), (QStringList{"a"}));
    EXPECT_FALSE(s.hasListed(beta));

    // Dismissed, it does not come back while the same ones stay silent.
    s.dismissNotice();
    run(s.refresh(false));
    drain(s);
    EXPECT_EQ(s.notice(), none);

    engine->setListing(beta, {{container("b")}, {}, {}});
    engine->setUnreachable(endpointOf(beta), false);
    engine->setDiscovery({{entry(alpha), entry(beta), entry(delta)}, alpha});
    run(s.loadContexts());
    drain(s);
    EXPECT_EQ(s.unanswered(), (QStringList{"delta"}));
    EXPECT_EQ(names(s.containers()), (QStringList{"a", "b"}));

    // Shown on its own, the runtime is asked, and a socket that is gone hands over as before.
    run(s.select("alpha"));
    EXPECT_TRUE(s.unanswered().isEmpty());
}

// Until the runtimes in scope have answered a listing, the empty lists are no answer: listed() says
// so from start() and from every switch, and a listing applied ends it. The hand-over's runtime
// counts once it answers; with all shown, one answering is enough (the notice names the rest).
TEST_F(Refresh, TheListsStandForAnAnswerOnlyOnceARuntimeInScopeGaveOne)
{
    EXPECT_TRUE(makeStore().listed()); // given its lists, as the fixtures' stores are

    struct Row {
        const char* what;
        std::function<void()> script;
        bool all;
        bool listed;
        std::optional<Runtime> shownAfter;
    };
    const QList<Row> rows = {
        {"alpha never answers", [&] { engine->failListing(alpha, "alpha is not answering."); }, false, false,
         alpha},
        {"alpha answers with nothing", [&] { listing(alpha, {}); }, false, true, alpha},
        {"alpha is gone, beta takes over and answers",
         [&] {
             engine->failListing(alpha, "alpha is not answering.");
             engine->setUnreachable(endpointOf(alpha));
             listing(beta, {});
         },
         false, true, beta},
        {"all shown, beta alone answers",
         [&] {
             engine->failListing(alpha, "alpha is not answering.");
             listing(beta, {});
         },
         true, true, alpha},
        {"all shown, none answers",
         [&] {
             engine->failListing(alpha, "alpha is not answering.");
             engine->failListing(beta, "beta is not answering.");
         },
         true, false, alpha},
    };
    for (const Row& row : rows) {
        engine = std::make_shared<ScriptedEngine>();
        store.reset();
        row.script();
        AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
        QSignalSpy changes(&s, &AppStore::listedChanged);
        run(s.show(row.all));
        EXPECT_EQ(s.listed(), row.listed) << row.what;
        EXPECT_EQ(s.runtime(), row.shownAfter) << row.what;
        EXPECT_EQ(changes.size(), row.listed ? 2 : 1) << row.what;
    }

    // A runtime that answered once and then falls silent keeps its last lists, which still count.
    engine->failListing(alpha, "alpha is not answering.");
    store.reset();
    listing(alpha, {container("a")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    run(s.show(false));
    engine->failListing(alpha, "alpha is not answering.");
    run(s.refresh(false));
    EXPECT_TRUE(s.listed());
    EXPECT_EQ(names(s.containers()), QStringList{"a"});

    // start() waits for the first answer afresh.
    s.start();
    EXPECT_FALSE(s.listed());
}

// With every runtime shown, a refresh before the runtimes are known lists nobody, and one found
// unreachable is not asked: neither may pass for a runtime that answered it runs nothing.
TEST_F(ShowAndSelect, AllShownClaimsAListingOnlyForTheRuntimesItAsked)
{
    listing(alpha, {container("a")});
    AppStore& s = makeStore();
    run(s.show(true));
    EXPECT_FALSE(s.listed()) << "refreshed before discovery";
    EXPECT_FALSE(s.hasListed(alpha));

    engine->setDiscovery({{entry(alpha), entry(beta, false)}, alpha});
    run(s.loadContexts());
    EXPECT_TRUE(s.listed());
    EXPECT_TRUE(s.hasListed(alpha));
    EXPECT_FALSE(s.hasListed(beta)) << "unreachable, never asked";
    EXPECT_EQ(names(s.containers()), QStringList{"a"});
}
