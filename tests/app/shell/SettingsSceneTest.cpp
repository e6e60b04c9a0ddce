#include "app/shell/Scenes.h"

#include "app/design/SegmentedControl.h"
#include "app/design/Theme.h"
#include "settings/SettingsWindow.h"

#include "ShellFixture.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QTest>

using ShellTesting::Fixture;

// The Settings window as the application opens it: one window, reused, whose switches act on the
// rest of the application at once.
TEST(SettingsScene, TheWindowsSwitchesActOnTheApplication)
{
    Fixture f;
    Scenes::setTrayAvailableForTesting(true);
    Scenes scenes(f.preferences,
                  {[&]() -> AppStore& { return f.store; }, [&]() -> ToolchainStore& { return f.toolchain; }});
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
