#include "platform/FolderLooks.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace Platform {

QDataStream& operator<<(QDataStream& out, const FileIdentity& identity)
{
    return Wire::putAll(out, identity.device, identity.inode, identity.born);
}

QDataStream& operator>>(QDataStream& in, FileIdentity& identity)
{
    return Wire::getAll(in, identity.device, identity.inode, identity.born);
}

QDataStream& operator<<(QDataStream& out, const Reach& reach)
{
    return Wire::putAll(out, reach.within, reach.holds);
}

QDataStream& operator>>(QDataStream& in, Reach& reach)
{
    return Wire::getAll(in, reach.within, reach.holds);
}

QDataStream& operator<<(QDataStream& out, const FolderListing& listing)
{
    return Wire::putAll(out, listing.isFolder, listing.folders, listing.files);
}

QDataStream& operator>>(QDataStream& in, FolderListing& listing)
{
    return Wire::getAll(in, listing.isFolder, listing.folders, listing.files);
}

QDataStream& operator<<(QDataStream& out, const SaveTarget& target)
{
    return Wire::putAll(out, target.exists, target.isFolder, target.parentIsFolder);
}

QDataStream& operator>>(QDataStream& in, SaveTarget& target)
{
    return Wire::getAll(in, target.exists, target.isFolder, target.parentIsFolder);
}

QDataStream& operator<<(QDataStream& out, const Bookmarks& bookmarks)
{
    return Wire::putAll(out, bookmarks.paths, bookmarks.names);
}

QDataStream& operator>>(QDataStream& in, Bookmarks& bookmarks)
{
    return Wire::getAll(in, bookmarks.paths, bookmarks.names);
}

bool isTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool pathExists(const QString& path)
{
    return QFileInfo::exists(path);
}

bool isGone(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT;
}

QString resolvedPath(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

namespace Looks {

LookTable operations()
{
    return LookTable{served(folderListing), served(newFolder), served(folder),   served(saveTarget),
                     served(textWrite),     served(bookmarks), served(drives),   served(taken),
                     served(exists),        served(gone),      served(resolved), served(reach),
                     served(trashMove)};
}

} // namespace Looks

} // namespace Platform
