#include "store/StoreOnEngine.h"

#include "platform/FolderIdentity.h"

#include <QDeadlineTimer>
#include <QProcess>

#include <atomic>
#include <thread>

using namespace EngineTesting;

namespace {

// Projects on the real engine, each brought up from its folder as a user would.
class TrashOnEngine : public ActionsOnEngine {
protected:
    // Both tests need a folder offered: none is while another test's container binds the root.
    TestSupport::RootBindTurn rootBinds{false};

    // `docker compose -p <name> --project-directory <dir> -f <file>... up -d`: the folder and files are
    // labelled as given, links and all.
    void up(const QString& name, const QString& dir, const QStringList& files = {})
    {
        projectsMade << name;
        QStringList args{"compose", "-p", name, "--project-directory", dir};
        for (const QString& file : files.isEmpty() ? QStringList{dir + "/compose.yaml"} : files)
            args << "-f" << file;
        const auto done = docker(args + QStringList{"up", "-d"}, QDir::rootPath());
        ASSERT_EQ(done.status, 0) << done.err.toStdString();
    }

    QString folder(const QString& relative) { return projectFolder(relative, service()); }

    // A project in a folder of its own, and another elsewhere whose compose file (`compose`, "%1" the
    // first one's folder name) names its file `file`, written with `content`.
    struct Scene {
        QString project;
        QString dir;
        QString why;
    };
    Scene namedByAnother(const QString& what, const QString& compose, const QString& file,
                         const QString& content)
    {
        const QString a = uniqueName(what + "-a");
        const QString b = uniqueName(what + "-b");
        const QString dir = folder(what + "-a");
        QFile named(dir + "/" + file);
        EXPECT_TRUE(named.open(QIODevice::WriteOnly));
        named.write(content.toUtf8());
        named.close();
        up(a, dir);
        up(b, projectFolder(what + "-b", QString(compose).arg(what + "-a")));
        return Scene{a, dir, "of " + b};
    }

    TeardownPlan plan(const QString& name)
    {
        run(store->refresh(false));
        const std::optional<ComposeProject> found = project(name);
        EXPECT_TRUE(found) << name.toStdString();
        return found ? run(store->teardownPlan(*found)) : TeardownPlan{};
    }
};

} // namespace

// Whoever else uses anything in a project's folder keeps it out of the Trash, however they reach it:
// through a link, from a folder inside it, by a bind mount of it or of a folder above it, by a volume
// bound there (with "bind" or "rbind", or an overlay's layers), by a compose file there, or by a file
// another project's compose file includes, extends or reads; a label that climbs out of its folder and
// the home folder never go. The plan says why, naming the user.
TEST_F(TrashOnEngine, TheTrashIsNeverOfferedForAFolderSomeoneElseUses)
{
    const std::function<Scene()> scenes[] = {
        [&] {
            const QString s2 = uniqueName("s2");
            const QString s1 = uniqueName("s1");
            folder("real/shared");
            EXPECT_TRUE(QFile::link(root.filePath("real"), root.filePath("lnk")));
            up(s2, root.filePath("real/shared"));
            up(s1, root.filePath("lnk/shared"));
            return Scene{s1, root.filePath("lnk/shared"), "used by " + s2 + "-web-1 of " + s2};
        },
        [&] {
            const QString outer = uniqueName("outer");
            const QString inner = uniqueName("inner");
            up(outer, folder("outer"));
            up(inner, folder("outer/inner"));
            return Scene{outer, root.filePath("outer"), "used by " + inner + "-web-1 of " + inner};
        },
        [&] {
            const QString odd = uniqueName("odd");
            const QString dir = folder("climb") + "/sub/..";
            EXPECT_TRUE(QDir().mkpath(dir));
            runContainer(odd, {"--label", "com.docker.compose.project=" + odd, "--label",
                               "com.docker.compose.project.working_dir=" + dir});
            return Scene{odd, dir, "it is not a plain absolute path"};
        },
        [&] {
            const QString shop = uniqueName("bound");
            const QString loose = uniqueName("loose");
            const QString dir = folder("bound");
            EXPECT_TRUE(QDir().mkpath(dir + "/db"));
            up(shop, dir);
            runContainer(loose, {"-v", dir + "/db:/db"});
            return Scene{shop, dir, "used by " + loose};
        },
        [&] {
            const QString shop = uniqueName("kept");
            const QString volume = uniqueName("held");
            const QString dir = folder("kept");
            EXPECT_TRUE(QDir().mkpath(dir + "/vol"));
            up(shop, dir);
            createVolume(volume,
                         {"--opt", "type=none", "--opt", "o=bind", "--opt", "device=" + dir + "/vol"});
            return Scene{shop, dir, "used by volume " + volume};
        },
        [&] {
            // The project's own volume, but another container mounts it: the deletion keeps it, and
            // with it the folder its data is bound to.
            const QString shop = uniqueName("own");
            const QString volume = uniqueName("kept-own");
            const QString dir = folder("own");
            EXPECT_TRUE(QDir().mkpath(dir + "/vol"));
            up(shop, dir);
            createVolume(volume, {"--label", "com.docker.compose.project=" + shop, "--opt", "type=none",
                                  "--opt", "o=bind", "--opt", "device=" + dir + "/vol"});
            runContainer(uniqueName("mounter"), {"-v", volume + ":/v"});
            // An engine that mounts its volumes where this process sees them binds the folder there.
            const QString data =
                docker({"volume", "inspect", "--format", "{{.Mountpoint}}", volume}).out.trimmed();
            if (Platform::mountPoints().contains(data))
                return Scene{shop, dir, "it is bound at " + data};
            return Scene{shop, dir, "used by volume " + volume + " of " + shop};
        },
        [&] {
            const QString a = uniqueName("a");
            const QString b = uniqueName("b");
            const QString dir = folder("files");
            EXPECT_TRUE(QFile::copy(dir + "/compose.yaml", dir + "/b.yaml"));
            up(a, dir);
            up(b, folder("elsewhere"), {dir + "/b.yaml"});
            return Scene{a, dir, "used by " + b + "-web-1 of " + b};
        },
        [&] {
            // Bound with "rbind" rather than "bind". Not mounted: while a container has it mounted, the mount
            // table tells too.
            const QString shop = uniqueName("rbound");
            const QString volume = uniqueName("rbind");
            const QString dir = folder("rbound");
            EXPECT_TRUE(QDir().mkpath(dir + "/y"));
            up(shop, dir);
            createVolume(volume, {"--opt", "type=none", "--opt", "o=rbind", "--opt", "device=" + dir + "/y"});
            return Scene{shop, dir, "used by volume " + volume};
        },
        [&] {
            const QString shop = uniqueName("layered");
            const QString volume = uniqueName("overlay");
            const QString dir = folder("layered");
            up(shop, dir);
            createVolume(
                volume, {"--opt", "type=overlay", "--opt", "device=overlay", "--opt",
                         "o=lowerdir=" + dir + "/lower,upperdir=" + dir + "/upper,workdir=" + dir + "/work"});
            return Scene{shop, dir, "used by volume " + volume};
        },
        // What another project's compose file reads from the folder: a file it includes, a service it
        // extends, an env file. compose resolves these away; only the files tell.
        [&] {
            return namedByAnother("include", "include: [../%1/inc.yaml]\n" + service(), "inc.yaml",
                                  "services:\n  side:\n" + service().section("  web:\n", 1));
        },
        [&] {
            return namedByAnother("extends",
                                  "services:\n  web:\n    extends: {file: ../%1/base.yaml, service: base}\n",
                                  "base.yaml", service().replace("  web:", "  base:"));
        },
        [&] {
            return namedByAnother("env", service() + "    env_file: [../%1/shared.env]\n", "shared.env",
                                  "A=1\n");
        },
    };
    // Scenes whose refusal gives a stranger's reason (a project of someone else's whose compose files
    // cannot be read may use any folder, and is named before ours): not judged, and said so at the end.
    QStringList unjudged;
    for (const auto& scene : scenes) {
        const Scene made = scene();
        const TeardownPlan planned = plan(made.project);
        EXPECT_EQ(planned.workingDir, std::nullopt) << made.dir.toStdString();
        // Others on the shared engine may use it too, or keep the mounts from being read; ours must be named.
        const QStringList refusal = planned.notes.filter(made.dir + " is not offered for the Trash: ");
        ASSERT_EQ(refusal.size(), 1) << planned.notes.join('\n').toStdString();
        if (!refusal.first().contains(made.why) && TestSupport::stalledElsewhere(refusal)) {
            unjudged << refusal.first();
            continue;
        }
        EXPECT_TRUE(refusal.first().contains(made.why)) << refusal.first().toStdString() << "\n"
                                                        << made.why.toStdString();
    }

    // A backup container that mounts the folder above the project's sees it go: said beside the offer.
    {
        const QString shop = uniqueName("under");
        const QString backup = uniqueName("backup");
        const QString dir = projectFolder("parent/under", service());
        up(shop, dir);
        runContainer(backup, {"-v", root.filePath("parent") + ":/srv"});
        const TeardownPlan planned = plan(shop);
        if (!stalledElsewhere(planned)) {
            EXPECT_EQ(planned.workingDir, dir) << planned.notes.join('\n').toStdString();
            EXPECT_TRUE(planned.trashNotes.join('\n').contains(backup + " binds " + root.filePath("parent")))
                << planned.trashNotes.join('\n').toStdString();
        }
    }

    // The home folder, however the project came to live there.
    const QString mine = uniqueName("mine");
    const QString dir = root.filePath("mine");
    ASSERT_TRUE(QDir().mkpath(dir + "/vol"));
    projectFolder("mine", service("      - ./data:/data\n      - vol:/vol\n") +
                              "volumes:\n  vol:\n    driver_opts: {type: none, o: bind, device: " + dir +
                              "/vol}\n");
    volumesMade << mine + "_vol";
    ASSERT_NO_FATAL_FAILURE(up(mine, dir));
    {
        const ScopedEnv home{"HOME", dir.toUtf8()};
        EXPECT_TRUE(
            plan(mine).notes.contains(dir + " is not offered for the Trash: it is your home folder."));
    }
    // Elsewhere, and used by nobody else, it is offered; with it would go what it binds inside. The
    // engine reached through a second context lists its containers and volume again, as the same.
    const QString user = uniqueName("user");
    runContainer(user, {"-v", root.filePath("outer") + ":/o"});
    const QString twin = uniqueName("twin");
    ASSERT_EQ(docker({"context", "create", twin, "--docker", "host=unix:///var/run/docker.sock"}).status, 0);
    run(store->loadContexts());
    ASSERT_EQ(store->runtimes().size(), 2);
    const TeardownPlan free = plan(mine);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(free));
    if (!free.workingDir && stalledElsewhere(free))
        GTEST_SKIP() << "the offer not judged: " << free.notes.join('\n').toStdString()
                     << (unjudged.isEmpty() ? "" : "\nnor, kept by others, these refusals: ")
                     << unjudged.join('\n').toStdString();
    EXPECT_EQ(free.workingDir, dir);
    EXPECT_EQ(free.folder, Platform::identityOf(dir));
    EXPECT_EQ(free.folderBinds, (QStringList{dir + "/data", dir + "/vol"}));
    EXPECT_EQ(TestSupport::names(free.removable()), QStringList{mine + "_vol"});
    EXPECT_TRUE(free.notes.isEmpty()) << free.notes.join('\n').toStdString();
    if (!unjudged.isEmpty())
        GTEST_SKIP() << "not judged, as others on the engine gave the reason: "
                     << unjudged.join('\n').toStdString();
}

// A project started from the folder after the plan was made would lose its files: the deletion makes
// the plan again first, removes nothing, and gives back the plan that no longer offers the folder.
TEST_F(TrashOnEngine, AProjectStartedFromTheFolderAfterThePlanKeepsIt)
{
    const QString shop = uniqueName("shop");
    const QString later = uniqueName("later");
    const QString dir = folder("shop");
    ASSERT_NO_FATAL_FAILURE(up(shop, dir));
    const TeardownPlan shown = plan(shop);
    if (!shown.workingDir && stalledElsewhere(shown))
        GTEST_SKIP() << shown.notes.join('\n').toStdString();
    ASSERT_EQ(shown.workingDir, dir);

    ASSERT_NO_FATAL_FAILURE(up(later, dir));
    const std::optional<TeardownPlan> now = run(store->deleteProject(shown, store->runtime(), true));

    ASSERT_TRUE(now);
    EXPECT_EQ(now->workingDir, std::nullopt);
    EXPECT_EQ(now->notes, QStringList{dir + " is not offered for the Trash: used by " + later + "-web-1 of " +
                                      later + "."});
    EXPECT_EQ(containersOf(shop).size(), 1) << "nothing was removed";
    EXPECT_TRUE(QFile::exists(dir + "/compose.yaml"));
    EXPECT_EQ(store->error(), std::nullopt);
}

// One service goes at once, the other stops slowly: once the first is gone, its volume is removed and
// made again under its name, with the project's label, and written into. The deletion looks at each
// volume once more just before it removes it, keeps the new one with its data, and names it.
TEST_F(TrashOnEngine, AVolumeMadeAgainDuringTheDownIsKeptAndNamed)
{
    const QString name = uniqueName("remade");
    const QString volume = name + "_data";
    const QString image = TestSupport::testImage();
    projectsMade << name;
    volumesMade << volume;
    const QString control = root.filePath("control");
    ASSERT_TRUE(QDir().mkpath(control));
    // The slow service holds its stop until the test lets it go, so the down lasts as long as needed.
    const QString dir = projectFolder(
        "remade",
        QStringLiteral("services:\n"
                       "  fast:\n    image: %1\n    command: sleep 600\n    stop_grace_period: 1s\n"
                       "    network_mode: none\n    volumes: [data:/data]\n"
                       "  slow:\n    image: %1\n    stop_grace_period: 60s\n    network_mode: none\n"
                       "    volumes: [\"%2:/control\"]\n"
                       "    command: [sh, -c, 'trap \"while [ ! -e /control/go ]; do sleep 0.1; done; "
                       "exit 0\" TERM; while true; do sleep 1; done']\n"
                       "volumes:\n  data: {}\n")
            .arg(image, control));
    ASSERT_EQ(docker({"compose", "-p", name, "up", "-d"}, dir).status, 0);
    // Made again at least a second later, so it prints another creation time.
    QThread::msleep(1100);
    const TeardownPlan shown = plan(name);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(shown));
    ASSERT_EQ(TestSupport::names(shown.removable()), QStringList{volume});

    std::atomic_bool remade = false;
    std::thread meanwhile([&] {
        const QDeadlineTimer limit(60000);
        while (docker({"container", "inspect", name + "-fast-1"}).status == 0 && !limit.hasExpired())
            QThread::msleep(50);
        remade =
            docker({"volume", "rm", volume}).status == 0 &&
            docker({"volume", "create", "--label", "com.docker.compose.project=" + name, volume}).status ==
                0 &&
            docker({"run", "--rm", "--network", "none", "-v", volume + ":/d", image, "sh", "-c",
                    "echo theirs > /d/note"})
                    .status == 0;
        QFile(control + "/go").open(QIODevice::WriteOnly);
    });
    run(store->deleteProject(shown, store->runtime(), false));
    meanwhile.join();

    ASSERT_TRUE(remade) << "the volume was not made again during the down";
    EXPECT_EQ(store->error(), volume + " was made again since the plan was made; it was not removed.");
    EXPECT_EQ(docker({"run", "--rm", "--network", "none", "-v", volume + ":/d", image, "cat", "/d/note"}).out,
              "theirs\n");
    EXPECT_TRUE(containersOf(name).isEmpty());
}

// Started through a link (`cd lnk && docker compose up -d`, lnk -> real), with a volume of its own that
// the engine binds to a folder inside: the plan names the folder the files are in, the volume goes
// first, and the Trash takes that folder whole; the link stays where it was.
TEST_F(TrashOnEngine, AFolderStartedThroughALinkGoesWholeWithItsOwnBoundVolume)
{
    const QString name = uniqueName("linked");
    volumesMade << name + "_data";
    const QString real = projectFolder("real", service("      - data:/data\n"));
    const QString lnk = root.filePath("lnk");
    ASSERT_TRUE(QDir().mkpath(real + "/data") && QFile::link(real, lnk));
    QFile file(real + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(
        ("volumes:\n  data:\n    driver_opts: {type: none, o: bind, device: " + lnk + "/data}\n").toUtf8());
    file.close();
    ASSERT_NO_FATAL_FAILURE(up(name, lnk));
    ASSERT_EQ(docker({"exec", name + "-web-1", "sh", "-c", "echo kept > /data/note"}).status, 0);

    const TeardownPlan shown = plan(name);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(shown));
    if (!shown.workingDir && stalledElsewhere(shown))
        GTEST_SKIP() << shown.notes.join('\n').toStdString();
    // Said beside the offer, what others on the engine leave unknown is theirs.
    QStringList ours;
    for (const QString& note : shown.notes)
        if (TestSupport::strangersNamedIn(note).isEmpty())
            ours << note;
    EXPECT_TRUE(ours.isEmpty()) << ours.join('\n').toStdString();
    ASSERT_EQ(shown.workingDir, real);
    EXPECT_EQ(shown.folderLink, lnk);
    EXPECT_EQ(TestSupport::names(shown.removable()), QStringList{name + "_data"});
    run(store->deleteProject(shown, store->runtime(), true));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(volumeExists(name + "_data"));
    EXPECT_FALSE(QFileInfo::exists(real));
    EXPECT_TRUE(QFileInfo(lnk).isSymLink());
    QFile note(root.filePath("data/Trash/files/real/data/note"));
    ASSERT_TRUE(note.open(QIODevice::ReadOnly)) << "the files went to the Trash";
    EXPECT_EQ(note.readAll(), "kept\n");
}

// A container bound to a folder inside the project through a bind mount of the host that is gone since:
// the engine still names the mount point, which holds nothing of the project now, but the container
// still has the folder mounted, as its own mount table says. That keeps the folder, and names it.
TEST_F(TrashOnEngine, AContainerBoundThroughAHostMountGoneSinceKeepsTheFolder)
{
    const QString shop = uniqueName("unbound");
    const QString loose = uniqueName("through");
    const QString dir = folder("unbound");
    const QString gate = root.filePath("gate");
    ASSERT_TRUE(QDir().mkpath(dir + "/db") && QDir().mkpath(gate));
    ASSERT_NO_FATAL_FAILURE(up(shop, dir));
    // Taken down again however the test ends.
    struct HostMount {
        QString at;
        bool mounted = false;
        ~HostMount()
        {
            if (mounted)
                QProcess::execute(QStringLiteral("umount"), {at});
        }
    } bound{gate};
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), dir + "/db", gate}) != 0)
        GTEST_SKIP() << "this test may not mount a folder";
    bound.mounted = true;
    ASSERT_NO_FATAL_FAILURE(runContainer(loose, {"-v", gate + ":/db"}));
    ASSERT_EQ(QProcess::execute(QStringLiteral("umount"), {gate}), 0);
    bound.mounted = false;
    ASSERT_TRUE(QDir(gate).isEmpty()) << "the host's side of the mount is gone";

    const TeardownPlan planned = plan(shop);
    if (stalledElsewhere(planned))
        GTEST_SKIP() << planned.notes.join('\n').toStdString();
    EXPECT_EQ(planned.workingDir, std::nullopt);
    EXPECT_EQ(planned.notes, QStringList{dir + " is not offered for the Trash: used by " + loose +
                                         ", which has it mounted at /db."});
}
