#include "platform/SessionBus.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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
