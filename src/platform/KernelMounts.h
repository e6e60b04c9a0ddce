#pragma once

#include "platform/MountTable.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

// What every process of this machine has mounted, as the kernel keeps it: one table per mount
// namespace. Unlike what an engine says of a container (the path a bind was asked for, as it was
// written), the kernel's table names the file system and the folder within it that each mount shows,
// and follows that folder when it is renamed or moved.
namespace Platform {

// One mount namespace other than this process's own, read through the first process found in it.
struct MountNamespace {
    QString pid;     // the process whose table was read
    QString command; // its command name
    // The control groups of its processes, each once: a container's processes name its identifier.
    QStringList cgroups;
    QList<MountEntry> mounts;

    bool operator==(const MountNamespace&) const = default;
};

struct HostMounts {
    bool readable = false;        // this process's own table and the list of processes could be read
    QList<MountEntry> own;        // this process's own table
    QList<MountNamespace> others; // every other namespace, each once
    QStringList unread;           // "<pid> (<command>)" of processes whose namespace could not be read
    // Why this view may not show every process of the machine, one sentence each: /proc mounted so
    // that other users' processes are hidden, this process in a process namespace of its own, reads
    // that did not return within their limit. Empty when nothing suggests a partial view.
    QStringList partial = {};

    bool operator==(const HostMounts&) const = default;
};

// Reads the tables under `proc` (the kernel's process folder): the namespace of each process, told by
// its ns/mnt link, or by its table's text where the link may not be looked at, and one table per
// namespace. A process gone meanwhile is left out; one whose table is refused goes to `unread`.
// A read of the process folder can wait on a lock in the kernel where nothing interrupts it: the
// reading runs on a thread of its own, and after `limit` what was read by then is the answer, the
// rest said in `partial`. A read that never returns keeps that thread, and nothing else.
HostMounts hostMounts(const QString& proc = QStringLiteral("/proc"),
                      std::chrono::milliseconds limit = std::chrono::seconds(10));

// How a mount stands to a folder, given as its file system's device and its path within it.
enum class MountReach {
    none,  // another file system, or another folder of it
    at,    // it shows the folder itself
    under, // it shows a folder inside
    above, // it shows a folder that holds it, but not its whole file system
};

// The whole file system (root "/") holds every folder of it, and is not counted: it is how anyone sees
// anything on it, not a use of one folder.
MountReach reachOfMount(const MountEntry& mount, const QByteArray& device, const QString& inFileSystem);

// A mount of another namespace that reaches the folder.
struct NamespaceUse {
    qsizetype space = -1; // its index in HostMounts::others
    MountEntry mount;
    MountReach reach = MountReach::none;

    bool operator==(const NamespaceUse&) const = default;
};

// The mounts of the other namespaces that reach the folder at `folder` (in this process's own view,
// every link resolved), but those at `passing` (mount points gone before the folder would move) and
// those above it that this process sees alike: the same folder of the same file system as a mount of
// its own table shows, or as this process sees at the same place. A sandbox made as a copy of this
// namespace, or given the home folder where it is, sees the folder as this process does, and goes on
// seeing the folder's old place, not the folder, when the folder moves.
QList<NamespaceUse> namespaceUses(const HostMounts& host, const TreeLocation& folder,
                                  const QStringList& passing = {});

} // namespace Platform
