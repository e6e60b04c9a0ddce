#include "platform/Trash.h"

#include "platform/FolderIdentity.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstdio>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

QString refused(const QString& path, const QString& reason)
{
    return QStringLiteral("Refused to move %1 to the Trash: %2.").arg(path, reason);
}

QString failed(const QString& path, const QString& reason)
{
    return QStringLiteral("Could not move %1 to the Trash: %2.").arg(path, reason);
}

// A file descriptor of this move's own, closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

private:
    void reset()
    {
        if (m_fd >= 0) {
            const int error = errno;
            ::close(m_fd);
            errno = error;
        }
        m_fd = -1;
    }

    int m_fd;
};

// The folder that holds the last of `parts`, reached from the root one folder at a time without
// following a link: whatever renames or replaces a folder on the way afterwards, this stays the folder
// that was there. None (with errno: ENOTDIR for a link or a file on the way) when it cannot be reached
// so.
Descriptor openParent(const QStringList& parts)
{
    Descriptor at(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype i = 0; at && i + 1 < parts.size(); ++i)
        at = Descriptor(::openat(at.get(), QFile::encodeName(parts[i]).constData(),
                                 O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    return at;
}

// Why what `parent` holds under `name` is not the folder `expected`; none when it is. Looks at the entry
// itself, never where a link there leads; a folder made again under the name, even with the inode the
// old one had, is another by its birth time.
std::optional<QString> notTheFolder(int parent, const QByteArray& name, const FileIdentity& expected)
{
    const std::optional<FileStatus> status = statusAt(parent, name, false);
    if (!status)
        return qt_error_string(errno);
    if (S_ISDIR(status->mode) && status->identity == expected)
        return std::nullopt;
    if (S_ISLNK(status->mode))
        return QStringLiteral("it is a link now, not the folder the plan showed");
    return QStringLiteral("it is not the folder the plan showed");
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

// Moves the folder `name` of `from` to `target` in `to` only while nothing is there. A file system that
// cannot be asked for that gets a move that still replaces nothing of anyone's: the folder goes in
// place of an empty folder made for it just now. Sets errno to EEXIST when the name is taken.
bool moveWithoutReplacing(int from, const QByteArray& name, int to, const QByteArray& target)
{
    if (::renameat2(from, name.constData(), to, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::mkdirat(to, target.constData(), 0700) != 0)
        return false;
    if (::renameat(from, name.constData(), to, target.constData()) == 0)
        return true;
    const int error = errno;
    ::unlinkat(to, target.constData(), AT_REMOVEDIR);
    errno = error;
    return false;
}

// Asks the disk to keep what the folder `at` now holds, as far as it can be opened for that.
void syncAt(int at)
{
    const Descriptor folder(::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.get());
}

} // namespace

std::optional<QString> moveToTrash(const QString& folder, const FileIdentity& expected)
{
    // The path usually comes from container labels, which whoever starts a container can set: it is
    // checked as untrusted input, and the folder found at it must be the one the plan showed. A NUL
    // would end the name the system is given early, moving another folder than the record names.
    if (folder.contains(QChar(0)))
        return refused(shownPath(folder), nulReason());
    const QStringList parts = folder.split(u'/', Qt::SkipEmptyParts);
    if (!isPlainAbsolute(folder) || parts.isEmpty())
        return refused(folder,
                       trashOfferRefusal(folder).value_or(QStringLiteral("it is not a plain absolute path")));
    const Descriptor parent = openParent(parts);
    if (!parent)
        return failed(folder, errno == ENOTDIR || errno == ELOOP
                                  ? QStringLiteral("a link or a file is on the way to it now")
                                  : reasonOf(errno));
    const QByteArray name = QFile::encodeName(parts.last());
    if (const std::optional<QString> other = notTheFolder(parent.get(), name, expected))
        return failed(folder, *other);
    if (const std::optional<QString> refusal = trashOfferRefusal(folder))
        return refused(folder, *refusal);
    const QString source = QDir::cleanPath(folder);

    // The home Trash is made private to the user (mode 0700), as the freedesktop.org Trash layout asks,
    // also on a fresh account without a data folder yet.
    const QString home = homeTrash();
    for (const QString& made : {home + QStringLiteral("/files"), home + QStringLiteral("/info")})
        if (!makePrivateFolder(made))
            return failed(folder, QStringLiteral("the Trash folder %1 could not be made").arg(made));
    const std::optional<TrashFolder> trash = trashFor(source, dev_t(expected.device), home);
    if (!trash)
        return failed(folder, QStringLiteral("its file system has no Trash that could be used"));
    const QByteArray files = QFile::encodeName(trash->path + QStringLiteral("/files"));
    const QByteArray info = QFile::encodeName(trash->path + QStringLiteral("/info"));
    if (trash->top && (!ownFolder(files) || !ownFolder(info)))
        return failed(folder, QStringLiteral("the Trash folder %1 could not be made").arg(trash->path));
    const Descriptor filesFolder(::open(files.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!filesFolder)
        return failed(folder, reasonOf(errno));

    // The record comes first, made only where none is, and reserves the name; the move then takes the
    // name in files/ only where nothing is either. Each name is tried once; anything but a name already
    // taken ends the move at once.
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
            return failed(folder, reasonOf(errno));
        // Looked at again by what its parent holds, the moment before it goes: a folder renamed away and
        // another put in its place meanwhile stays where it is.
        std::optional<QString> other = notTheFolder(parent.get(), name, expected);
        if (!other && moveWithoutReplacing(parent.get(), name, filesFolder.get(), unique)) {
            // Between that look and the move another may still have taken the name: then what went is
            // not the plan's, and goes back.
            other = notTheFolder(filesFolder.get(), unique, expected);
            if (!other) {
                // Best effort: the folder is in the Trash with its record either way.
                syncAt(filesFolder.get());
                syncAt(parent.get());
                return std::nullopt;
            }
            if (!moveWithoutReplacing(filesFolder.get(), unique, parent.get(), name))
                return failed(folder,
                              *other + QStringLiteral(", and what was there instead is in the Trash"));
            ::unlink(recordName.constData());
            return failed(folder, *other);
        }
        const int error = errno;
        ::unlink(recordName.constData());
        if (other)
            return failed(folder, *other);
        if (error == EEXIST)
            continue;
        return failed(folder, reasonOf(error));
    }
    return failed(folder, QStringLiteral("the Trash already holds %1 items of that name").arg(names));
}

} // namespace Platform
