#include "platform/KernelMounts.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

// A file of the process folder read whole, or the errno that refused it.
struct Read {
    QByteArray text;
    int error = 0;
};

Read readWhole(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {{}, errno};
    Read read;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            read.error = errno;
            break;
        }
        if (got == 0)
            break;
        read.text.append(buffer, got);
    }
    ::close(fd);
    return read;
}

// The ns/mnt link's text ("mnt:[4026531841]"), or the errno that refused it.
Read readLink(const QByteArray& path)
{
    char buffer[256];
    const ssize_t got = ::readlink(path.constData(), buffer, sizeof buffer);
    if (got < 0)
        return {{}, errno};
    return {QByteArray(buffer, got), 0};
}

// A process that has ended, or is ending (its namespaces already let go), holds no mount.
bool gone(int error)
{
    return error == ENOENT || error == ESRCH || error == EINVAL;
}

bool digitsOnly(const QString& name)
{
    return !name.isEmpty() && std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.isDigit(); });
}

} // namespace

HostMounts hostMounts(const QString& proc)
{
    HostMounts host;
    const QByteArray root = QFile::encodeName(proc);
    const Read self = readWhole(root + "/self/mountinfo");
    if (self.error != 0 || self.text.isEmpty())
        return host;
    host.own = parseMountTable(self.text);
    const QByteArray ownSpace = readLink(root + "/self/ns/mnt").text;

    QDir folder(proc);
    const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (names.isEmpty())
        return host;
    host.readable = true;
    // Each namespace by its link, or where the link may not be looked at, by its table's text: two that
    // list the same mounts the same way are one as far as any folder is concerned. This process's own
    // is not among the others.
    QHash<QByteArray, qsizetype> spaces;
    QHash<QByteArray, qsizetype> tables{{self.text, -1}};
    if (!ownSpace.isEmpty())
        spaces.insert(ownSpace, -1);
    // Every control group of the processes in a namespace: a process that entered a container's
    // namespace from outside has the host's own.
    const auto joined = [&](qsizetype index, const QByteArray& at) {
        if (index < 0)
            return;
        const QString cgroup = QString::fromUtf8(readWhole(at + "/cgroup").text).trimmed();
        if (!cgroup.isEmpty() && !host.others[index].cgroups.contains(cgroup))
            host.others[index].cgroups << cgroup;
    };
    for (const QString& name : names) {
        if (!digitsOnly(name))
            continue;
        const QByteArray at = root + '/' + QFile::encodeName(name);
        const Read space = readLink(at + "/ns/mnt");
        if (space.error != 0 && gone(space.error))
            continue;
        if (space.error == 0 && spaces.contains(space.text)) {
            joined(spaces.value(space.text), at);
            continue;
        }
        const Read table = readWhole(at + "/mountinfo");
        const QString command = QString::fromUtf8(readWhole(at + "/comm").text).trimmed();
        if (table.error != 0) {
            if (!gone(table.error))
                host.unread << QStringLiteral("%1 (%2)").arg(name, command);
            continue;
        }
        qsizetype index = tables.value(table.text, -2);
        if (index == -2) {
            index = host.others.size();
            tables.insert(table.text, index);
            host.others.append({name, command, {}, parseMountTable(table.text)});
        }
        if (space.error == 0)
            spaces.insert(space.text, index);
        joined(index, at);
    }
    return host;
}

MountReach reachOfMount(const MountEntry& mount, const QByteArray& device, const QString& inFileSystem)
{
    if (mount.device != device)
        return MountReach::none;
    if (mount.root == inFileSystem)
        return MountReach::at;
    if (atOrUnder(mount.root, inFileSystem))
        return MountReach::under;
    if (mount.root != u'/' && atOrUnder(inFileSystem, mount.root))
        return MountReach::above;
    return MountReach::none;
}

QList<NamespaceUse> namespaceUses(const HostMounts& host, const TreeLocation& folder,
                                  const QStringList& passing)
{
    // Shown here too: as a mount of this process's own table, or at the same place.
    const auto ownView = [&host](const MountEntry& mount) {
        const std::optional<TreeLocation> here = locate(mount.point, host.own);
        return (here && here->device == mount.device && here->inFileSystem == mount.root) ||
               std::any_of(host.own.cbegin(), host.own.cend(), [&](const MountEntry& own) {
                   return own.device == mount.device && own.root == mount.root;
               });
    };
    QList<NamespaceUse> uses;
    for (qsizetype i = 0; i < host.others.size(); ++i)
        for (const MountEntry& mount : host.others[i].mounts) {
            const MountReach reach = reachOfMount(mount, folder.device, folder.inFileSystem);
            if (reach == MountReach::none || passing.contains(mount.point) ||
                (reach == MountReach::above && ownView(mount)))
                continue;
            uses.append({i, mount, reach});
        }
    return uses;
}

} // namespace Platform
