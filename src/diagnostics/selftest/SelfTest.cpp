#include "diagnostics/selftest/SelfTest.h"

#include "diagnostics/Output.h"
#include "diagnostics/selftest/Cases.h"
#include "diagnostics/selftest/Check.h"

#include <QCoreApplication>
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

} // namespace

int runSelfTest(QTextStream& out, QTextStream& err)
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
    printLine(out, QStringLiteral("selftest ok"));
    return 0;
}

} // namespace Diagnostics
