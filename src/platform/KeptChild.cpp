#include "platform/KeptChild.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QReadWriteLock>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Platform {

namespace {

// What a keeper tells the application, one record per write, so each arrives whole.
enum News : qint32 { started = 1, failed = 2, exitedLeavingOthers = 3, exitedAlone = 4 };
enum FailedAt : qint32 { atDirectory = 1, atProgram = 2 };
struct Record {
    qint32 news = 0;
    qint32 value = 0;
    qint32 where = 0;
};

// How long a keeper whose application died lets its group end on its own before killing it.
constexpr qint64 keeperGraceMs = 2000;
// A keeper whose program has ended with nothing left behind exits at once; its runner waits for that.
constexpr int aloneExitWaitMs = 2000;
// Without news, a waiting thread looks again this often: another thread may have read the news.
constexpr int lookAgainMs = 200;

// The application's end of every keeper's lifeline. Nobody ever writes to it and it is never closed,
// so a keeper reads end of file exactly when the application is gone, however it went.
struct Lifeline {
    int read = -1;
    int write = -1;
};

const Lifeline& lifeline()
{
    static const Lifeline line = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return Lifeline{};
        return Lifeline{fds[0], fds[1]};
    }();
    return line;
}

// Held shared from a fork until the child is listed, and exclusively while the way out takes its
// list: a child that runs is then always on it.
QReadWriteLock& startLock()
{
    static QReadWriteLock lock;
    return lock;
}

QMutex listMutex;
QHash<pid_t, std::shared_ptr<KeptChild>>& list()
{
    static auto* children = new QHash<pid_t, std::shared_ptr<KeptChild>>; // reachable until the end
    return *children;
}

QMutex watcherMutex;
std::function<void(pid_t, int)> signalWatcher;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The same descriptor moved to 3 or above, where handing the program its standard streams cannot
// overwrite it (the application may run with 0, 1 or 2 closed).
int clearOfStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

QString launchFailure(const QString& program, const QString& directory, int where, int error)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (where == atDirectory) {
        if (error == ENOENT || error == ENOTDIR)
            return QStringLiteral("The working directory \u201c%1\u201d does not exist.").arg(directory);
        return QStringLiteral("The working directory \u201c%1\u201d cannot be entered: %2")
            .arg(directory, reason);
    }
    if (error == ENOENT)
        return QStringLiteral("The program \u201c%1\u201d was not found.").arg(program);
    if (error == EACCES)
        return QStringLiteral("The program \u201c%1\u201d cannot be run: permission denied.").arg(program);
    return QStringLiteral("%1: %2").arg(program, reason);
}

// ---- What runs in the forked processes: system calls only, nothing that allocates or locks. ----

// Everything the keeper and the program need, made before the fork.
struct Plan {
    const char* path = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr; // null: the application's own
    const char* directory = nullptr;
    // Standard input, output and error for the program, the working directory, nothing else open,
    // default signal handling, nothing blocked.
    const posix_spawn_file_actions_t* actions = nullptr;
    const posix_spawnattr_t* attributes = nullptr;
    int news = -1;
    int lifeRead = -1;
    int lifeWrite = -1;
};

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

void tell(int fd, qint32 news, qint32 value = 0, qint32 where = 0)
{
    const Record record{news, value, where};
    writeWhole(fd, &record, sizeof record);
}

qint64 monotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
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

// Closes every descriptor except those in `keep`, then puts the null device where 0, 1 and 2 are free.
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

// The keeper: leads the group, starts the program in it, reports its start and its end, reaps what is
// handed to it (it is a subreaper, so what the program leaves behind becomes its child), and goes
// when nothing is left. When the lifeline closes it ends the group: terminate, then kill.
[[noreturn]] void keep(const Plan& plan)
{
    ::close(plan.lifeWrite);
    ::setpgid(0, 0);
    // Straight to the kernel: a sanitizer's wrapper of prctl takes a lock that another thread of the
    // application may have held at the fork, and would wait for it for good.
    ::syscall(SYS_prctl, PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    ::syscall(SYS_prctl, PR_SET_NAME, "voskel-keeper", 0, 0, 0);
    // Signals to the group are for the program: the keeper stays until the group is empty.
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    int children = ::signalfd(-1, &childSignal, SFD_CLOEXEC | SFD_NONBLOCK);

    // Without a copy of the keeper's memory; the call returns once the program runs or has failed.
    pid_t program = 0;
    const int failure = ::posix_spawn(&program, plan.path, plan.actions, plan.attributes, plan.argv,
                                      plan.envp ? plan.envp : environ);
    if (failure != 0) {
        // A working directory that cannot be entered fails the same way as a missing program.
        qint32 where = atProgram;
        int error = failure;
        if (plan.directory) {
            const int directory = ::open(plan.directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (directory < 0) {
                where = atDirectory;
                error = errno;
            } else {
                ::close(directory);
            }
        }
        tell(plan.news, failed, error, where);
        ::_exit(0);
    }
    tell(plan.news, started);
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

    int kept[] = {plan.news, plan.lifeRead, children};
    closeAllBut(kept, int(std::size(kept)));

    bool programEnded = false;
    bool toldEnd = false;
    int status = 0;
    qint64 killAt = -1;

    for (;;) {
        pollfd fds[2];
        nfds_t count = 0;
        int childrenAt = -1;
        int lifeAt = -1;
        if (children >= 0) {
            childrenAt = int(count);
            fds[count++] = {children, POLLIN, 0};
        }
        if (killAt < 0 && plan.lifeRead >= 0) {
            lifeAt = int(count);
            fds[count++] = {plan.lifeRead, POLLIN, 0};
        }
        int timeout = children >= 0 ? -1 : 50; // without a signal descriptor: look in turns
        if (killAt >= 0) {
            const qint64 left = std::max<qint64>(killAt - monotonicMs(), 0);
            timeout = timeout < 0 ? int(left) : std::min(timeout, int(left));
        }
        const int ready = ::poll(fds, count, timeout);
        if (killAt >= 0 && monotonicMs() >= killAt)
            ::kill(-::getpid(), SIGKILL); // the keeper goes with its group
        if (ready < 0)
            continue;

        if (lifeAt >= 0 && fds[lifeAt].revents != 0) {
            ::kill(-::getpid(), SIGTERM);
            killAt = monotonicMs() + keeperGraceMs;
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
                    tell(plan.news, exitedAlone, status);
                ::_exit(0);
            }
            break;
        }
        if (programEnded && !toldEnd) {
            tell(plan.news, exitedLeavingOthers, status);
            toldEnd = true;
        }
    }
}

std::vector<QByteArray> encoded(const QStringList& texts)
{
    std::vector<QByteArray> bytes;
    bytes.reserve(size_t(texts.size()));
    for (const QString& text : texts)
        bytes.push_back(text.toLocal8Bit());
    return bytes;
}

std::vector<char*> pointers(std::vector<QByteArray>& bytes)
{
    std::vector<char*> out;
    out.reserve(bytes.size() + 1);
    for (QByteArray& item : bytes)
        out.push_back(item.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::shared_ptr<KeptChild> KeptChild::start(const PreparedProcess& prepared, const Options& options,
                                            QString& failure)
{
    keptChildren(0); // reaps the released ones that have gone meanwhile

    const QString directory = prepared.workingDirectory.value_or(QString());
    QString program = prepared.program;
    if (!program.contains(u'/'))
        program = program.isEmpty() ? QString() : QStandardPaths::findExecutable(program);
    if (program.isEmpty()) {
        failure = launchFailure(prepared.program, directory, atProgram, ENOENT);
        return nullptr;
    }
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> argumentBytes = encoded(prepared.arguments);
    argumentBytes.insert(argumentBytes.begin(), QFile::encodeName(prepared.program));
    std::vector<char*> argv = pointers(argumentBytes);
    std::vector<QByteArray> environmentBytes;
    std::vector<char*> envp;
    if (!prepared.environment.inheritsFromParent()) {
        environmentBytes = encoded(prepared.environment.toStringList());
        envp = pointers(environmentBytes);
    }
    const QByteArray directoryBytes = QFile::encodeName(directory);

    // The child's ends first in each pair, ours second.
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int news[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int* pair : {in, out, err, news})
            for (int i = 0; i < 2; ++i)
                closeFd(pair[i]);
    };
    bool made = true;
    if (options.input) {
        int fds[2];
        made = ::pipe2(fds, O_CLOEXEC) == 0;
        in[0] = made ? fds[0] : -1;
        in[1] = made ? fds[1] : -1;
    } else {
        in[0] = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        made = in[0] >= 0;
    }
    for (int* pair : {out, err, news}) {
        if (!made || (pair == err && options.mergeOutput))
            continue;
        int fds[2];
        made = ::pipe2(fds, O_CLOEXEC) == 0;
        if (made) {
            pair[0] = fds[1]; // the child writes
            pair[1] = fds[0];
        }
    }
    if (!made) {
        failure =
            QStringLiteral("No pipe could be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        closeAll();
        return nullptr;
    }
    for (int* pair : {in, out, err, news}) {
        for (int i = 0; i < 2; ++i)
            pair[i] = clearOfStandardStreams(pair[i]);
        if (pair[1] >= 0)
            setNonBlocking(pair[1]);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[0], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, options.mergeOutput ? out[0] : err[0], STDERR_FILENO);
    if (prepared.workingDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, directoryBytes.constData());
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    // Whatever this process ignores (a broken pipe, for one) is the program's business again.
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    const Lifeline& line = lifeline();
    Plan plan;
    plan.path = path.constData();
    plan.argv = argv.data();
    plan.envp = envp.empty() ? nullptr : envp.data();
    plan.directory = prepared.workingDirectory ? directoryBytes.constData() : nullptr;
    plan.actions = &actions;
    plan.attributes = &attributes;
    plan.news = news[0];
    plan.lifeRead = line.read;
    plan.lifeWrite = line.write;
    const auto forgetPlan = [&] {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    };

    auto child = std::shared_ptr<KeptChild>(new KeptChild);
    {
        QReadLocker starting(&startLock());
        const pid_t pid = ::fork();
        if (pid == 0)
            keep(plan);
        const int forkError = errno;
        forgetPlan();
        for (int* pair : {in, out, err, news})
            closeFd(pair[0]);
        if (pid < 0) {
            failure = launchFailure(prepared.program, directory, atProgram, forkError);
            closeAll();
            return nullptr;
        }
        // So the group is there as soon as the child is listed, whichever of the two runs first.
        ::setpgid(pid, pid);
        child->m_keeper = pid;
        child->m_in = in[1];
        child->m_out = out[1];
        child->m_err = err[1];
        child->m_status = news[1];
        child->m_streaming = options.streaming;
        child->m_program = prepared.program;
        child->m_directory = directory;
        QMutexLocker listing(&listMutex);
        list().insert(pid, child);
    }

    QDeadlineTimer wait(options.startWaitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                : QDeadlineTimer(options.startWaitMs));
    for (;;) {
        child->update();
        {
            QMutexLocker lock(&child->m_mutex);
            if (child->m_startError) {
                failure =
                    launchFailure(prepared.program, directory, child->m_failedWhere, *child->m_startError);
                child->m_released = true;
                break;
            }
            if (child->m_started || child->m_programStatus || child->m_reaped)
                return child;
        }
        if (wait.hasExpired())
            return child;
        pollfd fd{child->m_status, POLLIN, 0};
        ::poll(&fd, 1, int(std::clamp<qint64>(wait.remainingTime(), 0, lookAgainMs)));
    }
    // The keeper goes as soon as it has reaped the program that did not start.
    child->closeInput();
    child->closeOutput();
    child->closeError();
    child->settle(aloneExitWaitMs);
    return nullptr;
}

KeptChild::~KeptChild()
{
    closeFd(m_in);
    closeFd(m_out);
    closeFd(m_err);
    closeFd(m_status);
}

void KeptChild::closeInput()
{
    closeFd(m_in);
}

void KeptChild::closeOutput()
{
    closeFd(m_out);
}

void KeptChild::closeError()
{
    closeFd(m_err);
}

void KeptChild::readNews()
{
    char buffer[512];
    while (!m_keeperEnded) {
        const ssize_t got = ::read(m_status, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break; // nothing more for now
        if (got == 0) {
            m_keeperEnded = true;
            break;
        }
        m_pending.append(buffer, got);
    }
    while (m_pending.size() >= qsizetype(sizeof(Record))) {
        Record record;
        std::memcpy(&record, m_pending.constData(), sizeof record);
        m_pending.remove(0, sizeof record);
        switch (record.news) {
        case started:
            m_started = true;
            break;
        case failed:
            m_startError = record.value;
            m_failedWhere = record.where;
            break;
        case exitedAlone:
            m_alone = true;
            [[fallthrough]];
        case exitedLeavingOthers:
            m_started = true;
            m_programStatus = record.value;
            break;
        default:
            break;
        }
    }
}

bool KeptChild::reapLocked()
{
    if (m_reaped)
        return true;
    if (!m_keeperEnded)
        return false;
    // Its news closed as it exited: the wait is over in a moment.
    int status = 0;
    pid_t got = 0;
    do
        got = ::waitpid(m_keeper, &status, 0);
    while (got < 0 && errno == EINTR);
    m_reaped = true;
    m_keeperStatus = got == m_keeper ? status : 0;
    return true;
}

void KeptChild::update()
{
    bool reaped = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_reaped)
            return;
        readNews();
        reaped = reapLocked();
    }
    if (reaped) {
        // Once reaped, its number may already be another keeper's: only this entry goes.
        QMutexLocker listing(&listMutex);
        const auto entry = list().constFind(m_keeper);
        if (entry != list().cend() && entry->get() == this)
            list().erase(entry);
    }
}

bool KeptChild::exited() const
{
    QMutexLocker lock(&m_mutex);
    return m_programStatus.has_value() || m_reaped;
}

bool KeptChild::leftNothing() const
{
    QMutexLocker lock(&m_mutex);
    return m_alone;
}

int KeptChild::waitStatus() const
{
    QMutexLocker lock(&m_mutex);
    if (m_programStatus)
        return *m_programStatus;
    // Gone without saying how the program ended: killed with its keeper, or never started.
    if (WIFSIGNALED(m_keeperStatus))
        return m_keeperStatus;
    return 127 << 8;
}

std::optional<QString> KeptChild::lateFailure() const
{
    QMutexLocker lock(&m_mutex);
    if (!m_startError)
        return std::nullopt;
    return launchFailure(m_program, m_directory, m_failedWhere, *m_startError);
}

bool KeptChild::gone() const
{
    QMutexLocker lock(&m_mutex);
    return m_reaped;
}

bool KeptChild::settle(int waitMs)
{
    QDeadlineTimer wait(std::max(waitMs, 0));
    for (;;) {
        update();
        if (gone())
            return true;
        if (wait.hasExpired())
            return false;
        pollfd fd{m_status, POLLIN, 0};
        ::poll(&fd, 1, int(std::clamp<qint64>(wait.remainingTime(), 0, lookAgainMs)));
    }
}

void KeptChild::signal(int sig)
{
    std::function<void(pid_t, int)> watcher;
    {
        QMutexLocker lock(&watcherMutex);
        watcher = signalWatcher;
    }
    QMutexLocker lock(&m_mutex);
    if (m_reaped)
        return;
    if (watcher)
        watcher(m_keeper, sig);
    ::kill(-m_keeper, sig);
}

void KeptChild::release()
{
    closeInput();
    closeOutput();
    closeError();
    {
        QMutexLocker lock(&m_mutex);
        m_released = true;
    }
    settle(leftNothing() ? aloneExitWaitMs : 0);
}

QList<std::shared_ptr<KeptChild>> keptChildren(int waitForStartsMs)
{
    const bool startsHeld = startLock().tryLockForWrite(std::max(waitForStartsMs, 0));
    QList<std::shared_ptr<KeptChild>> all;
    {
        QMutexLocker listing(&listMutex);
        all = list().values();
    }
    if (startsHeld)
        startLock().unlock();
    QList<std::shared_ptr<KeptChild>> left;
    for (const std::shared_ptr<KeptChild>& child : std::as_const(all)) {
        bool released = false;
        {
            QMutexLocker lock(&child->m_mutex);
            released = child->m_released;
        }
        if (released)
            child->update();
        if (!child->gone())
            left << child;
    }
    return left;
}

int keptChildCount(bool streaming)
{
    const QList<std::shared_ptr<KeptChild>> left = keptChildren(0);
    return int(std::count_if(left.cbegin(), left.cend(),
                             [streaming](const auto& child) { return child->m_streaming == streaming; }));
}

void setGroupSignalWatcher(std::function<void(pid_t group, int signal)> watcher)
{
    QMutexLocker lock(&watcherMutex);
    signalWatcher = std::move(watcher);
}

} // namespace Platform
