// voskel-keeper: leads the process group of one child of Voskel's until nothing of that group is left.
//
//   voskel-keeper --news FD --lifeline FD [--directory DIR] -- PATH ARGV0 [ARG...]
//
// Voskel starts it with posix_spawn, so starting a child never copies the application's memory: as the
// leader of a new process group, with every signal blocked, the child's pipes as its standard streams
// and the child's environment as its own. It starts PATH in its group (in DIR), reports the start and
// the program's end on the news descriptor, reaps what the program leaves behind (it is a subreaper,
// so that becomes its child) and exits once the group is empty. Its number names the group for as long
// as it runs, so the application never signals a group whose number may be another's. When the
// lifeline reads end of file the application is gone, however it went: the keeper then ends the group,
// asked to terminate first and killed two seconds later.
#include "keeper/KeeperNews.h"

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
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How long a group whose application died may end on its own before it is killed.
constexpr std::int64_t graceMs = 2000;

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

void writeWhole(int fd, const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, bytes, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        bytes += put;
        size -= size_t(put);
    }
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

void closeRange(unsigned first, unsigned last)
{
    if (first > last)
        return;
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, first, last, 0) == 0)
        return;
#endif
    rlimit limit{};
    unsigned top = 65536;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < top)
        top = unsigned(limit.rlim_cur);
    for (unsigned fd = first; fd <= last && fd < top; ++fd)
        ::close(int(fd));
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

// Starts the program with the keeper's standard streams, default signal handling and nothing blocked.
int spawnProgram(const Plan& plan, pid_t& program)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (plan.directory)
        posix_spawn_file_actions_addchdir_np(&actions, plan.directory);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
    const int failure = ::posix_spawn(&program, plan.path, &actions, &attributes, plan.argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return failure;
}

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
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    const int children = ::signalfd(-1, &childSignal, SFD_CLOEXEC | SFD_NONBLOCK);
    // Whatever else the application left open is neither the keeper's business nor the program's.
    {
        int kept[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, plan.news, plan.lifeline, children};
        closeAllBut(kept, int(std::size(kept)));
    }

    pid_t program = 0;
    const int failure = spawnProgram(plan, program);
    if (failure != 0) {
        // A working directory that cannot be entered fails the same way as a missing program.
        std::int32_t where = Keeper::atProgram;
        int error = failure;
        if (plan.directory) {
            const int directory = ::open(plan.directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (directory < 0) {
                where = Keeper::atDirectory;
                error = errno;
            } else {
                ::close(directory);
            }
        }
        tell(plan.news, Keeper::failed, error, where);
        ::_exit(0);
    }
    tell(plan.news, Keeper::started);
    // A request to end that came before the program was in the group reached the keeper alone.
    sigset_t pending;
    sigemptyset(&pending);
    ::sigpending(&pending);
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
        if (!sigismember(&pending, sig))
            continue;
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
        int kept[] = {plan.news, plan.lifeline, children};
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

    bool programEnded = false;
    bool toldEnd = false;
    int status = 0;
    std::int64_t killAt = -1;

    for (;;) {
        pollfd fds[2];
        nfds_t count = 0;
        int childrenAt = -1;
        int lifeAt = -1;
        if (children >= 0) {
            childrenAt = int(count);
            fds[count++] = {children, POLLIN, 0};
        }
        if (killAt < 0) {
            lifeAt = int(count);
            fds[count++] = {plan.lifeline, POLLIN, 0};
        }
        int timeout = children >= 0 ? -1 : 50; // without a signal descriptor: look in turns
        if (killAt >= 0) {
            const std::int64_t left = std::max<std::int64_t>(killAt - monotonicMs(), 0);
            timeout = timeout < 0 ? int(left) : std::min(timeout, int(left));
        }
        const int ready = ::poll(fds, count, timeout);
        if (killAt >= 0 && monotonicMs() >= killAt)
            ::kill(-::getpid(), SIGKILL); // the keeper goes with its group
        if (ready < 0)
            continue;

        if (lifeAt >= 0 && fds[lifeAt].revents != 0) {
            ::kill(-::getpid(), SIGTERM);
            killAt = monotonicMs() + graceMs;
        }
        if (childrenAt >= 0 && fds[childrenAt].revents == 0)
            continue;
        signalfd_siginfo info;
        while (children >= 0 && ::read(children, &info, sizeof info) > 0) {
        }
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
