#pragma once

// A store, a toolchain store and preferences on settings in memory, filled by the test and never
// polling, for the shell's widgets.

#include "app/parts/Preferences.h"
#include "app/shell/Scenes.h"
#include "platform/Pools.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"
#include "support/Widgets.h"
#include "toolchain/ToolchainStore.h"

#include <QApplication>
#include <QDateTime>

#include <memory>

namespace ShellTesting {

inline DockerImage image(const QString& id, const QString& repository, const QString& tag,
                         const std::optional<Runtime>& runtime = std::nullopt, const QString& size = "4.2MB")
{
    return {id, repository, tag, size, runtime};
}

inline DockerVolume volume(const QString& name, const std::optional<Runtime>& runtime = std::nullopt)
{
    return {name, "local", "/var/lib/docker/volumes/" + name + "/_data", runtime};
}

inline Container container(const QString& name, const QString& state, const QString& project = {})
{
    Container c;
    c.id = "id-" + name;
    c.name = name;
    c.image = "busybox:latest";
    c.state = state;
    c.status = state == "running" ? "Up 5 minutes" : "Exited (0) 1 minute ago";
    if (!project.isEmpty()) {
        c.labels.insert(Docker::projectLabel, project);
        c.labels.insert(Docker::serviceLabel, name);
        c.labels.insert(Docker::workingDirLabel, "/srv/" + project);
    }
    return c;
}

inline RuntimeEntry entry(const QString& name, bool reachable = true, bool current = false)
{
    return {Runtime::context(name), "unix:///run/" + name + ".sock", reachable, current};
}

// The stores on a scripted engine and a clock that stands still: actions record their commands
// instead of running them, and loops that were started sleep until the fixture ends them.
struct Fixture {
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<StoreTesting::ScriptedEngine> engine = std::make_shared<StoreTesting::ScriptedEngine>();
    StoreTesting::FakeClock clock;
    std::unique_ptr<AppStore> owned = std::make_unique<AppStore>(*settings, engine, clock.clock());
    AppStore& store = *owned;
    ToolchainStore toolchain{*settings, ToolchainStore::Host{[] { return false; },
                                                             [] { return QDateTime::currentDateTimeUtc(); }}};
    Preferences preferences{*settings};

    Fixture() { TestSupport::prepareWidgets(); }
    // The two stores, as the windows ask for them.
    Scenes::Stores stores()
    {
        return {[this]() -> AppStore& { return store; }, [this]() -> ToolchainStore& { return toolchain; }};
    }
    ~Fixture()
    {
        // The loops end at their next wake-up once the store is gone.
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
};

// Lets queued rebuilds run.
inline void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace ShellTesting
