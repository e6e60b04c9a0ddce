#include "app/parts/ContainerChip.h"
#include "app/parts/TroubleNotice.h"
#include "screens/ContainerCard.h"
#include "screens/ContainerMenu.h"
#include "screens/FolderChecks.h"
#include "screens/ProjectCard.h"
#include "screens/ProjectControls.h"
#include "screens/ProjectDetailContent.h"
#include "screens/ProjectsContent.h"
#include "screens/ProjectsView.h"

#include "ProjectsTesting.h"
#include "app/design/RunRing.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/EmptyState.h"
#include "app/parts/IPPill.h"
#include "app/parts/ProjectStatusLine.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/HomePath.h"
#include "platform/Pools.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAccessible>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

// The looks at project folders the screen makes, which may stall on a folder that does not answer.
class FolderChecksOnScreen : public ProjectsStore {};

} // namespace

// A project folder on a mount that stalls: its look waits on the pool while the window goes on
// answering and shows the other projects as they are. The stalled one says nothing about its folder
// (neither gone nor ready) until the look comes back, and is not asked again meanwhile.
TEST_F(FolderChecksOnScreen, AFolderCheckThatHangsLeavesTheWindowAnswering)
{
    QTemporaryDir parent;
    const QString stalled = projectFolder(parent, "stalled");
    const QString ready = projectFolder(parent, "ready");
    const auto released = std::make_shared<std::atomic<bool>>(false);
    const auto asked = std::make_shared<std::atomic<int>>(0);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        if (dir == stalled) {
            ++*asked;
            QDeadlineTimer limit(10000);
            while (!*released && !limit.hasExpired())
                QThread::msleep(5);
        }
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([&] {
        *released = true;
        FolderChecks::setCheckForTesting({});
    });
    ProjectRegistry registry;
    registry.add({"stalled", stalled, {"web"}}, "alpha");
    registry.add({"ready", ready, {"web"}}, "alpha");
    AppStore& s = showing();
    s.setRegistry(registry);

    QElapsedTimer clock;
    clock.start();
    ProjectsView view(s);
    view.show();
    bool ticked = false;
    QTimer::singleShot(0, &view, [&] { ticked = true; });
    ASSERT_TRUE(eventually([&] { return ticked; }, 2000));
    EXPECT_LT(clock.elapsed(), 2000) << "the window waited for the folder";

    ProjectCard* quick = view.content()->card("alpha/ready");
    ProjectCard* slow = view.content()->card("alpha/stalled");
    ASSERT_TRUE(quick && slow);
    ASSERT_TRUE(eventually([&] { return quick->controls()->offer().start; }, 5000));
    EXPECT_FALSE(slow->controls()->offer().start);
    EXPECT_FALSE(slow->controls()->offer().locate);
    EXPECT_FALSE(slow->findChild<RunRing*>()->dimmed());
    for (int poll = 0; poll < 3; ++poll)
        view.content()->checkFolders();
    EXPECT_EQ(*asked, 1);

    *released = true;
    EXPECT_TRUE(eventually([&] { return slow->controls()->offer().start; }, 5000));
}

// Project folders on a mount that stalls, more of them than any pool has threads, listed before one
// that answers: each holds up only its own look. The folder after them is looked at, none of them is
// asked again while its look is under way, a click's look at a healthy folder is not queued behind
// them, and the polling and the way out (which waits for the engine's pools) do not wait for them.
TEST(FolderLooks, StalledFoldersHoldUpOnlyTheirOwnLooks)
{
    QTemporaryDir parent;
    const QString ready = projectFolder(parent, "ready");
    const auto released = std::make_shared<std::atomic<bool>>(false);
    const auto asked = std::make_shared<std::atomic<int>>(0);
    const QDeadlineTimer limit(30000);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        if (dir != ready) {
            ++*asked;
            while (!*released && !limit.hasExpired())
                QThread::msleep(5);
        }
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([&] {
        *released = true;
        FolderChecks::setCheckForTesting({});
    });
    QList<ComposeProject> projects;
    for (int i = 0; i < 20; ++i)
        projects << ComposeProject{
            QStringLiteral("p%1").arg(i), QStringLiteral("/stalled/p%1").arg(i), {}, 0, {}};
    projects << ComposeProject{"ready", ready, {}, 0, {}};

    FolderChecks checks;
    checks.look(projects);
    ASSERT_TRUE(eventually([&] { return checks.result(projects.last()).known; }, 20000));
    EXPECT_TRUE(checks.result(projects.last()).atHand());
    EXPECT_FALSE(checks.result(projects.first()).known);
    for (int poll = 0; poll < 3; ++poll)
        checks.lookAgain(projects);
    settle();
    EXPECT_EQ(*asked, 20);

    const std::optional<bool> click =
        QCoro::waitFor(Platform::lookAtDisk(Platform::Looks::exists(ready), std::chrono::seconds(5)));
    EXPECT_EQ(click, true) << "a click's look waited behind the stalled folders";

    QElapsedTimer clock;
    clock.start();
    const QFuture<int> polling = QtConcurrent::run(Platform::Pools::utility(), [] { return 1; });
    EXPECT_TRUE(eventually([&] { return polling.isFinished(); }, 3000)) << "the polling waited for the looks";
    Platform::Pools::drain();
    EXPECT_LT(clock.elapsed(), 3000) << "the way out waited for the looks";
    EXPECT_TRUE(checks.looking());
}

// Nineteen folders on a mount that stalls between two that answer: once they have been found held up,
// each round looks at the two again, whichever side of the stalled ones they are listed on, and a compose
// file gone from either shows within the round.
TEST(FolderLooks, StalledFoldersLeaveTheOthersToEveryRound)
{
    QTemporaryDir parent;
    const QString before = projectFolder(parent, "before");
    const QString after = projectFolder(parent, "after");
    const auto released = std::make_shared<std::atomic<bool>>(false);
    const QDeadlineTimer limit(30000);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        while (dir != before && dir != after && !*released && !limit.hasExpired())
            QThread::msleep(5);
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([&] {
        *released = true;
        FolderChecks::setCheckForTesting({});
    });
    QList<ComposeProject> projects{{"before", before, {}, 0, {}}};
    for (int i = 0; i < 19; ++i)
        projects << ComposeProject{
            QStringLiteral("s%1").arg(i), QStringLiteral("/stalled/s%1").arg(i), {}, 0, {}};
    projects << ComposeProject{"after", after, {}, 0, {}};

    FolderChecks checks;
    checks.look(projects);
    ASSERT_TRUE(eventually(
        [&] { return checks.result(projects.first()).atHand() && checks.result(projects.last()).atHand(); },
        8000));
    ASSERT_TRUE(
        eventually([&] { return !checks.result(projects[1]).known && !checks.result(projects[19]).known; }));
    settle();

    for (const QString& dir : {before, after})
        ASSERT_TRUE(QFile::rename(dir + "/compose.yaml", dir + "/compose.yaml.off"));
    checks.lookAgain(projects);
    EXPECT_TRUE(eventually([&] { return checks.result(projects.first()).unusable(); }, 8000));
    EXPECT_TRUE(eventually([&] { return checks.result(projects.last()).unusable(); }, 8000));
    EXPECT_FALSE(checks.result(projects[10]).known);
}

// A folder that answered, then stalls: while its look is held up it reads as not known, so nothing is
// offered on the strength of what it held before; once the look is back it reads as it is.
TEST(FolderLooks, AFolderThatStallsIsNotKnownUntilItsLookIsBack)
{
    QTemporaryDir parent;
    const QString shop = projectFolder(parent, "shop");
    const auto stalls = std::make_shared<std::atomic<bool>>(false);
    const QDeadlineTimer limit(30000);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        while (*stalls && !limit.hasExpired())
            QThread::msleep(5);
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([&] {
        *stalls = false;
        FolderChecks::setCheckForTesting({});
    });
    const QList<ComposeProject> projects{{"shop", shop, {}, 0, {}}};
    FolderChecks checks;
    checks.look(projects);
    checks.wait();
    ASSERT_TRUE(checks.result(projects.first()).atHand());

    *stalls = true;
    checks.lookAgain(projects);
    EXPECT_TRUE(eventually([&] { return !checks.result(projects.first()).known; }, 5000));
    *stalls = false;
    checks.lookAgain(projects);
    EXPECT_TRUE(eventually([&] { return checks.result(projects.first()).atHand(); }, 5000));
}

// A project started from files of its own (`-f stack.yml`, in its folder or another) is ready while they
// are there, though its folder holds no compose file of the usual names, and has none once one is gone:
// remembered, by the files it was started from; running, by those its containers were made from.
TEST(FolderLooks, AProjectIsReadyByTheFilesItWasStartedFrom)
{
    QTemporaryDir parent;
    const QString run = parent.filePath("run");
    ASSERT_TRUE(QDir().mkpath(run));
    ASSERT_TRUE(QDir().mkpath(parent.filePath("deploy")));
    Container web;
    web.id = "c1";
    web.labels.insert(Docker::workingDirLabel, run);
    web.labels.insert(Docker::configFilesLabel, run + "/stack.yml");
    const struct {
        const char* what;
        QString stack;
        ComposeProject project;
    } rows[] = {
        {"remembered", parent.filePath("deploy/stack.yml"),
         {"shop", run, {}, 0, {}, {StartedFrom{parent.filePath("deploy/stack.yml"), run, {}}}}},
        {"running", run + "/stack.yml", {"shop", run, {web}}},
    };
    for (const auto& row : rows) {
        QFile file(row.stack);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << row.what;
        file.write("services: {}\n");
        file.close();
        const QList<ComposeProject> projects{row.project};
        FolderChecks checks;
        checks.look(projects);
        checks.wait();
        EXPECT_TRUE(checks.result(projects.first()).atHand()) << row.what;

        ASSERT_TRUE(QFile::remove(row.stack)) << row.what;
        checks.lookAgain(projects);
        checks.wait();
        EXPECT_TRUE(checks.result(projects.first()).unusable()) << row.what;
    }
}

// Refreshes that bring the same projects (statistics, a container stopping) start no folder check; a
// project in a folder not seen before has its folder looked at, and only that one.
TEST_F(FolderChecksOnScreen, ARefreshWithUnchangedProjectsStartsNoFolderCheck)
{
    QTemporaryDir parent;
    const QString shop = projectFolder(parent, "shop");
    const QString blog = projectFolder(parent, "blog");
    const QString media = projectFolder(parent, "media");
    const auto asked = std::make_shared<std::atomic<int>>(0);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        ++*asked;
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([] { FolderChecks::setCheckForTesting({}); });
    const Container shopWeb = inFolder(container("shop-web", "running", "shop"), shop);
    const Container blogWeb = inFolder(container("blog-web", "running", "blog"), blog);
    AppStore& s = showing({shopWeb, blogWeb});
    ProjectsContent content(s);
    content.show();
    content.waitForFolders();
    ASSERT_EQ(*asked, 2);
    const int jobs = content.folderChecks()->jobsStarted();

    LiveStats stats;
    stats.cpu = {{"shop-web", 1.5}};
    s.setStats(stats);
    settle();
    s.setContainers({inFolder(container("shop-web", "exited", "shop"), shop), blogWeb});
    settle();
    content.refresh();
    EXPECT_EQ(*asked, 2);
    EXPECT_EQ(content.folderChecks()->jobsStarted(), jobs);

    s.setContainers({shopWeb, blogWeb, inFolder(container("media-web", "running", "media"), media)});
    settle();
    content.waitForFolders();
    EXPECT_EQ(*asked, 3);
    EXPECT_EQ(content.folderChecks()->jobsStarted(), jobs + 1);
}

// The projects screen is made anew at each section switch. One left before its stalled looks were
// seen to be held up must still give them up, or they keep the disk pool's threads from every look
// after them.
TEST(FolderLooks, AScreenLeftAtOnceLeavesThePoolToTheLooksAfterIt)
{
    QTemporaryDir parent;
    const QString ready = projectFolder(parent, "ready");
    const auto released = std::make_shared<std::atomic<bool>>(false);
    const QDeadlineTimer limit(40000);
    FolderChecks::setCheckForTesting([=](const QString& dir) {
        while (dir != ready && !*released && !limit.hasExpired())
            QThread::msleep(5);
        return folderAt(dir);
    });
    const auto restore = qScopeGuard([&] {
        *released = true;
        FolderChecks::setCheckForTesting({});
    });
    QList<ComposeProject> projects;
    for (int i = 0; i < 6; ++i)
        projects << ComposeProject{
            QStringLiteral("p%1").arg(i), QStringLiteral("/stalled/p%1").arg(i), {}, 0, {}};
    {
        FolderChecks checks;
        checks.look(projects);
        QThread::msleep(100); // the user switches sections
    }
    QElapsedTimer clock;
    clock.start();
    const std::optional<bool> click =
        QCoro::waitFor(Platform::lookAtDisk(Platform::Looks::exists(ready), std::chrono::seconds(10)));
    EXPECT_EQ(click, true) << "a healthy folder's look after " << clock.elapsed() << " ms";
    FolderChecks later;
    later.look({ComposeProject{"ready", ready, {}, 0, {}}});
    EXPECT_TRUE(eventually(
        [&] {
            return later.result(ComposeProject{"ready", ready, {}, 0, {}}).known;
        },
        10000))
        << "the next screen's look at a healthy folder";
}
