#include "store/StoreFixture.h"

#include <QFileInfo>

using namespace StoreTesting;
using namespace std::chrono_literals;
using Call = ScriptedEngine::Call;
using Pauses = QList<std::chrono::milliseconds>;

namespace {

// The refresh loop pauses 2 or 10 seconds, the statistics loop 1 or 5, so each loop's pauses can be
// told apart in the clock's record.
class Loops : public ScriptedStore {
protected:
    void SetUp() override { engine->setDiscovery({{entry(alpha, true, true)}, alpha}); }

    Pauses pausesOf(std::initializer_list<std::chrono::milliseconds> kinds) const
    {
        Pauses out;
        for (auto pause : clock.pauses())
            if (std::find(kinds.begin(), kinds.end(), pause) != kinds.end())
                out << pause;
        return out;
    }
    Pauses refreshPauses() const { return pausesOf({2s, 10s}); }
    Pauses statsPauses() const { return pausesOf({1s, 5s}); }

    // Moves the clock on and waits until both loops sleep again, and the listings they asked for are over.
    bool after(
        std::chrono::milliseconds by, const std::function<bool()>& also = [] { return true; })
    {
        clock.advance(by);
        return eventually([&] { return clock.sleeping() == 2 && !store->listingUnderWay() && also(); });
    }

    AppStore& started()
    {
        AppStore& s = makeStore();
        s.start();
        EXPECT_TRUE(eventually([&] { return clock.sleeping() == 2 && s.runtime() == alpha; }));
        EXPECT_TRUE(eventually([&] { return !s.containers().isEmpty(); }));
        return s;
    }
};

} // namespace

TEST_F(Loops, StartingTwiceStartsOneDiscoveryAndOnePairOfLoops)
{
    listing(alpha, {container("a", "exited")});
    AppStore& s = makeStore();
    s.start();
    s.start();
    ASSERT_TRUE(eventually([&] { return clock.sleeping() == 2 && !s.containers().isEmpty(); }));
    EXPECT_TRUE(s.isStarted());
    EXPECT_EQ(engine->total(Call::Runtimes), 1);
    EXPECT_EQ(refreshPauses(), (Pauses{10s}));
    EXPECT_EQ(statsPauses(), (Pauses{1s}));
}

TEST_F(Loops, RefreshesEveryTwoSecondsWhileTheWindowIsShownAndEveryTenOtherwise)
{
    listing(alpha, {container("a", "exited")});
    AppStore& s = started();
    const int listed = engine->count(Call::Containers, alpha);

    s.setWindowVisible(true);
    ASSERT_TRUE(after(9s));
    EXPECT_EQ(engine->count(Call::Containers, alpha), listed) << "the hidden window's pause still runs";
    ASSERT_TRUE(after(1s, [&] { return engine->count(Call::Containers, alpha) == listed + 1; }));
    ASSERT_TRUE(after(2s, [&] { return engine->count(Call::Containers, alpha) == listed + 2; }));
    s.setWindowVisible(false);
    ASSERT_TRUE(after(2s, [&] { return engine->count(Call::Containers, alpha) == listed + 3; }));
    EXPECT_EQ(refreshPauses(), (Pauses{10s, 2s, 2s, 10s}));
}

TEST_F(Loops, StatisticsComeOneSecondApartTwiceThenEveryFiveSeconds)
{
    listing(alpha, {container("web")});
    engine->setDockerStats(alpha, R"({"Name":"web","CPUPerc":"3.00%","MemUsage":"1MiB / 1GiB"})");
    AppStore& s = makeStore();
    s.setWindowVisible(true);
    // Held, so that the statistics loop's first pass comes before the listing: a quick worker could
    // otherwise list the running container before start() returns.
    const auto discovery = engine->hold(Call::Runtimes);
    s.start();
    discovery->open();
    ASSERT_TRUE(eventually([&] { return clock.sleeping() == 2 && s.runningCount() == 1; }));
    EXPECT_EQ(s.statsAsked(), 0) << "the first pass came before the listing";

    for (qint64 asked : {1, 2, 3}) {
        SCOPED_TRACE(asked);
        const auto pause = statsPauses().last();
        ASSERT_TRUE(after(pause, [&] { return s.statsAsked() == asked && s.stats().has_value(); }));
    }
    EXPECT_EQ(statsPauses(), (Pauses{1s, 1s, 5s, 5s}));
    EXPECT_EQ(s.stats()->cpu.value("web"), 3.0);

    // Switching runtime starts the count again.
    run(s.select("alpha"));
    ASSERT_TRUE(after(5s, [&] { return s.statsAsked() == 1; }));
    EXPECT_EQ(statsPauses().last(), 1s);
}

TEST_F(Loops, StatisticsStayWhileTheWindowIsHiddenAndGoWhenNothingRuns)
{
    listing(alpha, {container("web")});
    AppStore& s = started();
    const LiveStats last{{{"web", 4.0}}, {{"web", 1024}}};
    s.setStats(last);

    ASSERT_TRUE(after(1s));
    EXPECT_EQ(s.stats(), last);
    EXPECT_EQ(engine->total(Call::DockerStats), 0);

    listing(alpha, {container("web", "exited")});
    ASSERT_TRUE(after(9s, [&] { return s.runningCount() == 0; }));
    ASSERT_TRUE(after(1s));
    EXPECT_EQ(s.stats(), std::nullopt);
}

TEST_F(Loops, TheLoopsEndWhenTheStoreIsGone)
{
    listing(alpha, {container("a", "exited")});
    started();
    const auto held = engine->hold(Call::Containers, alpha);
    clock.advance(10s); // the refresh loop is now waiting for a listing
    ASSERT_TRUE(held->waitArrived());

    store.reset();
    held->open();
    Platform::Pools::drain();
    QCoreApplication::processEvents();
    clock.wakeAll();
    QCoreApplication::processEvents();
    const int listed = engine->total(Call::Containers);
    ASSERT_TRUE(eventually([&] { return clock.sleeping() == 0; }));
    clock.advance(1min);
    QCoreApplication::processEvents();
    EXPECT_EQ(clock.sleeping(), 0);
    EXPECT_EQ(engine->total(Call::Containers), listed);
}

// A disk measurement that never comes back holds up neither the listing nor the statistics; presses of
// Refresh meanwhile start no other measurement, and those made while a rediscovery runs fold into one more.
TEST_F(Loops, AMeasurementThatNeverComesBackLeavesTheListingItsRhythm)
{
    listing(alpha, {container("web")});
    engine->setDockerStats(alpha, R"({"Name":"web","CPUPerc":"3.00%","MemUsage":"1MiB / 1GiB"})");
    const auto measurement = engine->hold(Call::Usage, alpha, false);
    AppStore& s = started();
    s.setWindowVisible(true);
    ASSERT_TRUE(after(10s, [&] { return engine->count(Call::Usage, alpha) == 1; }));
    EXPECT_TRUE(s.awaitingUsage());

    // Forty seconds: the measurement is due again after thirty, and is not begun again.
    const int listed = engine->count(Call::Containers, alpha);
    const int sampled = engine->count(Call::DockerStats, alpha);
    for (int pass = 1; pass <= 20; ++pass)
        ASSERT_TRUE(after(2s, [&] { return engine->count(Call::Containers, alpha) == listed + pass; }))
            << pass;
    EXPECT_GE(engine->count(Call::DockerStats, alpha), sampled + 7);

    const int discoveries = engine->total(Call::Runtimes);
    const auto discovery = engine->hold(Call::Runtimes);
    for (int press = 0; press < 200; ++press)
        s.refreshNow();
    ASSERT_TRUE(eventually([&] { return engine->total(Call::Runtimes) == discoveries + 1; }));
    discovery->open();
    ASSERT_TRUE(eventually([&] { return engine->total(Call::Runtimes) == discoveries + 2; }));
    for (int turn = 0; turn < 20; ++turn)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(engine->total(Call::Runtimes), discoveries + 2);
    EXPECT_EQ(engine->count(Call::Usage, alpha), 1);
    EXPECT_TRUE(s.awaitingUsage());
}

// With every runtime shown, one whose listing takes its whole limit holds nobody: the others are shown as
// they answer and keep the rhythm, it is asked once at a time, and once it has failed it is named, left
// out of the statistics and the measurements, and no refresh waits for it again.
TEST_F(Loops, ASilentRuntimeHoldsNoOtherRuntimesListing)
{
    engine->setDiscovery({{entry(alpha, true, true), entry(beta)}, alpha});
    listing(alpha, {container("web")});
    listing(beta, {container("far")});
    engine->setDockerStats(alpha, R"({"Name":"web","CPUPerc":"3.00%","MemUsage":"1MiB / 1GiB"})");
    engine->setUsage(alpha, DiskUsage{1000, {}, {}, {}, {}});
    const auto silent = engine->hold(Call::Containers, beta);
    AppStore& s = makeStore();
    s.setShowAll(true);
    s.setWindowVisible(true);
    s.start();
    ASSERT_TRUE(eventually([&] { return names(s.containers()) == QStringList{"web"}; }));
    ASSERT_TRUE(silent->waitArrived());

    for (int beat = 1; beat <= 5; ++beat) {
        const QString name = "web-" + QString::number(beat);
        listing(alpha, {container(name)});
        clock.advance(2s);
        ASSERT_TRUE(eventually([&] { return names(s.containers()) == QStringList{name}; })) << beat;
    }
    EXPECT_EQ(engine->count(Call::Containers, beta), 1) << "one listing of it at a time";
    EXPECT_TRUE(eventually([&] { return s.usage().has_value() && s.stats().has_value(); }));

    // It fails as at its limit.
    engine->failListing(beta, "beta is not answering.");
    silent->open();
    ASSERT_TRUE(eventually([&] { return s.silent() == QStringList{"beta"}; }));
    EXPECT_EQ(s.unanswered(), QStringList{"beta"});
    EXPECT_EQ(s.notice(), QStringLiteral("beta is not answering \u2014 showing the rest."));
    EXPECT_EQ(s.error(), std::nullopt);

    // Asked again, it hangs again: a refresh, as an action's or a press's, waits for alpha alone.
    const auto again = engine->hold(Call::Containers, beta);
    const int sampled = engine->count(Call::DockerStats, beta);
    const int measured = engine->count(Call::Usage, beta);
    listing(alpha, {container("web", "exited")});
    run(s.refresh(false));
    EXPECT_EQ(names(s.containers()), QStringList{"web"});
    ASSERT_TRUE(again->waitArrived());
    run(s.loadStats());
    run(s.loadUsage());
    EXPECT_EQ(engine->count(Call::DockerStats, beta), sampled);
    EXPECT_EQ(engine->count(Call::Usage, beta), measured);
    again->open();
}

// Each press of Refresh measures what was not measured moments ago: a few seconds after the last
// measurement of a runtime ended, never sooner, however often it is pressed. The busy sign shows until
// the refresh the presses asked for has ended.
TEST_F(Loops, PressesMeasureARuntimeNoSoonerThanAFewSecondsAfterItsLastMeasurement)
{
    listing(alpha, {container("web", "exited")});
    engine->setUsage(alpha, DiskUsage{1000, {}, {}, {}, {}});
    AppStore& s = started(); // hidden: the listing measures nothing
    ASSERT_EQ(engine->count(Call::Usage, alpha), 0);
    const auto pressMany = [&](int presses) {
        for (int press = 0; press < presses; ++press)
            s.refreshNow();
        EXPECT_TRUE(s.busy());
        return eventually([&] { return !s.busy() && !s.awaitingUsage(); });
    };

    ASSERT_TRUE(pressMany(200));
    EXPECT_EQ(engine->count(Call::Usage, alpha), 1);
    ASSERT_TRUE(s.usage().has_value());
    clock.advance(AppStore::pressMeasuringPause - 1ms);
    ASSERT_TRUE(pressMany(50));
    EXPECT_EQ(engine->count(Call::Usage, alpha), 1);
    clock.advance(1ms);
    ASSERT_TRUE(pressMany(50));
    EXPECT_EQ(engine->count(Call::Usage, alpha), 2);
}

// The client's context folder is looked at on the listing's rhythm: a context made, one removed, or another
// made current there is discovered on the next beat; a look that finds what discovery read, or only a
// login written to the configuration, runs no context listing, and neither does a press of Refresh.
TEST_F(Loops, ContextsAreListedAgainOnlyWhenTheirFolderChanged)
{
    QTemporaryDir folder;
    const auto write = [&](const QString& path, const QByteArray& contents) {
        QDir().mkpath(QFileInfo(folder.filePath(path)).path());
        QFile file(folder.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    };
    write("config.json", R"({"currentContext":"alpha"})");
    write("contexts/meta/a1/meta.json", R"({"Name":"alpha"})");
    engine->setContextsFolder(folder.path());
    listing(alpha, {container("web", "exited")});
    AppStore& s = started();
    const auto discoveriesAfterBeat = [&](int expected) {
        clock.advance(10s);
        return eventually(
                   [&] { return engine->total(Call::Runtimes) == expected && clock.sleeping() == 2; }) &&
               !eventually([&] { return engine->total(Call::Runtimes) > expected; }, 100);
    };
    ASSERT_TRUE(discoveriesAfterBeat(1)) << "nothing changed";

    engine->setDiscovery({{entry(alpha, true, true), entry(beta)}, alpha});
    write("contexts/meta/b2/meta.json", R"({"Name":"beta"})");
    ASSERT_TRUE(discoveriesAfterBeat(2)) << "a context made";
    EXPECT_EQ(s.runtimes().size(), 2);
    ASSERT_TRUE(discoveriesAfterBeat(2)) << "and seen";

    write("config.json", R"({"currentContext":"alpha","auths":{"registry.example":{}}})");
    ASSERT_TRUE(discoveriesAfterBeat(2)) << "a login";
    write("config.json", R"({"currentContext":"beta","auths":{"registry.example":{}}})");
    ASSERT_TRUE(discoveriesAfterBeat(3)) << "another made current";

    engine->setDiscovery({{entry(alpha, true, true)}, alpha});
    ASSERT_TRUE(QDir(folder.filePath("contexts/meta/b2")).removeRecursively());
    ASSERT_TRUE(discoveriesAfterBeat(4)) << "a context removed";
    EXPECT_EQ(s.runtimes(), QList<RuntimeEntry>{entry(alpha, true, true)});

    // A press of Refresh lists the contexts again only when the folder changed too.
    const int listed = engine->count(Call::Containers, alpha);
    s.refreshNow();
    ASSERT_TRUE(eventually([&] { return !s.busy(); }));
    EXPECT_EQ(engine->total(Call::Runtimes), 4);
    EXPECT_EQ(engine->count(Call::Containers, alpha), listed + 1);
    write("contexts/meta/c3/meta.json", R"({"Name":"gamma"})");
    s.refreshNow();
    ASSERT_TRUE(eventually([&] { return !s.busy(); }));
    EXPECT_EQ(engine->total(Call::Runtimes), 5);
}

// A context removed fails its listing before any look at the folder has found it gone: it goes from the
// picker without being named as not answering.
TEST_F(Loops, AContextRemovedIsNotTakenForOneThatDoesNotAnswer)
{
    QTemporaryDir folder;
    for (const QString& context : {QStringLiteral("a1"), QStringLiteral("b2")}) {
        QDir().mkpath(folder.filePath("contexts/meta/" + context));
        QFile file(folder.filePath("contexts/meta/" + context + "/meta.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(context.toUtf8());
    }
    engine->setContextsFolder(folder.path());
    engine->setDiscovery({{entry(alpha, true, true), entry(beta)}, alpha});
    listing(alpha, {container("web", "exited")});
    listing(beta, {container("far", "exited")});
    AppStore& s = makeStore();
    s.setShowAll(true);
    s.start();
    ASSERT_TRUE(eventually([&] { return s.containers().size() == 2 && !s.listingUnderWay(); }));

    ASSERT_TRUE(QDir(folder.filePath("contexts/meta/b2")).removeRecursively());
    engine->setDiscovery({{entry(alpha, true, true)}, alpha});
    engine->failListing(beta, "context \"beta\": context not found");
    run(s.refresh(false));
    ASSERT_TRUE(eventually([&] { return s.runtimes().size() == 1 && !s.listingUnderWay(); }));
    EXPECT_EQ(names(s.containers()), QStringList{"web"});
    EXPECT_EQ(s.notice(), std::nullopt);
    EXPECT_TRUE(s.unanswered().isEmpty());
    EXPECT_TRUE(s.silent().isEmpty());
}

// While all are shown, a runtime named for not answering and then found gone (its context removed) is
// no longer named: the notice keeps only those still listed, and a notice of another kind stays.
TEST_F(Loops, ARuntimeNamedAsNotAnsweringAndThenGoneIsNamedNoMore)
{
    listing(alpha, {container("a")});
    engine->failListing(beta, "beta is not answering.");
    engine->failListing(delta, "delta is not answering.");
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha, true);
    run(s.refresh(false));
    drain(s);
    ASSERT_EQ(s.notice(), QStringLiteral("beta, delta are not answering \u2014 showing the rest."));

    engine->setDiscovery({{entry(alpha), entry(delta)}, alpha});
    run(s.loadContexts());
    drain(s);
    EXPECT_EQ(s.unanswered(), QStringList{"delta"});
    EXPECT_EQ(s.notice(), QStringLiteral("delta is not answering \u2014 showing the rest."));

    s.setNotice(QStringLiteral("Reclaimed 2 MB."));
    engine->setDiscovery({{entry(alpha)}, alpha});
    run(s.loadContexts());
    drain(s);
    EXPECT_TRUE(s.unanswered().isEmpty());
    EXPECT_EQ(s.notice(), "Reclaimed 2 MB.");
}
