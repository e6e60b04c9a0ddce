#include "platform/Trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>

#include <fcntl.h>
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

// What the system said, in words; a name too long for the Trash's record is said plainly.
QString reasonOf(int error)
{
    if (error == ENAMETOOLONG)
        return QStringLiteral("its name is too long for the Trash to keep a record of it");
    return qt_error_string(error);
}

// `folder` as a folder of the user's own that is no link, made private (mode 0700) when missing.
bool ownFolder(const QByteArray& folder)
{
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// The Trash for an item on the file system `device`: the home Trash when that is on it, else the file
// system's own: "<uid>" in an administrator's sticky ".Trash" at its top, or ".Trash-<uid>" there. An
// item is never copied between file systems, so none when neither can be had.
std::optional<QString> trashFor(const QString& item, dev_t device, const QString& home)
{
    struct stat st;
    if (::stat(QFile::encodeName(home).constData(), &st) == 0 && st.st_dev == device)
        return home;
    const QString top = QStorageInfo(QFileInfo(item).absolutePath()).rootPath();
    if (top.isEmpty())
        return std::nullopt;
    const QString uid = QString::number(::getuid());
    const QByteArray shared = QFile::encodeName(QDir(top).filePath(QStringLiteral(".Trash")));
    QStringList candidates;
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        candidates << QDir(top).filePath(QStringLiteral(".Trash/") + uid);
    candidates << QDir(top).filePath(QStringLiteral(".Trash-") + uid);
    for (const QString& trash : std::as_const(candidates)) {
        const QByteArray name = QFile::encodeName(trash);
        if (ownFolder(name) && ::stat(name.constData(), &st) == 0 && st.st_dev == device)
            return trash;
    }
    return std::nullopt;
}

// Writes all of `data` to `fd`; false when the file system would not take it.
bool writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
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
    const QString source = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QByteArray sourceName = QFile::encodeName(source);
    struct stat item;
    if (::lstat(sourceName.constData(), &item) != 0)
        return failed(path, reasonOf(errno));

    // The home Trash is made private to the user (mode 0700), as the freedesktop.org Trash layout asks,
    // also on a fresh account without a data folder yet.
    const QString home = homeTrash();
    for (const QString& folder : {home + QStringLiteral("/files"), home + QStringLiteral("/info")})
        if (!makePrivateFolder(folder))
            return failed(path, QStringLiteral("the Trash folder %1 could not be made").arg(folder));
    const std::optional<QString> trash = trashFor(source, item.st_dev, home);
    if (!trash)
        return failed(path, QStringLiteral("its file system has no Trash that could be used"));
    const QByteArray files = QFile::encodeName(*trash + QStringLiteral("/files"));
    const QByteArray info = QFile::encodeName(*trash + QStringLiteral("/info"));
    if (*trash != home && (!ownFolder(files) || !ownFolder(info)))
        return failed(path, QStringLiteral("the Trash folder %1 could not be made").arg(*trash));

    // The record is made first, and only where none is: it reserves the name in the Trash. Each name
    // is tried once; anything but a name already taken ends the move at once.
    const QByteArray name = QFile::encodeName(QFileInfo(source).fileName());
    // The path as the bytes it is, URL-escaped, so that a "%", a line break or a name that is no UTF-8
    // is restored to where it was.
    const QByteArray record =
        "[Trash Info]\nPath=" + sourceName.toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toUtf8() + '\n';
    constexpr int names = 10000;
    for (int n = 0; n < names; ++n) {
        const QByteArray unique = n == 0 ? name : name + '-' + QByteArray::number(n).rightJustified(4, '0');
        struct stat taken;
        if (::lstat((files + '/' + unique).constData(), &taken) == 0)
            continue;
        const QByteArray recordName = info + '/' + unique + ".trashinfo";
        const int fd = ::open(recordName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return failed(path, reasonOf(errno));
        const bool written = writeAll(fd, record);
        const int writeError = errno;
        if (::close(fd) != 0 || !written) {
            ::unlink(recordName.constData());
            return failed(path, reasonOf(written ? errno : writeError));
        }
        if (::rename(sourceName.constData(), (files + '/' + unique).constData()) != 0) {
            const int error = errno;
            ::unlink(recordName.constData());
            return failed(path, reasonOf(error));
        }
        return std::nullopt;
    }
    return failed(path, QStringLiteral("the Trash already holds %1 items of that name").arg(names));
}

} // namespace Platform
