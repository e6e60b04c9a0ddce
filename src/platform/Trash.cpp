#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

// The path with every symbolic link followed when it exists; otherwise only cleaned.
QString resolved(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

bool holds(const QString& folder, const QString& path)
{
    return folder == u'/' || path.startsWith(folder + u'/');
}

QString refused(const QString& path, const QString& reason)
{
    return QStringLiteral("Refused to move %1 to the Trash: %2.").arg(path, reason);
}

QString failed(const QString& path, const QString& reason)
{
    return QStringLiteral("Could not move %1 to the Trash: %2.").arg(path, reason);
}

// The Trash of the home folder's file system: "Trash" in the user's data folder.
QString homeTrash()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

// Makes `folder` and whatever is missing above it, each readable by the user alone.
bool makePrivateFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(folder);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).absolutePath();
    if (parent == clean || !makePrivateFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(clean).constData(), 0700) == 0 || QFileInfo(clean).isDir();
}

// The record of a trashed item at `landed` ("files/<name>") is "info/<name>.trashinfo" beside it.
QString recordOf(const QString& landed)
{
    const QFileInfo item(landed);
    return QFileInfo(item.absolutePath()).absolutePath() + QStringLiteral("/info/") + item.fileName() +
           QStringLiteral(".trashinfo");
}

// Whether a trashed item's new path lies in a Trash: the "files" folder of the home Trash, or of a
// file system's own Trash (".Trash-<uid>", or "<uid>" inside ".Trash"), with its record in "info".
bool inATrash(const QString& landed, const QString& home)
{
    const QFileInfo item(landed);
    if (!item.isAbsolute() || !item.exists())
        return false;
    const QDir files = item.absoluteDir();
    if (files.dirName() != u"files")
        return false;
    const QString trash = QFileInfo(files.absolutePath()).absolutePath();
    if (!QFile::exists(recordOf(landed)))
        return false;
    const QString uid = QString::number(::getuid());
    const QFileInfo trashInfo(trash);
    return trashInfo.canonicalFilePath() == QFileInfo(home).canonicalFilePath() ||
           trashInfo.fileName() == QStringLiteral(".Trash-") + uid ||
           (trashInfo.fileName() == uid && QFileInfo(trashInfo.absolutePath()).fileName() == u".Trash");
}

// Writes the record's Path URL-escaped, as file managers read it back. Qt writes the path as it is, so
// a "%" in a name would be restored to another place, and a line break would split the record. The
// deletion date Qt wrote is kept; when the record cannot be read or written it stays as it was.
void escapeRecordedPath(const QString& record, const QString& original)
{
    QFile in(record);
    if (!in.open(QIODevice::ReadOnly))
        return;
    QByteArray date;
    // The last such line is Qt's own: it comes after the path, which may hold a line that looks like it.
    for (const QByteArray& line : in.readAll().split('\n'))
        if (line.startsWith("DeletionDate="))
            date = line;
    in.close();
    QSaveFile out(record);
    if (!out.open(QIODevice::WriteOnly))
        return;
    out.write("[Trash Info]\nPath=" + QUrl::toPercentEncoding(original, "/") + '\n');
    if (!date.isEmpty())
        out.write(date + '\n');
    out.commit();
}

} // namespace

std::optional<QString> trashRefusal(const QString& path)
{
    // The folder usually comes from container labels, which whoever starts a container can set, so
    // it is checked as untrusted input.
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return refused(path.isEmpty() ? QStringLiteral("an empty path") : path,
                       QStringLiteral("it is not an absolute path"));
    const QString target = resolved(path);
    if (target == u'/' || QDir::cleanPath(path) == u'/')
        return refused(path, QStringLiteral("it is the root of the file system"));
    for (const QString& home : {resolved(QDir::homePath()), QDir::cleanPath(QDir::homePath())}) {
        if (target == home || QDir::cleanPath(path) == home)
            return refused(path, QStringLiteral("it is your home folder"));
        if (holds(target, home) || holds(QDir::cleanPath(path), home))
            return refused(path, QStringLiteral("it contains your home folder"));
    }
    return std::nullopt;
}

std::optional<QString> moveToTrash(const QString& path)
{
    if (auto refusal = trashRefusal(path))
        return refusal;
    // Without the user's data folder (a fresh account) Qt makes a Trash under the working directory
    // and reports success, so the home Trash is made first, private to the user (mode 0700) as the
    // freedesktop.org Trash layout asks.
    const QString trash = homeTrash();
    for (const QString& folder : {trash + QStringLiteral("/files"), trash + QStringLiteral("/info")})
        if (!makePrivateFolder(folder))
            return failed(path, QStringLiteral("the Trash folder %1 could not be made").arg(folder));

    QFile file(path);
    if (!file.moveToTrash())
        return failed(path, file.errorString());
    const QString landed = file.fileName();
    if (inATrash(landed, trash)) {
        escapeRecordedPath(recordOf(landed), QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
        return std::nullopt;
    }
    // Somewhere no one would look for it: it goes back where it was.
    const QString stray = QFileInfo(landed).absoluteFilePath();
    QFile::remove(recordOf(stray));
    if (!QDir().rename(stray, path))
        return failed(path, QStringLiteral("it was moved to %1 instead").arg(stray));
    return failed(path, QStringLiteral("it did not arrive in the Trash"));
}

} // namespace Platform
