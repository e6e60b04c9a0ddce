#include "platform/LookServers.h"

#include "platform/Descriptors.h"
#include "platform/DiskLook.h"
#include "platform/Foundlings.h"
#include "platform/LookServerProcess.h"
#include "platform/MountTable.h"

#include <QDir>
#include <QHash>
#include <QList>

#include <atomic>
#include <cerrno>
#include <limits>
#include <list>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Platform {

namespace {

using detail::LookServerProcess;
using detail::ServedLook;
using Clock = std::chrono::steady_clock;

// Servers making looks at once that have not been held up yet. Looks at folders that answer take well
// under a millisecond each, so a few servers go through many folders quickly; a look past this waits
// until one of them answers or is found held up.
constexpr int mostWorking = 16;
// Servers kept idle for the next looks: a round of folders that answer goes through a few quickly.
constexpr int keptIdle = 4;
// How often the servers given up on are looked for having ended, while there are any.
constexpr std::chrono::milliseconds reapEvery{100};
// How long the table of mounts is taken to hold before it is read again.
constexpr std::chrono::seconds mountsHold{1};

// One look sent to a server, until it is answered or given up.
struct Exchange {
    std::shared_ptr<ServedLook> look;
    LookServerProcess server;
    quint64 serial = 0;
    QByteArray request;
    qsizetype written = 0;
    QByteArray reply;
    qsizetype expected = -1;
    Clock::time_point sent;
    QDeadlineTimer deadline;
    bool heldUp = false;
    QString mount; // where its folder is; empty for a look at no folder in particular
};

// A look waiting to be sent.
struct Queued {
    std::shared_ptr<ServedLook> look;
    std::optional<QString> mount; // found once it is needed
};

// A server given up on while it made a look, left to end by itself.
struct Left {
    pid_t pid = 0;
    std::optional<detail::FolderLookClaim> claim;
    QString mount;
};

// A look to send once a server is started for it, outside the lock.
struct Starting {
    std::shared_ptr<ServedLook> look;
    QString mount;
};

// A look that is over, to finish outside the lock.
struct Over {
    std::shared_ptr<ServedLook> look;
    std::optional<QByteArray> answer;
    bool keepClaim = false;
};

// What the servers are doing at one mount, or at one folder.
struct Held {
    int working = 0;
    int heldUp = 0;
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

// The result a reply carries for `serial`; none when the server could not make the look. `spent`: the
// server asks not to be used again. False when the reply is not one for this request at all.
bool readReply(const QByteArray& reply, quint64 serial, std::optional<QByteArray>& result, bool& spent)
{
    QDataStream in(reply);
    in.setVersion(Wire::version);
    quint64 answered = 0;
    quint8 outcome = 0;
    in >> answered >> outcome;
    if (in.status() != QDataStream::Ok || answered != serial)
        return false;
    spent = (outcome & serverSpent) != 0;
    result.reset();
    if (LookOutcome(outcome & ~serverSpent) == LookOutcome::answered)
        result = reply.mid(qsizetype(in.device()->pos()));
    return true;
}

bool ended(pid_t pid)
{
    int status = 0;
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    const bool gone = got == pid || (got < 0 && errno == ECHILD);
    if (gone)
        forgetOwnChild(pid);
    return gone;
}

qint64 millisecondsUntil(Clock::time_point when, Clock::time_point now)
{
    return std::max<qint64>(std::chrono::ceil<std::chrono::milliseconds>(when - now).count(), 0);
}

// Every server of the process, and the thread that sends them their looks and reads their answers, all
// at once. Never destroyed: a look may still be under way while the process exits.
class Servers {
public:
    static Servers& instance()
    {
        static auto* servers = new Servers;
        return *servers;
    }

    void serve(std::shared_ptr<ServedLook> look)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_queue.push_back({std::move(look), std::nullopt});
        }
        wake();
    }

    void wake() { ::eventfd_write(m_wake, 1); }

    bool leaving()
    {
        const std::lock_guard lock(m_mutex);
        return m_leaving;
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
        return {int(m_idle.size()), int(m_exchanges.size() + m_starting.size()), int(m_left.size())};
    }

    void leave()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_leaving = true;
            for (LookServerProcess& server : m_idle)
                retireLocked(server);
            m_idle.clear();
        }
        wake();
    }

private:
    Servers() : m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        // The thread that starts every server, too: a server is killed when the thread that started it
        // ends, so it is one that never ends rather than a pool's.
        std::thread([this] { run(); }).detach();
    }

    [[noreturn]] void run()
    {
        ignoreBrokenPipe();
        std::vector<pollfd> fds;
        QList<Over> over;
        QList<Starting> starting;
        for (;;) {
            int timeout = -1;
            {
                const std::lock_guard lock(m_mutex);
                const Clock::time_point now = Clock::now();
                if (now >= m_nextReap)
                    reapLocked();
                watchLocked(now, over);
                sendLocked(over, starting);
                fds.clear();
                for (const Exchange& exchange : m_exchanges) {
                    const bool writing = exchange.written < exchange.request.size();
                    fds.push_back({writing ? exchange.server.input : exchange.server.output,
                                   short(writing ? POLLOUT : POLLIN), 0});
                }
                timeout = timeoutLocked(now);
            }
            finish(over);
            if (!starting.isEmpty()) {
                startFor(starting, over);
                finish(over);
                continue;
            }
            fds.push_back({m_wake, POLLIN, 0});
            const int ready = ::poll(fds.data(), nfds_t(fds.size()), timeout);
            if (ready <= 0)
                continue;
            if (fds.back().revents != 0) {
                eventfd_t count = 0;
                ::eventfd_read(m_wake, &count);
            }
            {
                const std::lock_guard lock(m_mutex);
                // Only this thread adds or removes exchanges, so they are as they were when polled.
                for (qsizetype i = qsizetype(m_exchanges.size()) - 1; i >= 0; --i)
                    if (fds[size_t(i)].revents != 0)
                        exchangeLocked(size_t(i), over);
            }
            finish(over);
        }
    }

    // Looks under way that are held up now, past their time, or no longer waited for.
    void watchLocked(Clock::time_point now, QList<Over>& over)
    {
        for (qsizetype i = qsizetype(m_exchanges.size()) - 1; i >= 0; --i) {
            Exchange& exchange = m_exchanges[size_t(i)];
            const ServedLook& look = *exchange.look;
            const bool sinceHeldUp = now - exchange.sent >= heldUpAfter;
            if (!exchange.heldUp && sinceHeldUp) {
                exchange.heldUp = true;
                exchange.look->job->holdUp();
            }
            // At once on the way out, unless it is a change; once nobody waits, after heldUpAfter: a
            // server that answers by then is used again.
            const bool givenUp = look.job->givenUp() || (m_leaving && !look.change);
            if (exchange.deadline.hasExpired() || (givenUp && (m_leaving || sinceHeldUp)))
                abandonLocked(size_t(i), over);
        }
    }

    // Sends what waits, as far as the bounds let it; a look past them is over at once.
    void sendLocked(QList<Over>& over, QList<Starting>& starting)
    {
        if (m_queue.empty())
            return;
        Held all{int(m_exchanges.size() + m_starting.size()), 0};
        QHash<QString, Held> atMount;
        QHash<QString, Held> atFolder;
        const auto count = [](Held& held, bool heldUp) { ++(heldUp ? held.heldUp : held.working); };
        for (const Exchange& exchange : m_exchanges) {
            if (exchange.heldUp) {
                --all.working;
                ++all.heldUp;
            }
            if (!exchange.mount.isEmpty())
                count(atMount[exchange.mount], exchange.heldUp);
            if (exchange.look->claim)
                count(atFolder[exchange.look->claim->folder], exchange.heldUp);
        }
        for (const Starting& start : std::as_const(m_starting)) {
            if (!start.mount.isEmpty())
                ++atMount[start.mount].working;
            if (start.look->claim)
                ++atFolder[start.look->claim->folder].working;
        }
        for (const Left& left : std::as_const(m_left)) {
            ++all.heldUp;
            if (!left.mount.isEmpty())
                ++atMount[left.mount].heldUp;
            if (left.claim)
                ++atFolder[left.claim->folder].heldUp;
        }
        const size_t environment = detail::lookServerEnvironment();
        for (auto queued = m_queue.begin(); queued != m_queue.end();) {
            const std::shared_ptr<ServedLook>& look = queued->look;
            const auto drop = [&] {
                over.append({look, std::nullopt, false});
                queued = m_queue.erase(queued);
            };
            if (look->job->givenUp() || look->deadline.hasExpired() || (m_leaving && !look->change)) {
                drop();
                continue;
            }
            // One server at a folder at a time: the next look there waits for this one, and does not
            // answer once it is held up.
            if (look->claim) {
                const Held folder = atFolder.value(look->claim->folder);
                if (folder.heldUp > 0) {
                    drop();
                    continue;
                }
                if (folder.working > 0) {
                    ++queued;
                    continue;
                }
            }
            if (!queued->mount)
                queued->mount = look->claim ? mountOf(look->claim->folder) : QString();
            const QString& mount = *queued->mount;
            const Held there = mount.isEmpty() ? Held{} : atMount.value(mount);
            if (all.heldUp >= detail::mostHeldServers || there.heldUp >= detail::mostHeldOnOneMount) {
                drop();
                continue;
            }
            // Strict bounds: the servers sent now may all be held up, and still be within them.
            if (all.working >= mostWorking || all.working + all.heldUp >= detail::mostHeldServers ||
                (!mount.isEmpty() && there.working + there.heldUp >= detail::mostHeldOnOneMount)) {
                ++queued;
                continue;
            }
            ++all.working;
            if (!mount.isEmpty())
                ++atMount[mount].working;
            if (look->claim)
                ++atFolder[look->claim->folder].working;
            std::optional<LookServerProcess> server = idleLocked(environment);
            look->job->begin(false);
            if (server) {
                sendOnLocked(*server, look, mount);
            } else {
                m_starting.append({look, mount});
                starting.append({look, mount});
            }
            queued = m_queue.erase(queued);
        }
    }

    // Starts a server for each look, outside the lock: a start takes a while, and nobody who asks for a
    // look should wait for it.
    void startFor(QList<Starting>& starting, QList<Over>& over)
    {
        for (const Starting& start : std::as_const(starting)) {
            QString failure;
            // On the way out no server is started: the process's own state is being torn down.
            std::optional<LookServerProcess> server;
            if (!leaving())
                server = detail::startLookServer(failure);
            else
                failure = QStringLiteral("Voskel is quitting");
            const std::lock_guard lock(m_mutex);
            m_starting.removeIf([&](const Starting& other) { return other.look == start.look; });
            if (!server) {
                if (!m_leaving && !std::exchange(m_warned, true))
                    qWarning("voskel: no look server could be started (%s), so no folder can be looked at.",
                             qPrintable(failure));
                over.append({start.look, std::nullopt, false});
                continue;
            }
            server->environment = detail::lookServerEnvironment();
            sendOnLocked(*server, start.look, start.mount);
        }
        starting.clear();
    }

    void sendOnLocked(const LookServerProcess& server, const std::shared_ptr<ServedLook>& look,
                      const QString& mount)
    {
        Exchange exchange;
        exchange.look = look;
        exchange.server = server;
        exchange.serial = ++lastSerial;
        exchange.request = requestFrame(exchange.serial, look->operation, look->arguments);
        exchange.sent = Clock::now();
        exchange.deadline = look->deadline;
        exchange.mount = mount;
        // Most requests fit the pipe: written now, they are answered without waiting for a turn.
        const ssize_t put =
            ::write(server.input, exchange.request.constData(), size_t(exchange.request.size()));
        if (put > 0)
            exchange.written = put;
        m_exchanges.push_back(std::move(exchange));
    }

    // An idle server started as servers are started now; those started otherwise go.
    std::optional<LookServerProcess> idleLocked(size_t environment)
    {
        while (!m_idle.isEmpty()) {
            LookServerProcess server = m_idle.takeLast();
            if (server.environment == environment)
                return server;
            retireLocked(server);
        }
        return std::nullopt;
    }

    // Writes or reads what the server at `index` is ready for.
    void exchangeLocked(size_t index, QList<Over>& over)
    {
        Exchange& exchange = m_exchanges[index];
        if (exchange.written < exchange.request.size()) {
            const ssize_t put =
                ::write(exchange.server.input, exchange.request.constData() + exchange.written,
                        size_t(exchange.request.size() - exchange.written));
            if (put < 0 && (errno == EAGAIN || errno == EINTR))
                return;
            if (put <= 0)
                return brokenLocked(index, over);
            exchange.written += put;
            return;
        }
        for (;;) {
            char buffer[16384];
            const ssize_t got = ::read(exchange.server.output, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno == EAGAIN)
                return;
            if (got <= 0)
                return brokenLocked(index, over);
            exchange.reply.append(buffer, got);
            if (exchange.expected < 0 && exchange.reply.size() >= frameHeader) {
                exchange.expected = frameLength(exchange.reply.constData());
                if (exchange.expected > largestFrame)
                    return brokenLocked(index, over);
            }
            if (exchange.expected >= 0 && exchange.reply.size() > frameHeader + exchange.expected)
                return brokenLocked(index, over); // more than was asked for
            if (exchange.expected >= 0 && exchange.reply.size() == frameHeader + exchange.expected)
                return answeredLocked(index, over);
        }
    }

    void answeredLocked(size_t index, QList<Over>& over)
    {
        Exchange exchange = takeExchange(index);
        exchange.reply.remove(0, frameHeader);
        std::optional<QByteArray> result;
        bool spent = false;
        if (!readReply(exchange.reply, exchange.serial, result, spent)) {
            retireLocked(exchange.server);
            over.append({exchange.look, std::nullopt, false});
            return;
        }
        if (spent || m_leaving || m_idle.size() >= keptIdle)
            retireLocked(exchange.server);
        else
            m_idle.append(exchange.server);
        over.append({exchange.look, std::move(result), false});
    }

    // A server that broke off (it crashed, or said what it should not): it goes.
    void brokenLocked(size_t index, QList<Over>& over)
    {
        Exchange exchange = takeExchange(index);
        retireLocked(exchange.server);
        over.append({exchange.look, std::nullopt, false});
    }

    // A server whose look did not answer: left to end by itself, holding its folder until it has.
    void abandonLocked(size_t index, QList<Over>& over)
    {
        Exchange exchange = takeExchange(index);
        closeFd(exchange.server.input);
        closeFd(exchange.server.output);
        m_left.append({exchange.server.pid, exchange.look->claim, exchange.mount});
        over.append({exchange.look, std::nullopt, true});
    }

    Exchange takeExchange(size_t index)
    {
        Exchange exchange = std::move(m_exchanges[index]);
        m_exchanges.erase(m_exchanges.begin() + qsizetype(index));
        return exchange;
    }

    // Its input closed, it ends at once; it is reaped a little later.
    void retireLocked(LookServerProcess server)
    {
        closeFd(server.input);
        closeFd(server.output);
        m_ending.append(server.pid);
    }

    void reapLocked()
    {
        m_nextReap = Clock::now() + reapEvery;
        m_ending.removeIf(ended);
        for (qsizetype i = m_left.size() - 1; i >= 0; --i) {
            if (!ended(m_left[i].pid))
                continue;
            if (m_left[i].claim)
                detail::releaseFolderLook(*m_left[i].claim);
            m_left.removeAt(i);
        }
    }

    // How long the thread may wait for the servers before something is due without them.
    int timeoutLocked(Clock::time_point now) const
    {
        qint64 wait = std::numeric_limits<int>::max();
        for (const Exchange& exchange : m_exchanges) {
            if (!exchange.heldUp)
                wait = std::min(wait, millisecondsUntil(exchange.sent + heldUpAfter, now));
            if (!exchange.deadline.isForever())
                wait = std::min(wait, std::max<qint64>(exchange.deadline.remainingTime(), 0));
        }
        for (const Queued& queued : m_queue)
            if (!queued.look->deadline.isForever())
                wait = std::min(wait, std::max<qint64>(queued.look->deadline.remainingTime(), 0));
        if (!m_left.isEmpty() || !m_ending.isEmpty())
            wait = std::min(wait, millisecondsUntil(m_nextReap, now));
        return wait == std::numeric_limits<int>::max() ? -1 : int(wait);
    }

    // The mount a folder is on, by its path as written: resolving it could wait on the mount itself.
    QString mountOf(const QString& folder)
    {
        if (!QDir::isAbsolutePath(folder))
            return {};
        const Clock::time_point now = Clock::now();
        if (m_mounts.isEmpty() || now - m_mountsRead >= mountsHold) {
            m_mounts = mountTable();
            m_mountsRead = now;
        }
        const std::optional<TreeLocation> where = locate(QDir::cleanPath(folder), m_mounts);
        return where ? m_mounts[where->mount].point : QString();
    }

    void finish(QList<Over>& over)
    {
        for (Over& done : over)
            detail::finishLook(*done.look, done.answer, done.keepClaim);
        over.clear();
    }

    const int m_wake;
    std::mutex m_mutex;
    std::list<Queued> m_queue;
    std::vector<Exchange> m_exchanges;
    QList<LookServerProcess> m_idle;
    QList<Left> m_left;
    QList<pid_t> m_ending;
    QList<Starting> m_starting; // looks whose servers are being started
    Clock::time_point m_nextReap;
    QList<MountEntry> m_mounts;
    Clock::time_point m_mountsRead;
    bool m_leaving = false;
    bool m_warned = false;
};

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

void serveLook(std::shared_ptr<ServedLook> look)
{
    Servers::instance().serve(std::move(look));
}

void wakeLookServers()
{
    Servers::instance().wake();
}

void reapLookServers()
{
    Servers::instance().reap();
}

} // namespace detail

} // namespace Platform
