#include "screens/ProjectUsage.h"

#include "ProjectsTesting.h"

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

class Usage : public testing::Test {
protected:
    void SetUp() override
    {
        Docker::setCoresForTesting(8);
        Docker::setPhysicalMemoryForTesting(16ull << 30);
    }
    void TearDown() override
    {
        Docker::setCoresForTesting(std::nullopt);
        Docker::setPhysicalMemoryForTesting(std::nullopt);
    }

    static ComposeProject shop(const QList<Container>& containers)
    {
        return ComposeProject{"shop", "/srv/shop", containers, 2, std::nullopt};
    }
};

TEST_F(Usage, NothingMeasuredYetShowsDashesWithTheCaptionForWhatRuns)
{
    struct Row {
        const char* what;
        QList<Container> containers;
        QString waiting;
    };
    const QList<Row> rows = {
        {"remembered without containers", {}, "Nothing running"},
        {"stopped containers", {container("shop-web", "exited", "shop")}, "Nothing running"},
        {"a paused one is not running", {container("shop-web", "paused", "shop")}, "Nothing running"},
        {"running, not sampled yet", {container("shop-web", "running", "shop")}, "Measuring…"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ProjectUsage usage = ProjectUsage::of(shop(row.containers), std::nullopt, std::nullopt);
        for (const ProjectUsage::Figure* figure : {&usage.processor, &usage.memory}) {
            EXPECT_EQ(figure->value, std::nullopt);
            EXPECT_EQ(figure->unit, "");
            EXPECT_EQ(figure->fraction, 0);
            EXPECT_EQ(figure->caption, row.waiting);
        }
        EXPECT_EQ(usage.disk, (ProjectUsage::Figure{std::nullopt, "", 0, "Measuring…"}));
        // A runtime that does not answer is not being measured.
        EXPECT_EQ(ProjectUsage::of(shop(row.containers), std::nullopt, std::nullopt, false).disk,
                  (ProjectUsage::Figure{std::nullopt, "", 0, "Not measured"}));
        // Statistics of other containers only: still nothing of this project's.
        LiveStats others;
        others.cpu.insert("elsewhere", 50);
        others.memory.insert("elsewhere", 1024);
        EXPECT_EQ(ProjectUsage::of(shop(row.containers), others, std::nullopt).processor.caption,
                  row.waiting);
    }
}

TEST_F(Usage, NamesTheBusiestAndBiggestRunningContainerByServiceTheEarlierOfEquals)
{
    Container web = container("shop-web", "running", "shop");
    web.labels.insert(Docker::serviceLabel, "web");
    Container api = container("shop-api", "running", "shop");
    Container bare = container("bare", "running");
    Container stopped = container("shop-old", "exited", "shop");
    LiveStats stats;
    stats.cpu = {{"shop-web", 80}, {"shop-api", 80}, {"bare", 20}, {"shop-old", 500}};
    stats.memory = {{"shop-web", 1 << 20}, {"bare", 3 << 20}, {"shop-old", 1 << 30}};
    const ComposeProject project = shop({web, api, bare, stopped});

    const ProjectUsage usage = ProjectUsage::of(project, stats, std::nullopt);
    // The sum counts every container with a figure, the stopped one's last sample too.
    EXPECT_EQ(usage.processor.value, "85%"); // 680 over 8 processors
    EXPECT_EQ(usage.processor.unit, "of this computer");
    EXPECT_DOUBLE_EQ(usage.processor.fraction, 680.0 / 8 / 100);
    EXPECT_EQ(usage.processor.caption, "Busiest: web, 10%"); // equal to api, and earlier
    EXPECT_EQ(usage.memory.value, "1 GB");                   // memory counts in 1,024s
    EXPECT_EQ(usage.memory.unit, "of 16 GB");
    EXPECT_EQ(usage.memory.caption, "Biggest: bare, 3 MB"); // no service: its name
}

TEST_F(Usage, DiskIsTheProjectsShareOfTheMeasuredTotal)
{
    const ComposeProject project = shop({container("shop-web", "running", "shop")});
    DiskUsage usage;
    usage.containerSize.insert("shop-web", 2'000'000);
    usage.total = 8'000'000;
    ProjectUsage figures = ProjectUsage::of(project, std::nullopt, usage);
    EXPECT_EQ(figures.disk, (ProjectUsage::Figure{"2 MB", "used", 0.25, "Containers and their volumes"}));

    usage.total = 0;
    figures = ProjectUsage::of(project, std::nullopt, usage);
    EXPECT_EQ(figures.disk.fraction, 0);
    EXPECT_EQ(figures.disk.caption, "Containers and their volumes");

    // Measured at nothing, the detail shows what the project's card shows for it, and so does the card
    // of its container: a dash, not "Zero KB".
    usage.containerSize.insert("shop-web", 0);
    figures = ProjectUsage::of(project, std::nullopt, usage);
    EXPECT_EQ(figures.disk.value, std::nullopt);
    EXPECT_EQ(figures.disk.unit, "used");
}

} // namespace
