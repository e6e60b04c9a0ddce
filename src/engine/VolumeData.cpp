#include "engine/VolumeData.h"

#include "engine/Docker.h"
#include "engine/FolderUsers.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

namespace Docker {

namespace {

// Any one container's folder shows the data folder is the engine's own; more would only lengthen the look.
constexpr qsizetype containersAsked = 64;

// Where the engine's local driver keeps the volume `name`, inside its data folder `root`.
QString ownFolder(const QString& root, const QString& name)
{
    return QDir::cleanPath(root + QStringLiteral("/volumes/") + name);
}

bool isVolumeName(const QString& name)
{
    static const QRegularExpression form(QStringLiteral(R"(^[A-Za-z0-9][A-Za-z0-9_.-]*$)"));
    return form.match(name).hasMatch();
}

// The engine gives its containers identifiers of 64 random hexadecimal digits: a folder of that name
// in a data folder here is one of its containers' only when the folder is the engine's own.
bool isContainerId(const QString& id)
{
    static const QRegularExpression form(QStringLiteral(R"(^[0-9a-f]{64}$)"));
    return form.match(id).hasMatch();
}

// Whether the data folder `root` here is the engine `engine`'s own.
bool isEnginesOwn(const QString& engine, const QString& root, const QStringList& containers)
{
    // Engines since version 23 keep their identifier there.
    QFile id(root + QStringLiteral("/engine-id"));
    if (id.open(QIODevice::ReadOnly) && QString::fromUtf8(id.read(4096)).trimmed() == engine)
        return true;
    for (const QString& container : containers)
        if (isContainerId(container) && QFileInfo(root + QStringLiteral("/containers/") + container).isDir())
            return true;
    return false;
}

} // namespace

Sameness sameVolume(const VolumeData& then, const VolumeData& now, const QString& name)
{
    if (!then.local || !now.local || then.engine.isEmpty() || then.engine != now.engine ||
        then.root != now.root)
        return Sameness::unknown;
    const auto was = then.folders.constFind(name);
    const auto is = now.folders.constFind(name);
    if (was == then.folders.cend() || is == now.folders.cend())
        return Sameness::unknown;
    return *was == *is ? Sameness::same : Sameness::madeAgain;
}

QDataStream& operator<<(QDataStream& out, const VolumeFolder& folder)
{
    return Platform::Wire::putAll(out, folder.identity, folder.changed);
}

QDataStream& operator>>(QDataStream& in, VolumeFolder& folder)
{
    return Platform::Wire::getAll(in, folder.identity, folder.changed);
}

QDataStream& operator<<(QDataStream& out, const VolumeData& data)
{
    return Platform::Wire::putAll(out, data.engine, data.root, data.local, data.folders);
}

QDataStream& operator>>(QDataStream& in, VolumeData& data)
{
    return Platform::Wire::getAll(in, data.engine, data.root, data.local, data.folders);
}

QStringList containerIdsQuery()
{
    return {QStringLiteral("ps"), QStringLiteral("-a"), QStringLiteral("-q"), QStringLiteral("--no-trunc")};
}

VolumeData lookAtVolumeData(const QString& engine, const QString& root, const QStringList& containers,
                            const QStringList& volumes)
{
    VolumeData data{engine, root, false, {}};
    if (engine.isEmpty() || !Platform::isPlainAbsolute(root) || !isEnginesOwn(engine, root, containers))
        return data;
    data.local = true;
    for (const QString& name : volumes) {
        if (!isVolumeName(name))
            continue;
        const QString folder = ownFolder(root, name);
        struct stat status {};
        // The engine makes a folder there, never a link.
        if (::lstat(QFile::encodeName(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        if (const std::optional<Platform::FileIdentity> identity = Platform::identityOf(folder))
            data.folders.insert(name, {*identity, qint64(status.st_ctim.tv_sec) * 1'000'000'000 +
                                                      qint64(status.st_ctim.tv_nsec)});
    }
    return data;
}

VolumeData volumeData(const QStringList& names, const std::optional<Runtime>& runtime,
                      std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    VolumeData data;
    if (names.isEmpty())
        return data;
    const QDeadlineTimer deadline(limit);
    const std::optional<EngineInfo> info = engineInfo(runtime, limit, cancel);
    if (!info || info->id.isEmpty() || !Platform::isPlainAbsolute(info->rootDir))
        return data;
    const std::optional<QMap<QString, QStringList>> folders =
        volumeFolders(names, runtime, Platform::remaining(deadline), cancel);
    if (!folders) {
        data.engine = info->id;
        data.root = info->rootDir;
        return data;
    }
    return volumeData(*info, *folders, names, runtime, Platform::remaining(deadline), cancel);
}

VolumeData volumeData(const EngineInfo& info, const QMap<QString, QStringList>& folders,
                      const QStringList& names, const std::optional<Runtime>& runtime,
                      std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    VolumeData data;
    if (names.isEmpty() || info.id.isEmpty() || !Platform::isPlainAbsolute(info.rootDir))
        return data;
    const QDeadlineTimer deadline(limit);
    data.engine = info.id;
    data.root = info.rootDir;
    // Only a volume the engine says it keeps where its own driver puts them has its folder there.
    QStringList kept;
    for (const QString& name : names)
        if (folders.value(name).contains(ownFolder(info.rootDir, name) + QStringLiteral("/_data")))
            kept << name;
    QStringList containers;
    const Platform::Capture ids =
        capture(containerIdsQuery(), runtime, std::nullopt, Platform::remaining(deadline), cancel);
    if (ids.status == 0)
        for (const QString& line : ids.out.split(u'\n', Qt::SkipEmptyParts))
            if (containers.size() < containersAsked)
                containers << line.trimmed();
    if (cancel && cancel->isCancelled())
        return data;
    const std::chrono::milliseconds left = Platform::remaining(deadline);
    return Platform::startFolderLook(info.rootDir, Looks::volumeData(info.id, info.rootDir, containers, kept),
                                     left)
        .wait(left, cancel)
        .value_or(data);
}

namespace Looks {

Platform::LookTable volumeOperations()
{
    return Platform::LookTable{Platform::served(volumeData)};
}

} // namespace Looks

} // namespace Docker
