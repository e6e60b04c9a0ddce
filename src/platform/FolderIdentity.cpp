#include "platform/FolderIdentity.h"

#include "platform/KeptFolders.h"
#include "platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Platform {

namespace {

// `path` and every folder above it, as written: "/a/b/.." gives "/a/b/..", "/a/b", "/a" and "/".
QStringList writtenPrefixes(const QString& path)
{
    QStringList prefixes;
    QString at = path;
    while (at.size() > 1 && at.endsWith(u'/'))
        at.chop(1);
    while (!at.isEmpty()) {
        prefixes << at;
        const qsizetype slash = at.lastIndexOf(u'/');
        if (slash < 0)
            break;
        if (slash == 0) {
            if (at != u"/")
                prefixes << QStringLiteral("/");
            break;
        }
        at.truncate(slash);
        while (at.size() > 1 && at.endsWith(u'/'))
            at.chop(1);
    }
    return prefixes;
}

// The path with every link resolved, of the deepest folder on its way that is there.
std::optional<QString> resolvedExisting(const QString& path)
{
    for (const QString& prefix : writtenPrefixes(path)) {
        char buffer[PATH_MAX];
        if (::realpath(QFile::encodeName(prefix).constData(), buffer))
            return QFile::decodeName(buffer);
    }
    return std::nullopt;
}

// Where else than at `canonical` the folder, or something in it, shows through a bind mount: a mount of
// the same file system whose root is that folder or lies in it. Empty when nowhere.
QString boundElsewhere(const QString& canonical, const QList<MountEntry>& table, const QStringList& passing)
{
    const std::optional<TreeLocation> at = locate(canonical, table);
    if (!at)
        return {};
    const qsizetype on = at->mount;
    const QString& inFileSystem = at->inFileSystem;
    for (qsizetype i = 0; i < table.size(); ++i)
        if (i != on && table[i].device == at->device && atOrUnder(table[i].root, inFileSystem) &&
            !passing.contains(table[i].point))
            return table[i].point;
    return {};
}

} // namespace

std::optional<FileStatus> statusAt(int at, const QByteArray& name, bool follow)
{
    struct statx sx {};
    const int flags = AT_NO_AUTOMOUNT | (follow ? 0 : AT_SYMLINK_NOFOLLOW);
    if (::statx(at, name.constData(), flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FileStatus status;
    status.identity.device = quint64(makedev(sx.stx_dev_major, sx.stx_dev_minor));
    status.identity.inode = quint64(sx.stx_ino);
    if (sx.stx_mask & STATX_BTIME)
        status.identity.born = qint64(sx.stx_btime.tv_sec) * 1'000'000'000 + sx.stx_btime.tv_nsec;
    status.mode = sx.stx_mode;
    return status;
}

std::optional<FileIdentity> identityOf(const QString& path)
{
    // A NUL would end the name early: what is before it is not what the path names.
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    const std::optional<FileStatus> status = statusAt(AT_FDCWD, QFile::encodeName(path), true);
    if (!status)
        return std::nullopt;
    return status->identity;
}

bool liesWithin(const QString& path, const FileIdentity& folder)
{
    if (path.isEmpty())
        return false;
    for (const QString& prefix : writtenPrefixes(path))
        if (identityOf(prefix) == folder)
            return true;
    if (const std::optional<QString> resolved = resolvedExisting(path))
        for (const QString& prefix : writtenPrefixes(*resolved))
            if (identityOf(prefix) == folder)
                return true;
    return false;
}

Reach reachOf(const QString& path, const QString& folder, const FileIdentity& identity)
{
    Reach reach;
    reach.within = liesWithin(path, identity);
    if (const std::optional<FileIdentity> named = identityOf(path))
        reach.holds = liesWithin(folder, *named);
    return reach;
}

bool isPlainAbsolute(QStringView label)
{
    if (!label.startsWith(u'/'))
        return false;
    for (const QStringView part : label.split(u'/', Qt::SkipEmptyParts))
        if (part == u"." || part == u"..")
            return false;
    return true;
}

QStringList mountPoints()
{
    QStringList points;
    for (const MountEntry& entry : mountTable())
        points << entry.point;
    return points;
}

QString notOfferedMessage(const QString& folder, const QString& reason)
{
    return QStringLiteral("%1 is not offered for the Trash: %2.").arg(shownPath(folder), reason);
}

QString shownPath(const QString& path)
{
    QString shown = path;
    return shown.replace(QChar(0), QStringLiteral("\\0"));
}

QString nulReason()
{
    return QStringLiteral("its path holds a NUL character, which no file's name can hold");
}

std::optional<QString> trashOfferRefusal(const QString& label, const QStringList& passing)
{
    if (label.contains(QChar(0)))
        return nulReason();
    if (!isPlainAbsolute(label))
        return QStringLiteral("it is not a plain absolute path");
    const std::optional<FileIdentity> folder = identityOf(label);
    if (!folder)
        return QStringLiteral("it is not there");
    if (identityOf(QStringLiteral("/")) == folder)
        return QStringLiteral("it is the root of the file system");
    const QString home = QDir::homePath();
    if (identityOf(home) == folder)
        return QStringLiteral("it is your home folder");
    if (liesWithin(home, *folder))
        return QStringLiteral("it holds your home folder");
    // The system's folders stay, whoever else uses them or not.
    if (const std::optional<QString> system = systemFolderRefusal(label))
        return system;

    // A mount point cannot be moved, and a folder holding one would carry another file system along.
    const QString canonical = QFileInfo(label).canonicalFilePath();
    if (isMountPoint(canonical))
        return QStringLiteral("it is a mount point");
    const QList<MountEntry> table = mountTable();
    QStringList tops;
    for (const MountEntry& entry : table) {
        if (entry.point == canonical)
            return QStringLiteral("it is a mount point");
        if (entry.point.startsWith(canonical + u'/'))
            return QStringLiteral("it holds the mount point ") + entry.point;
        else if (atOrUnder(canonical, entry.point))
            tops << entry.point;
    }
    // Bound to another place, it is in use there: whatever reads it there would see it go.
    if (const QString bound = boundElsewhere(canonical, table, passing); !bound.isEmpty())
        return QStringLiteral("it is bound at ") + bound;

    // The Trash must stay where it is for the move to have somewhere to go.
    QStringList trashes{homeTrash()};
    const QString uid = QString::number(::getuid());
    for (const QString& top : std::as_const(tops))
        trashes << QDir(top).filePath(QStringLiteral(".Trash"))
                << QDir(top).filePath(QStringLiteral(".Trash-") + uid);
    for (const QString& trash : std::as_const(trashes))
        if (liesWithin(trash, *folder))
            return QStringLiteral("it holds the Trash ") + trash;
    // And so do the user's own, and Voskel's.
    return personalFolderRefusal(*folder, keptPlaces());
}

bool isMountPoint(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct statx sx {};
    if (::statx(AT_FDCWD, name.constData(), AT_NO_AUTOMOUNT, STATX_BASIC_STATS, &sx) != 0)
        return false;
    if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return sx.stx_attributes & STATX_ATTR_MOUNT_ROOT;
    // A kernel that does not say still tells another file system than the parent's, though not a
    // folder bound within its own.
    struct stat self;
    struct stat parent;
    return ::stat(name.constData(), &self) == 0 && ::stat((name + "/..").constData(), &parent) == 0 &&
           (self.st_dev != parent.st_dev || self.st_ino == parent.st_ino);
}

QString homeTrash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

} // namespace Platform
