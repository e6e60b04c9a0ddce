#include "engine/Usage.h"

#include "engine/ComposeProject.h"
#include "engine/Docker.h"
#include "engine/Teardown.h"
#include "platform/DiskLook.h"
#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <limits>

using Kind = Reclaimable::Kind;
using Recovery = Reclaimable::Recovery;
using TestSupport::fixture;
using TestSupport::names;

namespace {

const QString untaggedId = "sha256:46ceedd46c4442824c7012fb6c19ce29e7fa2b3631b9375d23d5319e629b4998";
const QString recordedWorkingDir = "/tmp/tmp.JiOyPQyL21/shop";

// What the tests compare of a candidate; runtime is checked where it is set.
struct Expected {
    Kind kind;
    QString name;
    qint64 bytes;
    Recovery recovery;
    std::optional<QString> note;
    std::optional<QString> project;
};

void expectCandidates(const QList<Reclaimable>& actual, const QList<Expected>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE(actual[i].name.toStdString());
        EXPECT_EQ(actual[i].kind, expected[i].kind);
        EXPECT_EQ(actual[i].name, expected[i].name);
        EXPECT_EQ(actual[i].bytes, expected[i].bytes);
        EXPECT_EQ(actual[i].recovery, expected[i].recovery);
        EXPECT_EQ(actual[i].note, expected[i].note);
        EXPECT_EQ(actual[i].project, expected[i].project);
    }
}

const Reclaimable* find(const DiskUsage& usage, const QString& name)
{
    for (const Reclaimable& item : usage.candidates)
        if (item.name == name)
            return &item;
    return nullptr;
}

Container named(const QString& name)
{
    Container c;
    c.id = c.name = name;
    return c;
}

// A report as the client prints it, with the kinds of rows it shows in practice: an image builder of
// the Apple runtime, that runtime's own images and its bridge's, columns as numbers, rows with
// columns missing.
const QString mixedSummary =
    R"json({"Active":"2","Reclaimable":"469.5MB (1%)","Size":"26GB","TotalCount":"5","Type":"Images"}
{"Active":"1","Reclaimable":"4GB (50%)","Size":"8GB","TotalCount":"3","Type":"Containers"}
{"Active":"1","Reclaimable":"70MB (2%)","Size":"3GB","TotalCount":"3","Type":"Local Volumes"}
{"Active":"0","Reclaimable":"1GB","Size":"1GB","TotalCount":"4","Type":"Build Cache"}
)json";

const QString mixedDetail = R"({
 "Images": [
  {"Containers":"2","ID":"sha256:aaa","Repository":"postgres","Tag":"16-alpine","Size":"114MB","UniqueSize":"113.9MB"},
  {"Containers":"0","ID":"sha256:bbb","Repository":"node","Tag":"20-alpine","Size":"49MB","UniqueSize":"40MB"},
  {"Containers":0,"ID":"sha256:ccc","Repository":"<none>","Tag":"<none>","Size":"233kB","UniqueSize":"232.7kB"},
  {"Containers":"0","ID":"sha256:ddd","Repository":"ghcr.io/apple/containerization/vminit","Tag":"0.47.0","Size":"69.3MB","UniqueSize":"69.25MB"},
  {"Containers":"0","ID":"sha256:fff","Repository":"socktainer-dns","Tag":"1","Size":"5MB","UniqueSize":"5MB"},
  {"Containers":"0","ID":"sha256:ggg","Repository":"ghcr.io/someone/app","Tag":"2","Size":"7MB","UniqueSize":"N/A"},
  {"Containers":"0","ID":"sha256:hhh","Repository":"","Tag":"","Size":"N/A"},
  {"ID":"sha256:eee","Repository":"mystery","Tag":"1","Size":"10MB","UniqueSize":"10MB"}
 ],
 "Containers": [
  {"Names":"app-db-1","State":"running","Size":"2GB","LocalVolumes":"1","Labels":"com.docker.compose.project=app,com.docker.compose.project.working_dir=/work/app"},
  {"Names":"app-api-1","State":"exited","Size":"3GB","LocalVolumes":"1","Labels":"com.docker.compose.project=app,com.docker.compose.project.working_dir=/work/app"},
  {"Names":"demo-pg","State":"exited","Size":"1GB","LocalVolumes":0,"Labels":""},
  {"Names":"held","State":"paused","Size":"2GB","LocalVolumes":"0"},
  {"Names":"spinning","State":"restarting","Size":"1MB","LocalVolumes":"0"},
  {"Names":"old-web-1","State":"exited","Size":"500MB","LocalVolumes":"1","Labels":"com.docker.compose.project=old,com.docker.compose.project.working-dir=/work/old"},
  {"Names":"orphaned-1","State":"dead","Size":"1MB","Labels":"com.docker.compose.project=orphaned"},
  {"Names":"buildkit","State":"exited","Size":"4GB","LocalVolumes":"0","Labels":"com.apple.container.plugin=builder,com.apple.container.resource.role=builder"},
  {"Names":"","State":"exited","Size":"9GB"},
  {"Names":"unsized","State":"exited","Size":"?"},
  {"Names":"fresh","State":"created","Size":"0B","LocalVolumes":"0","Labels":"com.docker.compose.project=app,com.docker.compose.project.working_dir=/work/app"}
 ],
 "Volumes": [
  {"Name":"app_data","Links":"1","Size":"2.9GB"},
  {"Name":"orphan","Links":"0","Size":"70MB"},
  {"Name":"unmeasured","Links":"0","Size":"-1B"},
  {"Name":"counted","Links":0,"Size":"1kB"},
  {"Name":"unlinked","Size":"2kB"}
 ],
 "BuildCache": []
})";

bool onlyWorkApp(const QString& dir)
{
    return dir == u"/work/app";
}

} // namespace

TEST(DiskUsageReport, RecordedReportGivesSizesAndCandidates)
{
    QStringList asked;
    const DiskUsage usage = Docker::parseUsage(fixture("engine/system-df.ndjson"),
                                               fixture("engine/system-df-v.json"), [&](const QString& dir) {
                                                   asked << dir;
                                                   return true;
                                               });
    EXPECT_EQ(usage.total, 2034000 + 4170000 + 460000);
    EXPECT_EQ(usage.containerSize, (QMap<QString, qint64>{{"rec4-paused", 0},
                                                          {"rec4-live", 4000000},
                                                          {"rec4-created", 0},
                                                          {"rec4-withvol", 0},
                                                          {"rec4-loose", 50000},
                                                          {"rec4shop-worker-1", 120000},
                                                          {"rec4shop-web-1", 3}}));
    EXPECT_EQ(
        usage.volumeSize,
        (QMap<QString, qint64>{{"rec4-keep", 70000}, {"rec4-orphan", 90000}, {"rec4shop_data", 300000}}));
    EXPECT_TRUE(usage.mounts.isEmpty());
    EXPECT_EQ(asked, QStringList({recordedWorkingDir, recordedWorkingDir}));

    const std::optional<QString> shop = QStringLiteral("rec4shop");
    expectCandidates(
        usage.candidates,
        {
            {Kind::Container, "rec4shop-worker-1", 120000, Recovery::Restorable, "no volume", shop},
            {Kind::Container, "rec4-loose", 50000, Recovery::Gone, u"not in a project · no volume"_qs, {}},
            {Kind::Container, "rec4shop-web-1", 3, Recovery::Restorable, {}, shop},
            {Kind::Container, "rec4-created", 0, Recovery::Gone, u"not in a project · no volume"_qs, {}},
            {Kind::Container, "rec4-withvol", 0, Recovery::Gone, "not in a project", {}},
            {Kind::Image, "untagged", 50000, Recovery::Gone, "no tag", {}},
            {Kind::Image, "rec4/snapshot:1", 0, Recovery::Restorable, {}, {}},
            {Kind::Volume, "rec4-orphan", 90000, Recovery::Gone, {}, {}},
        });
    EXPECT_EQ(find(usage, "untagged")->ref, untaggedId);
    EXPECT_EQ(find(usage, "rec4/snapshot:1")->ref, "rec4/snapshot:1");
    EXPECT_EQ(find(usage, "rec4-orphan")->ref, "rec4-orphan");
}

TEST(DiskUsageReport, AProjectWhoseFolderLostItsComposeFileCannotComeBack)
{
    for (const Docker::CanCompose& never :
         {Docker::CanCompose([](const QString&) { return false; }), Docker::CanCompose()}) {
        const DiskUsage usage =
            Docker::parseUsage(fixture("engine/system-df.ndjson"), fixture("engine/system-df-v.json"), never);
        const Reclaimable* worker = find(usage, "rec4shop-worker-1");
        const Reclaimable* web = find(usage, "rec4shop-web-1");
        ASSERT_TRUE(worker && web);
        EXPECT_EQ(worker->recovery, Recovery::Gone);
        EXPECT_EQ(worker->note, u"compose file missing · no volume"_qs);
        EXPECT_EQ(worker->project, "rec4shop"); // still the project's, for its card
        EXPECT_EQ(web->recovery, Recovery::Gone);
        EXPECT_EQ(web->note, "compose file missing");
    }
}

// The project's folder on a mount that stalls: for that measurement its containers may not come back,
// and the measurement waits for the folder once, not at every container nor at the next measurement.
TEST(DiskUsageReport, AFolderThatDoesNotAnswerIsUnknownAndWaitedForOnce)
{
    TestSupport::HeldLooks looks(recordedWorkingDir);
    const auto measure = [] {
        return Docker::parseUsage(fixture("engine/system-df.ndjson"), fixture("engine/system-df-v.json"),
                                  Docker::hasComposeFile);
    };

    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 2; ++round) {
        const DiskUsage usage = measure();
        const Reclaimable* worker = find(usage, "rec4shop-worker-1");
        const Reclaimable* web = find(usage, "rec4shop-web-1");
        ASSERT_TRUE(worker && web);
        EXPECT_EQ(worker->recovery, Recovery::Gone);
        EXPECT_EQ(worker->note, u"folder does not answer · no volume"_qs);
        EXPECT_EQ(web->recovery, Recovery::Gone);
        EXPECT_EQ(web->note, "folder does not answer");
    }
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(looks.held(), 1);

    // Back, it answers: the recorded folder is long gone.
    looks.release();
    std::optional<QString> note;
    const QDeadlineTimer limit(5000);
    while (note != u"compose file missing" && !limit.hasExpired())
        note = find(measure(), "rec4shop-web-1")->note;
    EXPECT_EQ(note, "compose file missing");
}

// The folders of a measurement's stopped containers, many of them on a mount that stalls: they are
// looked at all at once and waited for together, so the measurement waits one limit however many stall,
// and the folders that answer, listed after them, say what they hold.
TEST(DiskUsageReport, FoldersThatStallAreWaitedForTogether)
{
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QTemporaryDir root;
    const QString shop = root.filePath("shop");
    const QString bare = root.filePath("bare");
    ASSERT_TRUE(QDir().mkpath(shop) && QDir().mkpath(bare));
    QFile compose(shop + "/compose.yaml");
    ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
    compose.close();
    QStringList dirs;
    for (int i = 0; i < 30; ++i)
        dirs << mount.stalledPath() + QString::number(i);
    dirs << shop << bare;
    const int before = Platform::lookServerCount().abandoned;

    QElapsedTimer clock;
    clock.start();
    const QHash<QString, bool> found = Docker::composeFilesIn(dirs, std::chrono::seconds(1));
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_EQ(found, (QHash<QString, bool>{{shop, true}, {bare, false}}));

    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}

// A stopped container's project comes from the engine's own labels; one the engine gave none for is in
// no project, whatever its joined label text (which another label's value can forge) says.
TEST(DiskUsageReport, AContainerWithoutTheEnginesLabelsIsInNoProject)
{
    const QString detail = R"({"Containers": [
  {"ID":"aaa","Names":"mine","State":"exited","Size":"1MB","LocalVolumes":"1","Labels":"x=1"},
  {"ID":"bbb","Names":"foreign","State":"exited","Size":"1MB","LocalVolumes":"1",
   "Labels":"note=a,com.docker.compose.project=app,com.docker.compose.project.working_dir=/work/app"}
 ]})";
    QStringList asked;
    const DiskUsage usage = Docker::parseUsage("", detail, onlyWorkApp, [&](const QStringList& ids) {
        asked = ids;
        return QHash<QString, QMap<QString, QString>>{
            {"aaa",
             {{"com.docker.compose.project", "app"},
              {"com.docker.compose.project.working_dir", "/work/app"}}}};
    });
    EXPECT_EQ(asked, QStringList({"aaa", "bbb"}));
    ASSERT_TRUE(find(usage, "mine") && find(usage, "foreign"));
    EXPECT_EQ(find(usage, "mine")->project, "app");
    EXPECT_EQ(find(usage, "mine")->recovery, Recovery::Restorable);
    EXPECT_EQ(find(usage, "foreign")->project, std::nullopt);
    EXPECT_EQ(find(usage, "foreign")->note, "not in a project");
}

TEST(DiskUsageReport, RowsTheClientPrintsInPractice)
{
    const DiskUsage usage = Docker::parseUsage(mixedSummary, mixedDetail, onlyWorkApp);
    EXPECT_EQ(usage.total, 38000000000);
    EXPECT_EQ(usage.containerSize.value("app-db-1"), 2000000000);
    EXPECT_FALSE(usage.containerSize.contains("unsized"));
    EXPECT_FALSE(usage.containerSize.contains(""));
    EXPECT_TRUE(usage.containerSize.contains("held"));
    EXPECT_FALSE(usage.volumeSize.contains("unmeasured"));

    const std::optional<QString> app = QStringLiteral("app");
    expectCandidates(
        usage.candidates,
        {
            {Kind::BuildCache, "Build cache", 1000000000, Recovery::Restorable, {}, {}},
            {Kind::Container, "buildkit", 4000000000, Recovery::Restorable, {}, {}},
            {Kind::Container, "app-api-1", 3000000000, Recovery::Restorable, {}, app},
            {Kind::Container, "demo-pg", 1000000000, Recovery::Gone, u"not in a project · no volume"_qs, {}},
            {Kind::Container, "old-web-1", 500000000, Recovery::Gone, "compose file missing", QString("old")},
            {Kind::Container, "orphaned-1", 1000000, Recovery::Gone, "compose file missing",
             QString("orphaned")},
            {Kind::Container, "fresh", 0, Recovery::Restorable, "no volume", app},
            {Kind::Image, "node:20-alpine", 40000000, Recovery::Restorable, {}, {}},
            {Kind::Image, "ghcr.io/someone/app:2", 7000000, Recovery::Restorable, {}, {}},
            {Kind::Image, "untagged", 232700, Recovery::Gone, "no tag", {}},
            {Kind::Image, "untagged", 0, Recovery::Gone, "no tag", {}},
            {Kind::Volume, "orphan", 70000000, Recovery::Gone, {}, {}},
            {Kind::Volume, "counted", 1000, Recovery::Gone, {}, {}},
        });
    EXPECT_EQ(usage.candidates.first().ref, QString());
    EXPECT_EQ(usage.candidates.first().id(), "/buildCache/");
    const QStringList refs{usage.candidates[9].ref, usage.candidates[10].ref};
    EXPECT_EQ(refs, QStringList({"sha256:ccc", "sha256:hhh"}));
}

TEST(DiskUsageReport, AnUntaggedImageListedPerRepositoryIsOneCandidate)
{
    // One image kept under two repositories' digests has a row for each repository.
    const QString row =
        R"({"Containers":"0","ID":"sha256:abc","Repository":"%1","Tag":"<none>","UniqueSize":"3MB"})";
    const QString detail =
        "{\"Images\": [" + row.arg("alpine") + "," + row.arg("mirror.example/alpine") + "]}";
    const DiskUsage usage = Docker::parseUsage("", detail, onlyWorkApp);
    ASSERT_EQ(usage.candidates.size(), 1);
    EXPECT_EQ(usage.candidates[0].ref, "sha256:abc");
}

TEST(DiskUsageReport, BuildCacheIsOfferedOnlyWithSomethingToFree)
{
    struct Row {
        QString summary;
        qint64 total;
        std::optional<qint64> cache;
    };
    const Row rows[] = {
        {R"({"Type":"Build Cache","Size":"2GB","Reclaimable":"500MB"})", 2000000000, 500000000},
        {R"({"Type":"Build Cache","Size":"0B","Reclaimable":"0B"})", 0, std::nullopt},
        {R"({"Type":"Build Cache","Size":"2GB","Reclaimable":"N/A"})", 2000000000, std::nullopt},
        {R"({"Type":"Build Cache","Size":"2GB","Reclaimable":"0.4B"})", 2000000000, std::nullopt},
        {R"({"Type":"Build cache","Size":"2GB","Reclaimable":"1GB"})", 2000000000, std::nullopt},
        // a later row replaces an earlier one; an unreadable size counts nothing toward the total
        {"{\"Type\":\"Build Cache\",\"Size\":\"?\",\"Reclaimable\":\"1kB\"}\n"
         "{\"Type\":\"Build Cache\",\"Size\":\"1kB\",\"Reclaimable\":\"2kB\"}",
         1000, 2000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.summary.toStdString());
        const DiskUsage usage = Docker::parseUsage(row.summary, "{}", onlyWorkApp);
        EXPECT_EQ(usage.total, row.total);
        if (row.cache) {
            ASSERT_EQ(usage.candidates.size(), 1);
            EXPECT_EQ(usage.candidates[0].kind, Kind::BuildCache);
            EXPECT_EQ(usage.candidates[0].bytes, *row.cache);
        } else {
            EXPECT_TRUE(usage.candidates.isEmpty());
        }
    }
}

TEST(DiskUsageReport, UnreadableDetailKeepsOnlyTheTotal)
{
    for (const QString detail : {"not json", "", "[]", "\"text\"", "{\"Containers\": [}"}) {
        const DiskUsage usage = Docker::parseUsage(mixedSummary, detail, onlyWorkApp);
        EXPECT_EQ(usage.total, 38000000000) << detail.toStdString();
        EXPECT_TRUE(usage.candidates.isEmpty()) << detail.toStdString(); // not even the build cache
        EXPECT_TRUE(usage.containerSize.isEmpty());
    }
    EXPECT_EQ(Docker::parseUsage("", "not json", onlyWorkApp), DiskUsage{});

    // A section that is not a list of records is an empty section.
    const QString odd =
        R"({"Containers": {"Names": "x"}, "Volumes": [{"Name":"v","Links":"0","Size":"1B"}, 3],
                           "Images": "none"})";
    const DiskUsage usage = Docker::parseUsage("", odd, onlyWorkApp);
    EXPECT_TRUE(usage.candidates.isEmpty());
    EXPECT_TRUE(usage.volumeSize.isEmpty());
}

TEST(DiskUsageReport, CandidatesAreOrderedByKindThenSizeThenName)
{
    const QString detail = R"({
     "Containers": [
      {"Names":"b-small","State":"exited","Size":"1kB"},
      {"Names":"z-big","State":"exited","Size":"5kB"},
      {"Names":"a-small","State":"exited","Size":"1kB"}
     ],
     "Volumes": [{"Name":"vol","Links":"0","Size":"9GB"}],
     "Images": [{"Containers":"0","ID":"sha256:1","Repository":"img","Tag":"1","UniqueSize":"8GB"}]
    })";
    const DiskUsage usage =
        Docker::parseUsage(R"({"Type":"Build Cache","Size":"1B","Reclaimable":"1B"})", detail, onlyWorkApp);
    EXPECT_EQ(names(usage.candidates),
              QStringList({"Build cache", "z-big", "a-small", "b-small", "img:1", "vol"}));
}

TEST(DiskUsageFigures, PerProjectTotalsCountASharedVolumeOnce)
{
    DiskUsage usage = Docker::parseUsage(mixedSummary, mixedDetail, onlyWorkApp);
    usage.mounts = {{"app-db-1", {"app_data"}}, {"app-api-1", {"app_data", "unknown"}}};
    ComposeProject app{"app", "/work/app", {named("app-api-1"), named("app-db-1")}, 2, std::nullopt};
    EXPECT_EQ(usage.bytes(app), 3000000000 + 2000000000 + 2900000000);
    EXPECT_EQ(usage.bytes(ComposeProject{"gone", std::nullopt, {}, 0, std::nullopt}), 0);

    app.containers << named("app-db-1"); // a name listed twice counts twice
    EXPECT_EQ(usage.bytes(app), 3000000000 + 2 * 2000000000LL + 2900000000);

    EXPECT_EQ(names(usage.candidatesIn("app")), QStringList({"app-api-1", "fresh"}));
    EXPECT_TRUE(usage.candidatesIn("nobody").isEmpty());
    EXPECT_TRUE(usage.candidatesIn("").isEmpty()); // items without a project never match

    qint64 sum = 0;
    for (const Reclaimable& item : usage.candidates)
        sum += item.bytes;
    EXPECT_EQ(usage.reclaimable(), sum);
}

TEST(DiskUsageFigures, MergingKeepsTheReceiverFirst)
{
    const Runtime colima = Runtime::context("colima");
    DiskUsage mine{100,
                   {{"a", 1}},
                   {{"v", 10}},
                   {{"a", {"v"}}},
                   {Reclaimable{Kind::Volume, "v", "v", 10, {}, Recovery::Gone, {}, colima}}};
    DiskUsage theirs{50,
                     {{"a", 2}, {"b", 3}},
                     {{"v", 20}},
                     {{"a", {"w"}}, {"b", {}}},
                     {Reclaimable{Kind::Container, "b", "b", 3, {}, Recovery::Gone, {}, std::nullopt}}};
    const DiskUsage merged = mine.merging(theirs);
    EXPECT_EQ(merged.total, 150);
    EXPECT_EQ(merged.containerSize, (QMap<QString, qint64>{{"a", 1}, {"b", 3}}));
    EXPECT_EQ(merged.volumeSize.value("v"), 10);
    EXPECT_EQ(merged.mounts.value("a"), QStringList{"v"});
    EXPECT_EQ(names(merged.candidates), QStringList({"v", "b"}));
    EXPECT_EQ(merged.candidates[0].id(), "colima/volume/v");
    EXPECT_EQ(merged.candidates[1].id(), "/container/b");

    const qint64 max = std::numeric_limits<qint64>::max();
    EXPECT_EQ((DiskUsage{max, {}, {}, {}, {}}).merging(DiskUsage{max, {}, {}, {}, {}}).total, max);
}

TEST(DiskUsageQuery, RunsTheReportThenMountsThenImagesOnTheRuntime)
{
    TestSupport::FakeTools fakes({"docker"});
    const QStringList context{"--context", "ctx"};
    fakes.answer("docker", context + QStringList{"system", "df", "--format", "json"},
                 fixture("engine/system-df.ndjson"));
    fakes.answer("docker", context + QStringList{"system", "df", "-v", "--format", "json"},
                 fixture("engine/system-df-v.json"));
    const QStringList containers{"rec4-created", "rec4-live",      "rec4-loose",       "rec4-paused",
                                 "rec4-withvol", "rec4shop-web-1", "rec4shop-worker-1"};
    fakes.answer(
        "docker",
        context + QStringList{"inspect"} + containers +
            QStringList{"--format",
                        R"({{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}})"},
        fixture("engine/mounts.txt"));
    fakes.answer(
        "docker",
        context +
            QStringList{"image", "inspect", "rec4/snapshot:1", "--format",
                        R"({{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}})"},
        "|0\n");
    fakes.answer("docker", context + QStringList{"system", "info", "--format", "{{.SystemTime}}"},
                 "2026-12-07T21:53:31.204711035Z\n");
    fakes.answer("docker", context + QStringList{"volume", "inspect", "--", "rec4-orphan"},
                 fixture("engine/volume-inspect.json"));

    const Runtime runtime = Runtime::context("ctx");
    const DiskUsage usage = Docker::usage(runtime, [](const QString&) { return true; });

    const QStringList calls = fakes.calls();
    ASSERT_EQ(calls.size(), 7);
    // The labels of the stopped containers come from the engine's own map.
    EXPECT_TRUE(calls[2].startsWith("docker --context ctx inspect --type container "))
        << calls[2].toStdString();
    EXPECT_TRUE(calls[3].startsWith("docker --context ctx inspect rec4-created rec4-live"))
        << calls[3].toStdString();
    EXPECT_TRUE(calls[4].startsWith("docker --context ctx image inspect rec4/snapshot:1 --format"));
    EXPECT_EQ(calls[6], "docker --context ctx volume inspect -- rec4-orphan") << "only the volume offered";

    EXPECT_EQ(usage.mounts, Docker::parseMounts(fixture("engine/mounts.txt")));
    EXPECT_EQ(usage.mounts.value("rec4shop-web-1"), QStringList{"rec4shop_data"});
    const Reclaimable* snapshot = find(usage, "rec4/snapshot:1");
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->recovery, Recovery::NeedsSource);
    EXPECT_EQ(snapshot->note, "built here");
    EXPECT_EQ(snapshot->project, std::nullopt);
    for (const Reclaimable& item : usage.candidates)
        EXPECT_EQ(item.runtime, runtime) << item.name.toStdString();
    EXPECT_EQ(find(usage, "rec4-orphan")->id(), "ctx/volume/rec4-orphan");
    EXPECT_EQ(find(usage, "rec4-orphan")->createdAt, "2026-12-07T21:53:25Z");
}

// A measurement's commands share its limit: whichever of them hangs is ended once the limit has
// passed, and the measurement fails as the runtime not answering instead of measuring for good.
TEST(DiskUsageQuery, AHangingStepIsEndedAtTheMeasurementsLimit)
{
    const QStringList summary{"system", "df", "--format", "json"};
    const QStringList detail{"system", "df", "-v", "--format", "json"};
    const QStringList mounts =
        QStringList{"inspect"} +
        QStringList{"rec4-created", "rec4-live",      "rec4-loose",       "rec4-paused",
                    "rec4-withvol", "rec4shop-web-1", "rec4shop-worker-1"} +
        QStringList{"--format",
                    R"({{.Name}}|{{range .Mounts}}{{if eq .Type "volume"}}{{.Name}},{{end}}{{end}})"};
    const QStringList images{"image", "inspect", "rec4/snapshot:1", "--format",
                             R"({{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}})"};
    for (const QStringList& hanging : {detail, mounts, images}) {
        TestSupport::FakeTools fakes({"docker"});
        fakes.answer("docker", summary, fixture("engine/system-df.ndjson"));
        fakes.answer("docker", detail, fixture("engine/system-df-v.json"));
        fakes.answer("docker", mounts, fixture("engine/mounts.txt"));
        fakes.answer("docker", images, "|0\n");
        fakes.hang("docker", hanging);

        QElapsedTimer clock;
        clock.start();
        try {
            Docker::usage(
                std::nullopt, [](const QString&) { return true; }, std::chrono::milliseconds(1500));
            ADD_FAILURE() << "measured, though " << hanging.join(' ').toStdString() << " hangs";
        } catch (const Docker::TimedOut& error) {
            EXPECT_EQ(error.errorDescription(), "The runtime is not answering.");
        }
        EXPECT_GE(clock.elapsed(), 1400);
        EXPECT_LT(clock.elapsed(), 3500) << hanging.join(' ').toStdString();
        EXPECT_EQ(Platform::trackedChildCount(), 0) << "the hung command was ended";
    }
}

TEST(DiskUsageQuery, AnEngineThatDoesNotAnswerFailsAtTheFirstCommand)
{
    TestSupport::FakeTools fakes({"docker"});
    fakes.answer("docker", {"system", "df", "--format", "json"}, "", "Cannot connect to the Docker daemon\n",
                 1);
    try {
        Docker::usage(std::nullopt, [](const QString&) { return true; });
        FAIL() << "no error";
    } catch (const DockerError& error) {
        EXPECT_EQ(error.errorDescription(), "Cannot connect to the Docker daemon");
    }
    EXPECT_EQ(fakes.calls().size(), 1);
}

TEST(DiskUsageQuery, FailingMountAndImageQueriesLeaveTheReportAsItIs)
{
    TestSupport::FakeTools fakes({"docker"});
    fakes.answer("docker", {"system", "df", "--format", "json"}, fixture("engine/system-df.ndjson"));
    fakes.answer("docker", {"system", "df", "-v", "--format", "json"}, fixture("engine/system-df-v.json"));
    // Every other docker command finds no answer and fails.
    const DiskUsage usage = Docker::usage(std::nullopt, [](const QString&) { return true; });
    EXPECT_TRUE(usage.mounts.isEmpty());
    EXPECT_EQ(find(usage, "rec4/snapshot:1")->recovery, Recovery::Restorable);
    EXPECT_EQ(usage.volumeSize.value("rec4-orphan"), 90000);
    EXPECT_FALSE(find(usage, "rec4-orphan"))
        << "without its creation time a volume made again would pass for it";
    EXPECT_EQ(usage.candidates.size(), 7);
    // The labels, the mounts (and the listing that looks into their failure), the images, the time
    // and the volume.
    EXPECT_EQ(fakes.calls().size(), 8);
}
