#include "diagnostics/selftest/SelfTest.h"
#include "diagnostics/selftest/Check.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

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

TEST_F(SelfTestRun, EmptiesWhatAnEarlierRunLeftInItsSuitesAndLeavesNothingBehind)
{
    {
        // A dismissal and an unreadable registry left over from an interrupted run.
        const auto earlier = Platform::Settings::suite(QStringLiteral("voskel.selftest"));
        earlier->setValue(QStringLiteral("dismissedToolUpdates"),
                          QStringList{QStringLiteral("container 1.5.0"), QStringLiteral("socktainer 1.3.0")});
        const auto registry = Platform::Settings::suite(QStringLiteral("voskel.selftest.registry"));
        registry->setValue(QStringLiteral("knownProjects"),
                           QStringLiteral("{\"apple-container\":[{\"name\":\"x\"}]}"));
    }

    const Outcome outcome = run();

    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out, QStringLiteral("selftest ok\n"));
    EXPECT_EQ(outcome.err, QString());
    EXPECT_EQ(temporaryLeftovers(), QStringList());
    for (const char* suite :
         {"voskel.selftest", "voskel.selftest.registry", "voskel.selftest.apple", "voskel.selftest.empty"})
        EXPECT_FALSE(QFile::exists(Platform::Settings::suiteFile(QString::fromLatin1(suite)))) << suite;
}

TEST_F(SelfTestRun, ASettingsSuiteThatCannotBeOpenedFailsTheCaseThatNeedsIt)
{
    // Settings under a regular file: no suite can be created there, whoever runs the test.
    const QString blocker = m_root.filePath(QStringLiteral("blocker"));
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    useSettingsFolder(blocker + QStringLiteral("/config"));

    const Outcome outcome = run();

    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, QString());
    EXPECT_EQ(
        outcome.err,
        QStringLiteral(
            "selftest failed: testProjectRegistry: the settings suite \"voskel.selftest.registry\" opens\n"));
    // What the failing case had made stays for whoever looks into it; nothing of the cases before it.
    const QStringList left = temporaryLeftovers();
    ASSERT_EQ(left.size(), 1) << left.join(' ').toStdString();
    EXPECT_TRUE(left.first().startsWith(QStringLiteral("voskel-selftest-locate-")));
}

TEST(SelfTestProgram, AWrongFixtureEndsTheProcessWithOneLineNamingTheCheckAndNothingOnStandardOutput)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QDir(root.path()).mkpath(QStringLiteral("tmp"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), root.filePath(QStringLiteral("tmp")));
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

} // namespace
