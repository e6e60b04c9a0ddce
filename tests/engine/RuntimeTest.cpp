#include "engine/Runtime.h"

#include "engine/Docker.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

using TestSupport::ids;

namespace {

RuntimeEntry context(const QString& name, const QString& endpoint, bool reachable = true,
                     bool current = false)
{
    return {Runtime::context(name), endpoint, reachable, current};
}

// A resolver from a fixed table: paths not in it resolve to themselves.
Docker::Resolve table(const QHash<QString, QString>& links)
{
    return [links](const QString& path) { return links.value(path, path); };
}

const QString colimaSock = "/Users/me/.colima/default/docker.sock";

} // namespace

TEST(RuntimeValue, EqualityAndHashCoverKindNameAndPath)
{
    EXPECT_EQ(Runtime::context("a"), Runtime::context("a"));
    EXPECT_NE(Runtime::context("a"), Runtime::socket("a", ""));
    EXPECT_NE(Runtime::socket("s", "/x"), Runtime::socket("s", "/y"));
    EXPECT_EQ(Runtime::socket("s", "/x").id(), "s");
    QSet<Runtime> set{Runtime::context("a"), Runtime::context("a"), Runtime::socket("a", "/x")};
    EXPECT_EQ(set.size(), 2);
}

TEST(WithoutAlias, DropsADefaultThatReachesAnotherContextsSocket)
{
    const auto resolve = table({{"/var/run/docker.sock", colimaSock}});
    const QList<RuntimeEntry> entries{context("default", "unix:///var/run/docker.sock"),
                                      context("colima", "unix://" + colimaSock, true, true)};
    EXPECT_EQ(ids(Docker::withoutAlias(entries, resolve)), QStringList{"colima"});

    // A current default always stays.
    QList<RuntimeEntry> currentDefault = entries;
    currentDefault[0].current = true;
    currentDefault[1].current = false;
    EXPECT_EQ(ids(Docker::withoutAlias(currentDefault, resolve)), (QStringList{"default", "colima"}));
}

TEST(WithoutAlias, KeepsTheListWhenNothingSharesTheSocket)
{
    const auto resolve = table({});
    const QList<RuntimeEntry> distinct{context("default", "unix:///var/run/docker.sock"),
                                       context("colima", "unix://" + colimaSock, true, true)};
    EXPECT_EQ(Docker::withoutAlias(distinct, resolve), distinct);

    const QList<RuntimeEntry> tcpDefault{context("default", "tcp://host:2375"),
                                         context("b", "tcp://host:2375")};
    EXPECT_EQ(Docker::withoutAlias(tcpDefault, resolve), tcpDefault);

    // Only contexts other than "default" and sockets count as the other side.
    const QList<RuntimeEntry> socketTwin{
        context("default", "unix:///a.sock"),
        {Runtime::socket("apple-container", "/a.sock"), "unix:///a.sock", true, false}};
    EXPECT_EQ(ids(Docker::withoutAlias(socketTwin, resolve)), QStringList{"apple-container"});
}

TEST(Preferred, FollowsTheChoiceRules)
{
    const auto a = Runtime::context("a");
    const auto b = Runtime::context("b");
    struct Row {
        const char* what;
        QList<RuntimeEntry> entries;
        std::optional<Runtime> current;
        std::optional<Runtime> expected;
    };
    const Row rows[] = {
        {"reachable current", {context("a", "", true), context("b", "", true)}, b, b},
        {"unreachable current gives first reachable",
         {context("a", "", true), context("b", "", false)},
         b,
         a},
        {"no current, first unreachable", {context("a", "", false), context("b", "", true)}, {}, b},
        {"nothing reachable keeps current", {context("a", "", false), context("b", "", false)}, b, b},
        {"nothing reachable, no current", {context("a", "", false), context("b", "", false)}, {}, a},
        {"unlisted current", {context("a", "", false)}, Runtime::context("z"), Runtime::context("z")},
        {"empty list", {}, {}, {}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::preferred(row.entries, row.current), row.expected) << row.what;
}

TEST(Handover, SwitchesOnlyToAnotherReachableRuntime)
{
    const auto a = Runtime::context("a");
    const auto b = Runtime::context("b");
    const QList<RuntimeEntry> aDown{context("a", "", false), context("b", "", true)};
    const QList<RuntimeEntry> aUp{context("a", "", true), context("b", "", true)};
    const QList<RuntimeEntry> allDown{context("a", "", false), context("b", "", false)};
    EXPECT_EQ(Docker::handover(a, aDown), b);
    EXPECT_EQ(Docker::handover(a, aUp), std::nullopt);
    EXPECT_EQ(Docker::handover(a, allDown), std::nullopt);
    EXPECT_EQ(Docker::handover(Runtime::context("gone"), aUp), a);
    EXPECT_EQ(Docker::handover(std::nullopt, aDown), std::nullopt);
}

TEST(Reachability, UnixSocketsMustExistOtherEndpointsAlwaysCount)
{
    QTemporaryDir dir;
    const QString present = dir.filePath("engine.sock");
    QFile(present).open(QIODevice::WriteOnly);
    QFile::link(present, dir.filePath("link.sock"));
    QFile::link(dir.filePath("missing.sock"), dir.filePath("dangling.sock"));

    EXPECT_TRUE(Docker::isReachable("unix://" + present));
    EXPECT_TRUE(Docker::isReachable("unix://" + dir.filePath("link.sock")));
    EXPECT_FALSE(Docker::isReachable("unix://" + dir.filePath("dangling.sock")));
    EXPECT_FALSE(Docker::isReachable("unix://" + dir.filePath("missing.sock")));
    EXPECT_FALSE(Docker::isReachable("unix://"));
    EXPECT_TRUE(Docker::isReachable("tcp://127.0.0.1:1"));
    EXPECT_TRUE(Docker::isReachable("ssh://me@host"));
    EXPECT_TRUE(Docker::isReachable(""));
}

TEST(ResolveLinks, GivesOneNameForEveryPathToAFile)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath("real");
    QFile(dir.filePath("real/docker.sock")).open(QIODevice::WriteOnly);
    QFile::link(dir.filePath("real"), dir.filePath("alias")); // a link in a parent folder
    QFile::link(dir.filePath("alias/docker.sock"), dir.filePath("top.sock"));

    const QString canonical = Docker::resolveLinks(dir.filePath("real/docker.sock"));
    EXPECT_EQ(Docker::resolveLinks(dir.filePath("alias/docker.sock")), canonical);
    EXPECT_EQ(Docker::resolveLinks(dir.filePath("top.sock")), canonical);
    EXPECT_EQ(Docker::resolveLinks("/nonexistent/a.sock"), "/nonexistent/a.sock");
    EXPECT_NE(Docker::resolveLinks("/nonexistent/a.sock"), Docker::resolveLinks("/nonexistent/b.sock"));
}

namespace {
class FakeContexts : public testing::Test {
protected:
    TestSupport::FakeTools fakes{{"docker"}};
    QTemporaryDir dir;
    void SetUp() override { Docker::setAppleSocketPathForTesting(dir.filePath("container.sock")); }
    void TearDown() override
    {
        Docker::setAppleSocketPathForTesting(QString());
        Docker::setLinkResolverForTesting(nullptr);
    }
    void contexts(const QString& lines)
    {
        fakes.answer("docker", {"context", "ls", "--format", "json"}, lines);
    }
};
} // namespace

TEST_F(FakeContexts, DiscoveryReadsEveryContextAndPrefersTheCurrentOne)
{
    const QString sock = dir.filePath("colima.sock");
    QFile(sock).open(QIODevice::WriteOnly);
    contexts(QString(R"({"Name":"default","Current":false,"DockerEndpoint":"unix://%1"}
{"Name":"colima","Current":true,"DockerEndpoint":"unix://%1"}
not json
{"Name":"remote","Current":false,"DockerEndpoint":"tcp://10.0.0.9:2375"}
{"Name":"gone","Current":"yes","DockerEndpoint":"unix://"}
{"Current":false}
)")
                 .arg(sock));
    const auto found = Docker::runtimes();
    EXPECT_EQ(ids(found.list), (QStringList{"colima", "remote", "gone", ""}));
    EXPECT_EQ(found.current, Runtime::context("colima"));
    EXPECT_TRUE(found.list[0].current);
    EXPECT_TRUE(found.list[1].reachable);
    EXPECT_FALSE(found.list[2].reachable);
    EXPECT_FALSE(found.list[2].current); // "Current" that is not a Boolean counts as false
}

TEST_F(FakeContexts, TheAppleSocketIsOfferedWhenItExistsAndNoContextNamesIt)
{
    contexts(R"({"Name":"default","Current":true,"DockerEndpoint":"unix:///nonexistent/docker.sock"})");
    EXPECT_EQ(ids(Docker::runtimes().list), QStringList{"default"});

    QFile(Docker::appleSocketPath()).open(QIODevice::WriteOnly);
    auto found = Docker::runtimes();
    ASSERT_EQ(ids(found.list), (QStringList{"default", "apple-container"}));
    EXPECT_EQ(found.list[1], (RuntimeEntry{Docker::appleRuntime(), Docker::appleEndpoint(), true, false}));
    EXPECT_EQ(found.current, Docker::appleRuntime()); // the only reachable runtime

    // A context naming the socket by its exact endpoint text suppresses the entry; a link does not.
    contexts(
        QString(R"({"Name":"apple","Current":true,"DockerEndpoint":"%1"})").arg(Docker::appleEndpoint()));
    EXPECT_EQ(ids(Docker::runtimes().list), QStringList{"apple"});
    QFile::link(Docker::appleSocketPath(), dir.filePath("via-link.sock"));
    contexts(QString(R"({"Name":"apple","Current":true,"DockerEndpoint":"unix://%1"})")
                 .arg(dir.filePath("via-link.sock")));
    EXPECT_EQ(ids(Docker::runtimes().list), (QStringList{"apple", "apple-container"}));
}

TEST_F(FakeContexts, DiscoveryUsesTheInjectedResolverAndThrowsClientFailures)
{
    contexts(R"({"Name":"default","Current":false,"DockerEndpoint":"unix:///a.sock"}
{"Name":"other","Current":true,"DockerEndpoint":"unix:///b.sock"})");
    Docker::setLinkResolverForTesting(table({{"/a.sock", "/b.sock"}}));
    EXPECT_EQ(ids(Docker::runtimes().list), QStringList{"other"});

    fakes.answer("docker", {"context", "ls", "--format", "json"}, "", "cannot read config\n", 1);
    try {
        Docker::runtimes();
        FAIL() << "no error";
    } catch (const DockerError& error) {
        EXPECT_EQ(error.errorDescription(), "cannot read config");
    }
}
