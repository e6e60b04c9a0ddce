#pragma once

#include "platform/Pools.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "store/ScriptedEngine.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace StoreTesting {

inline const Runtime alpha = Runtime::context("alpha");
inline const Runtime beta = Runtime::context("beta");
inline const Runtime delta = Runtime::context("delta");
inline const Runtime apple = Runtime::socket("apple-container", "/run/apple.sock");

inline QString endpointOf(const Runtime& runtime)
{
    if (runtime.isSocket())
        return "unix://" + runtime.path;
    return "unix:///run/" + runtime.name + ".sock";
}

inline RuntimeEntry entry(const Runtime& runtime, bool reachable = true, bool current = false)
{
    return {runtime, endpointOf(runtime), reachable, current};
}

inline Container container(const QString& name, const QString& state = "running", const QString& project = {},
                           const QString& image = "busybox:latest")
{
    Container c;
    c.id = "id-" + name;
    c.name = name;
    c.image = image;
    c.state = state;
    c.status = state == "running" ? "Up 5 minutes" : "Exited (0) 1 minute ago";
    if (!project.isEmpty()) {
        c.labels.insert(Docker::projectLabel, project);
        c.labels.insert(Docker::serviceLabel, name);
        c.labels.insert(Docker::workingDirLabel, "/srv/" + project);
    }
    return c;
}

using TestSupport::eventually;
using TestSupport::names;

// A project folder under `parent`, with a compose file unless told otherwise.
inline QString projectFolder(const QTemporaryDir& parent, const QString& name, bool withComposeFile = true)
{
    const QString dir = parent.filePath(name);
    QDir().mkpath(dir);
    if (withComposeFile) {
        QFile file(dir + "/compose.yaml");
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("services: {web: {image: busybox}}\n");
    }
    return dir;
}

// A store on a scripted engine, a clock that moves only when told, and settings in memory. At the end
// the store goes first; then every held call is let through and every sleeper woken, so that work
// still under way finds the store gone and ends.
class ScriptedStore : public testing::Test {
protected:
    void TearDown() override
    {
        store.reset();
        engine->openAll();
        Platform::Pools::drain();
        for (int round = 0; round < 50 && (clock.sleeping() > 0 || round < 3); ++round) {
            clock.wakeAll();
            QCoreApplication::processEvents();
            Platform::Pools::drain();
            QCoreApplication::processEvents();
        }
    }

    // The store over the current settings, replacing any earlier one.
    AppStore& makeStore()
    {
        store = std::make_unique<AppStore>(*settings, engine, clock.clock());
        return *store;
    }

    AppStore& storeOn(const QList<RuntimeEntry>& runtimes, const std::optional<Runtime>& shown,
                      bool all = false)
    {
        AppStore& s = store ? *store : makeStore();
        s.setRuntimes(runtimes);
        s.setRuntime(shown);
        s.setShowAll(all);
        return s;
    }

    // alpha shown and listed, beta beside it, with the figures that a change of runtime must drop.
    AppStore& alphaWithFigures()
    {
        listing(alpha, {container("a")});
        listing(beta, {container("b")});
        AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
        run(s.refresh(false));
        s.setUsage(DiskUsage{100, {}, {}, {}, {}});
        s.setStats(LiveStats{{{"a", 1.0}}, {}});
        s.setAddresses({{"a", "10.0.0.2"}});
        return s;
    }

    void listing(const std::optional<Runtime>& runtime, const QList<Container>& containers)
    {
        engine->setListing(runtime, {containers, {}, {}});
    }

    template <typename T>
    static T run(QCoro::Task<T>&& task)
    {
        return QCoro::waitFor(std::move(task));
    }

    // Waits for the listings still under way: a refresh does not wait for those of runtimes already
    // silent.
    static void drain(const AppStore& s)
    {
        EXPECT_TRUE(eventually([&] { return !s.listingUnderWay(); }));
    }

    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    std::shared_ptr<ScriptedEngine> engine = std::make_shared<ScriptedEngine>();
    FakeClock clock;
    std::unique_ptr<AppStore> store;
};

} // namespace StoreTesting
