#include "diagnostics/PlanDump.h"

#include "diagnostics/RecordedScene.h"
#include "engine/Docker.h"
#include "engine/ProjectRegistry.h"
#include "engine/Teardown.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

using DiagnosticsTest::printed;

namespace {

class PlanDump : public DiagnosticsTest::RecordedScene {
protected:
    // How the plan has compose read the project: from the files its containers were made from.
    QStringList composeConfig() const
    {
        return {"compose", "-p", "dg7shop", "--project-directory", workdir.path(), "-f",
                workdir.filePath("compose.yaml"), "config", "--format", "json"};
    }

    QString plan(const QString& project, const std::optional<QString>& context = std::nullopt)
    {
        return printed([&](QTextStream& s) { Diagnostics::runPlan(s, project, context); });
    }
};

} // namespace

// The project's own volume goes, sized by the engine; the volume a loose container shares is kept;
// the external volume the compose file borrows is not the project's to plan at all.
TEST_F(PlanDump, RemovesWhatOnlyTheProjectUsesAndKeepsWhatOthersShare)
{
    const QString out = plan("dg7shop");
    expectGolden(out, "plan-dg7shop.txt");
    EXPECT_FALSE(out.contains("dg7-ext"));
    // Nothing was removed or changed on the engine.
    for (const QString& call : fakes.calls())
        EXPECT_FALSE(call.contains(" rm") || call.contains(" down") || call.contains(" prune"))
            << call.toStdString();
}

TEST_F(PlanDump, NamesTheProjectsThatExistWhenTheNameDoesNotMatchExactly)
{
    EXPECT_EQ(plan("DG7SHOP"), "no project named DG7SHOP. Found: dg7shop\n");

    answerDocker(Docker::containerListingArgs(), recorded("ps.ndjson").split('\n').first() + '\n');
    EXPECT_EQ(plan("dg7shop"), "no project named dg7shop. Found: \n");
}

// Without the listing there is no plan: the line says why, and the status tells a script so.
TEST_F(PlanDump, AContainerListingThatFailsSaysWhyAndEndsWithStatusOne)
{
    answerDocker(Docker::containerListingArgs(), "", "Cannot connect to the Docker daemon", 1);
    int status = -1;
    const QString out =
        printed([&](QTextStream& s) { status = Diagnostics::runPlan(s, "dg7shop", std::nullopt); });
    EXPECT_EQ(out, "plan failed: cannot list containers: Cannot connect to the Docker daemon\n");
    EXPECT_EQ(status, 1);
}

TEST_F(PlanDump, VolumesTheEngineDidNotMeasureGetNoSize)
{
    QString detail = recorded("system-df-v.json");
    detail.replace(R"("Size":"300kB")", R"("Size":"N/A")");
    answerDocker({"system", "df", "-v", "--format", "json"}, detail);
    EXPECT_TRUE(plan("dg7shop").contains("\n  remove volume     dg7shop_data\n"));

    answerDocker({"system", "df", "-v", "--format", "json"}, "", "df failed", 1);
    EXPECT_TRUE(plan("dg7shop").contains("\n  remove volume     dg7shop_data\n"));

    detail.replace(R"("Size":"N/A")", R"("Size":"0B")");
    answerDocker({"system", "df", "-v", "--format", "json"}, detail);
    EXPECT_TRUE(plan("dg7shop").contains("\n  remove volume     dg7shop_data\n"));
}

// An engine whose disk measurement hangs holds the plan no longer than any query of the plan may take;
// the sizes are left out.
TEST_F(PlanDump, AHangingDiskMeasurementHoldsThePlanOnlyForTheEnginesLimit)
{
    fakes.hang("docker", {"system", "df", "-v", "--format", "json"});
    QElapsedTimer clock;
    clock.start();
    const QString out = plan("dg7shop");
    EXPECT_LT(clock.elapsed(), std::chrono::milliseconds(Docker::listingLimit).count() + 5000);
    EXPECT_TRUE(out.contains("\n  remove volume     dg7shop_data\n")) << out.toStdString();
}

// Without the compose file the external volume cannot be told by the file: the volumes compose made
// for the project carry its name, the borrowed one does not and is left out as before.
TEST_F(PlanDump, AProjectWhoseFolderIsGoneIsNotOfferedToTheTrashNorItsBorrowedVolume)
{
    const QString gone = workdir.path();
    workdir.remove();
    EXPECT_EQ(plan("dg7shop"), "delete dg7shop would:\n"
                               "  remove container  dg7shop-web-1\n"
                               "  remove container  dg7shop-worker-1\n"
                               "  remove volume     dg7shop_data  (300 KB)\n"
                               "  KEEP volume       dg7-shared  — container dg7-sidecar mounts it\n"
                               "  note              " +
                                   gone + " is not there any more: nothing to move to the Trash.\n");
    EXPECT_TRUE(fakes.calls().filter("compose config").isEmpty());

    answerDocker(Docker::volumeListingArgs(), "", "volume ls failed", 1);
    EXPECT_EQ(plan("dg7shop"), "delete dg7shop would:\n"
                               "  remove container  dg7shop-web-1\n"
                               "  remove container  dg7shop-worker-1\n"
                               "  note              The engine did not answer: the list of volumes (volume ls "
                               "failed).\n"
                               "  note              " +
                                   gone + " is not there any more: nothing to move to the Trash.\n");
}

// The mount query fails for a container gone since the listing and still prints the others: that
// answer stands. Failing without the line of a container that is still there, it says nothing of that
// container's volumes, so no volume is planned as free of other users.
TEST_F(PlanDump, AMountQueryThatFailsPlansNoVolumeUnlessOnlyVanishedContainersLackALine)
{
    const QStringList asked{"dg7-failed", "dg7-sidecar", "dg7shop-web-1", "dg7shop-worker-1"};
    const QString all = recorded("mounts.txt");
    QString withoutSidecar = all;
    withoutSidecar.remove(QRegularExpression("/dg7-sidecar\\|[^\n]*\n"));
    const QString existing = R"({"ID":"aaa1","Names":"dg7-sidecar"})"
                             "\n"
                             R"({"ID":"aaa2","Names":"dg7shop-web-1"})"
                             "\n"
                             R"({"ID":"aaa3","Names":"dg7shop-worker-1"})"
                             "\n";
    QString withoutFailed = all;
    withoutFailed.remove(QRegularExpression("/dg7-failed\\|[^\n]*\n"));

    const QString note = "  note              The engine did not say which volumes the containers mount (it "
                         "failed, or did not answer within 10 seconds), so other users of the project's "
                         "volumes could not be checked and no volume is planned for removal.\n";
    const QString unsure = "delete dg7shop would:\n"
                           "  remove container  dg7shop-web-1\n"
                           "  remove container  dg7shop-worker-1\n"
                           "  offer to trash    " +
                           workdir.path() + "\n" + note;
    const struct {
        const char* what;
        QString printed;
        QString err;
        int status;
        std::optional<QString> existing; // the containers there are when the failure is looked into
        QString plan;
    } rows[] = {
        {"a line missing, its container still there", withoutSidecar, "Error: engine hiccup", 1,
         existing + R"({"ID":"aaa4","Names":"dg7-failed"})"
                    "\n",
         unsure},
        {"every line printed, yet a failure", all, "Error: template failed", 1, existing,
         golden("plan-dg7shop.txt")},
        {"the missing line's container is gone", withoutFailed, "Error: No such object: dg7-failed", 1,
         existing, golden("plan-dg7shop.txt")},
        {"nothing printed", "", "Error: cannot connect", 1, existing, unsure},
        {"the listing fails too", withoutFailed, "Error: No such object: dg7-failed", 1, std::nullopt,
         unsure},
    };
    for (const auto& row : rows) {
        answerDocker(mountsQuery(asked), row.printed, row.err, row.status);
        if (row.existing)
            answerDocker(Docker::existingContainersArgs(), *row.existing);
        else
            answerDocker(Docker::existingContainersArgs(), "", "Error: cannot connect", 1);
        EXPECT_EQ(plan("dg7shop"), row.plan) << row.what;
    }

    // The container was made again under its name meanwhile (compose recreating it): asked alone, it
    // answers, and the plan stands.
    answerDocker(mountsQuery(asked), withoutSidecar, "Error: No such object: dg7-sidecar", 1);
    answerDocker(Docker::existingContainersArgs(), existing);
    answerDocker(mountsQuery({"dg7-sidecar"}), "/dg7-sidecar|dg7-shared,\n");
    EXPECT_EQ(plan("dg7shop"), golden("plan-dg7shop.txt"));
}

// The user located the project in a new folder once its own was gone: the plan offers that folder, as
// the window's delete sheet does.
TEST_F(PlanDump, AProjectLocatedInANewFolderIsPlannedThere)
{
    QTemporaryDir moved;
    QFile compose(moved.filePath("compose.yaml"));
    ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
    compose.write("services: {}\n");
    compose.close();
    const QString gone = workdir.path();
    workdir.remove();
    ProjectRegistry registry;
    registry.add({"dg7shop", moved.path(), {"web", "worker"}, gone}, QStringLiteral("default"));

    const QString out =
        printed([&](QTextStream& s) { Diagnostics::runPlan(s, "dg7shop", std::nullopt, registry); });
    EXPECT_TRUE(out.contains("\n  offer to trash    " + moved.path() + "\n")) << out.toStdString();
}

TEST_F(PlanDump, AnotherContextIsAskedForEverythingItMeasures)
{
    answerDocker({"context", "ls", "--format", "json"},
                 recorded("context-ls.ndjson").replace("/var/run/docker.sock", socketPath()) +
                     R"({"Current":false,"DockerEndpoint":"unix:///nonexistent/other.sock","Name":"other"})"
                     "\n");
    EXPECT_EQ(plan("dg7shop", QString("other")), golden("plan-dg7shop.txt"));
    for (const QString& call : fakes.calls().filter(QRegularExpression("^docker (ps|inspect|system)")))
        ADD_FAILURE() << "asked the current runtime: " << call.toStdString();
}

// A word that names nothing is a mistake on the command line: the line says so, the status is 2.
TEST_F(PlanDump, AnUnknownProjectOrRuntimeEndsWithStatusTwo)
{
    const struct {
        QString project;
        std::optional<QString> context;
        int status;
        QString firstLine;
    } rows[] = {
        {"dg7shop", std::nullopt, 0, "delete dg7shop would:"},
        {"dg7shop", QString("default"), 0, "delete dg7shop would:"},
        {"DG7SHOP", std::nullopt, 2, "no project named DG7SHOP. Found: dg7shop"},
        {"dg7shop", QString("nosuch"), 2, "no runtime named nosuch. Found: default"},
    };
    for (const auto& row : rows) {
        int status = -1;
        const QString out =
            printed([&](QTextStream& s) { status = Diagnostics::runPlan(s, row.project, row.context); });
        EXPECT_EQ(status, row.status)
            << row.project.toStdString() << ' ' << row.context.value_or("-").toStdString();
        EXPECT_EQ(out.section('\n', 0, 0), row.firstLine);
    }
    // Nothing of an unknown runtime was asked for.
    EXPECT_TRUE(fakes.calls().filter("--context nosuch").isEmpty());
}

// A question of the plan the engine does not answer is asked once, within its limit, and what it would
// have told is unknown: here which folder a container was started from, so the folder is not offered
// for the Trash, and the plan names the question.
TEST_F(PlanDump, ALabelQueryThatHangsIsAskedOnceAndKeepsTheFolderFromTheTrash)
{
    QString listing = recorded("ps.ndjson");
    const QString sidecar = R"("Names":"dg7-sidecar","Image":"voskel-test/busybox:latest","State":"running",)"
                            R"("Status":"Up 2 seconds","Ports":"","Labels":")";
    ASSERT_TRUE(listing.contains(sidecar + '"'));
    // Only the joined text shows the project label, empty: the engine's own labels are asked for.
    listing.replace(sidecar + '"', sidecar + "note=1,com.docker.compose.project=\"");
    answerDocker(Docker::containerListingArgs(), listing);
    fakes.hang("docker", {"inspect", "--type", "container", "a5481fd809cb", "--format",
                          R"({"id":{{json .Id}},"labels":{{json .Config.Labels}}})"});

    QElapsedTimer clock;
    clock.start();
    const QString out = plan("dg7shop");
    EXPECT_LT(clock.elapsed(), 14000) << out.toStdString();
    EXPECT_FALSE(out.contains("offer to trash")) << out.toStdString();
    EXPECT_TRUE(out.contains("The engine did not answer in time: the labels of container dg7-sidecar.\n"))
        << out.toStdString();
    EXPECT_EQ(fakes.calls().filter("inspect --type container a5481fd809cb").size(), 1);
}

// A client that does not list its contexts leaves the other runtimes unasked: nobody can say who else
// uses the folder. It is asked once, beside the rest, with or without a context word to check.
TEST_F(PlanDump, AContextListThatHangsIsAskedOnceAndKeepsTheFolderFromTheTrash)
{
    fakes.hang("docker", {"context", "ls", "--format", "json"});
    for (const std::optional<QString>& context : {std::optional<QString>(), std::optional<QString>("default")}) {
        const qsizetype before = fakes.calls().filter("context ls").size();
        QElapsedTimer clock;
        clock.start();
        const QString out = plan("dg7shop", context);
        EXPECT_LT(clock.elapsed(), 14000) << out.toStdString();
        EXPECT_TRUE(out.startsWith("delete dg7shop would:\n")) << out.toStdString();
        EXPECT_FALSE(out.contains("offer to trash")) << out.toStdString();
        EXPECT_TRUE(out.contains("The engine did not answer in time: the list of contexts.\n"))
            << out.toStdString();
        EXPECT_EQ(fakes.calls().filter("context ls").size() - before, 1);
    }
}

namespace {

// The parent of this process's child whose arguments hold every one of `words`: the keeper a runner
// started it under, which names the command it keeps. None when there is none (yet).
std::optional<pid_t> keeperRunning(const QStringList& words)
{
    const QString me = QString::number(::getpid());
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString line = QString::fromUtf8(stat.readAll());
        // pid (comm) state ppid ...
        if (line.mid(line.lastIndexOf(')') + 2).section(' ', 1, 1) != me)
            continue;
        QFile cmdline("/proc/" + pid + "/cmdline");
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QStringList args = QString::fromUtf8(cmdline.readAll()).split(QChar(0));
        if (std::all_of(words.cbegin(), words.cend(), [&](const QString& word) { return args.contains(word); }))
            return pid_t(pid.toInt());
    }
    return std::nullopt;
}

} // namespace

// compose's keeper killed while compose reads the project's files: the plan says compose was cut off,
// which says nothing of what the files declare, rather than taking it for a folder that does not
// answer or for files that declare nothing.
TEST_F(PlanDump, ComposeCutOffWhileReadingTheFilesIsSaidSo)
{
    fakes.hang("docker", composeConfig());
    std::atomic_bool killed = false;
    std::atomic_bool done = false;
    std::thread killer([&] {
        QElapsedTimer waited;
        waited.start();
        while (!killed && !done && waited.elapsed() < 20000) {
            if (const std::optional<pid_t> keeper = keeperRunning({"compose", "config", "dg7shop"})) {
                ::kill(*keeper, SIGKILL);
                killed = true;
            }
            QThread::msleep(50);
        }
    });
    const QString out = plan("dg7shop");
    done = true;
    killer.join();
    ASSERT_TRUE(killed);
    EXPECT_TRUE(out.contains("was cut off: Voskel's keeper ended unexpectedly. Volumes the compose file "
                             "declares that no container mounts are not planned.\n"))
        << out.toStdString();
    EXPECT_FALSE(out.contains("does not answer")) << out.toStdString();
}

// compose that does not finish reading the files holds the plan no longer than any other question of
// it, and what the files declare is unknown: no volume is planned for that alone.
TEST_F(PlanDump, ComposeThatDoesNotFinishHoldsThePlanOnlyForTheEnginesLimit)
{
    fakes.hang("docker", composeConfig());
    QElapsedTimer clock;
    clock.start();
    const QString out = plan("dg7shop");
    EXPECT_LT(clock.elapsed(), 14000) << out.toStdString();
    EXPECT_TRUE(out.contains("note              Compose config did not finish within 10 seconds."))
        << out.toStdString();
}

// An engine that does not say where it keeps its data may keep it in the project's folder: a failed
// `docker info` is no answer that it keeps it elsewhere.
TEST_F(PlanDump, AnEngineThatDoesNotSayWhereItsDataLiesKeepsTheFolderFromTheTrash)
{
    answerDocker(Docker::engineInfoQuery(), "", "Error response from daemon: internal error\n", 1);
    const QString out = plan("dg7shop");
    EXPECT_FALSE(out.contains("offer to trash")) << out.toStdString();
    EXPECT_TRUE(out.contains("the engine's identity and data folder")) << out.toStdString();
}
