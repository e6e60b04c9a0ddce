#include "screens/ContainerCard.h"

#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"
#include "screens/ContainerMenu.h"
#include "screens/ContainersView.h"
#include "store/StoreFixture.h"
#include "support/RecordingHost.h"
#include "support/Widgets.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include <gtest/gtest.h>

using StoreTesting::alpha;
using StoreTesting::apple;
using StoreTesting::container;
using StoreTesting::entry;

namespace {

Container with(Container c, const QString& status)
{
    c.status = status;
    return c;
}

class Cards : public StoreTesting::ScriptedStore {
protected:
    void SetUp() override { TestSupport::prepareWidgets(); }
    TestSupport::RecordingHost host;
};

struct FaceRow {
    const char* what;
    Container c;
    ContainerCard::Face::State state;
    const char* label;
    const char* status;
    bool troubled;
    const char* button;
    bool restart;
};

TEST_F(Cards, TheStateDecidesBadgeLabelOutlineAndButtons)
{
    AppStore& store = makeStore();
    const FaceRow rows[] = {
        {"unhealthy", with(container("w"), "Up 5 minutes (unhealthy)"), ContainerCard::Face::State::unhealthy,
         "", "Up 5 minutes", true, "Stop", true},
        {"healthy", with(container("w"), "Up 2 hours (healthy)"), ContainerCard::Face::State::plain,
         "Healthy", "Up 2 hours", false, "Stop", true},
        {"failed", with(container("w", "exited"), "Exited (137) 1 minute ago"),
         ContainerCard::Face::State::failed, "", "Exited (137) 1 minute ago", true, "Start", false},
        {"stopped cleanly", container("w", "exited"), ContainerCard::Face::State::plain, "Stopped",
         "Exited (0) 1 minute ago", false, "Start", false},
        {"paused", with(container("w", "paused"), "Up 1 hour (Paused)"), ContainerCard::Face::State::plain,
         "Paused", "Up 1 hour (Paused)", false, "Resume", false},
        {"created", with(container("w", "created"), "Created"), ContainerCard::Face::State::plain, "Stopped",
         "Created", false, "Start", false},
        {"dead without a code", with(container("w", "dead"), "Dead"), ContainerCard::Face::State::plain,
         "Stopped", "Dead", false, "Start", false},
    };
    for (const FaceRow& row : rows) {
        const ContainerCard::Face f = ContainerCard::face(store, row.c, false);
        EXPECT_EQ(f.state, row.state) << row.what;
        EXPECT_EQ(f.stateLabel, row.label) << row.what;
        EXPECT_EQ(f.statusText, row.status) << row.what;
        EXPECT_EQ(f.troubled, row.troubled) << row.what;
        EXPECT_EQ(f.stateButton, row.button) << row.what;
        EXPECT_EQ(f.restartEnabled, row.restart) << row.what;
    }
    const ContainerCard::Face paused = ContainerCard::face(store, container("w", "paused"), false);
    EXPECT_TRUE(paused.dotFilled);
    EXPECT_EQ(paused.dot, &Vosk::ion);
    EXPECT_FALSE(paused.stateSuccess);
    EXPECT_FALSE(ContainerCard::face(store, container("w", "exited"), false).dotFilled);
}

TEST_F(Cards, TheDetailLineNamesProjectImageAndRuntimeWhereItHelps)
{
    AppStore& store = storeOn({entry(alpha)}, alpha);
    Container loose = container("cache");
    loose.runtime = alpha;
    Container service = container("shop-web-1", "running", "shop", "nginx:1");
    service.runtime = alpha;

    EXPECT_EQ(ContainerCard::face(store, loose, false).detail, "no project \u00B7 busybox:latest");
    EXPECT_EQ(ContainerCard::face(store, service, false).title, "shop-web-1");
    EXPECT_EQ(ContainerCard::face(store, service, false).detail, "shop \u00B7 nginx:1");
    store.setShowAll(true);
    EXPECT_EQ(ContainerCard::face(store, service, false).detail, "alpha \u00B7 shop \u00B7 nginx:1");
    // In a project's detail: the service as title, the name and image, never the runtime.
    EXPECT_EQ(ContainerCard::face(store, service, true).title, "shop-web-1");
    service.labels.insert(Docker::serviceLabel, "web");
    EXPECT_EQ(ContainerCard::face(store, service, true).title, "web");
    EXPECT_EQ(ContainerCard::face(store, service, true).detail, "shop-web-1 \u00B7 nginx:1");
}

TEST_F(Cards, FiguresAndPillsComeFromTheStoreByName)
{
    AppStore& store = storeOn({entry(apple)}, apple);
    Docker::setCoresForTesting(4);
    Container c = container("web");
    c.ports = "0.0.0.0:8080->80/tcp, :::8080->80/tcp, 0.0.0.0:8443->443/tcp";
    ContainerCard card(store, c, false);
    EXPECT_EQ(card.shown().ports, (QStringList{"8080", "8443"}));
    EXPECT_EQ(card.shown().cpu, std::nullopt);
    EXPECT_EQ(card.findChildren<QAbstractButton*>("addressPill").size(), 2);
    EXPECT_EQ(card.findChild<QWidget*>("ipPill"), nullptr);

    store.setStats(LiveStats{{{"web", 40}}, {{"web", 3 << 20}}});
    DiskUsage usage;
    usage.containerSize.insert("web", 2'000);
    store.setUsage(usage);
    store.setAddresses({{"web", "192.168.64.9"}});
    card.refresh();
    EXPECT_EQ(card.shown().cpu, "10%");
    EXPECT_EQ(card.shown().memory, "3 MB");
    EXPECT_EQ(card.shown().disk, "2 KB");
    EXPECT_EQ(card.shown().ip, "192.168.64.9");
    ASSERT_NE(card.findChild<QWidget*>("ipPill"), nullptr);
    Docker::setCoresForTesting(std::nullopt);
}

TEST_F(Cards, DiskFigureComesFromTheContainersOwnRuntime)
{
    AppStore& store = storeOn({entry(alpha), entry(apple)}, alpha, true);
    DiskUsage onAlpha, onApple;
    onAlpha.containerSize.insert("web", 1'000);
    onApple.containerSize.insert("web", 5'000);
    store.setUsage(onAlpha.measuredOn(alpha).merging(onApple.measuredOn(apple)));
    Container c = container("web", "exited");
    c.runtime = apple;
    EXPECT_EQ(ContainerCard::face(store, c, false).disk, "5 KB");
    // Nothing written is shown as the project card shows it, not as "Zero KB".
    onApple.containerSize.insert("web", 0);
    store.setUsage(onAlpha.measuredOn(alpha).merging(onApple.measuredOn(apple)));
    EXPECT_EQ(ContainerCard::face(store, c, false).disk, std::nullopt);
}

struct MenuRow {
    const char* what;
    QString state;
    std::optional<Runtime> runtime;
    // Visible and enabled, in item order: exec, terminal, inspect, copy, resume, pause, commit, remove.
    QList<bool> visible;
    QList<bool> enabled;
};

TEST_F(Cards, MenuItemsFollowTheStateAndTheRuntime)
{
    AppStore& store = storeOn({entry(alpha), entry(apple)}, alpha);
    const char* names[] = {"execAction",   "terminalAction", "inspectAction", "copyIdAction",
                           "resumeAction", "pauseAction",    "commitAction",  "removeAction"};
    const MenuRow rows[] = {
        {"running", "running", alpha, {1, 1, 1, 1, 0, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1}},
        {"paused", "paused", alpha, {1, 1, 1, 1, 1, 0, 1, 1}, {0, 0, 1, 1, 1, 0, 1, 1}},
        {"stopped", "exited", alpha, {1, 1, 1, 1, 0, 1, 1, 1}, {0, 0, 1, 1, 1, 0, 1, 1}},
        {"on the shown runtime", "running", std::nullopt, {1, 1, 1, 1, 0, 1, 1, 1}, {1, 1, 1, 1, 1, 1, 1, 1}},
        {"apple", "running", apple, {1, 1, 1, 1, 0, 0, 0, 1}, {1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const MenuRow& row : rows) {
        Container c = container("web", row.state);
        c.runtime = row.runtime;
        ContainerMenu menu(store, c);
        int entries = 0;
        for (QAction* action : menu.menu()->actions())
            entries += action->isVisible();
        for (int i = 0; i < 8; ++i) {
            QAction* action = menu.menu()->findChild<QAction*>(names[i]);
            ASSERT_NE(action, nullptr) << names[i];
            EXPECT_EQ(action->isVisible(), row.visible[i]) << row.what << " " << names[i];
            if (action->isVisible()) {
                EXPECT_EQ(action->isEnabled(), row.enabled[i]) << row.what << " " << names[i];
            }
        }
        // The Apple runtime's menu has seven entries, two of them dividers.
        EXPECT_EQ(entries, QString(row.what) == "apple" ? 7 : 10) << row.what;
    }
}

TEST_F(Cards, TheTerminalGetsAnArgumentListNoShellReads)
{
    Container c = container("web; rm -rf ~");
    const Runtime odd = Runtime::context("my \"ctx\" it's; x");
    Platform::PreparedProcess p = ContainerMenu::terminalCommand(c, odd);
    EXPECT_EQ(p.arguments, (QStringList{"docker", "--context", "my \"ctx\" it's; x", "exec", "-it",
                                        "web; rm -rf ~", "sh"}));
    EXPECT_FALSE(p.environment.contains("DOCKER_HOST"));

    p = ContainerMenu::terminalCommand(c, Runtime::socket("apple-container", "/tmp/a b/c.sock"));
    EXPECT_EQ(p.arguments, (QStringList{"docker", "exec", "-it", "web; rm -rf ~", "sh"}));
    EXPECT_EQ(p.environment.value("DOCKER_HOST"), "unix:///tmp/a b/c.sock");

    p = ContainerMenu::terminalCommand(c, std::nullopt);
    EXPECT_EQ(p.arguments, (QStringList{"docker", "exec", "-it", "web; rm -rf ~", "sh"}));
}

TEST_F(Cards, OpenInTerminalUsesTheContainersRuntimeAndReportsAMissingTerminal)
{
    AppStore& store = storeOn({entry(alpha), entry(StoreTesting::beta)}, alpha);
    Container c = container("web");
    c.runtime = StoreTesting::beta;
    ContainerMenu menu(store, c);
    menu.menu()->findChild<QAction*>("terminalAction")->trigger();
    ASSERT_EQ(host.terminals.size(), 1);
    EXPECT_EQ(host.terminals.first(), ContainerMenu::terminalCommand(c, StoreTesting::beta));
    EXPECT_EQ(store.error(), std::nullopt);

    host.failTerminal("No terminal emulator was found.");
    menu.menu()->findChild<QAction*>("terminalAction")->trigger();
    EXPECT_EQ(store.error(), "No terminal emulator was found.");
}

} // namespace
