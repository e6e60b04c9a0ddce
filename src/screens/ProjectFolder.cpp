#include "screens/ProjectFolder.h"

#include "engine/Compose.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <sys/stat.h>

namespace {

// What a compose file was when it was last read: a file whose stamp is the same is not read again.
struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const Stamp& other) const
    {
        return device == other.device && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

struct Read {
    Stamp stamp;
    bool builds = false;
};

// The folders are looked at again every few seconds; the compose files in them seldom change.
bool lastRead(const QString& dir, const QString& file)
{
    static QMutex guard;
    static QHash<QString, Read> known;
    const QString path = QDir(dir).filePath(file);
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return ComposeProject::builds(dir, file);
    const Stamp stamp{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    {
        const QMutexLocker lock(&guard);
        const auto found = known.constFind(path);
        if (found != known.cend() && found->stamp == stamp)
            return found->builds;
    }
    // Read after the stamp was taken: a change made meanwhile moves the stamp, and the next look reads
    // the file again.
    const bool result = ComposeProject::builds(dir, file);
    const QMutexLocker lock(&guard);
    if (known.size() >= 1024)
        known.clear();
    known.insert(path, {stamp, result});
    return result;
}

} // namespace

ProjectFolder ProjectFolder::of(const ComposeProject& project)
{
    if (!project.workingDir || project.workingDir->isEmpty())
        return {};
    return at(*project.workingDir);
}

ProjectFolder ProjectFolder::at(const QString& dir)
{
    ProjectFolder folder;
    if (dir.isEmpty())
        return folder;
    // Only a folder: the path comes from a container's label, and a file there is nothing to reveal.
    folder.exists = QFileInfo(dir).isDir();
    if (!folder.exists)
        return folder;
    const std::optional<QString> file = Docker::composeFile(dir);
    folder.composeFile = file.has_value();
    folder.builds = file && lastRead(dir, *file);
    return folder;
}
