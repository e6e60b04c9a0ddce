#include "platform/LookServers.h"

#include "platform/Descriptors.h"
#include "platform/DiskLook.h"
#include "platform/Foundlings.h"
#include "platform/KeeperProgram.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHashFunctions>
#include <QList>
#include <QScopeGuard>
#include <QSet>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <limits>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace Platform {

namespace {

using detail::DiskJob;
using detail::FolderLookClaim;

// Servers that make looks at once and have not been held up yet; a look finds one idle, or waits for
// one within its own time. The disk pool runs few looks at a time while folders answer, so few are ever
// started. A server whose look has taken heldUpAfter is held up, and no longer counts: it waits on a
// thread the disk pool has added for it, and the looks after it are not queued behind it.
constexpr int mostWorking = 16;
// Servers given up on while looking at no folder in particular that may linger at once; past this, no
// server is started until some of them have ended. Those given up on at a folder are not counted: the
// folder's claim keeps them to one a folder, and a folder on a mount that stalls must not keep the
// folders that answer from being looked at.
constexpr int mostAbandoned = 32;
// Servers kept idle for the next looks: as many as the disk pool runs at once.
constexpr int keptIdle = Pools::diskThreads;
// How often a look waiting for a server to come free looks whether it is still wanted.
constexpr std::chrono::milliseconds lookAgain{100};

struct Server {
    pid_t pid = 0;
    int input = -1;  // its standard input, ours to write
    int output = -1; // its standard output, ours to read
    size_t environment = 0;
};

// What a server looks at depends on the home it was started for (the home folder, the home Trash, the
// user's own folders that never go to the Trash), and what it is on the program it runs; one started
// otherwise is not used again.
size_t environmentNow()
{
    return qHashMulti(0, qgetenv("HOME"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CONFIG_HOME"),
                      qgetenv("XDG_CACHE_HOME"), qgetenv("XDG_STATE_HOME"), qgetenv("XDG_RUNTIME_DIR"),
                      lookServerProgram());
}

// The thread that starts every server. A server is killed when the thread that started it ends (the
// parent-death signal follows the thread), so it is one that never ends rather than a pool's.
class Starter {
public:
    static Starter& instance()
    {
        static auto* starter = new Starter; // lives as long as the process, as its thread does
        return *starter;
    }

    std::optional<Server> start(QString& failure)
    {
        Job job;
        std::unique_lock lock(m_mutex);
        m_jobs.push_back(&job);
        m_changed.notify_all();
        m_changed.wait(lock, [&job] { return job.done; });
        failure = job.failure;
        return job.server;
    }

private:
    struct Job {
        bool done = false;
        std::optional<Server> server;
        QString failure;
    };

    Starter()
    {
        std::thread([this] { serve(); }).detach();
    }

    [[noreturn]] void serve()
    {
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return !m_jobs.empty(); });
            Job* job = m_jobs.front();
            m_jobs.pop_front();
            lock.unlock();
            job->server = startNow(job->failure);
            lock.lock();
            job->done = true;
            m_changed.notify_all();
        }
    }

    static std::optional<Server> startNow(QString& failure)
    {
        const QString program = lookServerProgram();
        int toServer[2] = {-1, -1};
        int fromServer[2] = {-1, -1};
        const auto closeAll = [&] {
            for (int* pair : {toServer, fromServer})
                for (int i = 0; i < 2; ++i)
                    closeFd(pair[i]);
        };
        if (::pipe2(toServer, O_CLOEXEC) != 0 || ::pipe2(fromServer, O_CLOEXEC) != 0) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            closeAll();
            return std::nullopt;
        }
        for (int* pair : {toServer, fromServer})
            for (int i = 0; i < 2; ++i)
                pair[i] = clearOfStandardStreams(pair[i]);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toServer[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromServer[1], STDOUT_FILENO);
        // Never the application's error output: a reader of that would wait for the server too.
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t mask;
        sigemptyset(&mask);
        posix_spawnattr_setsigmask(&attributes, &mask);
        sigfillset(&mask);
        posix_spawnattr_setsigdefault(&attributes, &mask);
        // A session of its own from the start: nothing the terminal sends reaches it.
        posix_spawnattr_setflags(&attributes,
                                 short(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID));
        const QByteArray path = QFile::encodeName(program);
        QByteArray parent = QByteArray::number(::getpid());
        char parentSwitch[] = "--parent";
        char* argv[] = {const_cast<char*>(path.constData()), parentSwitch, parent.data(), nullptr};
        pid_t pid = 0;
        const int error = ::posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        closeFd(toServer[0]);
        closeFd(fromServer[1]);
        if (error != 0) {
            failure = QStringLiteral("%1: %2").arg(program, QString::fromLocal8Bit(std::strerror(error)));
            closeAll();
            return std::nullopt;
        }
        // Waited for here by its number alone: what looks after the children that come back leaves it be.
        noteOwnChild(pid);
        setNonBlocking(toServer[1]);
        setNonBlocking(fromServer[0]);
        return Server{pid, toServer[1], fromServer[0], 0};
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job*> m_jobs;
};

enum class Exchange { answered, broken, unanswered };

// Every server of the process. Never destroyed: a look may still be under way while the process exits.
class Servers {
public:
    static Servers& instance()
    {
        static auto* servers = new Servers;
        return *servers;
    }

    // An idle server, or a new one; none once `job` is given up or `deadline` has passed without one
    // coming free, or when none can be started.
    std::optional<Server> take(const DiskJob& job, const QDeadlineTimer& deadline, bool change)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            reapLocked();
            if (m_leaving && !change)
                return std::nullopt;
            const size_t environment = environmentNow();
            while (!m_idle.isEmpty()) {
                const Server server = m_idle.takeLast();
                if (server.environment == environment) {
                    ++m_working;
                    return server;
                }
                retireLocked(server);
            }
            if (m_working < mostWorking && m_abandonedUnclaimed < mostAbandoned) {
                ++m_working;
                lock.unlock();
                QString failure;
                std::optional<Server> server = Starter::instance().start(failure);
                lock.lock();
                if (!server) {
                    --m_working;
                    m_available.notify_one();
                    if (!std::exchange(m_warned, true))
                        qWarning(
                            "voskel: no look server could be started (%s), so no folder can be looked at.",
                            qPrintable(failure));
                    return std::nullopt;
                }
                server->environment = environment;
                return server;
            }
            if (job.givenUp() || deadline.hasExpired())
                return std::nullopt;
            const auto left = std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0));
            m_available.wait_for(lock, std::min(left, lookAgain));
        }
    }

    // Sends the request and waits for the answer, into `reply`: until `deadline`, or, once `job` is
    // given up, until the look has had heldUpAfter; at once on the way out, unless it is a change. A
    // look that has not answered within heldUpAfter is held up from then on (`heldUp`): its server no
    // longer counts as working and its job has the disk pool add a thread, whether or not anyone waits
    // for it, so the looks queued after it go on.
    Exchange exchange(const Server& server, const QByteArray& request, DiskJob& job,
                      const QDeadlineTimer& deadline, bool change, QByteArray& reply, bool& heldUp)
    {
        heldUp = false;
        if (!change) {
            const std::lock_guard lock(m_mutex);
            if (m_leaving)
                return Exchange::unanswered;
            m_asking.insert(&job);
        }
        const auto done = qScopeGuard([&] {
            const std::lock_guard lock(m_mutex);
            m_asking.remove(&job);
        });
        QElapsedTimer since;
        since.start();
        qsizetype written = 0;
        qsizetype expected = -1;
        reply.clear();
        for (;;) {
            if (!heldUp && since.elapsed() >= heldUpAfter.count()) {
                heldUp = true;
                job.holdUp();
                const std::lock_guard lock(m_mutex);
                --m_working;
                ++m_heldUp;
                m_available.notify_one();
            }
            const bool givenUp = job.givenUp() || (!change && m_leavingNow.load());
            if (deadline.hasExpired() ||
                (givenUp && (m_leavingNow.load() || since.elapsed() >= heldUpAfter.count())))
                return Exchange::unanswered;
            qint64 wait = deadline.isForever() ? std::numeric_limits<int>::max() : deadline.remainingTime();
            if (givenUp || !heldUp)
                wait = std::min<qint64>(wait, std::max<qint64>(heldUpAfter.count() - since.elapsed(), 0));
            const bool writing = written < request.size();
            pollfd fds[2] = {{writing ? server.input : server.output, short(writing ? POLLOUT : POLLIN), 0},
                             {job.givenUpFd(), POLLIN, 0}};
            // Without a descriptor for the give-up, it is looked for now and then.
            if (job.givenUpFd() < 0)
                wait = std::min<qint64>(wait, lookAgain.count());
            const int ready = ::poll(fds, job.givenUpFd() >= 0 ? 2 : 1,
                                     int(std::clamp<qint64>(wait, 0, std::numeric_limits<int>::max())));
            if (ready < 0 && errno != EINTR)
                return Exchange::broken;
            if (ready <= 0)
                continue;
            if (fds[1].revents != 0)
                job.takeGiveUp();
            if (fds[0].revents == 0)
                continue;
            if (writing) {
                const ssize_t put =
                    ::write(server.input, request.constData() + written, size_t(request.size() - written));
                if (put < 0 && (errno == EAGAIN || errno == EINTR))
                    continue;
                if (put <= 0)
                    return Exchange::broken;
                written += put;
                continue;
            }
            char buffer[16384];
            const ssize_t got = ::read(server.output, buffer, sizeof buffer);
            if (got < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (got <= 0)
                return Exchange::broken;
            reply.append(buffer, got);
            if (expected < 0 && reply.size() >= frameHeader) {
                expected = frameLength(reply.constData());
                if (expected > largestFrame)
                    return Exchange::broken;
            }
            if (expected >= 0 && reply.size() > frameHeader + expected)
                return Exchange::broken; // more than was asked for
            if (expected >= 0 && reply.size() == frameHeader + expected) {
                reply.remove(0, frameHeader);
                return Exchange::answered;
            }
        }
    }

    // A server that answered, for the next look.
    void giveBack(const Server& server, bool heldUp)
    {
        const std::lock_guard lock(m_mutex);
        doneLocked(heldUp);
        if (m_idle.size() >= keptIdle || m_leavingNow.load())
            retireLocked(server);
        else
            m_idle.append(server);
        m_available.notify_one();
    }

    // A server that broke off (it crashed, or said what it should not): it goes.
    void retire(const Server& server, bool heldUp)
    {
        const std::lock_guard lock(m_mutex);
        doneLocked(heldUp);
        retireLocked(server);
        m_available.notify_one();
    }

    // A server whose look did not answer: left to end by itself, holding its folder until it has.
    void abandon(const Server& server, bool heldUp, std::optional<FolderLookClaim> claim)
    {
        const std::lock_guard lock(m_mutex);
        doneLocked(heldUp);
        int input = server.input;
        int output = server.output;
        closeFd(input);
        closeFd(output);
        if (!claim)
            ++m_abandonedUnclaimed;
        m_abandoned.append({server.pid, std::move(claim)});
        m_available.notify_one();
    }

    void reap()
    {
        const std::lock_guard lock(m_mutex);
        reapLocked();
    }

    LookServerCount count()
    {
        const std::lock_guard lock(m_mutex);
        reapLocked();
        return {int(m_idle.size()), m_working + m_heldUp, int(m_abandoned.size())};
    }

    void leave()
    {
        const std::lock_guard lock(m_mutex);
        m_leaving = true;
        m_leavingNow.store(true);
        for (DiskJob* job : std::as_const(m_asking))
            job->holdUp(true);
        for (const Server& server : std::as_const(m_idle))
            retireLocked(server);
        m_idle.clear();
        m_available.notify_all();
    }

private:
    struct Abandoned {
        pid_t pid = 0;
        std::optional<FolderLookClaim> claim;
    };

    // A look is over: its server counted as working, or as held up.
    void doneLocked(bool heldUp)
    {
        if (heldUp)
            --m_heldUp;
        else
            --m_working;
    }

    // Its input closed, it ends at once; it is reaped by a later look.
    void retireLocked(Server server)
    {
        closeFd(server.input);
        closeFd(server.output);
        m_ending.append(server.pid);
    }

    static bool ended(pid_t pid)
    {
        int status = 0;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        const bool gone = got == pid || (got < 0 && errno == ECHILD);
        if (gone)
            forgetOwnChild(pid);
        return gone;
    }

    void reapLocked()
    {
        m_ending.removeIf(ended);
        for (qsizetype i = m_abandoned.size() - 1; i >= 0; --i) {
            if (!ended(m_abandoned[i].pid))
                continue;
            if (m_abandoned[i].claim)
                detail::releaseFolderLook(*m_abandoned[i].claim);
            else
                --m_abandonedUnclaimed;
            m_abandoned.removeAt(i);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_available;
    QList<Server> m_idle;
    int m_working = 0; // making a look, not held up yet
    int m_heldUp = 0;  // making a look that has taken heldUpAfter
    QList<Abandoned> m_abandoned;
    int m_abandonedUnclaimed = 0; // of m_abandoned, those holding no folder
    QList<pid_t> m_ending;
    QSet<DiskJob*> m_asking;
    bool m_leaving = false;
    std::atomic_bool m_leavingNow{false};
    bool m_warned = false;
};

std::atomic<quint64> lastSerial{0};

QByteArray requestFrame(quint64 serial, const QByteArray& operation, const QByteArray& arguments)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out.setVersion(Wire::version);
    out << serial << operation;
    message += arguments;
    return framed(message);
}

// The result a reply carries for `serial`; none when the server could not make the look. False when
// the reply is not one for this request at all.
bool readReply(const QByteArray& reply, quint64 serial, std::optional<QByteArray>& result)
{
    QDataStream in(reply);
    in.setVersion(Wire::version);
    quint64 answered = 0;
    quint8 outcome = 0;
    in >> answered >> outcome;
    if (in.status() != QDataStream::Ok || answered != serial)
        return false;
    result.reset();
    if (LookOutcome(outcome) == LookOutcome::answered)
        result = reply.mid(qsizetype(in.device()->pos()));
    return true;
}

} // namespace

LookServerCount lookServerCount()
{
    return Servers::instance().count();
}

void giveUpLooks()
{
    Servers::instance().leave();
}

namespace detail {

void reapLookServers()
{
    Servers::instance().reap();
}

std::optional<QByteArray> askLookServer(DiskJob& job, const QByteArray& operation,
                                        const QByteArray& arguments, bool change,
                                        const std::function<void()>& beforeLook,
                                        const QDeadlineTimer& deadline, std::optional<FolderLookClaim> claim)
{
    // The folder is given back once the look is over, unless a server given up on keeps it.
    const auto release = qScopeGuard([&claim] {
        if (claim)
            releaseFolderLook(*claim);
    });
    if (beforeLook)
        beforeLook();
    if (claim)
        beforeFolderLook(claim->folder);
    if (job.givenUp() || deadline.hasExpired())
        return std::nullopt;
    ignoreBrokenPipe();
    Servers& servers = Servers::instance();
    const std::optional<Server> server = servers.take(job, deadline, change);
    if (!server)
        return std::nullopt;
    const quint64 serial = ++lastSerial;
    QByteArray reply;
    bool heldUp = false;
    switch (servers.exchange(*server, requestFrame(serial, operation, arguments), job, deadline, change,
                             reply, heldUp)) {
    case Exchange::answered: {
        std::optional<QByteArray> result;
        if (!readReply(reply, serial, result)) {
            servers.retire(*server, heldUp);
            return std::nullopt;
        }
        servers.giveBack(*server, heldUp);
        return result;
    }
    case Exchange::broken:
        servers.retire(*server, heldUp);
        return std::nullopt;
    case Exchange::unanswered:
        servers.abandon(*server, heldUp, std::exchange(claim, std::nullopt));
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace detail

} // namespace Platform
