#include "store/StoreFixture.h"

#include <QSignalSpy>

#include <functional>

using namespace StoreTesting;

namespace {

using Scope = QList<std::optional<Runtime>>;

DockerImage image(const QString& repository, const QString& tag, const QString& id = "sha256:0a1b2c")
{
    return {id, repository, tag, "5MB", std::nullopt};
}

DockerVolume volume(const QString& name)
{
    return {name, "local", "/var/lib/docker/volumes/" + name, std::nullopt};
}

QStringList refs(const QList<DockerImage>& images)
{
    QStringList out;
    for (const DockerImage& i : images)
        out << i.repository + ":" + i.tag;
    return out;
}

QStringList volumeNames(const QList<DockerVolume>& volumes)
{
    QStringList out;
    for (const DockerVolume& v : volumes)
        out << v.name;
    return out;
}

QStringList projectIds(const QList<ComposeProject>& projects)
{
    QStringList out;
    for (const ComposeProject& p : projects)
        out << p.id();
    return out;
}

class Queries : public ScriptedStore {};

} // namespace

TEST_F(Queries, ANewStoreIsEmptyAndReadsOnlyItsTwoSettings)
{
    AppStore& fresh = makeStore();
    EXPECT_TRUE(fresh.runtimes().isEmpty());
    EXPECT_EQ(fresh.runtime(), std::nullopt);
    EXPECT_FALSE(fresh.showAll());
    EXPECT_TRUE(fresh.containers().isEmpty());
    EXPECT_EQ(fresh.usageAt(), AppStore::distantPast());
    EXPECT_LT(fresh.usageAt(), QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    EXPECT_TRUE(fresh.filter().isEmpty());
    EXPECT_EQ(fresh.registry(), ProjectRegistry{});
    EXPECT_FALSE(fresh.isStarted());
    EXPECT_EQ(engine->total(ScriptedEngine::Call::Runtimes), 0);

    settings->setValue(AppStore::showAllKey, true);
    settings->setValue(ProjectRegistry::settingsKey,
                       R"({"alpha":[{"name":"shop","workingDir":"/srv/shop","services":["web"]}]})");
    AppStore& saved = makeStore();
    EXPECT_TRUE(saved.showAll());
    EXPECT_TRUE(saved.registry().knows("shop", "alpha"));
}

TEST_F(Queries, ScopeAddableAndDefaultRuntimeFollowReachability)
{
    const QList<RuntimeEntry> three{entry(alpha), entry(beta, false), entry(delta)};
    const struct {
        const char* what;
        QList<RuntimeEntry> runtimes;
        std::optional<Runtime> shown;
        bool all;
        Scope scope;
        QList<Runtime> addable;
        std::optional<Runtime> preselected;
    } rows[] = {
        {"nothing known", {}, std::nullopt, false, {std::nullopt}, {}, std::nullopt},
        {"nothing reachable, all shown", {entry(beta, false)}, beta, true, {}, {}, beta},
        {"shown runtime reachable", three, delta, false, {delta}, {alpha, delta}, delta},
        {"shown runtime unreachable", three, beta, false, {beta}, {alpha, delta}, alpha},
        {"none shown", three, std::nullopt, false, {std::nullopt}, {alpha, delta}, alpha},
        {"all shown", three, beta, true, {alpha, delta}, {alpha, delta}, alpha},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const AppStore& s = storeOn(row.runtimes, row.shown, row.all);
        EXPECT_EQ(s.scope(), row.scope);
        EXPECT_EQ(s.addableRuntimes(), row.addable);
        EXPECT_EQ(s.defaultAddRuntime(), row.preselected);
    }
}

TEST_F(Queries, TheFilterIsTrimmedLowerCasedAndMatchedAsASubstring)
{
    AppStore& s = makeStore();
    Container shop = container("web-1", "running", "Shop");
    Container db = container("db", "running", "other", "postgres:16");
    Container cafe = container("été-app", "exited");
    Container broken = container("line\nbreak");
    s.setContainers({shop, db, cafe, broken});
    s.setImages(
        {image("registry/box", "1.2", "sha256:deadbeef"), image("Postgres", "16"), image("a\nb", "x")});
    s.setVolumes({volume("ShopData"), volume("cache")});

    const struct {
        const char* filter;
        QStringList containers;
        QStringList images;
        QStringList volumes;
    } rows[] = {
        {"",
         {"web-1", "db", "été-app", "line\nbreak"},
         {"registry/box:1.2", "Postgres:16", "a\nb:x"},
         {"ShopData", "cache"}},
        {" \t ",
         {"web-1", "db", "été-app", "line\nbreak"},
         {"registry/box:1.2", "Postgres:16", "a\nb:x"},
         {"ShopData", "cache"}},
        // No-break and ideographic spaces are trimmed too; case does not matter on either side.
        {"\u00a0SHOP\u3000", {"web-1"}, {}, {"ShopData"}},
        {"postgres", {"db"}, {"Postgres:16"}, {}},
        {"ÉTÉ", {"été-app"}, {}, {}},
        // The colon between repository and tag is part of what is searched; the identifier is not.
        {"box:1", {}, {"registry/box:1.2"}, {}},
        {"deadbeef", {}, {}, {}},
        // A line break inside is kept and must match one.
        {"e\nb", {"line\nbreak"}, {}, {}},
        {"\nb", {"line\nbreak"}, {"a\nb:x"}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.filter);
        s.setFilter(QString::fromUtf8(row.filter));
        EXPECT_EQ(names(s.matchingContainers()), row.containers);
        EXPECT_EQ(refs(s.matchingImages()), row.images);
        EXPECT_EQ(volumeNames(s.matchingVolumes()), row.volumes);
    }
}

TEST_F(Queries, ProjectsMergeTheRegistryAndKeepRememberedOnesOnlyWhenTheirNameMatches)
{
    ProjectRegistry registry;
    registry.add({"Zeta", "/srv/zeta", {"api", "worker"}}, "alpha");
    registry.add({"Archive", "/srv/archive", {"db"}}, "alpha");
    registry.add({"elsewhere", "/srv/elsewhere", {}}, "beta");
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    s.setRegistry(registry);
    Container api = container("api", "running", "Zeta");
    api.runtime = alpha;
    Container loose = container("loose");
    loose.runtime = alpha;
    s.setContainers({api, loose});

    const struct {
        const char* filter;
        QStringList ids;
    } rows[] = {
        {"", {"alpha/Archive", "alpha/Zeta"}},
        {"ARCH", {"alpha/Archive"}},
        // The project stays for its container whatever its own name.
        {"api", {"alpha/Zeta"}},
        {"nothing", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.filter);
        s.setFilter(row.filter);
        EXPECT_EQ(projectIds(s.projects()), row.ids);
    }

    s.setFilter({});
    const QList<ComposeProject> shown = s.projects();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1].serviceCount, 2); // completed from the registry
    EXPECT_EQ(shown[1].containers.size(), 1);
    EXPECT_EQ(shown[0].runtime, alpha);
    EXPECT_TRUE(shown[0].containers.isEmpty());
}

// The remembered projects kept from one listing to the next follow every change: the registry changing
// under the same listing, a project going down or coming up, a folder moved. Judged against the
// registry's own merge of what is listed.
TEST_F(Queries, RememberedProjectsFollowEveryChangeOfTheRegistryAndTheListing)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {"web", "db"}}, "alpha");
    registry.add({"blog", "/srv/blog", {"web"}}, "alpha");
    const auto running = [](const QString& project, const QString& status) {
        Container c = container(project + "-web-1", "running", project);
        c.status = status;
        c.labels.insert(Docker::workingDirLabel, "/srv/" + project);
        c.runtime = alpha;
        return c;
    };
    const auto expected = [&] {
        QList<ComposeProject> merged =
            ProjectRegistry::merge(Docker::group(s.containers()), s.registry().byRuntime.value("alpha"));
        for (ComposeProject& project : merged)
            project.runtime = alpha;
        return merged;
    };
    const std::function<void()> steps[] = {
        [&] { s.setRegistry(registry); },
        [&] { s.setContainers({running("shop", "Up 1 second")}); },
        [&] { s.setContainers({running("shop", "Up 3 seconds")}); },
        [&] {
            registry.add({"news", "/srv/news", {}}, "alpha");
            s.setRegistry(registry);
        },
        [&] {
            registry.add({"blog", "/srv/blog-moved", {"web", "cache"}}, "alpha");
            s.setRegistry(registry);
        },
        [&] { s.setContainers({running("blog", "Up 1 second")}); },
        [&] { s.setContainers({}); },
        [&] {
            registry.forget("shop", "alpha");
            s.setRegistry(registry);
        },
    };
    int step = 0;
    for (const auto& change : steps) {
        SCOPED_TRACE(step++);
        change();
        EXPECT_EQ(s.projects(), expected());
    }
    EXPECT_EQ(projectIds(s.projects()), (QStringList{"alpha/blog", "alpha/news"}));
    EXPECT_EQ(s.projects().first().workingDir, "/srv/blog-moved");
}

TEST_F(Queries, TheWholeProjectBehindAFilteredOneHoldsEveryContainerOnItsOwnRuntime)
{
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop-remembered", {"web", "db"}}, "alpha");
    AppStore& s = storeOn({entry(alpha), entry(beta)}, std::nullopt, true);
    s.setRegistry(registry);
    Container web = container("shop-web", "running", "shop");
    web.runtime = alpha;
    Container db = container("shop-db", "running", "shop");
    db.runtime = alpha;
    Container other = container("shop-web-b", "running", "shop"); // the same name on another runtime
    other.runtime = beta;
    s.setContainers({web, db, other});

    s.setFilter("  WEB ");
    const QList<ComposeProject> shown = s.projects();
    ASSERT_EQ(projectIds(shown), (QStringList{"alpha/shop", "beta/shop"}));
    EXPECT_EQ(names(shown[0].containers), QStringList{"shop-web"});

    const ComposeProject whole = s.wholeProject(shown[0]);
    EXPECT_EQ(whole.id(), "alpha/shop");
    EXPECT_EQ(names(whole.containers), (QStringList{"shop-db", "shop-web"}));
    EXPECT_EQ(whole.serviceCount, 2);
    EXPECT_EQ(whole.workingDir, "/srv/shop"); // the label's folder, as the unfiltered list has it
    EXPECT_EQ(names(s.wholeProject(shown[1]).containers), QStringList{"shop-web-b"});

    // Gone from the listing since it was shown: the remembered project, else the copy as it was.
    s.setContainers({});
    EXPECT_TRUE(s.wholeProject(shown[0]).containers.isEmpty());
    EXPECT_EQ(s.wholeProject(shown[0]).workingDir, "/srv/shop-remembered");
    EXPECT_EQ(s.wholeProject(shown[1]), shown[1]);
}

TEST_F(Queries, ProjectsOfAllRuntimesAreSortedByNameThenRuntime)
{
    ProjectRegistry registry;
    registry.add({"shop", "/srv/shop", {"web"}}, "alpha");
    registry.add({"admin", "/srv/admin", {}}, "delta");
    AppStore& s = storeOn({entry(delta), entry(beta), entry(alpha), entry(Runtime::context("down"), false)},
                          std::nullopt, true);
    s.setRegistry(registry);
    Container onBeta = container("b-web", "running", "shop");
    onBeta.runtime = beta;
    Container onGamma = container("g-web", "running", "shop");
    onGamma.runtime = delta;
    s.setContainers({onGamma, onBeta});

    EXPECT_EQ(projectIds(s.projects()),
              (QStringList{"delta/admin", "alpha/shop", "beta/shop", "delta/shop"}));

    s.setRuntimes({entry(alpha, false), entry(beta, false)});
    EXPECT_TRUE(s.scope().isEmpty());
    EXPECT_TRUE(s.projects().isEmpty()); // the registry alone shows nothing without a runtime in scope
}

TEST_F(Queries, RunningCountIgnoresTheFilterAndCountsOnlyRunning)
{
    AppStore& s = makeStore();
    s.setContainers({container("a"), container("b", "paused"), container("c", "exited"), container("d"),
                     container("e", "Running")});
    s.setFilter("a");
    EXPECT_EQ(s.runningCount(), 2);
}

TEST_F(Queries, AppleRuntimeAndAddressesAreKnownOnlyForRunningAppleContainers)
{
    const Runtime bridged = Runtime::context("bridged");
    AppStore& s =
        storeOn({entry(alpha), {bridged, "unix:///x/.socktainer/container.sock", true, false}}, alpha);
    s.setAddresses({{"web", "192.168.64.3"}});

    const struct {
        const char* what;
        std::optional<Runtime> runtime;
        bool apple;
    } runtimes[] = {
        {"socket", apple, true},         {"context through the bridge", bridged, true},
        {"plain context", alpha, false}, {"unlisted context", Runtime::context("unlisted"), false},
        {"none", std::nullopt, false},
    };
    for (const auto& row : runtimes) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(s.isApple(row.runtime), row.apple);
    }

    Container web = container("web");
    web.runtime = apple;
    EXPECT_EQ(s.address(web), "192.168.64.3");
    web.state = "exited";
    EXPECT_EQ(s.address(web), std::nullopt);
    web.state = "running";
    web.runtime = alpha;
    EXPECT_EQ(s.address(web), std::nullopt);
    web.runtime = std::nullopt; // falls back to the shown runtime
    EXPECT_EQ(s.address(web), std::nullopt);
    s.setRuntime(bridged);
    EXPECT_EQ(s.address(web), "192.168.64.3");
    EXPECT_EQ(s.address(container("db")), std::nullopt);
}

TEST_F(Queries, AssigningAnEqualValueNotifiesNobody)
{
    AppStore& s = makeStore();
    QSignalSpy containers(&s, &AppStore::containersChanged);
    QSignalSpy error(&s, &AppStore::errorChanged);
    QSignalSpy runtime(&s, &AppStore::runtimeChanged);
    QSignalSpy filter(&s, &AppStore::filterChanged);

    s.setContainers({container("a")});
    s.setContainers({container("a")});
    s.setError("failed");
    s.setError("failed");
    s.setRuntime(alpha);
    s.setRuntime(Runtime::context("alpha"));
    s.setFilter("x");
    s.setFilter("x");
    s.setRuntime(Runtime::socket("alpha", "/run/alpha.sock")); // same name, other kind: a change

    EXPECT_EQ(containers.count(), 1);
    EXPECT_EQ(error.count(), 1);
    EXPECT_EQ(runtime.count(), 2);
    EXPECT_EQ(filter.count(), 1);
}
