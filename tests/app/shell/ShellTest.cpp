#include "ShellFixture.h"

#include "app/design/BusyIndicator.h"
#include "app/design/PullDownButton.h"
#include "app/design/Theme.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Banner.h"
#include "app/shell/ContentView.h"
#include "app/shell/MenuBarView.h"
#include "app/shell/MenuRow.h"
#include "app/shell/NavItem.h"
#include "app/shell/RuntimePicker.h"
#include "app/shell/Scenes.h"
#include "app/shell/Sidebar.h"
#include "app/shell/VolumesView.h"
#include "screens/CloneProjectView.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace ShellTesting;
using TestSupport::eventually;

const Runtime work = Runtime::context("work");
const Runtime home = Runtime::context("home");

TEST(RuntimePicker, EntriesAndSelection)
{
    Fixture f;
    RuntimePicker picker(f.store, TextStyles::monoField);
    EXPECT_EQ(picker.count(), 0);
    EXPECT_EQ(picker.currentIndex(), -1);

    // One runtime: that entry alone, no divider, no "All runtimes".
    f.store.setRuntimes({entry("work", false, true)});
    EXPECT_EQ(picker.count(), 1);
    EXPECT_EQ(picker.itemText(0), "work \u00B7 current \u00B7 offline");
    EXPECT_EQ(picker.currentIndex(), -1); // nothing chosen yet
    // Show-all with one listed (the other gone): no entry carries the tag, and the one listed, which is
    // all there is to show, is shown as chosen.
    f.store.setShowAll(true);
    EXPECT_EQ(picker.currentIndex(), 0);
    f.store.setRuntimes({});
    EXPECT_EQ(picker.currentIndex(), -1);

    f.store.setRuntimes({entry("work", true, true), entry("home")});
    EXPECT_EQ(picker.tags(), QStringList({"work", "home", AppStore::allRuntimesTag()}));
    EXPECT_EQ(picker.itemText(picker.currentIndex()), "All runtimes");
    EXPECT_EQ(picker.itemText(0), "work \u00B7 current");
    EXPECT_EQ(picker.itemText(1), "home");
    f.store.setShowAll(false);
    f.store.setRuntime(home);
    EXPECT_EQ(picker.currentText(), "home");

    // A runtime whose socket is there but whose listing did not answer says so, until it answers.
    f.engine->failListing(home, "home is not answering.");
    QCoro::waitFor(f.store.refresh(false));
    EXPECT_EQ(picker.currentText(), "home \u00B7 not answering");
    EXPECT_EQ(picker.itemText(0), "work \u00B7 current");
    f.engine->setListing(home, {});
    QCoro::waitFor(f.store.refresh(false));
    ASSERT_TRUE(eventually([&] { return picker.currentText() == "home"; }));
}

TEST(RuntimePicker, ChoosingGoesToTheStore)
{
    Fixture f;
    f.engine->setDiscovery({{entry("work"), entry("home")}, work});
    f.store.setRuntimes({entry("work"), entry("home")});
    f.store.setRuntime(work);
    RuntimePicker picker(f.store, TextStyles::monoField);

    // "All runtimes" keeps the chosen runtime; a runtime while all are shown turns show-all off.
    picker.activated(picker.findData(AppStore::allRuntimesTag()));
    ASSERT_TRUE(eventually([&] { return f.store.showAll(); }));
    EXPECT_EQ(f.store.runtime(), work);
    picker.activated(picker.findData("home"));
    ASSERT_TRUE(eventually([&] { return !f.store.showAll(); }));
    EXPECT_EQ(f.store.runtime(), home);
    EXPECT_EQ(picker.currentText(), "home");
}

TEST(Sidebar, CountsFollowTheFilterAndTheChoiceIsRemembered)
{
    Fixture f;
    f.store.setContainers({container("web", "running"), container("db", "exited")});
    f.store.setImages({image("sha1", "nginx", "latest"), image("sha2", "redis", "7")});
    f.store.setVolumes({volume("webdata"), volume("cache")});
    f.settings->setValue("category", "Images");
    ContentView window(f.store, f.toolchain, f.preferences);
    settle();
    Sidebar* sidebar = window.sidebar();
    EXPECT_EQ(window.category(), Category::images);
    EXPECT_TRUE(sidebar->item(Category::images)->selected());
    EXPECT_EQ(sidebar->item(Category::containers)->count(), 2);
    EXPECT_EQ(sidebar->item(Category::images)->count(), 2);
    EXPECT_EQ(sidebar->item(Category::volumes)->count(), 2);

    window.findChild<QLineEdit*>("filterField")->setText("web");
    settle();
    EXPECT_EQ(sidebar->item(Category::containers)->count(), 1);
    EXPECT_EQ(sidebar->item(Category::images)->count(), 0);
    EXPECT_EQ(sidebar->item(Category::volumes)->count(), 1);

    // The text stays when the section changes, and the prompt stays the same.
    QTest::mouseClick(sidebar->item(Category::volumes), Qt::LeftButton);
    EXPECT_EQ(window.category(), Category::volumes);
    EXPECT_EQ(f.settings->string("category"), "Volumes");
    EXPECT_EQ(window.windowTitle(), "Volumes");
    EXPECT_EQ(f.store.filter(), "web");
    EXPECT_EQ(window.findChild<QLineEdit*>("filterField")->placeholderText(), "Filter containers");
    ASSERT_NE(window.findChild<VolumesView*>(), nullptr);
}

TEST(ContentView, AddProjectOnlyOnProjectsAndANewScreenPerSection)
{
    Fixture f;
    ContentView window(f.store, f.toolchain, f.preferences);
    window.show();
    auto* add = window.findChild<PullDownButton*>("addProjectButton");
    settle();
    ASSERT_NE(add, nullptr);
    struct Row {
        Category category;
        bool addShown;
        const char* screen;
    };
    for (const Row& row :
         {Row{Category::images, false, "imagesView"}, Row{Category::volumes, false, "volumesView"},
          Row{Category::containers, false, "containersView"},
          Row{Category::projects, true, "projectsView"}}) {
        window.setCategory(row.category);
        settle();
        EXPECT_EQ(add->isVisible(), row.addShown) << rawValue(row.category).toStdString();
        EXPECT_EQ(window.detail()->objectName(), row.screen);
    }
    // A half-typed reference goes with the screen that held it.
    window.setCategory(Category::images);
    window.findChild<QLineEdit*>("pullField")->setText("half");
    window.setCategory(Category::volumes);
    window.setCategory(Category::images);
    settle();
    EXPECT_EQ(window.detail()->findChild<QLineEdit*>("pullField")->text(), "");
    EXPECT_GE(window.minimumWidth(), 640);
    EXPECT_GE(window.minimumHeight(), 480);
}

TEST(ContentView, TheWindowAndTheTrayPanelShowWhileTheStoreIsBusy)
{
    Fixture f;
    ContentView window(f.store, f.toolchain, f.preferences);
    MenuBarView panel(f.store, f.toolchain);
    window.show();
    panel.show();
    settle();
    auto* inWindow = window.findChild<BusyIndicator*>("busyIndicator");
    auto* inPanel = panel.findChild<BusyIndicator*>("busyIndicator");
    ASSERT_NE(inWindow, nullptr);
    ASSERT_NE(inPanel, nullptr);
    EXPECT_FALSE(inWindow->isVisible());
    EXPECT_FALSE(inPanel->isVisible());

    AppStore::BusyHold busy = f.store.holdBusy();
    settle();
    EXPECT_TRUE(inWindow->isVisible() && inWindow->turning());
    EXPECT_TRUE(inPanel->isVisible() && inPanel->turning());
    busy.release();
    settle();
    EXPECT_FALSE(inWindow->isVisible() || inWindow->turning());
    EXPECT_FALSE(inPanel->isVisible() || inPanel->turning());

    // A press of Refresh shows it too, until the refresh it asked for has ended.
    f.engine->setDiscovery({{entry("work", true, true)}, work});
    const auto discovery = f.engine->hold(StoreTesting::ScriptedEngine::Call::Runtimes);
    QTest::mouseClick(window.findChild<QWidget*>("refreshButton"), Qt::LeftButton);
    ASSERT_TRUE(discovery->waitArrived());
    settle();
    EXPECT_TRUE(inWindow->isVisible() && inPanel->isVisible());
    discovery->open();
    EXPECT_TRUE(eventually([&] { return !inWindow->isVisible() && !inPanel->isVisible(); }));
}

TEST(ContentView, AddingFromAFolderAsksForTheFolderAndTheRuntime)
{
    Fixture f;
    f.store.setRuntimes({entry("alpha"), entry("beta")});
    f.store.setRuntime(Runtime::context("beta"));
    TestSupport::RecordingHost host;
    host.answerFolder(std::nullopt);
    ContentView window(f.store, f.toolchain, f.preferences);
    auto* menu = window.findChild<QMenu*>("addProjectMenu");
    ASSERT_NE(menu, nullptr);
    menu->actions().first()->trigger();
    settle();
    ASSERT_EQ(host.folderRequests.size(), 1);
    EXPECT_EQ(host.folderRequests[0].choices, (QStringList{"alpha", "beta"}));
    EXPECT_EQ(host.folderRequests[0].chosen, 1);
    EXPECT_EQ(f.store.error(), std::nullopt); // cancelled: nothing to say

    // The menu's other entry opens the clone form over the window.
    window.findChild<QAction*>("cloneAction")->trigger();
    EXPECT_NE(window.findChild<CloneProjectView*>("cloneProjectSheet"), nullptr);
}

// Waits for a banner to finish sliding in or out.
bool in(Banner* banner)
{
    return eventually([banner] { return banner->shownFraction() == 1; }, 3000);
}

bool out(Banner* banner)
{
    return eventually([banner] { return banner->shownFraction() == 0; }, 3000);
}

// Tab goes as the window reads: the tool bar, the sidebar, the banner, then each card from its
// heading down, also to the address pill and the trouble notice a card makes after its other buttons.
TEST(ContentView, TabFollowsTheOrderOnScreen)
{
    Fixture f;
    Container web = container("web", "running", "shop");
    web.ports = "0.0.0.0:8080->80/tcp";
    Container db = container("db", "exited", "shop");
    db.status = "Exited (1) 2 minutes ago";
    f.store.setContainers({web, db, container("api", "running", "zoo")});
    f.store.setError(QString("alpha is not answering."));
    ContentView window(f.store, f.toolchain, f.preferences);
    settle();
    EXPECT_EQ(TestSupport::tabStops(window, 19).join(' '),
              "runtimePicker refreshButton addProjectButton filterField "
              "projectsNavButton containersNavButton imagesNavButton volumesNavButton dismissErrorButton "
              "detailsButton addressPill viewLogsButton startButton stopButton projectMenuButton "
              "detailsButton stopButton projectMenuButton runtimePicker");
}

// Until the runtime shown has answered a listing neither the sidebar nor the tray panel counts
// anything, not even none.
TEST(Sidebar, NoCountsBeforeTheRuntimeHasAnswered)
{
    Fixture f;
    f.store.setRuntimes({entry("alpha", true, true)});
    f.store.setRuntime(Runtime::context("alpha"));
    f.engine->failListing(Runtime::context("alpha"), "alpha is not answering.");
    MenuBarView panel(f.store, f.toolchain);
    // Not waited for with a loop of its own: an earlier test may have asked the application to quit,
    // which ends every new loop at once.
    f.store.show(false);
    ASSERT_TRUE(TestSupport::eventually([&] { return f.store.refreshError().has_value(); }));
    settle();
    EXPECT_EQ(panel.findChild<VoskLabel*>("runningCounter")->plainText(), "\u2014");
    EXPECT_EQ(panel.findChild<VoskLabel*>("noContainers")->plainText(), "alpha is not answering");
    for (const Category category :
         {Category::projects, Category::containers, Category::images, Category::volumes})
        EXPECT_EQ(Sidebar::count(f.store, category), std::nullopt) << rawValue(category).toStdString();

    f.engine->setListing(Runtime::context("alpha"), {{container("web", "running")}, {}, {}});
    f.store.refresh(false);
    ASSERT_TRUE(TestSupport::eventually([&] { return f.store.listed(); }));
    EXPECT_EQ(Sidebar::count(f.store, Category::containers), 1);
    EXPECT_EQ(Sidebar::count(f.store, Category::images), 0);
    settle();
    EXPECT_EQ(panel.findChild<VoskLabel*>("runningCounter")->plainText(), "1/1");
}

TEST(ContentView, BannersComeAndGoWithTheStores)
{
    Fixture f;
    ContentView window(f.store, f.toolchain, f.preferences);
    window.show();
    f.store.setError(QStringLiteral("docker: no such image"));
    f.store.setNotice(QStringLiteral("work is not answering; showing home."));
    EXPECT_TRUE(in(window.errorBanner()) && in(window.noticeBanner()));
    EXPECT_LT(window.errorBanner()->y(), window.noticeBanner()->y());
    EXPECT_EQ(window.errorBanner()->shownText(), "docker: no such image");

    QTest::mouseClick(window.findChild<VoskButton*>("dismissErrorButton"), Qt::LeftButton);
    EXPECT_EQ(f.store.error(), std::nullopt);
    EXPECT_EQ(f.store.notice(), "work is not answering; showing home.");
    EXPECT_TRUE(out(window.errorBanner()));
    EXPECT_TRUE(window.errorBanner()->isHidden());
    EXPECT_TRUE(window.noticeBanner()->isVisible());

    // The update banner: pending updates only, gone after Dismiss until a newer version is offered.
    EXPECT_TRUE(window.updateBanner()->isHidden());
    Tool colima;
    colima.formula = "colima";
    colima.name = "Colima";
    colima.binary = "colima";
    colima.installed = "0.6.0";
    colima.latest = "0.7.0";
    colima.brewManaged = true;
    f.toolchain.setTools({colima});
    EXPECT_TRUE(in(window.updateBanner()));
    EXPECT_EQ(window.updateBanner()->shownText(), f.toolchain.noticeText());
    QSignalSpy settings(&window, &ContentView::settingsRequested);
    QTest::mouseClick(window.findChild<VoskButton*>("updateInSettingsButton"), Qt::LeftButton);
    EXPECT_EQ(settings.count(), 1);
    QTest::mouseClick(window.findChild<VoskButton*>("dismissUpdateButton"), Qt::LeftButton);
    EXPECT_TRUE(out(window.updateBanner()));
    colima.latest = "0.8.0";
    f.toolchain.setTools({colima});
    EXPECT_TRUE(in(window.updateBanner()));
}

TEST(MenuBarView, Lines)
{
    Fixture f;
    MenuBarView panel(f.store, f.toolchain);
    panel.show();
    auto* nothing = panel.findChild<QWidget*>("noContainers");
    auto* counter = panel.findChild<VoskLabel*>("runningCounter");
    EXPECT_TRUE(nothing->isVisible());
    EXPECT_EQ(counter->plainText(), "0/0");
    EXPECT_TRUE(MenuBarView::lines(f.store).isEmpty());

    // A remembered project without containers: its header, 0 of its services, no rows.
    f.store.setRuntime(work);
    ProjectRegistry registry;
    registry.add(KnownProject{"shop", "/srv/shop", {"cache", "db", "web"}}, QStringLiteral("work"));
    f.store.setRegistry(registry);
    settle();
    QList<MenuBarView::Line> lines = MenuBarView::lines(f.store);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines.first().title, "shop");
    EXPECT_EQ(lines.first().counts, "0/3");

    // One of its three services runs; a loose container goes under "Other".
    f.store.setContainers({container("web", "running", "shop"), container("tool", "exited")});
    settle();
    lines = MenuBarView::lines(f.store);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.at(0).counts, "1/3");
    EXPECT_EQ(lines.at(1).container.name, "web");
    EXPECT_EQ(lines.at(2).title, "Other");
    EXPECT_EQ(lines.at(3).container.name, "tool");
    EXPECT_FALSE(nothing->isVisible());
    EXPECT_EQ(counter->plainText(), "1/2");

    // A filter that matches nothing: the counter still counts everything, and nothing says "No containers".
    f.store.setFilter("zzz");
    settle();
    EXPECT_FALSE(nothing->isVisible());
    EXPECT_EQ(counter->plainText(), "1/2");
    EXPECT_TRUE(panel.findChildren<MenuRow*>().isEmpty() ||
                std::none_of(panel.findChildren<MenuRow*>().cbegin(), panel.findChildren<MenuRow*>().cend(),
                             [](MenuRow* row) { return row->isVisible(); }));
}

// The list grows with the containers that come after the panel was first shown (right after start,
// before the first listing), up to its limit, and shrinks again; it never shows its lines through a
// slit with a scroll bar while there is room.
TEST(MenuBarView, TheListIsAsTallAsItsLinesUpToItsLimit)
{
    Fixture f;
    MenuBarView panel(f.store, f.toolchain);
    panel.show();
    settle();
    auto* list = panel.findChild<QScrollArea*>("containerList");
    ASSERT_NE(list, nullptr);
    const int empty = list->height();

    const auto show = [&](int count) {
        QList<Container> containers;
        for (int i = 0; i < count; ++i)
            containers << container(QString("c%1").arg(i, 2, 10, QChar('0')), "running", "shop");
        f.store.setContainers(containers);
        settle();
        panel.adjustSize();
        settle();
    };
    for (const int count : {3, 1, 40, 2}) {
        show(count);
        const int needed = list->widget()->sizeHint().height();
        EXPECT_EQ(list->height(), std::min(needed, MenuBarView::listMaximumHeight)) << count;
        EXPECT_GT(list->height(), empty) << count;
        EXPECT_EQ(list->verticalScrollBar()->maximum() > 0, needed > MenuBarView::listMaximumHeight) << count;
    }
}

TEST(MenuRow, TheActionFollowsTheState)
{
    struct Row {
        QString state;
        QString title;
        QString command;
    };
    const Row rows[] = {
        {"paused", "Resume", "unpause"}, {"running", "Stop", "stop"},   {"exited", "Start", "start"},
        {"created", "Start", "start"},   {"Running", "Start", "start"}, {"", "Start", "start"},
    };
    for (const Row& row : rows) {
        Fixture f;
        Container c = container("svc", row.state);
        MenuRow menuRow(f.store, c);
        EXPECT_EQ(menuRow.button()->text(), row.title);
        QTest::mouseClick(menuRow.button(), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return !f.engine->commands().isEmpty(); }));
        EXPECT_EQ(f.engine->commands().first().args, QStringList({row.command, "id-svc"}))
            << row.state.toStdString();
    }
}

TEST(Scenes, VisibilityAppearanceAndTheTrayFollowTheirSettings)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    f.preferences.setShowMenuBar(false);
    int storesAsked = 0;
    Scenes scenes(f.preferences, {[&]() -> AppStore& {
                                      ++storesAsked;
                                      return f.store;
                                  },
                                  [&]() -> ToolchainStore& { return f.toolchain; }});
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);
    EXPECT_EQ(storesAsked, 0);

    scenes.showMainWindow();
    EXPECT_TRUE(f.store.windowVisible());
    EXPECT_TRUE(f.store.isStarted());
    scenes.mainWindow()->hide();
    EXPECT_FALSE(f.store.windowVisible());
    scenes.showMainWindow();
    EXPECT_TRUE(f.store.windowVisible());

    // Switching the tray on in Settings adds it at once; off removes it.
    f.preferences.setShowMenuBar(true);
    ASSERT_NE(scenes.menuBarExtra(), nullptr);
    f.preferences.setShowMenuBar(false);
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);

    // With the icon there, closing the window leaves the application running; taking the icon away
    // then brings the window back, as nothing else could.
    f.preferences.setShowMenuBar(true);
    scenes.mainWindow()->close();
    EXPECT_FALSE(scenes.mainWindow()->isVisible());
    f.preferences.setShowMenuBar(false);
    EXPECT_TRUE(scenes.mainWindow()->isVisible());
    EXPECT_TRUE(f.store.windowVisible());

    f.preferences.setAppearance(Appearance::dark);
    EXPECT_EQ(Theme::currentLook(), Look::dark);
    f.preferences.setAppearance(Appearance::light);
    EXPECT_EQ(Theme::currentLook(), Look::light);
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

TEST(Scenes, TheTrayMenuOffersThePanelsEntries)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    f.store.setContainers({container("web", "running", "shop"), container("tool", "paused")});
    Scenes scenes(f.preferences, f.stores());
    MenuBarExtra* extra = scenes.menuBarExtra();
    ASSERT_NE(extra, nullptr);
    extra->fillMenu();
    QStringList texts;
    for (QAction* action : extra->contextMenu()->actions())
        if (!action->isSeparator() || !action->text().isEmpty())
            texts << action->text();
    EXPECT_EQ(texts, QStringList({"Runtime", "SHOP  1/1", "Stop web", "OTHER", "Resume tool", "Open Voskel",
                                  "Settings…", "Quit"}));
    // The menu is filled afresh at every opening; what the last filling made goes with it.
    for (int opening = 0; opening < 3; ++opening)
        extra->fillMenu();
    EXPECT_EQ(extra->contextMenu()->findChildren<QMenu*>().size(), 1);

    extra->showPanel();
    ASSERT_NE(extra->panelView(), nullptr);
    EXPECT_EQ(extra->panelView()->width(), MenuBarView::panelWidth);
    EXPECT_TRUE(f.store.isStarted());
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

// Counts what would redraw or lay out again in the widgets of the windows watched.
class RedrawCounter : public QObject {
public:
    explicit RedrawCounter(QList<QWidget*> windows) : m_windows(std::move(windows))
    {
        qApp->installEventFilter(this);
    }
    ~RedrawCounter() override { qApp->removeEventFilter(this); }

    QStringList seen;

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type == QEvent::Paint || type == QEvent::UpdateRequest || type == QEvent::LayoutRequest) &&
            target->isWidgetType() && m_windows.contains(static_cast<QWidget*>(target)->window()))
            seen << QStringLiteral("%1 %2 %3")
                        .arg(target->metaObject()->className(), target->objectName())
                        .arg(int(type));
        return false;
    }

private:
    QList<QWidget*> m_windows;
};

// Lets the windows finish what showing them started (a pop-up sizes itself to its entries a moment
// after they are set): returns once they have redrawn nothing for a while.
void quieten(const QList<QWidget*>& windows)
{
    RedrawCounter watch(windows);
    const QDeadlineTimer deadline(30000);
    QElapsedTimer still;
    still.start();
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!watch.seen.isEmpty()) {
            watch.seen.clear();
            still.restart();
        } else if (still.elapsed() > 250) {
            return;
        }
    }
    ADD_FAILURE() << "the windows kept redrawing";
}

TEST(ContentView, APollThatChangesNothingRedrawsNothing)
{
    Fixture f;
    f.store.setRuntimes({entry("work")});
    f.store.setRuntime(work);
    const auto list = [&](const QString& dbState) {
        f.engine->setListing(
            work, {{container("web", "running", "shop"), container("db", dbState, "shop"),
                    container("scratch", "paused")},
                   {image("sha256:4e1b", "nginx", "1.25"), image("sha256:77aa", "<none>", "<none>")},
                   {volume("shop_data"), volume("cache")}});
        QCoro::waitFor(f.store.refresh(false));
        settle();
    };
    list("exited");
    ASSERT_EQ(f.store.containers().size(), 3);
    // The shown window's first disk measurement is behind it: the polls below come within its 30 seconds.
    f.store.setWindowVisible(true);
    QCoro::waitFor(f.store.loadUsage());

    for (const Category category : allCategories()) {
        f.preferences.setCategory(category);
        ContentView window(f.store, f.toolchain, f.preferences);
        MenuBarView panel(f.store, f.toolchain);
        window.show();
        panel.show();
        quieten({&window, &panel});

        RedrawCounter counter({&window, &panel});
        QCoro::waitFor(f.store.refresh(false));
        settle();
        EXPECT_EQ(counter.seen, QStringList()) << rawValue(category).toStdString();

        // While a container that did change is seen at once.
        list("running");
        EXPECT_FALSE(counter.seen.isEmpty()) << rawValue(category).toStdString();
        list("exited");
    }
}

TEST(Gallery, MainWindow)
{
    Fixture f;
    f.store.setRuntimes({entry("work", true, true), entry("home")});
    f.store.setRuntime(work);
    f.store.setShowAll(true);
    QList<Container> containers{container("web", "running", "shop"), container("db", "exited", "shop"),
                                container("scratch", "paused")};
    for (Container& c : containers)
        c.runtime = work;
    f.store.setContainers(containers);
    f.store.setImages({image("sha256:4e1b", "nginx", "1.25", work, "67MB"),
                       image("sha256:09ac", "voskel-test/busybox", "latest", home, "1.2MB"),
                       image("sha256:77aa", "<none>", "<none>", work, "12MB")});
    f.store.setError(
        QStringLiteral("Error response from daemon: conflict: unable to remove repository reference"));
    f.preferences.setCategory(Category::images);
    const QStringList written = TestSupport::renderToGallery(
        "main-window", [&] { return std::make_unique<ContentView>(f.store, f.toolchain, f.preferences); },
        1080, 700);
    EXPECT_EQ(written.size(), 2);
    f.store.setVolumes({volume("shop_data", work), volume("cache", home)});
    f.preferences.setCategory(Category::volumes);
    EXPECT_EQ(TestSupport::renderToGallery(
                  "main-window-volumes",
                  [&] { return std::make_unique<ContentView>(f.store, f.toolchain, f.preferences); }, 1080,
                  700)
                  .size(),
              2);
    EXPECT_EQ(TestSupport::renderToGallery(
                  "tray-panel", [&] { return std::make_unique<MenuBarView>(f.store, f.toolchain); }, 320, 0)
                  .size(),
              2);
}

} // namespace
