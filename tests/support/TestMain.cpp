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
        std::fprintf(stderr, "no temporary folder for the settings: %s\n", qPrintable(settings.errorString()));
        return 1;
    }
    Platform::Settings::keepSuitesIn(settings.path());
    const int result = RUN_ALL_TESTS();
    // As the application does on its way out: a job a test left running (a refresh whose store is
    // gone) must not outlive the statics it reads, which the end of main destroys.
    Platform::endRunningChildren();
    Platform::giveUpLooks();
    if (!Platform::Pools::drain(QDeadlineTimer(Platform::Pools::wayOutLimit))) {
        std::fflush(nullptr);
        std::_Exit(result);
    }
    return result;
}
