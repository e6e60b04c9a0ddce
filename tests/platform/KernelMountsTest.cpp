#include "platform/KernelMounts.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using Platform::MountEntry;
using Platform::MountReach;

namespace {

// "/srv/app" on the file system 8:1, whose path there is "/vol/srv/app" (a subvolume's folder mounted
// at "/").
const Platform::TreeLocation app{0, "8:1", QStringLiteral("/vol/srv/app")};

MountEntry mount(const char* device, const char* root, const char* point)
{
    return {device, QString::fromUtf8(root), QString::fromUtf8(point)};
}

bool write(const QString& path, const QByteArray& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

} // namespace

// A mount is compared with the folder by file system and path within it, never by where it shows: the
// same folder, one inside, and one that holds it (but the whole file system) reach it; a sibling whose
// name merely starts alike, another file system with the same paths, and the file system's root do not.
TEST(KernelMounts, AMountReachesAFolderByDeviceAndRootWithin)
{
    const QByteArray device = app.device;
    const QString folder = app.inFileSystem;
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/vol/srv/app", "/d"), device, folder), MountReach::at);
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/vol/srv/app/data", "/d"), device, folder),
              MountReach::under);
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/vol/srv", "/srv"), device, folder), MountReach::above);
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/vol", "/"), device, folder), MountReach::above);
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/", "/host"), device, folder), MountReach::none);
    EXPECT_EQ(Platform::reachOfMount(mount("8:1", "/vol/srv/application", "/d"), device, folder),
              MountReach::none);
    EXPECT_EQ(Platform::reachOfMount(mount("8:2", "/vol/srv/app", "/d"), device, folder), MountReach::none);
    EXPECT_EQ(Platform::reachOfMount(mount("0:52", "/", "/"), device, folder), MountReach::none);
}

// Of another namespace, what shows the folder or inside it counts wherever it shows it, unless it is
// gone before the move; what holds it counts only where this process does not see it alike (a sandbox
// made as a copy of this namespace is no user of the folder).
TEST(KernelMounts, OtherNamespacesUseTheFolderUnlessTheyCopyThisView)
{
    Platform::HostMounts host;
    host.readable = true;
    host.own = {mount("8:1", "/vol", "/"), mount("8:1", "/vol/srv", "/srv")};
    host.others = {
        {"10", "sandboxed", {}, {mount("8:1", "/vol", "/"), mount("8:1", "/vol/srv", "/srv")}},
        {"20", "sh", {}, {mount("0:60", "/", "/"), mount("8:1", "/vol/srv/app/data", "/d")}},
        {"30", "sh", {}, {mount("0:61", "/", "/"), mount("8:1", "/vol/srv/app", "/var/lib/v/_data")}},
        {"40", "sh", {}, {mount("0:62", "/", "/"), mount("8:1", "/vol/srv/apps", "/a")}},
        {"50",
         "sh",
         {},
         {mount("0:63", "/", "/"), mount("8:1", "/vol/srv/other/..x", "/o"),
          mount("8:1", "/vol/srv", "/above")}},
    };
    const QList<Platform::NamespaceUse> uses = Platform::namespaceUses(host, app, {"/var/lib/v/_data"});
    ASSERT_EQ(uses.size(), 1) << "a sandbox's copy of /srv, a passing volume or a sibling counted";
    EXPECT_EQ(uses[0],
              (Platform::NamespaceUse{1, mount("8:1", "/vol/srv/app/data", "/d"), MountReach::under}));

    // Without /srv of its own here, a sandbox's /srv still shows what this process sees at /srv; a bind
    // of /srv elsewhere does not.
    host.own.removeLast();
    const QList<Platform::NamespaceUse> above = Platform::namespaceUses(host, app, {"/var/lib/v/_data"});
    ASSERT_EQ(above.size(), 2);
    EXPECT_EQ(above[1], (Platform::NamespaceUse{4, mount("8:1", "/vol/srv", "/above"), MountReach::above}));
}

// Each namespace is read once, through any one of its processes, and this process's own not at all; a
// process whose link is gone has ended. The first process's command, and every process's control
// group, come along.
TEST(KernelMounts, EachNamespaceIsReadOnce)
{
    QTemporaryDir proc;
    const auto process = [&](const QString& pid, const char* space, const QByteArray& table,
                             const QByteArray& cgroup = "0::/system.slice/docker-ab.scope\n") {
        ASSERT_TRUE(QDir(proc.path()).mkpath(pid + "/ns"));
        if (space) {
            ASSERT_TRUE(QFile::link(QString::fromUtf8(space), proc.filePath(pid + "/ns/mnt")));
        }
        if (!table.isNull()) {
            ASSERT_TRUE(write(proc.filePath(pid + "/mountinfo"), table));
        }
        ASSERT_TRUE(write(proc.filePath(pid + "/comm"), "sleep\n"));
        ASSERT_TRUE(write(proc.filePath(pid + "/cgroup"), cgroup));
    };
    const QByteArray own = "1 0 8:1 /vol / rw - btrfs /dev/sda1 rw\n";
    const QByteArray other = "7 6 0:60 / / rw - overlay overlay rw\n"
                             "8 7 8:1 /vol/srv/app/my\\040data /d rw - btrfs /dev/sda1 rw\n";
    process("self", "mnt:[1]", own);
    process("12", "mnt:[1]", QByteArray());
    process("40", "mnt:[2]", other);
    // Another process of the same namespace, read at another moment, would list it differently.
    process("41", "mnt:[2]", "9 6 0:60 / / rw - overlay overlay rw\n", "0::/user.slice\n");
    process("42", "mnt:[2]", QByteArray());
    process("50", nullptr, QByteArray());
    ASSERT_TRUE(QDir(proc.path()).mkpath("sys"));

    const Platform::HostMounts host = Platform::hostMounts(proc.path());
    EXPECT_TRUE(host.readable);
    EXPECT_EQ(host.own, QList<MountEntry>{mount("8:1", "/vol", "/")});
    ASSERT_EQ(host.others.size(), 1);
    EXPECT_EQ(host.others[0].pid, "40");
    EXPECT_EQ(host.others[0].command, "sleep");
    // A process that entered the namespace from outside is in another control group.
    EXPECT_EQ(host.others[0].cgroups, (QStringList{"0::/system.slice/docker-ab.scope", "0::/user.slice"}));
    EXPECT_EQ(host.others[0].mounts[1], mount("8:1", "/vol/srv/app/my data", "/d"));
    EXPECT_TRUE(host.unread.isEmpty()) << host.unread.join(", ").toStdString();

    // Without its own table nothing is claimed of the others.
    QFile::remove(proc.filePath("self/mountinfo"));
    EXPECT_FALSE(Platform::hostMounts(proc.path()).readable);
}
