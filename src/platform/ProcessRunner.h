#pragma once

#include "platform/PreparedProcess.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>
#include <stdexcept>

class QProcess;

namespace Platform {

// A child that could not be started at all (missing program, missing working directory).
class LaunchError : public std::runtime_error {
public:
    explicit LaunchError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// How one child ran, start to end, with its raw output.
struct Completed {
    bool started = false;
    QString launchError;
    bool crashed = false; // ended by a signal; exitCode then holds the signal number
    int exitCode = 0;
    QByteArray out;
    QByteArray err;

    // The status callers see: -1 when not started, 128 + signal when killed, else the exit code.
    int status() const;
    bool succeeded() const { return started && !crashed && exitCode == 0; }
};

// Takes what an exited child left: both outputs and how it ended. A crash with an unknown signal is
// recorded as SIGKILL, so it can never read as success.
void collectExit(QProcess& process, Completed& done);

// Applies a prepared process to a QProcess that has not been started: the child will lead a process
// group of its own, and its standard input is the null device (a runner that writes input switches it
// back to a pipe before starting).
void prepare(QProcess& process, const PreparedProcess& prepared);

// Starts a prepared QProcess and records it for endRunningChildren. To the way out both happen at
// once: endRunningChildren waits for starts under way, so a child that has begun to run is always
// found and ended, however late the starting thread gets to record it. Waits up to `waitMs` (-1: no
// bound) for the start; false, with nothing recorded, when the child could not be started. A runner
// that starts children must start them here and call untrackChild once it has reaped them.
bool startTracked(QProcess& process, QIODevice::OpenMode mode, int waitMs = -1);

// Runs the child to its end on the calling thread, draining both outputs as they come. With `input`,
// standard input is a pipe that receives the bytes and is then closed; a child that exits before
// reading it is not an error. Without a bound on purpose: callers choose commands that end.
Completed runToEnd(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);

// runToEnd with both outputs decoded as strict UTF-8; never throws.
Capture capture(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);
// What a run left, as capture reports it: status -1 and the reason when it could not start.
Capture capturedFrom(const Completed& done);

// Every child the runners have started and not yet reaped is asked to terminate, with everything
// in its process group, and what is left of those groups after `graceMs` is killed. For the
// application's way out, so a hung tool never keeps it alive and nothing it started outlives it.
void endRunningChildren(int graceMs = 2000);

// Bookkeeping for runners that manage their own QProcess (timed, streaming): see startTracked.
void untrackChild(qint64 pid);
// Sends `signal` to the process group a started child leads: the child and everything it started.
void signalGroup(qint64 pid, int signal);
int trackedChildCount();

} // namespace Platform
