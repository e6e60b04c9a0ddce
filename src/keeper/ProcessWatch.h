#pragma once

// Whether a process is still there to count on, read from the process table the way the keeper and a
// starting application need it. Plain C++ and system calls: the keeper links nothing of Qt.
//
// A process killed while one of its threads waits in the kernel (a folder on a mount that stalls) is
// not gone: its descriptors stay open and a pidfd stays quiet until that thread returns, which may be
// never. It is on its way out all the same, and that shows at once: its main thread has ended (a
// zombie), has begun to, or has the kill pending.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace Keeper {

// A process as it was seen once: its number and when it started (clock ticks since boot), so a later
// process given the same number is not taken for it.
struct ProcessMark {
    pid_t pid = 0;
    unsigned long long started = 0;

    bool operator==(const ProcessMark&) const = default;
};

// What /proc/<pid>/stat says of a process's main thread.
struct ProcessState {
    pid_t parent = 0;
    pid_t group = 0;
    pid_t session = 0;
    char state = '?';
    unsigned long flags = 0;
    unsigned long long started = 0;
    unsigned long long pending = 0; // the main thread's own pending signals (the first 31)
};

enum class Presence { here, leaving, unknown };

// None when there is no such process; `unreadable` is set when there may be one that cannot be read.
inline std::optional<ProcessState> readProcessState(pid_t pid, bool* unreadable = nullptr)
{
    if (unreadable)
        *unreadable = false;
    if (pid <= 0)
        return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (unreadable)
            *unreadable = errno != ENOENT && errno != ESRCH;
        return std::nullopt;
    }
    char text[1024];
    ssize_t got = 0;
    do
        got = ::read(fd, text, sizeof text - 1);
    while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0)
        return std::nullopt; // it went while being read
    text[got] = '\0';
    // The command name before the fields is in parentheses and may hold anything, ')' and blanks too.
    const char* at = std::strrchr(text, ')');
    if (!at || at[1] != ' ' || at[2] == '\0')
        return std::nullopt;
    ProcessState seen;
    seen.state = at[2];
    at += 3;
    // After the state: the fields 4 (parent) to 52, one blank before each.
    for (int field = 4; field <= 31 && *at == ' '; ++field) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(at + 1, &end, 10);
        if (end == at + 1)
            break;
        switch (field) {
        case 4:
            seen.parent = pid_t(value);
            break;
        case 5:
            seen.group = pid_t(value);
            break;
        case 6:
            seen.session = pid_t(value);
            break;
        case 9:
            seen.flags = static_cast<unsigned long>(value);
            break;
        case 22:
            seen.started = value;
            break;
        case 31:
            seen.pending = value;
            break;
        default:
            break;
        }
        at = end;
    }
    return seen;
}

// Calls `each(pid, state)` for every process the table shows, as far as it can be read.
template <typename Each>
void forEachProcess(Each each)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid > INT_MAX)
            continue;
        if (const std::optional<ProcessState> seen = readProcessState(pid_t(pid)))
            each(pid_t(pid), *seen);
    }
    ::closedir(proc);
}

// Its main thread has ended (a zombie: the application's main thread never ends before the rest), is
// ending, or has a kill pending, which no thread can refuse: the process is certain to go.
inline bool isLeaving(const ProcessState& seen)
{
    constexpr unsigned long exiting = 0x4; // PF_EXITING
    return seen.state == 'Z' || seen.state == 'X' || seen.state == 'x' || (seen.flags & exiting) != 0 ||
           (seen.pending & (1ULL << (SIGKILL - 1))) != 0;
}

// Gone, or certain to go; the number naming another process now counts as gone. Unknown when it
// cannot be read (another user's, where /proc hides those).
inline Presence presenceOf(const ProcessMark& mark)
{
    bool unreadable = false;
    const std::optional<ProcessState> seen = readProcessState(mark.pid, &unreadable);
    if (!seen)
        return unreadable ? Presence::unknown : Presence::leaving;
    if (seen->started != mark.started || isLeaving(*seen))
        return Presence::leaving;
    return Presence::here;
}

} // namespace Keeper
