#include "screens/FolderChecks.h"

#include "platform/Pools.h"

#include <QtConcurrent/QtConcurrentRun>

namespace {

FolderChecks::Check& checkForTesting()
{
    static FolderChecks::Check check;
    return check;
}

} // namespace

FolderChecks::FolderChecks(QObject* parent) : QObject(parent)
{
}

// Looks still under way finish on the pool by themselves; what they find goes nowhere.
FolderChecks::~FolderChecks() = default;

void FolderChecks::setCheckForTesting(Check check)
{
    checkForTesting() = std::move(check);
}

ProjectFolder FolderChecks::result(const ComposeProject& project) const
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    ProjectFolder unknown;
    unknown.known = false;
    return m_results.value(*project.workingDir, unknown);
}

void FolderChecks::look(const QList<ComposeProject>& projects)
{
    const Check check = checkForTesting() ? checkForTesting() : Check(&ProjectFolder::at);
    for (const ComposeProject& project : projects) {
        if (!project.workingDir || project.workingDir->isEmpty() || m_looking.contains(*project.workingDir))
            continue;
        const QString dir = *project.workingDir;
        const quint64 serial = ++m_serial;
        // The watcher is this object's: what a look finds after the object is gone goes nowhere.
        auto* watcher = new QFutureWatcher<ProjectFolder>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, dir, serial] {
            watcher->deleteLater();
            take(dir, serial, watcher->result());
        });
        m_looking.insert(dir, {serial, watcher});
        watcher->setFuture(QtConcurrent::run(Platform::Pools::disk(), [check, dir] { return check(dir); }));
    }
}

void FolderChecks::wait()
{
    const QHash<QString, Look> looking = m_looking;
    for (auto it = looking.cbegin(); it != looking.cend(); ++it) {
        if (!it->watcher)
            continue;
        QFuture<ProjectFolder> future = it->watcher->future();
        future.waitForFinished();
        take(it.key(), it->serial, future.result());
    }
}

void FolderChecks::take(const QString& dir, quint64 serial, const ProjectFolder& found)
{
    const auto looking = m_looking.constFind(dir);
    // Taken already, by wait().
    if (looking == m_looking.cend() || looking->serial != serial)
        return;
    m_looking.erase(looking);
    const auto before = m_results.constFind(dir);
    if (before != m_results.cend() && *before == found)
        return;
    m_results.insert(dir, found);
    emit changed();
}
