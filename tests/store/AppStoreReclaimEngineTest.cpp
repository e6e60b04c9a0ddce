#include "store/StoreOnEngine.h"

using TestSupport::docker;
using TestSupport::uniqueName;
using namespace EngineTesting;

TEST_F(ActionsOnEngine, ReclaimRemovesTheChosenItemsAndReportsWhatWouldNotGo)
{
    const QString stopped = uniqueName("stopped");
    const QString unused = uniqueName("unused");
    const QString busy = uniqueName("busy");
    ASSERT_NO_FATAL_FAILURE(runContainer(stopped));
    ASSERT_EQ(docker({"stop", "-t", "0", stopped}).status, 0);
    ASSERT_NO_FATAL_FAILURE(createVolume(unused));
    ASSERT_NO_FATAL_FAILURE(createVolume(busy));
    const QString user = uniqueName("user");
    ASSERT_NO_FATAL_FAILURE(runContainer(user, {"-v", busy + ":/data"}));
    const auto item = [](Reclaimable::Kind kind, const QString& ref) {
        Reclaimable r;
        r.kind = kind;
        r.ref = ref;
        r.name = ref;
        return r;
    };

    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangersHolding({unused}));
    const QStringList failures =
        run(store->reclaim({item(Reclaimable::Kind::Container, stopped),
                            item(Reclaimable::Kind::Volume, unused), item(Reclaimable::Kind::Volume, busy)}));

    EXPECT_NE(docker({"inspect", stopped}).status, 0);
    EXPECT_FALSE(volumeExists(unused));
    EXPECT_TRUE(volumeExists(busy));
    ASSERT_EQ(failures.size(), 1) << failures.join('\n').toStdString();
    EXPECT_EQ(failures[0], busy + " was not removed: container " + user + " mounts it.");
    EXPECT_FALSE(store->busy());
}

// Measured, then the tag was moved to a new image and the stopped container's name given to a new
// container: the reclaim takes neither newcomer, says so for the image, and still frees the rest,
// an image whose tag stayed put among it.
TEST_F(ActionsOnEngine, ReclaimTakesOnlyWhatWasMeasuredWhenItsNamesMovedOn)
{
    const QString source = uniqueName("source");
    const QString stopped = uniqueName("stopped");
    const QString spare = uniqueName("spare");
    const QString tag = uniqueName("img") + ":latest";
    const QString steady = uniqueName("steady") + ":latest";
    imagesMade << tag << steady;
    ASSERT_NO_FATAL_FAILURE(runContainer(source));
    ASSERT_NO_FATAL_FAILURE(runContainer(stopped));
    ASSERT_EQ(docker({"stop", "-t", "0", stopped}).status, 0);
    ASSERT_NO_FATAL_FAILURE(createVolume(spare));
    ASSERT_EQ(docker({"commit", source, tag}).status, 0);
    const QString measured = docker({"image", "inspect", "--format", "{{.Id}}", tag}).out.trimmed();
    imagesMade << measured;
    ASSERT_EQ(docker({"commit", source, steady}).status, 0);
    imagesMade << docker({"image", "inspect", "--format", "{{.Id}}", steady}).out.trimmed();

    run(store->loadUsage());
    ASSERT_TRUE(store->usage());
    QList<Reclaimable> chosen;
    for (const Reclaimable& item : store->usage()->candidates)
        if (item.name == tag || item.name == steady || item.name == stopped || item.name == spare)
            chosen << item;
    ASSERT_EQ(chosen.size(), 4);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangersHolding({spare}));

    ASSERT_EQ(docker({"commit", source, tag}).status, 0);
    const QString moved = docker({"image", "inspect", "--format", "{{.Id}}", tag}).out.trimmed();
    imagesMade << moved;
    ASSERT_NE(moved, measured);
    ASSERT_EQ(docker({"rm", stopped}).status, 0);
    ASSERT_NO_FATAL_FAILURE(runContainer(stopped));

    const QStringList failures = run(store->reclaim(chosen));

    EXPECT_TRUE(failures.contains(tag + " now names another image; not removed."))
        << failures.join('\n').toStdString();
    EXPECT_EQ(docker({"image", "inspect", "--format", "{{.Id}}", tag}).out.trimmed(), moved);
    EXPECT_EQ(docker({"image", "inspect", measured}).status, 0);
    EXPECT_EQ(docker({"inspect", "--format", "{{.State.Status}}", stopped}).out.trimmed(), "running");
    EXPECT_FALSE(volumeExists(spare));
    EXPECT_NE(docker({"image", "inspect", steady}).status, 0) << "a tag that stayed put is removed";
}

// Measured, then removed and made again under its name with a file written into it: the reclaim leaves
// the new volume with its data, says so, and still removes the other volume ticked. The volume is made
// just after a second begins and made again as soon as it was measured, within that second were it
// not for the measurement waiting it out: the engine prints whole seconds.
TEST_F(ActionsOnEngine, ReclaimLeavesAVolumeMadeAgainSinceItWasMeasured)
{
    const QString remade = uniqueName("remade");
    const QString spare = uniqueName("spare");
    ASSERT_NO_FATAL_FAILURE(createVolume(spare));
    // The engine runs on this machine, by its clock.
    QThread::msleep(static_cast<unsigned long>(1000 - QDateTime::currentMSecsSinceEpoch() % 1000 + 20));
    ASSERT_NO_FATAL_FAILURE(createVolume(remade));
    run(store->loadUsage());
    ASSERT_TRUE(store->usage());
    QList<Reclaimable> chosen;
    for (const Reclaimable& item : store->usage()->candidates)
        if (item.kind == Reclaimable::Kind::Volume && (item.name == remade || item.name == spare))
            chosen << item;
    ASSERT_EQ(chosen.size(), 2);
    VOSKEL_SKIP_WHEN_STRANGERS_HOLD(strangersHolding({spare, remade}));

    ASSERT_EQ(docker({"volume", "rm", remade}).status, 0);
    ASSERT_NO_FATAL_FAILURE(createVolume(remade));
    const QStringList mounted{
        "run", "--rm", "--network", "none", "-v", remade + ":/d", TestSupport::testImage()};
    ASSERT_EQ(docker(mounted + QStringList{"sh", "-c", "echo precious > /d/file"}).status, 0);

    const QStringList failures = run(store->reclaim(chosen));

    EXPECT_EQ(failures, QStringList{remade + " was made again since it was measured; not removed."});
    EXPECT_EQ(docker(mounted + QStringList{"cat", "/d/file"}).out.trimmed(), "precious");
    EXPECT_FALSE(volumeExists(spare));
}
