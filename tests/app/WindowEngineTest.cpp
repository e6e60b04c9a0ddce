#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace {

// The built program, windowed on the offscreen platform, with its own settings and its own folder for
// the instance lock, so it meets neither the user's running application nor other tests.
void prepare(QProcess& process, const QTemporaryDir& runtime, const QTemporaryDir& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("XDG_CONFIG_HOME", home.path());
    // The store's polling loops are asleep on their timers when the application quits, and their
    // frames end with the process rather than being woken for it: not a leak worth failing over.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
    process.setProcessEnvironment(environment);
    process.setProgram(QStringLiteral(VOSKEL_BINARY));
}

TEST(WindowOnEngine, ASecondStartHandsOverToTheFirstAndEndsWithStatusZero)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir runtime;
    QTemporaryDir home;
    QProcess first;
    prepare(first, runtime, home);
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(TestSupport::eventually([&] { return QFile::exists(runtime.filePath("voskel.socket")); }, 60000));

    QProcess second;
    prepare(second, runtime, home);
    second.start();
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    // A session that ends quits it the ordinary way.
    first.terminate();
    if (!first.waitForFinished(20000)) {
        first.kill();
        first.waitForFinished();
        ADD_FAILURE() << "the first one did not quit when asked to terminate";
    }
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
}

} // namespace
