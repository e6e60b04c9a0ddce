#include "screens/FolderChecks.h"

#include "platform/DiskLook.h"
#include "platform/Pools.h"

#include "engine/Compose.h"
#include "engine/Docker.h"

#include <QDir>
#include <QFileInfo>
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

// What a project's folder is looked at as: the folder, and for a project started from files of its own,
// those files, each after a NUL.
QString lookKey(const ComposeProject& project)
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    QString key = *project.workingDir;
    for (const QString& file : Docker::lookedForFiles(project))
        key += QChar(0) + file;
    return key;
}

// Each key once, in order, none empty.
QStringList distinct(const QStringList& keys)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString& key : keys) {
        if (key.isEmpty() || seen.contains(key))
            continue;
        seen.insert(key);
        out << key;
    }
    return out;
}

QStringList foldersOf(const QList<ComposeProject>& projects)
{
    QStringList keys;
    keys.reserve(projects.size());
    for (const ComposeProject& project : projects)
        keys << lookKey(project);
    return distinct(keys);
}

} // namespace

// One folder's look, sent to a look server, or made on the disk pool by the test's own check.
struct FolderChecks::Look {
    explicit Look(QString lookKey)
        : key(std::move(lookKey)), dir(key.section(QChar(0), 0, 0)),
          files(key.split(QChar(0)).mid(1))
    {
    }

    const QString key;
    const QString dir;
    const QStringList files; // the compose files a remembered project was started from
    std::shared_ptr<Platform::detail::DiskJob> course = std::make_shared<Platform::detail::DiskJob>();
    // The window's side.
    QPointer<QFutureWatcher<void>> watcher;
    bool leftHeldUp = false;
    bool taken = false;
    // Set by the look before its course ends.
    std::mutex mutex;
    std::optional<ProjectFolder> found;

    void keep(const ProjectFolder& folder)
    {
        const std::lock_guard lock(mutex);
        found = folder;
    }

    // Sends the look, or has `check` make it in its place (tests). A folder another look has been held up
    // at (a disk-usage pass, a plan) does not answer, nor one whose look server did not answer in time.
    QFuture<void> start(const std::shared_ptr<Look>& self, const Check& check,
                        std::chrono::milliseconds limit)
    {
        if (check)
            return QtConcurrent::run(Platform::Pools::disk(), [self, check] {
                self->course->begin();
                ProjectFolder result = unknownFolder();
                if (std::optional<Platform::detail::FolderLookClaim> claim =
                        Platform::detail::claimFolderLook(self->dir)) {
                    result = check(self->dir);
                    Platform::detail::releaseFolderLook(*claim);
                }
                self->keep(result);
                self->course->end();
            });
        std::optional<Platform::detail::FolderLookClaim> claim = Platform::detail::claimFolderLook(dir);
        if (!claim) {
            keep(unknownFolder());
            course->end();
            return QtFuture::makeReadyFuture();
        }
        keep(unknownFolder());
        // Its own files, wherever they are: compose is given them and looks for no other.
        if (!files.isEmpty())
            return send(self, Docker::Looks::composeFiles(dir, files), limit, std::move(*claim));
        return send(self, Docker::Looks::folderFacts(dir), limit, std::move(*claim));
    }

    template <typename R>
    QFuture<void> send(const std::shared_ptr<Look>& self, Platform::LookRequest<R> request,
                       std::chrono::milliseconds limit, Platform::detail::FolderLookClaim claim)
    {
        auto job = std::make_shared<Platform::detail::DiskLookJob<R>>();
        course = job;
        return Platform::detail::startLook(job, std::move(request), limit, std::move(claim))
            .then([self, job] {
                if (job->found)
                    self->keep(ProjectFolder::from(*job->found));
            });
    }
};

FolderChecks::FolderChecks(QObject* parent) : QObject(parent), m_heldUpCheck(new QTimer(this))
{
    // Stopped again as soon as the looks have ended, which is long before it is due unless a folder
    // stalls. A little later than heldUpAfter, so that a coarse timer's early shot still finds a held-up
    // look so.
    m_heldUpCheck->setSingleShot(true);
    m_heldUpCheck->setInterval(Platform::heldUpAfter + Platform::heldUpAfter / 5);
    connect(m_heldUpCheck, &QTimer::timeout, this, &FolderChecks::leaveHeldUp);
}

// Looks still under way finish on the pool by themselves and what they find goes nowhere; they are
// given up on now, so that those a stalled mount holds leave the pool a thread in their place.
FolderChecks::~FolderChecks()
{
    for (const std::shared_ptr<Look>& look : std::as_const(m_looking))
        look->course->holdUp(true);
}

void FolderChecks::setCheckForTesting(Check check)
{
    checkForTesting() = std::move(check);
}

ProjectFolder FolderChecks::result(const ComposeProject& project) const
{
    return resultOf(lookKey(project));
}

ProjectFolder FolderChecks::resultOf(const QString& key) const
{
    if (key.isEmpty())
        return {};
    return m_results.value(key, unknownFolder());
}

QString FolderChecks::keyOf(const ComposeProject& project)
{
    return lookKey(project);
}

void FolderChecks::look(const QList<ComposeProject>& projects)
{
    QStringList keys;
    keys.reserve(projects.size());
    for (const ComposeProject& project : projects)
        keys << lookKey(project);
    lookAt(keys);
}

void FolderChecks::lookAt(const QStringList& keys)
{
    QStringList dirs;
    for (const QString& dir : keys)
        if (!dir.isEmpty() && !m_results.contains(dir) && !m_looking.contains(dir))
            dirs << dir;
    if (!dirs.isEmpty())
        start(distinct(dirs));
}

void FolderChecks::lookAgain(const QList<ComposeProject>& projects)
{
    QStringList dirs;
    for (const QString& dir : foldersOf(projects))
        if (!m_looking.contains(dir))
            dirs << dir;
    if (!dirs.isEmpty())
        start(dirs);
}

void FolderChecks::start(const QStringList& dirs)
{
    const Check check = checkForTesting();
    ++m_jobsStarted;
    for (const QString& dir : dirs) {
        auto look = std::make_shared<Look>(dir);
        m_looking.insert(dir, look);
        // The watcher is this object's: what a look finds after the object is gone goes nowhere.
        auto* watcher = new QFutureWatcher<void>(this);
        look->watcher = watcher;
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, look] {
            watcher->deleteLater();
            ended(look);
        });
        // All sent at once, each waited for without a thread of its own: one that stalls holds up no look
        // after it. A server held up past the time a folder is given is given up, and the folder reads as
        // not known until it has ended.
        watcher->setFuture(look->start(look, check, Platform::folderAnswerLimit));
    }
    if (!m_heldUpCheck->isActive())
        m_heldUpCheck->start();
}

void FolderChecks::leaveHeldUp()
{
    bool going = false;
    bool changes = false;
    const QList<std::shared_ptr<Look>> looks = m_looking.values();
    for (const std::shared_ptr<Look>& look : looks) {
        if (look->leftHeldUp || look->course->ended())
            continue;
        look->course->holdUp();
        if (!look->course->isHeldUp()) {
            going = true; // queued, or not looking for long yet
            continue;
        }
        look->leftHeldUp = true;
        // What it held of the folder is as old as the look that does not come back.
        changes = take(look->key, unknownFolder()) || changes;
    }
    if (going && !m_heldUpCheck->isActive())
        m_heldUpCheck->start();
    if (changes)
        emit changed();
}

void FolderChecks::wait()
{
    const QList<std::shared_ptr<Look>> looks = m_looking.values();
    for (const std::shared_ptr<Look>& look : looks) {
        if (look->watcher)
            look->watcher->waitForFinished();
        ended(look);
    }
}

void FolderChecks::ended(const std::shared_ptr<Look>& look)
{
    // Taken already, by wait().
    if (std::exchange(look->taken, true))
        return;
    if (m_looking.value(look->key) == look)
        m_looking.remove(look->key);
    std::optional<ProjectFolder> found;
    {
        const std::lock_guard lock(look->mutex);
        found = look->found;
    }
    if (found && take(look->key, *found))
        emit changed();
    if (std::all_of(m_looking.cbegin(), m_looking.cend(),
                    [](const auto& other) { return other->leftHeldUp; }))
        m_heldUpCheck->stop();
}

bool FolderChecks::take(const QString& dir, const ProjectFolder& folder)
{
    const auto before = m_results.constFind(dir);
    if (before != m_results.cend() && *before == folder)
        return false;
    m_results.insert(dir, folder);
    return true;
}
