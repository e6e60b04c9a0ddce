#include "platform/FolderContents.h"

#include "platform/FolderIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>

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
    const QStringList below{QStringLiteral("/media/"), QStringLiteral("/run/media/") + user + u'/',
                            QStringLiteral("/mnt/")};
    QStringList drives;
    for (const QString& point : mountPoints()) {
        const bool drive =
            point == u"/mnt" || std::any_of(below.cbegin(), below.cend(), [&](const QString& top) {
                return point.startsWith(top) && point.size() > top.size();
            });
        if (drive && !drives.contains(point))
            drives << point;
    }
    drives.sort();
    return drives;
}

} // namespace Platform
