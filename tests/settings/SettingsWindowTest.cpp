#include "settings/SettingsWindow.h"

#include "app/design/SegmentedControl.h"
#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Banner.h"
#include "settings/LoginToggle.h"
#include "settings/RuntimeToolsSection.h"
#include "settings/ToolRow.h"
#include "store/AppStore.h"

#include "SettingsFixture.h"
#include "support/RecordingHost.h"

#include <QCheckBox>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

using SettingsTest::shown;
using SettingsTest::tool;
using TestSupport::eventually;

namespace {

// The window over fake tools.
class Window : public SettingsTest::OnFakeTools {
protected:
    std::unique_ptr<SettingsWindow> make(ToolchainStore& toolchain)
    {
        return std::make_unique<SettingsWindow>(store, toolchain, preferences, socket());
    }
};

} // namespace

TEST_F(Window, ControlsShowThePreferencesAndWriteOnlyWhatTheUserChanges)
{
    const auto toolchain = makeToolchain(false);
    QSignalSpy written(settings.get(), &Platform::Settings::changed);
    const auto window = make(*toolchain);
    auto* appearance = window->findChild<SegmentedControl*>("appearancePicker");
    auto* menuBar = window->findChild<QCheckBox*>("showMenuBarToggle");
    auto* launch = window->findChild<QCheckBox*>("checkAtLaunchToggle");
    // Nothing stored: auto, and both switches on.
    EXPECT_EQ(appearance->currentIndex(), 0);
    EXPECT_TRUE(menuBar->isChecked());
    EXPECT_TRUE(launch->isChecked());
    window->show();
    quiet();
    EXPECT_EQ(written.count(), 0);
    EXPECT_FALSE(settings->contains("appearance"));

    // A change elsewhere shows here without being written back.
    settings->setValue("appearance", "dark");
    settings->setValue("showMenuBar", false);
    EXPECT_EQ(appearance->currentIndex(), 2);
    EXPECT_FALSE(menuBar->isChecked());
    EXPECT_EQ(written.count(), 2);

    menuBar->click();
    launch->click();
    EXPECT_TRUE(preferences.showMenuBar());
    EXPECT_FALSE(preferences.checkUpdatesAtLaunch());
}

TEST_F(Window, LoginToggleWritesAndRemovesTheAutostartEntry)
{
    QTemporaryDir config;
    TestSupport::ScopedEnv xdg("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString entry = config.filePath("autostart/voskel.desktop");
    const auto toolchain = makeToolchain(false);
    const auto window = make(*toolchain);
    window->show();
    auto* toggle = window->findChild<QCheckBox*>("loginToggle");
    auto* failure = window->findChild<VoskLabel*>("loginFailureLabel");
    EXPECT_FALSE(toggle->isChecked());

    toggle->click();
    EXPECT_TRUE(QFile::exists(entry));
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(toggle->isChecked());

    // The folder cannot be made: a file holds its name.
    ASSERT_TRUE(QDir(config.filePath("autostart")).removeRecursively());
    QFile blocker(config.filePath("autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    toggle->click();
    EXPECT_FALSE(toggle->isChecked());
    EXPECT_TRUE(shown(failure));
    EXPECT_TRUE(failure->plainText().startsWith("Could not enable this: The login item could not be saved"))
        << failure->plainText().toStdString();

    // A change that works clears it.
    QFile::remove(blocker.fileName());
    toggle->click();
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_FALSE(shown(failure));
}

TEST_F(Window, ReadsTheToolsWhenShownAndWhenAnotherWindowBecomesActive)
{
    const auto toolchain = makeToolchain(false);
    const auto window = make(*toolchain);
    EXPECT_EQ(calls(engineList), 0);
    window->show();
    ASSERT_TRUE(eventually([&] { return toolchain->colimaInstalled(); }));
    // Opening reads once, and once more as the window becomes active.
    const int afterShow = quiet();
    EXPECT_GE(afterShow, 1);
    EXPECT_LE(afterShow, 2);

    QWidget main;
    main.show();
    main.activateWindow();
    EXPECT_EQ(quiet() - afterShow, 1);

    // Several reasons in one turn make one load.
    const int before = quiet();
    emit qApp->focusWindowChanged(main.windowHandle());
    emit qApp->focusWindowChanged(window->windowHandle());
    emit qApp->focusWindowChanged(main.windowHandle());
    EXPECT_EQ(quiet() - before, 1);
    ASSERT_TRUE(window->runtimeTools()->engineRow());
}

// A tool's page or the login folder that the desktop has nothing to open with says so in the
// Settings window itself, not in the main window's banner behind it.
TEST_F(Window, WhatTheDesktopCannotOpenShowsInSettings)
{
    TestSupport::RecordingHost host;
    host.opens = false;
    const auto toolchain = makeToolchain(true);
    const auto window = make(*toolchain);
    toolchain->setTools({tool("docker", "28.1.0", "28.1.0")});
    QCoreApplication::processEvents();
    ASSERT_EQ(window->runtimeTools()->toolRows().size(), 1);
    auto* page = window->runtimeTools()->toolRows().first()->findChild<VoskButton*>("toolActionButton");
    ASSERT_EQ(page->text(), "Homepage");

    page->click();
    ASSERT_EQ(host.opened.size(), 1);
    EXPECT_EQ(window->errorBanner()->message(), "Could not open " + host.opened.first().toString() + ".");
    EXPECT_EQ(store.error(), std::nullopt);
    window->errorBanner()->button("dismissErrorButton")->click();
    EXPECT_EQ(window->errorBanner()->message(), std::nullopt);

    window->findChild<VoskButton*>("openLoginItemsButton")->click();
    ASSERT_EQ(host.revealed.size(), 1);
    EXPECT_EQ(window->errorBanner()->message(), "Could not open " + host.revealed.first() + ".");
}

TEST_F(Window, AMenuOpeningAndClosingInAnotherWindowReadsNothing)
{
    const auto toolchain = makeToolchain(false);
    const auto window = make(*toolchain);
    window->show();
    QWidget main;
    main.show();
    main.activateWindow();
    emit qApp->focusWindowChanged(main.windowHandle());
    const int before = quiet();

    // A menu of the main window takes the focus while it is open; the main window stays the active one.
    QMenu menu(&main);
    menu.addAction(QStringLiteral("Stop"));
    menu.winId();
    ASSERT_EQ(menu.windowHandle()->type(), Qt::Popup);
    emit qApp->focusWindowChanged(menu.windowHandle());
    EXPECT_EQ(quiet(), before);
    emit qApp->focusWindowChanged(main.windowHandle());
    EXPECT_EQ(quiet(), before);

    // Coming back from another application still reads, and so does opening the tray's panel, a
    // pop-up of its own.
    emit qApp->focusWindowChanged(nullptr);
    emit qApp->focusWindowChanged(main.windowHandle());
    EXPECT_EQ(quiet(), before + 1);
    QWidget panel(nullptr, Qt::Popup);
    panel.winId();
    emit qApp->focusWindowChanged(panel.windowHandle());
    EXPECT_EQ(quiet(), before + 2);
}

TEST_F(Window, AClosedWindowReadsNothingAndReadsAndChecksAgainWhenReopened)
{
    const auto toolchain = makeToolchain(true);
    const QString update = "brew update --quiet";
    fakes.answer("brew", {"update", "--quiet"}, "");
    const auto window = make(*toolchain);
    window->show();
    const int opened = quiet();
    EXPECT_GE(opened, 1);
    EXPECT_EQ(calls(update), 1) << "never checked: opening checks";

    // Closed, the window is kept for the next opening; going between other windows reads nothing.
    window->close();
    QWidget main;
    main.show();
    main.activateWindow();
    emit qApp->focusWindowChanged(main.windowHandle());
    emit qApp->focusWindowChanged(nullptr);
    emit qApp->focusWindowChanged(main.windowHandle());
    EXPECT_EQ(quiet(), opened);

    // Opened again a day later: the tools are read afresh and the update check runs once more.
    toolchain->setLastChecked(QDateTime::fromSecsSinceEpoch(1'800'000'000 - 86'400, Qt::UTC));
    window->show();
    EXPECT_GE(quiet(), opened + 1);
    EXPECT_EQ(calls(update), 2);
}

TEST_F(Window, RendersInBothLooks)
{
    const auto toolchain = makeToolchain(true);
    toolchain->setTools({tool("container", "0.5.0", "0.5.0"), tool("socktainer", std::nullopt),
                         tool("docker", "28.0.4", "28.1.1"), tool("docker-compose", "2.26.1", "2.26.1"),
                         tool("colima", "0.8.1")});
    toolchain->setStatus({true, "0.5.0", "0.4.1"});
    toolchain->setBuilder({true, true, 4, qint64(4) << 30});
    toolchain->setEngine({false, 2, qint64(2) << 30});
    toolchain->setLastChecked(QDateTime::currentDateTimeUtc());
    settings->setValue("appearance", "dark");

    const QStringList window = TestSupport::renderToGallery("settings", [&] { return make(*toolchain); });
    EXPECT_EQ(window.size(), 2);
    const QStringList tools = TestSupport::renderToGallery(
        "settings-runtime-tools",
        [&] { return std::make_unique<RuntimeToolsSection>(*toolchain, preferences, socket()); }, 440);
    EXPECT_EQ(tools.size(), 2);
}
