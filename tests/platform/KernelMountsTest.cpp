#include "platform/KernelMounts.h"

#include "support/KernelReading.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using KernelReading::quoted;
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

// The namespace of `host` that holds a mount at `point`.
const Platform::MountNamespace* spaceWith(const Platform::HostMounts& host, const QString& point)
{
    for (const Platform::MountNamespace& space : host.others)
        for (const MountEntry& mount : space.mounts)
            if (mount.point == point)
                return &space;
    return nullptr;
}

bool lists(const QStringList& processes, const QString& pid)
{
    return std::any_of(processes.cbegin(), processes.cend(),
                       [&pid](const QString& each) { return each == pid || each.startsWith(pid + u' '); });
}

bool seen(const Platform::HostMounts& host, const QString& pid)
{
    return lists(host.unread, pid) ||
           std::any_of(host.others.cbegin(), host.others.cend(),
                       [&pid](const Platform::MountNamespace& space) { return space.pid == pid; });
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
// process whose link is gone has ended, one whose table refuses to be read is unread. The first
// process's command, and every process's control group, come along.
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
    // Opened, but refused on reading.
    process("60", "mnt:[3]", QByteArray());
    ASSERT_TRUE(QDir(proc.path()).mkpath("60/mountinfo"));
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
    EXPECT_EQ(host.unread, QStringList{"60 (sleep)"}) << "a table that could not be read is said unread";
    EXPECT_TRUE(host.partial.isEmpty()) << host.partial.join(", ").toStdString();

    // Without its own table nothing is claimed of the others.
    QFile::remove(proc.filePath("self/mountinfo"));
    EXPECT_FALSE(Platform::hostMounts(proc.path()).readable);
}

// A read of the process folder that never returns (here a table that is a pipe nobody writes to) holds
// the reading no longer than its limit: what was read by then comes back, and the view says how many
// processes were left unread.
TEST(KernelMounts, AReadThatDoesNotReturnLeavesTheViewPartial)
{
    QTemporaryDir proc;
    ASSERT_TRUE(QDir(proc.path()).mkpath("self/ns"));
    ASSERT_TRUE(write(proc.filePath("self/mountinfo"), "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"));
    for (const QString pid : {"40", "41"}) {
        ASSERT_TRUE(QDir(proc.path()).mkpath(pid + "/ns"));
        ASSERT_TRUE(QFile::link("mnt:[" + pid + "]", proc.filePath(pid + "/ns/mnt")));
        ASSERT_TRUE(write(proc.filePath(pid + "/comm"), "sleep\n"));
    }
    ASSERT_TRUE(write(proc.filePath("41/mountinfo"), "7 6 0:60 / / rw - tmpfs none rw\n"));
    const QByteArray held = QFile::encodeName(proc.filePath("40/mountinfo"));
    ASSERT_EQ(::mkfifo(held.constData(), 0600), 0);

    QElapsedTimer took;
    took.start();
    const Platform::HostMounts host = Platform::hostMounts(proc.path(), std::chrono::milliseconds(200));
    EXPECT_LT(took.elapsed(), 20000) << "the reading waited for the read that never returns";
    // The reader still waits in the open; a writer that comes and goes lets it end.
    const int writer = ::open(held.constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);

    EXPECT_TRUE(host.readable);
    EXPECT_EQ(host.own, QList<MountEntry>{mount("8:1", "/", "/")});
    EXPECT_TRUE(host.others.isEmpty());
    ASSERT_EQ(host.partial.size(), 1);
    EXPECT_TRUE(host.partial[0].contains("2 processes")) << host.partial[0].toStdString();
}

// A user without rights over other users' processes may not look at their namespace's link, yet may
// read their tables: a namespace of root's is still found, and read, by nobody; and a mount point with
// a blank in its path (which the table writes as "\040") is found by its real path.
TEST(KernelMounts, AnotherUsersNamespaceIsReadThroughItsTable)
{
    VOSKEL_REQUIRE_ROOT();
    QTemporaryDir parent;
    const QString point = parent.filePath("with blank");
    ASSERT_TRUE(QDir().mkpath(point));
    const KernelReading::PrivateMounts holder(QStringLiteral("mount -t tmpfs none %1").arg(quoted(point)));
    ASSERT_TRUE(holder.pid()) << holder.why().toStdString();

    const Platform::HostMounts asRoot = Platform::hostMounts();
    const Platform::MountNamespace* found = spaceWith(asRoot, point);
    ASSERT_TRUE(found) << "no namespace holds " << point.toStdString();

    const KernelReading::Read read = KernelReading::readAs({.asNobody = true});
    ASSERT_TRUE(read.host) << read.why.toStdString();
    EXPECT_TRUE(read.host->readable);
    const Platform::MountNamespace* byNobody = spaceWith(*read.host, point);
    ASSERT_TRUE(byNobody) << "nobody did not find the namespace of process " << holder.pid()->toStdString()
                          << "; unread: " << read.host->unread.join(", ").toStdString();
    EXPECT_EQ(byNobody->mounts, found->mounts);
    EXPECT_FALSE(lists(read.host->unread, *holder.pid()));
}

// A process folder that shows fewer processes than there are makes a partial view, and says so: one
// mounted so that other users' processes are hidden, or one of a process namespace of the reader's
// own. Where they are only closed to it, their tables are unread.
TEST(KernelMounts, AProcessFolderThatHidesProcessesMakesAPartialView)
{
    VOSKEL_REQUIRE_ROOT();
    QTemporaryDir proc;
    const QString mountProc = QStringLiteral("mount -t proc -o %1 proc ") + quoted(proc.path());

    // Closed: every process is listed, another user's cannot be read.
    KernelReading::Read read = KernelReading::readAs(
        {.asNobody = true, .ownMounts = true, .setUp = mountProc.arg("hidepid=1"), .proc = proc.path()});
    ASSERT_TRUE(read.host) << read.why.toStdString();
    EXPECT_TRUE(read.host->readable);
    EXPECT_TRUE(lists(read.host->unread, "1")) << "unread: " << read.host->unread.join(", ").toStdString();
    EXPECT_EQ(read.host->partial.size(), 1) << read.host->partial.join("\n").toStdString();

    // Hidden: another user's process is not even listed.
    read = KernelReading::readAs(
        {.asNobody = true, .ownMounts = true, .setUp = mountProc.arg("hidepid=2"), .proc = proc.path()});
    ASSERT_TRUE(read.host) << read.why.toStdString();
    EXPECT_TRUE(read.host->readable);
    EXPECT_FALSE(seen(*read.host, "1"));
    EXPECT_EQ(read.host->partial.size(), 1) << read.host->partial.join("\n").toStdString();

    // A process namespace of its own shows its own processes only, whoever reads it.
    read = KernelReading::readAs(
        {.ownMounts = true, .ownProcesses = true, .setUp = mountProc.arg("rw"), .proc = proc.path()});
    ASSERT_TRUE(read.host) << read.why.toStdString();
    EXPECT_TRUE(read.host->readable);
    EXPECT_TRUE(read.host->unread.isEmpty()) << read.host->unread.join(", ").toStdString();
    EXPECT_EQ(read.host->partial.size(), 1) << read.host->partial.join("\n").toStdString();

    // The first process namespace's folder, read as root, hides nothing.
    read = KernelReading::readAs({.ownMounts = true, .setUp = mountProc.arg("rw"), .proc = proc.path()});
    ASSERT_TRUE(read.host) << read.why.toStdString();
    EXPECT_TRUE(seen(*read.host, "1"));
    EXPECT_TRUE(read.host->partial.isEmpty()) << read.host->partial.join("\n").toStdString();
}
