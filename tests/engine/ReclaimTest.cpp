#include "engine/Reclaim.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>

using Kind = Reclaimable::Kind;
using Recovery = Reclaimable::Recovery;

namespace {

Reclaimable item(Kind kind, const QString& ref, Recovery recovery = Recovery::Restorable)
{
    return Reclaimable{kind, ref, ref, 1, std::nullopt, recovery, std::nullopt, std::nullopt};
}

} // namespace

TEST(LocalBuilds, ALabelOrNoDigestMarksALocalBuild)
{
    struct Row {
        QStringList refs;
        QString out;
        Docker::LocalBuilds expected;
    };
    const Row rows[] = {
        {{"app:1", "web:2"}, "myproj|0\n<no value>|3\n", {{"app:1", "myproj"}}},
        {{"a:1"}, "|0\n", {{"a:1", ""}}},
        {{"a:1"}, "<no value>|0\n", {{"a:1", ""}}},
        {{"a:1"}, "myproj|2\n", {{"a:1", "myproj"}}}, // a compose label wins over digests
        {{"a:1"}, "<no value>|1\n", {}},
        {{"a:1", "b:1"}, "website|1\n", {}}, // lines and refs do not pair up
        {{"a:1", "b:1"}, "x|0\nno bar\n", {{"a:1", "x"}}},
        {{"a:1", "b:1"}, "x|0|1\n|0\n", {{"b:1", ""}}},
        {{"a:1", "b:1"}, "|0\n\n|0\n", {{"a:1", ""}, {"b:1", ""}}}, // empty lines do not count
        {{}, "", {}},
        {{}, "|0\n", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::parseLocalBuilds(row.refs, row.out), row.expected) << row.out.toStdString();

    // Recorded: an image made with `docker commit` and one made with `docker import`; neither was pulled.
    EXPECT_EQ(Docker::parseLocalBuilds({"rec4/snapshot:1", "voskel-test/busybox:latest"},
                                       TestSupport::fixture("engine/image-inspect-builds.txt")),
              (Docker::LocalBuilds{{"rec4/snapshot:1", ""}, {"voskel-test/busybox:latest", ""}}));
}

TEST(LocalBuilds, NoRefsRunNothing)
{
    TestSupport::FakeTools fakes({"docker"});
    EXPECT_TRUE(Docker::localBuilds({}, std::nullopt).isEmpty());
    EXPECT_TRUE(fakes.calls().isEmpty());
}

TEST(LocalBuilds, AnImageGoneSinceTheListingLeavesTheOthersMarked)
{
    TestSupport::FakeTools fakes({"docker"});
    const QString format = R"({{index .Config.Labels "com.docker.compose.project"}}|{{len .RepoDigests}})";
    const auto inspect = [&](const QStringList& refs) {
        return QStringList{"image", "inspect"} + refs + QStringList{"--format", format};
    };
    // gone:1 was removed meanwhile: the client prints the others and fails for it.
    fakes.answer("docker", inspect({"app:1", "gone:1", "pulled:1"}), "shop|0\n<no value>|1\n",
                 "Error: No such image: gone:1\n", 1);
    fakes.answer("docker", inspect({"app:1"}), "shop|0\n");
    fakes.answer("docker", inspect({"gone:1"}), "", "Error: No such image: gone:1\n", 1);
    fakes.answer("docker", inspect({"pulled:1"}), "<no value>|1\n");

    EXPECT_EQ(Docker::localBuilds({"app:1", "gone:1", "pulled:1"}, std::nullopt),
              (Docker::LocalBuilds{{"app:1", "shop"}}));
    EXPECT_EQ(fakes.calls().size(), 4);

    // An engine that answers nothing at all is not asked again image by image.
    const QStringList before = fakes.calls();
    EXPECT_TRUE(Docker::localBuilds({"x:1", "y:1"}, std::nullopt).isEmpty());
    EXPECT_EQ(fakes.calls().size(), before.size() + 1);
}

TEST(LocalBuilds, MarkingTouchesOnlyImages)
{
    QList<Reclaimable> items{item(Kind::Image, "web:1"), item(Kind::Image, "node:20"),
                             item(Kind::Container, "web:1"), item(Kind::Volume, "data"),
                             item(Kind::Image, "app:2")};
    items[4].project = "stale";
    const QList<Reclaimable> marked =
        Docker::marking(items, {{"web:1", ""}, {"app:2", "app"}, {"data", "x"}, {"missing:1", "y"}});
    ASSERT_EQ(marked.size(), items.size());

    EXPECT_EQ(marked[0].note, "built here");
    EXPECT_EQ(marked[0].recovery, Recovery::NeedsSource);
    EXPECT_EQ(marked[0].project, std::nullopt);
    EXPECT_EQ(marked[1], items[1]);
    EXPECT_EQ(marked[2], items[2]);
    EXPECT_EQ(marked[3], items[3]);
    EXPECT_EQ(marked[4].project, "app");
    EXPECT_EQ(marked[4].recovery, Recovery::NeedsSource);
}

TEST(ReclaimWarning, CountsWhatIsLost)
{
    const Reclaimable gone = item(Kind::Volume, "v", Recovery::Gone);
    const Reclaimable source = item(Kind::Image, "i:1", Recovery::NeedsSource);
    const Reclaimable fine = item(Kind::Container, "c");
    struct Row {
        QList<Reclaimable> items;
        std::optional<QString> warning;
    };
    const Row rows[] = {
        {{gone, gone, source}, u"2 cannot come back · 1 needs its source"_qs},
        {{source, source, source}, QStringLiteral("3 need their source")},
        {{fine, gone}, QStringLiteral("1 cannot come back")},
        {{source, fine}, QStringLiteral("1 needs its source")},
        {{fine, fine}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::reclaimWarning(row.items), row.warning)
            << row.warning.value_or("none").toStdString();
}

TEST(ReclaimCommands, OneCommandPerKindInAFixedOrderAndNothingForced)
{
    const Reclaimable cache{Kind::BuildCache, "", "Build cache", 5, {}, Recovery::Restorable, {}, {}};
    struct Row {
        QList<Reclaimable> items;
        QList<QStringList> commands;
    };
    const Row rows[] = {
        {{item(Kind::Image, "app:1"), item(Kind::Container, "web"), cache, item(Kind::Container, "db")},
         {{"rm", "web", "db"}, {"rmi", "app:1"}, {"builder", "prune", "-f"}}},
        {{item(Kind::Volume, "a"), item(Kind::Volume, "b")}, {{"volume", "rm", "a", "b"}}},
        {{item(Kind::Image, "sha256:ccc"), item(Kind::Volume, "orphan"), item(Kind::Container, "demo-pg"),
          item(Kind::Image, "node:20-alpine")},
         {{"rm", "demo-pg"}, {"volume", "rm", "orphan"}, {"rmi", "sha256:ccc", "node:20-alpine"}}},
        {{cache, cache}, {{"builder", "prune", "-f"}}},
        // One thing is removed once: the second removal would fail on what the first took away.
        {{item(Kind::Image, "sha256:ccc"), item(Kind::Container, "web"), item(Kind::Image, "sha256:ccc"),
          item(Kind::Container, "web")},
         {{"rm", "web"}, {"rmi", "sha256:ccc"}}},
        {{}, {}},
        // A name no engine gives would read as an option, a stray "-f" as force.
        {{item(Kind::Container, "-f"), item(Kind::Container, "web"), item(Kind::Volume, "--all")},
         {{"rm", "web"}}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::reclaimCommands(row.items), row.commands);
}

TEST(VolumeCreation, ReadByNameFromWhatTheClientPrints)
{
    struct Row {
        QString json;
        QMap<QString, QString> created;
    };
    const Row rows[] = {
        // Recorded: one volume found, one gone (the client failed for that one and printed the other).
        {TestSupport::fixture("engine/volume-inspect.json"), {{"rec4-orphan", "2026-12-07T21:53:25Z"}}},
        {R"([{"Name":"a,b","CreatedAt":"2026-01-02T03:04:05+02:00"},{"Name":"bare"},{"CreatedAt":"x"}])",
         {{"a,b", "2026-01-02T03:04:05+02:00"}, {"bare", ""}}},
        {"[]\n", {}},
        {"Error response from daemon: get v: no such volume\n", {}},
        {R"({"Name":"v","CreatedAt":"2026-01-02T03:04:05Z"})", {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::parseVolumeCreation(row.json), row.created) << row.json.toStdString();
}

// The engine prints whole seconds: a volume can be told from one made again under its name only once
// the second it was made in is over.
TEST(VolumeCreation, WhatIsLeftOfTheSecondAVolumeWasMadeIn)
{
    const QDateTime clock = QDateTime::fromString("2026-12-07T21:53:25.300Z", Qt::ISODateWithMs);
    using std::chrono::milliseconds;
    struct Row {
        QString createdAt;
        std::optional<milliseconds> left;
    };
    const Row rows[] = {
        {"2026-12-07T21:53:25Z", milliseconds(700)},
        {"2026-12-07T21:53:24Z", milliseconds(0)},
        {"2026-12-07T21:53:26Z", milliseconds(1700)}, // made after the clock was read
        {"2026-12-07T23:53:25+02:00", milliseconds(700)},
        {"2026-12-07T21:53:25.999Z", milliseconds(700)},
        {"", std::nullopt},
        {"yesterday", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::sameSecondLeft(row.createdAt, clock), row.left) << row.createdAt.toStdString();
    EXPECT_EQ(
        Docker::sameSecondLeft("2026-12-07T21:53:25Z",
                               QDateTime::fromString("2026-12-07T21:53:26.000000001Z", Qt::ISODateWithMs)),
        milliseconds(0))
        << "the engine's clock in nanoseconds";
}

// A volume made in the second its measurement began is looked at again once that second is over, and
// no longer offered when it was made anew meanwhile; an older one is looked at once.
TEST(VolumeCreation, AVolumeMadeInTheSecondOfItsMeasurementIsLookedAtAgain)
{
    TestSupport::FakeTools fakes({"docker"});
    const QStringList clock{"system", "info", "--format", "{{.SystemTime}}"};
    const QStringList both{"volume", "inspect", "--", "fresh", "old"};
    const QStringList fresh{"volume", "inspect", "--", "fresh"};
    fakes.answer("docker", clock, "2026-12-07T21:53:25.700000000Z\n");
    fakes.answer(
        "docker", both,
        R"([{"Name":"fresh","CreatedAt":"2026-12-07T21:53:25Z"},{"Name":"old","CreatedAt":"2026-12-07T21:50:00Z"}])");

    fakes.answer("docker", fresh, R"([{"Name":"fresh","CreatedAt":"2026-12-07T21:53:25Z"}])");
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(Docker::volumeCreation({"fresh", "old"}, std::nullopt),
              (QMap<QString, QString>{{"fresh", "2026-12-07T21:53:25Z"}, {"old", "2026-12-07T21:50:00Z"}}));
    // Looked at again only once the engine's second is over, 300 ms after its clock was read: within
    // that second a volume made anew would print the same time.
    EXPECT_GE(took.elapsed(), 300);
    EXPECT_EQ(fakes.calls().size(), 3);
    EXPECT_EQ(fakes.calls().last(), "docker volume inspect -- fresh");

    fakes.answer("docker", fresh, R"([{"Name":"fresh","CreatedAt":"2026-12-07T21:53:26Z"}])");
    EXPECT_EQ(Docker::volumeCreation({"fresh", "old"}, std::nullopt),
              (QMap<QString, QString>{{"old", "2026-12-07T21:50:00Z"}}));

    // Without the engine's clock nothing is waited for: the times are compared as printed.
    fakes.answer("docker", clock, "", "unknown flag: --format\n", 1);
    EXPECT_EQ(Docker::volumeCreation({"fresh", "old"}, std::nullopt),
              (QMap<QString, QString>{{"fresh", "2026-12-07T21:53:25Z"}, {"old", "2026-12-07T21:50:00Z"}}));
    EXPECT_EQ(fakes.calls().size(), 8);

    EXPECT_TRUE(Docker::volumeCreation({}, std::nullopt).isEmpty());
    EXPECT_EQ(fakes.calls().size(), 8);
}
