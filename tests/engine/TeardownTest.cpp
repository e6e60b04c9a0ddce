#include "engine/Teardown.h"

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "support/TestSupport.h"

#include <QDir>
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

// Only what compose labelled with the project's name may go, and what the plan could not make sure of
// it says: a query that ran out of time, containers started from several folders (no folder then).
TEST(TeardownPlanRules, OnlyTheProjectsLabelledVolumesAndNotesForWhatIsUnsure)
{
    QTemporaryDir a;
    QTemporaryDir b;
    ComposeProject project = app(a.path());
    project.containers[0].labels.insert("com.docker.compose.project.working_dir", a.path());
    project.containers[1].labels.insert("com.docker.compose.project.working_dir", a.path());
    const QMap<QString, QString> ours{{"com.docker.compose.project", "app"}};
    Docker::PlanReadings readings;
    readings.mounts = Docker::MountMap{{"app-1", {"app_data", "keep-me"}}, {"app-db-1", {"other_data"}}};
    readings.config = ComposeConfig{"app", {"web"}, {"app_idle", "app_data", "undeclared"}, {}};
    readings.listed = {
        {"app_data", "local", "/v/1", std::nullopt, ours},
        {"app_idle", "local", "/v/2", std::nullopt, ours},
        {"keep-me", "local", "/v/3", std::nullopt},
        {"other_data", "local", "/v/4", std::nullopt, {{"com.docker.compose.project", "other"}}}};

    readings.trash = Docker::TrashOffer{Platform::identityOf(a.path()), {}, {}};
    TeardownPlan plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(names(plan.volumes), (QStringList{"app_data", "app_idle"}));
    EXPECT_EQ(plan.workingDir, a.path());
    EXPECT_TRUE(plan.notes.isEmpty());

    // Timed out: the labelled volumes of what answered, and a note for each query that did not.
    Docker::PlanReadings late = readings;
    late.config.reset();
    late.configTimedOut = true;
    plan = Docker::planFrom(project, project.containers, late, {});
    EXPECT_EQ(names(plan.volumes), QStringList{"app_data"});
    ASSERT_EQ(plan.notes.size(), 1);
    EXPECT_TRUE(plan.notes[0].startsWith("Compose config did not finish within 10 seconds."))
        << plan.notes[0].toStdString();
    late.mounts.reset();
    plan = Docker::planFrom(project, project.containers, late, {});
    EXPECT_TRUE(plan.volumes.isEmpty());
    EXPECT_EQ(plan.notes.size(), 2);

    // Without the mounts nothing says who else uses a volume, not even one the file declares: none is
    // shown as free of other users.
    Docker::PlanReadings unmounted = readings;
    unmounted.mounts.reset();
    plan = Docker::planFrom(project, project.containers, unmounted, {});
    EXPECT_TRUE(plan.volumes.isEmpty()) << names(plan.volumes).join(' ').toStdString();
    EXPECT_EQ(plan.notes,
              QStringList{"The engine did not say which volumes the containers mount (it failed, or did "
                          "not answer within 10 seconds), so other users of the project's volumes could "
                          "not be checked and no volume is planned for removal."});

    project.containers[1].labels.insert("com.docker.compose.project.working_dir", b.path());
    plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes, QStringList{"The project's containers were started from different folders (" +
                                      a.path() + ", " + b.path() + "), so none is offered for the Trash."});
}

// The engine holds a folder named with a byte that is not UTF-8 with U+FFFD in its place: that name
// may be a sibling's (made here), which must not go to the Trash in its stead.
TEST(TeardownPlanRules, AFolderThatCannotBeNamedExactlyIsNotOffered)
{
    QTemporaryDir root;
    const QString sibling = root.filePath(QStringLiteral("shop\uFFFD"));
    ASSERT_TRUE(QDir().mkpath(sibling));
    ComposeProject project = app(sibling);
    for (Container& c : project.containers)
        c.labels.insert("com.docker.compose.project.working_dir", sibling);

    Docker::PlanReadings readings;
    readings.mounts = Docker::MountMap();
    const TeardownPlan plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.notes,
              QStringList{Docker::inexactNameMessage(sibling) + " It is not offered for the Trash."});
    EXPECT_EQ(Docker::plan(project, {}, {}, {}, {}, {}).workingDir, std::nullopt);
}

// The folder goes to the Trash only as the judgement of who uses it says: offered, the plan carries its
// identity and what goes with it; refused, the plan says why; not judged at all, it is not offered.
// The plan carries what its names stood for: container identifiers and volume creation times.
TEST(TeardownPlanRules, TheFolderIsOfferedOnlyAsItsJudgementSays)
{
    QTemporaryDir folder;
    ComposeProject project = app(folder.path());
    for (Container& c : project.containers) {
        c.id = "id-" + c.name;
        c.labels.insert("com.docker.compose.project.working_dir", folder.path());
    }
    Docker::PlanReadings readings;
    readings.mounts = Docker::MountMap{{"app-1", {"app_data"}}};
    readings.listed = {{"app_data", "local", "/v/1", std::nullopt, {{"com.docker.compose.project", "app"}}}};
    readings.created = {{"app_data", "2026-01-02T03:04:05Z"}, {"unplanned", "2026-01-01T00:00:00Z"}};
    const Platform::FileIdentity identity{7, 42};

    readings.trash = Docker::TrashOffer{identity, {}, {folder.filePath("db")}};
    TeardownPlan plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, folder.path());
    EXPECT_EQ(plan.folder, identity);
    EXPECT_EQ(plan.folderBinds, QStringList{folder.filePath("db")});
    EXPECT_EQ(plan.containerIds, (QStringList{"id-app-1", "id-app-db-1"}));
    EXPECT_EQ(plan.volumesMade, (QMap<QString, QString>{{"app_data", "2026-01-02T03:04:05Z"}}));
    EXPECT_TRUE(plan.notes.isEmpty());

    readings.trash = Docker::TrashOffer{std::nullopt, "used by blog-web-1 of blog", {}};
    plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.folder, std::nullopt);
    EXPECT_EQ(plan.notes,
              QStringList{folder.path() + " is not offered for the Trash: used by blog-web-1 of blog."});

    readings.trash.reset();
    plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_TRUE(plan.notes.isEmpty());
}

// A folder the containers name through a link is planned by its own name, the one the Trash takes, and
// so is what the project bind-mounts of it or in it; the link is named apart, and stays.
TEST(TeardownPlanRules, AFolderReachedThroughALinkIsPlannedAsItself)
{
    ComposeProject project = app("/srv/lnk");
    for (Container& c : project.containers)
        c.labels.insert("com.docker.compose.project.working_dir", "/srv/lnk");
    Docker::PlanReadings readings;
    readings.mounts = Docker::MountMap();
    readings.trash =
        Docker::TrashOffer{Platform::FileIdentity{7, 42}, {}, {"/srv/lnk", "/srv/lnk/db"}, "/srv/real"};
    const TeardownPlan plan = Docker::planFrom(project, project.containers, readings, {});
    EXPECT_EQ(plan.workingDir, "/srv/real");
    EXPECT_EQ(plan.folderLink, "/srv/lnk");
    EXPECT_EQ(plan.folderBinds, (QStringList{"/srv/real", "/srv/real/db"}));
}
