#include "app/design/DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");

// Stands in for the desktop's settings portal. It lives on a thread of its own, so the blocking Read
// of the code under test gets its answer.
class FakePortal : public QDBusVirtualObject {
public:
    std::atomic<uint> scheme{0};

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != settingsInterface || message.member() != QLatin1String("Read"))
            return false;
        const QList<QVariant> args = message.arguments();
        if (args.size() == 2 && args.at(0) == "org.freedesktop.appearance" && args.at(1) == "color-scheme") {
            // The portal answers a variant that holds the value's variant.
            const QVariant inner = QVariant::fromValue(QDBusVariant(QVariant(scheme.load())));
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(inner))));
        } else {
            connection.send(
                message.createErrorReply("org.freedesktop.portal.Error.NotFound", "no such setting"));
        }
        return true;
    }
};

// A private message bus for one test, never the user's.
class PrivateBus : public testing::Test {
protected:
    void SetUp() override
    {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        m_daemon.start(daemon, {"--session", "--nofork", "--print-address=1"});
        ASSERT_TRUE(m_daemon.waitForStarted(5000));
        ASSERT_TRUE(m_daemon.waitForReadyRead(5000));
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();

        QDBusConnection bus = service();
        ASSERT_TRUE(bus.isConnected());
        ASSERT_TRUE(bus.registerVirtualObject(portalPath, m_portal.get()));
        ASSERT_TRUE(bus.registerService("org.freedesktop.portal.Desktop"));
        m_thread.start();
        m_portal->moveToThread(&m_thread);
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("voskel-test-portal");
        QDBusConnection::disconnectFromBus("voskel-test-client");
        m_thread.quit();
        m_thread.wait();
        m_portal.reset(); // its thread has ended, so it can go from here
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished(5000);
        }
    }

    QDBusConnection service() { return QDBusConnection::connectToBus(m_address, "voskel-test-portal"); }
    QDBusConnection client() { return QDBusConnection::connectToBus(m_address, "voskel-test-client"); }

    void announce(const QString& key, uint value)
    {
        QDBusMessage changed = QDBusMessage::createSignal(portalPath, settingsInterface, "SettingChanged");
        changed << QStringLiteral("org.freedesktop.appearance") << key
                << QVariant::fromValue(QDBusVariant(QVariant(value)));
        ASSERT_TRUE(service().send(changed));
    }

    QProcess m_daemon;
    QString m_address;
    QThread m_thread;
    std::unique_ptr<FakePortal> m_portal = std::make_unique<FakePortal>();
};

TEST_F(PrivateBus, ReadsTheDesktopsPreferenceAndFollowsItsChanges)
{
    m_portal->scheme = 1;
    DesktopColorScheme desktop(client(), nullptr, 5000);
    EXPECT_TRUE(desktop.prefersDark());

    QSignalSpy changed(&desktop, &DesktopColorScheme::changed);
    announce("color-scheme", 2);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_FALSE(changed.constFirst().constFirst().toBool());
    EXPECT_FALSE(desktop.prefersDark());

    // Other settings of the portal are none of its business.
    announce("accent-color", 1);
    EXPECT_FALSE(changed.wait(300));
}

TEST_F(PrivateBus, NoPortalMeansLight)
{
    service().unregisterService("org.freedesktop.portal.Desktop");
    DesktopColorScheme desktop(client(), nullptr, 2000);
    EXPECT_FALSE(desktop.prefersDark());
}

} // namespace
