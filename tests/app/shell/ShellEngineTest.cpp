#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Banner.h"
#include "app/parts/Preferences.h"
#include "app/shell/ContentView.h"
#include "app/shell/ImageMenu.h"
#include "app/shell/ImageRow.h"
#include "app/shell/ImagesView.h"
#include "app/shell/MenuBarView.h"
#include "app/shell/NavItem.h"
#include "app/shell/RuntimePicker.h"
#include "app/shell/Sidebar.h"
#include "app/shell/TagAlert.h"
#include "app/shell/VolumeRow.h"
#include "app/shell/VolumesView.h"
#include "engine/Docker.h"
#include "platform/Pools.h"
#include "platform/Settings.h"
#include "screens/ContainersView.h"
#include "sheets/CommandRunView.h"
#include "sheets/LogsView.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"
#include "toolchain/ToolchainStore.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using TestSupport::docker;
using TestSupport::eventually;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

namespace {

// A socket file that nothing listens on: a runtime behind it counts as reachable, and does not answer.
bool deadSocket(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= qsizetype(sizeof(address.sun_path)))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The main window on the real engine, with a client configuration of its own: the built-in context
// and, when a test adds it, a second one reaching the same engine through a link to its socket.
// The stores are not started: each test asks for what it needs, so nothing polls behind its back.
// The window starts filtered to what the test makes: the projects screen looks at the folder of every
// project it shows, and another run's may be on a mount that never answers.
class WindowOnEngine : public testing::Test {
protected:
    QTemporaryDir config;
    QTemporaryDir sockets;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", config.path().toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    QString base = uniqueName("shell");
    QStringList containers;
    QStringList images;
    QStringList volumes;
    std::unique_ptr<AppStore> store;
    std::unique_ptr<ToolchainStore> toolchain;
    std::unique_ptr<Preferences> preferences;

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        TestSupport::prepareWidgets();
        Docker::setAppleSocketPathForTesting(sockets.filePath("no-apple.sock"));
        store = std::make_unique<AppStore>(*settings);
        store->setFilter(base);
        toolchain = std::make_unique<ToolchainStore>(
            *settings,
            ToolchainStore::Host{[] { return false; }, [] { return QDateTime::currentDateTimeUtc(); }});
        preferences = std::make_unique<Preferences>(*settings);
    }

    void TearDown() override
    {
        if (!containers.isEmpty())
            docker(QStringList{"rm", "-f"} + containers);
        for (const QString& image : images)
            docker({"rmi", image});
        for (const QString& volume : volumes)
            docker({"volume", "rm", volume});
        Docker::setAppleSocketPathForTesting(QString());
        store.reset();
        Platform::Pools::drain();
        QCoreApplication::processEvents();
    }

    void runContainer(const QString& name)
    {
        containers << name;
        const auto started = docker(
            {"run", "-d", "--network", "none", "--name", name, TestSupport::testImage(), "sleep", "600"});
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
    }

    void addLinkedContext(const QString& name)
    {
        const QString link = sockets.filePath("engine.sock");
        if (!QFile::exists(link)) {
            ASSERT_TRUE(QFile::link("/var/run/docker.sock", link));
        }
        const auto created = docker({"context", "create", name, "--docker", "host=unix://" + link});
        ASSERT_EQ(created.status, 0) << created.err.toStdString();
    }

    void refresh() { QCoro::waitFor(store->refresh(false)); }

    qsizetype count(ContentView& window, Category category)
    {
        return window.sidebar()->item(category)->count().value_or(-1);
    }

    bool counted(ContentView& window, Category category, qsizetype expected)
    {
        return eventually([&] { return count(window, category) == expected; });
    }

    // The test image itself among those the filter matches, which may hold other runs' images named
    // after it.
    std::optional<DockerImage> listedTestImage() const
    {
        for (const DockerImage& image : store->matchingImages())
            if (image.ref() == TestSupport::testImage())
                return image;
        return std::nullopt;
    }
};

TEST_F(WindowOnEngine, ListsTheEngineAndThePickerAndFilterChangeWhatIsCounted)
{
    const QString web = base + "-web";
    ASSERT_NO_FATAL_FAILURE(runContainer(web));
    const QString image = base + "-img:1";
    images << image;
    ASSERT_EQ(docker({"tag", TestSupport::testImage(), image}).status, 0);
    const QString volume = base + "-data";
    volumes << volume;
    ASSERT_EQ(docker({"volume", "create", volume}).status, 0);
    ASSERT_NO_FATAL_FAILURE(addLinkedContext(base + "-second"));

    ContentView window(*store, *toolchain, *preferences);
    MenuBarView panel(*store, *toolchain);
    window.show();
    QCoro::waitFor(store->loadContexts());
    auto* picker = window.findChild<RuntimePicker*>("runtimePicker");
    ASSERT_EQ(picker->tags(), QStringList({"default", base + "-second", AppStore::allRuntimesTag()}));
    EXPECT_EQ(picker->currentText(), "default \u00B7 current");

    // Only what this test made, on every screen's count: the filter narrows them all.
    window.findChild<QLineEdit*>("filterField")->setText(base);
    EXPECT_TRUE(counted(window, Category::containers, 1));
    EXPECT_TRUE(counted(window, Category::images, 1));
    EXPECT_TRUE(counted(window, Category::volumes, 1));
    // The containers screen shows it as a card.
    window.setCategory(Category::containers);
    auto* containersView = window.findChild<ContainersView*>();
    ASSERT_NE(containersView, nullptr);
    EXPECT_TRUE(eventually([&] { return containersView->content()->cardCount() == 1; }));
    const auto lines = MenuBarView::lines(*store);
    EXPECT_TRUE(std::any_of(lines.cbegin(), lines.cend(), [&](const MenuBarView::Line& l) {
        return l.container.name == web && l.container.state == "running";
    }));

    // The second context reaches the same engine: the same items, now listed on it.
    picker->activated(picker->findData(base + "-second"));
    ASSERT_TRUE(eventually([&] { return store->runtime() && store->runtime()->id() == base + "-second"; }));
    ASSERT_TRUE(eventually(
        [&] {
            return !store->matchingContainers().isEmpty() &&
                   store->matchingContainers().first().runtime == Runtime::context(base + "-second");
        },
        20000));
    EXPECT_TRUE(counted(window, Category::containers, 1));

    // Both runtimes at once list everything twice.
    picker->activated(picker->findData(AppStore::allRuntimesTag()));
    EXPECT_TRUE(counted(window, Category::containers, 2));
    EXPECT_TRUE(counted(window, Category::images, 2));
    EXPECT_TRUE(counted(window, Category::volumes, 2));
    EXPECT_EQ(picker->currentText(), "All runtimes");
    EXPECT_TRUE(eventually([&] { return containersView->content()->cardCount() == 2; }));

    window.findChild<QLineEdit*>("filterField")->setText(base + "-nothing");
    EXPECT_TRUE(counted(window, Category::containers, 0));
    EXPECT_TRUE(eventually([&] { return containersView->content()->cardCount() == 0; }));
    EXPECT_TRUE(counted(window, Category::volumes, 0));
}

// All runtimes shown, the other one named in the notice for not answering, and then its context
// removed: the window shows the one runtime left and acts on it (pulls and logs in there, names no
// runtime on its rows), also once started again, and the notice no longer names one that is gone.
TEST_F(WindowOnEngine, AContextRemovedWhileAllAreShownLeavesTheWindowOnTheOneLeft)
{
    const QString other = base + "-other";
    const QString dead = sockets.filePath("dead.sock");
    ASSERT_TRUE(deadSocket(dead));
    const auto created = docker({"context", "create", other, "--docker", "host=unix://" + dead});
    ASSERT_EQ(created.status, 0) << created.err.toStdString();
    const QString image = base + "-img:1";
    images << image;
    ASSERT_EQ(docker({"tag", TestSupport::testImage(), image}).status, 0);

    preferences->setCategory(Category::images);
    ContentView window(*store, *toolchain, *preferences);
    window.show();
    QCoro::waitFor(store->loadContexts());
    auto* picker = window.findChild<RuntimePicker*>("runtimePicker");
    ASSERT_EQ(picker->tags(), QStringList({"default", other, AppStore::allRuntimesTag()}));
    picker->activated(picker->findData(AppStore::allRuntimesTag()));
    const QString notAnswering = other + " is not answering \u2014 showing the rest.";
    ASSERT_TRUE(eventually([&] { return store->notice() == notAnswering; }));
    EXPECT_EQ(picker->currentText(), "All runtimes");

    auto* view = window.findChild<ImagesView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(window.findChild<VoskButton*>("loginButton")->isEnabled());

    ASSERT_EQ(docker({"context", "rm", other}).status, 0);
    QCoro::waitFor(store->loadContexts());
    EXPECT_EQ(picker->tags(), QStringList({"default"}));
    EXPECT_EQ(picker->currentText(), "default \u00B7 current");
    EXPECT_EQ(store->notice(), std::nullopt);
    EXPECT_TRUE(eventually([&] { return !window.findChild<Banner*>("noticeBanner")->isVisible(); }))
        << "the banner slides away";

    EXPECT_FALSE(store->showAll());
    EXPECT_TRUE(window.findChild<VoskButton*>("loginButton")->isEnabled());
    window.findChild<QLineEdit*>("pullField")->setText(image);
    EXPECT_TRUE(window.findChild<VoskButton*>("pullButton")->isEnabled());
    ASSERT_TRUE(eventually([&] { return store->matchingImages().size() == 1; }));
    ImageRow* row = nullptr;
    ASSERT_TRUE(eventually([&] { return (row = view->row(store->matchingImages().first())) != nullptr; }));
    QStringList texts;
    for (const VoskLabel* label : row->findChildren<VoskLabel*>())
        texts << label->plainText();
    EXPECT_FALSE(texts.join('\n').contains("default")) << texts.join(" | ").toStdString();
    // A window started again from the same settings shows the one runtime too.
    EXPECT_FALSE(AppStore(*settings).showAll());
}

// A context whose socket is not there at all is offline, never asked; with all runtimes shown it is
// named in the notice beside the runtime that answers.
TEST_F(WindowOnEngine, AContextWithoutASocketIsNamedWhileAllAreShown)
{
    const QString missing = base + "-missing";
    const auto created = docker(
        {"context", "create", missing, "--docker", "host=unix://" + sockets.filePath("nonexistent.sock")});
    ASSERT_EQ(created.status, 0) << created.err.toStdString();

    ContentView window(*store, *toolchain, *preferences);
    window.show();
    QCoro::waitFor(store->loadContexts());
    auto* picker = window.findChild<RuntimePicker*>("runtimePicker");
    ASSERT_EQ(picker->tags(), QStringList({"default", missing, AppStore::allRuntimesTag()}));
    EXPECT_EQ(picker->itemText(picker->findData(missing)), missing + " \u00B7 offline");
    picker->activated(picker->findData(AppStore::allRuntimesTag()));
    const QString notAnswering = missing + " is not answering \u2014 showing the rest.";
    EXPECT_TRUE(eventually([&] { return store->notice() == notAnswering; }))
        << store->notice().value_or("none").toStdString();
    EXPECT_TRUE(eventually([&] { return window.findChild<Banner*>("noticeBanner")->isVisible(); }));
}

TEST_F(WindowOnEngine, TagPullAndRemoveThroughTheImagesScreen)
{
    preferences->setCategory(Category::images);
    ContentView window(*store, *toolchain, *preferences);
    window.show();
    QCoro::waitFor(store->loadContexts());
    window.findChild<QLineEdit*>("filterField")->setText(TestSupport::testImage());
    auto* view = window.findChild<ImagesView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(eventually([&] { return listedTestImage().has_value(); }));
    settle();
    const DockerImage source = *listedTestImage();
    ImageRow* row = view->row(source);
    ASSERT_NE(row, nullptr);

    // Tag through the row's menu and the alert.
    const QString tagged = base + "-tagged:2";
    images << tagged;
    row->menu()->findChild<QAction*>("tagAction")->trigger();
    auto* alert = window.findChild<TagAlert*>();
    ASSERT_NE(alert, nullptr);
    alert->findChild<QLineEdit*>("tagField")->setText(tagged);
    QTest::mouseClick(alert->findChild<VoskButton*>("tagButton"), Qt::LeftButton);
    window.findChild<QLineEdit*>("filterField")->setText(base);
    ASSERT_TRUE(
        eventually([&] { return store->matchingImages().size() == 1 && view->rowCount() == 1; }, 20000));
    EXPECT_EQ(ImageRow::displayName(store->matchingImages().first()), tagged);
    EXPECT_EQ(store->error(), std::nullopt);

    // A pull that the engine cannot serve (there is no registry for this name) shows its error.
    const QString missing = base + "-nowhere:1";
    auto* field = view->findChild<QLineEdit*>("pullField");
    field->setText(missing);
    QTest::mouseClick(view->findChild<VoskButton*>("pullButton"), Qt::LeftButton);
    EXPECT_EQ(field->text(), "");
    ASSERT_TRUE(eventually([&] { return store->error().has_value(); }, 60000));
    EXPECT_TRUE(eventually([&] { return window.errorBanner()->shownFraction() == 1; }, 5000));
    EXPECT_EQ(window.errorBanner()->shownText(), *store->error());

    // Remove the tag through its row.
    const DockerImage mine = store->matchingImages().first();
    QTest::mouseClick(view->row(mine)->findChild<VoskButton*>("removeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return view->rowCount() == 0; }, 20000));
    EXPECT_NE(docker({"image", "inspect", tagged}).status, 0);
    images.clear();
}

TEST_F(WindowOnEngine, TagPushRemoveAndPullAgainWithTheTestRegistry)
{
    VOSKEL_REQUIRE_REGISTRY();
    const TestSupport::TestRegistry registry = *TestSupport::testRegistry();
    const Platform::Capture login =
        Docker::capture({"login", registry.address, "-u", registry.username, "--password-stdin"},
                        std::nullopt, std::nullopt, registry.password);
    ASSERT_EQ(login.status, 0) << login.err.toStdString();
    const QString reference = registry.address + "/" + base + "-pushed:1";
    images << reference;

    preferences->setCategory(Category::images);
    ContentView window(*store, *toolchain, *preferences);
    window.show();
    QCoro::waitFor(store->loadContexts());
    auto* filter = window.findChild<QLineEdit*>("filterField");
    auto* view = window.findChild<ImagesView*>();
    filter->setText(TestSupport::testImage());
    ASSERT_TRUE(eventually([&] { return listedTestImage().has_value(); }));
    settle();

    // A name in the registry, through the tag alert.
    view->row(*listedTestImage())->menu()->findChild<QAction*>("tagAction")->trigger();
    auto* alert = window.findChild<TagAlert*>();
    ASSERT_NE(alert, nullptr);
    alert->findChild<QLineEdit*>("tagField")->setText(reference);
    QTest::mouseClick(alert->findChild<VoskButton*>("tagButton"), Qt::LeftButton);
    filter->setText(base);
    ASSERT_TRUE(
        eventually([&] { return store->matchingImages().size() == 1 && view->rowCount() == 1; }, 20000));
    const DockerImage tagged = store->matchingImages().first();
    EXPECT_EQ(ImageRow::displayName(tagged), reference);

    // Push through the row's menu: the sheet shows the command and ends well.
    view->row(tagged)->menu()->findChild<QAction*>("pushAction")->trigger();
    auto* sheet = window.findChild<CommandRunView*>();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(eventually([&] { return sheet->exitStatus().has_value(); }, 60000))
        << sheet->text().toStdString();
    EXPECT_EQ(sheet->exitStatus(), 0) << sheet->text().toStdString();
    EXPECT_TRUE(sheet->text().startsWith("$ docker push " + reference)) << sheet->text().toStdString();
    sheet->reject();

    // Gone from the engine through its row, then back from the registry through the pull field.
    QTest::mouseClick(view->row(tagged)->findChild<VoskButton*>("removeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return view->rowCount() == 0; }, 20000));
    EXPECT_NE(docker({"image", "inspect", reference}).status, 0);

    view->findChild<QLineEdit*>("pullField")->setText(reference);
    QTest::mouseClick(view->findChild<VoskButton*>("pullButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return view->rowCount() == 1; }, 60000))
        << store->error().value_or("").toStdString();
    EXPECT_EQ(ImageRow::displayName(store->matchingImages().first()), reference);
    EXPECT_EQ(store->error(), std::nullopt);

    // Its inspect output, in the logs sheet.
    view->row(store->matchingImages().first())->menu()->findChild<QAction*>("inspectAction")->trigger();
    auto* inspect = window.findChild<LogsView*>();
    ASSERT_NE(inspect, nullptr);
    EXPECT_TRUE(eventually([&] { return inspect->text().contains(reference); }, 30000))
        << inspect->text().toStdString();
    inspect->reject();
}

TEST_F(WindowOnEngine, RemovesAVolumeThroughItsRow)
{
    const QString volume = base + "-gone";
    volumes << volume;
    ASSERT_EQ(docker({"volume", "create", volume}).status, 0);
    preferences->setCategory(Category::volumes);
    ContentView window(*store, *toolchain, *preferences);
    window.show();
    QCoro::waitFor(store->loadContexts());
    window.findChild<QLineEdit*>("filterField")->setText(volume);
    auto* view = window.findChild<VolumesView*>();
    ASSERT_TRUE(eventually([&] { return store->matchingVolumes().size() == 1 && view->rowCount() == 1; }));
    VolumeRow* row = view->row(store->matchingVolumes().first());
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(row->findChild<VoskButton*>("removeButton"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return view->rowCount() == 0; }, 20000));
    EXPECT_NE(docker({"volume", "inspect", volume}).status, 0);
    volumes.clear();
}

} // namespace
