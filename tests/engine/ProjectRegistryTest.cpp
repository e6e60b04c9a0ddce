#include "engine/ProjectRegistry.h"

#include "engine/Docker.h"
#include "platform/Settings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using Platform::Settings;
using TestSupport::names;

namespace {

const std::optional<QString> colima = QStringLiteral("colima");

Container serviceContainer(const QString& name, const std::optional<QString>& service)
{
    QMap<QString, QString> labels{{Docker::projectLabel, "web"}};
    if (service)
        labels.insert(Docker::serviceLabel, *service);
    return Container{name, name, "img", "running", "Up", "", labels, Runtime::context("colima")};
}

ComposeProject discovered(const QString& name, const std::optional<QString>& dir,
                          const QList<Container>& containers = {})
{
    return ComposeProject{name, dir, containers, 0, Runtime::context("colima")};
}

// Project folders, some with a compose file and some without.
class Folders : public testing::Test {
protected:
    QTemporaryDir root;
    QString withFile = root.filePath("with-file");
    QString withoutFile = root.filePath("without-file");

    void SetUp() override
    {
        ASSERT_TRUE(QDir(root.path()).mkpath("with-file"));
        ASSERT_TRUE(QDir(root.path()).mkpath("without-file"));
        QFile file(withFile + "/compose.yaml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
};

// A settings suite in a configuration folder of the test's own.
class RegistrySuite : public testing::Test {
protected:
    QTemporaryDir home;
    TestSupport::ScopedEnv config{"XDG_CONFIG_HOME", home.path().toUtf8()};
    const QString suite = QStringLiteral("voskel.registrytest");
};

} // namespace

TEST_F(RegistrySuite, RoundTripsThroughASettingsSuite)
{
    ProjectRegistry registry;
    registry.add({"web", "/srv/web", {"api", "db"}}, colima);
    registry.add({"a, \"quoted\" = name", "/srv/ünï cödé", {}}, QStringLiteral("apple-container"));
    registry.record({}, QStringLiteral("default"));
    {
        auto settings = Settings::suite(suite);
        registry.save(*settings);
    }
    auto reopened = Settings::suite(suite);
    EXPECT_EQ(ProjectRegistry::load(*reopened), registry);
    EXPECT_TRUE(ProjectRegistry::load(*reopened).byRuntime.contains("default"));

    // Stored as the JSON text of the agreed shape, under "knownProjects".
    const QJsonObject stored = QJsonDocument::fromJson(reopened->string("knownProjects").toUtf8()).object();
    EXPECT_EQ(
        stored.value("colima").toArray().first().toObject(),
        (QJsonObject{{"name", "web"}, {"workingDir", "/srv/web"}, {"services", QJsonArray{"api", "db"}}}));
}

TEST(RegistryLoading, NothingOrNonsenseGivesAnEmptyRegistry)
{
    auto settings = Settings::inMemory();
    EXPECT_EQ(ProjectRegistry::load(*settings), ProjectRegistry{});
    for (const QVariant& value :
         {QVariant("not json"), QVariant("[1,2]"), QVariant(QByteArray("\xff\xfe")), QVariant(7)}) {
        settings->setValue("knownProjects", value);
        EXPECT_EQ(ProjectRegistry::load(*settings), ProjectRegistry{}) << value.toString().toStdString();
    }
    // Bytes stored by an earlier writer read the same as text.
    settings->setValue("knownProjects",
                       QByteArray(R"({"colima":[{"name":"web","workingDir":"/w","services":[]}]})"));
    EXPECT_TRUE(ProjectRegistry::load(*settings).knows("web", colima));
}

TEST(RegistryLoading, OneMalformedEntryDoesNotCostTheOthers)
{
    const QByteArray json = R"({
        "colima": [
            {"name": "keep-1", "workingDir": "/a", "services": ["x"]},
            {"name": "no-services", "workingDir": "/b"},
            {"name": "bad-service", "workingDir": "/c", "services": ["ok", 3]},
            {"name": 5, "workingDir": "/d", "services": []},
            "not an object",
            {"name": "keep-2", "workingDir": "/e", "services": [], "extra": true}
        ],
        "default": {"name": "not a list"},
        "other": [{"workingDir": "/f", "services": []}]
    })";
    const ProjectRegistry registry = ProjectRegistry::fromJson(json);
    EXPECT_EQ(registry.byRuntime.value("colima"),
              (QList<KnownProject>{{"keep-1", "/a", {"x"}}, {"keep-2", "/e", {}}}));
    EXPECT_FALSE(registry.byRuntime.contains("default"));
    EXPECT_TRUE(registry.byRuntime.value("other").isEmpty());
}

TEST_F(Folders, RecordingRemembersWhatWasDiscovered)
{
    ProjectRegistry registry;
    registry.add({"web", withFile, {"api", "db"}}, colima);
    registry.add({"old", "/srv/old", {"x"}}, colima);

    registry.record({discovered("web", withoutFile), // no service labels; its directory has no compose file
                     discovered("new", "/srv/new"),
                     discovered("dirless", std::nullopt, {serviceContainer("d1", "s")}),
                     discovered("svc", "/srv/svc",
                                {serviceContainer("c1", "worker"), serviceContainer("c2", std::nullopt),
                                 serviceContainer("c3", "api"), serviceContainer("c4", "worker")})},
                    colima);
    // The folder the containers name is the project's now, even when only the remembered one holds a
    // compose file: it was brought up from there (with files of other names) since.
    EXPECT_EQ(registry.byRuntime.value("colima"),
              (QList<KnownProject>{{"web", withoutFile, {"api", "db"}},
                                   {"old", "/srv/old", {"x"}},
                                   {"new", "/srv/new", {}},
                                   {"svc", "/srv/svc", {"api", "worker", "worker"}}}));

    // Services seen now replace the remembered ones.
    ProjectRegistry moved = registry;
    moved.record({discovered("web", withFile, {serviceContainer("w1", "front")})}, colima);
    EXPECT_EQ(moved.byRuntime.value("colima").first(), (KnownProject{"web", withFile, {"front"}}));
}

TEST(RegistryOperations, EmptyRecordingStoresAnEmptyList)
{
    ProjectRegistry registry;
    registry.record({}, colima);
    EXPECT_TRUE(registry.byRuntime.contains("colima"));
    EXPECT_TRUE(registry.byRuntime.value("colima").isEmpty());
}

TEST(RegistryOperations, NoRuntimeMeansNoChange)
{
    ProjectRegistry registry;
    registry.add({"web", "/w", {}}, colima);
    const ProjectRegistry before = registry;
    registry.record({discovered("x", "/x")}, std::nullopt);
    registry.add({"y", "/y", {}}, std::nullopt);
    registry.forget("web", std::nullopt);
    EXPECT_EQ(registry, before);
    EXPECT_FALSE(registry.knows("web", std::nullopt));
    EXPECT_TRUE(registry.knows("web", colima));
    EXPECT_FALSE(registry.knows("web", QStringLiteral("default")));
}

TEST(RegistryOperations, AddReplacesInPlaceAndForgetRemovesEveryCopy)
{
    ProjectRegistry registry;
    registry.byRuntime["colima"] = {{"a", "/a", {}}, {"dup", "/1", {}}, {"b", "/b", {}}, {"dup", "/2", {}}};
    registry.add({"a", "/a2", {"s"}}, colima);
    EXPECT_EQ(registry.byRuntime.value("colima").first(), (KnownProject{"a", "/a2", {"s"}}));
    registry.add({"c", "/c", {}}, colima);
    EXPECT_EQ(registry.byRuntime.value("colima").last().name, "c");

    registry.forget("dup", colima);
    EXPECT_EQ(registry.byRuntime.value("colima"),
              (QList<KnownProject>{{"a", "/a2", {"s"}}, {"b", "/b", {}}, {"c", "/c", {}}}));
    registry.forget("a", QStringLiteral("unknown"));
    EXPECT_FALSE(registry.byRuntime.contains("unknown"));
    registry.forget("a", colima);
    registry.forget("b", colima);
    registry.forget("c", colima);
    EXPECT_TRUE(registry.byRuntime.contains("colima")); // an emptied list stays
}

TEST_F(Folders, MergingAddsRememberedProjectsAndTheirServiceCounts)
{
    const QList<KnownProject> known{{"web", withFile, {"api", "db", "cache"}},
                                    {"idle", "/srv/idle", {"one", "two"}},
                                    {"moved", withFile, {"m"}},
                                    {"dirless", "/srv/dirless", {}}};
    const QList<ComposeProject> found{
        discovered("web", withoutFile, {serviceContainer("web-1", "api"), serviceContainer("web-2", "db")}),
        discovered("loose", "/srv/loose", {serviceContainer("l-1", "x")}),
        discovered("moved", withFile),
        discovered("dirless", std::nullopt),
    };
    const auto merged = ProjectRegistry::merge(found, known);
    EXPECT_EQ(names(merged), (QStringList{"dirless", "idle", "loose", "moved", "web"}));

    // Only the remembered folder holds a compose file, but the containers say where the project runs.
    const ComposeProject& web = merged[4];
    EXPECT_EQ(web.serviceCount, 3);
    EXPECT_EQ(web.workingDir, withoutFile);
    EXPECT_EQ(web.statusText(), "2 of 3 running");

    const ComposeProject& idle = merged[1];
    EXPECT_EQ(idle.workingDir, "/srv/idle");
    EXPECT_EQ(idle.serviceCount, 2);
    EXPECT_TRUE(idle.containers.isEmpty());
    EXPECT_EQ(idle.runtime, std::nullopt);
    EXPECT_EQ(idle.statusText(), "Not running");

    EXPECT_EQ(merged[2].serviceCount, 0); // unknown to the registry
    EXPECT_EQ(merged[0].workingDir, "/srv/dirless");
    EXPECT_EQ(merged[3].workingDir, withFile);
}

// Located elsewhere once the folder its containers were made in was gone: the project stays in the
// new folder while they name the old one, and follows them once they name another.
TEST(RegistryMoves, AMovedProjectKeepsItsFolderWhileItsContainersNameTheOldOne)
{
    ProjectRegistry registry;
    registry.add({"web", "/new", {"api"}, "/old"}, colima);
    registry.add({"blog", "/blog-new", {"b"}, "/blog-old"}, colima);
    registry.add({"shop", "/shop-new", {"s"}, "/shop-old"}, colima);
    // Nor does it remember what compose cannot bring up again.
    registry.record({discovered("web", "/old", {serviceContainer("w", "front")}),
                     discovered("blog", "/blog-elsewhere"), discovered("shop", "/shop-new"),
                     discovered("", "/new"), discovered("Shop Front", "/new")},
                    colima);
    EXPECT_EQ(registry.byRuntime.value("colima"), (QList<KnownProject>{{"web", "/new", {"front"}, "/old"},
                                                                       {"blog", "/blog-elsewhere", {"b"}},
                                                                       {"shop", "/shop-new", {"s"}}}));

    const QList<ComposeProject> merged =
        ProjectRegistry::merge({discovered("web", "/old"), discovered("api", "/old")},
                               {{"web", "/new", {}, "/old"}, {"api", "/api-new", {}, "/api-old"}});
    ASSERT_EQ(names(merged), (QStringList{"api", "web"}));
    EXPECT_EQ(merged[0].workingDir, "/old") << "moved from another folder than its containers name";
    EXPECT_EQ(merged[1].workingDir, "/new");

    // Stored only where there is one; an entry whose value is not text keeps the rest.
    EXPECT_EQ(ProjectRegistry::fromJson(registry.toJson()), registry);
    const QJsonArray stored = QJsonDocument::fromJson(registry.toJson()).object().value("colima").toArray();
    EXPECT_EQ(stored[0].toObject().value("movedFrom").toString(), "/old");
    EXPECT_FALSE(stored[1].toObject().contains("movedFrom"));
    EXPECT_EQ(ProjectRegistry::fromJson(
                  R"({"colima":[{"name":"web","workingDir":"/w","services":[],"movedFrom":3}]})")
                  .byRuntime.value("colima"),
              (QList<KnownProject>{{"web", "/w", {}}}));
}

TEST(RegistryMerge, EqualNamesKeepDiscoveredBeforeRemembered)
{
    const QList<ComposeProject> found{
        ComposeProject{"web", "/b", {}, 0, Runtime::context("b")},
        ComposeProject{"web", "/a", {}, 0, Runtime::context("a")},
    };
    const auto merged = ProjectRegistry::merge(found, {{"api", "/api", {}}});
    ASSERT_EQ(merged.size(), 3);
    EXPECT_EQ(merged[1].runtime, Runtime::context("b"));
    EXPECT_EQ(merged[2].runtime, Runtime::context("a"));
    EXPECT_TRUE(ProjectRegistry::merge({}, {}).isEmpty());
}

// What a project was started from is seen on its containers while it runs, outlives them through the
// settings beside the registry's own stored form, and goes when the project is forgotten.
TEST_F(RegistrySuite, WhatAProjectWasStartedFromIsRememberedBesideIt)
{
    QMap<QString, QString> labels{{Docker::projectLabel, "web"},
                                  {Docker::serviceLabel, "app"},
                                  {Docker::workingDirLabel, "/srv/web-run"},
                                  {Docker::configFilesLabel, "/srv/web/stack.yml,/srv/web/extra.yml"},
                                  {Docker::environmentFileLabel, "/srv/web/prod.env"}};
    const Container app{"c1", "web-app-1", "img", "running", "Up", "", labels, Runtime::context("colima")};
    ProjectRegistry registry;
    registry.record({discovered("web", "/srv/web-run", {app})}, colima);
    const QList<StartedFrom> from{
        {"/srv/web/stack.yml,/srv/web/extra.yml", "/srv/web-run", "/srv/web/prod.env", {"app"}}};
    ASSERT_EQ(registry.byRuntime.value("colima").value(0).startedFrom, from);

    // Down: its containers are gone, what they said stays.
    registry.record({}, colima);
    {
        auto settings = Settings::suite(suite);
        registry.save(*settings);
    }
    auto reopened = Settings::suite(suite);
    const ProjectRegistry loaded = ProjectRegistry::load(*reopened);
    EXPECT_EQ(loaded.byRuntime.value("colima").value(0).startedFrom, from);
    // The registry's own value keeps its shape: exactly the three members.
    const QJsonObject stored = QJsonDocument::fromJson(reopened->string("knownProjects").toUtf8()).object();
    EXPECT_EQ(
        stored.value("colima").toArray().first().toObject(),
        (QJsonObject{{"name", "web"}, {"workingDir", "/srv/web-run"}, {"services", QJsonArray{"app"}}}));

    // Given a folder by the user, the project is read by compose's rules there; forgotten, nothing of it
    // is left in either value.
    ProjectRegistry relocated = loaded;
    relocated.add({"web", "/srv/elsewhere", {"app"}}, colima);
    EXPECT_TRUE(relocated.byRuntime.value("colima").value(0).startedFrom.isEmpty());
    ProjectRegistry forgotten = loaded;
    forgotten.forget("web", colima);
    forgotten.add({"web", "/srv/web-run", {}}, colima);
    EXPECT_EQ(forgotten.sourcesJson(), QByteArray("{}"));
}

namespace {

// A container of the project "web" made from `files` in `dir` with `envFiles`, for `service`.
Container madeFrom(const QString& service, const QString& files, const QString& dir,
                   const QString& envFiles = {})
{
    QMap<QString, QString> labels{{Docker::projectLabel, "web"}, {Docker::serviceLabel, service}};
    if (!dir.isEmpty())
        labels.insert(Docker::workingDirLabel, dir);
    if (!files.isEmpty())
        labels.insert(Docker::configFilesLabel, files);
    if (!envFiles.isEmpty())
        labels.insert(Docker::environmentFileLabel, envFiles);
    return Container{"id-" + service, "web-" + service + "-1",   "img", "running", "Up", "",
                     labels,          Runtime::context("colima")};
}

QList<StartedFrom> setsAfter(const QList<StartedFrom>& remembered, const QList<Container>& containers)
{
    ProjectRegistry registry;
    registry.add({"web", "/srv/web", {"app"}, {}, remembered, {"/data/kept"}}, colima);
    registry.record(
        {discovered("web",
                    containers.isEmpty() ? "/srv/web" : containers.first().workingDir().value_or("/srv/web"),
                    containers)},
        colima);
    const KnownProject known = registry.byRuntime.value("colima").value(0);
    EXPECT_EQ(known.mounts, QStringList{"/data/kept"}) << "a recording leaves what it had mounted";
    return known.startedFrom;
}

} // namespace

// What was remembered of a set is never replaced by less, and sets the containers no longer name stay
// while they name one of those remembered; containers that name only others were brought up anew.
TEST(RegistrySets, ARecordingKeepsWhatItCannotTellBetter)
{
    const QString stack = "/srv/web/stack.yml";
    const QString extra = "/srv/web/stack.yml,/srv/web/extra.yml";
    const StartedFrom withEnv{stack, "/srv/web", "/srv/web/a.env,/srv/web/b.env", {"app"}};
    const StartedFrom second{extra, "/srv/web", {}, {"worker"}};
    const struct {
        const char* what;
        QList<StartedFrom> remembered;
        QList<Container> containers;
        QList<StartedFrom> expected;
    } rows[] = {
        {"fewer env files", {withEnv}, {madeFrom("app", stack, "/srv/web", "/srv/web/b.env")}, {withEnv}},
        {"no env files", {withEnv}, {madeFrom("app", stack, "/srv/web")}, {withEnv}},
        {"no files", {withEnv}, {madeFrom("app", {}, "/srv/web")}, {withEnv}},
        {"no containers", {withEnv, second}, {}, {withEnv, second}},
        {"another env file is another set",
         {withEnv},
         {madeFrom("app", stack, "/srv/web", "/srv/web/c.env")},
         {{stack, "/srv/web", "/srv/web/c.env", {"app"}}}},
        {"two sets at once",
         {},
         {madeFrom("app", stack, "/srv/web"), madeFrom("worker", extra, "/srv/web")},
         {{stack, "/srv/web", {}, {"app"}}, second}},
        {"an older set stays beside one still named",
         {withEnv, second},
         {madeFrom("app", stack, "/srv/web")},
         {withEnv, second}},
        {"a service made anew from another set leaves the older one",
         {withEnv, second},
         {madeFrom("app", stack, "/srv/web"), madeFrom("worker", stack, "/srv/web")},
         {{withEnv.files, withEnv.projectDir, withEnv.envFiles, {"app", "worker"}},
          {extra, "/srv/web", {}, {}}}},
        {"brought up anew elsewhere",
         {withEnv, second},
         {madeFrom("app", "/srv/moved/compose.yaml", "/srv/moved")},
         {{"/srv/moved/compose.yaml", "/srv/moved", {}, {"app"}}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(setsAfter(row.remembered, row.containers), row.expected) << row.what;

    // A project brought up from ever new files keeps a few of them.
    QList<StartedFrom> many;
    for (int i = 0; i < 20; ++i)
        many << StartedFrom{QString("/srv/web/%1.yml").arg(i), "/srv/web", {}, {}};
    QList<Container> containers;
    for (int i = 0; i < 20; ++i)
        containers << madeFrom(QString("s%1").arg(i), QString("/srv/web/%1.yml").arg(i), "/srv/web");
    EXPECT_EQ(setsAfter(many, containers).size(), ProjectRegistry::mostSets);
}

// Several sets and the mounts go beside the registry's own value; the first set stays where a single set
// has always been stored, so that form still loads, and an older reader finds it there.
TEST_F(RegistrySuite, SeveralSetsAndMountsOutliveTheApplication)
{
    ProjectRegistry registry;
    registry.add({"web", "/srv/web", {"app", "worker"}}, colima);
    registry.add({"blog", "/srv/blog", {"b"}}, colima);
    registry.record({discovered("web", "/srv/web",
                                {madeFrom("app", "/srv/web/stack.yml", "/srv/web", "/srv/web/b.env"),
                                 madeFrom("worker", "/srv/web/stack.yml,/srv/web/extra.yml", "/srv/web")})},
                    colima);
    registry.recordMounts("web", {"/srv/web/data", "/srv/shared", "/srv/web/data"}, colima);
    registry.recordMounts("unknown", {"/x"}, colima);
    {
        auto settings = Settings::suite(suite);
        registry.save(*settings);
    }
    auto reopened = Settings::suite(suite);
    const ProjectRegistry loaded = ProjectRegistry::load(*reopened);
    EXPECT_EQ(loaded, registry);
    const KnownProject web = loaded.byRuntime.value("colima").value(0);
    EXPECT_EQ(web.startedFrom.size(), 2);
    EXPECT_EQ(web.mounts, (QStringList{"/srv/shared", "/srv/web/data"}));

    const QJsonObject stored = QJsonDocument::fromJson(reopened->string("knownProjectSources").toUtf8())
                                   .object()
                                   .value("colima")
                                   .toObject();
    EXPECT_EQ(stored.value("web").toObject().value("envFiles").toString(), "/srv/web/b.env");
    EXPECT_FALSE(stored.contains("blog")) << "nothing to say of it";

    // The form of one set alone, as it was written before there could be more.
    reopened->setValue(
        "knownProjectSources",
        QStringLiteral(
            R"({"colima":{"web":{"files":"/a.yml","projectDir":"/a","envFiles":"/a/b.env"},)"
            R"("blog":{"sets":[{"files":1},{"files":"/b.yml","projectDir":"/b","envFiles":""}]}}})"));
    const ProjectRegistry older = ProjectRegistry::load(*reopened);
    EXPECT_EQ(older.byRuntime.value("colima").value(0).startedFrom,
              (QList<StartedFrom>{{"/a.yml", "/a", "/a/b.env"}}));
    EXPECT_EQ(older.byRuntime.value("colima").value(1).startedFrom,
              (QList<StartedFrom>{{"/b.yml", "/b", ""}}))
        << "a set that is not whole is dropped on its own";
}
