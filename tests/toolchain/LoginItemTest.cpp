#include "toolchain/LoginItem.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using LoginItem::State;
using TestSupport::ScopedEnv;

namespace {

// Every test gets its own configuration folder, never the user's.
class Autostart : public testing::Test {
protected:
    QString entryFile() const { return config.filePath("autostart/voskel.desktop"); }
    LoginItem::Entry entry(const QStringList& command = {"/opt/voskel/bin/voskel"}) const
    {
        return {entryFile(), command};
    }

    QTemporaryDir config;
    ScopedEnv xdg{"XDG_CONFIG_HOME", config.path().toUtf8()};
};

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TEST(LoginItemExec, QuotesAndEscapesAsDesktopEntriesRequire)
{
    const struct {
        QStringList command;
        QString exec;
    } rows[] = {
        {{"/opt/voskel/bin/voskel"}, "/opt/voskel/bin/voskel"},
        {{"/home/a b/voskel"}, R"("/home/a b/voskel")"},
        {{"/x/it's"}, R"("/x/it's")"},
        {{"/x/100%/voskel"}, "/x/100%%/voskel"},
        {{"/x/100% off/voskel"}, R"("/x/100%% off/voskel")"},
        // Quoting escapes "$", "`", '"' and "\"; every backslash is then escaped once more.
        {{"/x/$HOME/v"}, R"("/x/\\$HOME/v")"},
        {{"/x/`id`"}, R"("/x/\\`id\\`")"},
        {{"/x/say \"hi\""}, R"("/x/say \\"hi\\"")"},
        {{"/x/back\\slash"}, R"("/x/back\\\\slash")"},
        {{"/x/tab\there"}, R"("/x/tab\there")"},
        {{"/x/line\nbreak"}, R"("/x/line\nbreak")"},
        {{"/usr/bin/voskel", "--flag", ""}, R"(/usr/bin/voskel --flag "")"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LoginItem::execLine(row.command), row.exec) << row.command.join(' ').toStdString();
}

TEST_F(Autostart, SwitchingOnWritesTheEntryAndOffRemovesIt)
{
    EXPECT_EQ(LoginItem::state(entry()), State::Off);
    LoginItem::set(true, entry({"/home/a b/voskel"}));
    EXPECT_EQ(LoginItem::state(entry()), State::On);
    const QString text = readAll(entryFile());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_TRUE(text.contains("\nExec=\"/home/a b/voskel\"\n"));

    // Switching on twice, or off when already off, is no error.
    LoginItem::set(true, entry());
    EXPECT_TRUE(readAll(entryFile()).contains("\nExec=/opt/voskel/bin/voskel\n"));
    LoginItem::set(false, entry());
    EXPECT_EQ(LoginItem::state(entry()), State::Off);
    EXPECT_FALSE(QFile::exists(entryFile()));
    EXPECT_NO_THROW(LoginItem::set(false, entry()));
}

TEST_F(Autostart, AnEntryTheDesktopWasToldToSkipIsOff)
{
    for (const char* line : {"Hidden=true", "X-GNOME-Autostart-enabled=false"}) {
        QDir().mkpath(config.filePath("autostart"));
        QFile file(entryFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[Desktop Entry]\nType=Application\nExec=voskel\n") + line + "\n");
        file.close();
        EXPECT_EQ(LoginItem::state(entry()), State::Off) << line;
    }
    // The same keys in another group do not count.
    QFile file(entryFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Desktop Entry]\nExec=voskel\n[Desktop Action x]\nHidden=true\n");
    file.close();
    EXPECT_EQ(LoginItem::state(entry()), State::On);
}

TEST_F(Autostart, ARefusedChangeThrowsAndLeavesTheStateAsItIs)
{
    // A plain file where the autostart folder should be.
    QFile blocker(config.filePath("autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        LoginItem::set(true, entry());
        ADD_FAILURE() << "no error";
    } catch (const LoginItem::Error& error) {
        EXPECT_TRUE(error.message().startsWith("The login item could not be saved"))
            << error.message().toStdString();
    }
    EXPECT_EQ(LoginItem::state(entry()), State::Off);
}

TEST_F(Autostart, TheApplicationsEntryLivesInTheConfiguredFolder)
{
    EXPECT_EQ(LoginItem::autostartDirectory(), config.filePath("autostart"));
    EXPECT_EQ(LoginItem::Entry::application().file, entryFile());
    EXPECT_FALSE(LoginItem::Entry::application().command.first().isEmpty());
    LoginItem::set(true);
    EXPECT_EQ(LoginItem::state(), State::On);
    LoginItem::set(false);
    EXPECT_EQ(LoginItem::state(), State::Off);

    for (const auto& value : {std::optional<QByteArray>(), std::optional<QByteArray>(""),
                              std::optional<QByteArray>("relative/config")}) {
        ScopedEnv unset("XDG_CONFIG_HOME", value);
        EXPECT_EQ(LoginItem::autostartDirectory(), QDir::homePath() + "/.config/autostart");
    }
}
