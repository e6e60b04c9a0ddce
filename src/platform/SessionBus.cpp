#include "platform/SessionBus.h"

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
} // namespace

void keepFromLaunching()
{
    if (qEnvironmentVariableIsEmpty(variable) && !hasUserBus())
        qputenv(variable, none);
}

QProcessEnvironment asTheSessionGaveIt(QProcessEnvironment environment)
{
    const QString name = QString::fromLatin1(variable);
    if (environment.value(name) == QLatin1StringView(none))
        environment.remove(name);
    return environment;
}

} // namespace Platform::SessionBus
