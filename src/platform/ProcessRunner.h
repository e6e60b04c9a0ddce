#pragma once

#include "platform/PreparedProcess.h"

#include <QByteArray>
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

// Applies a prepared process to a QProcess that has not been started. Standard input becomes the null device;
// a runner that writes input switches it back to a pipe before starting.
void prepare(QProcess& process, const PreparedProcess& prepared);

// Runs the child to its end on the calling thread, draining both outputs as they come. With `input`,
// standard input is a pipe that receives the bytes and is then closed; a child that exits before
// reading it is not an error. Without a bound on purpose: callers choose commands that end.
Completed runToEnd(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);

// runToEnd with both outputs decoded as strict UTF-8; never throws.
Capture capture(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);

// Every child the runners have started and not yet reaped is asked to terminate, and killed if it
// is still there after `graceMs`. For the application's way out, so a hung tool never keeps it alive.
void endRunningChildren(int graceMs = 2000);

// Bookkeeping for runners that manage their own QProcess (timed, streaming).
void trackChild(qint64 pid, bool ownGroup);
void untrackChild(qint64 pid);
int trackedChildCount();

} // namespace Platform
