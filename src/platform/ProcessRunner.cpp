#include "platform/ProcessRunner.h"

#include "platform/StreamingProcess.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

namespace {

QMutex childMutex;
QHash<qint64, bool> liveChildren; // pid -> started in its own process group

void ignoreBrokenPipe()
{
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

void signalChild(qint64 pid, bool group, int sig)
{
    if (pid <= 0)
        return;
    ::kill(group ? -static_cast<pid_t>(pid) : static_cast<pid_t>(pid), sig);
}

} // namespace

int Completed::status() const
{
    if (!started)
        return -1;
    if (crashed)
        return 128 + exitCode;
    return exitCode;
}

void prepare(QProcess& process, const PreparedProcess& prepared)
{
    process.setProgram(prepared.program);
    process.setArguments(prepared.arguments);
    process.setProcessEnvironment(prepared.environment);
    if (prepared.workingDirectory)
        process.setWorkingDirectory(*prepared.workingDirectory);
    process.setStandardInputFile(QProcess::nullDevice());
    if (prepared.ownProcessGroup)
        process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

void collectExit(QProcess& process, Completed& done)
{
    done.out = process.readAllStandardOutput();
    done.err = process.readAllStandardError();
    done.crashed = process.exitStatus() == QProcess::CrashExit;
    done.exitCode = process.exitCode();
    if (done.crashed && done.exitCode == 0)
        done.exitCode = SIGKILL;
}

void trackChild(qint64 pid, bool ownGroup)
{
    QMutexLocker lock(&childMutex);
    liveChildren.insert(pid, ownGroup);
}

void untrackChild(qint64 pid)
{
    QMutexLocker lock(&childMutex);
    liveChildren.remove(pid);
}

int trackedChildCount()
{
    QMutexLocker lock(&childMutex);
    return int(liveChildren.size());
}

Completed runToEnd(const PreparedProcess& prepared, const std::optional<QByteArray>& input)
{
    Completed result;
    QProcess process;
    prepare(process, prepared);
    if (input) {
        ignoreBrokenPipe();
        process.setStandardInputFile(QString()); // back to a pipe
    }

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1)) {
        result.launchError = process.errorString();
        return result;
    }
    result.started = true;
    const qint64 pid = process.processId();
    trackChild(pid, prepared.ownProcessGroup);

    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    // QProcess reads both pipes into its own buffers while it waits, so neither can fill up.
    while (process.state() != QProcess::NotRunning)
        process.waitForFinished(-1);
    untrackChild(pid);

    collectExit(process, result);
    return result;
}

Capture capture(const PreparedProcess& prepared, const std::optional<QByteArray>& input)
{
    const Completed done = runToEnd(prepared, input);
    if (!done.started)
        return {-1, QString(), done.launchError};
    return {done.status(), decodeUtf8Strict(done.out), decodeUtf8Strict(done.err)};
}

void endRunningChildren(int graceMs)
{
    QHash<qint64, bool> children;
    {
        QMutexLocker lock(&childMutex);
        children = liveChildren;
    }
    for (auto it = children.cbegin(); it != children.cend(); ++it)
        signalChild(it.key(), it.value(), SIGTERM);
    signalStreamingChildren(SIGTERM);

    QDeadlineTimer grace(graceMs);
    while ((trackedChildCount() > 0 || streamingChildrenRunning()) && !grace.hasExpired())
        QThread::msleep(20);

    killStreamingChildren();
    QMutexLocker lock(&childMutex);
    for (auto it = liveChildren.cbegin(); it != liveChildren.cend(); ++it)
        signalChild(it.key(), it.value(), SIGKILL);
}

} // namespace Platform
