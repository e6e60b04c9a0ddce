#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The built program, windowed on the offscreen platform, with its own settings and its own folder for
// the instance lock, so it meets neither the user's running application nor other tests.
void prepare(QProcess& process, const QTemporaryDir& runtime, const QTemporaryDir& home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    environment.insert("XDG_CONFIG_HOME", home.path());
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

    first.terminate();
    if (!first.waitForFinished(20000)) {
        first.kill();
        first.waitForFinished();
    }
}

} // namespace
