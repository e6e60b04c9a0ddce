#pragma once

#include "platform/ProcessSpec.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace Platform {

// How a child run under a time limit ended. Only standard output is kept: error output goes to the
// null device, so an unread pipe can never stall the child.
struct TimedCompletion {
    bool started = false;
    QString launchError;
    bool timedOut = false; // the limit passed while the child still ran; it was ended
    bool crashed = false;  // ended by a signal; exitCode then holds the signal number
    int exitCode = 0;
    QByteArray out;

    bool succeeded() const { return started && !timedOut && !crashed && exitCode == 0; }
};

// Runs `spec` on the calling thread and ends it once `limit` has passed: the child's process group
// is asked to terminate, and killed when anything of it is still there after `grace`. The call
// returns shortly after the child itself has exited, even when a grandchild still holds its output
// open; what the group leaves behind after a time-out is killed. Output printed before the end is kept.
TimedCompletion runTimed(const ProcessSpec& spec, std::chrono::milliseconds limit,
                         std::chrono::milliseconds grace = std::chrono::seconds(2));

} // namespace Platform
