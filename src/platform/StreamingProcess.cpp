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
#include <cstring>
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

// One started child as the way out sees it. The leader is reaped only by whoever delivers its end (or
// by the way out), so until then its number, and its group's, cannot be handed to another process:
// signalling the group is safe even when the leader has already exited.
struct StreamedChild {
    pid_t pid = 0;
    bool exited = false; // seen without being reaped
    bool reaped = false;
    int status = 0;
    bool bySignal = false;
};

namespace {

QMutex tableMutex;
QHash<pid_t, std::shared_ptr<StreamedChild>> table;

constexpr qsizetype readBudget = 64 * 1024; // per wake-up, so the event loop keeps turning
constexpr int exitPollMs = 20;              // without a process descriptor

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

void reap(StreamedChild& child)
{
    QMutexLocker lock(&tableMutex);
    if (seeExit(child))
        reapLocked(child);
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

// A child whose window let it go while it ran. It keeps the output drained (a child blocked on a full
// pipe could not react), and either ends the group, terminate first and kill after the grace, or lets
// the child run to its end. Lives on the thread of the runner it came from and deletes itself.
class Reaper final : public QObject {
public:
    Reaper(std::shared_ptr<StreamedChild> child, int readFd, int exitFd, StreamingProcess::WhenDropped when)
        : m_child(std::move(child)), m_readFd(readFd), m_exitFd(exitFd),
          m_ending(when == StreamingProcess::WhenDropped::terminate)
    {
        living().insert(this);
        if (m_readFd >= 0) {
            m_read = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
            connect(m_read, &QSocketNotifier::activated, this, [this] { drain(); });
        }
        if (m_exitFd >= 0) {
            m_exit = new QSocketNotifier(m_exitFd, QSocketNotifier::Read, this);
            connect(m_exit, &QSocketNotifier::activated, this, [this] { exitSeen(); });
        } else {
            m_poll = new QTimer(this);
            connect(m_poll, &QTimer::timeout, this, [this] { exitSeen(); });
            m_poll->start(exitPollMs);
        }
        if (m_ending) {
            killGroup(*m_child, SIGTERM);
            QTimer::singleShot(reapGraceMs, this, [this] {
                killGroup(*m_child, SIGKILL);
                m_killed = true;
                exitSeen();
            });
        }
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
        if (m_poll)
            m_poll->stop();
        // While ending, the exited leader is held until the kill, so its group keeps its number.
        if (m_ending && !m_killed)
            return;
        m_done = true;
        reap(*m_child);
        deleteLater();
    }

    std::shared_ptr<StreamedChild> m_child;
    int m_readFd;
    int m_exitFd;
    bool m_ending;
    bool m_killed = false;
    bool m_done = false;
    QSocketNotifier* m_read = nullptr;
    QSocketNotifier* m_exit = nullptr;
    QTimer* m_poll = nullptr;
};

} // namespace

StreamingProcess::StreamingProcess(QObject* parent) : QObject(parent) {}

StreamingProcess::~StreamingProcess()
{
    delete m_readNotifier;
    m_readNotifier = nullptr;
    stopWatchingExit();
    if (isRunning()) {
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

void StreamingProcess::interrupt()
{
    if (isRunning())
        killGroup(*m_child, SIGINT);
}

void StreamingProcess::terminate()
{
    if (isRunning())
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
    reap(*m_child);
    m_status = m_child->status;
    m_bySignal = m_child->bySignal;
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
    QMutexLocker lock(&tableMutex);
    bool running = false;
    for (const auto& child : std::as_const(table))
        running = !seeExit(*child) || running;
    return running;
}

void killStreamingChildren()
{
    QMutexLocker lock(&tableMutex);
    for (const auto& child : std::as_const(table))
        ::kill(-child->pid, SIGKILL);
    // A killed child is gone within moments; one stuck in the kernel is left for the system.
    QDeadlineTimer settle(1000);
    const auto children = table.values();
    for (const auto& child : children) {
        while (!seeExit(*child) && !settle.hasExpired())
            QThread::msleep(5);
        if (child->exited)
            reapLocked(*child);
    }
}

} // namespace Platform
