#include "platform/Trash.h"

#include "platform/FolderIdentity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>

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

struct TrashFolder {
    QString path;
    // The top folder of the file system whose own Trash it is; none for the home Trash.
    std::optional<QString> top;
};

// The Trash for an item on the file system `device`: the home Trash when that is on it, else the file
// system's own: "<uid>" in an administrator's sticky ".Trash" at its top, or ".Trash-<uid>" there. An
// item is never copied between file systems, so none when neither can be had.
std::optional<TrashFolder> trashFor(const QString& item, dev_t device, const QString& home)
{
    struct stat st;
    if (::stat(QFile::encodeName(home).constData(), &st) == 0 && st.st_dev == device)
        return TrashFolder{home, std::nullopt};
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
            return TrashFolder{trash, top};
    }
    return std::nullopt;
}

// Where the record says the item was: its absolute path in the home Trash; in a file system's own
// Trash its path from that file system's top folder, which is what the Trash layout asks there (the
// file system may be mounted elsewhere when it is restored). An item that cannot be named from the top
// (it never can be, short of an odd mount table) keeps its absolute path.
QByteArray recordedPath(const QString& source, const std::optional<QString>& top)
{
    if (!top)
        return QFile::encodeName(source);
    const QString parent = QFileInfo(QFileInfo(source).absolutePath()).canonicalFilePath();
    const QString base = *top == u'/' ? *top : *top + u'/';
    const QString full = (parent == u'/' ? parent : parent + u'/') + QFileInfo(source).fileName();
    if (parent.isEmpty() || !full.startsWith(base) || full.size() == base.size())
        return QFile::encodeName(source);
    return QFile::encodeName(full.mid(base.size()));
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

// Asks the disk to keep what `folder` now names. False (with errno) when it would not.
bool syncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL; // some file systems cannot sync a folder
    const int error = errno;
    ::close(fd);
    errno = error;
    return synced;
}

// Makes the record `recordName` holding `record`, only where none is, and has it on the disk, named in
// its folder, before anything is moved: an item found in the Trash always has its way back. 1 when
// made, 0 when the name is taken, -1 (with errno) when it cannot be made; nothing is left then.
int makeRecord(const QByteArray& recordName, const QByteArray& info, const QByteArray& record)
{
    const int fd = ::open(recordName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? 0 : -1;
    bool kept = writeAll(fd, record) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && kept) {
        kept = false;
        error = errno;
    }
    if (kept && !syncFolder(info)) {
        kept = false;
        error = errno;
    }
    if (!kept) {
        ::unlink(recordName.constData());
        errno = error;
        return -1;
    }
    return 1;
}

// Moves `source` to `target` only while nothing is there. A file system that cannot be asked for that
// gets a move that still replaces nothing of anyone's: a folder goes in place of an empty folder made
// for it just now, anything else gets its new name as a second link before the old one goes. Sets
// errno to EEXIST when the name is taken.
bool moveWithoutReplacing(const QByteArray& source, const QByteArray& target, bool folder)
{
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (folder) {
        if (::mkdir(target.constData(), 0700) != 0)
            return false;
        if (::rename(source.constData(), target.constData()) == 0)
            return true;
        const int error = errno;
        ::rmdir(target.constData());
        errno = error;
        return false;
    }
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    if (::unlink(source.constData()) == 0)
        return true;
    const int error = errno;
    ::unlink(target.constData());
    errno = error;
    return false;
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
    // Moving a mount point would take the folder out from under the mount, and a Trash outside it
    // would hold nothing of it.
    if (isMountPoint(target))
        return refused(path, QStringLiteral("a file system is mounted there"));
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
    const std::optional<TrashFolder> trash = trashFor(source, item.st_dev, home);
    if (!trash)
        return failed(path, QStringLiteral("its file system has no Trash that could be used"));
    const QByteArray files = QFile::encodeName(trash->path + QStringLiteral("/files"));
    const QByteArray info = QFile::encodeName(trash->path + QStringLiteral("/info"));
    if (trash->top && (!ownFolder(files) || !ownFolder(info)))
        return failed(path, QStringLiteral("the Trash folder %1 could not be made").arg(trash->path));

    // The record comes first, made only where none is, and reserves the name; the move then takes the
    // name in files/ only where nothing is either. Each name is tried once; anything but a name already
    // taken ends the move at once.
    const QByteArray name = QFile::encodeName(QFileInfo(source).fileName());
    // The path as the bytes it is, URL-escaped, so that a "%", a line break or a name that is no UTF-8
    // is restored to where it was.
    const QByteArray record =
        "[Trash Info]\nPath=" + recordedPath(source, trash->top).toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toUtf8() + '\n';
    constexpr int names = 10000;
    for (int n = 0; n < names; ++n) {
        const QByteArray unique = n == 0 ? name : name + '-' + QByteArray::number(n).rightJustified(4, '0');
        const QByteArray recordName = info + '/' + unique + ".trashinfo";
        const int made = makeRecord(recordName, info, record);
        if (made == 0)
            continue;
        if (made < 0)
            return failed(path, reasonOf(errno));
        if (moveWithoutReplacing(sourceName, files + '/' + unique, S_ISDIR(item.st_mode))) {
            // Best effort: the item is in the Trash with its record either way.
            syncFolder(files);
            syncFolder(QFile::encodeName(QFileInfo(source).absolutePath()));
            return std::nullopt;
        }
        const int error = errno;
        ::unlink(recordName.constData());
        if (error == EEXIST)
            continue;
        return failed(path, reasonOf(error));
    }
    return failed(path, QStringLiteral("the Trash already holds %1 items of that name").arg(names));
}

} // namespace Platform
