#include "platform/SessionBus.h"

#include <QFile>

#include <cstring>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform::SessionBus {

namespace {
constexpr char variable[] = "DBUS_SESSION_BUS_ADDRESS";

// The user's bus that the bus libraries find by themselves without an address: the socket "bus" in the
// runtime folder, ours (as a per-user service manager starts it).
bool hasUserBus()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return false;
    struct stat st;
    const QByteArray socket = runtime + "/bus";
    return ::stat(socket.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid();
}
// The bus an earlier launch left for this X display, as bus clients find it before they would launch
// one: its address in ~/.dbus/session-bus/<machine id>-<display number>, while the process it names runs.
QByteArray launchedForDisplay()
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const QByteArray home = qgetenv("HOME");
    if (colon < 0 || home.isEmpty())
        return {};
    const QByteArray number = display.mid(colon + 1).split('.').first();
    QByteArray machine;
    for (const char* file : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        QFile id(QString::fromLatin1(file));
        if (id.open(QIODevice::ReadOnly)) {
            machine = id.readLine(64).trimmed();
            if (!machine.isEmpty())
                break;
        }
    }
    if (machine.isEmpty() || number.isEmpty())
        return {};
    QFile saved(QFile::decodeName(home + "/.dbus/session-bus/" + machine + '-' + number));
    if (!saved.open(QIODevice::ReadOnly))
        return {};
    QByteArray address;
    pid_t pid = 0;
    for (const QByteArray& line : saved.read(64 * 1024).split('\n')) {
        const QByteArray text = line.trimmed();
        if (text.startsWith("DBUS_SESSION_BUS_ADDRESS=")) {
            address = text.mid(int(std::strlen("DBUS_SESSION_BUS_ADDRESS=")));
            if (address.size() >= 2 && address.startsWith('\'') && address.endsWith('\''))
                address = address.mid(1, address.size() - 2);
        } else if (text.startsWith("DBUS_SESSION_BUS_PID=")) {
            pid = pid_t(text.mid(int(std::strlen("DBUS_SESSION_BUS_PID="))).toLong());
        }
    }
    if (address.isEmpty() || pid <= 0 || ::kill(pid, 0) != 0)
        return {};
    return address;
}

} // namespace

void keepFromLaunching()
{
    if (!qEnvironmentVariableIsEmpty(variable) || hasUserBus())
        return;
    // A bus already running for the display is the session's own: found, not launched.
    const QByteArray launched = launchedForDisplay();
    qputenv(variable, launched.isEmpty() ? QByteArray(none) : launched);
}

QProcessEnvironment asTheSessionGaveIt(QProcessEnvironment environment)
{
    const QString name = QString::fromLatin1(variable);
    if (environment.value(name) == QLatin1StringView(none))
        environment.remove(name);
    return environment;
}

} // namespace Platform::SessionBus
