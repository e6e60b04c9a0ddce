#pragma once

#include "platform/PreparedProcess.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <stdexcept>

namespace Platform {

// A child that could not be started at all (missing program, missing working directory).
class LaunchError : public std::runtime_error {
public:
    explicit LaunchError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
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
    bool cutOff = false; // its keeper died first, and took the child with it (err says so first)

    // The status callers see: -1 when not started, 128 + signal when killed, else the exit code.
    int status() const;
    bool succeeded() const { return started && !crashed && exitCode == 0; }
};

// Runs the child to its end on the calling thread, draining both outputs as they come. With `input`,
// standard input is a pipe that receives the bytes and is then closed; a child that exits before
// reading it is not an error. Without a bound on purpose: callers choose commands that end. Like every
// runner it starts the child under a keeper (KeptChild): what it leaves running in its group is ended
// on the way out, or when the application dies.
Completed runToEnd(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);

// runToEnd with both outputs decoded as strict UTF-8; never throws.
Capture capture(const PreparedProcess& prepared, const std::optional<QByteArray>& input = std::nullopt);
// What a run left, as capture reports it: status -1 and the reason when it could not start.
Capture capturedFrom(const Completed& done);

// Every child the runners have started whose group is not empty yet is asked to terminate, with
// everything in its process group, and what is left of those groups after `graceMs` is killed. For
// the application's way out, so a hung tool never keeps it alive and nothing it started outlives it.
void endRunningChildren(int graceMs = 2000);

// Children started by the blocking runners (run to end, timed) whose groups are not empty yet.
int trackedChildCount();

} // namespace Platform
