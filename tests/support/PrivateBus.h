#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <gtest/gtest.h>

namespace TestSupport {

// A message bus of one test's own, never the user's: its own dbus-daemon, ended with the test. A
// fake desktop service registers on it through service(), the code under test talks through client().
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
        QDBusConnection::disconnectFromBus(clientName);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            m_daemon.waitForFinished(5000);
        }
    }

    QDBusConnection service() { return QDBusConnection::connectToBus(m_address, serviceName); }
    QDBusConnection client() { return QDBusConnection::connectToBus(m_address, clientName); }

    static constexpr const char* serviceName = "voskel-test-service";
    static constexpr const char* clientName = "voskel-test-client";

    QProcess m_daemon;
    QString m_address;
};

} // namespace TestSupport
