#include "screens/AddProjectButton.h"
#include "screens/FolderChecks.h"
#include "screens/ProjectCard.h"
#include "screens/ProjectControls.h"
#include "screens/ProjectsContent.h"

#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"
#include "engine/Docker.h"
#include "platform/Pools.h"
#include "platform/Settings.h"
#include "sheets/CommandRunView.h"
#include "store/AppStore.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using TestSupport::docker;
using TestSupport::eventually;
using TestSupport::RecordingHost;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

namespace {

// The projects screen on the real engine, with a client configuration of its own; compose projects
// live in folders of the test's own and are removed with their images at the end. The screen shows
// only the run's own projects (the filter is the run's prefix): it looks at the folder of every
// project it shows, and another run's may be anywhere, on a mount that never answers, say.
class ProjectsOnEngine : public testing::Test {
protected:
    QTemporaryDir root;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", root.filePath("docker").toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    ScopedEnv composeName{"COMPOSE_PROJECT_NAME", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::unique_ptr<AppStore> store;
    QStringList projectsMade;
    std::unique_ptr<QWidget> owner = std::make_unique<QWidget>();
    QWidget& window = *owner;

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        TestSupport::prepareWidgets();
        ASSERT_TRUE(QDir().mkpath(root.filePath("docker")));
        Docker::setAppleSocketPathForTesting(root.filePath("no-apple.sock"));
        store = std::make_unique<AppStore>(*settings);
        store->setFilter(TestSupport::runPrefix());
        QCoro::waitFor(store->loadContexts());
        ASSERT_EQ(store->runtime(), Runtime::context("default"));
    }

    void TearDown() override
    {
        // The screens go before the store they watch.
        owner.reset();
        store.reset();
        Platform::Pools::drain();
        QCoreApplication::processEvents();
        for (const QString& project : std::as_const(projectsMade)) {
            docker({"compose", "-p", project, "down", "--rmi", "local", "-t", "1"}, root.filePath(project));
            // compose takes nothing down, its images neither, for a project that never got a container.
            // By name: the same build made elsewhere has the same identifier.
            const QStringList built = docker({"images", "--filter", "reference=" + project + "-*", "--format",
                                              "{{.Repository}}:{{.Tag}}"})
                                          .out.split('\n', Qt::SkipEmptyParts);
            if (!built.isEmpty())
                docker(QStringList{"rmi"} + built);
        }
        Docker::setAppleSocketPathForTesting(QString());
    }

    QString makeProject(const QString& name, const QString& composeFile, const QString& dockerfile = {})
    {
        const QString dir = root.filePath(name);
        EXPECT_TRUE(QDir().mkpath(dir));
        QFile compose(dir + "/compose.yaml");
        EXPECT_TRUE(compose.open(QIODevice::WriteOnly));
        compose.write(composeFile.toUtf8());
        if (!dockerfile.isEmpty()) {
            QFile file(dir + "/Dockerfile");
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(dockerfile.toUtf8());
        }
        projectsMade << name;
        return dir;
    }

    // On no network unless `networked`, when the project's own network is part of what is tried.
    static QString sleeper(const QString& service, bool networked = false)
    {
        return "  " + service + ":\n    image: " + TestSupport::testImage() +
               "\n    command: [\"sleep\", \"600\"]\n    stop_grace_period: 1s\n" +
               (networked ? QString() : QString(TestSupport::noNetwork));
    }

    // Adds the folder through the add button, as a user would: the chooser answers with the folder
    // and the shown runtime.
    void add(const QString& dir)
    {
        RecordingHost host;
        host.answerFolder(Host::FolderChoice{dir, int(store->addableRuntimes().indexOf(*store->runtime()))});
        AddProjectButton button(*store, VoskButtonStyle::Variant::accent);
        QTest::mouseClick(&button, Qt::LeftButton);
        ASSERT_TRUE(
            eventually([&] { return store->registry().knows(QDir(dir).dirName(), QString("default")); }));
    }

    QStringList states(const QString& project) const
    {
        QStringList out;
        for (const Container& c : store->containers())
            if (c.project() == project)
                out << c.state;
        out.sort();
        return out;
    }

    bool statesAre(const QString& project, const QStringList& expected)
    {
        return eventually(
            [&] {
                QCoro::waitFor(store->refresh(false));
                return states(project) == expected;
            },
            60000);
    }

    static void click(ProjectControls* controls, const char* name)
    {
        auto* button = controls->findChild<VoskButton*>(QString::fromLatin1(name));
        ASSERT_TRUE(button && !button->isHidden()) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    static QAction* menuAction(ProjectControls* controls, const char* name)
    {
        return controls->menu()->findChild<QAction*>(QString::fromLatin1(name));
    }

    Alert* openAlert()
    {
        Alert* found = nullptr;
        eventually(
            [&] {
                found = window.findChild<Alert*>("downAlert");
                return found && found->isVisible();
            },
            5000);
        return found;
    }

    static QString textOf(const QWidget* widget)
    {
        QStringList texts;
        for (const QLabel* label : widget->findChildren<QLabel*>())
            texts << label->text();
        return texts.join('\n');
    }
};

TEST_F(ProjectsOnEngine, AProjectAddedFromAFolderIsStartedStoppedBroughtDownAndForgotten)
{
    const QString name = uniqueName("shop");
    const QString dir = makeProject(name, "services:\n" + sleeper("web") + sleeper("worker"));
    ASSERT_NO_FATAL_FAILURE(add(dir));

    window.resize(900, 700);
    auto* content = new ProjectsContent(*store, &window);
    content->waitForFolders();
    const QString id = "default/" + name;
    ProjectCard* card = content->card(id);
    ASSERT_TRUE(card);
    ProjectControls* controls = card->controls();

    // Remembered, nothing created yet: Start brings it up from the compose file.
    click(controls, "startButton");
    ASSERT_TRUE(statesAre(name, {"running", "running"})) << store->error().value_or(QString()).toStdString();
    content->refresh();
    ASSERT_EQ(content->card(id), card);

    // Under a filter that matches one of the two services, Stop stops both.
    store->setFilter(name + "-worker");
    content->refresh();
    ASSERT_EQ(content->card(id)->project().containers.size(), 1);
    click(controls, "stopButton");
    ASSERT_TRUE(statesAre(name, {"exited", "exited"}));
    store->setFilter(TestSupport::runPrefix());
    content->refresh();

    // Down: the alert counts the project's containers; confirming removes them, the project stays.
    window.show();
    menuAction(controls, "downAction")->trigger();
    Alert* alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(textOf(alert).contains("Removes the 2 containers and the project network."))
        << textOf(alert).toStdString();
    QTest::mouseClick(alert->findChild<VoskButton*>("downButton"), Qt::LeftButton);
    ASSERT_TRUE(statesAre(name, {}));
    content->refresh();
    ASSERT_TRUE(content->card(id));
    EXPECT_TRUE(content->card(id)->project().containers.isEmpty());

    // Forget: out of the registry and, having no containers, out of the list.
    menuAction(content->card(id)->controls(), "forgetAction")->trigger();
    EXPECT_FALSE(store->registry().knows(name, QString("default")));
    content->refresh();
    EXPECT_FALSE(content->card(id));
}

TEST_F(ProjectsOnEngine, RebuildStreamsTheBuildAndTheDownAlertSpeaksOfOneContainer)
{
    const QString name = uniqueName("built");
    const QString dir = makeProject(name,
                                    "services:\n  app:\n    build: .\n    command: [\"sleep\", \"600\"]\n"
                                    "    stop_grace_period: 1s\n    network_mode: none\n",
                                    "FROM " + TestSupport::testImage() + "\nRUN echo built > /built\n");
    ASSERT_NO_FATAL_FAILURE(add(dir));
    auto* content = new ProjectsContent(*store, &window);
    window.show();
    content->waitForFolders();
    ProjectCard* card = content->card("default/" + name);
    ASSERT_TRUE(card);
    QAction* rebuild = menuAction(card->controls(), "rebuildAction");
    ASSERT_TRUE(rebuild->isVisible());

    rebuild->trigger();
    CommandRunView* sheet = nullptr;
    ASSERT_TRUE(eventually([&] { return (sheet = window.findChild<CommandRunView*>()) != nullptr; }));
    ASSERT_TRUE(eventually([&] { return sheet->exitStatus().has_value(); }, 180000))
        << sheet->text().toStdString();
    EXPECT_EQ(sheet->exitStatus(), 0) << sheet->text().toStdString();
    EXPECT_TRUE(sheet->text().startsWith("$ docker compose -p " + name + " up -d --build"));
    EXPECT_TRUE(sheet->text().contains("done")) << sheet->text().toStdString();
    ASSERT_TRUE(statesAre(name, {"running"}));
    sheet->reject();

    content->refresh();
    menuAction(content->card("default/" + name)->controls(), "downAction")->trigger();
    Alert* alert = openAlert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(textOf(alert).contains("Removes the 1 container and the project network."))
        << textOf(alert).toStdString();
    alert->reject();

    EXPECT_EQ(states(name), QStringList{"running"}); // cancelled: nothing went
}

// Started from a shell where another compose project was being worked on: the folder is still read,
// added and brought up under its own name, from its own compose file.
TEST_F(ProjectsOnEngine, AFolderIsAddedAndStartedAsItselfWhateverTheEnvironmentNames)
{
    const QString elsewhere = uniqueName("elsewhere");
    ScopedEnv projectName{"COMPOSE_PROJECT_NAME", elsewhere.toUtf8()};
    ScopedEnv composeFile{"COMPOSE_FILE", "elsewhere.yaml"};
    const QString name = uniqueName("own");
    const QString dir = makeProject(name, "services:\n" + sleeper("web"));
    ASSERT_NO_FATAL_FAILURE(add(dir));
    EXPECT_FALSE(store->registry().knows(elsewhere, QString("default")));

    auto* content = new ProjectsContent(*store, &window);
    content->waitForFolders();
    ProjectCard* card = content->card("default/" + name);
    ASSERT_TRUE(card);
    click(card->controls(), "startButton");
    ASSERT_TRUE(statesAre(name, {"running"})) << store->error().value_or(QString()).toStdString();
    EXPECT_EQ(states(elsewhere), QStringList());
}

// Brought up with an override, then its folder moved: Down and the logs stay on offer, the folder is
// located anew, and Up recreates the container from the files at their new place, or names the one it
// cannot find there. Moved once more, the project still goes down.
TEST_F(ProjectsOnEngine, AMovedProjectIsLocatedBroughtUpFromItsNewPlaceAndTakenDown)
{
    const QString name = uniqueName("moving");
    const QString dir =
        makeProject(name, "services:\n" + sleeper("web", true) + "    volumes: [\"./data:/data\"]\n");
    projectsMade.removeOne(name);
    const auto cleanUp = qScopeGuard([&] {
        docker({"compose", "-p", name, "down", "-t", "1"}, QDir::rootPath());
    });
    QFile extra(dir + "/compose.extra.yaml");
    ASSERT_TRUE(extra.open(QIODevice::WriteOnly));
    extra.write("services:\n  web:\n    environment: {FLAVOUR: extra}\n");
    extra.close();
    const auto up =
        docker({"compose", "-p", name, "-f", "compose.yaml", "-f", "compose.extra.yaml", "up", "-d"}, dir);
    ASSERT_EQ(up.status, 0) << up.err.toStdString();
    // Into another folder, under its own name, which is the project's.
    ASSERT_TRUE(QDir().mkpath(root.filePath("moved, again")));
    const QString moved = root.filePath("moved, again/" + name);
    ASSERT_TRUE(QDir().rename(dir, moved));
    QCoro::waitFor(store->refresh(false));

    window.show();
    auto* content = new ProjectsContent(*store, &window);
    content->waitForFolders();
    const QString id = "default/" + name;
    ASSERT_TRUE(content->card(id));
    ProjectControls::Offer offer = content->card(id)->controls()->offer();
    EXPECT_TRUE(offer.down && offer.logs && offer.locate && !offer.up);

    RecordingHost host;
    host.answerFolder(Host::FolderChoice{moved, std::nullopt});
    menuAction(content->card(id)->controls(), "locateAction")->trigger();
    ASSERT_TRUE(eventually([&] {
        content->refresh();
        return content->card(id)->project().workingDir == moved;
    })) << store->error().value_or(QString()).toStdString();
    EXPECT_EQ(store->error(), std::nullopt);
    content->waitForFolders();
    ASSERT_TRUE(content->card(id)->controls()->offer().up);

    const QString web = name + "-web-1";
    const QString before = docker({"inspect", "--format", "{{.Id}}", web}).out;
    ASSERT_TRUE(QFile::rename(moved + "/compose.extra.yaml", moved + "/later.yaml"));
    menuAction(content->card(id)->controls(), "upAction")->trigger();
    ASSERT_TRUE(eventually([&] { return store->error().has_value(); }));
    EXPECT_TRUE(store->error()->contains(moved + "/compose.extra.yaml")) << store->error()->toStdString();
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, before) << "nothing was recreated";

    ASSERT_TRUE(QFile::rename(moved + "/later.yaml", moved + "/compose.extra.yaml"));
    store->setError(std::nullopt);
    menuAction(content->card(id)->controls(), "upAction")->trigger();
    const auto mountOfWeb = [&] {
        return docker({"inspect", "--format", "{{range .Mounts}}{{.Source}}{{end}}", web}).out.trimmed();
    };
    ASSERT_TRUE(eventually([&] { return mountOfWeb() == moved + "/data"; }, 60000))
        << mountOfWeb().toStdString() << store->error().value_or(QString()).toStdString();
    EXPECT_TRUE(docker({"inspect", "--format", "{{json .Config.Env}}", web}).out.contains("FLAVOUR=extra"));
    EXPECT_TRUE(eventually([&] { return !store->busy(); }));
    EXPECT_EQ(store->error(), std::nullopt);

    ASSERT_TRUE(QDir().rename(moved, root.filePath(name + "-gone")));
    QCoro::waitFor(store->refresh(false));
    // A listing that changed no folder looks at none: the periodic look finds the folder gone. It
    // passes while a look is still going through folders (those of other runs' projects, say), and
    // comes again, as the timer's would.
    EXPECT_TRUE(eventually([&] {
        content->refresh();
        content->folderChecks()->lookAgain(store->projects());
        content->waitForFolders();
        offer = content->card(id)->controls()->offer();
        return offer.down && !offer.up;
    }));
    menuAction(content->card(id)->controls(), "downAction")->trigger();
    Alert* alert = openAlert();
    ASSERT_TRUE(alert);
    QTest::mouseClick(alert->findChild<VoskButton*>("downButton"), Qt::LeftButton);
    ASSERT_TRUE(statesAre(name, {})) << store->error().value_or(QString()).toStdString();
    EXPECT_EQ(docker({"network", "ls", "-q", "--filter", "label=com.docker.compose.project=" + name}).out,
              "");
}

TEST_F(ProjectsOnEngine, LocatingAFolderThatHoldsAnotherProjectIsRefused)
{
    const QString name = uniqueName("moved");
    const QString dir = makeProject(name, "services:\n" + sleeper("web"));
    const QString other = makeProject(uniqueName("other"), "services:\n" + sleeper("web"));
    ASSERT_NO_FATAL_FAILURE(add(dir));
    ASSERT_TRUE(QDir(dir).removeRecursively()); // the folder moved away
    projectsMade.removeOne(name);

    auto* content = new ProjectsContent(*store, &window);
    content->waitForFolders();
    ProjectCard* card = content->card("default/" + name);
    ASSERT_TRUE(card);
    QAction* locate = menuAction(card->controls(), "locateAction");
    ASSERT_TRUE(locate->isVisible());

    RecordingHost host;
    host.answerFolder(Host::FolderChoice{other, std::nullopt});
    locate->trigger();
    ASSERT_TRUE(eventually([&] { return store->error().has_value(); }));
    EXPECT_TRUE(store->error()->contains("not \u201c" + name + "\u201d")) << store->error()->toStdString();
    // Still remembered where it was.
    bool kept = false;
    for (const KnownProject& known : store->registry().byRuntime.value("default"))
        kept = kept || (known.name == name && known.workingDir == dir);
    EXPECT_TRUE(kept);
}

} // namespace
