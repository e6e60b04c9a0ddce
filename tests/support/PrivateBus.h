#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace TestSupport {

// A message bus of one test's own, never the user's: its own dbus-daemon, ended with the test. A
// fake desktop service registers on it through serve(), the code under test talks through client().
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
        ASSERT_TRUE(service().isConnected());
    }

    void TearDown() override
    {
        QDBusConnection::disconnectFromBus(serviceName);
        m_serving.quit();
        m_serving.wait();
        m_served.reset(); // its thread has ended, so it can go from here
        QDBusConnection::disconnectFromBus(clientName);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished(5000);
        }
    }

    QDBusConnection service() { return QDBusConnection::connectToBus(m_address, serviceName); }
    QDBusConnection client() { return QDBusConnection::connectToBus(m_address, clientName); }

    // Puts `fake` on the bus at `path` under the name `service`, answering on a thread of its own as a
    // desktop service answers from a process of its own (a blocking call of the code under test is
    // answered meanwhile). Kept until the test ends.
    template <typename Fake>
    Fake* serve(std::unique_ptr<Fake> fake, const QString& path, const QString& name)
    {
        Fake* served = fake.get();
        QDBusConnection bus = service();
        EXPECT_TRUE(bus.registerVirtualObject(path, served));
        EXPECT_TRUE(bus.registerService(name));
        if (!m_serving.isRunning())
            m_serving.start();
        served->moveToThread(&m_serving);
        m_served = std::move(fake);
        return served;
    }

    static constexpr const char* serviceName = "voskel-test-service";
    static constexpr const char* clientName = "voskel-test-client";

    QProcess m_daemon;
    QString m_address;
    QThread m_serving;
    std::unique_ptr<QDBusVirtualObject> m_served;
};

} // namespace TestSupport
