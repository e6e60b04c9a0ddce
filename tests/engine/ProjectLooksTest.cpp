#include "engine/ProjectLooks.h"
#include "engine/Compose.h"
#include "engine/ComposeVariables.h"
#include "engine/Docker.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/KeeperProgram.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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

// A look server started here rather than by the looks, so that what it took can be read from the
// kernel while it waits for the next request.
class OwnLookServer {
public:
    OwnLookServer()
    {
        m_process.start(Platform::lookServerProgram(),
                        {"--parent", QString::number(QCoreApplication::applicationPid())});
        m_process.waitForStarted();
    }
    ~OwnLookServer()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Asks for one look; its answer, and the outcome the server gave it.
    template <typename R>
    std::optional<R> ask(const Platform::LookRequest<R>& request, quint8& outcome)
    {
        QByteArray message;
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(Platform::Wire::version);
        out << quint64(1) << QByteArray(request.operation);
        m_process.write(Platform::framed(message + request.arguments));
        QByteArray reply;
        const QDeadlineTimer limit(60000);
        while (!limit.hasExpired() && m_process.state() == QProcess::Running &&
               (reply.size() < Platform::frameHeader ||
                reply.size() < Platform::frameHeader + Platform::frameLength(reply.constData()))) {
            m_process.waitForReadyRead(100);
            reply += m_process.readAllStandardOutput();
        }
        QDataStream in(reply.mid(Platform::frameHeader));
        in.setVersion(Platform::Wire::version);
        quint64 serial = 0;
        in >> serial >> outcome;
        if (in.status() != QDataStream::Ok)
            return std::nullopt;
        const QByteArray result = reply.mid(Platform::frameHeader + 9);
        return Platform::Wire::decoded<R>(result);
    }

    // The most it has held resident, in bytes, as the kernel counts it.
    qint64 peakResident() const
    {
        QFile status("/proc/" + QString::number(m_process.processId()) + "/status");
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
        return -1;
    }

private:
    QProcess m_process;
};

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

// Compose files within the bound on bytes whose short entries make a parser build far more than they
// hold: the look server's own resident size, as the kernel counts it, stays within its bound of 128 MiB,
// and the setup is too large to be read.
TEST(ProjectLooks, TheServersMemoryBoundHoldsForWhatTheProcessTakes)
{
    const struct {
        const char* what;
        QByteArray entry;
    } rows[] = {{"short flow entries", "a,"}, {"short maps", "{a: b},"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir root;
        QByteArray entries = "services:\n  web:\n    image: app\n    labels: [";
        while (entries.size() < 1000 * 1000)
            entries += row.entry;
        entries += "a]\n";
        write(root.filePath("compose.yaml"), entries);

        OwnLookServer server;
        quint8 outcome = 0xff;
        const std::optional<Docker::ComposeFileUses> read = server.ask(
            Docker::Looks::composeUses(Docker::ComposeSource{{}, root.path(), {}, "heavy"}, {}), outcome);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->unknown, root.filePath("compose.yaml") + " is too large to be read");
        EXPECT_EQ(outcome, quint8(Platform::LookOutcome::answered) | Platform::serverSpent);
        const qint64 peak = server.peakResident();
        ASSERT_GT(peak, 0);
        EXPECT_LE(peak, qint64(128) << 20) << peak / 1024 << " KiB";
    }
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
