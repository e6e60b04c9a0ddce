#include "toolchain/DefaultSocket.h"

#include "platform/ProcessRunner.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <functional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using DefaultSocket::State;

namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

int mode(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// Leaves a listening-type Unix socket file at `path`, as an engine would.
void bindSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    ASSERT_LT(size_t(name.size()), sizeof(address.sun_path));
    std::copy(name.cbegin(), name.cend(), address.sun_path);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

// Every path of the host inside one temporary folder, and stand-ins for polkit's pkexec.
class SocketFolder : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (const char* folder : {"run", "home/.colima/default", "tmp", "bin"})
            QDir(dir.path()).mkpath(folder);
        const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        writeFile(passThrough, "#!/bin/sh\nexec \"$@\"\n", executable);
        writeFile(dismissing, "#!/bin/sh\nexit 126\n", executable);
        writeFile(refusing,
                  "#!/bin/sh\necho 'Error executing command as another user: Not authorized' >&2\nexit 127\n",
                  executable);
    }

    QString path(const QString& relative) const { return dir.filePath(relative); }
    State state() const { return DefaultSocket::state(paths); }
    QStringList leftInTemporaryRoot() const
    {
        return QDir(paths.temporaryRoot).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    DefaultSocket::Paths paths{dir.filePath("run/docker.sock"), dir.filePath("etc/tmpfiles.d/voskel.conf"),
                               dir.filePath("home/.colima/default/docker.sock"), dir.filePath("tmp")};
    QString passThrough = dir.filePath("bin/pkexec");
    QString dismissing = dir.filePath("bin/pkexec-dismissed");
    QString refusing = dir.filePath("bin/pkexec-refused");
};

} // namespace

TEST_F(SocketFolder, StateTellsColimaFreeAndTakenApart)
{
    const struct {
        const char* what;
        std::function<void()> arrange;
        State state;
    } rows[] = {
        {"nothing", [] {}, State::free()},
        {"an engine's socket", [&] { bindSocket(paths.socket); }, State::taken()},
        {"a folder", [&] { QDir().mkpath(paths.socket); }, State::taken()},
        {"link to Colima, kept",
         [&] {
             QFile::link(paths.colimaSocket, paths.socket);
             writeFile(paths.permanentEntry, "L+ x");
         },
         State::colima(true)},
        {"link to Colima, not kept", [&] { QFile::link(paths.colimaSocket, paths.socket); },
         State::colima(false)},
        {"link to nothing", [&] { QFile::link(path("gone.sock"), paths.socket); }, State::free()},
        {"link elsewhere",
         [&] {
             writeFile(path("other.sock"), "");
             QFile::link(path("other.sock"), paths.socket);
         },
         State::taken()},
        {"Colima written with a trailing slash",
         [&] {
             writeFile(paths.colimaSocket, "");
             QFile::link(paths.colimaSocket + "/", paths.socket);
         },
         State::free()},
        {"Colima written another way",
         [&] {
             writeFile(paths.colimaSocket, "");
             QFile::link(path("home/./.colima/default/docker.sock"), paths.socket);
         },
         State::taken()},
    };
    for (const auto& row : rows) {
        QFile::remove(paths.socket);
        QDir(paths.socket).removeRecursively();
        QFile::remove(paths.permanentEntry);
        QFile::remove(paths.colimaSocket);
        row.arrange();
        EXPECT_EQ(state(), row.state) << row.what;
    }
}

TEST_F(SocketFolder, TargetIsTheStoredDestinationUnresolved)
{
    EXPECT_EQ(DefaultSocket::target(paths.socket), std::nullopt);
    writeFile(paths.socket, "");
    EXPECT_EQ(DefaultSocket::target(paths.socket), std::nullopt);
    QFile::remove(paths.socket);
    ASSERT_EQ(::symlink("../home/x.sock", QFile::encodeName(paths.socket).constData()), 0);
    EXPECT_EQ(DefaultSocket::target(paths.socket), "../home/x.sock");
    const QString longName = "/" + QString(1000, 'a') + ".sock";
    QFile::remove(paths.socket);
    ASSERT_EQ(::symlink(QFile::encodeName(longName).constData(), QFile::encodeName(paths.socket).constData()),
              0);
    EXPECT_EQ(DefaultSocket::target(paths.socket), longName);
}

TEST(DefaultSocketTexts, LaunchDaemonCommandsAsTheyAreShown)
{
    EXPECT_EQ(DefaultSocket::shellQuote("/Users/o'kestin/.colima/default/docker.sock"),
              R"('/Users/o'\''kestin/.colima/default/docker.sock')");
    EXPECT_EQ(
        DefaultSocket::installCommand("/tmp/p.plist", "/Users/u/.colima/default/docker.sock"),
        "/usr/bin/install -m 644 -o root -g wheel '/tmp/p.plist' "
        "'/Library/LaunchDaemons/app.qel.voskel.docker-socket.plist' && "
        "{ /bin/launchctl bootout system/app.qel.voskel.docker-socket 2>/dev/null; "
        "/bin/launchctl bootstrap system '/Library/LaunchDaemons/app.qel.voskel.docker-socket.plist'; } && "
        "/bin/ln -sf '/Users/u/.colima/default/docker.sock' '/var/run/docker.sock'");
    EXPECT_EQ(
        DefaultSocket::removeCommand("/Users/x/.colima/default/docker.sock"),
        "/bin/launchctl bootout system/app.qel.voskel.docker-socket 2>/dev/null; "
        "/bin/rm -f '/Library/LaunchDaemons/app.qel.voskel.docker-socket.plist'; "
        "if [ \"$(/usr/bin/readlink '/var/run/docker.sock')\" = '/Users/x/.colima/default/docker.sock' ]; "
        "then /bin/rm -f '/var/run/docker.sock'; fi");
}

TEST(DefaultSocketTexts, PropertyListIsEscapedAndWellFormed)
{
    const QString text = DefaultSocket::plist("/Users/x/.colima/default/docker.sock");
    EXPECT_EQ(
        text,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n<dict>\n"
        "  <key>Label</key><string>app.qel.voskel.docker-socket</string>\n"
        "  <key>ProgramArguments</key>\n  <array>\n"
        "    <string>/bin/ln</string><string>-sf</string>\n"
        "    <string>/Users/x/.colima/default/docker.sock</string><string>/var/run/docker.sock</string>\n"
        "  </array>\n  <key>RunAtLoad</key><true/>\n</dict>\n</plist>\n");

    const QString odd = DefaultSocket::plist("/a&b/<%1>\"q\"");
    EXPECT_TRUE(odd.contains("<string>/a&amp;b/&lt;%1&gt;\"q\"</string>"));
    for (const QString& document : {text, odd}) {
        QXmlStreamReader reader(document);
        QStringList strings;
        while (!reader.atEnd()) {
            if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == u"string")
                strings << reader.readElementText();
        }
        EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
        EXPECT_EQ(strings.size(), 5);
    }
}

TEST(DefaultSocketTexts, TmpfilesEntryCarriesAnyPrintablePath)
{
    using DefaultSocket::Linux::tmpfilesEntry;
    EXPECT_EQ(tmpfilesEntry("/home/u/.colima/default/docker.sock", "/var/run/docker.sock"),
              "L+ \"/var/run/docker.sock\" - - - - /home/u/.colima/default/docker.sock\n");
    EXPECT_EQ(tmpfilesEntry("/home/a b/100%\\x", "/run/\"q\" %d"),
              "L+ \"/run/\\\"q\\\" %%d\" - - - - /home/a\\x20b/100%%\\\\x\n");
    EXPECT_EQ(tmpfilesEntry("/home/a\nb", "/var/run/docker.sock"), std::nullopt);
    EXPECT_EQ(tmpfilesEntry("/home/u/x", "/var/run/\tdocker.sock"), std::nullopt);
}

TEST(DefaultSocketTexts, SystemdTmpfilesReadsTheEntryBackExactly)
{
    const QString program = QStandardPaths::findExecutable("systemd-tmpfiles");
    if (program.isEmpty())
        GTEST_SKIP() << "systemd-tmpfiles is not installed";
    QTemporaryDir root;
    const QString socket = "/run/odd \"dir\"/it's 100%.sock";
    const QString target = " /home/a b/\\back%n 'q' ";
    QDir(root.path()).mkpath("run/odd \"dir\"");
    const QString entry = root.filePath("entry.conf");
    writeFile(entry, DefaultSocket::Linux::tmpfilesEntry(target, socket)->toUtf8());

    Platform::PreparedProcess prepared;
    prepared.program = program;
    prepared.arguments = {"--create", "--root=" + root.path(), entry};
    const auto run = Platform::capture(prepared);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(DefaultSocket::target(root.path() + socket), target);
}

TEST_F(SocketFolder, AdministratorOutcomes)
{
    const QString marker = path("ran");
    const struct {
        QString program;
        QString command;
        std::optional<QString> outcome;
        bool ran;
    } rows[] = {
        {passThrough, "touch " + DefaultSocket::shellQuote(marker), std::nullopt, true},
        {passThrough, "echo 'disk full' >&2; exit 3", "disk full", true},
        {passThrough, "printf '\\377 not text'", std::nullopt, true},
        // The command's own 126 and 127 are failures, not a dismissed prompt or a refusal.
        {passThrough, "exit 126", "The command exited with status 126.", true},
        {passThrough, "exit 127", "The command exited with status 127.", true},
        {dismissing, "touch " + DefaultSocket::shellQuote(marker), std::nullopt, false},
        {refusing, "touch " + DefaultSocket::shellQuote(marker),
         "Error executing command as another user: Not authorized", false},
    };
    for (const auto& row : rows) {
        QFile::remove(marker);
        EXPECT_EQ(DefaultSocket::pkexec(row.program)(row.command), row.outcome) << row.command.toStdString();
        if (row.command.startsWith("touch")) {
            EXPECT_EQ(QFileInfo::exists(marker), row.ran) << row.program.toStdString();
        }
    }
}

TEST_F(SocketFolder, AnAdministratorThatCannotStartIsAnError)
{
    const auto outcome = DefaultSocket::pkexec(path("bin/no-such-pkexec"))("true");
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->startsWith("The command could not be run. ")) << outcome->toStdString();
    EXPECT_GT(outcome->size(), QString("The command could not be run. ").size());
}

TEST_F(SocketFolder, TheCommandReachesTheShellUnchanged)
{
    const QString out = path("out");
    const QString command = R"(printf '%s' "a\"b\\c \$HOME" '`x` $y' > )" + DefaultSocket::shellQuote(out);
    EXPECT_EQ(DefaultSocket::administratorProcess(command).program, "/usr/bin/pkexec");
    EXPECT_EQ(DefaultSocket::administratorProcess(command).arguments.last(), command);
    EXPECT_EQ(DefaultSocket::pkexec(passThrough)(command), std::nullopt);
    EXPECT_EQ(readAll(out), "a\"b\\c $HOME`x` $y");
}

TEST_F(SocketFolder, PointingAtColimaLinksNowAndKeepsItAfterARestart)
{
    // The old link leads to a folder: it is replaced, not written into.
    QDir().mkpath(path("other-engine"));
    QFile::link(path("other-engine"), paths.socket);

    EXPECT_EQ(DefaultSocket::pointAtColima(paths, DefaultSocket::pkexec(passThrough)), std::nullopt);
    EXPECT_EQ(state(), State::colima(true));
    EXPECT_EQ(DefaultSocket::target(paths.socket), paths.colimaSocket);
    EXPECT_TRUE(QDir(path("other-engine")).isEmpty());
    EXPECT_EQ(readAll(paths.permanentEntry),
              DefaultSocket::Linux::tmpfilesEntry(paths.colimaSocket, paths.socket));
    EXPECT_EQ(mode(paths.permanentEntry), 0644);
    EXPECT_TRUE(leftInTemporaryRoot().isEmpty());

    EXPECT_EQ(DefaultSocket::stopUsingColima(paths, DefaultSocket::pkexec(passThrough)), std::nullopt);
    EXPECT_EQ(state(), State::free());
    EXPECT_FALSE(QFileInfo::exists(paths.permanentEntry));
}

TEST_F(SocketFolder, TheFileForRootIsWrittenInAFreshPrivateFolder)
{
    QStringList seen;
    const auto inspect = [&](const QString& command) -> std::optional<QString> {
        const QStringList folders = leftInTemporaryRoot();
        EXPECT_EQ(folders.size(), 1);
        if (folders.size() != 1)
            return "unexpected";
        const QFileInfo folder(QDir(paths.temporaryRoot).filePath(folders.first()));
        EXPECT_TRUE(folder.isDir());
        EXPECT_EQ(mode(folder.filePath()), 0700);
        const QString file = QDir(folder.filePath()).filePath("docker-socket.conf");
        EXPECT_EQ(readAll(file), DefaultSocket::Linux::tmpfilesEntry(paths.colimaSocket, paths.socket));
        EXPECT_TRUE(command.startsWith("/usr/bin/install -D -m 644 " + DefaultSocket::shellQuote(file)));
        seen << folders.first();
        return "password prompt failed";
    };
    EXPECT_EQ(DefaultSocket::pointAtColima(paths, inspect), "password prompt failed");
    EXPECT_EQ(DefaultSocket::pointAtColima(paths, inspect), "password prompt failed");
    ASSERT_EQ(seen.size(), 2);
    EXPECT_NE(seen.first(), seen.last());
    EXPECT_TRUE(leftInTemporaryRoot().isEmpty());
    EXPECT_EQ(state(), State::free());
}

TEST_F(SocketFolder, ADismissedPromptInstallsNothingAndIsNoError)
{
    EXPECT_EQ(DefaultSocket::pointAtColima(paths, DefaultSocket::pkexec(dismissing)), std::nullopt);
    EXPECT_EQ(state(), State::free());
    EXPECT_FALSE(QFileInfo::exists(paths.permanentEntry));
    EXPECT_TRUE(leftInTemporaryRoot().isEmpty());
}

TEST_F(SocketFolder, NoPrivateFolderMeansNoCommand)
{
    paths.temporaryRoot = path("missing/tmp");
    bool asked = false;
    const auto outcome = DefaultSocket::pointAtColima(paths, [&](const QString&) -> std::optional<QString> {
        asked = true;
        return std::nullopt;
    });
    EXPECT_TRUE(outcome.has_value());
    EXPECT_FALSE(asked);
}

TEST_F(SocketFolder, StoppingLeavesALinkAnotherEngineTookOver)
{
    ASSERT_EQ(DefaultSocket::pointAtColima(paths, DefaultSocket::pkexec(passThrough)), std::nullopt);
    writeFile(path("other.sock"), "");
    QFile::remove(paths.socket);
    QFile::link(path("other.sock"), paths.socket);

    EXPECT_EQ(DefaultSocket::stopUsingColima(paths, DefaultSocket::pkexec(passThrough)), std::nullopt);
    EXPECT_EQ(DefaultSocket::target(paths.socket), path("other.sock"));
    EXPECT_EQ(state(), State::taken());
    EXPECT_FALSE(QFileInfo::exists(paths.permanentEntry));
}
