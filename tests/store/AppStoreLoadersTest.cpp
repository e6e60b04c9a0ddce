#include "platform/ByteCount.h"
#include "store/StoreFixture.h"

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using TestSupport::fixture;

namespace {

class Loaders : public ScriptedStore {};

DiskUsage usage(qint64 total, const QMap<QString, qint64>& containers)
{
    DiskUsage u;
    u.total = total;
    u.containerSize = containers;
    return u;
}

QString dockerStatsLine(const QString& name, const QString& cpu, const QString& memory)
{
    return QStringLiteral(R"({"Name":"%1","CPUPerc":"%2","MemUsage":"%3 / 2GiB"})").arg(name, cpu, memory) +
           "\n";
}

QString appleList(const QString& id, const QString& address)
{
    return QStringLiteral(R"([{"id":"%1","status":{"networks":[{"ipv4Address":"%2/24"}]}}])")
        .arg(id, address);
}

} // namespace

TEST_F(Loaders, UsageSumsTheRuntimesThatAnswerEarlierFiguresWinning)
{
    engine->setUsage(alpha, usage(100, {{"web", 10}}));
    engine->setUsage(delta, usage(50, {{"web", 99}, {"db", 7}}));
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha, true);

    run(s.loadUsage());
    ASSERT_TRUE(s.usage());
    EXPECT_EQ(s.usage()->total, 150);
    EXPECT_EQ(s.usage()->containerSize, (QMap<QString, qint64>{{"db", 7}, {"web", 10}}));
    EXPECT_EQ(s.usageAt(), clock.now());

    engine->setUsage(alpha, std::nullopt);
    engine->setUsage(delta, std::nullopt);
    clock.advance(std::chrono::minutes(1));
    run(s.loadUsage());
    EXPECT_EQ(s.usage(), std::nullopt) << "nothing answered: no earlier figure passes for a current one";
    EXPECT_EQ(s.usageAt(), clock.now()) << "the attempt still counts";
}

TEST_F(Loaders, SameNamesOnTwoRuntimesAreSizedOnTheirOwnRuntime)
{
    // alpha and beta each run a project "web" with the same container and volume names; delta cannot
    // measure.
    for (const Runtime& runtime : {alpha, beta, delta})
        engine->setListing(runtime, {{container("web-1", "running", "web")},
                                     {},
                                     {DockerVolume{"web_data", "local", "/v", std::nullopt}}});
    for (const auto& [runtime, bytes] : {std::pair{alpha, qint64(10)}, std::pair{beta, qint64(20)}}) {
        DiskUsage measured = usage(bytes * 11, {{"web-1", bytes}});
        measured.volumeSize = {{"web_data", bytes * 10}};
        measured.mounts = {{"web-1", {"web_data"}}};
        engine->setUsage(runtime, measured);
    }
    AppStore& s = storeOn({entry(alpha), entry(beta), entry(delta)}, alpha, true);
    run(s.refresh(false));
    run(s.loadUsage());
    QMap<QString, qint64> sizes;
    for (const ComposeProject& project : s.projects())
        sizes.insert(project.id(), s.usage()->bytes(project));
    EXPECT_EQ(sizes, (QMap<QString, qint64>{{"alpha/web", 110}, {"beta/web", 220}, {"delta/web", 0}}));
    EXPECT_EQ(s.volumeSizes(beta), (QMap<QString, QString>{{"web_data", Platform::fileSize(200)}}));
    EXPECT_TRUE(s.volumeSizes(delta).isEmpty());
}

TEST_F(Loaders, UsageOfARuntimeNoLongerShownIsDropped)
{
    engine->setUsage(alpha, usage(100, {}));
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const auto gate = engine->hold(Call::Usage, alpha);
    auto pending = s.loadUsage();
    s.setRuntime(beta);
    gate->open();
    run(std::move(pending));
    EXPECT_EQ(s.usage(), std::nullopt);
}

TEST_F(Loaders, DockerStatisticsKeepAnUnchangedSampleForTheirRuntime)
{
    engine->setDockerStats(alpha, fixture("engine/stats.ndjson"));
    AppStore& s = storeOn({entry(alpha)}, alpha);
    run(s.loadStats());
    ASSERT_TRUE(s.stats());
    EXPECT_GT(s.stats()->memory.value("rec4-live"), 0);
    EXPECT_TRUE(s.stats()->cpu.contains("rec4-paused"));
    EXPECT_EQ(s.cpuSamples().keys(), (QStringList{"alpha"}));
    EXPECT_TRUE(s.cpuSamples().value("alpha").usec.isEmpty());
    EXPECT_EQ(s.cpuSamples().value("alpha").at, AppStore::distantPast());
    EXPECT_EQ(s.statsAsked(), 1);
    EXPECT_EQ(engine->total(Call::AppleStats), 0);
}

TEST_F(Loaders, AppleProcessorSharesComeFromTheGrowthSinceThePreviousPass)
{
    engine->setAppleStats(fixture("engine/apple-stats-1.json"));
    AppStore& s = storeOn({entry(apple)}, apple);

    run(s.loadStats());
    ASSERT_TRUE(s.stats());
    EXPECT_TRUE(s.stats()->cpu.isEmpty());
    EXPECT_EQ(s.stats()->memory.value("web"), 52428800);
    EXPECT_EQ(s.cpuSamples().value("apple-container").at, clock.now());

    clock.advance(std::chrono::seconds(2));
    engine->setAppleStats(fixture("engine/apple-stats-2.json"));
    run(s.loadStats());
    EXPECT_EQ(s.stats()->cpu, (QMap<QString, double>{{"web", 100.0}}));
    EXPECT_EQ(s.statsAsked(), 2);
    EXPECT_EQ(engine->total(Call::DockerStats), 0);
}

TEST_F(Loaders, StatisticsOfSeveralRuntimesKeepTheEarlierOnesFigures)
{
    const Runtime bridged = Runtime::context("bridged");
    engine->setDockerStats(alpha, dockerStatsLine("web", "1.00%", "1MiB"));
    engine->setDockerStats(beta,
                           dockerStatsLine("web", "50.00%", "9MiB") + dockerStatsLine("db", "2.00%", "2MiB"));
    engine->setAppleStats(fixture("engine/apple-stats-1.json"));
    AppStore& s =
        storeOn({entry(alpha), entry(beta), {bridged, "unix:///x/.socktainer/container.sock", true, false}},
                std::nullopt, true);

    run(s.loadStats());
    ASSERT_TRUE(s.stats());
    EXPECT_EQ(s.stats()->cpu.value("web"), 1.0);
    EXPECT_EQ(s.stats()->cpu.value("db"), 2.0);
    EXPECT_EQ(s.stats()->memory.value("web"), 1 << 20);
    EXPECT_EQ(s.cpuSamples().keys(), (QStringList{"alpha", "beta", "bridged"}));
    EXPECT_EQ(engine->count(Call::DockerStats, bridged), 0) << "a context through the bridge is Apple's";
    EXPECT_EQ(engine->total(Call::AppleStats), 1);
}

TEST_F(Loaders, WithoutAnyAnswerThereAreNoStatisticsButThePassCounts)
{
    engine->setDockerStats(alpha, dockerStatsLine("web", "1.00%", "1MiB"));
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    run(s.loadStats());
    ASSERT_TRUE(s.stats());
    EXPECT_EQ(s.cpuSamples().keys(), (QStringList{"alpha"})) << "beta printed nothing";

    engine->setDockerStats(alpha, std::nullopt);
    run(s.loadStats());
    EXPECT_EQ(s.stats(), std::nullopt);
    EXPECT_TRUE(s.cpuSamples().isEmpty());
    EXPECT_EQ(s.statsAsked(), 2);
}

TEST_F(Loaders, StatisticsOfARuntimeNoLongerShownAreDropped)
{
    engine->setDockerStats(alpha, dockerStatsLine("web", "1.00%", "1MiB"));
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    const auto gate = engine->hold(Call::DockerStats, alpha);
    auto pending = s.loadStats();
    ASSERT_TRUE(gate->waitArrived());
    run(s.select("beta"));
    EXPECT_EQ(s.statsAsked(), 0);
    gate->open();
    run(std::move(pending));
    EXPECT_EQ(s.stats(), std::nullopt);
    EXPECT_TRUE(s.cpuSamples().isEmpty());
}

TEST_F(Loaders, AddressesComeOnlyWhileAnAppleRuntimeIsInScope)
{
    engine->setAppleAddresses(appleList("web", "192.168.64.3"));
    AppStore& s = storeOn({entry(alpha), entry(apple)}, alpha);
    s.setAddresses({{"old", "10.0.0.1"}});
    run(s.loadAddresses());
    EXPECT_TRUE(s.addresses().isEmpty());
    EXPECT_EQ(engine->total(Call::AppleAddresses), 0);

    s.setRuntime(apple);
    run(s.loadAddresses());
    EXPECT_EQ(s.addresses(), (QMap<QString, QString>{{"web", "192.168.64.3"}}));

    engine->setAppleAddresses(std::nullopt);
    run(s.loadAddresses());
    EXPECT_EQ(s.addresses(), (QMap<QString, QString>{{"web", "192.168.64.3"}}))
        << "a failed lookup keeps them";

    // Applied even though the user moved away meanwhile; the next pass puts it right.
    engine->setAppleAddresses(appleList("db", "192.168.64.4"));
    const auto gate = engine->hold(Call::AppleAddresses);
    auto pending = s.loadAddresses();
    s.setRuntime(alpha);
    gate->open();
    run(std::move(pending));
    EXPECT_EQ(s.addresses(), (QMap<QString, QString>{{"db", "192.168.64.4"}}));
}

TEST_F(Loaders, ARuntimeThatDidNotAnswerItsListingIsNotMeasured)
{
    // Each of its measurements would only wait out the time limit again.
    engine->failListing(beta, "beta is not answering.");
    engine->setUsage(alpha, usage(100, {}));
    engine->setDockerStats(alpha, dockerStatsLine("web", "1.00%", "10MiB"));
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    run(s.refresh(false));
    ASSERT_EQ(s.unanswered(), QStringList{beta.id()});

    run(s.loadUsage());
    run(s.loadStats());
    EXPECT_EQ(engine->count(Call::Usage, beta), 0);
    EXPECT_EQ(engine->count(Call::DockerStats, beta), 0);
    EXPECT_EQ(engine->count(Call::Usage, alpha), 1);
    EXPECT_EQ(engine->count(Call::DockerStats, alpha), 1);
}

// Each runtime is sampled and measured on its own: one that hangs until its limit, first in scope
// order, holds no other runtime's statistics, and its disk figures none of the others', which show as
// soon as they come.
TEST_F(Loaders, ARuntimeThatHangsHoldsNoOtherRuntimesFigures)
{
    engine->setDockerStats(beta, dockerStatsLine("db", "2.00%", "2MiB"));
    engine->setDockerStats(alpha, dockerStatsLine("web", "1.00%", "1MiB"));
    engine->setUsage(beta, usage(50, {{"db", 5}}));
    engine->setUsage(alpha, usage(100, {{"web", 10}}));
    AppStore& s = storeOn({entry(beta), entry(alpha)}, beta, true);

    const auto sampling = engine->hold(Call::DockerStats, beta);
    auto sampled = s.loadStats();
    ASSERT_TRUE(sampling->waitArrived());
    EXPECT_TRUE(eventually([&] { return engine->count(Call::DockerStats, alpha) == 1; }));
    sampling->open();
    run(std::move(sampled));
    EXPECT_EQ(s.stats()->cpu, (QMap<QString, double>{{"db", 2.0}, {"web", 1.0}}));

    const auto measuring = engine->hold(Call::Usage, beta);
    auto measured = s.loadUsage();
    ASSERT_TRUE(measuring->waitArrived());
    ASSERT_TRUE(eventually([&] { return s.usage().has_value(); }));
    EXPECT_EQ(s.usage()->total, 100) << "alpha's figures, while beta's are on their way";
    EXPECT_TRUE(s.awaitingUsage());
    measuring->open();
    run(std::move(measured));
    EXPECT_EQ(s.usage()->total, 150);
    EXPECT_EQ(s.usage()->containerSize.keys(), (QStringList{"db", "web"})) << "in scope order";
}

// A runtime whose last measurement brought no figures (it ended at its limit, or was refused) has none
// in the usage, whatever an earlier one measured: the others' stand alone, and with none left there is
// no usage at all. So is a runtime whose listing stops answering.
TEST_F(Loaders, OnlyTheFiguresOfEachRuntimesLastMeasurementStand)
{
    Reclaimable stopped;
    stopped.bytes = 230;
    DiskUsage alphas = usage(4'200'000, {{"web", 10}});
    alphas.candidates = {stopped};
    engine->setUsage(alpha, alphas);
    engine->setUsage(beta, usage(50, {{"db", 5}}));
    listing(alpha, {container("web")});
    listing(beta, {container("db")});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    run(s.refresh(false));
    run(s.loadUsage());
    ASSERT_EQ(s.usage()->total, 4'200'050);

    engine->setUsage(alpha, std::nullopt);
    run(s.loadUsage());
    EXPECT_EQ(s.usage()->total, 50);
    EXPECT_EQ(s.usage()->reclaimable(), 0) << "nothing offered from alpha's earlier figures";

    engine->failListing(beta, "beta is not answering.");
    run(s.refresh(false));
    EXPECT_EQ(s.usage(), std::nullopt);
    EXPECT_FALSE(s.awaitingUsage());
}
