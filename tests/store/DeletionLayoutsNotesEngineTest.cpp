#include "store/DeletionLayoutsJudge.h"
#include "store/StoreOnEngine.h"

#include <QFileInfo>

// Doubts that do not touch the folder are said beside the offer, and the offer stands: another project
// that cannot be read, one with a path through a variable not set here, a container binding the root or
// the home. The move then done is judged by outcome: the other project's files are what they were, and
// compose brings it up again as it was started, its service seeing what it saw. A doubt tied to the
// folder (the unknown project's own folder inside it) keeps it.

using namespace EngineTesting;
using namespace Layouts;

namespace {

class TrashNotes : public ActionsOnEngine {
protected:
    QString world;

    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ActionsOnEngine::SetUp());
        world = real(root.filePath("home"));
    }

    static void write(const QString& path, const QString& text)
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(text.toUtf8());
    }

    // compose in `dir`, with DATA_DIR set to `dataDir` for it alone when given.
    static Platform::Capture compose(const QString& name, const QString& dir, const QStringList& more,
                                     const std::optional<QString>& dataDir = std::nullopt)
    {
        const QStringList args = QStringList{"compose", "-p", name, "--project-directory", dir} + more;
        const ScopedEnv set("DATA_DIR", dataDir ? std::optional<QByteArray>(dataDir->toUtf8()) : std::nullopt);
        return docker(args, dir);
    }

    // The target project in `dir`, up, and the plan of its deletion as the store makes it.
    TeardownPlan targetIn(const QString& dir, QString& name)
    {
        name = uniqueName("target");
        projectsMade << name;
        write(dir + "/compose.yaml", service());
        write(dir + "/data/keep.txt", "the project's own\n");
        const auto started = compose(name, dir, {"up", "-d"});
        EXPECT_EQ(started.status, 0) << started.err.toStdString();
        run(store->refresh(false));
        const std::optional<ComposeProject> target = project(name);
        EXPECT_TRUE(target);
        return target ? run(store->teardownPlan(*target)) : TeardownPlan{};
    }

    // Skips when the folder stayed for something outside this test: a stranger's path that stalls.
    static bool keptByStrangers(const TeardownPlan& plan)
    {
        return !plan.workingDir && foreign(plan.notes.join(u' '));
    }
};

// A running project elsewhere whose compose file no longer parses, and one whose data folder comes from
// a variable set only in the shell that started it: each is said beside the offer, naming it; the
// move keeps their files, and compose brings the second up again seeing its data.
TEST_F(TrashNotes, AnUnrelatedUnknownProjectIsSaidAndTheMoveKeepsItsFiles)
{
    const QString broken = uniqueName("broken");
    const QString brokenDir = world + "/elsewhere/broken";
    projectsMade << broken;
    write(brokenDir + "/compose.yaml", service());
    ASSERT_EQ(compose(broken, brokenDir, {"up", "-d"}).status, 0);
    write(brokenDir + "/compose.yaml", "services: [this is: not: yaml\n");

    const QString unset = uniqueName("unset");
    const QString unsetDir = world + "/elsewhere/unset";
    projectsMade << unset;
    write(unsetDir + "/compose.yaml", service("      - ${DATA_DIR}/db:/db\n"));
    write(world + "/elsewhere/unset-data/db/rows", "42\n");
    const QString dataDir = world + "/elsewhere/unset-data";
    const auto started = compose(unset, unsetDir, {"up", "-d"}, dataDir);
    ASSERT_EQ(started.status, 0) << started.err.toStdString();

    const Snapshot before = snapshot({world + "/elsewhere"}, true);
    QString name;
    const TeardownPlan plan = targetIn(world + "/projects/app", name);
    if (keptByStrangers(plan))
        GTEST_SKIP() << "the folder stayed for something outside this test: " << plan.notes.join(" | ").toStdString();
    ASSERT_EQ(plan.workingDir, world + "/projects/app") << plan.notes.join(" | ").toStdString();
    const QString said = plan.trashNotes.join(u'\n');
    EXPECT_TRUE(said.contains(" of " + broken + " uses is not known")) << said.toStdString();
    EXPECT_TRUE(said.contains(" of " + unset + " uses is not known") && said.contains("${DATA_DIR}"))
        << said.toStdString();

    EXPECT_EQ(run(store->deleteProject(plan, store->runtime(), true)), std::nullopt);
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(world + "/projects/app"));
    EXPECT_TRUE(QFileInfo::exists(root.filePath("data/Trash/files/app/data/keep.txt")));
    EXPECT_EQ(snapshot({world + "/elsewhere"}, true), before);
    const auto again = compose(unset, unsetDir, {"up", "-d", "--force-recreate"}, dataDir);
    ASSERT_EQ(again.status, 0) << again.err.toStdString();
    const auto read = compose(unset, unsetDir, {"exec", "-T", "web", "cat", "/db/rows"}, dataDir);
    EXPECT_EQ(read.out, "42\n") << read.err.toStdString();
}

// A container binding the root read-only, as monitoring agents do, and one binding the home, as
// toolboxes do: each is said once beside the offer, naming it; the move goes, and both still start.
TEST_F(TrashNotes, AContainerBindingTheRootOrTheHomeIsSaidOnce)
{
    const QString agent = uniqueName("agent");
    const QString toolbox = uniqueName("toolbox");
    ASSERT_NO_FATAL_FAILURE(runContainer(agent, {"-v", "/:/host:ro"}));
    ASSERT_NO_FATAL_FAILURE(runContainer(toolbox, {"-v", world + ":/home/user:ro"}));
    QString name;
    const TeardownPlan plan = targetIn(world + "/projects/app", name);
    if (keptByStrangers(plan))
        GTEST_SKIP() << "the folder stayed for something outside this test: " << plan.notes.join(" | ").toStdString();
    ASSERT_EQ(plan.workingDir, world + "/projects/app") << plan.notes.join(" | ").toStdString();
    for (const QString& who : {agent, toolbox}) {
        qsizetype times = 0;
        for (const QString& note : plan.trashNotes)
            times += note.contains(who + u' ') ? 1 : 0;
        EXPECT_EQ(times, 1) << who.toStdString() << " in " << plan.trashNotes.join(" | ").toStdString();
    }
    // Beside the offer, not among what the plan could not make sure of.
    EXPECT_FALSE(plan.notes.join(u'\n').contains(agent)) << plan.notes.join(" | ").toStdString();

    EXPECT_EQ(run(store->deleteProject(plan, store->runtime(), true)), std::nullopt);
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_TRUE(QFileInfo::exists(root.filePath("data/Trash/files/app/data/keep.txt")));
    const auto restarted = docker({"restart", "-t", "0", agent, toolbox});
    EXPECT_EQ(restarted.status, 0) << restarted.err.toStdString();
}

// A project that cannot be read whose own folder lies inside the folder: what it does not say may be
// there, and the folder stays, with everything in it.
TEST_F(TrashNotes, AnUnknownProjectInsideTheFolderKeepsIt)
{
    const QString dir = world + "/projects/app";
    const QString inner = uniqueName("inner");
    projectsMade << inner;
    write(dir + "/tools/compose.yaml", service());
    ASSERT_EQ(compose(inner, dir + "/tools", {"up", "-d"}).status, 0);
    write(dir + "/tools/compose.yaml", "services: [this is: not: yaml\n");
    QString name;
    const TeardownPlan plan = targetIn(dir, name);
    EXPECT_EQ(plan.workingDir, std::nullopt);
    EXPECT_TRUE(plan.notes.join(u'\n').contains(dir + " is not offered for the Trash: used by"))
        << plan.notes.join(" | ").toStdString();
    EXPECT_EQ(run(store->deleteProject(plan, store->runtime(), true)), std::nullopt);
    EXPECT_TRUE(QFileInfo::exists(dir + "/tools/compose.yaml"));
    EXPECT_TRUE(QFileInfo::exists(dir + "/data/keep.txt"));
}

} // namespace
