#pragma once

#include "platform/ProcessRunner.h"
#include "platform/PreparedProcess.h"

#include <chrono>

namespace Platform {

// How a child run under a time limit ended, with what it printed on both outputs until then.
struct TimedCompletion {
    Completed run;
    bool timedOut = false; // the limit passed while the child still ran; it was ended

    bool succeeded() const { return !timedOut && run.succeeded(); }
};

// Runs `prepared` on the calling thread and ends it once `limit` has passed: the child's process group
// is asked to terminate, and killed when anything of it is still there after `grace`. The call
// returns shortly after the child itself has exited, even when a grandchild still holds its output
// open; what the group leaves behind after a time-out is killed. Output printed before the end is kept.
TimedCompletion runTimed(const PreparedProcess& prepared, std::chrono::milliseconds limit,
                         std::chrono::milliseconds grace = std::chrono::seconds(2));

} // namespace Platform
