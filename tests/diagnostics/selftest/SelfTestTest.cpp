#include "diagnostics/selftest/SelfTest.h"
#include "diagnostics/selftest/Cases.h"
#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"
#include "toolchain/DefaultSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

// The program's environment with a temporary folder of its own, "tmp" under `root`.
QProcessEnvironment programEnvironment(const QTemporaryDir& root)
{
    QDir(root.path()).mkpath(QStringLiteral("tmp"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
    return env;
}

// A run of the self test in this process, with temporary folders and settings suites of its own.
class SelfTestRun : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        QDir(m_root.path()).mkpath(QStringLiteral("tmp"));
        useSettingsFolder(m_root.filePath(QStringLiteral("config")));
    }

    void TearDown() override
    {
        // Back to where every other test of this process keeps its settings.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_defaultSettingsFolder);
    }

    void useSettingsFolder(const QString& folder)
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

    Outcome run()
    {
        Outcome outcome;
        QTextStream out(&outcome.out);
        QTextStream err(&outcome.err);
        outcome.status = Diagnostics::runSelfTest(out, err);
        return outcome;
    }

    QStringList temporaryLeftovers() const
    {
        return QDir(tmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QString tmp() const { return m_root.filePath(QStringLiteral("tmp")); }

    QTemporaryDir m_root;
    TestSupport::ScopedEnv m_tmpdir{"TMPDIR", m_root.filePath(QStringLiteral("tmp")).toUtf8()};

private:
    QString m_defaultSettingsFolder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
};

TEST_F(SelfTestRun, LeavesTheUsersSettingsAloneAndNothingBehind)
{
    const QString dismissed = QStringLiteral("dismissedToolUpdates");
    {
        // Suites of the same names in the user's settings folder, which the update notice case would
        // fail on were it to read them.
        const auto earlier = Platform::Settings::suite(QStringLiteral("voskel.selftest"));
        earlier->setValue(dismissed,
                          QStringList{QStringLiteral("container 1.5.0"), QStringLiteral("socktainer 1.3.0")});
        const auto registry = Platform::Settings::suite(QStringLiteral("voskel.selftest.registry"));
        registry->setValue(QStringLiteral("knownProjects"),
                           QStringLiteral("{\"apple-container\":[{\"name\":\"x\"}]}"));
    }
    const QString settingsFolder =
        QFileInfo(Platform::Settings::suiteFile(QStringLiteral("voskel.selftest"))).path();

    const Outcome outcome = run();

    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out, QStringLiteral("selftest ok\n"));
    EXPECT_EQ(outcome.err, QString());
    EXPECT_EQ(temporaryLeftovers(), QStringList());
    EXPECT_EQ(QDir(settingsFolder).entryList(QDir::Files),
              (QStringList{"voskel.selftest.ini", "voskel.selftest.registry.ini"}));
    EXPECT_EQ(Platform::Settings::suite(QStringLiteral("voskel.selftest"))->stringList(dismissed).size(), 2);
}

TEST_F(SelfTestRun, ASettingsSuiteThatCannotBeOpenedFailsTheCaseThatNeedsIt)
{
    // Settings under a regular file: no suite can be created there, whoever runs the test.
    const QString blocker = m_root.filePath(QStringLiteral("blocker"));
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    useSettingsFolder(blocker + QStringLiteral("/config"));

    const SelfTest::CaseScope scope(QStringLiteral("a case"));
    try {
        SelfTest::openEmptySuite(QStringLiteral("voskel.selftest.registry"));
        FAIL() << "the suite opened";
    } catch (const SelfTest::CheckFailed& failed) {
        EXPECT_EQ(
            failed.line,
            QStringLiteral("selftest failed: a case: the settings suite \"voskel.selftest.registry\" opens"));
    }
}

// Runs at the same time each keep their suites to themselves: none fails for another's, and none
// leaves anything behind, not even the settings folder of a home where the application never ran.
TEST(SelfTestProgram, RunsAtTheSameTimeEachPassAndLeaveNothingBehind)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QProcessEnvironment env = programEnvironment(root);
    env.insert(QStringLiteral("HOME"), root.path());
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));

    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 20; ++i) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(env);
        runs.back()->start(QStringLiteral(VOSKEL_BINARY), {QStringLiteral("--selftest")});
    }
    for (const auto& run : runs) {
        ASSERT_TRUE(run->waitForFinished(240000));
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
        EXPECT_EQ(run->readAllStandardOutput(), QByteArray("selftest ok\n"));
    }
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"tmp"});
}

TEST(SelfTestProgram, AWrongFixtureEndsTheProcessWithOneLineNamingTheCheckAndNothingOnStandardOutput)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QProcessEnvironment env = programEnvironment(root);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("PATH"), root.filePath(QStringLiteral("bin")));

    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(VOSKEL_BROKEN_SELFTEST), {});
    ASSERT_TRUE(process.waitForFinished(120000));

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
    EXPECT_EQ(
        process.readAllStandardError(),
        QByteArray("selftest failed: check 10, the Apple runtime listed once: a context on the bridge's "
                   "socket already lists the Apple runtime\n"));
    // It stopped at once: none of the cases after the inline checks made its folder or suite.
    EXPECT_EQ(QDir(root.filePath(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_FALSE(QDir(root.filePath(QStringLiteral("config"))).exists());
}

TEST(SelfTestCheck, AFailureIsOneLineEvenWhenTheValuesSpanSeveral)
{
    const SelfTest::CaseScope scope(QStringLiteral("a case"));
    try {
        SelfTest::checkEqual(QStringLiteral("a\nb"), QStringLiteral("a\nc"), QStringLiteral("two\nlines"));
        FAIL() << "the check held";
    } catch (const SelfTest::CheckFailed& failed) {
        EXPECT_EQ(failed.line,
                  QStringLiteral("selftest failed: a case: two\\nlines: got \"a\\nb\", expected \"a\\nc\""));
    }
}

// The self test holds the command that stops using Colima to deleting the socket only while it is
// still our link; one that deletes whatever is there fails it, by name.
TEST(SelfTestCheck, ARemoveCommandThatDeletesWhateverIsAtTheSocketFailsItsCheck)
{
    const SelfTest::CaseScope scope(QStringLiteral("testLogsAndAddresses"));
    const QString colima = QStringLiteral("/Users/x/.colima/default/docker.sock");
    const DefaultSocket::Paths paths{QString::fromLatin1(DefaultSocket::socketPath),
                                     QString::fromLatin1(DefaultSocket::tmpfilesEntryPath), colima,
                                     QStringLiteral("/tmp")};
    const QString ours = DefaultSocket::Linux::removeCommand(colima, paths);
    EXPECT_NO_THROW(SelfTest::checkSocketRemoval(ours));

    const QString entry = QStringLiteral("/bin/rm -f '/etc/tmpfiles.d/app.qel.voskel.docker-socket.conf'; ");
    const QString careless[] = {
        entry + QStringLiteral("/bin/rm -f '/var/run/docker.sock'"),
        entry + QStringLiteral("/bin/rm -f /var/run/docker.sock; ") + ours,
    };
    for (const QString& command : careless) {
        try {
            SelfTest::checkSocketRemoval(command);
            ADD_FAILURE() << "held for " << command.toStdString();
        } catch (const SelfTest::CheckFailed& failed) {
            EXPECT_EQ(failed.line,
                      QStringLiteral("selftest failed: testLogsAndAddresses: the remove command deletes "
                                     "the socket only while it is our link to Colima"));
        }
    }
}

} // namespace
