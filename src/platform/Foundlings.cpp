#include "platform/Foundlings.h"

#include "platform/KeeperProgram.h"
#include "platform/KeptChild.h"

#include "keeper/ProcessWatch.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Platform {

namespace {

using Keeper::ProcessMark;
using Keeper::ProcessState;

// How often what came back is looked at; while a dead keeper's leftovers are being ended, how soon
// after that (first, and at most), and for how long after the keeper's death.
constexpr auto lookEvery = std::chrono::seconds(1);
constexpr auto followFirst = std::chrono::milliseconds(25);
constexpr auto followAtMost = std::chrono::milliseconds(400);
constexpr auto followFor = std::chrono::seconds(2);

struct Mark {
    pid_t pid = 0;
    unsigned long long started = 0;

    auto operator<=>(const Mark&) const = default;
};

struct Seen {
    Mark mark;
    ProcessState state;
};

bool ended(const ProcessState& state)
{
    return state.state == 'Z' || state.state == 'X' || state.state == 'x';
}

// Every process of the table by its number.
std::map<pid_t, ProcessState> processTable()
{
    std::map<pid_t, ProcessState> all;
    Keeper::forEachProcess([&all](pid_t pid, const ProcessState& seen) { all.emplace(pid, seen); });
    return all;
}

// The whole of a small file under /proc; empty when it cannot be read.
std::string procFile(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, size_t(got));
    }
    ::close(fd);
    return text;
}

// This process's children, from each of its threads' lists; from the whole table where the kernel
// keeps no such lists. Plain system calls: the look goes on while the process ends.
std::vector<Seen> ownChildren()
{
    std::vector<Seen> children;
    const pid_t self = ::getpid();
    bool listed = false;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string path = std::string("/proc/self/task/") + entry->d_name + "/children";
            if (::access(path.c_str(), R_OK) != 0)
                continue;
            listed = true;
            const std::string list = procFile(path);
            for (const char* at = list.c_str(); *at != '\0';) {
                char* end = nullptr;
                const long pid = std::strtol(at, &end, 10);
                if (end == at)
                    break;
                at = end;
                if (pid <= 0 || pid > INT_MAX)
                    continue;
                const std::optional<ProcessState> state = Keeper::readProcessState(pid_t(pid));
                if (state && state->parent == self)
                    children.push_back({{pid_t(pid), state->started}, *state});
            }
        }
        ::closedir(tasks);
    }
    if (!listed)
        for (const auto& [pid, state] : processTable())
            if (state.parent == self)
                children.push_back({{pid, state.started}, state});
    return children;
}

// The program a process runs, as the kernel names its file; empty when that cannot be read.
std::string programOf(const std::string& exeLink)
{
    char buffer[PATH_MAX];
    const ssize_t got = ::readlink(exeLink.c_str(), buffer, sizeof buffer);
    return got > 0 && size_t(got) < sizeof buffer ? std::string(buffer, size_t(got)) : std::string();
}

std::string programOf(pid_t pid)
{
    return programOf("/proc/" + std::to_string(pid) + "/exe");
}

// Sends SIGKILL to the process if its number still names it.
void kill(const Mark& mark)
{
    const int pinned = int(::syscall(SYS_pidfd_open, mark.pid, 0));
    if (pinned < 0) {
        if (errno != ESRCH) {
            const std::optional<ProcessState> now = Keeper::readProcessState(mark.pid);
            if (now && now->started == mark.started)
                ::kill(mark.pid, SIGKILL);
        }
        return;
    }
    const std::optional<ProcessState> now = Keeper::readProcessState(mark.pid);
    if (now && now->started == mark.started)
        ::syscall(SYS_pidfd_send_signal, pinned, SIGKILL, nullptr, 0);
    ::close(pinned);
}

class Keeping {
public:
    static Keeping& the()
    {
        static auto* keeping = new Keeping; // its thread may still look when the statics go
        return *keeping;
    }

    bool start()
    {
        std::lock_guard lock(m_mutex);
        if (m_on)
            return true;
        if (::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0)
            return false;
        m_on = true;
        m_session = ::getsid(0);
        m_programs = {programOf(std::string("/proc/self/exe"))};
        const QByteArray keeper = QFile::encodeName(keeperProgram());
        char resolved[PATH_MAX];
        if (::realpath(keeper.constData(), resolved))
            m_programs.push_back(resolved);
        std::thread([this] { watch(); }).detach();
        return true;
    }

    void letRunOn(const Mark& mark)
    {
        std::lock_guard lock(m_mutex);
        if (!m_on)
            return;
        m_runOn.insert(mark);
        if (const std::optional<ProcessState> state = Keeper::readProcessState(mark.pid);
            state && state->started == mark.started && state->session != m_session)
            m_runOnSessions.insert(state->session);
    }

    void setOwn(pid_t pid, bool own)
    {
        std::lock_guard lock(m_mutex);
        if (own)
            m_ownPids.insert(pid);
        else
            m_ownPids.erase(pid);
    }

    void leftBy(const Mark& keeper)
    {
        const QList<pid_t> keepers = keptGroups();
        {
            std::lock_guard lock(m_mutex);
            if (!m_on)
                return;
            ++m_deaths;
            m_claims.push_back({keeper.started, std::chrono::steady_clock::now() + followFor});
            claimLeftovers(keepers);
        }
        m_wake.notify_one();
    }

private:
    struct Claim {
        unsigned long long keeperStarted;
        std::chrono::steady_clock::time_point until;
    };

    // Whether the child is never this side's to end or reap.
    bool untouchable(const Seen& child, const QList<pid_t>& keepers)
    {
        if (keepers.contains(child.mark.pid) || m_ownPids.count(child.mark.pid) != 0 ||
            m_ownMarks.count(child.mark) != 0)
            return true;
        if (ended(child.state))
            return false;
        const std::string program = programOf(child.mark.pid);
        if (!program.empty() &&
            std::find(m_programs.cbegin(), m_programs.cend(), program) != m_programs.cend()) {
            m_ownMarks.insert(child.mark);
            return true;
        }
        return false;
    }

    bool runsOn(const Seen& one) const
    {
        return m_runOn.count(one.mark) != 0 ||
               (one.state.session != m_session && m_runOnSessions.count(one.state.session) != 0);
    }

    // What came back since it was last looked at, from a keeper that started before it, and whatever
    // is under that or under what was taken before: killed, and kept to be reaped. Under the lock.
    void claimLeftovers(const QList<pid_t>& keepers)
    {
        const auto now = std::chrono::steady_clock::now();
        m_claims.erase(std::remove_if(m_claims.begin(), m_claims.end(),
                                      [&](const Claim& claim) { return claim.until < now; }),
                       m_claims.end());
        if (m_claims.empty())
            return;
        unsigned long long since = ULLONG_MAX;
        for (const Claim& claim : m_claims)
            since = std::min(since, claim.keeperStarted);
        const pid_t self = ::getpid();
        // Each round finds what was forked or came back before the kills of the last one landed.
        for (int round = 0; round < 8; ++round) {
            const std::map<pid_t, ProcessState> all = processTable();
            std::set<pid_t> taken;
            for (const Mark& mark : m_claimed)
                if (const auto it = all.find(mark.pid);
                    it != all.cend() && it->second.started == mark.started)
                    taken.insert(mark.pid);
            std::vector<Mark> found;
            for (const auto& [pid, state] : all) {
                const Seen one{{pid, state.started}, state};
                if (m_claimed.count(one.mark) != 0)
                    continue;
                bool leftover = false;
                if (state.parent == self)
                    leftover = state.started >= since && m_seen.count(one.mark) == 0 && !runsOn(one) &&
                               !untouchable(one, keepers);
                else
                    leftover = taken.count(state.parent) != 0;
                if (leftover)
                    found.push_back(one.mark);
            }
            // What is found under a new one is found in the next round.
            for (const Mark& mark : found) {
                m_claimed.insert(mark);
                kill(mark);
            }
            if (found.empty())
                break;
        }
    }

    // One look at what came back: what a dead keeper left is taken first (a keeper that died while
    // the children were read is taken, and they are read again), then the ended are reaped and the
    // rest remembered as seen, so that a later keeper's death does not take them for its leftovers.
    void look()
    {
        for (int attempt = 0; attempt < 3; ++attempt) {
            quint64 deaths = 0;
            {
                std::lock_guard lock(m_mutex);
                deaths = m_deaths;
            }
            const std::vector<Seen> children = ownChildren();
            updateEndedKeepers();
            const QList<pid_t> keepers = keptGroups();
            std::lock_guard lock(m_mutex);
            if (m_deaths != deaths && attempt < 2)
                continue;
            claimLeftovers(keepers);
            judge(children, keepers);
            return;
        }
    }

    void judge(const std::vector<Seen>& children, const QList<pid_t>& keepers)
    {
        std::set<Mark> present;
        for (const Seen& child : children) {
            present.insert(child.mark);
            if (untouchable(child, keepers))
                continue;
            if (!ended(child.state)) {
                if (m_claimed.count(child.mark) != 0)
                    kill(child.mark);
                else
                    m_seen.insert(child.mark);
                continue;
            }
            // Ended: reaped when it is surely no one else's to wait for. What is left is nobody's
            // but this process's once it has stayed unreaped for a whole look.
            if (m_claimed.count(child.mark) == 0 && !runsOn(child) && m_endedOnce.count(child.mark) == 0) {
                m_endedOnce.insert(child.mark);
                continue;
            }
            int status = 0;
            ::waitpid(child.mark.pid, &status, WNOHANG);
        }
        const auto forget = [&](std::set<Mark>& marks) {
            for (auto it = marks.begin(); it != marks.end();)
                it = present.count(*it) != 0 ? std::next(it) : marks.erase(it);
        };
        forget(m_seen);
        forget(m_endedOnce);
        forget(m_ownMarks);
        // What was taken or let go may still run elsewhere in the tree: forgotten once it has gone.
        const auto gone = [](std::set<Mark>& marks) {
            for (auto it = marks.begin(); it != marks.end();) {
                const std::optional<ProcessState> now = Keeper::readProcessState(it->pid);
                it = now && now->started == it->started ? std::next(it) : marks.erase(it);
            }
        };
        gone(m_claimed);
        gone(m_runOn);
        std::set<pid_t> sessions;
        for (const Seen& child : children)
            if (m_runOnSessions.count(child.state.session) != 0)
                sessions.insert(child.state.session);
        for (const Mark& mark : m_runOn)
            if (const std::optional<ProcessState> now = Keeper::readProcessState(mark.pid);
                now && m_runOnSessions.count(now->session) != 0)
                sessions.insert(now->session);
        m_runOnSessions = std::move(sessions);
    }

    [[noreturn]] void watch()
    {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(lookEvery);
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                const quint64 deaths = m_deaths;
                m_wake.wait_for(lock, wait, [&] { return m_deaths != deaths; });
            }
            look();
            std::lock_guard lock(m_mutex);
            const bool following = !m_claims.empty();
            if (!following)
                wait = std::chrono::duration_cast<std::chrono::milliseconds>(lookEvery);
            else if (wait >= lookEvery)
                wait = followFirst;
            else
                wait = std::min(wait * 2, followAtMost);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_on = false;
    pid_t m_session = 0;
    std::vector<std::string> m_programs;
    quint64 m_deaths = 0;
    std::vector<Claim> m_claims;
    std::set<Mark> m_claimed; // a dead keeper's leftovers: killed, to be reaped
    std::set<Mark> m_runOn;   // let go by a keeper, or started to outlive the application
    std::set<pid_t> m_runOnSessions;
    std::set<Mark> m_seen;      // came back earlier, from no dead keeper
    std::set<Mark> m_endedOnce; // ended and left unreaped at the last look
    std::set<Mark> m_ownMarks;  // running the application's program or its keeper's
    std::set<pid_t> m_ownPids;
};

} // namespace

void becomeSubreaper()
{
    Keeping::the().start();
}

void letRunOn(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return;
    if (const std::optional<ProcessState> state = Keeper::readProcessState(pid_t(pid)))
        Keeping::the().letRunOn({pid_t(pid), state->started});
}

void noteOwnChild(qint64 pid)
{
    if (pid > 0 && pid <= INT_MAX)
        Keeping::the().setOwn(pid_t(pid), true);
}

void forgetOwnChild(qint64 pid)
{
    if (pid > 0 && pid <= INT_MAX)
        Keeping::the().setOwn(pid_t(pid), false);
}

namespace Foundlings {

void released(const Keeper::ProcessMark& process)
{
    Keeping::the().letRunOn({process.pid, process.started});
}

void leftBy(const Keeper::ProcessMark& keeper)
{
    Keeping::the().leftBy({keeper.pid, keeper.started});
}

} // namespace Foundlings

} // namespace Platform
