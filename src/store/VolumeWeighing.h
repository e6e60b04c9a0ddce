#pragma once

#include "engine/Runtime.h"
#include "engine/Teardown.h"
#include "platform/KernelMounts.h"
#include "store/PlanUsers.h"
#include "store/StoreEngine.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Who may still need a volume that is about to be removed, by a deletion or by reclaiming space. A
// volume's data cannot come back, so anything that may hold it keeps it: a container of another
// project mounting it, a container or another volume using its data folder on the host, a mount of its
// data folder (or of a folder inside it) in any process's view of the machine, another project whose
// compose files name it, and any doubt about one of these.

// The volumes of one engine to weigh, and what is known of where they keep their data.
struct WeighAsk {
    std::optional<Runtime> on;          // the runtime they are removed through
    QMap<QString, QString> dataFolders; // volume -> its data folder as the engine names it
    // Containers that go with the volumes (the project's own, by identifier): they hold nothing.
    QStringList own = {};
    // Volume -> the containers (by name) known to mount it already: the kernel's tables show their
    // mounts too, and they are not named twice.
    QMap<QString, QStringList> mountedBy = {};
    // The engine keeps its volumes on this machine, so the kernel's tables show who has a data folder
    // mounted; none where it keeps them elsewhere (a virtual machine, another host).
    std::optional<Platform::HostMounts> host = {};
};

// What holds each volume, and what was only seen near it.
struct VolumeWeighing {
    QMap<QString, QList<VolumeHold>> held; // volume -> who holds it and how
    // Mounts of a folder above a data folder (an agent binding the engine's data folder): said, but they
    // hold the volume no more than they hold anything else below them.
    QStringList notes;
};

// Weighs `ask.dataFolders`' volumes against what the runtimes said (`users`) and what the other
// projects' compose files name (`others`). A project whose files may name any volume (they could not
// be read, did not answer, or name one through a variable not set here) holds every one of them.
VolumeWeighing weighVolumes(const WeighAsk& ask, const Users& users, const QList<OtherReading>& others);

// Whether a use of `path` on the host reaches the data of a volume kept in `dataFolder`: the folder
// itself, one inside it, or the volume's own folder the engine keeps it in.
bool reachesData(const QString& path, const QString& dataFolder);

// Who holds each of the volumes `names` of `on`, asked afresh of every runtime of `runtimes`, of the
// compose files of every project they list or `remembered` holds, and of the kernel where the engine
// keeps its volumes here: volume -> how each holds it, one sentence each. A volume nothing holds has no
// entry. Blocks, each question within its limit, the files' reading within `folderLimit`.
QMap<QString, QStringList> volumesHeld(StoreEngine& engine, const QStringList& names,
                                       const std::optional<Runtime>& on,
                                       const QList<std::optional<Runtime>>& runtimes,
                                       const QMap<QString, QList<KnownProject>>& remembered,
                                       std::chrono::milliseconds folderLimit,
                                       const Platform::Cancellation* cancel);
