#include "platform/TimedRunner.h"

#include "platform/ProcessRunner.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <algorithm>
#include <climits>
#include <csignal>

namespace Platform {

namespace {

// How long a killed child may take to be reaped before we stop waiting for it.
constexpr int reapAfterKillMs = 5000;
// How often a cancellable run looks whether it has been cancelled.
constexpr qint64 cancelCheckMs = 50;

int waitSlice(const QDeadlineTimer& deadline)
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 1, INT_MAX));
}

// Waits until the child has exited, `deadline` has passed or `cancel` is set; true when it has exited.
bool waitUntil(QProcess& process, const QDeadlineTimer& deadline, const Cancellation* cancel = nullptr)
{
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        if (cancel && cancel->isCancelled())
            break;
        process.waitForFinished(cancel ? int(std::min(cancelCheckMs, qint64(waitSlice(deadline))))
                                       : waitSlice(deadline));
    }
    return process.state() == QProcess::NotRunning;
}

} // namespace

TimedCompletion runTimed(const PreparedProcess& prepared, std::chrono::milliseconds limit,
                         std::chrono::milliseconds grace, const Cancellation* cancel)
{
    TimedCompletion result;
    if (cancel && cancel->isCancelled()) {
        result.cancelled = true;
        return result;
    }
    QProcess process;
    prepare(process, prepared);

    const QDeadlineTimer deadline(std::max<qint64>(limit.count(), 0));
    // Exec reports back at once; the bound only keeps a program on a hung file system from holding us.
    if (!startTracked(process, QIODevice::ReadOnly, waitSlice(deadline))) {
        result.run.launchError = process.errorString();
        return result;
    }
    result.run.started = true;
    const qint64 pid = process.processId();

    // QProcess gathers both outputs while it waits, and reports the child's exit without waiting
    // for the pipes to close, so a grandchild that keeps the pipe open cannot hold this loop.
    if (!waitUntil(process, deadline, cancel)) {
        result.cancelled = !deadline.hasExpired();
        result.timedOut = !result.cancelled;
        signalGroup(pid, SIGTERM);
        if (!waitUntil(process, QDeadlineTimer(std::max<qint64>(grace.count(), 0)))) {
            signalGroup(pid, SIGKILL);
            waitUntil(process, QDeadlineTimer(reapAfterKillMs));
        }
        // The leader is gone or going; anything it left in its group that ignored the request goes too.
        signalGroup(pid, SIGKILL);
    }
    untrackChild(pid);

    collectExit(process, result.run);
    return result;
}

} // namespace Platform
