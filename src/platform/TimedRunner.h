#pragma once

#include "platform/PreparedProcess.h"
#include "platform/ProcessRunner.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>

namespace Platform {

// How a child run under a time limit ended, with what it printed on both outputs until then.
struct TimedCompletion {
    Completed run;
    bool timedOut = false;  // the limit passed while the child still ran; it was ended
    bool cancelled = false; // its Cancellation asked for the end first; it was ended, or never started

    bool succeeded() const { return !timedOut && !cancelled && run.succeeded(); }
};

// Lets another thread end timed runs before their limit, a closed window's work or a quit, say.
// Once cancelled, the run under way ends as at its limit (with its process group) within a tenth of
// a second, and a run handed the cancelled object does not start. Thread-safe; it cannot be undone.
class Cancellation {
public:
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }

private:
    std::atomic_bool m_cancelled{false};
};

// What is left of `deadline`'s time, none once it has passed: the limit to give a run made under it.
inline std::chrono::milliseconds remaining(const QDeadlineTimer& deadline)
{
    return std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0));
}

// Runs `prepared` on the calling thread and ends it once `limit` has passed: the child's process group
// is asked to terminate, and killed when anything of it is still there after `grace`. The call
// returns shortly after the child itself has exited, even when a grandchild still holds its output
// open; what the group leaves behind after a time-out is killed. Output printed before the end is kept.
// `cancel`, when given, may end the run sooner.
TimedCompletion runTimed(const PreparedProcess& prepared, std::chrono::milliseconds limit,
                         std::chrono::milliseconds grace = std::chrono::seconds(2),
                         const Cancellation* cancel = nullptr);

// runTimed with `input`, when given, written to standard input, which is then closed (a child that
// exits before reading it is no error). Without a limit the run waits for the child's end, and only
// a cancel or the way out ends it sooner.
TimedCompletion runWithin(const PreparedProcess& prepared, const std::optional<QByteArray>& input,
                          std::optional<std::chrono::milliseconds> limit,
                          std::chrono::milliseconds grace = std::chrono::seconds(2),
                          const Cancellation* cancel = nullptr);

} // namespace Platform
