#include "store/StoreOnEngine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// Projects whose files say more than their running containers do: started with env files, remembered
// from a compose file renamed since, naming a path through a long chain of merge keys, made from two
// sets of files. What they rely on is what compose reads of them, asked of compose itself; the bind
// that only their files name is never on a running container, so nothing but a reading of those files
// can keep it. The project beside them is deleted (to the Trash where its plan offers the folder), and
// compose then brings the one that names its folder up as it reads it now: its service must still see
// what was there.

using namespace EngineTesting;

namespace {

// A service as service() has it, named `name`, with `more` lines of its own after the image.
QString serviceNamed(const QString& name, const QString& more = {})
{
    return QStringLiteral("  %1:\n    image: %2\n    command: sleep 600\n    stop_grace_period: 1s\n")
               .arg(name, TestSupport::testImage()) +
           more + TestSupport::noNetwork;
}

// Projects brought up by compose as a user would, and taken down once the store has seen them run.
class StartedByHand : public ActionsOnEngine {
protected:
    // `docker compose -p <name> <args> up -d <services>` in `dir`.
    void up(const QString& name, const QString& dir, const QStringList& args, const QStringList& services)
    {
        projectsMade << name;
        const auto done =
            docker(QStringList{"compose", "-p", name} + args + QStringList{"up", "-d"} + services, dir);
        ASSERT_EQ(done.status, 0) << done.err.toStdString();
    }

    // The project seen running by the store, then its containers removed: only remembered now.
    void takeDown(const QString& name)
    {
        run(store->refresh(false));
        ASSERT_TRUE(project(name)) << "the store saw " << name.toStdString() << " run";
        ASSERT_EQ(docker(QStringList{"rm", "-f"} + containersOf(name)).status, 0);
        run(store->refresh(false));
        ASSERT_TRUE(project(name) && project(name)->containers.isEmpty())
            << "the store remembers " << name.toStdString() << ", down";
    }
};

using StartedWithEnvFiles = StartedByHand;

class StartedFromLayouts : public StartedByHand {
protected:
    // The control below needs a folder offered: none is while another test's container binds the root.
    TestSupport::RootBindTurn rootBinds{false};

    QString target;
    QString targetDir;
    QString data; // in the target's folder; what the other project's files name

    // The project to delete, running, in a folder of its own that holds a data folder it does not
    // mount itself; and its plan while nothing else names the folder, which offers it. Where that plan
    // keeps it for a reason outside this test the layout is not judged: nothing would tell a folder kept
    // for the other project's files from one kept for everything.
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(StartedByHand::SetUp());
        target = uniqueName("target");
        targetDir = QDir(root.path()).canonicalPath() + u'/' + target;
        ASSERT_NO_FATAL_FAILURE(
            TestSupport::writeFile(targetDir + "/compose.yaml", "services:\n" + serviceNamed("app")));
        ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(targetDir + "/data/file", "precious\n"));
        data = targetDir + "/data";
        ASSERT_NO_FATAL_FAILURE(up(target, targetDir, {}, {}));
        run(store->refresh(false));
        ASSERT_TRUE(project(target));
        const TeardownPlan alone = run(store->teardownPlan(*project(target)));
        if (!alone.workingDir && TestSupport::stalledElsewhere(alone.notes))
            GTEST_SKIP() << "not judged: with nothing of this test naming it, the folder is kept for others: "
                         << alone.notes.join('\n').toStdString();
        ASSERT_EQ(alone.workingDir, targetDir) << alone.notes.join('\n').toStdString();
    }

    // Compose's own word: the bind sources the service `service` of `name` has as compose reads it in
    // `dir` with `args`.
    static QStringList bindsRead(const QString& name, const QString& dir, const QStringList& args,
                                 const QString& service)
    {
        const auto read = docker(
            QStringList{"compose", "-p", name} + args + QStringList{"config", "--format", "json"}, dir);
        EXPECT_EQ(read.status, 0) << read.err.toStdString();
        QStringList sources;
        const QJsonObject services =
            QJsonDocument::fromJson(read.out.toUtf8()).object()["services"].toObject();
        for (const QJsonValue& volume : services[service].toObject()["volumes"].toArray())
            if (volume["type"].toString() == "bind")
                sources << volume["source"].toString();
        return sources;
    }

    // The target deleted as its plan says, the folder to the Trash where offered; then compose brings
    // `service` of the project `name` up as it reads it in `dir` now, and the service must see the file
    // it saw there. The plan must not have offered the folder its files name.
    void deleteTargetAndJudge(const QString& name, const QString& dir, const QStringList& args,
                              const QString& service)
    {
        ASSERT_EQ(bindsRead(name, dir, args, service), QStringList{data})
            << "compose reads the bind into the target's folder";
        run(store->refresh(false));
        ASSERT_TRUE(project(target));
        const TeardownPlan plan = run(store->teardownPlan(*project(target)));
        EXPECT_EQ(plan.workingDir, std::nullopt)
            << "offered, though " << name.toStdString() << "'s files bind " << data.toStdString();
        const std::optional<TeardownPlan> changed =
            run(store->deleteProject(plan, store->runtime(), plan.workingDir.has_value()));
        ASSERT_EQ(changed, std::nullopt) << changed->notes.join('\n').toStdString();
        EXPECT_TRUE(containersOf(target).isEmpty()) << "the target was deleted";

        const auto again =
            docker(QStringList{"compose", "-p", name} + args + QStringList{"up", "-d", service}, dir);
        ASSERT_EQ(again.status, 0) << again.err.toStdString();
        const auto seen = docker({"exec", name + "-" + service + "-1", "cat", "/data/file"});
        EXPECT_EQ(seen.out, QStringLiteral("precious\n"))
            << name.toStdString() << "'s " << service.toStdString()
            << " no longer sees its data: " << seen.err.toStdString();
    }
};

// What a variable is inside the running container, as the engine was told at its creation.
QString greetingIn(const QString& container)
{
    const auto env = docker({"inspect", "--format", "{{json .Config.Env}}", container});
    for (const QJsonValue& line : QJsonDocument::fromJson(env.out.toUtf8()).array())
        if (line.toString().startsWith("GREETING="))
            return line.toString().mid(9);
    return QStringLiteral("(not set)");
}

} // namespace

// A remembered project started from docker-compose.yml, renamed since to compose.yaml: compose reads
// the new name, and so does the plan. Its backup service, never started, binds the target's data.
TEST_F(StartedFromLayouts, ARememberedProjectsRenamedComposeFileStillNamesTheFolder)
{
    const QString name = uniqueName("renamed");
    const QString dir = root.filePath(name);
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(
        dir + "/docker-compose.yml",
        "services:\n" + serviceNamed("web") +
            serviceNamed("backup", "    volumes: [\"../" + target + "/data:/data\"]\n")));
    ASSERT_NO_FATAL_FAILURE(up(name, dir, {}, {"web"}));
    ASSERT_NO_FATAL_FAILURE(takeDown(name));
    ASSERT_TRUE(QFile::rename(dir + "/docker-compose.yml", dir + "/compose.yaml"));

    deleteTargetAndJudge(name, dir, {}, "backup");
}

// A running project whose backup service (not started) takes its bind through a chain of twenty merge
// keys, as compose resolves it.
TEST_F(StartedFromLayouts, ABindAtTheEndOfADeepMergeChainNamesTheFolder)
{
    const QString name = uniqueName("chain");
    const QString dir = root.filePath(name);
    QString text = "x-link-0: &link0\n  volumes: [\"" + data + ":/data\"]\n";
    for (int i = 1; i < 20; ++i)
        text += QStringLiteral("x-link-%1: &link%1\n  <<: *link%2\n").arg(i).arg(i - 1);
    text += "services:\n" + serviceNamed("web") + "  backup:\n    <<: *link19\n" +
            serviceNamed("backup").section(u'\n', 1);
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(dir + "/compose.yaml", text));
    ASSERT_NO_FATAL_FAILURE(up(name, dir, {}, {"web"}));

    deleteTargetAndJudge(name, dir, {}, "backup");
}

// A project whose containers were made from two sets of files: web from its compose.yaml, tool from
// extra.yaml alone, whose backup service (never made) binds the target's data. Down, the project is
// only remembered, and only the second set names the bind.
TEST_F(StartedFromLayouts, ABindNamedOnlyInTheSecondSetOfFilesNamesTheFolder)
{
    const QString name = uniqueName("sets");
    const QString dir = root.filePath(name);
    ASSERT_NO_FATAL_FAILURE(
        TestSupport::writeFile(dir + "/compose.yaml", "services:\n" + serviceNamed("web")));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(
        dir + "/extra.yaml", "services:\n" + serviceNamed("tool") +
                                 serviceNamed("backup", "    volumes: [\"" + data + ":/data\"]\n")));
    ASSERT_NO_FATAL_FAILURE(up(name, dir, {}, {"web"}));
    ASSERT_NO_FATAL_FAILURE(up(name, dir, {"-f", "extra.yaml"}, {"tool"}));
    ASSERT_NO_FATAL_FAILURE(takeDown(name));

    deleteTargetAndJudge(name, dir, {"-f", "extra.yaml"}, "backup");
}

// Started with two env files, the later one's value winning as compose has it, beside a .env of the
// folder that says otherwise: Up leaves the running service as it is, the registry keeps both files in
// order, and Start of the project once it is down brings the value back.
TEST_F(StartedWithEnvFiles, UpAndStartKeepWhatTheLaterOfTwoEnvFilesGave)
{
    const QString name = uniqueName("greet");
    const QString dir = root.filePath(name);
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(
        dir + "/compose.yaml", "services:\n" + serviceNamed("web", "    environment:\n      GREETING: "
                                                                   "\"${GREETING:-unset}\"\n")));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(dir + "/.env", "GREETING=from-the-folder\n"));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(dir + "/a.env", "GREETING=from-a\n"));
    ASSERT_NO_FATAL_FAILURE(TestSupport::writeFile(dir + "/b.env", "GREETING=from-b\n"));
    ASSERT_NO_FATAL_FAILURE(up(name, dir, {"--env-file", "a.env", "--env-file", "b.env"}, {}));
    const QString web = name + "-web-1";
    ASSERT_EQ(greetingIn(web), QStringLiteral("from-b")) << "compose takes the later env file";
    const QString id = docker({"inspect", "--format", "{{.Id}}", web}).out;
    run(store->refresh(false));
    ASSERT_TRUE(project(name));

    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(greetingIn(web), QStringLiteral("from-b"));
    EXPECT_EQ(docker({"inspect", "--format", "{{.Id}}", web}).out, id) << "nothing to recreate";
    const auto envFiles = [&] {
        QStringList sets;
        for (const KnownProject& known : ProjectRegistry::load(*settings).byRuntime.value("default"))
            if (known.name == name)
                for (const StartedFrom& set : known.startedFrom)
                    sets << set.envFiles;
        return sets;
    };
    EXPECT_EQ(envFiles(), QStringList{dir + "/a.env," + dir + "/b.env"});

    ASSERT_NO_FATAL_FAILURE(takeDown(name));
    run(store->up(*project(name)));
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(greetingIn(web), QStringLiteral("from-b"));
    EXPECT_EQ(docker({"exec", web, "sh", "-c", "echo $GREETING"}).out, QStringLiteral("from-b\n"));
    run(store->refresh(false));
    EXPECT_EQ(envFiles(), QStringList{dir + "/a.env," + dir + "/b.env"});
}
