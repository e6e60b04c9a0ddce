#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The kernel's table of mounts, as /proc/<pid>/mountinfo lists them for one mount namespace: which file
// system each mount shows (its device numbers), which folder of that file system (its root), and where.
namespace Platform {

struct MountEntry {
    QByteArray device; // "major:minor"
    QString root;      // the folder of its file system that shows, "/" for all of it
    QString point;     // where it shows, in the namespace's own view

    bool operator==(const MountEntry&) const = default;
};

// The entries of a mountinfo text, in its order (a mount listed later covers one at the same point listed
// earlier). Lines that do not read as one are skipped.
QList<MountEntry> parseMountTable(const QByteArray& text);

// The file system's own options ("rw,hidepid=invisible") of the mount last listed at `point` in a
// mountinfo text; none when no mount is listed there.
std::optional<QStringList> superOptionsAt(const QByteArray& text, const QString& point);

// This process's own view, from /proc/self/mountinfo; empty when it cannot be read.
QList<MountEntry> mountTable();

// Where a folder lies among the mounts of a table: the mount it is on (the deepest point above it, the last
// listed of those there), that mount's file system, and the folder's path within the file system.
struct TreeLocation {
    qsizetype mount = -1; // its index in the table
    QByteArray device;
    QString inFileSystem;

    bool operator==(const TreeLocation&) const = default;
};

// Where `canonical` (absolute, every link resolved) lies in `table`; none when no mount holds it.
std::optional<TreeLocation> locate(const QString& canonical, const QList<MountEntry>& table);

// Whether `path` is `folder` or lies under it, by their texts (both absolute and without links).
bool atOrUnder(const QString& path, const QString& folder);

} // namespace Platform
