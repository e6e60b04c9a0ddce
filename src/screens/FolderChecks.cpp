#include "screens/FolderChecks.h"

#include "platform/DiskLook.h"
#include "platform/Pools.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

namespace {

FolderChecks::Check& checkForTesting()
{
    static FolderChecks::Check check;
    return check;
}

ProjectFolder unknownFolder()
{
    ProjectFolder unknown;
    unknown.known = false;
    return unknown;
}

QStringList foldersOf(const QList<ComposeProject>& projects)
{
    QStringList dirs;
    QSet<QString> seen;
    for (const ComposeProject& project : projects) {
        if (!project.workingDir || project.workingDir->isEmpty() || seen.contains(*project.workingDir))
            continue;
        seen.insert(*project.workingDir);
        dirs << *project.workingDir;
    }
    return dirs;
}

} // namespace

// One job going through folders on the disk pool, and how far it got.
struct FolderChecks::Job {
    explicit Job(const QStringList& folders) : dirs(folders) {}

    // Read by both sides, so never changed (nor detached) after the job is made.
    const QStringList dirs;
    Platform::detail::DiskJob course;
    // The window's side.
    QPointer<QFutureWatcher<void>> watcher;
    bool leftHeldUp = false;
    // Shared with the job, under `mutex`.
    std::mutex mutex;
    qsizetype at = -1; // the folder being looked at
    std::chrono::steady_clock::time_point since;
    bool stop = false;
    QList<std::pair<QString, ProjectFolder>> found; // not taken yet

    void goThrough(const Check& check)
    {
        course.begin();
        for (qsizetype i = 0; i < dirs.size(); ++i) {
            {
                const std::lock_guard lock(mutex);
                if (stop)
                    break;
                at = i;
                since = std::chrono::steady_clock::now();
            }
            // A folder another look has been held up at (a disk-usage pass, a plan) does not answer.
            ProjectFolder result = unknownFolder();
            if (const auto claim = Platform::detail::claimFolderLook(dirs[i])) {
                result = check(dirs[i]);
                Platform::detail::releaseFolderLook(*claim);
            }
            const std::lock_guard lock(mutex);
            at = -1;
            found.append({dirs[i], result});
        }
        course.end();
    }
};

FolderChecks::FolderChecks(QObject* parent) : QObject(parent), m_heldUpCheck(new QTimer(this))
{
    // Stopped again as soon as the jobs have ended, which is long before it is due unless a folder stalls.
    // A little later than heldUpAfter, so that a coarse timer's early shot still finds a held-up look so.
    m_heldUpCheck->setSingleShot(true);
    m_heldUpCheck->setInterval(Platform::heldUpAfter + Platform::heldUpAfter / 5);
    connect(m_heldUpCheck, &QTimer::timeout, this, &FolderChecks::leaveHeldUp);
}

// Jobs still under way finish on the pool by themselves; what they find goes nowhere.
FolderChecks::~FolderChecks() = default;

void FolderChecks::setCheckForTesting(Check check)
{
    checkForTesting() = std::move(check);
}

ProjectFolder FolderChecks::result(const ComposeProject& project) const
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    return m_results.value(*project.workingDir, unknownFolder());
}

void FolderChecks::look(const QList<ComposeProject>& projects)
{
    leaveHeldUp();
    QStringList dirs;
    for (const QString& dir : foldersOf(projects))
        if (!m_results.contains(dir) && !m_looking.contains(dir))
            dirs << dir;
    if (!dirs.isEmpty())
        start(dirs);
}

void FolderChecks::lookAgain(const QList<ComposeProject>& projects)
{
    leaveHeldUp();
    for (const std::shared_ptr<Job>& job : std::as_const(m_jobs))
        if (!job->leftHeldUp)
            return;
    QStringList dirs;
    for (const QString& dir : foldersOf(projects))
        if (!m_looking.contains(dir))
            dirs << dir;
    if (!dirs.isEmpty())
        start(dirs);
}

void FolderChecks::start(const QStringList& dirs)
{
    const Check check = checkForTesting() ? checkForTesting() : Check(&ProjectFolder::at);
    auto job = std::make_shared<Job>(dirs);
    for (const QString& dir : dirs)
        m_looking.insert(dir, job);
    m_jobs << job;
    ++m_jobsStarted;
    // The watcher is this object's: what a job finds after the object is gone goes nowhere.
    auto* watcher = new QFutureWatcher<void>(this);
    job->watcher = watcher;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, job] {
        watcher->deleteLater();
        ended(job);
    });
    watcher->setFuture(QtConcurrent::run(Platform::Pools::disk(), [job, check] { job->goThrough(check); }));
    if (!m_heldUpCheck->isActive())
        m_heldUpCheck->start();
}

void FolderChecks::leaveHeldUp()
{
    const auto now = std::chrono::steady_clock::now();
    bool going = false;
    const QList<std::shared_ptr<Job>> jobs = m_jobs;
    for (const std::shared_ptr<Job>& job : jobs) {
        if (job->leftHeldUp)
            continue;
        qsizetype at = -1;
        {
            const std::lock_guard lock(job->mutex);
            if (job->at < 0 || now - job->since <= Platform::heldUpAfter) {
                going = true;
                continue;
            }
            job->stop = true;
            at = job->at;
        }
        job->leftHeldUp = true;
        job->course.holdUp(true);
        QStringList rest;
        for (qsizetype i = at + 1; i < job->dirs.size(); ++i) {
            if (m_looking.value(job->dirs[i]) == job) {
                m_looking.remove(job->dirs[i]);
                rest << job->dirs[i];
            }
        }
        // What it held of the folder is as old as the look that does not come back.
        {
            const std::lock_guard lock(job->mutex);
            job->found.append({job->dirs[at], unknownFolder()});
        }
        take(job);
        if (!rest.isEmpty()) {
            start(rest);
            going = true;
        }
    }
    if (going && !m_heldUpCheck->isActive())
        m_heldUpCheck->start();
}

void FolderChecks::wait()
{
    const QList<std::shared_ptr<Job>> jobs = m_jobs;
    for (const std::shared_ptr<Job>& job : jobs) {
        if (job->watcher)
            job->watcher->waitForFinished();
        ended(job);
    }
}

void FolderChecks::ended(const std::shared_ptr<Job>& job)
{
    // Taken already, by wait().
    if (!m_jobs.removeOne(job))
        return;
    for (const QString& dir : std::as_const(job->dirs))
        if (m_looking.value(dir) == job)
            m_looking.remove(dir);
    take(job);
    if (std::all_of(m_jobs.cbegin(), m_jobs.cend(), [](const auto& other) { return other->leftHeldUp; }))
        m_heldUpCheck->stop();
}

void FolderChecks::take(const std::shared_ptr<Job>& job)
{
    QList<std::pair<QString, ProjectFolder>> found;
    {
        const std::lock_guard lock(job->mutex);
        found.swap(job->found);
    }
    bool changes = false;
    for (const auto& [dir, folder] : std::as_const(found)) {
        const auto before = m_results.constFind(dir);
        if (before != m_results.cend() && *before == folder)
            continue;
        m_results.insert(dir, folder);
        changes = true;
    }
    if (changes)
        emit changed();
}
