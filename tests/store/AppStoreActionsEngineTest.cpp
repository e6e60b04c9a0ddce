#include "store/StoreOnEngine.h"

using TestSupport::docker;
using TestSupport::ScopedEnv;
using TestSupport::uniqueName;
using namespace EngineTesting;

TEST_F(ActionsOnEngine, AContainerIsStoppedStartedPausedRestartedCommittedAndRemoved)
{
    const QString name = uniqueName("web");
    ASSERT_NO_FATAL_FAILURE(runContainer(name));
    run(store->refresh(false));
    ASSERT_TRUE(listed(name));
    const Container web = *listed(name);

    const struct {
        const char* action;
        std::function<QCoro::Task<>()> act;
        const char* state;
    } steps[] = {
        {"stop", [&] { return store->stop(web); }, "exited"},
        {"start", [&] { return store->start(web); }, "running"},
        {"pause", [&] { return store->pause(web); }, "paused"},
        {"unpause", [&] { return store->unpause(web); }, "running"},
        {"restart", [&] { return store->restart(web); }, "running"},
    };
    for (const auto& step : steps) {
        run(step.act());
        EXPECT_EQ(store->error(), std::nullopt) << step.action;
        ASSERT_TRUE(listed(name)) << step.action;
        EXPECT_EQ(listed(name)->state, step.state) << step.action;
        EXPECT_FALSE(store->busy());
    }

    const QString snapshot = uniqueName("snap") + ":1";
    imagesMade << snapshot;
    run(store->commit(web, "  " + snapshot + "\t"));
    EXPECT_EQ(store->error(), std::nullopt);
    ASSERT_TRUE(image(snapshot));

    const QString tagged = uniqueName("snap") + ":2";
    imagesMade << tagged;
    run(store->tag(*image(snapshot), " " + tagged));
    ASSERT_TRUE(image(tagged));
    run(store->remove(*image(tagged)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(image(tagged));
    EXPECT_TRUE(image(snapshot)) << "only the tag went";

    run(store->remove(web));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(listed(name));
    EXPECT_NE(docker({"inspect", name}).status, 0);
}

TEST_F(ActionsOnEngine, TheEnginesRefusalBecomesTheErrorAndTheNextSuccessClearsIt)
{
    // An imported image that a running container uses cannot be removed without force.
    const QString ref = uniqueName("imported") + ":1";
    imagesMade << ref;
    const QString source = uniqueName("source");
    containersMade << source;
    ASSERT_EQ(docker({"create", "--name", source, TestSupport::testImage(), "true"}).status, 0);
    ASSERT_EQ(docker({"export", source, "-o", root.filePath("fs.tar")}).status, 0);
    const auto imported = docker({"import", root.filePath("fs.tar"), ref});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    const QString name = uniqueName("user");
    containersMade << name;
    ASSERT_EQ(
        docker({"run", "-d", "--network", "none", "--stop-timeout", "1", "--name", name, ref, "sleep", "600"})
            .status,
        0);
    run(store->refresh(false));
    ASSERT_TRUE(image(ref));

    run(store->remove(*image(ref)));
    ASSERT_TRUE(store->error());
    EXPECT_TRUE(store->error()->contains("conflict")) << store->error()->toStdString();
    EXPECT_TRUE(image(ref));

    run(store->stop(*listed(name)));
    EXPECT_EQ(store->error(), std::nullopt);
}

TEST_F(ActionsOnEngine, AVolumeIsRemovedUnlessAContainerStillUsesIt)
{
    const QString free = uniqueName("free");
    const QString used = uniqueName("used");
    ASSERT_NO_FATAL_FAILURE(createVolume(free));
    ASSERT_NO_FATAL_FAILURE(createVolume(used));
    ASSERT_NO_FATAL_FAILURE(runContainer(uniqueName("user"), {"-v", used + ":/data"}));
    run(store->refresh(false));
    const auto find = [&](const QString& name) {
        for (const DockerVolume& v : store->volumes())
            if (v.name == name)
                return std::optional<DockerVolume>(v);
        return std::optional<DockerVolume>();
    };
    ASSERT_TRUE(find(free));
    ASSERT_TRUE(find(used));

    run(store->remove(*find(free)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(find(free));

    run(store->remove(*find(used)));
    ASSERT_TRUE(store->error());
    EXPECT_TRUE(store->error()->contains("in use")) << store->error()->toStdString();
    EXPECT_TRUE(volumeExists(used));
}

TEST_F(ActionsOnEngine, PullingWhatCannotBeReachedShowsTheClientsError)
{
    run(store->pull(" \t"));
    EXPECT_EQ(store->error(), std::nullopt);

    run(store->pull("  127.0.0.1:1/voskel/nothing:latest\t"));
    ASSERT_TRUE(store->error());
    EXPECT_TRUE(store->error()->contains("127.0.0.1:1")) << store->error()->toStdString();
    EXPECT_FALSE(store->error()->contains("invalid reference format")) << "the blanks were trimmed";
    EXPECT_FALSE(store->busy());
}

TEST_F(ActionsOnEngine, AReferenceThatLooksLikeAnOptionIsAFailedPullNotTheClientsHelp)
{
    for (const char* reference : {"-h", "--help", "-a"}) {
        run(store->pull(reference));
        ASSERT_TRUE(store->error()) << reference;
        EXPECT_FALSE(store->error()->contains("Usage")) << store->error()->toStdString();
    }
}

TEST_F(ActionsOnEngine, UpAndDownActOnTheProjectWhateverNameTheFolderOrEnvironmentWouldGive)
{
    const QString name = uniqueName("shop");
    const QString elsewhere = uniqueName("elsewhere");
    projectsMade << name << elsewhere;
    const QString dir = projectFolder(uniqueName("checkout"), service());
    // Inherited by the application, this would rename every project compose is left to name.
    ScopedEnv inherited{"COMPOSE_PROJECT_NAME", elsewhere.toUtf8()};
    const ComposeProject shop{name, dir, {}, 0, std::nullopt};

    run(store->up(shop));
    EXPECT_EQ(store->error(), std::nullopt);
    ASSERT_TRUE(project(name));
    ASSERT_EQ(project(name)->containers.size(), 1);
    EXPECT_EQ(project(name)->containers[0].state, "running");
    EXPECT_TRUE(containersOf(elsewhere).isEmpty());

    run(store->stopAll(*project(name)));
    EXPECT_EQ(project(name)->containers[0].state, "exited");
    run(store->startAll(*project(name)));
    EXPECT_EQ(project(name)->containers[0].state, "running");

    run(store->down(shop));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_TRUE(containersOf(name).isEmpty());
    ASSERT_TRUE(project(name)) << "remembered without containers";
    EXPECT_TRUE(project(name)->containers.isEmpty());
}

TEST_F(ActionsOnEngine, AFolderIsAddedAndAProjectRelocatedOnlyToItsOwnProject)
{
    const QString name = uniqueName("blog");
    const QString first = projectFolder(uniqueName("one"), "name: " + name + "\n" + service());
    const QString second = projectFolder(uniqueName("two"), "name: " + name + "\n" + service());
    const QString other = projectFolder(uniqueName("three"), "name: " + name + "x\n" + service());

    EXPECT_EQ(run(store->addProject(first, std::nullopt)), std::nullopt);
    ASSERT_TRUE(project(name));
    EXPECT_EQ(project(name)->workingDir, first);
    EXPECT_EQ(project(name)->serviceCount, 1);

    EXPECT_EQ(run(store->relocate(*project(name), second)), std::nullopt);
    EXPECT_EQ(project(name)->workingDir, second);

    const std::optional<QString> refused = run(store->relocate(*project(name), other));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(name + "x")) << refused->toStdString();
    EXPECT_EQ(project(name)->workingDir, second);

    const std::optional<QString> empty = run(store->addProject(root.filePath("home"), std::nullopt));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->startsWith("No compose file in")) << empty->toStdString();

    store->forget(*project(name));
    EXPECT_FALSE(project(name));
}

TEST_F(ActionsOnEngine, AFolderWhoseProjectRunsFromAnotherFolderIsRefusedWithAReason)
{
    // compose knows a project by its name alone. While containers of the name carry another folder,
    // an added folder would act on them, and the next refresh would put their folder back.
    const QString name = uniqueName("site");
    projectsMade << name;
    const QString first = projectFolder(uniqueName("one"), "name: " + name + "\n" + service());
    const QString second = projectFolder(uniqueName("two"), "name: " + name + "\n" + service());
    ASSERT_EQ(run(store->addProject(first, std::nullopt)), std::nullopt);
    run(store->up(*project(name)));
    ASSERT_EQ(containersOf(name).size(), 1);

    const std::optional<QString> refused = run(store->addProject(second, std::nullopt));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(name) && refused->contains(first)) << refused->toStdString();
    run(store->refresh(false));
    EXPECT_EQ(project(name)->workingDir, first);

    // The same folder again, by another path to it, is still welcome.
    ASSERT_TRUE(QFile::link(first, root.filePath("link")));
    EXPECT_EQ(run(store->addProject(root.filePath("link"), std::nullopt)), std::nullopt);

    // Once the containers are gone, the folder is the user's choice.
    run(store->down(*project(name)));
    ASSERT_TRUE(containersOf(name).isEmpty());
    EXPECT_EQ(run(store->addProject(second, std::nullopt)), std::nullopt);
    run(store->refresh(false));
    EXPECT_EQ(project(name)->workingDir, second);
}

TEST_F(ActionsOnEngine, DeletionTakesOnlyWhatIsTheProjectsAloneAndTrashesItsFolder)
{
    const QString name = uniqueName("shop");
    const QString neighbour = uniqueName("neighbour");
    projectsMade << name << neighbour;
    const QString external = uniqueName("ext");
    ASSERT_NO_FATAL_FAILURE(createVolume(external));
    volumesMade << name + "_data" << name + "_cache";

    // The external volume is shared with another project, down at the moment.
    projectFolder(uniqueName("neighbour"),
                  "name: " + neighbour + "\n" + service("      - shared:/shared\n") +
                      "volumes:\n  shared:\n    external: true\n    name: " + external + "\n");
    const QString dir =
        projectFolder(uniqueName("checkout"),
                      service("      - data:/data\n      - cache:/cache\n      - shared:/shared\n") +
                          "volumes:\n  data: {}\n  cache: {}\n"
                          "  shared:\n    external: true\n    name: " +
                          external + "\n");
    run(store->up({name, dir, {}, 0, std::nullopt}));
    ASSERT_EQ(store->error(), std::nullopt);
    const QString web = name + "-web-1";
    ASSERT_EQ(docker({"exec", web, "sh", "-c", "head -c 2000000 /dev/zero > /data/blob"}).status, 0);
    // A container outside the project uses the project's cache.
    const QString loose = uniqueName("loose");
    ASSERT_NO_FATAL_FAILURE(runContainer(loose, {"-v", name + "_cache:/cache"}));
    run(store->refresh(false));
    ASSERT_TRUE(project(name));

    TeardownPlan plan = run(store->teardownPlan(*project(name)));
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(plan));
    EXPECT_EQ(plan.containers, QStringList{web});
    bool trashed = plan.workingDir || !stalledElsewhere(plan);
    if (trashed) {
        EXPECT_EQ(plan.workingDir, dir) << plan.notes.join('\n').toStdString();
    }
    ASSERT_EQ(plan.volumes.size(), 2) << "the external volume is not the project's to plan";
    EXPECT_EQ(plan.volumes[0].name, name + "_cache");
    EXPECT_EQ(plan.volumes[0].usedBy, QStringList{loose});
    EXPECT_EQ(plan.volumes[1].name, name + "_data");
    EXPECT_TRUE(plan.volumes[1].usedBy.isEmpty());
    EXPECT_EQ(plan.volumes[1].size, std::nullopt) << "nothing measured yet";

    run(store->loadUsage());
    plan = run(store->teardownPlan(*project(name)));
    ASSERT_EQ(plan.removable().size(), 1);
    EXPECT_EQ(plan.removable()[0].size, "2 MB") << "what the volume holds, as the engine measured it";

    std::optional<TeardownPlan> shownAgain = run(store->deleteProject(plan, store->runtime(), trashed));
    // Someone else's container came to sit on a mount that stalls since the plan: the new plan keeps the
    // folder, and is confirmed as shown.
    if (shownAgain && stalledElsewhere(*shownAgain)) {
        trashed = false;
        shownAgain = run(store->deleteProject(*shownAgain, store->runtime(), false));
    }
    EXPECT_EQ(shownAgain, std::nullopt) << shownAgain.value_or(TeardownPlan{}).notes.join('\n').toStdString();
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(store->busy());
    EXPECT_TRUE(containersOf(name).isEmpty());
    EXPECT_FALSE(volumeExists(name + "_data"));
    EXPECT_TRUE(volumeExists(name + "_cache"));
    EXPECT_TRUE(volumeExists(external));
    EXPECT_EQ(QFile::exists(dir), !trashed);
    EXPECT_EQ(QFile::exists(root.filePath("data/Trash/files/" + QDir(dir).dirName() + "/compose.yaml")),
              trashed);
    EXPECT_FALSE(store->registry().knows(name, QStringLiteral("default")));
    EXPECT_FALSE(project(name));
}

// Only the volumes compose made for the project go: a volume that an override file declares external
// is left out of the plan and kept with its data, as `compose down -v` with both files would keep it.
TEST_F(ActionsOnEngine, DeletionTakesTheProjectsOwnVolumeAndKeepsOneAnOverrideBorrowed)
{
    const QString name = uniqueName("over");
    const QString keep = uniqueName("keep-me");
    ASSERT_NO_FATAL_FAILURE(upWithOverride(name, keep));
    ASSERT_TRUE(project(name));

    const TeardownPlan plan = run(store->teardownPlan(*project(name)));
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(plan));
    EXPECT_EQ(TestSupport::names(plan.volumes), QStringList{name + "_own"});
    run(store->deleteProject(plan, store->runtime(), false));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_TRUE(containersOf(name).isEmpty());
    EXPECT_FALSE(volumeExists(name + "_own"));
    EXPECT_EQ(docker({"run", "--rm", "--network", "none", "-v", keep + ":/k", TestSupport::testImage(), "cat",
                      "/k/file"})
                  .out,
              "precious\n");
}

// Up recreates the containers from the files they were made from, so the override's variable stays;
// without one of those files it runs nothing and says which is missing.
TEST_F(ActionsOnEngine, UpKeepsWhatTheOverrideGaveAndRefusesWithoutIt)
{
    const QString name = uniqueName("over");
    const QString dir = upWithOverride(name, uniqueName("keep-me"));
    const QString web = name + "-web-1";
    ASSERT_TRUE(environmentOf(web).contains("FLAVOUR=prod"));

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_TRUE(environmentOf(web).contains("FLAVOUR=prod")) << environmentOf(web).toStdString();

    const QString before = docker({"inspect", "--format", "{{.Id}}", web}).out;
    ASSERT_TRUE(QFile::rename(dir + "/compose.prod.yaml", dir + "/elsewhere.yaml"));
    run(store->up(*project(name)));
    ASSERT_TRUE(store->error());
    EXPECT_TRUE(store->error()->contains(dir + "/compose.prod.yaml")) << store->error()->toStdString();
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, before) << "nothing was recreated";
}

// The containers' list of files is read whole when their folder's path holds a comma and an equals
// sign, so Up reads the override, rather than refusing or leaving the override out.
TEST_F(ActionsOnEngine, UpKeepsTheOverrideOfAFolderWithACommaAndAnEqualsSignInItsPath)
{
    const QString name = uniqueName("over");
    upWithOverride(name, uniqueName("keep-me"), uniqueName("env=prod") + "/shop, old");
    const QString web = name + "-web-1";
    const QString before = docker({"inspect", "--format", "{{.Id}}", web}).out;

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, before) << "nothing was recreated";
}

// A project made with --project-directory and its file elsewhere: Up reads that file in the
// project's folder, so a relative bind mount still names the folder's data and nothing is recreated.
TEST_F(ActionsOnEngine, UpReadsTheFilesInTheFolderTheProjectWasMadeIn)
{
    const QString name = uniqueName("dirs");
    projectsMade << name;
    const QString dir = projectFolder(uniqueName("home"), service());
    ASSERT_TRUE(QDir().mkpath(root.filePath("deploy")));
    QFile stack(root.filePath("deploy/stack.yml"));
    ASSERT_TRUE(stack.open(QIODevice::WriteOnly));
    stack.write(service("      - ./data:/data\n").toUtf8());
    stack.close();
    const auto up =
        docker({"compose", "-p", name, "--project-directory", dir, "-f", stack.fileName(), "up", "-d"});
    ASSERT_EQ(up.status, 0) << up.err.toStdString();
    run(store->refresh(false));
    const QString web = name + "-web-1";
    const QString before = docker({"inspect", "--format", "{{.Id}}", web}).out;

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, before) << "nothing was recreated";
    EXPECT_EQ(docker({"inspect", "--format", "{{range .Mounts}}{{.Source}}{{end}}", web}).out.trimmed(),
              dir + "/data");
}

// Taken down after it ran from `-f stack.yml` and another folder as its own, the project is remembered
// with those: Up brings it up again from them, in that folder, as compose ran it.
TEST_F(ActionsOnEngine, ARememberedProjectComesUpAgainFromTheFilesItWasStartedFrom)
{
    const QString name = uniqueName("stack");
    projectsMade << name;
    const QString dir = root.filePath("run");
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(QDir().mkpath(root.filePath("deploy")));
    QFile stack(root.filePath("deploy/stack.yml"));
    ASSERT_TRUE(stack.open(QIODevice::WriteOnly));
    stack.write(service().toUtf8());
    stack.close();
    const QStringList files{"--project-directory", dir, "-f", stack.fileName()};
    ASSERT_EQ(docker(QStringList{"compose", "-p", name} + files + QStringList{"up", "-d"}).status, 0);
    run(store->refresh(false));
    ASSERT_EQ(docker(QStringList{"compose", "-p", name} + files + QStringList{"down"}).status, 0);
    run(store->refresh(false));
    ASSERT_TRUE(project(name) && project(name)->containers.isEmpty()) << "remembered, down";

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    const auto running = docker({"ps", "--filter", "label=com.docker.compose.project=" + name, "--format",
                                 "{{.Label \"com.docker.compose.project.working_dir\"}}"});
    EXPECT_EQ(running.out.trimmed(), dir) << "compose brought it up again in its folder";
}

// Without the compose file nothing says which volumes the project borrows: only the one compose made
// for it (labelled with its name) goes; a volume of its own making elsewhere and another project's stay.
TEST_F(ActionsOnEngine, AProjectWithoutItsFolderIsDeletedContainerByContainerAndKeepsWhatItBorrowed)
{
    const QString name = uniqueName("orphan");
    const QString web = uniqueName("orphan-web");
    const QString own = uniqueName("orphan-data");
    const QString borrowed = uniqueName("orphan-ext");
    const QString others = uniqueName("orphan-others");
    const QString label = QString(Docker::projectLabel) + "=";
    ASSERT_NO_FATAL_FAILURE(createVolume(own, {"--label", label + name}));
    ASSERT_NO_FATAL_FAILURE(createVolume(borrowed));
    ASSERT_NO_FATAL_FAILURE(createVolume(others, {"--label", label + uniqueName("blog")}));
    ASSERT_NO_FATAL_FAILURE(
        runContainer(web, {"--label", label + name, "--label",
                           QString(Docker::workingDirLabel) + "=" + root.filePath("gone"), "-v",
                           own + ":/data", "-v", borrowed + ":/ext", "-v", others + ":/others"}));
    run(store->refresh(false));
    ASSERT_TRUE(project(name));

    const TeardownPlan plan = run(store->teardownPlan(*project(name)));
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangerHolds(plan));
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_EQ(plan.volumes, (QList<VolumeUse>{{own, {}, std::nullopt}}))
        << plan.notes.join('\n').toStdString();
    run(store->deleteProject(plan, store->runtime(), true));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_NE(docker({"inspect", web}).status, 0);
    EXPECT_FALSE(volumeExists(own));
    EXPECT_TRUE(volumeExists(borrowed));
    EXPECT_TRUE(volumeExists(others));
}

// Another tool started it under a name compose refuses (capitals, a blank); only its labels know it.
TEST_F(ActionsOnEngine, AProjectWhoseFolderIsGoneLeavesNoNetworkBehind)
{
    // compose down would take the project's networks with it; removed container by container they
    // stayed, each holding one of the engine's few address ranges, and nothing here lists them.
    const QString name = uniqueName("gone");
    const QString neighbour = uniqueName("neighbour");
    projectsMade << name << neighbour;
    const QString dir = projectFolder(uniqueName("gone-dir"), "name: " + name + "\n" + networkedService());
    run(store->up({name, dir, {}, 0, std::nullopt}));
    ASSERT_EQ(containersOf(name).size(), 1) << store->error().value_or(QString()).toStdString();
    ASSERT_EQ(networksOf(name).size(), 1);
    const auto other = docker(
        {"network", "create", "--label", "com.docker.compose.project=" + neighbour, neighbour + "_default"});
    ASSERT_EQ(other.status, 0) << other.err.toStdString();
    ASSERT_TRUE(QDir(dir).removeRecursively());
    run(store->refresh(false));

    const TeardownPlan plan = run(store->teardownPlan(*project(name)));
    ASSERT_EQ(plan.workingDir, std::nullopt);
    run(store->deleteProject(plan, store->runtime(), false));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_TRUE(containersOf(name).isEmpty());
    EXPECT_TRUE(networksOf(name).isEmpty());
    EXPECT_EQ(networksOf(neighbour).size(), 1) << "another project's network stays";
}

TEST_F(ActionsOnEngine, AProjectWhoseNameComposeRefusesIsStillDeleted)
{
    const QString name = uniqueName("Shop") + " Front";
    const QString web = uniqueName("front-web");
    const QString dir =
        projectFolder("front", "services:\n  web:\n    image: " + TestSupport::testImage() + "\n");
    ASSERT_NO_FATAL_FAILURE(runContainer(web, {"--label", QString(Docker::projectLabel) + "=" + name,
                                               "--label", QString(Docker::workingDirLabel) + "=" + dir}));
    run(store->refresh(false));
    ASSERT_TRUE(project(name));

    const TeardownPlan plan = run(store->teardownPlan(*project(name)));
    EXPECT_EQ(plan.containers, QStringList{web});
    run(store->deleteProject(plan, store->runtime(), false));

    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_NE(docker({"inspect", web}).status, 0);
    EXPECT_FALSE(project(name));
}

// Another tool labelled a container with an empty project name and the folder of a compose project:
// compose takes an empty -p for that folder's project, so nothing here asks compose about it, and Down
// removes that container alone. The group gathers every such container on the engine, so the test acts
// only where it made the group's one container.
TEST_F(ActionsOnEngine, ANamelessProjectGoesDownWithoutTheProjectOfItsFolder)
{
    const TestSupport::NamelessGroup turn;
    VOSKEL_SKIP_FOR_STRANGERS(TestSupport::NamelessGroup::strangers());
    const QString name = uniqueName("kept");
    projectsMade << name;
    const QString dir = projectFolder(uniqueName("kept-dir"), "name: " + name + "\n" + networkedService());
    run(store->up({name, dir, {}, 0, std::nullopt}));
    ASSERT_EQ(containersOf(name).size(), 1);
    ASSERT_EQ(networksOf(name).size(), 1);
    const QString stray = uniqueName("stray");
    ASSERT_NO_FATAL_FAILURE(runContainer(stray, {"--label", QString(Docker::projectLabel) + "=", "--label",
                                                 QString(Docker::workingDirLabel) + "=" + dir}));
    run(store->refresh(false));
    ASSERT_TRUE(project(""));
    // Down removes the containers of this listing, by identifier: one that came since is not in it.
    const ComposeProject nameless = *project("");
    QStringList others = TestSupport::names(nameless.containers);
    others.removeAll(stray);
    VOSKEL_SKIP_FOR_STRANGERS(others);
    ASSERT_EQ(TestSupport::names(nameless.containers), QStringList{stray});

    run(store->up(nameless));
    EXPECT_EQ(store->error(), Docker::composeRefusalMessage(QString()));
    run(store->down(nameless));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_NE(docker({"inspect", stray}).status, 0);
    EXPECT_EQ(containersOf(name).size(), 1);
    EXPECT_EQ(networksOf(name).size(), 1);
    EXPECT_FALSE(store->registry().knows(QString(), QStringLiteral("default")))
        << "not remembered: compose could never bring it up again";
}

TEST_F(ActionsOnEngine, LoginWhereNoRegistryListensFailsWithTheClientsWordsAndNoPassword)
{
    const QString password = QStringLiteral("v0skel-secret-%1").arg(QCoreApplication::applicationPid());

    const AppStore::LoginResult result = run(store->login(" 127.0.0.1:1 ", "me", password));

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.said.contains("127.0.0.1:1")) << result.said.toStdString();
    EXPECT_FALSE(result.said.contains(password));
    QFile config(root.filePath("docker/config.json"));
    if (config.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(config.readAll().contains(password.toUtf8()));
    }
    EXPECT_EQ(store->error(), std::nullopt);
}

TEST_F(ActionsOnEngine, AServerThatLooksLikeAnOptionIsAFailedLoginNotTheClientsHelp)
{
    for (const char* server : {"-h", "--help"}) {
        const AppStore::LoginResult result = run(store->login(server, "me", "pw"));
        EXPECT_FALSE(result.ok) << server;
        EXPECT_FALSE(result.said.contains("Usage")) << result.said.toStdString();
    }
}

TEST_F(ActionsOnEngine, LoginToTheTestRegistryTurnsAWrongPasswordAwayAndTakesTheRightOne)
{
    VOSKEL_REQUIRE_REGISTRY();
    const TestSupport::TestRegistry registry = *TestSupport::testRegistry();

    const AppStore::LoginResult refused =
        run(store->login(registry.address, registry.username, "not-the-password"));
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.said.contains("401") || refused.said.contains("nauthorized"))
        << refused.said.toStdString();

    const AppStore::LoginResult accepted =
        run(store->login(registry.address, registry.username, registry.password));
    EXPECT_TRUE(accepted.ok) << accepted.said.toStdString();
    EXPECT_EQ(accepted.said, "Login Succeeded");
    QFile config(root.filePath("docker/config.json"));
    ASSERT_TRUE(config.open(QIODevice::ReadOnly));
    EXPECT_TRUE(config.readAll().contains(registry.address.toUtf8()));
}
