#include "screens/ContainersView.h"

#include "app/design/AdaptiveGrid.h"
#include "app/design/Eyebrow.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Alert.h"
#include "app/parts/EmptyState.h"
#include "screens/ContainerCard.h"
#include "screens/ContainerMenu.h"
#include "screens/VitalsRow.h"
#include "sheets/ExecView.h"
#include "sheets/LogsView.h"
#include "store/StoreFixture.h"
#include "support/RecordingHost.h"
#include "support/Widgets.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>

#include <gtest/gtest.h>

using StoreTesting::alpha;
using StoreTesting::container;
using StoreTesting::entry;

namespace {

class ContainersScreen : public StoreTesting::ScriptedStore {
protected:
    void SetUp() override { TestSupport::prepareWidgets(); }

    // A store showing alpha, listing `containers` there.
    AppStore& listing(const QList<Container>& containers)
    {
        QList<Container> on = containers;
        for (Container& c : on)
            c.runtime = alpha;
        ScriptedStore::listing(alpha, on);
        AppStore& s = storeOn({entry(alpha)}, alpha);
        run(s.refresh(false));
        return s;
    }

    static QStringList titles(const ContainersContent& content)
    {
        QStringList out;
        for (qsizetype i = 0; i < content.cardCount(); ++i)
            out << content.cardAt(i)->container().name;
        return out;
    }

    TestSupport::RecordingHost host;
};

TEST_F(ContainersScreen, EveryMatchingContainerInCodePointOrderWithItsCount)
{
    AppStore& store = listing({container("web", "running", "shop"), container("Zed", "exited"),
                               container("api", "running", "shop"), container("Alpha")});
    ContainersView view(store);
    ContainersContent& content = *view.content();
    // Projects and loose containers in one grid; capitals before any lower case.
    EXPECT_EQ(titles(content), (QStringList{"Alpha", "Zed", "api", "web"}));
    EXPECT_EQ(content.findChild<Eyebrow*>("countEyebrow")->plainText(), "4 containers");
    EXPECT_FALSE(content.findChild<EmptyState*>()->isVisibleTo(&content));

    store.setFilter("  we ");
    QCoreApplication::processEvents();
    EXPECT_EQ(titles(content), QStringList{"web"});
    EXPECT_EQ(content.findChild<Eyebrow*>("countEyebrow")->plainText(), "1 container");

    store.setFilter("nothing-like-it");
    QCoreApplication::processEvents();
    auto* empty = content.findChild<EmptyState*>();
    EXPECT_TRUE(empty->isVisibleTo(&content));
    EXPECT_EQ(empty->findChild<VoskLabel*>("emptyTitle")->plainText(),
              "No containers match \u201Cnothing-like-it\u201D");
    // The vitals still count every container.
    EXPECT_EQ(content.vitals()->vitals().containers.unit, "of 4 running");

    content.findChild<VoskButton*>("clearFilterButton")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(store.filter(), "");
    EXPECT_EQ(content.cardCount(), 4);
}

TEST_F(ContainersScreen, NoContainersIsTheEmptyStateWithoutAHeading)
{
    AppStore& store = listing({});
    ContainersContent content(store);
    EXPECT_FALSE(content.findChild<Eyebrow*>("countEyebrow")->isVisibleTo(&content));
    EXPECT_TRUE(content.findChild<EmptyState*>()->isVisibleTo(&content));
    EXPECT_EQ(content.findChild<EmptyState*>()->findChild<VoskLabel*>("emptyTitle")->plainText(),
              "No containers");
}

TEST_F(ContainersScreen, ACardStaysTheSameWidgetAcrossRefreshes)
{
    AppStore& store = listing({container("api"), container("web")});
    ContainersContent content(store);
    content.show();
    QApplication::setActiveWindow(&content);
    QPointer<ContainerCard> web = content.cardAt(1);
    QWidget* logs = web->findChild<QWidget*>("logsButton");
    logs->setFocus();
    QMenu* menu = web->menu()->menu();
    menu->popup(QPoint(0, 0));

    // A poll that changes nothing sends nothing, and so touches nothing.
    run(store.refresh(false));
    QCoreApplication::processEvents();
    EXPECT_EQ(content.cardAt(1), web);

    // A change of state redraws the same card in place.
    ScriptedStore::listing(alpha, {[] {
                                       Container c = container("api");
                                       c.runtime = alpha;
                                       return c;
                                   }(),
                                   [] {
                                       Container c = container("web", "exited");
                                       c.runtime = alpha;
                                       return c;
                                   }()});
    run(store.refresh(false));
    QCoreApplication::processEvents();
    EXPECT_EQ(content.cardAt(1), web);
    EXPECT_EQ(web->shown().stateButton, "Start");
    // What the user was doing with the card goes on: its menu stays open, its button keeps the focus.
    EXPECT_TRUE(menu->isVisible());
    EXPECT_TRUE(logs->hasFocus());
    EXPECT_FALSE(menu->findChild<QAction*>("pauseAction")->isEnabled());
    EXPECT_NE(web->findChild<VoskButton*>("startButton"), nullptr);
}

TEST_F(ContainersScreen, ColumnsFollowTheWidth)
{
    AppStore& store = listing({container("a"), container("b"), container("c"), container("d")});
    ContainersView view(store);
    // The grid's width is the view's less the scroll bar's and the margins of 20 each side.
    for (const auto& [width, columns] : {std::pair{500, 1}, std::pair{900, 2}, std::pair{1300, 4}}) {
        view.resize(width, 700);
        view.show();
        QApplication::processEvents();
        EXPECT_EQ(view.content()->grid()->columnCount(), columns) << width;
        const int gridWidth = view.content()->grid()->geometry().width();
        EXPECT_EQ(columns, AdaptiveGrid::columns(gridWidth, 280, 14)) << width;
    }
    // Cards of one row start at one height, whatever their content.
    EXPECT_EQ(view.content()->cardAt(0)->y(), view.content()->cardAt(3)->y());
}

TEST_F(ContainersScreen, ACardThatLeavesTheGridClosesNothingAndRetargetsNothing)
{
    AppStore& store = listing({container("api"), container("web")});
    ContainersView view(store);
    view.show();
    ContainerCard* web = view.content()->cardAt(1);
    web->menu()->menu()->findChild<QAction*>("commitAction")->trigger();
    QApplication::processEvents();
    QPointer<Alert> alert = view.findChild<Alert*>("commitAlert");
    ASSERT_FALSE(alert.isNull());
    EXPECT_EQ(alert->accessibleName(), "Commit web");
    web->findChild<QAbstractButton*>("logsButton")->click();
    QPointer<LogsView> logs = view.findChild<LogsView*>("logsSheet");
    ASSERT_FALSE(logs.isNull());
    web->menu()->menu()->findChild<QAction*>("execAction")->trigger();
    QPointer<ExecView> exec = view.findChild<ExecView*>("execSheet");
    ASSERT_FALSE(exec.isNull());

    // The next poll lists a new "web" in the old one's place: another container, another card.
    Container other = container("web");
    other.id = "id-web-2";
    other.runtime = alpha;
    Container api = container("api");
    api.runtime = alpha;
    ScriptedStore::listing(alpha, {api, other});
    run(store.refresh(false));
    QCoreApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(view.content()->cardAt(1), web);
    ASSERT_FALSE(alert.isNull());
    EXPECT_TRUE(alert->isVisible());
    ASSERT_FALSE(logs.isNull());
    EXPECT_EQ(logs->source().containerValue().id, "id-web");
    ASSERT_FALSE(exec.isNull());
    EXPECT_EQ(exec->container().id, "id-web");
    logs->reject();
    exec->reject();

    alert->findChild<QLineEdit*>("referenceField")->setText("  shop/web:saved ");
    alert->findChild<QAbstractButton*>("commitButton")->click();
    ASSERT_TRUE(TestSupport::eventually([&] { return !engine->commandArgs().isEmpty(); }));
    // The container the alert was opened for, not the one now in its place.
    EXPECT_EQ(engine->commandArgs().first(), (QStringList{"commit", "id-web", "shop/web:saved"}));
}

TEST_F(ContainersScreen, RendersInBothLooks)
{
    Docker::setCoresForTesting(8);
    Container api = container("shop-api-1", "running", "shop", "shop/api:latest");
    api.status = "Up 3 hours (healthy)";
    api.ports = "0.0.0.0:8080->80/tcp";
    Container db = container("shop-db-1", "running", "shop", "postgres:16");
    db.status = "Up 3 hours (unhealthy)";
    db.ports = "0.0.0.0:5432->5432/tcp";
    Container worker = container("worker", "exited", {}, "busybox:latest");
    worker.status = "Exited (137) 2 minutes ago";
    Container paused = container("cache", "paused", {}, "redis:7");
    paused.status = "Up 1 hour (Paused)";
    AppStore& store = listing({api, db, worker, paused, container("batch", "exited")});
    store.setStats(LiveStats{{{"shop-api-1", 14.2}, {"shop-db-1", 3.1}},
                             {{"shop-api-1", 180 << 20}, {"shop-db-1", 90 << 20}}});
    DiskUsage usage;
    usage.total = 12'400'000'000;
    usage.containerSize = {{"shop-api-1", 12'000}, {"worker", 1'200'000}};
    Reclaimable stopped;
    stopped.bytes = 2'100'000'000;
    usage.candidates = {stopped};
    store.setUsage(usage);
    const QStringList written = TestSupport::renderToGallery(
        "containers-screen", [&] { return std::make_unique<ContainersContent>(store); }, 1080, 0);
    EXPECT_EQ(written.size(), 2);
    Docker::setCoresForTesting(std::nullopt);
}

} // namespace
