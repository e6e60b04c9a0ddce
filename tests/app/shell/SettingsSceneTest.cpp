#include "app/shell/Scenes.h"

#include "app/design/SegmentedControl.h"
#include "app/design/Theme.h"
#include "platform/ProcessRunner.h"
#include "screens/DeleteProjectView.h"
#include "settings/SettingsWindow.h"
#include "sheets/CommandRunView.h"
#include "sheets/ReclaimView.h"
#include "sheets/SheetHost.h"

#include "ShellFixture.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using ShellTesting::Fixture;

// The Settings window as the application opens it: one window, reused, whose switches act on the
// rest of the application at once.
TEST(SettingsScene, TheWindowsSwitchesActOnTheApplication)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    Scenes scenes(f.preferences, f.stores());
    scenes.showSettings();
    auto* window = qobject_cast<SettingsWindow*>(scenes.settingsWindow());
    ASSERT_NE(window, nullptr);
    scenes.showSettings();
    EXPECT_EQ(scenes.settingsWindow(), window);

    auto* menuBar = window->findChild<QCheckBox*>("showMenuBarToggle");
    ASSERT_NE(scenes.menuBarExtra(), nullptr);
    menuBar->click();
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);
    menuBar->click();
    EXPECT_NE(scenes.menuBarExtra(), nullptr);

    auto* appearance = window->findChild<SegmentedControl*>("appearancePicker");
    const int segment = appearance->width() / appearance->count();
    QTest::mouseClick(appearance, Qt::LeftButton, {},
                      QPoint(segment * 2 + segment / 2, appearance->height() / 2));
    EXPECT_EQ(Theme::currentLook(), Look::dark);
    QTest::mouseClick(appearance, Qt::LeftButton, {},
                      QPoint(segment + segment / 2, appearance->height() / 2));
    EXPECT_EQ(Theme::currentLook(), Look::light);

    window->close();
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

namespace {

// Runs the application until it quits or `ms` pass; true when it quit by itself.
bool quitsWithin(int ms)
{
    bool waitedOut = false;
    QTimer failsafe;
    failsafe.setSingleShot(true);
    QObject::connect(&failsafe, &QTimer::timeout, [&] {
        waitedOut = true;
        // Leaves the loop without asking the windows, which may refuse as they refused the quit.
        QCoreApplication::exit();
    });
    failsafe.start(ms);
    QCoreApplication::exec();
    return !waitedOut;
}

// Presses Ctrl+Q in `window` once the application runs; true when that made it quit within `ms`.
bool ctrlQQuits(QWidget* window, int ms = 5000)
{
    QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier); });
    return quitsWithin(ms);
}

} // namespace

// Without a tray icon nothing could bring a closed window back, so the last window closed ends the
// application, and not before: the Settings window may be running a tool job.
TEST(SettingsScene, WithoutATrayTheLastWindowClosedEndsTheApplication)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(false);
    Scenes scenes(f.preferences, f.stores());
    scenes.showMainWindow();
    scenes.showSettings();
    scenes.mainWindow()->close();
    EXPECT_FALSE(quitsWithin(300));
    scenes.settingsWindow()->close();
    EXPECT_TRUE(quitsWithin(10000));

    // The other way round: the main window is the last.
    scenes.showMainWindow();
    scenes.showSettings();
    scenes.settingsWindow()->close();
    EXPECT_FALSE(quitsWithin(300));
    scenes.mainWindow()->close();
    EXPECT_TRUE(quitsWithin(10000));
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

// Ctrl+Q quits from whichever window has the keys: over a sheet that streams (which blocks the main
// window's own shortcuts), from the Settings window, and with the main window hidden. Quitting ends
// the sheet's child on the way out.
TEST(SettingsScene, CtrlQQuitsFromASheetAndFromSettingsAndEndsTheSheetsChild)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    QTemporaryDir scratch;
    const QString pidFile = scratch.filePath("pid");
    auto scenes = std::make_unique<Scenes>(f.preferences, f.stores());
    scenes->showMainWindow();
    auto* sheet =
        SheetHost::open(scenes->mainWindow(),
                        new CommandRunView(
                            "Waiting", "$ sleep",
                            [&] { return TestSupport::shell("echo $$ > '" + pidFile + "'; exec sleep 60"); },
                            [](std::optional<int>) {}));
    ASSERT_TRUE(TestSupport::eventually([&] { return TestSupport::pidFromFile(pidFile) > 0; }));
    const qint64 child = TestSupport::pidFromFile(pidFile);
    EXPECT_TRUE(ctrlQQuits(sheet));

    scenes->showSettings();
    EXPECT_TRUE(ctrlQQuits(scenes->settingsWindow()));
    scenes->mainWindow()->hide();
    EXPECT_TRUE(ctrlQQuits(scenes->settingsWindow()));

    // What the application does once its event loop has returned.
    scenes.reset();
    Platform::endRunningChildren();
    EXPECT_TRUE(TestSupport::processGone(child));
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

// A quit while a project is being deleted is kept: the running step is ended, no further one starts,
// the project stays remembered with what is left of it, and the application quits.
TEST(SettingsScene, AQuitDuringADeletionStopsItAndQuits)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    Scenes scenes(f.preferences, f.stores());
    scenes.showMainWindow();
    const Runtime alpha = Runtime::context("alpha");
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {"web"}}, alpha.id());
    f.store.setRegistry(registry);
    f.engine->setListing(alpha, {{ShellTesting::container("shop-web", "exited", "shop")}, {}, {}});
    const auto removal = f.engine->hold(StoreTesting::ScriptedEngine::Call::Capture, alpha);
    auto* sheet = SheetHost::open(
        scenes.mainWindow(),
        new DeleteProjectView(
            f.store,
            {"shop", std::nullopt, {ShellTesting::container("shop-web", "exited", "shop")}, 1, alpha},
            TeardownPlan{"shop", {"shop-web"}, {}, std::nullopt, {}, {"id-shop-web"}}));
    sheet->confirm();
    ASSERT_TRUE(TestSupport::eventually([&] { return removal->waitArrived(std::chrono::milliseconds(0)); }));

    EXPECT_TRUE(ctrlQQuits(sheet));
    EXPECT_EQ(f.store.deletions(), 0) << "the deletion wound down before the quit";
    // Held while it read the networks to go with the containers: the containers never went.
    EXPECT_EQ(f.engine->commandArgs(),
              (QList<QStringList>{{"inspect", "--type", "container", "id-shop-web", "--format",
                                   "{{json .NetworkSettings.Networks}}"}}));
    EXPECT_TRUE(f.store.registry().knows("shop", alpha.id()));
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

// A quit while space is being reclaimed is kept as during a deletion: the removal under way is ended,
// nothing after it starts, and the application quits, also while the store measures again after it.
TEST(SettingsScene, AQuitDuringAReclaimStopsItAndQuits)
{
    using Call = StoreTesting::ScriptedEngine::Call;
    const Runtime alpha = Runtime::context("alpha");
    const auto item = [&alpha](Reclaimable::Kind kind, const QString& ref) {
        return Reclaimable{kind, ref, ref, 1000, {}, Reclaimable::Recovery::Restorable, {}, alpha};
    };
    DiskUsage usage;
    usage.candidates = {item(Reclaimable::Kind::Container, "old"), item(Reclaimable::Kind::Image, "web:1")};
    const struct {
        Call heldAt;
        QList<QStringList> ran;
    } rows[] = {
        {Call::Capture, {{"rm", "old"}}},
        {Call::Usage, {{"rm", "old"}, {"rmi", "web:1"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.heldAt));
        Fixture f;
        Scenes::setTrayAvailableForTesting(true);
        Scenes scenes(f.preferences, f.stores());
        // Over a window of its own: the main window would start the store's polling, which measures too.
        QWidget host;
        host.show();
        f.store.setRuntime(alpha);
        f.store.setUsage(usage);
        const auto held = f.engine->hold(row.heldAt, alpha);
        auto* sheet = new ReclaimView(f.store, std::nullopt);
        // Measured already: the one measurement is the one after the removal.
        sheet->showMeasured({"alpha/container/old", "alpha/image/web:1"});
        SheetHost::open(&host, sheet);
        sheet->findChild<QAbstractButton*>("removeButton")->click();
        ASSERT_TRUE(TestSupport::eventually([&] { return held->waitArrived(std::chrono::milliseconds(0)); }));
        ASSERT_TRUE(sheet->working());

        EXPECT_TRUE(ctrlQQuits(sheet));
        held->open();
        Platform::Pools::drain();
        EXPECT_EQ(f.engine->commandArgs(), row.ran);
        EXPECT_EQ(f.engine->total(Call::Containers), 0) << "nothing listed on the way out";
        Scenes::setTrayAvailableForTesting(std::nullopt);
    }
}

// Work the way out cannot end (a move to the Trash, a look at a stalled mount) is waited for only so
// long: the application quits once the way out's time is up, and what it waits for afterwards has
// none left.
TEST(SettingsScene, AQuitWaitsForWorkThatWillNotEndOnlySoLong)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    Scenes scenes(f.preferences, f.stores());
    scenes.showMainWindow();
    const Runtime alpha = Runtime::context("alpha");
    f.engine->setListing(alpha, {{ShellTesting::container("shop-web", "exited", "shop")}, {}, {}});
    const auto stuck = f.engine->hold(StoreTesting::ScriptedEngine::Call::Capture, alpha, false);
    auto* sheet = SheetHost::open(
        scenes.mainWindow(),
        new DeleteProjectView(
            f.store,
            {"shop", std::nullopt, {ShellTesting::container("shop-web", "exited", "shop")}, 1, alpha},
            TeardownPlan{"shop", {"shop-web"}, {}, std::nullopt, {}, {"id-shop-web"}}));
    sheet->confirm();
    ASSERT_TRUE(TestSupport::eventually([&] { return stuck->waitArrived(std::chrono::milliseconds(0)); }));

    QElapsedTimer took;
    took.start();
    EXPECT_TRUE(ctrlQQuits(sheet, 15'000));
    const std::chrono::milliseconds limit = Platform::Pools::wayOutLimit;
    EXPECT_GE(took.elapsed(), limit.count() - 500) << "the winding down was waited for";
    EXPECT_LT(took.elapsed(), limit.count() + 2'000);
    EXPECT_EQ(f.store.deletions(), 1) << "still stuck";
    EXPECT_FALSE(Platform::Pools::drain(scenes.wayOut()));
    EXPECT_LT(took.elapsed(), limit.count() + 2'000);
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

// The main window opens at its default size where the screen has room for it, and no larger than
// the screen where it has not.
TEST(SettingsScene, TheMainWindowOpensNoLargerThanItsScreen)
{
    Fixture f;
    Scenes scenes(f.preferences, f.stores());
    scenes.showMainWindow();
    ContentView* window = scenes.mainWindow();
    const QSize room = window->screen()->availableGeometry().size();
    const QSize wanted(ContentView::defaultWidth, ContentView::defaultHeight);
    EXPECT_EQ(window->size(), wanted.boundedTo(room).expandedTo(window->minimumSize()));
    EXPECT_LT(room.width(), wanted.width()) << "the offscreen screen was meant to be the small one";
    window->close();
}
