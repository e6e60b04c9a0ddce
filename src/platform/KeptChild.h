#pragma once

#include "platform/KeeperProgram.h"
#include "platform/PreparedProcess.h"

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace Platform {

// A child started under a keeper: a small program of ours (keeperProgram()), started without a copy of
// the application's memory, that leads the child's process group and stays there until nothing the
// child started is left in it. So:
// - the group's number stays ours while anything of it can be signalled (the keeper is reaped only
//   once it has gone, and nobody signals a group after its keeper was reaped);
// - when the application dies, however it dies, every keeper sees its lifeline close and ends its
//   group: asked to terminate, then killed two seconds later. The thread that started the child may
//   end meanwhile without consequence.
// While the child runs, what it started out of the group (setsid) is ended with the group; once it
// has ended on its own, that is left to run (a daemon it started on purpose), and the keeper goes as
// soon as its group is empty.
//
// Shared between the runner that started it and a process-wide list that keeps it until its keeper
// has been reaped, so the way out (endRunningChildren) reaches whatever is left.
class KeptChild {
public:
    struct Options {
        bool input = false;       // standard input is a pipe (inputFd); else the null device
        bool mergeOutput = false; // standard error goes where standard output goes
        bool streaming = false;   // counted by streamingChildCount rather than trackedChildCount
        int startWaitMs = -1;     // how long start waits for the program to be running; -1: no bound
    };

    // Starts `prepared`. Null, with why in `failure`, when the program could not be started (nor its
    // keeper: then nothing is started at all); nothing is left running then. A start that outlasts
    // `startWaitMs` counts as started.
    static std::shared_ptr<KeptChild> start(const PreparedProcess& prepared, const Options& options,
                                            QString& failure);

    ~KeptChild();
    KeptChild(const KeptChild&) = delete;
    KeptChild& operator=(const KeptChild&) = delete;

    // The group's number: the keeper's process id.
    pid_t group() const { return m_keeper; }

    // Our ends of the pipes, non-blocking; -1 once closed. For the runner that started the child only.
    int inputFd() const { return m_in; }
    int outputFd() const { return m_out; }
    int errorFd() const { return m_err; }
    void closeInput();
    void closeOutput();
    void closeError();
    // Readable when the keeper has news: the program's start or exit, or its own end.
    int statusFd() const { return m_status; }

    // Reads the keeper's news, and reaps it once it has gone. Any thread.
    void update();
    // The program has ended (or the keeper went without saying how).
    bool exited() const;
    // How it ended, as waitpid reports it; meaningful once exited.
    int waitStatus() const;
    // The program ended and nothing is left in its group: the keeper goes at once.
    bool leftNothing() const;
    // The program (or its keeper) failed to start after `startWaitMs`: why, else none.
    std::optional<QString> lateFailure() const;
    // The keeper died before the program's end was known (killed, say): the group was killed with it,
    // and this says the program was cut off. None otherwise. Meaningful once gone.
    std::optional<QString> cutOff() const;
    // The keeper has been reaped: nothing of the group is left, and its number is no longer ours.
    bool gone() const;
    // Waits up to `waitMs` for the keeper to go and reaps it; whether it has gone.
    bool settle(int waitMs);
    // Sends `signal` to the whole group, unless the keeper has been reaped. SIGKILL has the keeper kill
    // everything under it, what left the group included unless the program had ended on its own, and
    // go; a keeper that does not has its group killed by the next update after a moment.
    void signal(int signal);

    // The runner is done with it: the pipes close; what the program left in its group runs on, and the
    // list reaps the keeper once that has ended too (or the way out ends it).
    void release();

private:
    KeptChild() = default;
    void readNews();
    bool reapLocked();
    void killGroupLocked();
    std::optional<QString> failureLocked() const;

    pid_t m_keeper = 0;
    unsigned long long m_keeperStarted = 0; // clock ticks since boot
    int m_in = -1;
    int m_out = -1;
    int m_err = -1;
    int m_status = -1;
    bool m_streaming = false;
    QString m_program;
    QString m_command; // as the texts name it
    QString m_directory;
    QString m_keeperPath;

    mutable QMutex m_mutex;
    QByteArray m_pending;
    bool m_started = false;
    std::optional<int> m_startError; // errno, with m_failedWhere
    int m_failedWhere = 0;
    std::optional<int> m_programStatus;
    bool m_alone = false;
    bool m_keeperEnded = false;   // its end of the news was closed
    bool m_keeperRefused = false; // it exited without a word about the program
    bool m_reaped = false;
    int m_keeperStatus = 0;
    bool m_released = false;
    QElapsedTimer m_endAsked; // valid once the keeper was asked to end everything
    bool m_forced = false;    // its group was killed for want of an answer
    bool m_cutOff = false;

    friend QList<std::shared_ptr<KeptChild>> keptChildren(int waitForStartsMs);
    friend int keptChildCount(bool streaming);
};

// A keeper asked to end everything has done so within moments; one that has not (stopped, or not a
// keeper of this version) has its group killed at the first update after this long.
inline constexpr int keeperAnswerMs = 500;

// Every kept child whose keeper has not been reaped, after reaping the released ones that have gone.
// Waits up to `waitForStartsMs` for starts under way, so a child that has begun to run is on the list
// however late its starting thread gets to list it; after that the list is taken as it stands.
QList<std::shared_ptr<KeptChild>> keptChildren(int waitForStartsMs = 0);
// How many of those were started for streaming (or not).
int keptChildCount(bool streaming);
// The groups of every kept child not reaped yet, as listed: nothing is read or reaped.
QList<pid_t> keptGroups();
// Reads the news of every kept child whose keeper has ended, and reaps it: what a keeper that died left
// behind is then known to be its leftovers before anything else looks at it.
void updateEndedKeepers();

// Test seam: called just before any runner signals a group, with the group and the signal, on the
// signalling thread. Null turns it off.
void setGroupSignalWatcher(std::function<void(pid_t group, int signal)> watcher);

} // namespace Platform
