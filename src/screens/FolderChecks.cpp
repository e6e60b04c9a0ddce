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

// The files a project is looked for by: those a remembered project was started from, or those its
// containers were made from when the folder's own look would not find them (`-f stack.yml`, a file in
// another folder). None where the folder's usual compose files are its files.
QStringList ownFiles(const ComposeProject& project)
{
    if (!project.rememberedFiles.isEmpty())
        return project.rememberedFiles;
    QStringList files;
    try {
        files = Docker::composeFileNames(project).files;
    } catch (const DockerError&) {
        return {};
    }
    const QString dir = QDir::cleanPath(*project.workingDir);
    const bool usual = std::all_of(files.cbegin(), files.cend(), [&](const QString& file) {
        const QFileInfo info(file);
        const QString name = info.fileName();
        static const QStringList overrides{QStringLiteral("compose.override.yaml"),
                                           QStringLiteral("compose.override.yml"),
                                           QStringLiteral("docker-compose.override.yaml"),
                                           QStringLiteral("docker-compose.override.yml")};
        return QDir::cleanPath(info.absolutePath()) == dir &&
               (Docker::composeFileNames().contains(name) || overrides.contains(name));
    });
    return usual ? QStringList() : files;
}

// What a project's folder is looked at as: the folder, and for a project started from files of its own,
// those files, each after a NUL.
QString lookKey(const ComposeProject& project)
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    QString key = *project.workingDir;
    for (const QString& file : ownFiles(project))
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

// One folder's look on the disk pool.
struct FolderChecks::Look {
    explicit Look(QString lookKey)
        : key(std::move(lookKey)), dir(key.section(QChar(0), 0, 0)),
          files(key.split(QChar(0)).mid(1))
    {
    }

    const QString key;
    const QString dir;
    const QStringList files; // the compose files a remembered project was started from
    Platform::detail::DiskJob course;
    // The window's side.
    QPointer<QFutureWatcher<void>> watcher;
    bool leftHeldUp = false;
    bool taken = false;
    // Set by the look before its course ends.
    std::mutex mutex;
    std::optional<ProjectFolder> found;

    // `check` replaces the look server's look in tests.
    void run(const Check& check, const QDeadlineTimer& deadline)
    {
        course.begin();
        // A folder another look has been held up at (a disk-usage pass, a plan) does not answer, nor one
        // whose look server did not answer in time.
        ProjectFolder result = unknownFolder();
        if (std::optional<Platform::detail::FolderLookClaim> claim = Platform::detail::claimFolderLook(dir)) {
            if (check) {
                result = check(dir);
                Platform::detail::releaseFolderLook(*claim);
            } else if (!files.isEmpty()) {
                // Its own files, wherever they are: compose is given them and looks for no other.
                if (const std::optional<Docker::ComposeFilesFound> found = Platform::detail::askFor(
                        course, Docker::Looks::composeFiles(dir, files), deadline, std::move(claim)))
                    result = ProjectFolder::from(*found);
            } else if (const std::optional<Docker::FolderFacts> facts = Platform::detail::askFor(
                           course, Docker::Looks::folderFacts(dir), deadline, std::move(claim))) {
                result = ProjectFolder::from(*facts);
            }
        }
        {
            const std::lock_guard lock(mutex);
            found = result;
        }
        course.end();
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
        look->course.holdUp(true);
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
        // Each look on its own: one that stalls holds up no look queued after it for longer than it takes
        // to find it held up, when the pool gets a thread in its place.
        // A server held up past the time a folder is given is given up, and the folder reads as not known
        // until it has ended.
        const QDeadlineTimer deadline(Platform::folderAnswerLimit);
        watcher->setFuture(QtConcurrent::run(Platform::Pools::disk(),
                                             [look, check, deadline] { look->run(check, deadline); }));
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
        if (look->leftHeldUp || look->course.ended())
            continue;
        look->course.holdUp();
        if (!look->course.isHeldUp()) {
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
