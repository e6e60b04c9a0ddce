#include "screens/ProjectControls.h"

#include "ProjectsTesting.h"
#include "app/design/VoskButton.h"
#include "app/parts/AddressPill.h"
#include "engine/Compose.h"
#include "screens/ProjectCard.h"
#include "sheets/CommandRunView.h"
#include "sheets/ReclaimButton.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <QDialog>
#include <QMenu>
#include <QTest>

#include <gtest/gtest.h>

using namespace ProjectsTesting;
using TestSupport::eventually;

namespace {

class Controls : public ProjectsStore {};

QAction* action(const ProjectControls& controls, const char* name)
{
    return controls.menu()->findChild<QAction*>(QString::fromLatin1(name));
}

// What the controls offer, by name: the buttons shown, "logs" when "Project logs…" is enabled, and the
// menu items shown.
QString offered(const ProjectControls& controls)
{
    QStringList names;
    for (const char* button : {"start", "stop", "free"}) {
        const auto* widget = controls.findChild<QWidget*>(QString::fromLatin1(button) + "Button");
        if (widget && widget->isVisibleTo(&controls))
            names << button;
    }
    if (action(controls, "logsAction")->isEnabled())
        names << "logs";
    for (const char* item : {"reveal", "locate", "up", "rebuild", "down", "forget"})
        if (action(controls, (QByteArray(item) + "Action").constData())->isVisible())
            names << item;
    return names.join(' ');
}

// The presence rules, through the widget, on projects whose folder the test makes.
TEST_F(Controls, WhatIsOfferedFollowsTheContainersTheFolderAndTheRegistry)
{
    QTemporaryDir parent;
    const QString plain = projectFolder(parent, "plain");
    const QString builds = buildingFolder(parent, "builds");
    const QString bare = projectFolder(parent, "bare", false);
    struct Row {
        const char* what;
        QString dir;
        QStringList states; // one container per state
        qint64 services;
        bool remembered;
        QString offered;
    };
    const QList<Row> rows = {
        {"its only container runs", plain, {"running"}, 1, true, "stop logs reveal up down"},
        {"3 services, 2 running", plain, {"running", "running"}, 3, true, "start stop logs reveal up down"},
        {"remembered, no containers", plain, {}, 2, true, "start reveal forget"},
        {"remembered, no containers, builds", builds, {}, 2, true, "start reveal rebuild forget"},
        {"its folder was removed", parent.filePath("gone"), {}, 2, true, "locate forget"},
        // A label can name anything: a file is no folder to reveal (opening it would run its handler).
        {"its folder is a file", parent.filePath("plain/compose.yaml"), {}, 2, true, "locate forget"},
        {"no compose file", bare, {"exited"}, 1, true, "start logs reveal locate down"},
        // Moved away: Down and the logs go by the containers' labels, and need no folder.
        {"moved away", parent.filePath("gone"), {"running"}, 1, false, "stop logs locate down"},
        {"all paused", plain, {"paused", "paused"}, 2, true, "start stop logs reveal up down"},
        {"only seen through its containers",
         builds,
         {"exited"},
         0,
         false,
         "start logs reveal up rebuild down"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QList<Container> containers;
        for (int i = 0; i < row.states.size(); ++i)
            containers << inFolder(container(QString("p-s%1").arg(i), row.states[i], "p"), row.dir);
        AppStore& s = showing(containers);
        ProjectRegistry registry;
        if (row.remembered)
            registry.add({"p", row.dir, {}}, "alpha");
        s.setRegistry(registry);
        ComposeProject project{"p", row.dir, containers, row.services, alpha};
        ProjectControls controls(s, project, folderOf(project), false);
        EXPECT_EQ(offered(controls), row.offered);
        // Emphasis changes the Start button only.
        controls.setProject(project, folderOf(project), true);
        EXPECT_EQ(offered(controls), row.offered);
        EXPECT_EQ(controls.findChild<VoskButton*>("startButton")->buttonStyle().variant,
                  VoskButtonStyle::Variant::accent);
        EXPECT_TRUE(action(controls, "deleteAction")->isVisible());
        EXPECT_TRUE(action(controls, "logsAction")->isVisible());
    }
}

TEST_F(Controls, TheFreeButtonAppearsOnceTheProjectHasSomethingToFree)
{
    AppStore& s = showing();
    const ComposeProject project{
        "shop", "/srv/shop", {container("shop-web", "exited", "shop")}, 1, std::nullopt};
    ProjectControls controls(s, project, {}, false);
    auto* free = controls.findChild<ReclaimButton*>("freeButton");
    ASSERT_TRUE(free);
    EXPECT_FALSE(free->isVisibleTo(&controls));

    DiskUsage usage;
    usage.candidates << Reclaimable{
        Reclaimable::Kind::Container,      "id-shop-web", "shop-web",  1'500'000, {},
        Reclaimable::Recovery::Restorable, "shop",        std::nullopt};
    usage.candidates << Reclaimable{Reclaimable::Kind::Image,          "other", "other",     9'000'000, {},
                                    Reclaimable::Recovery::Restorable, "other", std::nullopt};
    s.setUsage(usage);
    controls.setProject(project, {}, false);
    EXPECT_TRUE(free->isVisibleTo(&controls));
    EXPECT_EQ(free->text(), "Free 1.5 MB…");
    EXPECT_EQ(free->project(), project); // the sheet it opens is this project's
    EXPECT_EQ(controls.freeable(), 1'500'000);

    // With every runtime shown, a project of the same name on another runtime frees nothing here.
    const ComposeProject onAlpha{"shop", "/srv/shop", {container("shop-web", "exited", "shop")}, 1, alpha};
    usage.candidates[0].runtime = alpha;
    usage.candidates << Reclaimable{
        Reclaimable::Kind::Container,      "id-shop-web", "shop-web", 2'000'000, {},
        Reclaimable::Recovery::Restorable, "shop",        beta};
    s.setUsage(usage);
    controls.setProject(onAlpha, {}, false);
    EXPECT_EQ(free->text(), "Free 1.5 MB…");
    EXPECT_EQ(controls.freeable(), 1'500'000);
}

TEST_F(Controls, RebuildNamesTheProjectShowsThatCommandAndHidesTheFreeOfferTillMeasured)
{
    QTemporaryDir parent;
    const QString dir = buildingFolder(parent, "builds");
    AppStore& s = showing();
    const TestSupport::FakeTools fakes({"docker"});
    QWidget window;
    const ComposeProject project{
        "shop", dir, {inFolder(container("shop-web", "running", "shop"), dir)}, 1, std::nullopt};
    DiskUsage usage;
    usage.candidates << Reclaimable{Reclaimable::Kind::Image,    "sha256:old", "<none>",    6, {},
                                    Reclaimable::Recovery::Gone, "shop",       std::nullopt};
    engine->setUsage(alpha, usage);
    run(s.loadUsage());
    auto* controls = new ProjectControls(s, project, folderOf(project), false, &window);
    auto* free = controls->findChild<ReclaimButton*>("freeButton");
    EXPECT_TRUE(free->isVisibleTo(controls));
    action(*controls, "rebuildAction")->trigger();
    CommandRunView* sheet = nullptr;
    ASSERT_TRUE(eventually([&] { return (sheet = window.findChild<CommandRunView*>()) != nullptr; }));
    EXPECT_TRUE(sheet->text().startsWith("$ docker compose -p shop up -d --build"));
    ASSERT_TRUE(eventually([&] { return sheet->exitStatus().has_value(); }));
    // The sheet's banner is the command that ran.
    EXPECT_EQ(fakes.calls(), QStringList{"docker --context alpha compose -p shop up -d --build"});
    // What was measured before the rebuild is offered again only once measured after it.
    EXPECT_FALSE(free->isVisibleTo(controls));
    sheet->reject();
    EXPECT_FALSE(free->isVisibleTo(controls));
    run(s.loadUsage());
    EXPECT_TRUE(free->isVisibleTo(controls));
}

// compose would take another project for one whose name it does not take: its containers are started
// as they are, and what would need compose says why instead of running it.
TEST_F(Controls, AProjectOfANameComposeDoesNotTakeIsStartedWithoutComposeAndSaysWhatItCannotDo)
{
    QTemporaryDir parent;
    const QString dir = buildingFolder(parent, "shop");
    const TestSupport::FakeTools fakes({"docker"});
    for (const QString& name : {QString(), QStringLiteral("Shop Front")}) {
        SCOPED_TRACE(name.toStdString());
        AppStore& s = showing();
        QWidget window;
        const ComposeProject project{name, dir, {inFolder(container("web", "exited", name), dir)}, 1, alpha};
        auto* controls = new ProjectControls(s, project, folderOf(project), false, &window);
        EXPECT_EQ(offered(*controls), "start logs reveal up rebuild down");
        EXPECT_EQ(controls->findChild<VoskButton*>("startButton")->toolTip(),
                  "Starts the containers that exist");

        QTest::mouseClick(controls->findChild<VoskButton*>("startButton"), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return !engine->commands().isEmpty(); }));
        EXPECT_EQ(engine->commands().last().args, (QStringList{"start", "id-web"}));
        for (const char* item : {"logsAction", "upAction", "rebuildAction"}) {
            s.setError(std::nullopt);
            action(*controls, item)->trigger();
            EXPECT_TRUE(eventually([&] { return s.error() == Docker::composeRefusalMessage(name); })) << item;
        }
        settle();
        EXPECT_EQ(window.findChild<QDialog*>(), nullptr) << "no sheet opened";
        EXPECT_TRUE(fakes.calls().isEmpty());
    }
}

// Where the desktop has nothing to open a folder or a page with, the user is told so in the store's
// error, for the folder of a project and for the address pill of its card.
TEST_F(Controls, AFolderOrAnAddressTheDesktopCannotOpenShowsAsAnError)
{
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "shop");
    AppStore& s = showing();
    TestSupport::RecordingHost host;
    host.opens = false;
    Container web = inFolder(container("shop-web", "running", "shop"), dir);
    web.ports = "0.0.0.0:8080->80/tcp";
    const ComposeProject project{"shop", dir, {web}, 1, std::nullopt};

    ProjectControls controls(s, project, folderOf(project), false);
    action(controls, "revealAction")->trigger();
    EXPECT_EQ(host.revealed, QStringList{dir});
    EXPECT_EQ(s.error(), "Could not open " + dir + ".");

    s.setError(std::nullopt);
    ProjectCard card(s, project, folderOf(project), false);
    auto* pill = card.findChild<AddressPill*>("addressPill");
    ASSERT_TRUE(pill);
    pill->click();
    EXPECT_EQ(host.opened, QList<QUrl>{QUrl("http://localhost:8080")});
    EXPECT_EQ(s.error(), "Could not open http://localhost:8080.");
}

} // namespace
