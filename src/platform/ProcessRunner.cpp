#include "platform/ProcessRunner.h"

#include "platform/KeptChild.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <csignal>

namespace Platform {

namespace {

// A killed keeper is gone within moments; one stuck in the kernel is left for the system.
constexpr int reapAfterKillMs = 1000;

bool anyLeft(const QList<std::shared_ptr<KeptChild>>& children)
{
    bool left = false;
    for (const std::shared_ptr<KeptChild>& child : children) {
        child->update();
        left = !child->gone() || left;
    }
    return left;
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

Completed runToEnd(const PreparedProcess& prepared, const std::optional<QByteArray>& input)
{
    return runWithin(prepared, input, std::nullopt).run;
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
    QList<std::shared_ptr<KeptChild>> children =
        keptChildren(int(std::max<qint64>(grace.remainingTime(), 0)));
    for (const std::shared_ptr<KeptChild>& child : std::as_const(children))
        child->signal(SIGTERM);
    // Each keeper goes once nothing is left in its group; it is reaped here or by its runner.
    while (anyLeft(children) && !grace.hasExpired())
        QThread::msleep(20);

    // Whatever started meanwhile goes too. A group whose keeper was reaped is not signalled.
    children = keptChildren(0);
    for (const std::shared_ptr<KeptChild>& child : std::as_const(children))
        child->signal(SIGKILL);
    const QDeadlineTimer reaping(reapAfterKillMs);
    while (anyLeft(children) && !reaping.hasExpired())
        QThread::msleep(5);
}

int trackedChildCount()
{
    return keptChildCount(false);
}

} // namespace Platform
