#include "platform/DiskLook.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/Settings.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifdef VOSKEL_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv)
{
#ifdef VOSKEL_TEST_GUI
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TestApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    // The user's own settings (the projects their window remembers) are never read nor written by a
    // test: a suite that wants some writes them into this folder.
    QTemporaryDir settings;
    if (!settings.isValid()) {
        std::fprintf(stderr, "no temporary folder for the settings: %s\n",
                     qPrintable(settings.errorString()));
        return 1;
    }
    Platform::Settings::keepSuitesIn(settings.path());
    const int result = RUN_ALL_TESTS();
    // As the application does on its way out: a job a test left running (a refresh whose store is
    // gone) must not outlive the statics it reads, which the end of main destroys.
    Platform::endRunningChildren();
    Platform::giveUpLooks();
    // A look given up still answers its waiter through the event loop: let every task that awaits one
    // run to its end, so that none is left suspended when the process ends (and reported as a leak).
    const QDeadlineTimer wayOut(Platform::Pools::wayOutLimit);
    bool drained = false;
    while (!wayOut.hasExpired()) {
        drained = Platform::Pools::drain(QDeadlineTimer(20));
        if (drained && Platform::lookServerCount().working == 0)
            break;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    if (!drained) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
