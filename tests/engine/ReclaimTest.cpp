#include "engine/Reclaim.h"

#include "support/TestSupport.h"

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
