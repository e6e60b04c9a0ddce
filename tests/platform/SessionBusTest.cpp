#include "platform/SessionBus.h"
#include "support/TestSupport.h"

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
}
