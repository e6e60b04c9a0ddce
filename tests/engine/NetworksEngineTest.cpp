#include "engine/Container.h"
#include "engine/Networks.h"
#include "support/TestSupport.h"

#include <QRandomGenerator>
#include <QScopeGuard>

using TestSupport::docker;
using TestSupport::uniqueName;

namespace {

// A network of the test's own on a small range of its own: the engine's default ranges run out
// when many projects are up at once. Another range is tried when one is taken.
int makeNetwork(const QString& name, const QString& project)
{
    int status = -1;
    for (int attempt = 0; attempt < 5 && status != 0; ++attempt) {
        // One of the /28 ranges in 10.200.0.0 to 10.249.255.255.
        const int block = QRandomGenerator::global()->bounded(0, 50 * 256 * 16);
        const QString subnet = QStringLiteral("10.%1.%2.%3/28")
                                   .arg(200 + block / 4096)
                                   .arg(block / 16 % 256)
                                   .arg(block % 16 * 16);
        status = docker({"network", "create", "--subnet", subnet, "--label",
                         QString(Docker::projectLabel) + "=" + project, name})
                     .status;
    }
    return status;
}

bool networkExists(const QString& name)
{
    return docker({"network", "inspect", name}).status == 0;
}

} // namespace

// Taking down a group of containers with an empty project label by removing them one by one: of the
// networks, only the one they were attached to, labelled with the group's (empty) name, goes. An
// unused network with the same empty label that they were not attached to stays, as do one they
// share with a container of their own group that is not being removed (even one never started) and
// one labelled for another project.
TEST(NetworksOnEngine, OnlyTheSpareLabelledNetworksOfTheRemovedContainersGo)
{
    VOSKEL_REQUIRE_ENGINE();
    const QString P = Docker::projectLabel;
    const QString own = uniqueName("own");
    const QString unrelated = uniqueName("unrelated");
    const QString shared = uniqueName("shared");
    const QString other = uniqueName("other");
    const QString removed = uniqueName("removed");
    const QString started = uniqueName("started");
    const QString stays = uniqueName("stays");
    const auto cleanUp = qScopeGuard([&] {
        docker({"rm", "-f", removed, started, stays});
        docker({"network", "rm", own, unrelated, shared, other});
    });
    for (const QString& network : {own, unrelated, shared})
        ASSERT_EQ(makeNetwork(network, QString()), 0);
    ASSERT_EQ(makeNetwork(other, uniqueName("else")), 0);
    ASSERT_EQ(docker({"create", "--name", removed, "--label", P + "=", "--network", own,
                      TestSupport::testImage(), "sleep", "600"})
                  .status,
              0);
    ASSERT_EQ(docker({"network", "connect", shared, removed}).status, 0);
    ASSERT_EQ(docker({"network", "connect", other, removed}).status, 0);
    ASSERT_EQ(docker({"run", "-d", "--name", started, "--label", P + "=", "--network", own,
                      TestSupport::testImage(), "sleep", "600"})
                  .status,
              0);
    // Never started: the engine knows its network only by name.
    ASSERT_EQ(
        docker({"create", "--name", stays, "--network", shared, TestSupport::testImage(), "true"}).status, 0);
    const Docker::Capture capture = [](const QStringList& args) { return docker(args); };

    // The never started one names its networks, the running one gives the identifier of the same one.
    const QStringList attached = Docker::attachedNetworks({removed, started}, capture);
    EXPECT_EQ(attached.size(), 4);
    ASSERT_EQ(docker({"rm", "-f", removed, started}).status, 0);
    const QList<Docker::FailedCommand> failed = Docker::removeSpareNetworks(attached, QString(), capture);

    EXPECT_TRUE(failed.isEmpty()) << (failed.isEmpty() ? "" : failed[0].result.err.toStdString());
    EXPECT_FALSE(networkExists(own));
    EXPECT_TRUE(networkExists(unrelated));
    EXPECT_TRUE(networkExists(shared));
    EXPECT_TRUE(networkExists(other));
}
