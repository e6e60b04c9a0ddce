#include "platform/ProcessRunner.h"

#include "platform/StreamingProcess.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QProcess>
#include <QReadWriteLock>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

namespace {

QMutex childMutex;
QSet<qint64> liveChildren; // each leads a process group of its own
// Held shared from the start of a child until it is recorded, and exclusively by the way out while
// it takes its list: a child that runs is then always on that list.
QReadWriteLock startLock;

void ignoreBrokenPipe()
{
    static const bool done = [] {
        std::signal(SIGPIPE, SIG_IGN);
        return true;
    }();
    (void)done;
}

bool groupExists(qint64 pid)
{
    return pid > 0 && (::kill(-static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

void trackChild(qint64 pid)
{
    QMutexLocker lock(&childMutex);
    liveChildren.insert(pid);
}

QSet<qint64> trackedChildren()
{
    QMutexLocker lock(&childMutex);
    return liveChildren;
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
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
}

bool startTracked(QProcess& process, QIODevice::OpenMode mode, int waitMs)
{
    QReadLocker starting(&startLock);
    process.start(mode);
    // A start that outlasts the wait still has a child to record; only one that failed has none.
    if (!process.waitForStarted(waitMs) && process.state() == QProcess::NotRunning)
        return false;
    trackChild(process.processId());
    return true;
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

void signalGroup(qint64 pid, int sig)
{
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), sig);
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

    if (!startTracked(process, QIODevice::ReadWrite)) {
        result.launchError = process.errorString();
        return result;
    }
    result.started = true;
    const qint64 pid = process.processId();

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
    return capturedFrom(runToEnd(prepared, input));
}

Capture capturedFrom(const Completed& done)
{
    if (!done.started)
        return {-1, QString(), done.launchError};
    return {done.status(), decodeUtf8Strict(done.out), decodeUtf8Strict(done.err)};
}

void endRunningChildren(int graceMs)
{
    QDeadlineTimer grace(graceMs);
    // A start that hangs (a program on a dead file system) must not hold the way out: after the
    // grace the list is taken as it stands.
    const bool startsHeld = startLock.tryLockForWrite(int(std::max<qint64>(grace.remainingTime(), 0)));
    QSet<qint64> groups = trackedChildren();
    if (startsHeld)
        startLock.unlock();
    for (const qint64 pid : std::as_const(groups))
        signalGroup(pid, SIGTERM);
    signalStreamingChildren(SIGTERM);

    // The leaders are reaped by their runners; what they started lingers in their groups until it
    // has ended too.
    const auto anyLeft = [&groups] {
        return trackedChildCount() > 0 || streamingChildrenRunning() ||
               std::any_of(groups.cbegin(), groups.cend(), [](qint64 pid) { return groupExists(pid); });
    };
    while (anyLeft() && !grace.hasExpired())
        QThread::msleep(20);

    killStreamingChildren();
    // A group's number stays taken while anything is left in it; an empty one is not signalled.
    groups.unite(trackedChildren());
    for (const qint64 pid : std::as_const(groups))
        if (groupExists(pid))
            signalGroup(pid, SIGKILL);
}

} // namespace Platform
