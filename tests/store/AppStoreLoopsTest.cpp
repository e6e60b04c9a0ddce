#include "store/StoreFixture.h"

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
        ASSERT_TRUE(after(2s, [&] { return engine->count(Call::Containers, alpha) == listed + pass; })) << pass;
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
