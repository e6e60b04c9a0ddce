#include "app/parts/Preferences.h"

#include "platform/Settings.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

TEST(Preferences, DefaultsAndUnreadableValues)
{
    const auto settings = Platform::Settings::inMemory();
    Preferences prefs(*settings);
    EXPECT_EQ(prefs.appearance(), Appearance::automatic);
    EXPECT_TRUE(prefs.showMenuBar());
    EXPECT_TRUE(prefs.checkUpdatesAtLaunch());
    EXPECT_EQ(prefs.category(), Category::projects);
    EXPECT_EQ(prefs.cloneParent(), QDir::homePath());
    EXPECT_EQ(prefs.builderCPUs(), 0);
    EXPECT_EQ(prefs.builderMemoryGB(), 0);

    // What another version or a hand edit may have left: each reads as its default.
    settings->setValue("appearance", "Dark");
    settings->setValue("category", "images");
    settings->setValue("showMenuBar", "maybe");
    settings->setValue("builderCPUs", "many");
    EXPECT_EQ(prefs.appearance(), Appearance::automatic);
    EXPECT_EQ(prefs.category(), Category::projects);
    EXPECT_TRUE(prefs.showMenuBar());
    EXPECT_EQ(prefs.builderCPUs(), 0);

    settings->setValue("category", "Images");
    EXPECT_EQ(prefs.category(), Category::images);
}

TEST(Preferences, EveryHolderOfTheSameSettingsHearsAChange)
{
    const auto settings = Platform::Settings::inMemory();
    Preferences window(*settings);
    Preferences settingsWindow(*settings);
    QSignalSpy heard(&window, &Preferences::appearanceChanged);
    QSignalSpy other(&window, &Preferences::showMenuBarChanged);

    settingsWindow.setAppearance(Appearance::dark);
    EXPECT_EQ(heard.count(), 1);
    EXPECT_EQ(window.appearance(), Appearance::dark);
    // The same value again is no change.
    settingsWindow.setAppearance(Appearance::dark);
    EXPECT_EQ(heard.count(), 1);
    EXPECT_EQ(other.count(), 0);
}

TEST(Preferences, RoundTripThroughTheFile)
{
    const QString suite =
        QStringLiteral("voskel.test.preferences.%1").arg(QCoreApplication::applicationPid());
    {
        const auto settings = Platform::Settings::suite(suite);
        Preferences prefs(*settings);
        prefs.setCategory(Category::volumes);
        prefs.setCloneParent("/srv/code");
        prefs.setBuilderMemoryGB(12);
        prefs.setShowMenuBar(false);
    }
    {
        const auto settings = Platform::Settings::suite(suite);
        Preferences prefs(*settings);
        EXPECT_EQ(prefs.category(), Category::volumes);
        EXPECT_EQ(prefs.cloneParent(), "/srv/code");
        EXPECT_EQ(prefs.builderMemoryGB(), 12);
        EXPECT_FALSE(prefs.showMenuBar());
    }
    EXPECT_TRUE(Platform::Settings::removeSuite(suite));
}

} // namespace
