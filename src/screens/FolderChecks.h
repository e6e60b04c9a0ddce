#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QTimer;

// The folders of the projects a screen shows, looked at by look servers: whether each is there, holds a
// compose file and builds from source. The screen reads the last results and is told when they change.
// The folders of a round are looked at all at once, off the window's thread and out of the
// application's process, and no thread waits for any of them; a folder on a mount that stalls holds up
// only its own look (and its server), never the window, the polling, the way out or the other folders,
// and is not looked at again until that look (or its server) has come back.
class FolderChecks : public QObject {
    Q_OBJECT

public:
    // How one folder is looked at in tests, in place of a look server's look.
    using Check = std::function<ProjectFolder(const QString& dir)>;

    explicit FolderChecks(QObject* parent = nullptr);
    ~FolderChecks() override;

    // The last result for the project's folder; not known before the first look at it came back, nor
    // while a look at it is held up. A project without a folder needs no look: it has none.
    ProjectFolder result(const ComposeProject& project) const;
    // Looks at the folders of these projects that were never looked at and are not being looked at. A
    // refresh whose projects kept their folders starts nothing.
    void look(const QList<ComposeProject>& projects);
    // Looks at every folder of these projects again, but for those whose look is still under way: one
    // held up for longer than Platform::heldUpAfter reads as not known, and is looked at again only once
    // it has come back.
    void lookAgain(const QList<ComposeProject>& projects);
    // Waits for the looks under way and takes what they found. For pictures and tests, which want
    // the folders settled before they read the screen; the window never waits.
    void wait();
    bool looking() const { return !m_looking.isEmpty(); }
    // How many rounds of looks have been started; for tests.
    int jobsStarted() const { return m_jobsStarted; }

    // Replaces how a folder is looked at (an empty function: a look server's look again).
    static void setCheckForTesting(Check check);

    // The same by what a project's folder is looked at as: its folder, and the files of its own after
    // NULs; empty for a project without a folder. For a list that works out each project's once.
    static QString keyOf(const ComposeProject& project);
    void lookAt(const QStringList& keys);
    ProjectFolder resultOf(const QString& key) const;

signals:
    // A look came back with something else than the result before it.
    void changed();

private:
    struct Look;

    void start(const QStringList& dirs);
    // Leaves each look held up at its folder to that folder, which reads as not known meanwhile.
    void leaveHeldUp();
    void ended(const std::shared_ptr<Look>& look);
    // Keeps what was found of `dir`; whether that changed anything.
    bool take(const QString& dir, const ProjectFolder& folder);

    QHash<QString, ProjectFolder> m_results;         // by folder
    QHash<QString, std::shared_ptr<Look>> m_looking; // by folder: the look under way there
    QTimer* m_heldUpCheck;
    int m_jobsStarted = 0;
};
