#include "app/shell/TrayWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QList>
#include <QPointer>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

std::optional<bool> presentOverride;
QList<QPointer<TrayWatch>>& watches()
{
    static QList<QPointer<TrayWatch>> all;
    return all;
}

// The X screen the application shows on, as DISPLAY names it (":0.1" is screen 1).
int screenNumber()
{
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype colon = display.lastIndexOf(':');
    const qsizetype dot = display.indexOf('.', colon < 0 ? 0 : colon);
    return dot < 0 ? 0 : display.mid(dot + 1).toInt();
}

// Whether an X tray owns its selection on the application's screen. Two round trips to the X server,
// which answers at once: it is the server the windows are drawn by.
bool xTrayOwned()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(screenNumber());
    // Only if it exists: a selection no tray ever named has no owner either.
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!owner)
        return false;
    const bool owned = owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

} // namespace

TrayWatch::TrayWatch(QObject* parent) : TrayWatch(QDBusConnection::sessionBus(), parent)
{
}

TrayWatch::TrayWatch(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_xLook(new QTimer(this))
{
    watches().append(this);
    m_xLook->setInterval(xLookMillis);
    connect(m_xLook, &QTimer::timeout, this, &TrayWatch::lookAtX);
    if (m_bus.isConnected()) {
        auto* service =
            new QDBusServiceWatcher(watcherService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(service, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayWatch::lookAtHost);
        m_bus.connect(watcherService, watcherPath, watcherService,
                      QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(lookAtHost()));
        m_bus.connect(watcherService, watcherPath, watcherService,
                      QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(lookAtHost()));
        lookAtHost();
    }
    lookAtX();
    m_shown = present();
}

bool TrayWatch::present() const
{
    return presentOverride.value_or(m_host || m_x);
}

void TrayWatch::setPresentForTesting(std::optional<bool> present)
{
    presentOverride = present;
    for (const QPointer<TrayWatch>& watch : watches())
        if (watch)
            watch->update();
}

bool TrayWatch::pretending()
{
    return presentOverride.has_value();
}

void TrayWatch::lookAtHost()
{
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Answered when it comes; a bus that does not answer leaves the host unknown, so absent.
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusMessage reply = call->reply();
        bool registered = false;
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            registered = qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
        hostAnswered(registered);
    });
}

void TrayWatch::hostAnswered(bool registered)
{
    // No X tray was looked for while the host was there: whether one is there now is asked at once.
    if (m_host && !registered)
        m_x = xTrayOwned();
    m_host = registered;
    update();
}

void TrayWatch::lookAtX()
{
    m_x = xTrayOwned();
    update();
}

void TrayWatch::update()
{
    // Only while there is no tray of either kind: once an X tray is there, Qt follows its going and coming
    // back itself, and a host says when it goes.
    if (m_x || m_host || presentOverride)
        m_xLook->stop();
    else if (!m_xLook->isActive() && qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>())
        m_xLook->start();
    const bool now = present();
    if (now == m_shown)
        return;
    m_shown = now;
    emit presentChanged(now);
}
