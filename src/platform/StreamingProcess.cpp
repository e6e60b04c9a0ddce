#include "platform/StreamingProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Platform {

// One started child and its process group. The leader is reaped only once nothing else is left in
// its group (or by the way out): until then the leader's number, and so the group's, cannot be handed
// to another process, and signalling the group reaches only what the child started.
struct StreamedChild {
    pid_t pid = 0;
    bool exited = false; // seen without being reaped
    bool reaped = false; // the group is empty and its number no longer ours
    int status = 0;
    bool bySignal = false;
};

namespace {

QMutex tableMutex;
QHash<pid_t, std::shared_ptr<StreamedChild>> table;

constexpr qsizetype readBudget = 64 * 1024; // per wake-up, so the event loop keeps turning
constexpr int exitPollMs = 20;              // without a process descriptor
// How often a group is looked at once its child has ended while something it started is still in
// it: often while the group is being ended, seldom while it is left to run (each look reads the whole
// process table).
constexpr int endingPollMs = 100;
constexpr int lingeringPollMs = 1000;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Whether the leader has exited, seen without reaping it. Called with the table locked.
bool seeExit(StreamedChild& child)
{
    if (child.exited || child.reaped)
        return true;
    siginfo_t info{};
    if (::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        // Not our child any more (reaped behind our back): there is nothing left to wait for.
        if (errno == ECHILD) {
            child.exited = true;
            child.status = -1;
        }
        return child.exited;
    }
    if (info.si_pid != child.pid)
        return false;
    child.exited = true;
    child.bySignal = info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
    child.status = info.si_status;
    return true;
}

// Called with the table locked; only after seeExit said yes, so it never blocks.
void reapLocked(StreamedChild& child)
{
    if (child.reaped)
        return;
    ::waitpid(child.pid, nullptr, WNOHANG);
    child.reaped = true;
    table.remove(child.pid);
}

bool observe(StreamedChild& child)
{
    QMutexLocker lock(&tableMutex);
    return seeExit(child);
}

// Whether a process other than the leader still belongs to group `group`. A signal of 0 to the group
// cannot tell, as the unreaped leader counts as a member, so the process table is read. Members that
// have exited and wait for their parent count as gone. Without a readable process table nothing is
// known to be left.
bool othersInGroup(pid_t group)
{
    DIR* processes = ::opendir("/proc");
    if (!processes)
        return false;
    bool found = false;
    char path[64];
    char stat[512];
    while (!found) {
        const dirent* entry = ::readdir(processes);
        if (!entry)
            break;
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == group)
            continue;
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const ssize_t got = ::read(fd, stat, sizeof stat - 1);
        ::close(fd);
        if (got <= 0)
            continue;
        stat[got] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything, so the fields follow its last ")".
        const char* close = std::strrchr(stat, ')');
        char state = 0;
        long ppid = 0;
        long pgrp = 0;
        if (close && std::sscanf(close + 1, " %c %ld %ld", &state, &ppid, &pgrp) == 3)
            found = pgrp == group && state != 'Z' && state != 'X';
    }
    ::closedir(processes);
    return found;
}

// Reaps the leader once it has exited and nothing else is left in its group; true when the group is
// gone (now or before). The process table is read without the lock held.
bool settle(StreamedChild& child)
{
    {
        QMutexLocker lock(&tableMutex);
        if (child.reaped)
            return true;
        if (!seeExit(child))
            return false;
    }
    if (othersInGroup(child.pid))
        return false;
    QMutexLocker lock(&tableMutex);
    reapLocked(child);
    return true;
}

bool isGone(const StreamedChild& child)
{
    QMutexLocker lock(&tableMutex);
    return child.reaped;
}

void killGroup(StreamedChild& child, int sig)
{
    QMutexLocker lock(&tableMutex);
    if (!child.reaped)
        ::kill(-child.pid, sig);
}

int openProcessFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(int(fd), F_SETFD, FD_CLOEXEC);
        return int(fd);
    }
#else
    (void)pid;
#endif
    return -1;
}

// Reads what is there without waiting; appends to `into`. False at end of file.
bool readSome(int fd, QByteArray& into, qsizetype budget)
{
    char buffer[16 * 1024];
    while (budget > 0) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, got);
            budget -= got;
            continue;
        }
        if (got == 0)
            return false;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? true : false;
    }
    return true;
}

QString launchFailure(const QString& program, int error)
{
    if (error == ENOENT)
        return QStringLiteral("The program \u201c%1\u201d was not found.").arg(program);
    if (error == EACCES)
        return QStringLiteral("The program \u201c%1\u201d cannot be run: permission denied.").arg(program);
    return QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(std::strerror(error)));
}

// A child whose window let it go while its group was still there. It keeps the output drained (a
// child blocked on a full pipe could not react), and either ends the group, terminate first and kill
// after the grace, or lets it run to its end; either way it reaps the leader once the group is empty.
// Lives on the thread of the runner it came from and deletes itself.
class Reaper final : public QObject {
public:
    Reaper(std::shared_ptr<StreamedChild> child, int readFd, int exitFd, StreamingProcess::WhenDropped when)
        : m_child(std::move(child)), m_readFd(readFd), m_exitFd(exitFd),
          m_groupPollMs(when == StreamingProcess::WhenDropped::terminate ? endingPollMs : lingeringPollMs)
    {
        living().insert(this);
        if (m_readFd >= 0) {
            m_read = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
            connect(m_read, &QSocketNotifier::activated, this, [this] { drain(); });
        }
        if (m_exitFd >= 0) {
            m_exit = new QSocketNotifier(m_exitFd, QSocketNotifier::Read, this);
            connect(m_exit, &QSocketNotifier::activated, this, [this] { exitSeen(); });
        }
        // Without a process descriptor, and once the leader has gone, the group is looked at in turns.
        m_poll = new QTimer(this);
        connect(m_poll, &QTimer::timeout, this, [this] { exitSeen(); });
        if (m_exitFd < 0)
            m_poll->start(exitPollMs);
        if (when == StreamingProcess::WhenDropped::terminate) {
            killGroup(*m_child, SIGTERM);
            QTimer::singleShot(reapGraceMs, this, [this] {
                killGroup(*m_child, SIGKILL);
                exitSeen();
            });
        }
        exitSeen();
    }

    ~Reaper() override
    {
        delete m_read;
        delete m_exit;
        closeFd(m_readFd);
        closeFd(m_exitFd);
        living().erase(this);
    }

private:
    // Kept reachable until they are done, also at exit (never destroyed, so never a leak).
    static std::set<Reaper*>& living()
    {
        static auto* reapers = new std::set<Reaper*>;
        return *reapers;
    }

    void drain()
    {
        QByteArray discarded;
        if (!readSome(m_readFd, discarded, readBudget)) {
            delete m_read;
            m_read = nullptr;
            closeFd(m_readFd);
        }
    }

    void exitSeen()
    {
        if (m_done || !observe(*m_child))
            return;
        // A process descriptor stays readable once the child has exited: stop listening to it.
        if (m_exit)
            m_exit->setEnabled(false);
        if (!settle(*m_child)) {
            if (!m_poll->isActive() || m_poll->interval() != m_groupPollMs)
                m_poll->start(m_groupPollMs);
            return;
        }
        m_done = true;
        m_poll->stop();
        deleteLater();
    }

    std::shared_ptr<StreamedChild> m_child;
    int m_readFd;
    int m_exitFd;
    int m_groupPollMs;
    bool m_done = false;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_exit = nullptr;
    QTimer* m_poll = nullptr;
};

} // namespace

ChildGroup::ChildGroup(std::shared_ptr<StreamedChild> child) : m_child(std::move(child))
{
}

bool ChildGroup::gone() const
{
    return !m_child || isGone(*m_child);
}

StreamingProcess::StreamingProcess(QObject* parent) : QObject(parent) {}

StreamingProcess::~StreamingProcess()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    stopWatchingExit();
    delete m_groupPoll;
    m_groupPoll = nullptr;
    // The child may have ended while what it started still runs in its group: that goes too.
    if (m_child && !isGone(*m_child)) {
        new Reaper(m_child, m_readFd, m_exitFd, m_whenDropped);
        m_readFd = -1;
        m_exitFd = -1;
        return;
    }
    closeFd(m_readFd);
    closeFd(m_exitFd);
}

std::optional<QString> StreamingProcess::start(const PreparedProcess& prepared)
{
    if (m_child)
        return QStringLiteral("This runner has already started a program.");
    if (prepared.workingDirectory && !QFileInfo(*prepared.workingDirectory).isDir())
        return QStringLiteral("The working directory \u201c%1\u201d does not exist.").arg(*prepared.workingDirectory);

    std::vector<QByteArray> argumentBytes;
    argumentBytes.push_back(QFile::encodeName(prepared.program));
    for (const QString& argument : prepared.arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& bytes : argumentBytes)
        argv.push_back(bytes.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> environmentBytes;
    std::vector<char*> envp;
    char** environment = environ;
    if (!prepared.environment.inheritsFromParent()) {
        for (const QString& entry : prepared.environment.toStringList())
            environmentBytes.push_back(entry.toLocal8Bit());
        for (QByteArray& bytes : environmentBytes)
            envp.push_back(bytes.data());
        envp.push_back(nullptr);
        environment = envp.data();
    }

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return QStringLiteral("No pipe could be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Only our end waits for nothing; the child's end blocks as a pipe normally does.
    ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    QByteArray directory;
    if (prepared.workingDirectory) {
        directory = QFile::encodeName(*prepared.workingDirectory);
        posix_spawn_file_actions_addchdir_np(&actions, directory.constData());
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    // Whatever this process ignores (a broken pipe, for one) is the child's business again.
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             short(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    pid_t pid = 0;
    int failure = 0;
    {
        // The way out takes its list under the same lock, so a child is on it as soon as it exists.
        QMutexLocker lock(&tableMutex);
        failure = ::posix_spawnp(&pid, argv.front(), &actions, &attributes, argv.data(), environment);
        if (failure == 0) {
            m_child = std::make_shared<StreamedChild>();
            m_child->pid = pid;
            table.insert(pid, m_child);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeFds[1]);
    if (failure != 0) {
        ::close(pipeFds[0]);
        return launchFailure(prepared.program, failure);
    }

    m_readFd = pipeFds[0];
    m_readNotifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readAvailable(readBudget); });
    m_exitFd = openProcessFd(pid);
    if (m_exitFd >= 0) {
        m_exitNotifier = new QSocketNotifier(m_exitFd, QSocketNotifier::Read, this);
        connect(m_exitNotifier, &QSocketNotifier::activated, this, &StreamingProcess::checkExit);
    } else {
        m_exitPoll = new QTimer(this);
        connect(m_exitPoll, &QTimer::timeout, this, &StreamingProcess::checkExit);
        m_exitPoll->start(exitPollMs);
    }
    return std::nullopt;
}

bool StreamingProcess::isRunning() const
{
    return m_child && !m_status;
}

qint64 StreamingProcess::processId() const
{
    return m_child ? qint64(m_child->pid) : 0;
}

ChildGroup StreamingProcess::group() const
{
    return ChildGroup(m_child);
}

void StreamingProcess::interrupt()
{
    if (m_child)
        killGroup(*m_child, SIGINT);
}

void StreamingProcess::terminate()
{
    if (m_child)
        killGroup(*m_child, SIGTERM);
}

void StreamingProcess::readAvailable(qsizetype budget)
{
    if (m_readFd < 0)
        return;
    QByteArray bytes;
    const bool open = readSome(m_readFd, bytes, budget);
    QString text = m_decoder.decode(bytes);
    if (!open)
        text += m_decoder.finish();
    QPointer<StreamingProcess> self(this);
    if (!text.isEmpty())
        emit output(text);
    if (!self || open)
        return;
    closeOutput();
    emit outputEnded();
}

void StreamingProcess::checkExit()
{
    if (!m_child || m_status || !observe(*m_child))
        return;
    stopWatchingExit();
    closeFd(m_exitFd);
    // What the child wrote before it ended comes first, so the end follows its last words.
    QPointer<StreamingProcess> self(this);
    readAvailable(16 * readBudget);
    if (!self)
        return;
    m_status = m_child->status;
    m_bySignal = m_child->bySignal;
    // Whatever the child left running keeps the group until it ends too, or until the group is ended.
    if (!settle(*m_child)) {
        m_groupPoll = new QTimer(this);
        connect(m_groupPoll, &QTimer::timeout, this, [this] {
            if (!settle(*m_child))
                return;
            delete m_groupPoll;
            m_groupPoll = nullptr;
        });
        m_groupPoll->start(lingeringPollMs);
    }
    emit finished(*m_status);
}

void StreamingProcess::closeOutput()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    closeFd(m_readFd);
}

void StreamingProcess::stopWatchingExit()
{
    delete m_exitNotifier;
    m_exitNotifier = nullptr;
    delete m_exitPoll;
    m_exitPoll = nullptr;
}

int streamingChildCount()
{
    QMutexLocker lock(&tableMutex);
    return int(table.size());
}

void signalStreamingChildren(int signal)
{
    QMutexLocker lock(&tableMutex);
    for (const auto& child : std::as_const(table))
        ::kill(-child->pid, signal);
}

bool streamingChildrenRunning()
{
    QList<std::shared_ptr<StreamedChild>> children;
    {
        QMutexLocker lock(&tableMutex);
        children = table.values();
    }
    bool running = false;
    for (const auto& child : std::as_const(children))
        running = !settle(*child) || running;
    return running;
}

void killStreamingChildren()
{
    QMutexLocker lock(&tableMutex);
    for (const auto& child : std::as_const(table))
        ::kill(-child->pid, SIGKILL);
    // A killed child is gone within moments; one stuck in the kernel is left for the system.
    QDeadlineTimer deadline(1000);
    const auto children = table.values();
    for (const auto& child : children) {
        while (!seeExit(*child) && !deadline.hasExpired())
            QThread::msleep(5);
        if (child->exited)
            reapLocked(*child);
    }
}

} // namespace Platform
