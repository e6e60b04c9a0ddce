#include "screens/DeleteProjectView.h"
#include "screens/ProjectSheets.h"

#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "engine/Docker.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

#include <sys/stat.h>

using TestSupport::docker;
using TestSupport::eventually;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

namespace {

QStringList shown(const QWidget* sheet, const char* section, const char* label)
{
    QStringList out;
    if (const auto* part = sheet->findChild<QWidget*>(section))
        for (const VoskLabel* l : part->findChildren<VoskLabel*>(label))
            if (!l->isHidden())
                out << l->plainText();
    return out;
}

// How the plan's volumes are held by what the test did not make.
QString strangerHolds(const TeardownPlan& plan)
{
    QStringList holds;
    for (const VolumeUse& volume : plan.volumes)
        holds << volume.usedBy << volume.heldSaying();
    return TestSupport::strangerHolds(holds);
}

bool volumeExists(const QString& name)
{
    return docker({"volume", "inspect", name}).status == 0;
}

// The real engine with a client configuration of the test's own, no Apple socket, and a store that
// polls nothing by itself. A test starts its compose project, then opens the delete sheet over it
// once the sheet has worked out its plan.
class DeleteOnEngine : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", root.filePath("docker").toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::optional<AppStore> store;
    QWidget window;
    QPointer<DeleteProjectView> sheet;
    // A service that starts at once and stops quickly, on a network of its project's own; and the same on
    // none, as every test has it whose point is not the network.
    const QString networked =
        "    image: " + TestSupport::testImage() + "\n    command: sleep 600\n    stop_grace_period: 1s\n";
    const QString service = networked + TestSupport::noNetwork;

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        TestSupport::prepareWidgets();
        Docker::setAppleSocketPathForTesting(root.filePath("no-apple.sock"));
    }

    void TearDown() override { Docker::setAppleSocketPathForTesting(QString()); }

    void startProject(const QString& name, const QString& dir)
    {
        store.emplace(*settings);
        QCoro::waitFor(store->loadContexts());
        QCoro::waitFor(store->up({name, dir, {}, 0, std::nullopt}));
        ASSERT_EQ(store->error(), std::nullopt);
    }

    void openSheet(const QString& name)
    {
        const QList<ComposeProject> projects = store->projects();
        const auto project =
            std::find_if(projects.cbegin(), projects.cend(), [&](const auto& p) { return p.name == name; });
        ASSERT_NE(project, projects.cend());
        window.show();
        ProjectSheets::openDelete(*store, *project, &window);
        sheet = window.findChild<DeleteProjectView*>();
        ASSERT_TRUE(sheet);
        ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }, 60000));
    }
};

// A compose project of two services on the real engine: a volume only they mount, one a container
// outside the project mounts too, and one declared external. The store has a home and a Trash of the
// test's own and has not measured disk usage yet, as when the window has just opened.
TEST_F(DeleteOnEngine, TakesTheProjectsOwnVolumeKeepsTheSharedAndExternalOnesAndTrashesTheFolder)
{
    // No folder is offered while another test's container binds the root.
    const TestSupport::RootBindTurn rootBinds(false);
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};
    const QString name = uniqueName("shop");
    const QString external = uniqueName("shop-ext");
    const QString outside = uniqueName("shop-outside");
    const QString dir = root.filePath("home/" + uniqueName("checkout"));
    const auto cleanUp = qScopeGuard([&] {
        const QString ids = docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + name}).out;
        docker(QStringList{"rm", "-f", outside} + ids.split('\n', Qt::SkipEmptyParts));
        docker({"network", "rm", name + "_default"});
        docker({"volume", "rm", "-f", name + "_data", name + "_shared", external});
    });
    ASSERT_TRUE(QDir().mkpath(dir) && QDir().mkpath(root.filePath("data")));
    ASSERT_EQ(docker({"volume", "create", external}).status, 0);
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("services:\n  web:\n" + service + "    volumes: [data:/data, shared:/shared, ext:/ext]\n" +
                "  worker:\n" + service + "    volumes: [data:/data]\n" +
                "volumes:\n  data: {}\n  shared: {}\n  ext:\n    external: true\n    name: " + external +
                "\n")
                   .toUtf8());
    file.close();

    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_EQ(docker({"exec", name + "-web-1", "sh", "-c", "head -c 2000000 /dev/zero > /data/blob"}).status,
              0);
    ASSERT_EQ(docker({"run", "-d", "--network", "none", "--name", outside, "-v", name + "_shared:/shared",
                      TestSupport::testImage(), "sleep", "600"})
                  .status,
              0);
    QCoro::waitFor(store->refresh(false));
    ASSERT_EQ(store->usage(), std::nullopt);
    ASSERT_NO_FATAL_FAILURE(openSheet(name));
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(*sheet->plan()));
    EXPECT_EQ(shown(sheet, "containersSection", "itemLabel"),
              (QStringList{name + "-web-1", name + "-worker-1"}));
    EXPECT_EQ(shown(sheet, "volumesSection", "itemLabel"), QStringList{name + "_data"});
    EXPECT_EQ(shown(sheet, "keptSection", "itemLabel"), QStringList{name + "_shared"});
    EXPECT_EQ(shown(sheet, "keptSection", "usedByLabel"), QStringList{"container " + outside + " mounts it"});
    for (const VoskLabel* label : sheet->findChildren<VoskLabel*>())
        EXPECT_FALSE(label->plainText().contains(external)) << "the external volume is never offered";
    // Nothing was measured when the sheet opened: it asked, and shows what the volume holds.
    ASSERT_TRUE(eventually([&] { return !shown(sheet, "volumesSection", "sizeLabel").isEmpty(); }, 60000));
    EXPECT_EQ(shown(sheet, "volumesSection", "sizeLabel"), QStringList{"2 MB"});
    // Someone else's container on a mount that stalls keeps every folder from the Trash, rightly.
    const bool trashed = sheet->plan()->workingDir || !TestSupport::stalledElsewhere(sheet->plan()->notes);
    if (trashed) {
        EXPECT_EQ(shown(sheet, "filesSection", "directoryLabel"), QStringList{"~/" + QDir(dir).dirName()})
            << sheet->plan()->notes.join('\n').toStdString();
        auto* toggle = sheet->findChild<QCheckBox*>("trashToggle");
        ASSERT_TRUE(toggle);
        toggle->click();
    }
    auto* remove = sheet->findChild<VoskButton*>("deleteButton");
    EXPECT_EQ(remove->text(),
              trashed ? "Delete 2 containers + 1 volume + files" : "Delete 2 containers + 1 volume");
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }, 120000));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + name}).out, "");
    EXPECT_FALSE(volumeExists(name + "_data"));
    EXPECT_TRUE(volumeExists(name + "_shared"));
    EXPECT_TRUE(volumeExists(external));
    EXPECT_EQ(QFile::exists(dir), !trashed);
    EXPECT_EQ(QFile::exists(root.filePath("data/Trash/files/" + QDir(dir).dirName() + "/compose.yaml")),
              trashed);
    EXPECT_FALSE(store->registry().knows(name, QStringLiteral("default")));
}

// A container that `compose run` started for a one-off task belongs to the project but outlives a plain
// compose down; the sheet listed it as going, so it goes, and the project with it.
TEST_F(DeleteOnEngine, AOneOffContainerOfTheProjectGoesToo)
{
    const QString name = uniqueName("oneoff");
    const QString dir = root.filePath(name);
    const auto containers = [&] {
        return docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + name}).out;
    };
    const auto cleanUp = qScopeGuard([&] {
        docker(QStringList{"rm", "-f"} + containers().split('\n', Qt::SkipEmptyParts));
        docker({"network", "rm", name + "_default"});
    });
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("services:\n  web:\n" + service + "  worker:\n" + service).toUtf8());
    file.close();

    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_EQ(docker({"compose", "-p", name, "run", "-d", "worker", "sleep", "600"}, dir).status, 0);
    QCoro::waitFor(store->refresh(false));
    ASSERT_NO_FATAL_FAILURE(openSheet(name));
    auto* remove = sheet->findChild<VoskButton*>("deleteButton");
    EXPECT_EQ(remove->text(), "Delete 3 containers");
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }, 120000));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(containers(), "");
    for (const ComposeProject& left : store->projects())
        EXPECT_NE(left.name, name);
}

// A container started after the plan was made (`compose run`) would have gone with compose down unseen.
// The deletion lists the project again first: nothing goes, and the sheet shows the new plan for the
// user to confirm; confirmed, that plan goes whole.
TEST_F(DeleteOnEngine, AContainerAddedAfterThePlanStopsTheDeletionAndIsShownForConfirmation)
{
    const QString name = uniqueName("grown");
    const QString extra = uniqueName("extra");
    const QString dir = root.filePath(name);
    const auto containers = [&] {
        return docker({"ps", "-a", "--filter", "label=com.docker.compose.project=" + name, "--format",
                       "{{.Names}}"})
            .out.split('\n', Qt::SkipEmptyParts);
    };
    const auto cleanUp = qScopeGuard([&] {
        docker(QStringList{"rm", "-f"} + containers());
        docker({"network", "rm", name + "_default"});
    });
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("services:\n  app:\n" + service).toUtf8());
    file.close();
    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_NO_FATAL_FAILURE(openSheet(name));
    EXPECT_EQ(sheet->plan()->containers, QStringList{name + "-app-1"});

    ASSERT_EQ(
        docker({"compose", "-p", name, "run", "-d", "--name", extra, "app", "sleep", "600"}, dir).status, 0);
    auto* remove = sheet->findChild<VoskButton*>("deleteButton");
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(
        eventually([&] { return !sheet || (!sheet->working() && sheet->plan().has_value()); }, 120000));

    ASSERT_FALSE(sheet.isNull()) << "the sheet stays open with the new plan";
    QStringList both{name + "-app-1", extra};
    both.sort();
    EXPECT_EQ(sheet->plan()->containers, both);
    EXPECT_EQ(shown(sheet, "containersSection", "itemLabel"), both);
    const auto* notes = sheet->findChild<VoskLabel*>("planNotesLabel");
    ASSERT_TRUE(notes);
    EXPECT_TRUE(notes->plainText().startsWith("The project changed since this plan was made."))
        << notes->plainText().toStdString();
    QStringList left = containers();
    left.sort();
    EXPECT_EQ(left, both) << "nothing was removed";
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(remove->text(), "Delete 2 containers");
    EXPECT_TRUE(remove->isEnabled());

    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }, 120000));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(containers(), QStringList());
}

// The project taken down with its volume and brought up again under the same names while the sheet is
// open, and written into: the deletion makes its plan again first, finds other containers and another
// volume behind the names, removes nothing and shows the new plan.
TEST_F(DeleteOnEngine, AProjectMadeAnewUnderTheSameNamesLosesNothingAndIsShownAgain)
{
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("data").toUtf8()};
    const QString name = uniqueName("anew");
    const QString dir = root.filePath(name);
    const auto ids = [&] {
        QStringList out =
            docker({"ps", "-aq", "--no-trunc", "--filter", "label=com.docker.compose.project=" + name})
                .out.split('\n', Qt::SkipEmptyParts);
        out.sort();
        return out;
    };
    const auto cleanUp = qScopeGuard([&] {
        docker(QStringList{"rm", "-f"} + ids());
        docker({"network", "rm", name + "_default"});
        docker({"volume", "rm", "-f", name + "_data"});
    });
    ASSERT_TRUE(QDir().mkpath(dir) && QDir().mkpath(root.filePath("home")));
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        ("services:\n  app:\n" + service + "    volumes: [data:/data]\nvolumes:\n  data: {}\n").toUtf8());
    file.close();
    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_NO_FATAL_FAILURE(openSheet(name));
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(*sheet->plan()));
    ASSERT_EQ(sheet->plan()->containers, QStringList{name + "-app-1"});
    ASSERT_EQ(TestSupport::names(sheet->plan()->removable()), QStringList{name + "_data"});

    // Made again at least a second later, so the new volume prints another creation time.
    QTest::qWait(1100);
    ASSERT_EQ(docker({"compose", "-p", name, "down", "-v"}, dir).status, 0);
    ASSERT_EQ(docker({"compose", "-p", name, "up", "-d"}, dir).status, 0);
    ASSERT_EQ(docker({"exec", name + "-app-1", "sh", "-c", "echo written-after > /data/note"}).status, 0);
    const QStringList remade = ids();
    if (auto* trash = sheet->findChild<QCheckBox*>("trashToggle"))
        trash->click();
    QTest::mouseClick(sheet->findChild<VoskButton*>("deleteButton"), Qt::LeftButton);
    ASSERT_TRUE(
        eventually([&] { return !sheet || (!sheet->working() && sheet->plan().has_value()); }, 120000));

    ASSERT_FALSE(sheet.isNull()) << "the sheet stays open with the new plan";
    const auto* notes = sheet->findChild<VoskLabel*>("planNotesLabel");
    ASSERT_TRUE(notes);
    EXPECT_TRUE(notes->plainText().startsWith("The project changed since this plan was made."))
        << notes->plainText().toStdString();
    ASSERT_EQ(sheet->plan()->containerIds.size(), 1);
    EXPECT_TRUE(remade.value(0).startsWith(sheet->plan()->containerIds[0])) << "the plan names the new one";
    EXPECT_EQ(ids(), remade) << "nothing was removed";
    EXPECT_EQ(docker({"exec", name + "-app-1", "cat", "/data/note"}).out, "written-after\n");
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_EQ(store->error(), std::nullopt);
}

// compose takes an empty -p for the project of the folder it runs in. A container labelled with an
// empty project name and another project's folder is removed by name; that project keeps its
// containers and its network. The deletion looks at every container and network of the engine with
// an empty project label, so the test deletes only where it made the one such container.
TEST_F(DeleteOnEngine, AnEmptyProjectNameTakesDownOnlyItsOwnContainer)
{
    const TestSupport::NamelessGroup turn;
    VOSKEL_SKIP_FOR_STRANGERS(TestSupport::NamelessGroup::strangers());
    const QString name = uniqueName("host");
    const QString stray = uniqueName("nameless");
    const QString dir = root.filePath(name);
    const auto cleanUp = qScopeGuard([&] {
        const QString ids = docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + name}).out;
        docker(QStringList{"rm", "-f", stray} + ids.split('\n', Qt::SkipEmptyParts));
        docker({"network", "rm", name + "_default"});
    });
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("services:\n  web:\n" + networked).toUtf8());
    file.close();
    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_EQ(
        docker({"run", "-d", "--network", "none", "--name", stray, "--label",
                "com.docker.compose.project=", "--label", "com.docker.compose.project.working_dir=" + dir,
                TestSupport::testImage(), "sleep", "600"})
            .status,
        0);
    QCoro::waitFor(store->refresh(false));
    // Only this test's nameless container: others of other runs are theirs.
    QList<Container> mine;
    for (const Container& c : store->containers())
        if (c.name == stray)
            mine << c;
    ASSERT_EQ(mine.size(), 1);
    ASSERT_EQ(mine[0].project(), QString());
    window.show();
    sheet = DeleteProjectView::open(&window, *store, ComposeProject{"", dir, mine, 0, std::nullopt});
    ASSERT_TRUE(eventually([&] { return sheet->plan().has_value(); }, 60000));
    ASSERT_EQ(sheet->plan()->containers, QStringList{stray});
    ASSERT_TRUE(sheet->plan()->volumes.isEmpty());

    VOSKEL_SKIP_FOR_STRANGERS(TestSupport::NamelessGroup::strangers({stray}));
    sheet->confirm();
    ASSERT_TRUE(eventually([&] { return sheet.isNull(); }, 120000));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_NE(docker({"container", "inspect", stray}).status, 0) << "the listed container went";
    EXPECT_EQ(docker({"ps", "-q", "--filter", "label=com.docker.compose.project=" + name}).out.count('\n'), 1)
        << "the folder's own project kept its container";
    EXPECT_EQ(docker({"network", "inspect", name + "_default"}).status, 0) << "and its network";
}

// compose waits for good on a .env that is a named pipe. Closing the sheet while it works out its plan
// ends that child at once and frees the worker, however often the sheet is opened and closed.
TEST_F(DeleteOnEngine, ClosingTheSheetEndsAComposeThatHangsWorkingOutThePlan)
{
    const QString name = uniqueName("fifo");
    const QString dir = root.filePath(name);
    const auto cleanUp = qScopeGuard([&] {
        const QString ids = docker({"ps", "-aq", "--filter", "label=com.docker.compose.project=" + name}).out;
        docker(QStringList{"rm", "-f"} + ids.split('\n', Qt::SkipEmptyParts));
        docker({"network", "rm", name + "_default"});
    });
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("services:\n  web:\n" + service).toUtf8());
    file.close();
    ASSERT_NO_FATAL_FAILURE(startProject(name, dir));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/.env").constData(), 0600), 0);
    QCoro::waitFor(store->refresh(false));
    const QList<ComposeProject> projects = store->projects();
    const auto project = std::find_if(projects.cbegin(), projects.cend(),
                                      [&](const ComposeProject& p) { return p.name == name; });
    ASSERT_NE(project, projects.cend());
    window.show();

    for (int round = 0; round < 3; ++round) {
        QPointer<DeleteProjectView> open = DeleteProjectView::open(&window, *store, *project);
        // The mount query comes first; then compose reads the project in its folder and waits there
        // on the pipe.
        ASSERT_TRUE(eventually([&] { return !TestSupport::processesWorkingIn(dir).isEmpty(); }))
            << "round " << round;
        ASSERT_FALSE(open->plan().has_value());
        // The other runtimes' answers on who uses the folder come meanwhile; then compose alone is left.
        ASSERT_TRUE(eventually([&] { return Platform::trackedChildCount() == 1; })) << "round " << round;
        QTest::keyClick(open, Qt::Key_Escape);
        EXPECT_TRUE(eventually(
            [&] {
                return Platform::trackedChildCount() == 0 &&
                       Platform::Pools::userInitiated()->activeThreadCount() == 0 &&
                       TestSupport::processesWorkingIn(dir).isEmpty();
            },
            20000))
            << "round " << round;
    }
}

} // namespace
