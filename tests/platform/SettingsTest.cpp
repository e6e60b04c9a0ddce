#include "platform/Settings.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using Platform::Settings;

namespace {

// Every test gets its own configuration folder, never the user's. The settings read the folder
// from the environment once per process, so it is also handed to them directly and given back after.
class SettingsFiles : public testing::Test {
protected:
    ~SettingsFiles() override { Settings::keepSuitesIn(before); }

    QTemporaryDir home;
    TestSupport::ScopedEnv config{"XDG_CONFIG_HOME", home.path().toUtf8()};
    QString before = Settings::keepSuitesIn(home.path());
};

} // namespace

TEST_F(SettingsFiles, ValuesSurviveReopeningTheSuite)
{
    {
        auto settings = Settings::suite(QStringLiteral("voskel.test"));
        EXPECT_TRUE(settings->fileName().startsWith(home.path()));
        settings->setValue(QStringLiteral("showMenuBar"), false);
        settings->setValue(QStringLiteral("category"), QStringLiteral("images"));
        settings->setValue(QStringLiteral("builderCPUs"), 4);
        settings->setValue(QStringLiteral("dismissedToolUpdates"),
                           QStringList{"colima 0.8.1", "docker 28.1"});
        settings->setValue(QStringLiteral("knownProjects"),
                           QStringLiteral(R"({"default":[{"name":"a, b"}]})"));
    }
    auto reopened = Settings::suite(QStringLiteral("voskel.test"));
    EXPECT_FALSE(reopened->boolean(QStringLiteral("showMenuBar"), true));
    EXPECT_EQ(reopened->string(QStringLiteral("category")), "images");
    EXPECT_EQ(reopened->integer(QStringLiteral("builderCPUs"), 0), 4);
    EXPECT_EQ(reopened->stringList(QStringLiteral("dismissedToolUpdates")),
              (QStringList{"colima 0.8.1", "docker 28.1"}));
    EXPECT_EQ(reopened->string(QStringLiteral("knownProjects")), R"({"default":[{"name":"a, b"}]})");
    EXPECT_TRUE(reopened->isUsable());
}

TEST_F(SettingsFiles, SuitesAreSeparateFilesAndRemovingOneDeletesIt)
{
    auto standard = Settings::standard();
    auto dump = Settings::suite(QStringLiteral("voskel.dump"));
    standard->setValue(QStringLiteral("appearance"), QStringLiteral("dark"));
    dump->setValue(QStringLiteral("appearance"), QStringLiteral("light"));
    standard->sync();
    dump->sync();
    EXPECT_NE(standard->fileName(), dump->fileName());
    EXPECT_TRUE(QFile::exists(dump->fileName()));

    const QString file = dump->fileName();
    dump.reset();
    EXPECT_TRUE(Settings::removeSuite(QStringLiteral("voskel.dump")));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(Settings::standard()->string(QStringLiteral("appearance")), "dark");
}

TEST_F(SettingsFiles, AnEqualValueNotifiesNobody)
{
    std::unique_ptr<Settings> both[] = {Settings::inMemory(),
                                        Settings::suite(QStringLiteral("voskel.signals"))};
    for (auto& settings : both) {
        QSignalSpy spy(settings.get(), &Settings::changed);
        settings->setValue(QStringLiteral("showMenuBar"), true);
        settings->setValue(QStringLiteral("showMenuBar"), true);
        settings->setValue(QStringLiteral("showMenuBar"), false);
        settings->remove(QStringLiteral("showMenuBar"));
        settings->remove(QStringLiteral("showMenuBar"));
        ASSERT_EQ(spy.count(), 3);
        EXPECT_EQ(spy.at(0).at(0).toString(), "showMenuBar");
    }
}

TEST_F(SettingsFiles, UnreadableValuesFallBack)
{
    auto settings = Settings::inMemory();
    settings->setValue(QStringLiteral("showMenuBar"), QStringLiteral("perhaps"));
    settings->setValue(QStringLiteral("builderCPUs"), QStringLiteral("many"));
    EXPECT_TRUE(settings->boolean(QStringLiteral("showMenuBar"), true));
    EXPECT_EQ(settings->integer(QStringLiteral("builderCPUs"), 2), 2);
    EXPECT_EQ(settings->number(QStringLiteral("missing"), 1.5), 1.5);
    EXPECT_TRUE(settings->stringList(QStringLiteral("missing")).isEmpty());
    EXPECT_FALSE(settings->isPersistent());
}
