#include "engine/ProjectLooks.h"
#include "engine/Compose.h"
#include "engine/ComposeVariables.h"
#include "engine/Docker.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

using namespace std::chrono_literals;

namespace {

template <typename R>
std::optional<R> asked(Platform::LookRequest<R> request)
{
    return QCoro::waitFor(Platform::lookAtDisk(std::move(request), 10s));
}

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

} // namespace

// The engine's looks, asked of a look server, answer as their functions do here over what a project's
// folder may be: one that builds, one without a compose file, a file, a link, nothing at all.
TEST(ProjectLooks, EachLookAnswersAsItsFunctionDoes)
{
    QTemporaryDir root;
    const QString builds = root.filePath("builds");
    const QString plain = root.filePath("plain");
    const QString empty = root.filePath("empty");
    ASSERT_TRUE(QDir().mkpath(builds) && QDir().mkpath(plain) && QDir().mkpath(empty));
    write(builds + "/compose.yaml", "services:\n  web:\n    build: .\n");
    write(builds + "/compose.override.yaml", "");
    write(plain + "/docker-compose.yml", "services:\n  web:\n    image: nginx\n");
    write(root.filePath("file"), "");
    ASSERT_TRUE(QFile::link(builds, root.filePath("to-builds")));

    const QStringList files{builds + "/compose.yaml", builds + "/compose.override.yaml",
                            builds + "/gone.yaml"};
    for (const QString& dir : {builds, plain, empty, root.filePath("file"), root.filePath("to-builds"),
                               root.filePath("missing"), QString()}) {
        SCOPED_TRACE(dir.toStdString());
        EXPECT_EQ(asked(Docker::Looks::composeFile(dir)),
                  std::optional<std::optional<QString>>(Docker::composeFile(dir)));
        EXPECT_EQ(asked(Docker::Looks::folderFacts(dir)), Docker::factsOfFolder(dir));
        EXPECT_EQ(asked(Docker::Looks::composeFiles(dir, files)), Docker::findComposeFiles(dir, files));
        EXPECT_EQ(asked(Docker::Looks::trashOffer(dir, {})), Docker::trashCandidate(dir, {}));
    }
    EXPECT_EQ(asked(Docker::Looks::folderFacts(builds)),
              std::optional(Docker::FolderFacts{true, true, QStringLiteral("compose.yaml"), true}));
    EXPECT_EQ(asked(Docker::Looks::composeFiles(builds, files))->missing, QStringList{builds + "/gone.yaml"});
    EXPECT_TRUE(asked(Docker::Looks::trashOffer(builds, {}))->identity);
}

// What another project's compose files name comes back from the look server whole: told the
// project's name, it names the volumes that carry it, not those its folder's name would.
TEST(ProjectLooks, ComposeUsesComeBackWhole)
{
    QTemporaryDir root;
    write(root.filePath("compose.yaml"), "include: [{path: ./inc.yaml, project_directory: ./sub}]\n"
                                         "services: {web: {build: ./ctx}}\n"
                                         "volumes: {data: {}}\n");
    write(root.filePath("inc.yaml"), "services: {}\n");
    const QHash<QString, QString> shell = Docker::shellVariables();
    const Docker::ComposeSource named{{}, root.path(), {}, "proj"};
    const Docker::ComposeFileUses uses = Docker::composeFileUses(named, shell);
    EXPECT_EQ(uses.volumes, QStringList{"proj_data"});
    EXPECT_EQ(uses.folders, QStringList{root.filePath("./sub")});
    EXPECT_EQ(asked(Docker::Looks::composeUses(named, shell)), std::optional(uses));
    const Docker::ComposeSource nameless{{}, root.path(), {}, ""};
    EXPECT_NE(Docker::composeFileUses(nameless, shell), uses);
    EXPECT_EQ(asked(Docker::Looks::composeUses(nameless, shell)),
              std::optional(Docker::composeFileUses(nameless, shell)));
}

// Whether a folder may go to the Trash depends on whose home it is: a server started for another home
// is not asked.
TEST(ProjectLooks, TheHomeFolderIsTheHomeOfNow)
{
    QTemporaryDir root;
    const QString first = root.filePath("first");
    const QString second = root.filePath("second");
    ASSERT_TRUE(QDir().mkpath(first) && QDir().mkpath(second));
    {
        const TestSupport::ScopedEnv home("HOME", first.toUtf8());
        EXPECT_EQ(asked(Docker::Looks::trashOffer(first, {}))->refusal, "it is your home folder");
    }
    const TestSupport::ScopedEnv home("HOME", second.toUtf8());
    const std::optional<Docker::TrashCandidate> now = asked(Docker::Looks::trashOffer(first, {}));
    ASSERT_TRUE(now);
    EXPECT_EQ(now->refusal, std::nullopt);
    EXPECT_TRUE(now->identity);
}

// compose is run in a folder only once a look server has found a compose file there: a folder whose
// look is held up fails the check and the read at once, saying so, and nothing is run.
TEST(ProjectLooks, ComposeIsNotRunInAFolderThatDoesNotAnswer)
{
    TestSupport::FakeTools tools{{"docker"}};
    QTemporaryDir dir;
    write(dir.filePath("compose.yaml"), "services: {}\n");
    TestSupport::HeldLooks looks(dir.path());
    // Held past the time a look may take before it counts as held up.
    Platform::PendingLook<bool> held =
        Platform::startFolderLook(dir.path(), Platform::Looks::exists(dir.path()));
    QThread::msleep(2 * Platform::heldUpAfter.count());

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Docker::checkCompose(dir.path()), ComposeCheck::invalid(dir.path() + " does not answer."));
    try {
        Docker::composeProject(dir.path());
        ADD_FAILURE() << "read a folder that does not answer";
    } catch (const DockerError& error) {
        EXPECT_EQ(error.errorDescription(), dir.path() + " does not answer.");
    }
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(tools.calls().isEmpty()) << tools.calls().join('\n').toStdString();

    looks.release();
    tools.answer("docker", {"compose", "config", "-q"}, "");
    EXPECT_TRUE(TestSupport::eventually([&] { return Docker::checkCompose(dir.path()).isValid(); }, 10000));
}

// A compose file within the bound on bytes can still ask for far more memory than it has bytes: a
// megabyte of one-letter entries. The look server reads it within its own memory budget, answers that
// it is too large to be read (which keeps the folder, as anything unknown does), and reads the next
// project's files as before.
TEST(ProjectLooks, AComposeFileThatWouldTakeTooMuchMemoryIsTooLargeToBeRead)
{
    QTemporaryDir root;
    const QString heavy = root.filePath("heavy");
    const QString light = root.filePath("light");
    ASSERT_TRUE(QDir().mkpath(heavy) && QDir().mkpath(light));
    QByteArray entries = "services:\n  web:\n    image: app\n    labels: [";
    while (entries.size() < 1000 * 1000)
        entries += "a,";
    entries += "a]\n";
    write(heavy + "/compose.yaml", entries);
    write(light + "/compose.yaml", "services:\n  web:\n    image: app\n    volumes: [\"./data:/data\"]\n");

    const std::optional<Docker::ComposeFileUses> read =
        asked(Docker::Looks::composeUses(Docker::ComposeSource{{}, heavy, {}, "heavy"}, {}));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->unknown, heavy + "/compose.yaml is too large to be read");

    const std::optional<Docker::ComposeFileUses> next =
        asked(Docker::Looks::composeUses(Docker::ComposeSource{{}, light, {}, "light"}, {}));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->unknown, std::nullopt);
    EXPECT_TRUE(next->paths.contains(light + "/./data")) << next->paths.join(", ").toStdString();
}

// Env values that each name the one before twice grow to far more than their file holds. The look
// server's budget holds for what Qt's strings take as well: the setup is too large to be read.
TEST(ProjectLooks, EnvValuesThatWouldTakeTooMuchMemoryAreTooLargeToBeRead)
{
    QTemporaryDir root;
    QByteArray env = "A0=" + QByteArray(1000, 'x') + "\n";
    for (int i = 1; i <= 18; ++i)
        env += "A" + QByteArray::number(i) + "=${A" + QByteArray::number(i - 1) + "}${A" +
               QByteArray::number(i - 1) + "}\n";
    write(root.filePath(".env"), env);
    write(root.filePath("compose.yaml"), "services:\n  web:\n    image: app\n");

    const std::optional<Docker::ComposeFileUses> read =
        asked(Docker::Looks::composeUses(Docker::ComposeSource{{}, root.path(), {}, "big"}, {}));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->unknown, "the compose setup in " + root.path() + " is too large to be read");
}
