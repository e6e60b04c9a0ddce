#pragma once

#include "engine/FolderUsers.h"
#include "engine/Runtime.h"
#include "platform/FolderIdentity.h"
#include "platform/LookWire.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>

namespace Platform {
class Cancellation;
}

// Where an engine on this machine keeps its volumes: each volume's own folder in the engine's data
// folder, which the engine makes with the volume and removes with it. Told by the file system, a volume
// made again under its name has another folder, whatever creation time the engine prints (the engine
// prints whole seconds, of when the data last changed).
namespace Docker {

// A volume's own folder as this machine sees it.
struct VolumeFolder {
    Platform::FileIdentity identity;
    // Its last status change, in nanoseconds since the epoch: when the engine made it. What is written
    // into the volume changes the data folder inside, never this one, so a folder made again where the
    // file system gives out the same number again still differs here.
    qint64 changed = 0;

    bool operator==(const VolumeFolder&) const = default;
};

// An engine's volumes as this machine sees them.
struct VolumeData {
    QString engine; // the engine's identifier
    QString root;   // its data folder, as it names it
    // That folder here is the engine's own, as the engine's own files in it show: the one holding its
    // identifier, or the folder of one of its containers. Without that, the folders below may be
    // another engine's or anything else's, and tell nothing.
    bool local = false;
    QMap<QString, VolumeFolder> folders; // volume -> its own folder, of those found there

    bool operator==(const VolumeData&) const = default;
};

// Whether a volume is the one seen earlier, by its folder.
enum class Sameness {
    same,      // the same folder of the same engine
    madeAgain, // another folder under the same name: the volume was removed and made again
    unknown,   // nothing here can tell: not local then or now, another engine, a folder not seen
};

// Whether the volume `name` now is the one `then` saw, from where the same engine keeps it now.
Sameness sameVolume(const VolumeData& then, const VolumeData& now, const QString& name);

QDataStream& operator<<(QDataStream& out, const VolumeFolder& folder);
QDataStream& operator>>(QDataStream& in, VolumeFolder& folder);
QDataStream& operator<<(QDataStream& out, const VolumeData& data);
QDataStream& operator>>(QDataStream& in, VolumeData& data);

// The command that lists the full identifier of every container.
QStringList containerIdsQuery();

// Looks, in the data folder `root` of the engine `engine`, whether it is that engine's own (its
// identifier file says so, or it holds the folder of one of `containers`, given by full identifier),
// and if so at the own folder of each of `volumes`. Looks at the disk: asked for through a look server.
VolumeData lookAtVolumeData(const QString& engine, const QString& root, const QStringList& containers,
                            const QStringList& volumes);

// The same asked of the engine and looked at here: of the named volumes, those the engine keeps with
// its own local layout. Nothing local when the engine does not say within `limit`, `cancel` (may be
// null) ends the questions, or the look does not answer in time.
VolumeData volumeData(const QStringList& names, const std::optional<Runtime>& runtime,
                      std::chrono::milliseconds limit, const Platform::Cancellation* cancel);

// The same from what the engine already said: its identity and data folder (`info`) and where each
// volume keeps its data (`folders`, by name, as volumeFolders gives them). Neither is asked again.
VolumeData volumeData(const EngineInfo& info, const QMap<QString, QStringList>& folders,
                      const QStringList& names, const std::optional<Runtime>& runtime,
                      std::chrono::milliseconds limit, const Platform::Cancellation* cancel);

namespace Looks {

inline constexpr Platform::LookOperation<VolumeData(const QString&, const QString&, const QStringList&,
                                                    const QStringList&)>
    volumeData{"volumeData", &lookAtVolumeData};

// The operations above, for the look server's table.
Platform::LookTable volumeOperations();

} // namespace Looks

} // namespace Docker
