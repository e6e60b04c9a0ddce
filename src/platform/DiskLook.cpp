#include "platform/DiskLook.h"

#include "platform/LookServers.h"

#include <QHash>
#include <QList>

namespace Platform {

namespace {

// Looks held up on the disk pool by test code get a thread each up to this many; beyond that, looks
// wait in the queue and their callers give up at their limits.
constexpr int mostHeldUpJobs = 64;

struct Claimed {
    quint64 serial;
    std::chrono::steady_clock::time_point since;
};

// What the looks share. Never destroyed: a held-up look may come back while the process exits.
struct Shared {
    std::mutex heldUpMutex;
    int heldUpJobs = 0;
    std::mutex holdMutex;
    std::function<void(const QString&)> hold;
    std::mutex claimsMutex;
    QHash<QString, QList<Claimed>> claims; // by folder
    quint64 lastClaim = 0;
};

Shared& shared()
{
    static Shared* state = new Shared;
    return *state;
}

void countHeldUp(int change)
{
    Shared& state = shared();
    const std::lock_guard lock(state.heldUpMutex);
    state.heldUpJobs += change;
    Pools::disk()->setMaxThreadCount(Pools::diskThreads + std::clamp(state.heldUpJobs, 0, mostHeldUpJobs));
}

} // namespace

QString folderNotAnswering(const QString& folder)
{
    return folder + QStringLiteral(" does not answer.");
}

namespace detail {

void DiskJob::begin(bool onPool)
{
    const std::lock_guard lock(m_mutex);
    if (m_state != State::queued)
        return;
    m_began = std::chrono::steady_clock::now();
    m_onPool = onPool;
    if (m_abandoned) {
        m_state = State::heldUp;
        countOnPool(true);
        return;
    }
    m_state = State::running;
}

void DiskJob::leavePool()
{
    const std::lock_guard lock(m_mutex);
    countOnPool(false);
    m_onPool = false;
}

void DiskJob::end()
{
    {
        const std::lock_guard lock(m_mutex);
        countOnPool(false);
        m_state = State::ended;
    }
    m_ending.notify_all();
}

void DiskJob::countOnPool(bool counted)
{
    if (!m_onPool || counted == m_countedOnPool)
        return;
    m_countedOnPool = counted;
    countHeldUp(counted ? +1 : -1);
}

void DiskJob::holdUp(bool now)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        if (now && !m_givenUp && m_state != State::ended) {
            m_givenUp = true;
            wake = true;
        }
        if (now && m_state == State::queued)
            m_abandoned = true;
        if (m_state == State::running && (now || std::chrono::steady_clock::now() - m_began >= heldUpAfter)) {
            m_state = State::heldUp;
            countOnPool(true);
        }
    }
    // The servers' thread gives up what nobody waits for any more.
    if (wake)
        wakeLookServers();
}

bool DiskJob::waitForEnd(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    return m_ending.wait_for(lock, limit, [this] { return m_state == State::ended; });
}

bool DiskJob::ended() const
{
    const std::lock_guard lock(m_mutex);
    return m_state == State::ended;
}

bool DiskJob::givenUp() const
{
    const std::lock_guard lock(m_mutex);
    return m_givenUp;
}

bool DiskJob::isHeldUp() const
{
    const std::lock_guard lock(m_mutex);
    return m_state == State::heldUp;
}

std::optional<FolderLookClaim> claimFolderLook(const QString& folder)
{
    // A server given up on that has ended since gives its folder back first.
    reapLookServers();
    const auto now = std::chrono::steady_clock::now();
    Shared& state = shared();
    const std::lock_guard lock(state.claimsMutex);
    QList<Claimed>& under = state.claims[folder];
    for (const Claimed& claimed : std::as_const(under))
        if (now - claimed.since > heldUpAfter)
            return std::nullopt;
    under.append({++state.lastClaim, now});
    return FolderLookClaim{folder, state.lastClaim};
}

void releaseFolderLook(const FolderLookClaim& claim)
{
    Shared& state = shared();
    const std::lock_guard lock(state.claimsMutex);
    const auto under = state.claims.find(claim.folder);
    if (under == state.claims.end())
        return;
    under->removeIf([&](const Claimed& claimed) { return claimed.serial == claim.serial; });
    if (under->isEmpty())
        state.claims.erase(under);
}

// Whether a test holds looks at folders.
static bool holdsFolders()
{
    Shared& state = shared();
    const std::lock_guard lock(state.holdMutex);
    return bool(state.hold);
}

void beforeFolderLook(const QString& folder)
{
    Shared& state = shared();
    std::function<void(const QString&)> held;
    {
        const std::lock_guard lock(state.holdMutex);
        held = state.hold;
    }
    if (held)
        held(folder);
}

void setBeforeFolderLookForTesting(std::function<void(const QString& folder)> hold)
{
    Shared& state = shared();
    const std::lock_guard lock(state.holdMutex);
    state.hold = std::move(hold);
}

QFuture<void> sendLook(ServedLook look)
{
    look.finished.reportStarted();
    QFuture<void> future = look.finished.future();
    auto sent = std::make_shared<ServedLook>(std::move(look));
    if (!sent->beforeLook && !(sent->claim && holdsFolders())) {
        serveLook(std::move(sent));
        return future;
    }
    // Test code that may hold the look as a mount that stalls would: on a thread of the disk pool, which
    // gets another in its place while it is held up.
    Pools::disk()->start([sent] {
        sent->job->begin();
        if (sent->beforeLook)
            sent->beforeLook();
        if (sent->claim)
            beforeFolderLook(sent->claim->folder);
        sent->job->leavePool();
        serveLook(sent);
    });
    return future;
}

void finishLook(ServedLook& look, const std::optional<QByteArray>& answer, bool keepClaim)
{
    if (look.claim && !keepClaim)
        releaseFolderLook(*look.claim);
    look.claim.reset();
    if (answer && look.take)
        look.take(*answer);
    look.job->end();
    look.finished.reportFinished();
}

QCoro::Task<bool> endedWithin(QFuture<void> future, std::chrono::milliseconds limit)
{
    if (future.isFinished())
        co_return true;
    QFutureWatcher<void> watcher;
    watcher.setFuture(future);
    // Finished before the watcher was set: it reports that too, as a queued call, so the wait below
    // cannot miss it.
    auto finished = qCoro(&watcher, &QFutureWatcherBase::finished, limit);
    const std::optional<std::tuple<>> done = co_await std::move(finished);
    co_return done.has_value() || future.isFinished();
}

} // namespace detail

} // namespace Platform
