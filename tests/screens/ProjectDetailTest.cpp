#include "screens/ProjectDetailContent.h"
#include "screens/ProjectsContent.h"

#include "ProjectsTesting.h"
#include "app/design/Eyebrow.h"
#include "app/design/RunRing.h"
#include "app/design/VoskLabel.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

class Detail : public ProjectsStore {};

TEST(ProjectDetail, TheWorkingDirectoryLine)
{
    const TestSupport::ScopedEnv home("HOME", QByteArray("/home/ada"));
    const ComposeProject onAlpha{"shop", "/home/ada/code/shop", {}, 0, Runtime::context("alpha")};
    const ComposeProject noRuntime{"shop", "/home/ada/code/shop", {}, 0, std::nullopt};
    const ComposeProject elsewhere{"shop", "/srv/home/ada/shop", {}, 0, std::nullopt};
    const ComposeProject noDir{"shop", std::nullopt, {}, 0, Runtime::context("alpha")};
    struct Row {
        const char* what;
        ComposeProject project;
        bool exists;
        bool showAll;
        QString line;
    };
    const QList<Row> rows = {
        {"one runtime shown", onAlpha, true, false, "~/code/shop"},
        {"all runtimes shown", onAlpha, true, true, "alpha · ~/code/shop"},
        {"all shown, no runtime", noRuntime, true, true, "~/code/shop"},
        {"home further in stays", elsewhere, true, false, "/srv/home/ada/shop"},
        {"a removed folder", onAlpha, false, true, "working directory no longer exists"},
        {"no folder known", noDir, true, true, "working directory no longer exists"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(ProjectDetailContent::shortDir(row.project, row.exists, row.showAll), row.line);
    }
}

TEST_F(Detail, UsageCardsSitSideBySideWhenTheyFitAndStackWhenNarrow)
{
    AppStore& s = showing({container("shop-web", "running", "shop")});
    ProjectDetailContent detail(s, s.projects().first());
    detail.show();
    detail.resize(900, 800);
    EXPECT_TRUE(detail.usageSideBySide());
    detail.resize(420, 800);
    EXPECT_FALSE(detail.usageSideBySide());
    detail.resize(1000, 800);
    EXPECT_TRUE(detail.usageSideBySide());
}

// A store as a user might see it: projects running, stopped, in trouble and remembered without
// containers, loose containers, statistics and disk usage.
void fillForPictures(AppStore& s, const QTemporaryDir& parent)
{
    const QString shop = buildingFolder(parent, "shop");
    const QString blog = projectFolder(parent, "blog");
    const auto serving = [](Container c, const QString& dir, const char* service) {
        c.labels.insert(Docker::serviceLabel, service);
        return inFolder(c, dir);
    };
    Container web = serving(container("shop-web", "running", "shop"), shop, "web");
    web.ports = "0.0.0.0:8080->80/tcp";
    Container db = serving(container("shop-db", "running", "shop"), shop, "db");
    Container worker = serving(container("shop-worker", "exited", "shop"), shop, "worker");
    worker.status = "Exited (2) 3 minutes ago";
    Container blogWeb = serving(container("blog-web", "exited", "blog"), blog, "web");
    Container loose = container("scratch", "running");
    s.setContainers({web, db, worker, blogWeb, loose});
    ProjectRegistry registry;
    registry.add({"shop", shop, {"web", "db", "worker"}}, "alpha");
    registry.add({"blog", blog, {"web"}}, "alpha");
    registry.add({"archive", parent.filePath("archive-moved"), {"web", "db"}}, "alpha");
    s.setRegistry(registry);
    LiveStats stats;
    stats.cpu = {{"shop-web", 42}, {"shop-db", 8}, {"scratch", 1}};
    stats.memory = {{"shop-web", 180ll << 20}, {"shop-db", 420ll << 20}, {"scratch", 4ll << 20}};
    s.setStats(stats);
    DiskUsage usage;
    usage.total = 3'200'000'000;
    usage.containerSize = {{"shop-web", 12'000'000}, {"shop-db", 80'000'000}, {"blog-web", 2'000'000}};
    usage.candidates << Reclaimable{
        Reclaimable::Kind::Container,      "id-blog-web", "blog-web",  2'000'000, {},
        Reclaimable::Recovery::Restorable, "blog",        std::nullopt};
    s.setUsage(usage);
}

TEST_F(Detail, TheProjectsScreenAndTheDetailInBothLooksForTheGallery)
{
    Docker::setCoresForTesting(8);
    Docker::setPhysicalMemoryForTesting(16ull << 30);
    AppStore& s = showing();
    QTemporaryDir parent;
    fillForPictures(s, parent);

    EXPECT_EQ(TestSupport::renderToGallery(
                  "projects",
                  [&] {
                      auto content = std::make_unique<ProjectsContent>(s);
                      content->waitForFolders();
                      return content;
                  },
                  1000, 0)
                  .size(),
              2);
    const ComposeProject shop = s.projects().at(2);
    ASSERT_EQ(shop.name, "shop");
    const auto detail = [&] {
        auto page = std::make_unique<ProjectDetailContent>(s, shop);
        page->waitForFolder();
        return page;
    };
    EXPECT_EQ(TestSupport::renderToGallery("project-detail", detail, 900, 0).size(), 2);
    EXPECT_EQ(TestSupport::renderToGallery("project-detail-narrow", detail, 460, 0).size(), 2);
    Docker::setCoresForTesting(std::nullopt);
    Docker::setPhysicalMemoryForTesting(std::nullopt);
}

} // namespace
