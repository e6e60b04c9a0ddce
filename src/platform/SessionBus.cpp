#include "platform/SessionBus.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace Platform::SessionBus {

namespace {
constexpr char variable[] = "DBUS_SESSION_BUS_ADDRESS";

// A display that takes its connection but never answers (a stopped server, a host gone from the network)
// would hold the start up for good: past this, it has no bus to offer.
constexpr std::chrono::milliseconds displayAnswerLimit{2000};

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

// The machine's identifier as the bus libraries read it.
QByteArray machineId()
{
    for (const char* file : {"/var/lib/dbus/machine-id", "/etc/machine-id"}) {
        QFile id(QString::fromLatin1(file));
        if (id.open(QIODevice::ReadOnly)) {
            const QByteArray machine = id.readLine(64).trimmed();
            if (!machine.isEmpty())
                return machine;
        }
    }
    return {};
}

QByteArray userName()
{
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found || !found->pw_name)
        return {};
    return QByteArray(found->pw_name);
}

// An address as a bus client would take it: text on one line.
bool plausible(const QByteArray& address)
{
    return !address.isEmpty() && std::none_of(address.cbegin(), address.cend(),
                                              [](char c) { return uchar(c) < 0x20 || c == 0x7f; });
}

xcb_atom_t existingAtom(xcb_connection_t* connection, const QByteArray& name)
{
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// Asks the X server of `display` which window owns `selection`, and that window's address property.
QByteArray askDisplay(const QByteArray& display, const QByteArray& selection)
{
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    QByteArray address;
    if (!xcb_connection_has_error(connection)) {
        const xcb_atom_t owned = existingAtom(connection, selection);
        // An atom never made means no launch ever claimed the selection on this display.
        if (owned != XCB_ATOM_NONE) {
            xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
                connection, xcb_get_selection_owner(connection, owned), nullptr);
            const xcb_atom_t property = existingAtom(connection, "_DBUS_SESSION_BUS_ADDRESS");
            if (owner && owner->owner != XCB_NONE && property != XCB_ATOM_NONE) {
                xcb_get_property_reply_t* value = xcb_get_property_reply(
                    connection,
                    xcb_get_property(connection, 0, owner->owner, property, XCB_ATOM_STRING, 0, 1024),
                    nullptr);
                // Taken whole or not at all, as the bus libraries take it.
                if (value && value->type == XCB_ATOM_STRING && value->format == 8 &&
                    value->bytes_after == 0) {
                    address = QByteArray(static_cast<const char*>(xcb_get_property_value(value)),
                                         xcb_get_property_value_length(value));
                    while (address.endsWith('\0'))
                        address.chop(1);
                }
                std::free(value);
            }
            std::free(owner);
        }
    }
    xcb_disconnect(connection);
    return plausible(address) ? address : QByteArray();
}

// The bus launched earlier for the X display, where bus clients look for it first: the launcher that
// runs it owns a selection named for the user and the machine on the display, and its window holds the
// address. Asked on a thread of its own: one that does not answer in time is left to it.
QByteArray ownedOnDisplay(const QByteArray& machine)
{
    const QByteArray display = qgetenv("DISPLAY");
    const QByteArray user = userName();
    if (display.isEmpty() || user.isEmpty() || machine.isEmpty())
        return {};
    struct Answer {
        std::mutex mutex;
        std::condition_variable given;
        bool done = false;
        QByteArray address;
    };
    auto answer = std::make_shared<Answer>();
    const QByteArray selection = "_DBUS_SESSION_BUS_SELECTION_" + user + '_' + machine;
    std::thread asking([answer, display, selection] {
        QByteArray address = askDisplay(display, selection);
        const std::lock_guard lock(answer->mutex);
        answer->address = std::move(address);
        answer->done = true;
        answer->given.notify_all();
    });
    std::unique_lock lock(answer->mutex);
    const bool answered =
        answer->given.wait_for(lock, displayAnswerLimit, [&answer] { return answer->done; });
    lock.unlock();
    if (!answered) {
        asking.detach();
        return {};
    }
    asking.join();
    return answer->address;
}

// The bus an earlier launch left for this X display as it also notes it in a file:
// ~/.dbus/session-bus/<machine id>-<display number>, while the process it names runs.
QByteArray savedForDisplay(const QByteArray& machine)
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const QByteArray home = qgetenv("HOME");
    if (colon < 0 || home.isEmpty())
        return {};
    const QByteArray number = display.mid(colon + 1).split('.').first();
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
    if (!plausible(address) || pid <= 0 || ::kill(pid, 0) != 0)
        return {};
    return address;
}

} // namespace

void keepFromLaunching()
{
    if (!qEnvironmentVariableIsEmpty(variable) || hasUserBus())
        return;
    // A bus already running for the display is the session's own: found, not launched.
    const QByteArray machine = machineId();
    QByteArray launched = ownedOnDisplay(machine);
    if (launched.isEmpty())
        launched = savedForDisplay(machine);
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
