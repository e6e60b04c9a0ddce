#pragma once

// A store on a scripted engine and settings in memory, filled by the test and never polling, for the
// projects screen's widgets.

#include "platform/Pools.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"
#include "support/Widgets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace ProjectsTesting {

inline Container container(const QString& name, const QString& state, const QString& project = {},
                           const QString& dir = {})
{
    Container c;
    c.id = "id-" + name;
    c.name = name;
    c.image = "busybox:latest";
    c.state = state;
    c.status = state == "running" ? "Up 5 minutes" : "Exited (0) 1 minute ago";
    if (!project.isEmpty()) {
        c.labels.insert(Docker::projectLabel, project);
        c.labels.insert(Docker::serviceLabel, name.section(u'-', -1));
        c.labels.insert(Docker::workingDirLabel, dir.isEmpty() ? "/srv/" + project : dir);
    }
    return c;
}

inline RuntimeEntry entry(const QString& name, bool reachable = true, bool current = false)
{
    return {Runtime::context(name), "unix:///run/" + name + ".sock", reachable, current};
}

// A folder under `parent` holding a compose file (with a build section when asked), or none.
inline QString projectFolder(const QTemporaryDir& parent, const QString& name, bool composeFile = true,
                             bool builds = false)
{
    const QString dir = parent.filePath(name);
    QDir().mkpath(dir);
    if (composeFile) {
        QFile file(dir + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(builds ? "services:\n  web:\n    build: .\n" : "services:\n  web:\n    image: busybox\n");
    }
    return dir;
}

// The store on a scripted engine and a clock that stands still: actions record their commands instead
// of running them.
struct Fixture {
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<StoreTesting::ScriptedEngine> engine = std::make_shared<StoreTesting::ScriptedEngine>();
    StoreTesting::FakeClock clock;
    std::unique_ptr<AppStore> owned = std::make_unique<AppStore>(*settings, engine, clock.clock());
    AppStore& store = *owned;

    Fixture() { TestSupport::prepareWidgets(); }
    ~Fixture()
    {
        owned.reset();
        engine->openAll();
        Platform::Pools::drain();
        for (int round = 0; round < 50 && (clock.sleeping() > 0 || round < 3); ++round) {
            clock.wakeAll();
            QCoreApplication::processEvents();
            Platform::Pools::drain();
            QCoreApplication::processEvents();
        }
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    // One runtime, shown, with `containers` listed on it.
    void showOne(const QString& runtime, const QList<Container>& containers = {})
    {
        store.setRuntimes({entry(runtime, true, true)});
        store.setRuntime(Runtime::context(runtime));
        store.setContainers(containers);
    }
};

// Lets queued rebuilds run.
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace ProjectsTesting
