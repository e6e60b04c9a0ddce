// voskel-keeper: leads the process group of one child of Voskel's until nothing the child started is
// left in it.
//
//   voskel-keeper --news FD --lifeline FD [--directory DIR] -- PATH ARGV0 [ARG...]
//
// Voskel starts it with posix_spawn, so starting a child never copies the application's memory: as the
// leader of a new process group, with every signal blocked, the child's pipes as its standard streams
// and the child's environment as its own. It starts PATH in its group (in DIR), reports the start and
// the program's end on the news descriptor, reaps what the program leaves behind (it is a subreaper,
// so that becomes its child) and exits once its group holds nothing but itself. Its number names the
// group for as long as it runs, so the application never signals a group whose number may be another's.
//
// While the program runs, whatever it starts is part of its run, also what left the group (setsid):
// that is found among the keeper's descendants and gets the signals the group gets. When the
// application is gone, however it went (its lifeline reads end of file, or, when a thread of it is held
// in the kernel and keeps the lifeline open, it is seen on its way out), everything is asked to
// terminate and killed two seconds later; the application asks for the kill at once with
// Keeper::endEverything. An end asked during the run reaches everything under the keeper, and the
// keeper exits last. A program that ended on its own may have left something running on purpose out of
// its group (a virtual machine's daemon): that is no longer the keeper's; it is named to the application
// and goes to it (the subreaper of everything it starts) when the keeper exits, to run on. What stays in
// the group is still the keeper's to wait for and to end.
// The program itself is killed when the keeper dies, however it dies.
#include "keeper/KeeperNews.h"
#include "keeper/ProcessWatch.h"
#include "platform/Descriptors.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Platform::closeRange;
using Platform::writeWhole;

// How long a group whose application died may end on its own before it is killed.
constexpr std::int64_t graceMs = 2000;
// How often the keeper looks whether the application is on its way out.
constexpr std::int64_t watchMs = 500;
// While everything is being killed, how soon it looks again for what was forked meanwhile: the first
// time, and at most.
constexpr int firstKillAgainMs = 25;
constexpr int lastKillAgainMs = 1000;

struct Plan {
    const char* path = nullptr;
    char* const* argv = nullptr;
    const char* directory = nullptr; // null: the keeper's own
    int news = -1;
    int lifeline = -1;
};

[[noreturn]] void refuse(const char* why)
{
    // The application only sees that the keeper ended without news; this is for whoever runs it by hand.
    std::fprintf(stderr,
                 "voskel-keeper: %s\n"
                 "usage: voskel-keeper --news FD --lifeline FD [--directory DIR] -- PATH ARGV0 [ARG...]\n",
                 why);
    ::_exit(2);
}

// An inherited descriptor named on the command line, clear of the standard streams.
int descriptor(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value <= STDERR_FILENO || value > INT_MAX)
        return -1;
    return ::fcntl(int(value), F_GETFD) < 0 ? -1 : int(value);
}

void tell(int fd, std::int32_t news, std::int32_t value = 0, std::int32_t where = 0)
{
    const Keeper::Record record{news, value, where};
    writeWhole(fd, &record, sizeof record);
}

std::int64_t monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Closes every descriptor except those in `keep` (negative ones are skipped).
void closeAllBut(int* keep, int count)
{
    std::sort(keep, keep + count);
    unsigned next = 0;
    for (int i = 0; i < count; ++i) {
        if (keep[i] < 0 || unsigned(keep[i]) < next)
            continue;
        if (unsigned(keep[i]) > next)
            closeRange(next, unsigned(keep[i]) - 1);
        next = unsigned(keep[i]) + 1;
    }
    closeRange(next, UINT_MAX);
}

// A process as one reading of the process table saw it.
struct Seen {
    pid_t pid;
    pid_t parent;
    pid_t group;
    unsigned long long started;
};

std::vector<Seen> processTable()
{
    std::vector<Seen> all;
    Keeper::forEachProcess([&all](pid_t pid, const Keeper::ProcessState& seen) {
        all.push_back({pid, seen.parent, seen.group, seen.started});
    });
    return all;
}

// The keeper's descendants, by their parents in the process table. What left the group is among them,
// and whatever lost its parent became the keeper's child (it is a subreaper), so the walk from the
// keeper reaches everything it started. `outsideOnly`: only those that left the keeper's group.
std::vector<Seen> descendants(const std::vector<Seen>& all, bool outsideOnly)
{
    const pid_t self = ::getpid();
    std::vector<bool> taken(all.size(), false); // a table read while it changes may hold a loop
    std::vector<Seen> found;
    std::vector<pid_t> parents{self};
    while (!parents.empty()) {
        const pid_t parent = parents.back();
        parents.pop_back();
        for (size_t i = 0; i < all.size(); ++i) {
            if (taken[i] || all[i].parent != parent || all[i].pid == self)
                continue;
            taken[i] = true;
            parents.push_back(all[i].pid);
            if (!outsideOnly || all[i].group != self)
                found.push_back(all[i]);
        }
    }
    return found;
}

// Everything in the keeper's group but the keeper, wherever its parent is: an orphan of the group is
// the keeper's child by now, and nothing from outside the keeper's session can join the group.
std::vector<Seen> restOfGroup(const std::vector<Seen>& all)
{
    const pid_t self = ::getpid();
    std::vector<Seen> found;
    for (const Seen& one : all)
        if (one.group == self && one.pid != self)
            found.push_back(one);
    return found;
}

// Nothing but the keeper is in its group; not known without a readable table, which shows the keeper.
bool groupIsEmpty(const std::vector<Seen>& all)
{
    const bool readable =
        std::any_of(all.cbegin(), all.cend(), [](const Seen& one) { return one.pid == ::getpid(); });
    return readable && restOfGroup(all).empty();
}

// Names to the application, once each, what has left the group of a program that ended on its own:
// the keeper lets it go, and the application, which it then comes to, leaves it running too.
void tellReleased(int fd, const std::vector<Seen>& all, std::vector<Keeper::ProcessMark>& told)
{
    for (const Seen& one : descendants(all, true)) {
        const Keeper::ProcessMark mark{one.pid, one.started};
        if (std::find(told.cbegin(), told.cend(), mark) != told.cend())
            continue;
        told.push_back(mark);
        Keeper::Record record{Keeper::released, std::int32_t(one.pid), 0};
        record.startedAt = one.started;
        writeWhole(fd, &record, sizeof record);
    }
}

// Sends `sig` to the process the table showed, if its number still names it. A descendant may be
// reaped by its own parent between the reading and the signal and its number given to a stranger; a
// pidfd pins the process, which is then checked to be the one seen (started at the same moment, and,
// with `inGroup`, still in the keeper's group). Without pidfds, the number is signalled as it is.
void signalSeen(const Seen& one, int sig, bool inGroup)
{
    const int pinned = int(::syscall(SYS_pidfd_open, one.pid, 0));
    if (pinned < 0) {
        if (errno != ESRCH)
            ::kill(one.pid, sig);
        return;
    }
    const std::optional<Keeper::ProcessState> now = Keeper::readProcessState(one.pid);
    if (now && now->started == one.started && (!inGroup || now->group == ::getpid()))
        ::syscall(SYS_pidfd_send_signal, pinned, sig, nullptr, 0);
    ::close(pinned);
}

// A signal to the group misses what left it: it gets its own.
void signalOutsideGroup(int sig)
{
    for (const Seen& one : descendants(processTable(), true))
        signalSeen(one, sig, false);
}

// One by one, since a kill sent to the group would end the keeper with it: everything under the
// keeper, or (`groupOnly`) only the rest of its group.
void killUnder(bool groupOnly)
{
    const std::vector<Seen> all = processTable();
    for (const Seen& one : groupOnly ? restOfGroup(all) : descendants(all, false))
        signalSeen(one, SIGKILL, groupOnly);
}

struct StartFailure {
    std::int32_t where = Keeper::atProgram;
    std::int32_t error = 0;
};

// Starts the program in the keeper's group, in its directory, with the keeper's standard streams,
// default signal handling and nothing blocked; it is killed when the keeper dies. The keeper is small
// and has one thread, so a fork copies next to nothing and the program may set itself up before the exec.
bool spawnProgram(const Plan& plan, pid_t& program, StartFailure& failure)
{
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        failure.error = errno;
        return false;
    }
    const pid_t keeper = ::getpid();
    program = ::fork();
    if (program < 0) {
        failure.error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (program == 0) {
        ::close(report[0]);
        const auto fail = [&](std::int32_t where) {
            const StartFailure why{where, errno};
            writeWhole(report[1], &why, sizeof why);
            ::_exit(127);
        };
        // Set while every signal is still blocked: a keeper that dies from here on leaves the kill
        // pending until the mask is cleared below; one that died before has made another the parent.
        // The signal follows the thread that forked, which is the keeper's only one.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
        if (::getppid() != keeper)
            ::_exit(127);
        // Only what the program needs is kept before the folder is entered: on a mount that stalls, the
        // start may be held there for good, and must not hold the news open with it.
        int kept[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, report[1]};
        closeAllBut(kept, int(std::size(kept)));
        if (plan.directory && ::chdir(plan.directory) != 0)
            fail(Keeper::atDirectory);
        struct sigaction standard {};
        standard.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig)
            ::sigaction(sig, &standard, nullptr); // SIGKILL and SIGSTOP refuse, as they may
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(plan.path, plan.argv, environ);
        fail(Keeper::atProgram);
    }
    ::close(report[1]);
    StartFailure why;
    ssize_t got = 0;
    do
        got = ::read(report[0], &why, sizeof why); // end of file: the exec closed it
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got != ssize_t(sizeof why))
        return true;
    failure = why;
    int status = 0;
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
}

// The application, to watch for its end beyond the lifeline: the keeper's parent as it started. A
// thread of the application that ends hands its children to another thread of it, so the parent
// changes only once the application has gone altogether.
struct Application {
    pid_t parent = 0;
    std::optional<Keeper::ProcessMark> mark; // none without a readable process table

    static Application now()
    {
        Application application;
        application.parent = ::getppid();
        if (Keeper::readProcessState(::getpid())) {
            const std::optional<Keeper::ProcessState> seen = Keeper::readProcessState(application.parent);
            application.mark = Keeper::ProcessMark{application.parent, seen ? seen->started : 0};
        }
        return application;
    }

    bool leaving() const
    {
        if (::getppid() != parent)
            return true;
        return mark && Keeper::presenceOf(*mark) == Keeper::Presence::leaving;
    }
};

[[noreturn]] void keep(const Plan& plan)
{
    // The application made the group already; this one only matters to a keeper started by hand.
    ::setpgid(0, 0);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    // Signals to the group are for the program: the keeper stays until the group is empty. The
    // application starts it with them blocked already, so none can end it before this line.
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    const Application application = Application::now();
    sigset_t heard;
    sigemptyset(&heard);
    for (const int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGQUIT, Keeper::endEverything})
        sigaddset(&heard, sig);
    const int signals = ::signalfd(-1, &heard, SFD_CLOEXEC | SFD_NONBLOCK);
    // Whatever else the application left open is neither the keeper's business nor the program's.
    {
        int kept[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, plan.news, plan.lifeline, signals};
        closeAllBut(kept, int(std::size(kept)));
    }

    pid_t program = 0;
    StartFailure failure;
    if (!spawnProgram(plan, program, failure)) {
        tell(plan.news, Keeper::failed, failure.error, failure.where);
        ::_exit(0);
    }
    tell(plan.news, Keeper::started);
    // An end asked during the program's run reaches whatever it started, even once it has ended.
    bool askedToEnd = false;
    // A request to end that came before the program was in the group reached the keeper alone; only the
    // application knows the group so early.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        if (!sigismember(&pending, sig))
            continue;
        askedToEnd = true;
        ::kill(program, sig);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        const timespec now{};
        ::sigtimedwait(&one, nullptr, &now);
    }

    // The program's streams are the program's: the application sees their end when it has finished
    // with them, not when the keeper has.
    {
        int kept[] = {plan.news, plan.lifeline, signals};
        closeAllBut(kept, int(std::size(kept)));
        for (;;) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null < 0)
                break;
            if (null > STDERR_FILENO) {
                ::close(null);
                break;
            }
        }
    }

    const pid_t self = ::getpid();
    enum class Phase { keeping, ending, killing };
    Phase phase = Phase::keeping;
    std::int64_t killAt = 0;
    std::int64_t lookAt = monotonicMs() + watchMs;
    int killAgainMs = firstKillAgainMs;
    bool programEnded = false;
    // The program ended on its own: what left the group is let go, and only the group is the keeper's.
    bool lettingGo = false;
    std::vector<Keeper::ProcessMark> released;
    bool toldEnd = false;
    int status = 0;
    // Takes the signals that came: the request to kill everything, and those sent to the group, which
    // what left it gets too while the run is the keeper's.
    const auto hear = [&] {
        signalfd_siginfo info;
        while (::read(signals, &info, sizeof info) == ssize_t(sizeof info)) {
            const int sig = int(info.ssi_signo);
            const pid_t sender = pid_t(info.ssi_pid);
            if (sig == Keeper::endEverything) {
                askedToEnd = true;
                phase = Phase::killing;
            } else if (sig != SIGCHLD && sender != self && !lettingGo) {
                signalOutsideGroup(sig);
                // A cancel or a limit; a program that signals its own group asks nothing of the keeper.
                askedToEnd = askedToEnd || sender == application.parent;
            }
        }
    };
    const auto end = [&] {
        askedToEnd = true;
        ::kill(-self, SIGTERM);
        if (!lettingGo)
            signalOutsideGroup(SIGTERM);
        phase = Phase::ending;
        killAt = monotonicMs() + graceMs;
    };

    for (;;) {
        if (phase == Phase::killing)
            killUnder(lettingGo);
        pollfd fds[2];
        nfds_t count = 0;
        int signalsAt = -1;
        int lifeAt = -1;
        if (signals >= 0) {
            signalsAt = int(count);
            fds[count++] = {signals, POLLIN, 0};
        }
        if (phase == Phase::keeping) {
            lifeAt = int(count);
            fds[count++] = {plan.lifeline, POLLIN, 0};
        }
        std::int64_t timeout = 0;
        switch (phase) {
        case Phase::keeping:
            timeout = lookAt - monotonicMs();
            break;
        case Phase::ending:
            timeout = killAt - monotonicMs();
            break;
        case Phase::killing:
            // What was forked just before a kill is looked for again, less often the longer it takes.
            timeout = killAgainMs;
            killAgainMs = std::min(killAgainMs * 2, lastKillAgainMs);
            break;
        }
        if (signals < 0)
            timeout = std::min<std::int64_t>(timeout, 50); // without a signal descriptor: look in turns
        ::poll(fds, count, int(std::clamp<std::int64_t>(timeout, 0, INT_MAX)));

        const std::int64_t now = monotonicMs();
        if (phase == Phase::keeping && now >= lookAt) {
            lookAt = now + watchMs;
            if (application.leaving())
                end();
        }
        if (phase == Phase::keeping && lifeAt >= 0 && fds[lifeAt].revents != 0)
            end();
        if (phase == Phase::ending && now >= killAt)
            phase = Phase::killing;
        if (signalsAt >= 0)
            hear();
        for (;;) {
            int reaped = 0;
            const pid_t pid = ::waitpid(-1, &reaped, WNOHANG);
            if (pid > 0) {
                if (pid == program) {
                    programEnded = true;
                    status = reaped;
                }
                continue;
            }
            if (pid < 0 && errno == EINTR)
                continue;
            if (pid < 0) { // nothing of what the program started is left
                if (programEnded)
                    tell(plan.news, Keeper::exitedAlone, status);
                ::_exit(0);
            }
            break;
        }
        if (programEnded && !toldEnd) {
            // Whatever was sent before the end is told was sent during the run, as far as its sender
            // knew: a cancel the program died of may come in just after its end.
            if (signalsAt >= 0)
                hear();
            lettingGo = !askedToEnd;
        }
        // What runs on out of the group is the application's from here, named to it first; the group's
        // number is free once the application has reaped the keeper, and no process of the group is
        // left to be signalled by it.
        if (lettingGo) {
            const std::vector<Seen> all = processTable();
            tellReleased(plan.news, all, released);
            if (groupIsEmpty(all)) {
                tell(plan.news, Keeper::exitedAlone, status);
                ::_exit(0);
            }
        }
        if (programEnded && !toldEnd) {
            tell(plan.news, Keeper::exitedLeavingOthers, status);
            toldEnd = true;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Plan plan;
    int at = 1;
    for (; at < argc && std::strcmp(argv[at], "--") != 0; at += 2) {
        if (at + 1 >= argc)
            refuse("an option without its value");
        const char* option = argv[at];
        const char* value = argv[at + 1];
        if (std::strcmp(option, "--news") == 0)
            plan.news = descriptor(value);
        else if (std::strcmp(option, "--lifeline") == 0)
            plan.lifeline = descriptor(value);
        else if (std::strcmp(option, "--directory") == 0)
            plan.directory = value;
        else
            refuse("an option it does not know");
    }
    if (plan.news < 0 || plan.lifeline < 0 || plan.news == plan.lifeline)
        refuse("no open descriptor for the news or the lifeline");
    // After "--": the program's path and its whole argument list, the name it is called by first.
    if (argc - at < 3)
        refuse("no program to start");
    plan.path = argv[at + 1];
    plan.argv = argv + at + 2;
    keep(plan);
}
