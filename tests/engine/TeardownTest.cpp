#include "engine/Teardown.h"

#include "engine/ComposeProject.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

using TestSupport::names;

namespace {

Container container(const QString& name, const std::optional<QString>& project = std::nullopt)
{
    Container c;
    c.id = c.name = name;
    c.image = "i";
    c.state = "exited";
    c.status = "Exited (0) 1 minute ago";
    if (project) {
        c.labels.insert("com.docker.compose.project", *project);
        c.labels.insert("com.docker.compose.project.working_dir", "/tmp");
    }
    return c;
}

ComposeProject app(const std::optional<QString>& dir = QStringLiteral("/nope/gone"))
{
    return {"app", dir, {container("app-1", "app"), container("app-db-1", "app")}, 0, std::nullopt};
}

} // namespace

TEST(MountQuery, ParsesTheInspectLines)
{
    struct Row {
        QString text;
        Docker::MountMap expected;
    };
    const Row rows[] = {
        {"/web|data,cache,\n", {{"web", {"data", "cache"}}}},
        {"/db|", {{"db", {}}}},
        {"lonely", {{"lonely", {}}}},
        {"/|data,\n|x,\n", {}},
        {"/ spaced / |a,,b\n", {{"spaced", {"a", "b"}}}},
        {"/a|x,\n\n/a|y,\n", {{"a", {"y"}}}}, // a later line replaces an earlier one
        {"/a|x|y,\n", {{"a", {"x|y"}}}},      // only the first bar splits
        {"", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::parseMounts(row.text), row.expected) << row.text.toStdString();

    const Docker::MountMap recorded = Docker::parseMounts(TestSupport::fixture("engine/mounts.txt"));
    EXPECT_EQ(recorded.size(), 7);
    EXPECT_EQ(recorded.value("rec4-withvol"), QStringList{"rec4-keep"});
    EXPECT_EQ(recorded.value("rec4shop-web-1"), QStringList{"rec4shop_data"});
    EXPECT_TRUE(recorded.value("rec4-live").isEmpty());
}

TEST(MountQuery, NoContainersRunNothing)
{
    TestSupport::FakeTools fakes({"docker"});
    EXPECT_TRUE(Docker::volumeMounts({}, std::nullopt).isEmpty());
    EXPECT_TRUE(fakes.calls().isEmpty());
}

TEST(TeardownPlanRules, WhichVolumesGoAndWhichStay)
{
    struct Row {
        const char* what;
        ComposeProject project;
        QList<Container> all;
        Docker::MountMap mounts;
        QStringList declared;
        QStringList external;
        QStringList removable;
        QMap<QString, QStringList> kept; // volume -> used by
    };
    const Container otherApi = container("other-api-1", "other");
    const Container otherWeb = container("other-web-1", "other");
    const Container portainer = container("portainer");
    const ComposeProject empty{"app", "/nope/gone", {}, 0, std::nullopt};
    const QList<Container> own = app().containers;
    const Row rows[] = {
        {"only the project mounts them",
         app(),
         own,
         {{"app-1", {"app_code"}}, {"app-db-1", {"app_data"}}},
         {},
         {},
         {"app_code", "app_data"},
         {}},
        {"another project's container keeps a volume",
         app(),
         own + QList{otherApi},
         {{"app-1", {"app_code"}}, {"app-db-1", {"app_data"}}, {"other-api-1", {"app_data"}}},
         {},
         {},
         {"app_code"},
         {{"app_data", {"other-api-1"}}}},
        {"a loose container keeps a volume",
         app(),
         own + QList{portainer},
         {{"app-db-1", {"app_data"}}, {"portainer", {"app_data"}}},
         {},
         {},
         {},
         {{"app_data", {"portainer"}}}},
        {"every outside user is named, sorted",
         app(),
         QList{portainer, otherWeb} + own + QList{otherApi},
         {{"app-db-1", {"app_data"}},
          {"portainer", {"app_data"}},
          {"other-web-1", {"app_data"}},
          {"other-api-1", {"app_data"}}},
         {},
         {},
         {},
         {{"app_data", {"other-api-1", "other-web-1", "portainer"}}}},
        {"a volume shared inside the project is listed once",
         app(),
         own,
         {{"app-1", {"app_data"}}, {"app-db-1", {"app_data"}}},
         {"app_data"},
         {},
         {"app_data"},
         {}},
        {"declared volumes are planned without containers",
         empty,
         {otherApi},
         {{"other-api-1", {"app_data"}}},
         {"app_data", "app_cache"},
         {},
         {"app_cache"},
         {{"app_data", {"other-api-1"}}}},
        {"external volumes are never planned",
         app(),
         own + QList{otherApi},
         {{"app-1", {"shared_certs", "app_code"}}, {"other-api-1", {"shared_certs"}}},
         {"shared_certs", "app_cache"},
         {"shared_certs"},
         {"app_cache", "app_code"},
         {}},
        {"no mounts and nothing declared", app(), own, {}, {}, {}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const TeardownPlan plan =
            Docker::plan(row.project, row.all, row.mounts, row.declared, {}, row.external);
        EXPECT_EQ(names(plan.removable()), row.removable);
        EXPECT_EQ(names(plan.kept()), row.kept.keys());
        for (const VolumeUse& volume : plan.kept())
            EXPECT_EQ(volume.usedBy, row.kept.value(volume.name));
        QStringList all = names(plan.volumes);
        QStringList sorted = all;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(all, sorted);
        EXPECT_EQ(plan.project, "app");
        EXPECT_FALSE(plan.workingDir);
    }
}

TEST(TeardownPlanRules, ContainersSizesAndFolder)
{
    QTemporaryDir folder;
    const TeardownPlan plan = Docker::plan(app(folder.path()), app().containers,
                                           {{"app-1", {"app_data"}}, {"app-db-1", {"app_logs"}}}, {},
                                           {{"app_data", "113 MB"}, {"unrelated", "1 GB"}}, {});
    EXPECT_EQ(plan.containers, QStringList({"app-1", "app-db-1"}));
    EXPECT_EQ(plan.workingDir, folder.path());
    ASSERT_EQ(plan.volumes.size(), 2);
    EXPECT_EQ(plan.volumes[0], (VolumeUse{"app_data", {}, QStringLiteral("113 MB")}));
    EXPECT_EQ(plan.volumes[1], (VolumeUse{"app_logs", {}, std::nullopt}));

    EXPECT_FALSE(Docker::plan(app(std::nullopt), {}, {}, {}, {}, {}).workingDir);
    EXPECT_FALSE(Docker::plan(app(QString()), {}, {}, {}, {}, {}).workingDir);
    // A working-directory label that names a file offers no folder to move to the Trash.
    QFile notes(folder.filePath("notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    EXPECT_FALSE(Docker::plan(app(notes.fileName()), {}, {}, {}, {}, {}).workingDir);
}
