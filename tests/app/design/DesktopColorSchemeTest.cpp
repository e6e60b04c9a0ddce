#include "app/design/DesktopColorScheme.h"
#include "support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>

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

// The desktop's portal on a bus of the test's own.
class PrivateBus : public TestSupport::PrivateBus {
protected:
    void SetUp() override
    {
        TestSupport::PrivateBus::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        m_portal = serve(std::make_unique<FakePortal>(), portalPath, "org.freedesktop.portal.Desktop");
    }

    void announce(const QString& key, uint value)
    {
        QDBusMessage changed = QDBusMessage::createSignal(portalPath, settingsInterface, "SettingChanged");
        changed << QStringLiteral("org.freedesktop.appearance") << key
                << QVariant::fromValue(QDBusVariant(QVariant(value)));
        ASSERT_TRUE(service().send(changed));
    }

    FakePortal* m_portal = nullptr;
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
