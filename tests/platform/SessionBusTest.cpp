#include "platform/SessionBus.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char address[] = "DBUS_SESSION_BUS_ADDRESS";

// A listening socket at `path`, as a per-user bus leaves in the runtime folder.
int listenAt(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(where.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof where.sun_path - 1));
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where), 0);
    EXPECT_EQ(::listen(fd, 1), 0);
    return fd;
}

QByteArray systemMachineId()
{
    QFile id(QFile::exists("/var/lib/dbus/machine-id") ? "/var/lib/dbus/machine-id" : "/etc/machine-id");
    return id.open(QIODevice::ReadOnly) ? id.readLine().trimmed() : QByteArray();
}

// An X display of the test's own on a virtual server, ended with the test.
class VirtualDisplay {
public:
    VirtualDisplay()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        // It says which display it took once it takes connections.
        m_server.start(xvfb, {"-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "320x240x24"});
        QByteArray number;
        QElapsedTimer waiting;
        waiting.start();
        while (!number.endsWith('\n') && waiting.elapsed() < 15000 && m_server.waitForReadyRead(1000))
            number += m_server.readAll();
        if (number.trimmed().isEmpty())
            return;
        m_name = ':' + number.trimmed();
    }
    ~VirtualDisplay()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_server.processId()), SIGCONT);
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const QByteArray& name() const { return m_name; }
    // Holds the server still: it keeps its connections and answers none of them.
    void stop() { ::kill(pid_t(m_server.processId()), SIGSTOP); }
    void resume() { ::kill(pid_t(m_server.processId()), SIGCONT); }

private:
    QProcess m_server;
    QByteArray m_name;
};

// A bus launched for a display as the bus libraries launch one when a client finds none, its address
// and its process as the launch printed them. Its bus is ended with the test; the launcher, which
// watches the display, ends with the display.
struct LaunchedBus {
    QByteArray address;
    qint64 pid = 0;

    LaunchedBus(const QByteArray& display, const QString& home, const QByteArray& machine)
    {
        const QString launch = QStandardPaths::findExecutable("dbus-launch");
        if (launch.isEmpty())
            return;
        QProcess launcher;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DBUS_SESSION_BUS_ADDRESS");
        environment.insert("DISPLAY", QString::fromLatin1(display));
        environment.insert("HOME", home);
        launcher.setProcessEnvironment(environment);
        launcher.start(launch, {"--autolaunch=" + QString::fromLatin1(machine)});
        if (!launcher.waitForFinished(15000))
            return;
        for (const QByteArray& line : launcher.readAllStandardOutput().split('\n')) {
            if (line.startsWith("DBUS_SESSION_BUS_ADDRESS="))
                address = line.mid(int(std::strlen("DBUS_SESSION_BUS_ADDRESS="))).trimmed();
            else if (line.startsWith("DBUS_SESSION_BUS_PID="))
                pid = line.mid(int(std::strlen("DBUS_SESSION_BUS_PID="))).trimmed().toLongLong();
        }
    }
    ~LaunchedBus()
    {
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
    }
    LaunchedBus(const LaunchedBus&) = delete;
    LaunchedBus& operator=(const LaunchedBus&) = delete;
};

} // namespace

// Without a bus in the session, the address taken is one a bus client refuses at once, rather than
// one it launches a bus for; a bus the session has, by address or in its runtime folder, stays its own;
// a terminal gets the session's environment back.
TEST(SessionBus, ASessionWithoutABusGetsNoneLaunched)
{
    QTemporaryDir runtime;
    const TestSupport::ScopedEnv runtimeDir("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    {
        const TestSupport::ScopedEnv none(address, std::nullopt);
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), QByteArray(Platform::SessionBus::none));
        // A bus client of the system's, told that address, starts nothing and finds no bus.
        const QString send = QStandardPaths::findExecutable("dbus-send");
        if (!send.isEmpty()) {
            QProcess client;
            client.start(send, {"--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                "org.freedesktop.DBus.ListNames"});
            ASSERT_TRUE(client.waitForFinished(5000));
            EXPECT_NE(client.exitCode(), 0);
            EXPECT_TRUE(client.readAllStandardError().contains("address"));
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TERMINAL", "xterm");
        const QProcessEnvironment given = Platform::SessionBus::asTheSessionGaveIt(environment);
        EXPECT_FALSE(given.contains(address));
        EXPECT_EQ(given.value("TERMINAL"), "xterm");
    }
    {
        const TestSupport::ScopedEnv empty(address, "");
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), QByteArray(Platform::SessionBus::none));
    }
    {
        const TestSupport::ScopedEnv own(address, "unix:path=/run/user/1000/bus");
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), "unix:path=/run/user/1000/bus");
        EXPECT_EQ(
            Platform::SessionBus::asTheSessionGaveIt(QProcessEnvironment::systemEnvironment()).value(address),
            "unix:path=/run/user/1000/bus");
    }
    {
        const int bus = listenAt(runtime.filePath("bus"));
        const TestSupport::ScopedEnv none(address, std::nullopt);
        Platform::SessionBus::keepFromLaunching();
        EXPECT_FALSE(qEnvironmentVariableIsSet(address)) << "the session's own bus was put out of reach";
        ::close(bus);
    }
    // A bus launched earlier for the X display is found, as bus clients find it, while its process runs.
    QFile machineId(QFile::exists("/var/lib/dbus/machine-id") ? "/var/lib/dbus/machine-id" : "/etc/machine-id");
    if (machineId.open(QIODevice::ReadOnly)) {
        const QByteArray machine = machineId.readLine().trimmed();
        QTemporaryDir home;
        QTemporaryDir noBus;
        const TestSupport::ScopedEnv runtimeWithoutBus("XDG_RUNTIME_DIR", noBus.path().toUtf8());
        const TestSupport::ScopedEnv homeDir("HOME", home.path().toUtf8());
        const TestSupport::ScopedEnv display("DISPLAY", ":93.0");
        const TestSupport::ScopedEnv none(address, std::nullopt);
        ASSERT_TRUE(QDir(home.path()).mkpath(".dbus/session-bus"));
        QFile saved(home.filePath(".dbus/session-bus/" + machine + "-93"));
        const auto write = [&](pid_t pid) {
            ASSERT_TRUE(saved.open(QIODevice::WriteOnly | QIODevice::Truncate));
            saved.write("# written by dbus-launch\nDBUS_SESSION_BUS_ADDRESS='unix:abstract=/tmp/dbus-x93'\n"
                        "DBUS_SESSION_BUS_PID=" + QByteArray::number(pid) + "\nDBUS_SESSION_BUS_WINDOWID=1\n");
            saved.close();
        };
        write(::getpid());
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), "unix:abstract=/tmp/dbus-x93");
        // One whose process is gone is no bus.
        qunsetenv(address);
        write(pid_t(4194303));
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), QByteArray(Platform::SessionBus::none));
    }
}

// A bus launched earlier for the X display is found where the bus libraries look first, on the display
// itself, also once the file the launch left is gone; the bus answers at what was found. A display
// without one gives none, and one that takes the connection but never answers holds the start up for
// no more than its limit.
TEST(SessionBus, ABusLaunchedForTheDisplayIsFoundOnIt)
{
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (scripts/deps.sh installs it): no display to launch a bus for";
    if (QStandardPaths::findExecutable("dbus-launch").isEmpty())
        GTEST_SKIP() << "dbus-launch is not installed (scripts/deps.sh installs dbus-x11)";
    const QByteArray machine = systemMachineId();
    ASSERT_FALSE(machine.isEmpty());
    VirtualDisplay display;
    ASSERT_FALSE(display.name().isEmpty()) << "Xvfb did not say which display it took";
    QTemporaryDir home;
    QTemporaryDir noBus;
    const TestSupport::ScopedEnv runtimeWithoutBus("XDG_RUNTIME_DIR", noBus.path().toUtf8());
    const TestSupport::ScopedEnv homeDir("HOME", home.path().toUtf8());
    const TestSupport::ScopedEnv shown("DISPLAY", display.name());
    {
        const TestSupport::ScopedEnv none(address, std::nullopt);
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), QByteArray(Platform::SessionBus::none)) << "no bus was launched yet";
    }

    const LaunchedBus bus(display.name(), home.path(), machine);
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-launch printed no address";
    ASSERT_TRUE(QDir(home.filePath(".dbus")).removeRecursively());
    {
        const TestSupport::ScopedEnv none(address, std::nullopt);
        Platform::SessionBus::keepFromLaunching();
        EXPECT_EQ(qgetenv(address), bus.address);
        // The bus itself answers there.
        if (const QString send = QStandardPaths::findExecutable("dbus-send"); !send.isEmpty()) {
            QProcess client;
            client.start(send, {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"});
            ASSERT_TRUE(client.waitForFinished(10000));
            EXPECT_EQ(client.exitCode(), 0) << client.readAllStandardError().toStdString();
        }
    }
    {
        display.stop();
        const TestSupport::ScopedEnv none(address, std::nullopt);
        QElapsedTimer asked;
        asked.start();
        Platform::SessionBus::keepFromLaunching();
        EXPECT_LT(asked.elapsed(), 8000) << "a display that does not answer held the start up";
        EXPECT_EQ(qgetenv(address), QByteArray(Platform::SessionBus::none));
        display.resume();
    }
}
