#include "diagnostics/selftest/SelfTest.h"

#include "diagnostics/Output.h"
#include "diagnostics/selftest/Cases.h"
#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QTextStream>
#include <QThread>

#include <exception>

namespace Diagnostics {

namespace {

void runCases()
{
    SelfTest::inlineChecks();

    SelfTest::testToolchain();
    SelfTest::testRuntimeReachability();
    SelfTest::testProjectRegistry();
    SelfTest::testComposeCheck();
    SelfTest::testTeardownPlan();
    SelfTest::testUsage();
    SelfTest::testStats();
    SelfTest::testLogsAndAddresses();
    SelfTest::testAllRuntimes();

    {
        const SelfTest::CaseScope scope(QStringLiteral("store cases"));
        const QCoreApplication* app = QCoreApplication::instance();
        SelfTest::check(app && QThread::currentThread() == app->thread(),
                        QStringLiteral("the store cases run on the main thread"));
    }
    SelfTest::testAppearance();
    SelfTest::testUpdateNotice();
    SelfTest::testErrorOutlivesRefresh();
    SelfTest::testAppleRuntime();
}

bool holdsFiles(const QString& folder)
{
    return QDirIterator(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories)
        .hasNext();
}

int runCasesReporting(QTextStream& err)
{
    try {
        runCases();
    } catch (const SelfTest::CheckFailed& failed) {
        printLine(err, failed.line);
        return 1;
    } catch (const std::exception& unexpected) {
        // An operation that throws where it should answer fails its case just the same.
        printLine(err, SelfTest::failureLine(QStringLiteral("an operation threw: ") +
                                             QString::fromUtf8(unexpected.what())));
        return 1;
    }
    return 0;
}

} // namespace

int runSelfTest(QTextStream& out, QTextStream& err)
{
    // The cases' settings suites are kept in a folder of the run's own, like their other files: runs
    // at the same time never share one, and the user's settings folder is neither read nor made.
    const QString settings = SelfTest::makeTemporaryFolder(QStringLiteral("voskel-selftest-settings-"));
    const QString userSettings = Platform::Settings::keepSuitesIn(settings);
    const int status = runCasesReporting(err);
    Platform::Settings::keepSuitesIn(userSettings);
    // A failing case's suite stays for whoever looks into the failure; a folder with none goes.
    if (status == 0 || !holdsFiles(settings))
        SelfTest::removeFolder(settings);
    if (status == 0)
        printLine(out, QStringLiteral("selftest ok"));
    return status;
}

} // namespace Diagnostics
