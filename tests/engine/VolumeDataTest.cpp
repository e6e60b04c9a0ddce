#include "engine/VolumeData.h"

#include "platform/DiskLook.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

using namespace std::chrono_literals;

namespace {

const QString container = QString(64, u'c');

Docker::VolumeData asked(const QString& engine, const QString& root, const QStringList& containers,
                         const QStringList& volumes)
{
    return QCoro::waitFor(
               Platform::lookAtDisk(Docker::Looks::volumeData(engine, root, containers, volumes), 10s))
        .value_or(Docker::VolumeData{"not answered", {}, false, {}});
}

void write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(text);
}

} // namespace

// A data folder here says something of an engine's volumes only once it shows itself the engine's own:
// by the identifier file of the engine, or by the folder of one of the engine's containers. Then each
// volume asked for that has its own folder there (a folder, not a link to one) is found.
TEST(VolumeData, ADataFolderTellsOnlyOnceItShowsItselfTheEnginesOwn)
{
    QTemporaryDir disk;
    const QString withId = disk.filePath("with-id");
    const QString withContainer = disk.filePath("with-container");
    for (const QString& root : {withId, withContainer}) {
        ASSERT_TRUE(QDir().mkpath(root + "/volumes/shop_data/_data"));
        ASSERT_TRUE(QDir().mkpath(root + "/elsewhere"));
        ASSERT_TRUE(QFile::link(root + "/elsewhere", root + "/volumes/linked"));
    }
    write(withId + "/engine-id", "ENGINE-1\n");
    ASSERT_TRUE(QDir().mkpath(withContainer + "/containers/" + container));

    const QStringList volumes{"shop_data", "linked", "missing", "..", "a/../../elsewhere"};
    const struct {
        QString engine;
        QString root;
        QStringList containers;
        bool local;
    } rows[] = {
        {"ENGINE-1", withId, {}, true},
        {"ENGINE-2", withId, {}, false},
        {"ENGINE-2", withContainer, {container}, true},
        {"ENGINE-2", withContainer, {QString(64, u'd'), container.left(12)}, false},
        {"ENGINE-2", withContainer, {"../with-container/containers/" + container}, false},
        {"", withId, {}, false},
        {"ENGINE-1", withId + "/../with-id", {}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE((row.engine + " at " + row.root).toStdString());
        const Docker::VolumeData found = asked(row.engine, row.root, row.containers, volumes);
        EXPECT_EQ(found, Docker::lookAtVolumeData(row.engine, row.root, row.containers, volumes));
        EXPECT_EQ(found.engine, row.engine);
        EXPECT_EQ(found.root, row.root);
        EXPECT_EQ(found.local, row.local);
        EXPECT_EQ(found.folders.keys(), row.local ? QStringList{"shop_data"} : QStringList());
    }
}

// What is written into a volume, and its data folder's own changes, leave the volume's folder as it
// was; the same folder made again is another, even where the file system gives it the same number.
TEST(VolumeData, AVolumesFolderChangesOnlyWhenItIsMadeAgain)
{
    QTemporaryDir root;
    write(root.filePath("engine-id"), "E");
    const QString own = root.filePath("volumes/shop_data");
    ASSERT_TRUE(QDir().mkpath(own + "/_data"));
    const auto folder = [&] { return Docker::lookAtVolumeData("E", root.path(), {}, {"shop_data"}); };
    const Docker::VolumeData then = folder();
    ASSERT_TRUE(then.folders.contains("shop_data"));

    QThread::msleep(5);
    write(own + "/_data/note", "theirs\n");
    ASSERT_TRUE(QDir().mkpath(own + "/_data/sub"));
    ASSERT_TRUE(QFile::setPermissions(own + "/_data", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                          QFileDevice::ExeOwner));
    EXPECT_EQ(Docker::sameVolume(then, folder(), "shop_data"), Docker::Sameness::same);

    ASSERT_TRUE(QDir(own).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(own + "/_data"));
    EXPECT_EQ(Docker::sameVolume(then, folder(), "shop_data"), Docker::Sameness::madeAgain);
}
