#include "platform/FolderContents.h"

#include "platform/FolderIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

namespace Platform {

FolderListing listFolder(const QString& folder, bool withFiles)
{
    FolderListing listing;
    const QDir dir(folder);
    if (!dir.exists() || !dir.isReadable())
        return listing;
    listing.isFolder = true;
    const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase | QDir::LocaleAware;
    listing.folders = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, order);
    if (withFiles)
        listing.files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, order);
    return listing;
}

bool makeFolder(const QString& parent, const QString& name)
{
    return QDir(parent).mkdir(name);
}

bool isFolder(const QString& path)
{
    return QFileInfo(path).isDir();
}

SaveTarget lookAtSaveTarget(const QString& path)
{
    const QFileInfo file(path);
    SaveTarget target;
    target.exists = file.exists() || file.isSymLink();
    target.isFolder = file.isDir();
    target.parentIsFolder = QFileInfo(file.path()).isDir();
    return target;
}

std::optional<QString> writeTextFile(const QString& path, const QString& text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

Bookmarks readBookmarks(const QString& file)
{
    Bookmarks bookmarks;
    QFile list(file);
    if (!list.open(QIODevice::ReadOnly))
        return bookmarks;
    // A bookmarks file is a few lines; one that is not is not read past a sensible size.
    const QByteArray content = list.read(1 << 20);
    for (const QByteArray& line : content.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.isEmpty())
            continue;
        const qsizetype blank = text.indexOf(u' ');
        const QUrl url(blank < 0 ? text : text.left(blank));
        // Other addresses (a server's) need more than a folder list can give.
        if (!url.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(url.toLocalFile());
        if (path.isEmpty() || bookmarks.paths.contains(path))
            continue;
        QString name = blank < 0 ? QString() : text.mid(blank + 1).trimmed();
        if (name.isEmpty())
            name = path == u"/" ? path : QFileInfo(path).fileName();
        bookmarks.paths << path;
        bookmarks.names << name;
    }
    return bookmarks;
}

QStringList mountedDrives(const QString& user)
{
    return drivesAmong(mountPoints(), user);
}

QStringList drivesAmong(const QStringList& mountPoints, const QString& user)
{
    // A drive is mounted straight below these, or at /mnt itself; what is mounted deeper (a system's
    // own bind mounts) is no drive a person put there.
    struct Top {
        QString path;
        int depth; // how many folders below it a drive may sit
    };
    QList<Top> tops{{QStringLiteral("/media/"), 2}, {QStringLiteral("/mnt/"), 1}};
    if (!user.isEmpty() && !user.contains(u'/'))
        tops.append({QStringLiteral("/run/media/") + user + u'/', 1});
    QStringList drives;
    for (const QString& point : mountPoints) {
        bool drive = point == u"/mnt";
        for (const Top& top : std::as_const(tops)) {
            if (!point.startsWith(top.path) || point.size() == top.path.size())
                continue;
            const QStringView below = QStringView(point).mid(top.path.size());
            drive = drive || (!below.endsWith(u'/') && below.count(u'/') < top.depth);
        }
        if (drive && !drives.contains(point))
            drives << point;
    }
    drives.sort();
    return drives;
}

} // namespace Platform
