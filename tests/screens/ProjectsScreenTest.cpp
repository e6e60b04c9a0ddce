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
#include "platform/HomePath.h"
#include "platform/Pools.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QAccessible>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QPointer>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

#include <gtest/gtest.h>

using namespace ProjectsTesting;

namespace {

class Screen : public ProjectsStore {};

bool shown(const QWidget* widget)
{
    return widget && !widget->isHidden();
}

// The sections shown, by name.
QString sectionsOf(const ProjectsContent& content)
{
    QStringList names;
    if (shown(content.findChild<QWidget*>("projectsSection")))
        names << "projects";
    if (shown(content.findChild<QWidget*>("looseCard")))
        names << "loose";
    if (shown(content.findChild<EmptyState*>()))
        names << "empty";
    return names.join(' ');
}

TEST_F(Screen, SectionsFollowTheFilteredListsWhileTheVitalsCountEverything)
{
    struct Row {
        const char* what;
        QList<Container> containers;
        QString filter;
        QString sections;
    };
    const QList<Row> rows = {
        {"nothing at all", {}, "", "empty"},
        {"only loose containers", {container("loose", "running")}, "", "loose"},
        {"only projects", {container("shop-web", "running", "shop")}, "", "projects"},
        {"both",
         {container("shop-web", "running", "shop"), container("loose", "exited")},
         "",
         "projects loose"},
        {"a filter matching nothing",
         {container("shop-web", "running", "shop"), container("loose", "exited")},
         "nothing",
         "empty"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppStore& s = showing(row.containers);
        s.setFilter(row.filter);
        ProjectsContent content(s);
        EXPECT_EQ(sectionsOf(content), row.sections);
    }
}

TEST_F(Screen, OnlyTheFirstProjectComposeCouldBringFurtherUpIsEmphasized)
{
    QTemporaryDir parent;
    const QString ready = projectFolder(parent, "ready");
    const QString bare = projectFolder(parent, "bare", false);
    const QString gone = parent.filePath("gone");
    const auto project = [](const QString& name, const std::optional<QString>& dir, int running, int stopped,
                            qint64 services) {
        ComposeProject p{name, dir, {}, services, std::nullopt};
        for (int i = 0; i < running; ++i)
            p.containers << container(QString("%1-r%2").arg(name).arg(i), "running", name);
        for (int i = 0; i < stopped; ++i)
            p.containers << container(QString("%1-s%2").arg(name).arg(i), "exited", name);
        return p;
    };
    struct Row {
        const char* what;
        QList<ComposeProject> projects;
        std::optional<QString> emphasized;
    };
    const QList<Row> rows = {
        {"no folder", {project("a", std::nullopt, 0, 3, 3)}, std::nullopt},
        {"folder gone", {project("a", gone, 0, 3, 3)}, std::nullopt},
        {"no compose file", {project("a", bare, 0, 3, 3)}, std::nullopt},
        {"2 services, 1 running", {project("a", ready, 1, 0, 2)}, "/a"},
        {"running as many as containers and services", {project("a", ready, 2, 0, 2)}, std::nullopt},
        {"remembered without containers", {project("a", ready, 0, 0, 1)}, "/a"},
        {"the earlier of two", {project("a", ready, 0, 1, 1), project("b", ready, 0, 1, 1)}, "/a"},
        {"the first that qualifies", {project("a", ready, 1, 0, 1), project("b", ready, 0, 1, 1)}, "/b"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QHash<QString, ProjectFolder> folders;
        for (const ComposeProject& p : row.projects)
            folders.insert(p.id(), folderOf(p));
        EXPECT_EQ(ProjectsContent::emphasized(row.projects, folders), row.emphasized);
    }
}

// The card's rules for projects whose folder is not usable, on one fixture store.
TEST_F(Screen, RememberedMissingAndBareProjects)
{
    QTemporaryDir parent;
    const QString ready = projectFolder(parent, "ready");
    const QString bare = projectFolder(parent, "bare", false);
    struct Row {
        const char* what;
        QString name;
        QString dir;
        QList<Container> containers;
        qint64 total;
        bool dimmed;
        bool chips;
    };
    const QList<Row> rows = {
        {"remembered, folder ready", "kept", ready, {}, 2, false, false},
        {"remembered, folder removed", "moved", parent.filePath("gone"), {}, 2, true, false},
        {"no compose file",
         "bare",
         bare,
         {inFolder(container("bare-web", "exited", "bare"), bare)},
         2,
         true,
         true},
    };
    ProjectRegistry registry;
    QList<Container> all;
    for (const Row& row : rows) {
        registry.add({row.name, row.dir, {"web", "db"}}, "alpha");
        all << row.containers;
    }
    AppStore& s = showing(all);
    s.setRegistry(registry);
    ProjectsContent content(s);
    content.waitForFolders();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ProjectCard* card = content.card("alpha/" + row.name);
        ASSERT_TRUE(card);
        const RunRing* ring = card->findChild<RunRing*>();
        EXPECT_EQ(ring->running(), 0);
        EXPECT_EQ(ring->total(), row.total);
        EXPECT_EQ(ring->dimmed(), row.dimmed);
        EXPECT_EQ(shown(card->findChild<QWidget*>("chips")), row.chips);
        EXPECT_FALSE(card->findChild<QWidget*>("projectNote")->isVisibleTo(card)); // one runtime shown
    }
}

// A runtime that takes the connection and never answers: the tiles have no figure and say so, the
// remembered project is still listed, and with none the empty state says the runtime is not
// answering instead of offering to add to a runtime with no projects. Its first answer brings the
// counts, none included.
TEST_F(Screen, ARuntimeThatNeverAnsweredClaimsNoCount)
{
    engine->failListing(alpha, "alpha is not answering.");
    AppStore& s = storeOn({entry(alpha, true, true)}, alpha);
    ProjectRegistry registry;
    registry.add({"kept", "/srv/kept", {"web"}}, "alpha");
    s.setRegistry(registry);
    ProjectsContent content(s);
    run(s.show(false));
    settle();

    const auto vital = [&](const char* name) { return content.findChild<VitalCard*>(name); };
    const auto caption = [&](const char* name) {
        return content.findChild<VitalCaption*>(name)->plainText();
    };
    for (const char* tile : {"containersVital", "processorVital", "memoryVital", "diskVital"})
        EXPECT_EQ(vital(tile)->value(), std::nullopt) << tile;
    for (const char* name : {"containersCaption", "processorCaption", "memoryCaption", "diskCaption"})
        EXPECT_EQ(caption(name), "Not measured") << name;
    EXPECT_TRUE(content.card("alpha/kept"));
    EXPECT_EQ(sectionsOf(content), "projects");

    s.setRegistry({});
    settle();
    EXPECT_EQ(sectionsOf(content), "empty");
    auto* empty = content.findChild<EmptyState*>();
    EXPECT_EQ(empty->findChild<VoskLabel*>("emptyTitle")->plainText(), "alpha is not answering");
    EXPECT_FALSE(empty->findChild<QWidget*>("addProjectButton")->isVisibleTo(empty));

    listing(alpha, {});
    run(s.refresh(false));
    // A refresh does not wait for a runtime that was silent: its answer comes when it comes.
    ASSERT_TRUE(eventually([&] { return !s.listingUnderWay(); }));
    settle();
    EXPECT_EQ(vital("containersVital")->value(), "0");
    EXPECT_EQ(caption("containersCaption"), "Nothing stopped");
    EXPECT_EQ(empty->findChild<VoskLabel*>("emptyTitle")->plainText(), "No projects");
    EXPECT_TRUE(empty->findChild<QWidget*>("addProjectButton")->isVisibleTo(empty));
}

// A runtime that has not answered a listing, whether still awaited, silent, or silent beside another
// that answers: its remembered project says so and nothing of what it runs, and neither its card, its
// menu nor its detail offers what needs the engine; "Remove from Voskel" stays. Its answer brings back
// the state and Start.
TEST_F(Screen, ARememberedProjectOfARuntimeThatHasNotAnsweredClaimsNoState)
{
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "kept");
    const struct {
        const char* what;
        bool all;
        bool silent;
        QString says;
    } rows[] = {
        {"awaited", false, false, "Waiting for beta\u2026"},
        {"silent", false, true, "beta is not answering"},
        {"silent beside one that answers", true, true, "beta is not answering"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        listing(alpha, {});
        std::shared_ptr<Gate> awaited;
        if (row.silent)
            engine->failListing(beta, "beta is not answering.");
        else
            awaited = engine->hold(ScriptedEngine::Call::Containers, beta);
        makeStore();
        AppStore& s = storeOn(row.all ? QList{entry(alpha), entry(beta)} : QList{entry(beta)}, beta);
        ProjectRegistry registry;
        registry.add({"kept", dir, {"web", "db"}}, "beta");
        s.setRegistry(registry);
        ProjectsContent content(s);
        auto shown = s.show(row.all);
        if (row.silent)
            run(std::move(shown));
        settle();
        content.waitForFolders();

        ProjectCard* card = content.card("beta/kept");
        ASSERT_TRUE(card);
        const auto claims = [&](const QWidget* on, const ProjectControls* controls) {
            const RunRing* ring = on->findChild<RunRing*>();
            QStringList seen{on->findChild<ProjectStatusLine*>()->text(), ring->countText()};
            for (const char* button : {"startButton", "stopButton", "freeButton"})
                if (controls->findChild<QWidget*>(button)->isVisibleTo(controls))
                    seen << button;
            for (QAction* item : controls->menu()->actions())
                if (item->isVisible() && item->isEnabled() && !item->isSeparator())
                    seen << item->objectName();
            return seen.join(' ');
        };
        const QString unknown = row.says + " \u2014/2 revealAction forgetAction";
        EXPECT_EQ(claims(card, card->controls()), unknown);
        EXPECT_EQ(content.emphasizedId(), std::nullopt);
        ProjectDetailContent detail(s, s.projects().constFirst(), nullptr, content.folderChecks());
        EXPECT_EQ(claims(&detail, detail.findChild<ProjectControls*>()), unknown);
        EXPECT_EQ(detail.findChild<VoskLabel*>("noContainers")->plainText(),
                  "Its containers are not known until beta answers.");

        listing(beta, {});
        if (awaited) {
            awaited->open();
            run(std::move(shown));
        } else {
            run(s.refresh(false));
            ASSERT_TRUE(eventually([&] { return !s.listingUnderWay(); }));
        }
        settle();
        detail.setProject(s.projects().constLast());
        EXPECT_EQ(claims(card, card->controls()),
                  "Not running 0/2 startButton revealAction forgetAction deleteAction");
        EXPECT_EQ(content.emphasizedId(), "beta/kept");
        EXPECT_EQ(claims(&detail, detail.findChild<ProjectControls*>()),
                  "Not running 0/2 startButton revealAction forgetAction deleteAction");
    }
}

// Containers whose project label is empty form a project of no name: it is named wherever a project
// is, and told apart from a project really called so. Its Down removes the containers one by one and
// says so.
TEST_F(Screen, ANamelessGroupIsNamedAndToldFromAProjectCalledSo)
{
    Container odd = container("odd");
    odd.labels.insert(Docker::projectLabel, QString());
    const Container called = container("called", "running", "(no name)");
    AppStore& s = showing({odd, called});
    s.setStats(LiveStats{{{"odd", 60.0}, {"called", 1.0}}, {{"odd", 3'500'000}, {"called", 1000}}});
    ProjectsContent content(s);
    settle();

    const auto title = [&](const QString& id) {
        const VoskLabel* name = content.card(id)->findChild<VoskLabel*>("projectName");
        return std::pair{name->plainText(), &name->ink() == &Vosk::muted};
    };
    EXPECT_EQ(title("alpha/"), std::pair(QString("(no name)"), true));
    EXPECT_EQ(title("alpha/(no name)"), std::pair(QString("\u201C(no name)\u201D"), false));
    const auto caption = [&](const char* name) {
        return content.findChild<VitalCaption*>(name)->plainText();
    };
    EXPECT_TRUE(caption("processorCaption").startsWith("Busiest: (no name), "))
        << caption("processorCaption").toStdString();
    EXPECT_TRUE(caption("memoryCaption").startsWith("Biggest: (no name), "))
        << caption("memoryCaption").toStdString();
    EXPECT_EQ(ContainerCard::face(s, odd, false).detail, "(no name) \u00B7 busybox:latest");
    EXPECT_EQ(ContainerCard::face(s, called, false).detail, "\u201C(no name)\u201D \u00B7 busybox:latest");

    const QString down = ProjectControls::downMessage(content.card("alpha/")->project());
    EXPECT_TRUE(down.startsWith("Removes the 1 container one by one; no network goes with them."))
        << down.toStdString();
}

TEST_F(Screen, CardsAreKeptByProjectIdAcrossRefreshes)
{
    AppStore& s =
        showing({container("shop-web", "running", "shop"), container("blog-web", "exited", "blog")});
    ProjectsContent content(s);
    ProjectCard* shop = content.card("alpha/shop");
    ProjectCard* blog = content.card("alpha/blog");
    ASSERT_TRUE(shop && blog);
    auto* stop = shop->findChild<VoskButton*>("stopButton");

    s.setContainers({container("shop-web", "exited", "shop"), container("blog-web", "running", "blog"),
                     container("zoo-web", "running", "zoo")});
    settle();
    EXPECT_EQ(content.card("alpha/shop"), shop);
    EXPECT_EQ(content.card("alpha/blog"), blog);
    EXPECT_EQ(shop->findChild<VoskButton*>("stopButton"), stop);
    EXPECT_TRUE(stop->isHidden()); // updated in place: nothing runs any more
    EXPECT_TRUE(content.card("alpha/zoo"));

    s.setContainers({container("blog-web", "running", "blog")});
    settle();
    EXPECT_FALSE(content.card("alpha/shop"));
    EXPECT_EQ(content.card("alpha/blog"), blog);
}

TEST_F(Screen, TwoRuntimesOnOneEngineKeepACardEachForTheSameContainerId)
{
    // Two contexts on one engine list the same container under one identifier.
    const auto on = [](const Runtime& runtime) {
        Container c = container("tool", "running");
        c.runtime = runtime;
        return c;
    };
    AppStore& s = showing({on(alpha), on(beta)});
    s.setRuntimes({entry(alpha), entry(beta)});
    s.setShowAll(true);
    ProjectsContent content(s);
    QList<ContainerCard*> cards = content.findChild<QWidget*>("looseCard")->findChildren<ContainerCard*>();
    ASSERT_EQ(cards.size(), 2);
    const QPointer<ContainerCard> onBeta =
        cards.at(0)->container().runtime == beta ? cards.at(0) : cards.at(1);

    // alpha stops answering: beta's card stays beta's, so its open menu still acts on beta's container.
    s.setContainers({on(beta)});
    settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(onBeta);
    EXPECT_FALSE(onBeta->isHidden());
    EXPECT_EQ(onBeta->container().runtime, beta);
    EXPECT_EQ(onBeta->menu()->container().runtime, beta);
}

// The folder changes on disk while nothing the store lists does: the screen follows as the user comes
// back to the window, on the list and on the detail, and a project whose folder went is no longer
// offered a compose up that would do nothing.
TEST_F(Screen, TheScreenFollowsAFolderThatGoesOrComesWhileTheListingsStayTheSame)
{
    QWidget elsewhere;
    elsewhere.show();
    // The user goes to another window and comes back.
    const auto comeBack = [&](QWidget& window) {
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    };
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "kept");
    ProjectRegistry registry;
    registry.add({"kept", dir, {"web"}}, "alpha");
    AppStore& s = showing();
    s.setRegistry(registry);
    QWidget window;
    ProjectsView view(s);
    view.setParent(&window);
    view.resize(900, 700);
    window.show();
    ProjectCard* card = view.content()->card("alpha/kept");
    ASSERT_TRUE(card);
    const auto offered = [](ProjectControls* controls) { return controls->offer(); };
    ASSERT_TRUE(eventually([&] { return offered(card->controls()).start; }, 5000));

    ASSERT_TRUE(QDir(dir).removeRecursively());
    comeBack(window);
    ASSERT_TRUE(eventually([&] { return offered(card->controls()).locate; }, 5000));
    EXPECT_FALSE(offered(card->controls()).start);
    EXPECT_TRUE(card->findChild<RunRing*>()->dimmed());
    EXPECT_EQ(view.content()->card("alpha/kept"), card);

    QTest::mouseClick(card->findChild<VoskButton*>("detailsButton"), Qt::LeftButton);
    ASSERT_TRUE(view.detail());
    projectFolder(parent, "kept");
    comeBack(window);
    ASSERT_TRUE(eventually([&] { return offered(view.detail()->controls()).start; }, 5000));
    EXPECT_FALSE(offered(view.detail()->controls()).locate);
    EXPECT_EQ(view.detail()->findChild<VoskLabel*>("workingDirectory")->plainText(),
              Platform::abbreviatingHome(dir));
}

// Addresses come with the statistics, apart from the listings: the cards of the projects screen show
// one as soon as it arrives, as the containers screen does, on the loose cards and on a detail.
TEST_F(Screen, AnAddressThatArrivesShowsOnTheLooseCardsAndOnTheDetail)
{
    AppStore& s = makeStore();
    s.setRuntimes({entry(apple, true, true)});
    s.setRuntime(apple);
    s.setContainers({container("loose", "running"), container("shop-web", "running", "shop")});
    ProjectsView view(s);
    view.show();
    const auto ipOn = [](const QWidget* holder) {
        const IPPill* pill = holder ? holder->findChild<IPPill*>() : nullptr;
        return pill && pill->isVisibleTo(holder) ? pill->ip() : QString();
    };
    const QWidget* loose = view.content()->findChild<QWidget*>("looseCard");
    ASSERT_TRUE(loose);
    EXPECT_EQ(ipOn(loose), "");

    s.setAddresses({{"loose", "192.168.64.2"}});
    EXPECT_TRUE(eventually([&] { return ipOn(loose) == "192.168.64.2"; }, 2000));

    QTest::mouseClick(view.content()->card("apple-container/shop")->findChild<VoskButton*>("detailsButton"),
                      Qt::LeftButton);
    ASSERT_TRUE(view.detail());
    s.setAddresses({{"loose", "192.168.64.2"}, {"shop-web", "192.168.64.3"}});
    EXPECT_TRUE(eventually([&] { return ipOn(view.detail()) == "192.168.64.3"; }, 2000));
}

TEST_F(Screen, TheDetailFollowsTheOpenedIdThroughRefreshesAndGoesBackWhenItLeaves)
{
    AppStore& s =
        showing({container("shop-web", "running", "shop"), container("blog-web", "running", "blog")});
    ProjectsView view(s);
    view.show();
    ProjectCard* card = view.content()->card("alpha/shop");
    ASSERT_TRUE(card);
    QTest::mouseClick(card->findChild<VoskButton*>("detailsButton"), Qt::LeftButton);
    ASSERT_TRUE(view.detail());
    EXPECT_EQ(view.opened(), "alpha/shop");
    EXPECT_TRUE(view.content()->isHidden());
    ProjectDetailContent* detail = view.detail();

    // A refresh keeps the same page and shows the new state.
    s.setContainers({container("shop-web", "exited", "shop"), container("blog-web", "running", "blog")});
    settle();
    EXPECT_EQ(view.detail(), detail);
    EXPECT_EQ(detail->project().runningCount(), 0);

    // Filtered out: the list; listed again: the detail comes back by itself.
    s.setFilter("blog");
    settle();
    EXPECT_FALSE(view.detail());
    EXPECT_FALSE(view.content()->isHidden());
    s.setFilter("");
    settle();
    ASSERT_TRUE(view.detail());

    QTest::mouseClick(view.detail()->findChild<VoskButton*>("backButton"), Qt::LeftButton);
    settle();
    EXPECT_FALSE(view.detail());
    EXPECT_EQ(view.opened(), std::nullopt);
    EXPECT_FALSE(view.content()->isHidden());
}

} // namespace

namespace {

// What would redraw or lay out again inside `root`, by class and object name.
class RedrawCounter : public QObject {
public:
    explicit RedrawCounter(QWidget* root) : m_root(root) { qApp->installEventFilter(this); }
    ~RedrawCounter() override { qApp->removeEventFilter(this); }

    QStringList seen;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Paint || type == QEvent::UpdateRequest || type == QEvent::LayoutRequest) &&
            target->isWidgetType() &&
            (target == m_root || m_root->isAncestorOf(static_cast<QWidget*>(target))))
            seen << QStringLiteral("%1 %2 %3")
                        .arg(target->metaObject()->className(), target->objectName())
                        .arg(int(type));
        return false;
    }

private:
    QWidget* m_root;
};

// Runs the event loop until `root` has redrawn nothing for a while.
void quieten(QWidget* root)
{
    RedrawCounter watch(root);
    QElapsedTimer still;
    still.start();
    const QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!watch.seen.isEmpty()) {
            watch.seen.clear();
            still.restart();
        } else if (still.elapsed() > 400) {
            return;
        }
    }
    ADD_FAILURE() << "the screen kept redrawing";
}

} // namespace

TEST_F(Screen, AStatisticsPollOrAStatusThatChangesNothingDrawnRedrawsNothing)
{
    const auto listing = [](const QString& uptime) {
        QList<Container> containers;
        for (const char* project : {"shop", "blog", "media"}) {
            Container c = container(QStringLiteral("%1-web").arg(project), "running", project);
            c.status = uptime;
            containers << c;
        }
        return containers;
    };
    const auto statistics = [](double cpu, qint64 memory) {
        LiveStats stats;
        for (const char* name : {"shop-web", "blog-web", "media-web"}) {
            stats.cpu.insert(name, cpu);
            stats.memory.insert(name, memory);
        }
        return stats;
    };
    AppStore& s = showing(listing("Up 5 seconds"));
    s.setStats(statistics(0.02, 312 << 10));
    ProjectsView view(s);
    view.resize(1000, 800);
    view.show();
    quieten(&view);

    RedrawCounter counter(&view);
    s.setStats(statistics(0.03, (312 << 10) + 96));
    quieten(&view);
    EXPECT_EQ(counter.seen, QStringList());
    counter.seen.clear();
    s.setContainers(listing("Up 7 seconds"));
    quieten(&view);
    EXPECT_EQ(counter.seen, QStringList());
    auto* chip = view.content()->card("alpha/blog")->findChild<ContainerChip*>();
    ASSERT_NE(chip, nullptr);
    // The tooltip follows once the pointer comes over the chip.
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(chip, &enter);
    EXPECT_TRUE(chip->toolTip().contains(QStringLiteral("Up 7 seconds"))) << chip->toolTip().toStdString();
    QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(chip);
    ASSERT_NE(spoken, nullptr);
    EXPECT_TRUE(spoken->text(QAccessible::Name).endsWith(QStringLiteral(", Up 7 seconds")))
        << spoken->text(QAccessible::Name).toStdString();

    // A figure that does change redraws its own card and no other.
    LiveStats grown = statistics(0.03, (312 << 10) + 96);
    grown.memory["blog-web"] = 40 << 20;
    counter.seen.clear();
    RedrawCounter others(view.content()->card("alpha/shop"));
    RedrawCounter blog(view.content()->card("alpha/blog"));
    s.setStats(grown);
    quieten(&view);
    EXPECT_FALSE(blog.seen.isEmpty());
    EXPECT_EQ(others.seen, QStringList());

    // A status text that says more than the time is drawn in full: here a trouble notice.
    QList<Container> unhealthy = listing("Up 9 seconds");
    unhealthy[1].status = QStringLiteral("Up 9 seconds (unhealthy)");
    s.setContainers(unhealthy);
    quieten(&view);
    EXPECT_NE(view.content()->card("alpha/blog")->findChild<TroubleNotice*>(), nullptr);
    EXPECT_EQ(view.content()->card("alpha/shop")->findChild<TroubleNotice*>(), nullptr);
}
