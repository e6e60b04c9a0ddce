#pragma once

#include "engine/ComposeProject.h"
#include "screens/ProjectFolder.h"

#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

// The folders of the projects a screen shows, looked at on the disk pool: whether each is there,
// holds a compose file and builds from source. The screen reads the last results and is told when one
// changes; a folder on a mount that stalls holds up only its own look, never the window, the polling or
// the way out, and is not looked at again until that look comes back.
class FolderChecks : public QObject {
    Q_OBJECT

public:
    // How one folder is looked at; ProjectFolder::at unless a test says otherwise.
    using Check = std::function<ProjectFolder(const QString& dir)>;

    explicit FolderChecks(QObject* parent = nullptr);
    ~FolderChecks() override;

    // The last result for the project's folder; not known before the first look at it came back. A
    // project without a folder needs no look: it has none.
    ProjectFolder result(const ComposeProject& project) const;
    // Looks at each project's folder again, unless a look at it is still under way.
    void look(const QList<ComposeProject>& projects);
    // Waits for the looks under way and takes what they found. For pictures and tests, which want
    // the folders settled before they read the screen; the window never waits.
    void wait();
    bool looking() const { return !m_looking.isEmpty(); }

    // Replaces how a folder is looked at (an empty function: ProjectFolder::at again).
    static void setCheckForTesting(Check check);

signals:
    // A look came back with something else than the result before it.
    void changed();

private:
    struct Look {
        quint64 serial;
        QPointer<QFutureWatcher<ProjectFolder>> watcher;
    };

    void take(const QString& dir, quint64 serial, const ProjectFolder& found);

    QHash<QString, ProjectFolder> m_results; // by folder
    QHash<QString, Look> m_looking;          // by folder
    quint64 m_serial = 0;
};
