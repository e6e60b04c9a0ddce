#include "app/shell/TrayWatch.h"
#include "ShellFixture.h"
#include "app/shell/Scenes.h"
#include "support/PrivateBus.h"
#include "support/TestSupport.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// Stands in for the desktop's StatusNotifier watcher: it says whether a host (the tray) has registered.
class FakeWatcher : public QDBusVirtualObject {
public:
    std::atomic<bool> host{false};

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != u"Get")
            return false;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(QVariant(host.load())))));
        return true;
    }
};

class TrayBus : public TestSupport::PrivateBus {
protected:
    // The desktop's tray starts: the watcher comes on the bus, and the tray registers as its host.
    void trayStarts()
    {
        auto watcher = std::make_unique<FakeWatcher>();
        watcher->host = true;
        serve(std::move(watcher), watcherPath, watcherService);
        ASSERT_TRUE(service().send(
            QDBusMessage::createSignal(watcherPath, watcherService, "StatusNotifierHostRegistered")));
    }
};

// A tray that starts after the application is seen when it comes, and one that goes is seen going.
TEST_F(TrayBus, ATrayThatStartsLaterIsSeenWhenItComes)
{
    TrayWatch watch(client(), nullptr);
    QSignalSpy changed(&watch, &TrayWatch::presentChanged);
    EXPECT_FALSE(changed.wait(300));
    EXPECT_FALSE(watch.present());

    trayStarts();
    ASSERT_TRUE(TestSupport::eventually([&] { return watch.present(); }, 10000));
    EXPECT_EQ(changed.size(), 1);

    service().unregisterService(watcherService);
    ASSERT_TRUE(TestSupport::eventually([&] { return !watch.present(); }, 10000));
}

// With "Show tray icon" on, the icon comes with the tray; with it off, it does not.
TEST(TrayScene, TheIconComesWithTheTrayWhileTheSettingAsksForIt)
{
    ShellTesting::Fixture f;
    Scenes::setTrayAvailableForTesting(false);
    Scenes scenes(f.preferences, f.stores());
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);
    Scenes::setTrayAvailableForTesting(true);
    EXPECT_NE(scenes.menuBarExtra(), nullptr);
    // A tray started again keeps the icon, which Qt docks again.
    Scenes::setTrayAvailableForTesting(false);
    EXPECT_NE(scenes.menuBarExtra(), nullptr);

    f.preferences.setShowMenuBar(false);
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);
    Scenes::setTrayAvailableForTesting(true);
    EXPECT_EQ(scenes.menuBarExtra(), nullptr);
    Scenes::setTrayAvailableForTesting(std::nullopt);
}

} // namespace
