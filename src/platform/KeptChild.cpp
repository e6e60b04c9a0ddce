#include "platform/KeptChild.h"

#include "platform/Descriptors.h"
#include "platform/Foundlings.h"
#include "platform/KeeperProgram.h"

#include "keeper/KeeperNews.h"
#include "keeper/ProcessWatch.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QReadWriteLock>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Platform {

namespace {

using Keeper::Record;

// A keeper whose program has ended with nothing left behind exits at once; its runner waits for that.
constexpr int aloneExitWaitMs = 2000;
// Without news, a waiting thread looks again this often: another thread may have read the news.
constexpr int lookAgainMs = 200;

// The application's end of every keeper's lifeline. Nobody ever writes to it and it is never closed,
// so a keeper reads end of file exactly when the application is gone, however it went. Made by the
// first start that can make it; without it no child starts.
struct Lifeline {
    int read = -1;
    int write = -1;
};

QMutex lifelineMutex;
Lifeline lifeline()
{
    static Lifeline line;
    QMutexLocker lock(&lifelineMutex);
    if (line.read >= 0)
        return line;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return line;
    const int read = clearOfStandardStreams(fds[0]);
    const int write = clearOfStandardStreams(fds[1]);
    if (read >= 0 && write >= 0)
        line = {read, write};
    else if (read >= 0)
        ::close(read);
    else if (write >= 0)
        ::close(write);
    return line;
}

// Held shared from a keeper's start until the child is listed, and exclusively while the way out takes
// its list: a child that runs is then always on it.
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
        failure = KeeperTexts::launchFailure(prepared.program, directory, Keeper::atProgram, ENOENT);
        return nullptr;
    }
    const Lifeline line = lifeline();
    if (line.read < 0) {
        failure =
            QStringLiteral("No pipe could be made: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }

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

    // The keeper's command line names what it inherits and ends with the program's own argument list;
    // the program's environment is the keeper's.
    const QString keeper = keeperProgram();
    const QString command = KeeperTexts::commandName(prepared.program, prepared.arguments);
    std::vector<QByteArray> keeperArguments = {QFile::encodeName(keeper), "--news",
                                               QByteArray::number(news[0]), "--lifeline",
                                               QByteArray::number(line.read)};
    if (prepared.workingDirectory)
        keeperArguments.insert(keeperArguments.end(), {"--directory", QFile::encodeName(directory)});
    keeperArguments.insert(keeperArguments.end(),
                           {"--", QFile::encodeName(program), QFile::encodeName(prepared.program)});
    for (const QByteArray& argument : encoded(prepared.arguments))
        keeperArguments.push_back(argument);
    std::vector<char*> argv = pointers(keeperArguments);
    std::vector<QByteArray> environmentBytes;
    std::vector<char*> envp;
    if (!prepared.environment.inheritsFromParent()) {
        environmentBytes = encoded(prepared.environment.toStringList());
        envp = pointers(environmentBytes);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[0], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, options.mergeOutput ? out[0] : err[0], STDERR_FILENO);
    // Onto themselves: kept open across the start, where every other descriptor of ours closes.
    posix_spawn_file_actions_adddup2(&actions, news[0], news[0]);
    posix_spawn_file_actions_adddup2(&actions, line.read, line.read);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Leading a group of its own from the start, so the group is there as soon as the child is listed;
    // with every signal blocked, so a request to end the group can never end the keeper before its
    // program; with default handling, so what this process ignores (a broken pipe) is the program's
    // business again.
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             short(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));

    auto child = std::shared_ptr<KeptChild>(new KeptChild);
    {
        QReadLocker starting(&startLock());
        // Like vfork: the application's memory is shared until the keeper's program replaces it, never
        // copied.
        pid_t pid = 0;
        const QByteArray keeperPath = QFile::encodeName(keeper);
        const int spawnError = ::posix_spawn(&pid, keeperPath.constData(), &actions, &attributes, argv.data(),
                                             envp.empty() ? environ : envp.data());
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        for (int* pair : {in, out, err, news})
            closeFd(pair[0]);
        if (spawnError != 0) {
            // Too long an argument list is the program's, however the keeper's few add to it.
            failure = spawnError == E2BIG ? KeeperTexts::launchFailure(prepared.program, directory,
                                                                       Keeper::atProgram, spawnError)
                                          : KeeperTexts::keeperFailure(command, keeper, spawnError);
            closeAll();
            return nullptr;
        }
        child->m_keeper = pid;
        // Not yet reaped, so the number is still this keeper's.
        if (const std::optional<Keeper::ProcessState> state = Keeper::readProcessState(pid))
            child->m_keeperStarted = state->started;
        child->m_in = in[1];
        child->m_out = out[1];
        child->m_err = err[1];
        child->m_status = news[1];
        child->m_streaming = options.streaming;
        child->m_program = prepared.program;
        child->m_command = command;
        child->m_directory = directory;
        child->m_keeperPath = keeper;
        QMutexLocker listing(&listMutex);
        list().insert(pid, child);
    }

    QDeadlineTimer wait(options.startWaitMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                : QDeadlineTimer(options.startWaitMs));
    for (;;) {
        child->update();
        {
            QMutexLocker lock(&child->m_mutex);
            if (const std::optional<QString> why = child->failureLocked()) {
                failure = *why;
                child->m_released = true;
                break;
            }
            if (child->m_started || child->m_programStatus || child->m_reaped)
                return child;
        }
        if (wait.hasExpired())
            return child;
        // An unbounded wait has no time left to speak of (-1): it looks again in turns like any other,
        // instead of spinning until the keeper has news.
        const qint64 left = wait.isForever() ? lookAgainMs : wait.remainingTime();
        pollfd fd{child->m_status, POLLIN, 0};
        ::poll(&fd, 1, int(std::clamp<qint64>(left, 0, lookAgainMs)));
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
        case Keeper::started:
            m_started = true;
            break;
        case Keeper::failed:
            m_startError = record.value;
            m_failedWhere = record.where;
            break;
        case Keeper::exitedAlone:
            m_alone = true;
            [[fallthrough]];
        case Keeper::exitedLeavingOthers:
            m_started = true;
            m_programStatus = record.value;
            break;
        case Keeper::released:
            Foundlings::released({pid_t(record.value), record.startedAt});
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
    if (!m_keeperEnded) {
        // Asked to end everything and still there: it is stopped, or no keeper of this version.
        if (m_endAsked.isValid() && m_endAsked.hasExpired(keeperAnswerMs) && !m_forced) {
            m_forced = true;
            killGroupLocked();
        }
        return false;
    }
    // Its news closed as it exited: the wait is over in a moment.
    siginfo_t ended{};
    const bool held = ::waitid(P_PID, id_t(m_keeper), &ended, WEXITED | WNOWAIT) == 0;
    const bool said = m_started || m_startError || m_programStatus;
    // Ended of its own accord before a word about the program: not a keeper of ours (another file at
    // its place, one of another version), so the program never ran.
    m_keeperRefused = held && ended.si_code == CLD_EXITED && !said;
    // A keeper that went without saying its group was empty (killed, or crashed) leaves the group
    // running on. Its number is still ours while the keeper is not reaped, so the group goes first.
    const bool orderly = m_alone || m_startError || m_keeperRefused;
    if (held && !orderly) {
        killGroupLocked();
        // What had left the group came back to the application as the keeper died: it goes too, but
        // for what the keeper had let go.
        Foundlings::leftBy({m_keeper, m_keeperStarted});
    }
    int status = 0;
    pid_t got = 0;
    do
        got = ::waitpid(m_keeper, &status, 0);
    while (got < 0 && errno == EINTR);
    m_reaped = true;
    m_keeperStatus = got == m_keeper ? status : 0;
    // Gone before the program's end was known, and not by our hand: what it ran was cut short.
    m_cutOff = held && !orderly && !m_programStatus && !m_forced;
    return true;
}

void KeptChild::killGroupLocked()
{
    std::function<void(pid_t, int)> watcher;
    {
        QMutexLocker lock(&watcherMutex);
        watcher = signalWatcher;
    }
    if (watcher)
        watcher(m_keeper, SIGKILL);
    ::kill(-m_keeper, SIGKILL);
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
    if (m_cutOff)
        return SIGKILL; // as waitpid reports a kill
    if (WIFSIGNALED(m_keeperStatus))
        return m_keeperStatus;
    return 127 << 8;
}

std::optional<QString> KeptChild::cutOff() const
{
    QMutexLocker lock(&m_mutex);
    if (!m_cutOff)
        return std::nullopt;
    return KeeperTexts::cutOff(m_command);
}

std::optional<QString> KeptChild::lateFailure() const
{
    QMutexLocker lock(&m_mutex);
    return failureLocked();
}

std::optional<QString> KeptChild::failureLocked() const
{
    if (m_keeperRefused)
        return KeeperTexts::keeperFailure(m_command, m_keeperPath, std::nullopt);
    if (!m_startError)
        return std::nullopt;
    return KeeperTexts::launchFailure(m_program, m_directory, m_failedWhere, *m_startError);
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
    if (sig != SIGKILL) {
        ::kill(-m_keeper, sig);
        return;
    }
    // A kill sent to the group would end its keeper first, and with it the one process that can find
    // what left the group: the keeper kills everything under it, and then itself.
    if (!m_endAsked.isValid())
        m_endAsked.start();
    ::kill(m_keeper, Keeper::endEverything);
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

QList<pid_t> keptGroups()
{
    QMutexLocker listing(&listMutex);
    return list().keys();
}

void updateEndedKeepers()
{
    QList<std::shared_ptr<KeptChild>> all;
    {
        QMutexLocker listing(&listMutex);
        all = list().values();
    }
    for (const std::shared_ptr<KeptChild>& child : std::as_const(all)) {
        siginfo_t ended{};
        // Only looked at, not waited for: the keeper's own runner reaps it as ever.
        if (::waitid(P_PID, id_t(child->group()), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            ended.si_pid != 0)
            child->update();
    }
}

void setGroupSignalWatcher(std::function<void(pid_t group, int signal)> watcher)
{
    QMutexLocker lock(&watcherMutex);
    signalWatcher = std::move(watcher);
}

} // namespace Platform
