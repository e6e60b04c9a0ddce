#include "screens/VitalsRow.h"

#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "engine/Stats.h"
#include "sheets/ReclaimButton.h"
#include "store/StoreFixture.h"
#include "support/Widgets.h"

#include <QDialog>

#include <gtest/gtest.h>

using StoreTesting::container;

namespace {

// Eight processors and 16 GiB, whatever the machine running the tests has.
class Vitals_ : public testing::Test {
protected:
    void SetUp() override
    {
        Docker::setCoresForTesting(8);
        Docker::setPhysicalMemoryForTesting(16ll << 30);
    }
    void TearDown() override
    {
        Docker::setCoresForTesting(std::nullopt);
        Docker::setPhysicalMemoryForTesting(std::nullopt);
    }
};

LiveStats cpu(const QMap<QString, double>& figures)
{
    return LiveStats{figures, {}};
}

LiveStats memory(const QMap<QString, qint64>& figures)
{
    return LiveStats{{}, figures};
}

TEST_F(Vitals_, NothingListedIsNothingStoppedAndNothingRunning)
{
    const Vitals v = Vitals::of({}, std::nullopt, std::nullopt);
    EXPECT_EQ(v.containers, (Vitals::Tile{"0", "of 0 running", 0}));
    EXPECT_EQ(v.containersCaption, "Nothing stopped");
    EXPECT_EQ(v.processor.value, std::nullopt);
    EXPECT_EQ(v.processor.unit, "");
    EXPECT_EQ(v.processorCaption, "Nothing running");
    EXPECT_EQ(v.memory.value, std::nullopt);
    EXPECT_EQ(v.memoryCaption, "Nothing running");
    EXPECT_EQ(v.disk, (Vitals::Tile{std::nullopt, "", 0}));
    EXPECT_EQ(v.diskCaption, "Measuring\u2026");
}

TEST_F(Vitals_, EveryContainerThatDoesNotRunCountsAsStopped)
{
    const Vitals v =
        Vitals::of({container("a"), container("b"), container("c", "paused")}, std::nullopt, std::nullopt);
    EXPECT_EQ(v.containers, (Vitals::Tile{"2", "of 3 running", 2.0 / 3}));
    EXPECT_EQ(v.containersCaption, "1 stopped");
    // Running without a sample yet.
    EXPECT_EQ(v.processorCaption, "Measuring\u2026");
    EXPECT_EQ(v.memoryCaption, "Measuring\u2026");
}

struct LoadRow {
    double cpu;
    const char* value;
    const char* unit;
};

TEST_F(Vitals_, TheLoadIsTheShareOfTheWholeMachine)
{
    for (const LoadRow& row : {LoadRow{239, "30%", "light load"}, LoadRow{240, "30%", "moderate load"},
                               LoadRow{559.9, "70%", "moderate load"}, LoadRow{560, "70%", "heavy load"},
                               LoadRow{2, "<1%", "light load"}}) {
        const Vitals v = Vitals::of({container("a")}, cpu({{"a", row.cpu}}), std::nullopt);
        EXPECT_EQ(v.processor.value, row.value) << row.cpu;
        EXPECT_EQ(v.processor.unit, row.unit) << row.cpu;
        EXPECT_DOUBLE_EQ(v.processor.fraction, row.cpu / 8 / 100);
    }
}

TEST_F(Vitals_, TheHeaviestIsAProjectBeforeALooseContainerAndTheFirstOfEquals)
{
    const QList<Container> listed{container("zeta-1", "running", "zeta"),
                                  container("alpha-1", "running", "alpha"),
                                  container("alpha-2", "running", "alpha"), container("loner")};
    // alpha's two containers together equal zeta's one; alpha sorts first.
    Vitals v =
        Vitals::of(listed, memory({{"zeta-1", 200 << 20}, {"alpha-1", 100 << 20}, {"alpha-2", 100 << 20}}),
                   std::nullopt);
    EXPECT_EQ(v.memoryCaption, "Biggest: alpha, 200 MB");
    EXPECT_EQ(v.memory.value, "400 MB");
    EXPECT_EQ(v.memory.unit, "of 16 GB");

    // A loose container as busy as a project loses to the project.
    v = Vitals::of(listed, cpu({{"zeta-1", 80}, {"loner", 80}}), std::nullopt);
    EXPECT_EQ(v.processorCaption, "Busiest: zeta, 10%");
    v = Vitals::of(listed, cpu({{"zeta-1", 80}, {"loner", 80.5}}), std::nullopt);
    EXPECT_EQ(v.processorCaption, "Busiest: loner, 10%");
}

TEST_F(Vitals_, DiskOffersToFreeWhatCanBeReclaimed)
{
    DiskUsage usage;
    usage.total = 4'000'000'000;
    Vitals v = Vitals::of({}, std::nullopt, usage);
    EXPECT_EQ(v.disk, (Vitals::Tile{"4 GB", "used", 1}));
    EXPECT_EQ(v.diskCaption, "Nothing to free");
    EXPECT_EQ(v.reclaimable, 0);

    Reclaimable image;
    image.kind = Reclaimable::Kind::Image;
    image.bytes = 1'000'000'000;
    usage.candidates = {image};
    v = Vitals::of({}, std::nullopt, usage);
    EXPECT_EQ(v.reclaimTitle, "Free up 1 GB\u2026");
    EXPECT_DOUBLE_EQ(v.disk.fraction, 0.75);
}

class VitalsRowOnStore : public StoreTesting::ScriptedStore {
protected:
    void SetUp() override
    {
        TestSupport::prepareWidgets();
        Docker::setCoresForTesting(8);
    }
    void TearDown() override
    {
        Docker::setCoresForTesting(std::nullopt);
        ScriptedStore::TearDown();
    }

    template <typename T = VitalCaption>
    T* child(const VitalsRow& row, const char* name)
    {
        return row.findChild<T*>(name);
    }
};

TEST_F(VitalsRowOnStore, ShowsTheStoreAndFollowsIt)
{
    AppStore& store = makeStore();
    store.setContainers({container("a"), container("b", "exited")});
    VitalsRow row(store);
    EXPECT_EQ(child(row, "containersCaption")->plainText(), "1 stopped");
    EXPECT_EQ(child(row, "processorCaption")->plainText(), "Measuring\u2026");
    EXPECT_EQ(child<VitalCard>(row, "processorVital")->value(), std::nullopt); // drawn as the dash
    EXPECT_EQ(child<VitalCard>(row, "diskVital")->meterFraction(), 0);

    store.setStats(LiveStats{{{"a", 12}}, {{"a", 1 << 20}}});
    DiskUsage usage;
    usage.total = 2'000'000;
    Reclaimable stopped;
    stopped.bytes = 500'000;
    usage.candidates = {stopped};
    store.setUsage(usage);
    // Several changes in one turn: the row follows on the next.
    EXPECT_EQ(child(row, "processorCaption")->plainText(), "Measuring\u2026");
    QCoreApplication::processEvents();
    EXPECT_EQ(child(row, "processorCaption")->plainText(), "Busiest: a, 2%");
    EXPECT_EQ(child(row, "memoryCaption")->plainText(), "Biggest: a, 1 MB");
    auto* reclaim = child<VoskButton>(row, "reclaimButton");
    ASSERT_NE(reclaim, nullptr);
    EXPECT_TRUE(reclaim->isVisibleTo(&row));
    EXPECT_EQ(reclaim->text(), "Free up 500 KB\u2026");
    EXPECT_FALSE(child(row, "diskCaption")->isVisibleTo(&row));

    // It offers everything in scope, in the reclaim sheet over the row's window.
    reclaim->click();
    auto* sheet = row.findChild<QDialog*>("reclaimSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(static_cast<ReclaimButton*>(reclaim)->project(), std::nullopt);
    sheet->reject();
}

// The disk tile says "Measuring…" only while figures are on their way: not while the runtime does not
// answer, not while nothing measures, and not once a measurement has ended without figures (at its limit),
// also while the next one runs.
TEST_F(VitalsRowOnStore, TheDiskTileSaysMeasuringOnlyWhileFiguresAreOnTheirWay)
{
    using StoreTesting::alpha;
    const auto disk = [&](VitalsRow& row) {
        QCoreApplication::processEvents();
        return child(row, "diskCaption")->plainText();
    };
    engine->failListing(alpha, "alpha is not answering.");
    AppStore& store = storeOn({StoreTesting::entry(alpha)}, alpha);
    store.setWindowVisible(true);
    VitalsRow row(store);
    run(store.refresh(false));
    EXPECT_EQ(disk(row), "Not measured");
    EXPECT_EQ(child<VitalCard>(row, "diskVital")->value(), std::nullopt);
    EXPECT_EQ(child<VitalCard>(row, "diskVital")->meterFraction(), 0);

    listing(alpha, {container("a")});
    auto measurement = engine->hold(StoreTesting::ScriptedEngine::Call::Usage, alpha);
    run(store.refresh(false));
    // Silent until now, so the refresh did not wait for its answer.
    ASSERT_TRUE(TestSupport::eventually([&] { return !store.listingUnderWay(); }));
    ASSERT_TRUE(measurement->waitArrived());
    EXPECT_EQ(disk(row), "Measuring\u2026");

    measurement->open(); // the engine gave no figures in time
    EXPECT_TRUE(TestSupport::eventually([&] { return disk(row) == "Not measured"; }));
    measurement = engine->hold(StoreTesting::ScriptedEngine::Call::Usage, alpha);
    clock.advance(AppStore::pressMeasuringPause); // a press measures nothing measured moments ago
    store.refreshNow();
    ASSERT_TRUE(measurement->waitArrived());
    EXPECT_EQ(disk(row), "Not measured");

    engine->setUsage(alpha, DiskUsage{2'000'000, {}, {}, {}, {}});
    measurement->open();
    EXPECT_TRUE(TestSupport::eventually([&] { return disk(row) == "Nothing to free"; }));
}

} // namespace
