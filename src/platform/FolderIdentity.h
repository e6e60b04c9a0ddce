#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Which file a path names, told by the file system rather than by its text: two names of one folder
// (through a link, with "..", with a trailing slash) are the same folder here, and one folder that
// replaced another under its name is not.
namespace Platform {

// Device and inode, and the birth time where the file system keeps one: a folder deleted and made
// again often gets the inode it had, but never its birth time. Two identities of which only one has a
// birth time are compared as the file system without it would compare them, by device and inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<qint64> born = {}; // nanoseconds since the epoch

    bool operator==(const FileIdentity& other) const
    {
        return device == other.device && inode == other.inode &&
               (!born || !other.born || *born == *other.born);
    }
};

// What a name in a folder is: its identity and its mode (st_mode's bits).
struct FileStatus {
    FileIdentity identity;
    quint32 mode = 0;
};

// What `name` in the folder open as `at` names (a path of its own with AT_FDCWD), following a link
// there only when `follow`, birth time and all. None, with errno, when it cannot be looked at.
std::optional<FileStatus> statusAt(int at, const QByteArray& name, bool follow);

// What `path` names, every link followed; none when nothing is there. Looks at the disk.
std::optional<FileIdentity> identityOf(const QString& path);

// Whether `path` names `folder` or anything inside it: as it is written, each folder on its way looked
// at with its links followed (a name through a link into the folder), and with all its links resolved
// (a link inside that leads there). What is not there is taken from the nearest folder above it that
// is. Looks at the disk.
bool liesWithin(const QString& path, const FileIdentity& folder);

// How what `path` names stands to a folder: it lies at or under it, or holds it (a parent folder, "/").
struct Reach {
    bool within = false;
    bool holds = false;

    bool operator==(const Reach&) const = default;
};

// How `path` stands to `folder`, whose identity is `identity`: liesWithin, and whether the folder lies
// within what `path` names, each compared by identity. Looks at the disk.
Reach reachOf(const QString& path, const QString& folder, const FileIdentity& identity);

// Whether `label` is an absolute path without "." or ".." parts: only such a path names one folder
// whatever its links do.
bool isPlainAbsolute(QStringView label);

// Why the folder `label` names must not go to the Trash whoever uses it: a label holding a NUL or not a
// plain absolute path; the root, the home folder or a folder that holds either; a system folder
// (Platform::systemFolderRefusal); a mount point, a folder that holds one, or a folder bound elsewhere
// (itself or something in it); a folder that holds the user's Trash or a file system's own; a personal
// folder or one that holds one (Platform::personalFolderRefusal); nothing there. None when it may go.
// The one rule of both the offer and the move itself. `passing` are mount points gone before the folder
// would move (where the volumes a deletion removes keep their data): a bind there is not counted. Looks
// at the disk, and at the mount table.
std::optional<QString> trashOfferRefusal(const QString& label, const QStringList& passing = {});

// Why a path holding a NUL character is refused: the system would take only what comes before it.
QString nulReason();

// `path` as it may be shown: a NUL character in it as "\0".
QString shownPath(const QString& path);

// "<folder> is not offered for the Trash: <reason>."
QString notOfferedMessage(const QString& folder, const QString& reason);

// The mount points of this process's view of the file systems, as /proc/self/mountinfo lists them.
QStringList mountPoints();

// Whether `path` is where a file system is mounted, or bound. Looks at the disk.
bool isMountPoint(const QString& path);

// The Trash of the home folder's file system: "Trash" in the user's data folder.
QString homeTrash();

} // namespace Platform
