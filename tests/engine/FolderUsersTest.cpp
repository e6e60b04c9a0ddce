#include "engine/FolderUsers.h"

#include "platform/DiskLook.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using TestSupport::ScopedEnv;

namespace {

Container user(const QString& name, const QString& project, const QString& dir, const QString& files = {})
{
    Container c;
    c.id = "id-" + name;
    c.name = name;
    c.labels.insert("com.docker.compose.project", project);
    c.labels.insert("com.docker.compose.project.working_dir", dir);
    if (!files.isEmpty())
        c.labels.insert("com.docker.compose.project.config_files", files);
    return c;
}

} // namespace

TEST(BindSources, ReadFromWhatTheInspectTemplatePrints)
{
    const struct {
        QString text;
        Docker::BindMap binds;
    } rows[] = {
        {"[\"abc\",\"/srv/a|b\",\"/srv/line\\nbreak\"]\n[\"def\"]\n",
         {{"abc", {"/srv/a|b", "/srv/line\nbreak"}}, {"def", {}}}},
        {"Error: No such object: x\n[\"abc\",\"/x\"]\n", {{"abc", {"/x"}}}},
        {"[\"\",\"/x\"]\n[1,\"/y\"]\nnot json\n", {}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Docker::parseBindSources(row.text), row.binds) << row.text.toStdString();

    // Every host path a volume's options name, whatever its type and flags, and its mount point.
    const QString volumes =
        R"(["db","local","/var/lib/docker/volumes/db/_data",{"device":"/srv/db","o":"rw,rbind","type":"none"}])"
        "\n"
        R"(["up","local","/m/up",{"type":"overlay","o":"lowerdir=/l1:/l2,upperdir=/srv/up,workdir=/srv/work"}])"
        "\n"
        R"(["plain","local","/var/lib/docker/volumes/plain/_data",null])"
        "\n"
        R"(["nfs","local","/m/nfs",{"device":":/export","o":"addr=10.0.0.1","type":"nfs"}])"
        "\n"
        R"(["plug","acme/driver","/var/lib/docker/plugins/x/propagated-mount/plug",null])"
        "\n"
        R"(["vm","local","",{"device":"relative/dir"}])"
        "\n";
    EXPECT_EQ(Docker::parseVolumeFolders(volumes),
              (QMap<QString, QStringList>{
                  {"db", {"/srv/db", "/var/lib/docker/volumes/db/_data"}},
                  {"up", {"/l1", "/l1:/l2", "/l2", "/srv/up", "/srv/work", "/m/up"}},
                  {"plain", {"/var/lib/docker/volumes/plain/_data"}},
                  {"nfs", {"/export", "/m/nfs"}},
                  {"plug", {"/var/lib/docker/plugins/x/propagated-mount/plug"}},
                  {"vm", {}},
              }));
}

// Containers and volumes come and go on a shared engine: one removed since the listing makes the client
// fail while it still prints the others, and that answer stands, whichever way the engine words it. Any
// other failure leaves the answer unknown.
TEST(FolderUsersQueries, AnObjectGoneSinceTheListingLeavesTheOthersAnswered)
{
    TestSupport::FakeTools fakes({"docker"});
    const QStringList ids{"abc", "gone"};
    const QStringList names{"db", "gone"};
    const QString binds = "[\"abc0123\",\"/srv/a\"]\n";
    const QString folders =
        "[\"db\",\"local\",\"/m/db\",{\"device\":\"/srv/db\",\"o\":\"bind\",\"type\":\"none\"}]\n";
    const struct {
        QString err;
        bool answered;
    } rows[] = {
        {"", true},
        {"Error response from daemon: No such container: gone\n", true},
        {"Error response from daemon: get gone: no such volume\n", true},
        {"Error response from daemon: No such container: gone\nCannot connect to the Docker daemon\n", false},
        {"Cannot connect to the Docker daemon\n", false},
        // A socket that is gone is no object that is gone.
        {"failed to connect to the docker API at unix:///x.sock: dial unix /x.sock: connect: no such file or "
         "directory\n",
         false},
    };
    for (const auto& row : rows) {
        const int status = row.err.isEmpty() ? 0 : 1;
        fakes.answer("docker", Docker::bindSourcesQuery(ids), binds, row.err, status);
        fakes.answer("docker", Docker::volumeFoldersQuery(names), folders, row.err, status);
        const auto bound = Docker::bindSources(ids, std::nullopt, std::chrono::seconds(10), nullptr);
        const auto kept = Docker::volumeFolders(names, std::nullopt, std::chrono::seconds(10), nullptr);
        EXPECT_EQ(bound.has_value(), row.answered) << row.err.toStdString();
        EXPECT_EQ(kept.has_value(), row.answered) << row.err.toStdString();
        if (row.answered) {
            EXPECT_EQ(*bound, (Docker::BindMap{{"abc", {"/srv/a"}}}));
            EXPECT_EQ(*kept, (QMap<QString, QStringList>{{"db", {"/srv/db", "/m/db"}}}));
        }
    }
}

// What a container uses: its folder, every path its compose-file label may hold (a folder whose name
// ends in a comma allows more than one reading), and its bind mounts.
TEST(BindSources, EveryPathAContainerMayUse)
{
    const Container c = user("web", "blog", "/srv/a,", "/srv/a,/compose.yaml,/etc/b.yaml");
    QStringList paths;
    for (const Docker::FolderUse& use : Docker::folderUses({c}, {{"id-web", {"/data"}}}))
        paths << use.path;
    for (const QString& path : {"/srv/a,", "/srv/a,/compose.yaml", "/etc/b.yaml", "/data"})
        EXPECT_TRUE(paths.contains(path)) << path.toStdString() << " in " << paths.join(' ').toStdString();
}

// The folder is offered only while nothing outside the project uses anything at or under it, whatever
// name reaches it; what the project bind-mounts inside it is named; a path on a mount that does not
// answer keeps it, since a link there could lead into it.
TEST(TrashOffer, NobodyElseMayUseAnythingInTheFolder)
{
    QTemporaryDir root;
    ScopedEnv home{"HOME", root.filePath("home").toUtf8()};
    ScopedEnv data{"XDG_DATA_HOME", root.filePath("home/data").toUtf8()};
    for (const char* dir : {"home", "real/shared/db", "other", "stalled"})
        ASSERT_TRUE(QDir().mkpath(root.filePath(dir)));
    ASSERT_TRUE(QFile::link(root.filePath("real"), root.filePath("lnk")));
    const QString folder = root.filePath("real/shared");
    const QList<Docker::FolderUse> own{{folder + "/db", "id-own", "shop-db-1", "shop"},
                                       {root.filePath("other"), "id-own", "shop-db-1", "shop"}};
    const auto judge = [&](const QList<Container>& others, const Docker::BindMap& binds = {}) {
        return Docker::judgeTrashOffer(folder, Docker::folderUses(others, binds), own,
                                       QDeadlineTimer(std::chrono::seconds(5)), {}, nullptr);
    };

    // A project started from a folder above reads only the files it names there.
    const std::optional<Docker::TrashOffer> free =
        judge({user("far", "far", root.filePath("other")), user("up", "up", root.filePath("real"))});
    ASSERT_TRUE(free);
    EXPECT_EQ(free->identity, Platform::identityOf(folder));
    EXPECT_EQ(free->refusal, std::nullopt);
    EXPECT_EQ(free->ownBinds, QStringList{folder + "/db"});

    const struct {
        QList<Container> others;
        Docker::BindMap binds;
        QString refusal;
    } rows[] = {
        {{user("s2-app-1", "s2", root.filePath("lnk/shared"))}, {}, "used by s2-app-1 of s2"},
        {{user("inner-1", "inner", folder + "/inner")}, {}, "used by inner-1 of inner"},
        {{user("b-1", "b", root.filePath("other"), root.filePath("lnk/shared/b.yaml"))},
         {},
         "used by b-1 of b"},
        {{[&] {
             Container c = user("e-1", "e", root.filePath("other"));
             c.labels.insert("com.docker.compose.project.environment_file", folder + "/prod.env");
             return c;
         }()},
         {},
         "used by e-1 of e"},
        {{user("db", QString(), "/")}, {{"id-db", {folder + "/db"}}}, "used by db"},
        // Readings grow with the square of the places a label splits at: a label of thousands is not
        // read, and its files may lie anywhere under the root.
        {{user("forged", "f", root.filePath("other"), QString("/a,").repeated(5000) + "/a")},
         {},
         "what forged of f uses is not known (its compose files could not be read), and its folder or "
         "files lie at, in or above it"},
    };
    for (const auto& row : rows) {
        const std::optional<Docker::TrashOffer> offer = judge(row.others, row.binds);
        ASSERT_TRUE(offer);
        EXPECT_EQ(offer->identity, std::nullopt) << row.refusal.toStdString();
        EXPECT_EQ(offer->refusal, row.refusal);
    }

    // A container binding a folder above it, or the root, sees it go: said beside the offer, once for
    // each, naming it.
    const std::optional<Docker::TrashOffer> below =
        judge({user("sync", QString(), "/"), user("monitor", QString(), "/")},
              {{"id-sync", {root.filePath("lnk"), root.filePath("real")}}, {"id-monitor", {"/"}}});
    ASSERT_TRUE(below);
    EXPECT_EQ(below->identity, Platform::identityOf(folder));
    EXPECT_EQ(below->notes,
              (QStringList{"sync binds " + root.filePath("lnk") +
                               ", which holds this folder: what goes to the Trash is gone from there too.",
                           "sync binds " + root.filePath("real") +
                               ", which holds this folder: what goes to the Trash is gone from there too.",
                           "monitor binds /, which holds this folder: what goes to the Trash is gone from "
                           "there too."}));
    EXPECT_EQ(below->heldFromAbove, (QStringList{"id-sync", "id-monitor"}));

    // What another project uses is not known: only its own folder or files at, in or above the folder
    // tie the doubt to it; elsewhere it is said, and the offer stands.
    const auto doubt = [&](const QStringList& places) {
        Docker::FolderUse unknown{QString(), "id-x", "x-1", "x"};
        unknown.unknown = "${DATA_DIR}/db names a path through a variable that is not set here";
        unknown.places = places;
        return Docker::judgeTrashOffer(folder, {unknown}, own, QDeadlineTimer(std::chrono::seconds(5)), {},
                                       nullptr);
    };
    const QString tied = "what x-1 of x uses is not known (${DATA_DIR}/db names a path through a variable "
                         "that is not set here), and its folder or files lie at, in or above it";
    for (const QString& place : {folder, folder + "/sub/compose.yaml", root.filePath("lnk"), root.path()}) {
        const std::optional<Docker::TrashOffer> offer = doubt({root.filePath("other"), place});
        ASSERT_TRUE(offer);
        EXPECT_EQ(offer->refusal, tied) << place.toStdString();
    }
    const std::optional<Docker::TrashOffer> untied =
        doubt({root.filePath("other"), root.filePath("other/compose.yaml")});
    ASSERT_TRUE(untied);
    EXPECT_EQ(untied->identity, Platform::identityOf(folder));
    EXPECT_EQ(untied->notes,
              QStringList{"What x-1 of x uses is not known: ${DATA_DIR}/db names a path through a variable "
                          "that is not set here. Its folder and files lie elsewhere."});

    // A user's path that stalls: the folder stays, and the refusal says where.
    const QString stalled = root.filePath("stalled/x");
    TestSupport::HeldLooks looks(stalled, std::chrono::hours(1));
    const std::optional<Docker::TrashOffer> unsure =
        Docker::judgeTrashOffer(folder, Docker::folderUses({user("far", "far", stalled)}, {}), own,
                                QDeadlineTimer(std::chrono::milliseconds(500)), {}, nullptr);
    ASSERT_TRUE(unsure);
    EXPECT_EQ(unsure->identity, std::nullopt);
    EXPECT_EQ(unsure->refusal,
              stalled + " (used by far of far) does not answer, and a link there may lead into it");
}
