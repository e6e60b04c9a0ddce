#include "toolchain/ToolchainStore.h"

#include "platform/ProcessRunner.h"
#include "platform/Settings.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

using Platform::Settings;
using TestSupport::eventually;
using TestSupport::ScopedEnv;

namespace {

const QStringList everyFormula{"container", "socktainer", "docker", "docker-compose", "colima"};

Tool tool(const QString& formula, const QString& installed, const QString& latest, bool brewManaged = true)
{
    for (Tool row : Toolchain::all()) {
        if (row.formula == formula) {
            row.installed = installed;
            row.latest = latest;
            row.brewManaged = brewManaged;
            return row;
        }
    }
    ADD_FAILURE() << "unknown formula " << formula.toStdString();
    return {};
}

// A store on fake tools, with Homebrew present or not and a clock the test sets.
class StoreWithFakes : public testing::Test {
protected:
    void SetUp() override
    {
        answerVersions("1.4.1");
        fakes.answer("brew", QStringList{"list", "--formula", "--versions"} + everyFormula,
                     "container 1.4.1\ncolima 0.8.1\n");
        fakes.answer("brew", QStringList{"info", "--json=v2"} + everyFormula,
                     R"({"formulae":[{"name":"container","versions":{"stable":"1.5.0"}},)"
                     R"({"name":"colima","versions":{"stable":"0.8.1"}}]})");
        fakes.answer("brew", {"update", "--quiet"}, "");
        fakes.answer("container", {"system", "status"}, "status running\nserver.version 1.4.1\n");
        fakes.answer("container", {"builder", "status", "--format", "json"},
                     R"([{"status":{"state":"running"}}])");
        fakes.answer("colima", {"list", "--json"}, R"({"name":"default","status":"Running","cpus":2})");
        fakes.answer("colima", {"--version"}, "colima version 0.8.1\n");
    }

    void answerVersions(const QString& container)
    {
        fakes.answer("container", {"--version"},
                     "container CLI version " + container + " (build: release)\n");
    }

    std::unique_ptr<ToolchainStore> makeStore(Settings& settings)
    {
        ToolchainStore::Host host;
        host.brewPresent = [this] { return brewPresent; };
        host.now = [this] { return now; };
        return std::make_unique<ToolchainStore>(settings, host);
    }

    int callCount(const QString& call) const { return int(fakes.calls().count(call)); }

    TestSupport::FakeTools fakes{{"brew", "container", "socktainer", "docker", "colima"}};
    std::unique_ptr<Settings> settings = Settings::inMemory();
    bool brewPresent = true;
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);
};

} // namespace

TEST_F(StoreWithFakes, LaunchCheckLoadsOnceForBothScenes)
{
    auto store = makeStore(*settings);
    auto window = store->checkAtLaunch(true);
    auto menuBar = store->checkAtLaunch(true);
    QCoro::waitFor(menuBar);
    QCoro::waitFor(window);
    QCoro::waitFor(store->checkAtLaunch(true));

    EXPECT_EQ(callCount("colima list --json"), 1);
    EXPECT_EQ(callCount("brew update --quiet"), 1);
    EXPECT_EQ(store->engine(), (EngineStatus{true, 2, {}}));
    EXPECT_EQ(store->builder(), (BuilderStatus{true, true, {}, {}}));
    EXPECT_EQ(store->status(), (SystemStatus{true, {}, "1.4.1"}));
    EXPECT_TRUE(store->containerInstalled());
    EXPECT_TRUE(store->colimaInstalled());
    EXPECT_EQ(store->noticeText(), "Apple container 1.5.0 is available");
}

TEST_F(StoreWithFakes, LaunchCheckDisabledLoadsButNeverChecks)
{
    auto store = makeStore(*settings);
    QCoro::waitFor(store->checkAtLaunch(false));
    EXPECT_EQ(callCount("colima list --json"), 1);
    EXPECT_EQ(callCount("brew update --quiet"), 0);
    EXPECT_FALSE(store->lastChecked());
}

TEST_F(StoreWithFakes, ChecksOnlyWhenTheLastCheckIsADayOldAbsentOrInTheFuture)
{
    const struct {
        std::optional<qint64> secondsAgo;
        bool brew;
        bool checks;
    } rows[] = {
        {std::nullopt, true, true}, {86400, true, true},          {86399, true, false},  {3600, true, false},
        {-3600, true, true},        {std::nullopt, false, false}, {90000, false, false},
    };
    for (const auto& row : rows) {
        brewPresent = row.brew;
        auto store = makeStore(*settings);
        store->setLastChecked(row.secondsAgo ? std::optional(now.addSecs(-*row.secondsAgo)) : std::nullopt);
        const int before = callCount("brew update --quiet");
        QCoro::waitFor(store->checkIfStale());
        EXPECT_EQ(callCount("brew update --quiet") - before, row.checks ? 1 : 0)
            << (row.secondsAgo ? *row.secondsAgo : -1) << " brew " << row.brew;
    }
}

TEST_F(StoreWithFakes, ACheckRecordsLatestVersionsNoteAndTime)
{
    auto store = makeStore(*settings);
    QSignalSpy checking(store.get(), &ToolchainStore::checkingChanged);
    QCoro::waitFor(store->check());

    EXPECT_EQ(checking.count(), 2);
    EXPECT_FALSE(store->checking());
    EXPECT_EQ(store->note(), std::nullopt);
    EXPECT_EQ(store->lastChecked(), now);
    EXPECT_DOUBLE_EQ(settings->number(ToolchainStore::lastCheckedKey, 0), 1'800'000'000.0);
    ASSERT_EQ(store->tools().size(), 5);
    EXPECT_EQ(store->tools().at(0).latest, "1.5.0");
    EXPECT_EQ(store->tools().at(1).latest, std::nullopt);
    EXPECT_EQ(store->updatable(), QList<Tool>{store->tools().at(0)});
    // The builder and the engine are not read by a check.
    EXPECT_EQ(store->builder(), BuilderStatus{});
    EXPECT_EQ(callCount("colima list --json"), 0);

    // A failed index update still records what brew info said, and waits a day for the next try.
    fakes.answer("brew", {"update", "--quiet"}, "", "Error: no network\n", 1);
    now = now.addSecs(60);
    QCoro::waitFor(store->check());
    EXPECT_EQ(store->note(), "Error: no network");
    EXPECT_EQ(store->lastChecked(), now);
    EXPECT_EQ(store->tools().at(0).latest, "1.5.0");
}

TEST_F(StoreWithFakes, ACheckWhileOneRunsChangesNothing)
{
    auto store = makeStore(*settings);
    auto first = store->check();
    EXPECT_TRUE(store->checking());
    QSignalSpy note(store.get(), &ToolchainStore::noteChanged);
    QCoro::waitFor(store->check());
    EXPECT_TRUE(store->checking());
    EXPECT_EQ(note.count(), 0);
    QCoro::waitFor(first);
    EXPECT_EQ(callCount("brew update --quiet"), 1);
    EXPECT_FALSE(store->checking());
}

TEST_F(StoreWithFakes, ALoadKeepsTheOfferedVersionsWhileRefreshingWhatIsInstalled)
{
    auto store = makeStore(*settings);
    QCoro::waitFor(store->check());
    ASSERT_EQ(store->tools().at(0).installed, "1.4.1");

    answerVersions("1.5.0");
    QCoro::waitFor(store->load());
    EXPECT_EQ(store->tools().at(0).installed, "1.5.0");
    EXPECT_EQ(store->tools().at(0).latest, "1.5.0");
    EXPECT_EQ(store->tools().at(4).latest, "0.8.1");
    EXPECT_TRUE(store->updatable().isEmpty());
    EXPECT_EQ(store->noticeText(), "");
}

TEST_F(StoreWithFakes, AnUnchangedLoadNotifiesNobody)
{
    auto store = makeStore(*settings);
    QCoro::waitFor(store->load());
    QSignalSpy tools(store.get(), &ToolchainStore::toolsChanged);
    QSignalSpy status(store.get(), &ToolchainStore::statusChanged);
    QSignalSpy builder(store.get(), &ToolchainStore::builderChanged);
    QSignalSpy engine(store.get(), &ToolchainStore::engineChanged);
    QCoro::waitFor(store->load());
    EXPECT_EQ(tools.count() + status.count() + builder.count() + engine.count(), 0);

    answerVersions("1.4.2");
    QCoro::waitFor(store->load());
    EXPECT_EQ(tools.count(), 1);
    EXPECT_EQ(status.count() + builder.count() + engine.count(), 0);
}

TEST_F(StoreWithFakes, AnOlderLoadNeverOverwritesANewerOne)
{
    auto store = makeStore(*settings);
    std::optional<ScopedEnv> hang;
    hang.emplace("VOSKEL_FAKE_MODE_container", QByteArray("hang"));
    auto older = store->load();
    ASSERT_TRUE(eventually([&] { return callCount("container --version") == 1; }));
    hang.reset();

    answerVersions("1.6.0");
    QCoro::waitFor(store->load());
    ASSERT_EQ(store->tools().at(0).installed, "1.6.0");

    // The older survey ends now, its container probe killed; its result must be dropped.
    Platform::endRunningChildren(500);
    QCoro::waitFor(older);
    EXPECT_EQ(store->tools().at(0).installed, "1.6.0");
}

TEST_F(StoreWithFakes, AHungBrewIsEndedWhenTheApplicationQuits)
{
    auto store = makeStore(*settings);
    std::optional<ScopedEnv> hang;
    hang.emplace("VOSKEL_FAKE_MODE_brew", QByteArray("hang"));
    auto check = store->check();
    ASSERT_TRUE(eventually([&] { return callCount("brew update --quiet") == 1; }));
    hang.reset();

    Platform::endRunningChildren(500);
    QCoro::waitFor(check);
    EXPECT_FALSE(store->checking());
    EXPECT_EQ(store->note(), "brew update failed (exit 143).");
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

TEST_F(StoreWithFakes, AStoreDestroyedDuringALoadIsLeftAlone)
{
    auto store = makeStore(*settings);
    std::optional<ScopedEnv> hang;
    hang.emplace("VOSKEL_FAKE_MODE_colima", QByteArray("hang"));
    auto load = store->load();
    auto launch = store->checkAtLaunch(true);
    // Both surveys hang on Colima's probe before the environment changes again.
    ASSERT_TRUE(eventually([&] { return callCount("colima --version") == 2; }));
    hang.reset();
    store.reset();
    Platform::endRunningChildren(500);
    QCoro::waitFor(load);
    QCoro::waitFor(launch);
    EXPECT_EQ(callCount("brew update --quiet"), 0);
}

TEST(ToolchainStoreSettings, AStoredLastCheckCountsOnlyWhenPositive)
{
    const struct {
        QVariant stored;
        std::optional<QDateTime> lastChecked;
    } rows[] = {
        {QVariant(), std::nullopt},
        {0.0, std::nullopt},
        {-5.0, std::nullopt},
        {"yesterday", std::nullopt},
        {1e300, std::nullopt},
        {1'717'000'000.5, QDateTime::fromMSecsSinceEpoch(1'717'000'000'500, Qt::UTC)},
    };
    for (const auto& row : rows) {
        auto settings = Settings::inMemory();
        if (row.stored.isValid())
            settings->setValue(ToolchainStore::lastCheckedKey, row.stored);
        ToolchainStore store(*settings, {[] { return false; }, {}});
        EXPECT_EQ(store.lastChecked(), row.lastChecked) << row.stored.toString().toStdString();
    }
}

TEST(ToolchainStoreSettings, DismissedUpdatesStayDismissedAcrossRestarts)
{
    QTemporaryDir config;
    ScopedEnv xdg("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString suite = "voskel.toolchain-test";
    const ToolchainStore::Host host{[] { return false; }, {}};

    Tool container = tool("container", "1.4.1", "1.5.0");
    Tool socktainer = tool("socktainer", "1.2.1", "1.2.1");
    {
        auto settings = Settings::suite(suite);
        ToolchainStore store(*settings, host);
        store.setTools({container, socktainer});
        EXPECT_EQ(store.updatable(), QList<Tool>{container});
        EXPECT_EQ(store.noticeText(), "Apple container 1.5.0 is available");

        socktainer.latest = "1.3.0";
        store.setTools({container, socktainer});
        EXPECT_EQ(store.noticeText(), "2 runtime updates are available");

        QSignalSpy dismissed(&store, &ToolchainStore::dismissedChanged);
        store.dismissNotice();
        EXPECT_EQ(dismissed.count(), 1);
        EXPECT_TRUE(store.pendingUpdates().isEmpty());
        EXPECT_EQ(store.noticeText(), "");
        store.dismissNotice();
        EXPECT_EQ(dismissed.count(), 1);
    }
    {
        auto settings = Settings::suite(suite);
        EXPECT_EQ(settings->stringList(ToolchainStore::dismissedKey),
                  (QStringList{"container 1.5.0", "socktainer 1.3.0"}));
        ToolchainStore store(*settings, host);
        store.setTools({container, socktainer});
        EXPECT_TRUE(store.pendingUpdates().isEmpty());

        // A later version is a new update, whatever was dismissed before.
        container.latest = "1.6.0";
        store.setTools({container, socktainer});
        EXPECT_EQ(store.noticeText(), "Apple container 1.6.0 is available");
    }
    {
        auto settings = Settings::suite(suite);
        ToolchainStore store(*settings, host);
        store.setTools({tool("container", "1.4.1", "1.9.0", false)});
        EXPECT_TRUE(store.updatable().isEmpty());
    }
}

TEST(ToolchainStoreSettings, OneDismissedAndOnePendingNamesThePendingOne)
{
    auto settings = Settings::inMemory();
    settings->setValue(ToolchainStore::dismissedKey, QStringList{"container 1.5.0"});
    ToolchainStore store(*settings, {[] { return false; }, {}});
    store.setTools({tool("container", "1.4.1", "1.5.0"), tool("colima", "0.8.0", "0.8.1")});
    EXPECT_EQ(store.noticeText(), "Colima 0.8.1 is available");
    store.dismissNotice();
    EXPECT_EQ(store.noticeText(), "");
    const QStringList stored = settings->stringList(ToolchainStore::dismissedKey);
    EXPECT_EQ(QSet<QString>(stored.cbegin(), stored.cend()),
              (QSet<QString>{"container 1.5.0", "colima 0.8.1"}));
}
