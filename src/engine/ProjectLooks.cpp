#include "engine/ProjectLooks.h"

#include "engine/Compose.h"
#include "engine/ComposeProject.h"
#include "platform/FolderLooks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

#include <sys/stat.h>

namespace Docker {

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

QDataStream& operator<<(QDataStream& out, const ComposeSource& source)
{
    return Platform::Wire::putAll(out, source.files, source.projectDir, source.envFiles, source.project,
                                  source.folderToo);
}

QDataStream& operator>>(QDataStream& in, ComposeSource& source)
{
    return Platform::Wire::getAll(in, source.files, source.projectDir, source.envFiles, source.project,
                                  source.folderToo);
}

QDataStream& operator<<(QDataStream& out, const ComposeFileUses& uses)
{
    return Platform::Wire::putAll(out, uses.paths, uses.folders, uses.volumes, uses.unknown,
                                  uses.volumesUnknown, uses.unsetVariables);
}

QDataStream& operator>>(QDataStream& in, ComposeFileUses& uses)
{
    return Platform::Wire::getAll(in, uses.paths, uses.folders, uses.volumes, uses.unknown,
                                  uses.volumesUnknown, uses.unsetVariables);
}

QDataStream& operator<<(QDataStream& out, const FolderFacts& facts)
{
    return Platform::Wire::putAll(out, facts.there, facts.folder, facts.composeFile, facts.builds);
}

QDataStream& operator>>(QDataStream& in, FolderFacts& facts)
{
    return Platform::Wire::getAll(in, facts.there, facts.folder, facts.composeFile, facts.builds);
}

QDataStream& operator<<(QDataStream& out, const ComposeFilesFound& found)
{
    return Platform::Wire::putAll(out, found.there, found.composeFile, found.missing);
}

QDataStream& operator>>(QDataStream& in, ComposeFilesFound& found)
{
    return Platform::Wire::getAll(in, found.there, found.composeFile, found.missing);
}

QDataStream& operator<<(QDataStream& out, const TrashCandidate& candidate)
{
    return Platform::Wire::putAll(out, candidate.there, candidate.refusal, candidate.identity,
                                  candidate.folder);
}

QDataStream& operator>>(QDataStream& in, TrashCandidate& candidate)
{
    return Platform::Wire::getAll(in, candidate.there, candidate.refusal, candidate.identity,
                                  candidate.folder);
}

FolderFacts factsOfFolder(const QString& dir)
{
    FolderFacts facts;
    if (dir.isEmpty())
        return facts;
    const QFileInfo info(dir);
    facts.there = info.exists();
    facts.folder = info.isDir();
    if (!facts.folder)
        return facts;
    facts.composeFile = composeFile(dir);
    facts.builds = facts.composeFile && lastRead(dir, *facts.composeFile);
    return facts;
}

ComposeFilesFound findComposeFiles(const QString& dir, const QStringList& files)
{
    ComposeFilesFound found;
    found.there = QFileInfo::exists(dir);
    if (found.there)
        found.composeFile = composeFile(dir);
    for (const QString& file : files)
        if (!QFileInfo::exists(file))
            found.missing << file;
    return found;
}

TrashCandidate trashCandidate(const QString& folder, const QStringList& passingMounts)
{
    TrashCandidate candidate;
    candidate.there = QFileInfo::exists(folder);
    if (!candidate.there)
        return candidate;
    candidate.refusal = Platform::trashOfferRefusal(folder, passingMounts);
    if (!candidate.refusal && !QFileInfo(folder).isDir())
        candidate.refusal = QStringLiteral("it is not a folder");
    if (!candidate.refusal) {
        candidate.identity = Platform::identityOf(folder);
        candidate.folder = QFileInfo(folder).canonicalFilePath();
    }
    return candidate;
}

namespace Looks {

Platform::LookTable operations()
{
    return Platform::LookTable{Platform::served(composeFile),  Platform::served(folderFacts),
                               Platform::served(composeFiles), Platform::served(trashOffer),
                               Platform::served(composeUses),  Platform::served(reachable),
                               Platform::served(contexts)};
}

} // namespace Looks

} // namespace Docker
