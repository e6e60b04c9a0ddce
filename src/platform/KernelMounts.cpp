#include "platform/KernelMounts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <iterator>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

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

// "<pid> (<command>)", or the pid alone where even its command could not be read.
QString processName(const QString& pid, const QString& command)
{
    return command.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(pid, command);
}

// Why the process folder at `proc`, as this process's own table lists its mount, shows fewer
// processes than there are, or fewer than it lists.
QStringList hiddenBy(const QByteArray& ownTable, const QString& proc)
{
    const QString canonical = QFileInfo(proc).canonicalFilePath();
    const std::optional<QStringList> options =
        superOptionsAt(ownTable, canonical.isEmpty() ? proc : canonical);
    QStringList why;
    for (const QString& option : options.value_or(QStringList())) {
        if (option == u"hidepid=1" || option == u"hidepid=noaccess")
            why << QStringLiteral("%1 is mounted with hidepid=noaccess: the mounts of other users' "
                                  "processes cannot be read.")
                       .arg(proc);
        else if (option == u"hidepid=2" || option == u"hidepid=invisible")
            why << QStringLiteral("%1 is mounted with hidepid=invisible: other users' processes, and "
                                  "their mounts, are hidden.")
                       .arg(proc);
        else if (option == u"hidepid=4" || option == u"hidepid=ptraceable")
            why << QStringLiteral("%1 is mounted with hidepid=ptraceable: the processes Voskel may not "
                                  "trace, and their mounts, are hidden.")
                       .arg(proc);
        else if (option == u"subset=pid")
            why << QStringLiteral("%1 is mounted with subset=pid, as sandboxes mount it: processes "
                                  "outside the sandbox may not be seen.")
                       .arg(proc);
    }
    return why;
}

// Whether the process whose status (/proc/<pid>/status) and ns/pid link these are is in a process
// namespace below the first, where it sees none of the processes outside: it has more than one id
// (where the process folder is an outer namespace's), or its namespace is not the first one (whose
// number the kernel fixes).
bool inOwnPidNamespace(const QByteArray& status, const QByteArray& pidSpace)
{
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("NSpid:") && line.mid(6).simplified().split(' ').size() > 1)
            return true;
    return !pidSpace.isEmpty() && pidSpace != "pid:[4026531836]";
}

// What a reading has found so far, shared by the thread that reads and the one that waits for it:
// the waiter may leave with it while the reader is still held in the kernel.
struct Reading {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false; // the waiter has left with what there was
    HostMounts host;
    bool ownRead = false;
    qsizetype listed = -1; // the processes the folder listed; -1 before it was listed
    qsizetype taken = 0;   // of those, the ones read or passed over
};

// Adds to what was found, unless the waiter has left: then the reader ends too.
template <typename Change>
bool take(Reading& reading, Change&& change)
{
    const std::lock_guard guard(reading.lock);
    if (reading.abandoned)
        return false;
    change(reading);
    return true;
}

void readAll(const QString& proc, Reading& reading)
{
    const QByteArray root = QFile::encodeName(proc);
    const Read self = readWhole(root + "/self/mountinfo");
    if (self.error != 0 || self.text.isEmpty())
        return;
    QStringList partial = hiddenBy(self.text, proc);
    if (inOwnPidNamespace(readWhole(root + "/self/status").text, readLink(root + "/self/ns/pid").text))
        partial << QStringLiteral("Voskel runs in a process namespace of its own, as in a sandbox: the "
                                  "processes outside it, and their mounts, are not seen.");
    if (!take(reading, [&](Reading& r) {
            r.host.own = parseMountTable(self.text);
            r.host.partial << partial;
            r.ownRead = true;
        }))
        return;
    const QByteArray ownSpace = readLink(root + "/self/ns/mnt").text;

    const QStringList entries = QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (entries.isEmpty())
        return;
    QStringList names;
    std::copy_if(entries.cbegin(), entries.cend(), std::back_inserter(names), digitsOnly);
    if (!take(reading, [&](Reading& r) {
            r.host.readable = true;
            r.listed = names.size();
        }))
        return;
    // Each namespace by its link, or where the link may not be looked at, by its table's text: two that
    // list the same mounts the same way are one as far as any folder is concerned. This process's own
    // is not among the others.
    QHash<QByteArray, qsizetype> spaces;
    QHash<QByteArray, qsizetype> tables{{self.text, -1}};
    if (!ownSpace.isEmpty())
        spaces.insert(ownSpace, -1);
    qsizetype namespaces = 0;
    for (const QString& name : names) {
        const QByteArray at = root + '/' + QFile::encodeName(name);
        // What this process adds, all read before any of it is taken.
        qsizetype index = -2; // the namespace it is in, -1 for this process's own
        std::optional<MountNamespace> added;
        QString unread;
        const Read space = readLink(at + "/ns/mnt");
        if (space.error == 0 && spaces.contains(space.text)) {
            index = spaces.value(space.text);
        } else if (space.error == 0 || !gone(space.error)) {
            const Read table = readWhole(at + "/mountinfo");
            const QString command = QString::fromUtf8(readWhole(at + "/comm").text).trimmed();
            // A table read empty is of a process that has just ended: every live one has a root.
            if (table.error != 0 && !gone(table.error)) {
                unread = processName(name, command);
            } else if (table.error == 0 && !table.text.isEmpty()) {
                index = tables.value(table.text, -2);
                if (index == -2) {
                    index = namespaces++;
                    tables.insert(table.text, index);
                    added = MountNamespace{name, command, {}, parseMountTable(table.text)};
                }
                if (space.error == 0)
                    spaces.insert(space.text, index);
            }
        }
        // Every control group of the processes in a namespace: a process that entered a container's
        // namespace from outside has the host's own.
        const QString cgroup =
            index >= 0 ? QString::fromUtf8(readWhole(at + "/cgroup").text).trimmed() : QString();
        if (!take(reading, [&](Reading& r) {
                if (added)
                    r.host.others.append(std::move(*added));
                if (!unread.isEmpty())
                    r.host.unread << unread;
                if (!cgroup.isEmpty() && !r.host.others[index].cgroups.contains(cgroup))
                    r.host.others[index].cgroups << cgroup;
                ++r.taken;
            }))
            return;
    }
}

// What a reading that did not end within `limit` left out.
QString unanswered(const Reading& reading, std::chrono::milliseconds limit)
{
    const QString within = limit.count() % 1000 == 0 ? QStringLiteral("%1 s").arg(limit.count() / 1000)
                                                     : QStringLiteral("%1 ms").arg(limit.count());
    if (!reading.ownRead)
        return QStringLiteral("The kernel did not give Voskel's own mount table within %1.").arg(within);
    if (reading.listed < 0)
        return QStringLiteral("The kernel did not list the processes within %1.").arg(within);
    const qsizetype left = reading.listed - reading.taken;
    return QStringLiteral("The kernel did not give the mounts of %1 within %2: they were not read.")
        .arg(left == 1 ? QStringLiteral("1 process") : QStringLiteral("%1 processes").arg(left), within);
}

} // namespace

HostMounts hostMounts(const QString& proc, std::chrono::milliseconds limit)
{
    const auto reading = std::make_shared<Reading>();
    try {
        std::thread([proc, reading] {
            readAll(proc, *reading);
            {
                const std::lock_guard guard(reading->lock);
                reading->done = true;
            }
            reading->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        HostMounts none;
        none.partial << QStringLiteral(
            "The kernel's mount tables were not read: no thread could be started to read them.");
        return none;
    }
    std::unique_lock guard(reading->lock);
    if (!reading->finished.wait_for(guard, limit, [&reading] { return reading->done; })) {
        reading->abandoned = true;
        reading->host.partial << unanswered(*reading, limit);
    }
    return std::move(reading->host);
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
