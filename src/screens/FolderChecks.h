#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

// The folders of the projects a screen shows, looked at on the disk pool: whether each is there,
// holds a compose file and builds from source. The screen reads the last results and is told when they
// change. The folders are gone through one after another in one job, off the window's thread; a folder
// on a mount that stalls holds up only its own look, never the window, the polling, the way out or the
// other folders, and is not looked at again until that look comes back.
class FolderChecks : public QObject {
    Q_OBJECT

public:
    // How one folder is looked at; ProjectFolder::at unless a test says otherwise.
    using Check = std::function<ProjectFolder(const QString& dir)>;

    explicit FolderChecks(QObject* parent = nullptr);
    ~FolderChecks() override;

    // The last result for the project's folder; not known before the first look at it came back, nor
    // while a look at it is held up. A project without a folder needs no look: it has none.
    ProjectFolder result(const ComposeProject& project) const;
    // Looks at the folders of these projects that were never looked at and are not being looked at. A
    // refresh whose projects kept their folders starts nothing.
    void look(const QList<ComposeProject>& projects);
    // Looks at every folder of these projects again, unless the job before is still going through its
    // folders. A job held up at one folder for longer than Platform::heldUpAfter is left to that folder:
    // it stops there once the look comes back, and a new job goes on with the folders after it.
    void lookAgain(const QList<ComposeProject>& projects);
    // Waits for the looks under way and takes what they found. For pictures and tests, which want
    // the folders settled before they read the screen; the window never waits.
    void wait();
    bool looking() const { return !m_looking.isEmpty(); }
    // How many jobs have gone through folders; for tests.
    int jobsStarted() const { return m_jobsStarted; }

    // Replaces how a folder is looked at (an empty function: ProjectFolder::at again).
    static void setCheckForTesting(Check check);

signals:
    // A look came back with something else than the result before it.
    void changed();

private:
    struct Job;

    void start(const QStringList& dirs);
    // Leaves a job held up at a folder to that folder, takes what it found before, and goes on with the
    // rest in a new job.
    void leaveHeldUp();
    void take(const std::shared_ptr<Job>& job);
    void ended(const std::shared_ptr<Job>& job);

    QHash<QString, ProjectFolder> m_results;        // by folder
    QHash<QString, std::shared_ptr<Job>> m_looking; // by folder: the job that has it to look at
    QList<std::shared_ptr<Job>> m_jobs;             // under way, oldest first
    QTimer* m_heldUpCheck;
    int m_jobsStarted = 0;
};
