#pragma once

// The projects screen's tests run on the store's scripted fixture: the store, its engine and the
// settings in memory, with the widgets prepared.

#include "screens/ProjectFolder.h"
#include "store/StoreFixture.h"
#include "support/Widgets.h"

namespace ProjectsTesting {

using namespace StoreTesting;

// `c` as compose labels it when its project lives in `dir`.
inline Container inFolder(Container c, const QString& dir)
{
    c.labels.insert(Docker::workingDirLabel, dir);
    return c;
}

// What the folder `dir` holds, looked at here and now, in this process, as a look server would.
inline ProjectFolder folderAt(const QString& dir)
{
    return dir.isEmpty() ? ProjectFolder() : ProjectFolder::from(Docker::factsOfFolder(dir));
}

inline ProjectFolder folderOf(const ComposeProject& project)
{
    return folderAt(project.workingDir.value_or(QString()));
}

// A project folder whose compose file builds its service from source.
inline QString buildingFolder(const QTemporaryDir& parent, const QString& name)
{
    const QString dir = projectFolder(parent, name);
    QFile file(dir + "/compose.yaml");
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("services:\n  web:\n    build: .\n");
    return dir;
}

class ProjectsStore : public ScriptedStore {
protected:
    void SetUp() override { TestSupport::prepareWidgets(); }

    // A fresh store showing alpha, which lists `containers`.
    AppStore& showing(const QList<Container>& containers = {})
    {
        AppStore& s = makeStore();
        s.setRuntimes({entry(alpha, true, true)});
        s.setRuntime(alpha);
        s.setContainers(containers);
        return s;
    }
};

// Lets queued redraws run.
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace ProjectsTesting
