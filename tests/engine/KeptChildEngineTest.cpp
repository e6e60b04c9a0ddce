#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <sys/stat.h>

using TestSupport::processesWorkingIn;

// A plan reads the project with compose, and a .env that is a named pipe holds compose there for
// good. When the application is killed meanwhile, the client and its plugin go with it.
TEST(KeptChildren, ComposeHeldByANamedPipeEndsWhenTheApplicationIsKilled)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir dir;
    QFile compose(dir.filePath(QStringLiteral("compose.yaml")));
    ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
    compose.write("services:\n  web:\n    image: " + TestSupport::testImage().toUtf8() + "\n");
    compose.close();
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral(".env"))).constData(), 0600), 0);

    QProcess holder;
    holder.start(QStringLiteral(VOSKEL_CHILD_HOLDER), {QStringLiteral("compose"), dir.path()});
    ASSERT_TRUE(holder.waitForStarted(5000));
    // The client, then its plugin, which opens the pipe and waits for a writer that never comes.
    ASSERT_TRUE(TestSupport::eventually([&] { return processesWorkingIn(dir.path()).size() >= 2; }));
    const QList<qint64> held = processesWorkingIn(dir.path());

    ::kill(pid_t(holder.processId()), SIGKILL);
    ASSERT_TRUE(holder.waitForFinished(5000));
    EXPECT_TRUE(TestSupport::eventually([&] { return processesWorkingIn(dir.path()).isEmpty(); }, 20000))
        << "still there: " << processesWorkingIn(dir.path()).size();
    for (const qint64 pid : held + processesWorkingIn(dir.path()))
        ::kill(pid_t(pid), SIGKILL); // whatever a failure left behind
}
