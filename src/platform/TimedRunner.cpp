#include "platform/TimedRunner.h"

#include "platform/Descriptors.h"
#include "platform/KeptChild.h"
#include "platform/ProcessRunner.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Platform {

namespace {

// How long a killed child may take to be reaped before we stop waiting for it.
constexpr int reapAfterKillMs = 5000;
// How often a cancellable run looks whether it has been cancelled.
constexpr qint64 cancelCheckMs = 50;
// Without news a run looks again this often: the way out may have read the news meanwhile.
constexpr qint64 lookAgainMs = 200;

int waitSlice(const QDeadlineTimer& deadline, const Cancellation* cancel)
{
    qint64 slice = cancel ? cancelCheckMs : lookAgainMs;
    if (!deadline.isForever())
        slice = std::min(slice, deadline.remainingTime());
    return int(std::max<qint64>(slice, 0));
}

// Reads what is there without waiting, up to a budget per call, so a writer that never pauses cannot
// keep the runner from its limit; false at end of file or on an error.
bool readAvailable(int fd, QByteArray& into)
{
    char buffer[16 * 1024];
    for (qsizetype budget = 256 * 1024; budget > 0;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, got);
            budget -= got;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

// Moves the child's input and both outputs while the runner waits, so no pipe can fill up.
class Pump {
public:
    Pump(KeptChild& child, const std::optional<QByteArray>& input, Completed& done)
        : m_child(child), m_input(input.value_or(QByteArray())), m_done(done)
    {
        if (m_input.isEmpty())
            m_child.closeInput();
    }

    // Waits up to `waitMs` for output, room for input or the keeper's news, and takes what there is.
    void step(int waitMs)
    {
        pollfd fds[4];
        nfds_t count = 0;
        const auto watch = [&](int fd, short events) {
            if (fd >= 0)
                fds[count++] = {fd, events, 0};
        };
        watch(m_child.inputFd(), POLLOUT);
        watch(m_child.outputFd(), POLLIN);
        watch(m_child.errorFd(), POLLIN);
        // Once the keeper is gone its end of the news stays readable: no use waiting on it.
        if (!m_child.gone())
            watch(m_child.statusFd(), POLLIN);
        if (::poll(fds, count, waitMs) > 0) {
            writeInput();
            drain();
        }
        m_child.update();
    }

    // Takes what both outputs hold now; a grandchild holding them open is not waited for.
    void drain()
    {
        if (m_child.outputFd() >= 0 && !readAvailable(m_child.outputFd(), m_done.out))
            m_child.closeOutput();
        if (m_child.errorFd() >= 0 && !readAvailable(m_child.errorFd(), m_done.err))
            m_child.closeError();
    }

private:
    void writeInput()
    {
        const int fd = m_child.inputFd();
        if (fd < 0)
            return;
        while (m_written < m_input.size()) {
            const ssize_t put =
                ::write(fd, m_input.constData() + m_written, size_t(m_input.size() - m_written));
            if (put > 0) {
                m_written += put;
                continue;
            }
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            break; // the child closed its end: what it did not read it did not want
        }
        m_child.closeInput();
    }

    KeptChild& m_child;
    QByteArray m_input;
    qsizetype m_written = 0;
    Completed& m_done;
};

} // namespace

TimedCompletion runTimed(const PreparedProcess& prepared, std::chrono::milliseconds limit,
                         std::chrono::milliseconds grace, const Cancellation* cancel)
{
    return runWithin(prepared, std::nullopt, limit, grace, cancel);
}

TimedCompletion runWithin(const PreparedProcess& prepared, const std::optional<QByteArray>& input,
                          std::optional<std::chrono::milliseconds> limit, std::chrono::milliseconds grace,
                          const Cancellation* cancel)
{
    TimedCompletion result;
    if (cancel && cancel->isCancelled()) {
        result.cancelled = true;
        return result;
    }
    if (input)
        ignoreBrokenPipe();
    const QDeadlineTimer deadline =
        limit ? QDeadlineTimer(std::max<qint64>(limit->count(), 0)) : QDeadlineTimer(QDeadlineTimer::Forever);
    KeptChild::Options options;
    options.input = input.has_value();
    // Exec reports back at once; the bound only keeps a program on a hung file system from holding us.
    options.startWaitMs =
        deadline.isForever() ? -1 : int(std::clamp<qint64>(deadline.remainingTime(), 1, INT_MAX));
    QString failure;
    const std::shared_ptr<KeptChild> child = KeptChild::start(prepared, options, failure);
    if (!child) {
        result.run.launchError = failure;
        return result;
    }
    result.run.started = true;

    Pump pump(*child, input, result.run);
    const auto stopped = [&] { return cancel && cancel->isCancelled(); };
    while (!child->exited() && !deadline.hasExpired() && !stopped())
        pump.step(waitSlice(deadline, cancel));

    if (!child->exited()) {
        result.cancelled = !deadline.hasExpired();
        result.timedOut = !result.cancelled;
        child->signal(SIGTERM);
        const QDeadlineTimer ending(std::max<qint64>(grace.count(), 0));
        while (!child->exited() && !ending.hasExpired())
            pump.step(waitSlice(ending, nullptr));
        if (!child->exited()) {
            child->signal(SIGKILL);
            const QDeadlineTimer reaping(reapAfterKillMs);
            while (!child->exited() && !reaping.hasExpired())
                pump.step(waitSlice(reaping, nullptr));
        }
        // Anything it left in its group that ignored the request goes too. The keeper holds the group
        // until then, so its number still names this group and no other.
        child->signal(SIGKILL);
        child->settle(reapAfterKillMs);
    }
    pump.drain();

    if (const std::optional<QString> late = child->lateFailure()) {
        result.run.started = false;
        result.run.launchError = *late;
    } else if (child->exited()) {
        const int status = child->waitStatus();
        result.run.crashed = WIFSIGNALED(status);
        result.run.exitCode = result.run.crashed ? WTERMSIG(status) : WEXITSTATUS(status);
        // Said where a failure's words are looked for, and first: what the program said before it was
        // cut off (progress, as often as not) would hide it in a banner.
        if (const std::optional<QString> cut = child->cutOff()) {
            result.run.err.prepend(cut->toUtf8() + '\n');
            result.run.cutOff = true;
        }
    } else {
        // Killed and still not reaped (stuck in the kernel): a killed child is a failure.
        result.run.crashed = true;
        result.run.exitCode = SIGKILL;
    }
    child->release();
    return result;
}

} // namespace Platform
