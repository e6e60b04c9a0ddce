#include "store/AppStore.h"

#include "engine/Docker.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

using TestSupport::docker;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;

namespace {

const Runtime defaultContext = Runtime::context("default");

std::optional<Container> named(const QList<Container>& containers, const QString& name)
{
    for (const Container& c : containers)
        if (c.name == name)
            return c;
    return std::nullopt;
}

int writesOf(const QSignalSpy& changes, const QString& key)
{
    return int(std::count_if(changes.cbegin(), changes.cend(),
                             [&](const QList<QVariant>& args) { return args.value(0).toString() == key; }));
}

// A store on the real engine with a client configuration of its own, so the only contexts are the
// built-in one and those a test adds: one reached through a symbolic link to the engine's socket
// (removing the link makes it vanish) or one at an address where nothing answers.
class StoreOnEngine : public testing::Test {
protected:
    QTemporaryDir config;
    QTemporaryDir sockets;
    ScopedEnv dockerConfig{"DOCKER_CONFIG", config.path().toUtf8()};
    ScopedEnv dockerHost{"DOCKER_HOST", std::nullopt};
    ScopedEnv dockerContext{"DOCKER_CONTEXT", std::nullopt};
    std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    QString base = uniqueName("store");
    QString link = sockets.filePath("engine.sock");
    QStringList made;

    void SetUp() override
    {
        VOSKEL_REQUIRE_ENGINE();
        Docker::setAppleSocketPathForTesting(sockets.filePath("no-apple.sock"));
    }

    void TearDown() override
    {
        if (!made.isEmpty())
            docker(QStringList{"rm", "-f"} + made);
        Docker::setAppleSocketPathForTesting(QString());
    }

    void addContext(const QString& name, const QString& endpoint)
    {
        const auto created = docker({"context", "create", name, "--docker", "host=" + endpoint});
        ASSERT_EQ(created.status, 0) << created.err.toStdString();
    }

    void addLinkedContext(const QString& name)
    {
        if (!QFile::exists(link)) {
            ASSERT_TRUE(QFile::link("/var/run/docker.sock", link));
        }
        addContext(name, "unix://" + link);
    }

    // A container that keeps running, optionally labelled as a compose project's service.
    void runContainer(const QString& name, const QString& project = {})
    {
        made << name;
        QStringList args{"run", "-d", "--network", "none", "--name", name};
        if (!project.isEmpty())
            args << "--label" << QString(Docker::projectLabel) + "=" + project << "--label"
                 << QString(Docker::serviceLabel) + "=web"
                 << "--label" << QString(Docker::workingDirLabel) + "=" + sockets.path();
        args << TestSupport::testImage() << "sleep"
             << "600";
        const auto started = docker(args);
        ASSERT_EQ(started.status, 0) << started.err.toStdString();
    }
};

} // namespace

TEST_F(StoreOnEngine, RefreshListsTheShownRuntime)
{
    const QString web = base + "-web";
    const QString project = base + "-shop";
    ASSERT_NO_FATAL_FAILURE(runContainer(web, project));
    AppStore store(*settings);

    QCoro::waitFor(store.loadContexts());

    ASSERT_FALSE(store.runtimes().isEmpty());
    EXPECT_EQ(store.runtimes()[0].runtime, defaultContext);
    EXPECT_TRUE(store.runtimes()[0].current);
    EXPECT_EQ(store.runtime(), defaultContext);
    EXPECT_EQ(store.error(), std::nullopt);
    const auto listed = named(store.containers(), web);
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->state, "running");
    EXPECT_EQ(listed->runtime, defaultContext);
    EXPECT_TRUE(std::any_of(store.images().cbegin(), store.images().cend(),
                            [](const DockerImage& i) { return i.ref() == TestSupport::testImage(); }));
    EXPECT_GE(store.runningCount(), 1);

    store.setFilter(project.toUpper());
    ASSERT_EQ(store.projects().size(), 1);
    EXPECT_EQ(store.projects()[0].containers.size(), 1);
    EXPECT_EQ(store.projects()[0].runtime, defaultContext);
    EXPECT_TRUE(store.registry().knows(project, QStringLiteral("default")));
}

TEST_F(StoreOnEngine, ShowingAllNamesTheRuntimeThatNeverAnswers)
{
    const QString dead = base + "-dead";
    ASSERT_NO_FATAL_FAILURE(addContext(dead, "tcp://127.0.0.1:1"));
    const QString web = base + "-web";
    ASSERT_NO_FATAL_FAILURE(runContainer(web));
    AppStore store(*settings);
    QCoro::waitFor(store.loadContexts());
    ASSERT_EQ(store.runtimes().size(), 2);

    QCoro::waitFor(store.show(true));

    EXPECT_EQ(store.unanswered(), QStringList{dead});
    EXPECT_EQ(store.notice(), dead + QStringLiteral(" is not answering \u2014 showing the rest."));
    EXPECT_EQ(store.error(), std::nullopt);
    ASSERT_TRUE(named(store.containers(), web));
    EXPECT_EQ(named(store.containers(), web)->runtime, defaultContext);
    EXPECT_TRUE(settings->boolean(AppStore::showAllKey, false));
}

TEST_F(StoreOnEngine, HandsOverWhenTheShownRuntimesSocketLinkIsRemoved)
{
    const QString linked = base + "-linked";
    ASSERT_NO_FATAL_FAILURE(addLinkedContext(linked));
    const QString web = base + "-web";
    ASSERT_NO_FATAL_FAILURE(runContainer(web));
    AppStore store(*settings);
    QCoro::waitFor(store.loadContexts());
    QCoro::waitFor(store.select(linked));
    ASSERT_EQ(store.runtime(), Runtime::context(linked));
    ASSERT_TRUE(named(store.containers(), web));
    EXPECT_EQ(named(store.containers(), web)->runtime, Runtime::context(linked));

    ASSERT_TRUE(QFile::remove(link));
    QCoro::waitFor(store.refresh(false));

    EXPECT_EQ(store.runtime(), defaultContext);
    EXPECT_EQ(store.notice(), linked + QStringLiteral(" is not answering \u2014 switched to default."));
    EXPECT_EQ(store.error(), std::nullopt);
    ASSERT_TRUE(named(store.containers(), web));
    EXPECT_EQ(named(store.containers(), web)->runtime, defaultContext);
    const auto entry = std::find_if(store.runtimes().cbegin(), store.runtimes().cend(),
                                    [&](const RuntimeEntry& e) { return e.id() == linked; });
    ASSERT_NE(entry, store.runtimes().cend());
    EXPECT_FALSE(entry->reachable);
}

TEST_F(StoreOnEngine, TheRegistryIsWrittenOnceForANewRuntimeAndNotAgain)
{
    const QString fresh = base + "-fresh";
    ASSERT_NO_FATAL_FAILURE(addLinkedContext(fresh));
    AppStore store(*settings);
    QCoro::waitFor(store.loadContexts());
    QSignalSpy writes(settings.get(), &Platform::Settings::changed);

    QCoro::waitFor(store.select(fresh));
    EXPECT_TRUE(store.registry().byRuntime.contains(fresh));
    EXPECT_EQ(writesOf(writes, ProjectRegistry::settingsKey), 1);
    EXPECT_EQ(ProjectRegistry::load(*settings), store.registry());

    // Other users of the engine may start compose projects meanwhile, which rightly changes the
    // registry; a refresh that changes nothing must write nothing.
    int unchanged = 0;
    const QDeadlineTimer patience(std::chrono::minutes(2));
    while (unchanged < 2 && !patience.hasExpired()) {
        QSignalSpy changed(&store, &AppStore::registryChanged);
        const int before = writesOf(writes, ProjectRegistry::settingsKey);
        QCoro::waitFor(store.refresh(false));
        if (changed.isEmpty()) {
            ++unchanged;
            EXPECT_EQ(writesOf(writes, ProjectRegistry::settingsKey), before);
        }
    }
    EXPECT_EQ(unchanged, 2);
}

TEST_F(StoreOnEngine, StatisticsOfARunningContainer)
{
    const QString web = base + "-web";
    ASSERT_NO_FATAL_FAILURE(runContainer(web));
    AppStore store(*settings);
    QCoro::waitFor(store.loadContexts());

    // A reading takes every container on the engine within the application's limit, which an engine
    // that other runs keep busy outlasts now and then (the client waits on a container removed while
    // it reads): it is read again then, for two minutes at most.
    const QDeadlineTimer patience(120000);
    int asked = 0;
    do {
        QCoro::waitFor(store.loadStats());
        ++asked;
    } while (!patience.hasExpired() && !(store.stats() && store.stats()->memory.value(web) > 0));

    ASSERT_TRUE(store.stats());
    EXPECT_GT(store.stats()->memory.value(web), 0);
    EXPECT_TRUE(store.stats()->cpu.contains(web));
    EXPECT_EQ(store.cpuSamples().keys(), QStringList{"default"});
    EXPECT_EQ(store.statsAsked(), asked);

    QCoro::waitFor(store.loadAddresses());
    EXPECT_TRUE(store.addresses().isEmpty());
}
