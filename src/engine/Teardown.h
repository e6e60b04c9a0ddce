#pragma once

#include "engine/Compose.h"
#include "engine/FolderUsers.h"
#include "engine/Runtime.h"
#include "engine/VolumeData.h"
#include "platform/FolderIdentity.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

struct ComposeProject;
struct Container;
struct DockerVolume;

// Who keeps a volume, and how: "container web mounts it", "project shop names it in its compose files".
struct VolumeHold {
    QString who; // the container, process, volume or project
    QString how; // one sentence, naming who first

    bool operator==(const VolumeHold&) const = default;
};

// One volume of a teardown plan: the containers outside the project that still mount it.
struct VolumeUse {
    QString name;
    QStringList usedBy;          // sorted; empty means the deletion removes the volume
    std::optional<QString> size; // already formatted for display; none when unknown
    // How each of `usedBy` keeps it, one sentence each, for the sheet and the dump to say.
    QStringList holds = {};

    // What keeps it, as the sheet and the dump say it: each hold, else the names of its users.
    QStringList heldSaying() const;

    bool operator==(const VolumeUse&) const = default;
};

size_t qHash(const VolumeUse& use, size_t seed = 0) noexcept;

// What deleting a compose project removes: its containers and the volumes only it uses. Volumes that
// containers outside the project mount are listed but kept.
struct TeardownPlan {
    QString project;
    QStringList containers;            // in the project's order
    QList<VolumeUse> volumes;          // sorted by name
    std::optional<QString> workingDir; // only when the folder existed when the plan was made
    // What the plan could not make sure of, one sentence each, for the sheet and the dump to show: a
    // query that ran out of time, a folder it does not offer. Empty when nothing was left unsure.
    QStringList notes = {};
    // What the names above stood for when the plan was made, for the deletion to make sure, just
    // before it acts, that what it removes or moves is what was shown and not something of the same
    // name made since.
    QStringList containerIds = {};                     // of `containers`, in the same order
    QMap<QString, QString> volumesMade = {};           // planned volume -> its creation time as printed
    std::optional<Platform::FileIdentity> folder = {}; // what `workingDir` named
    // The engine's own time as the plan began: what was made or removed after it, the plan has not
    // seen. None when the engine did not say.
    std::optional<QString> engineTime = {};
    // Where the engine kept the removable volumes on this machine as the plan was made: where its record
    // of that time is gone, a volume's own folder still tells it from one made again under its name.
    Docker::VolumeData volumeData = {};
    // The project's own bind-mounted folders inside `workingDir`: they go to the Trash with it.
    QStringList folderBinds = {};
    // The name the project's containers give the folder when a link is on it: `workingDir` is then the
    // folder's own name, the one the Trash takes, and the link stays where it is.
    std::optional<QString> folderLink = {};
    // Doubts said beside the offer of `workingDir`, each once: who may see the folder go, and why that
    // does not keep it. Empty when it is not offered.
    QStringList trashNotes = {};

    QList<VolumeUse> removable() const; // nobody else mounts them
    QList<VolumeUse> kept() const;      // mounted outside the project

    bool operator==(const TeardownPlan&) const = default;
};

namespace Docker {

// Container name (without the engine's leading "/") -> the named volumes it mounts, in the engine's order.
using MountMap = QMap<QString, QStringList>;

// Asks the engine which named volumes each given container (name or identifier) mounts. Never fails:
// containers that are gone simply give no entry; an engine that does not answer within listingLimit,
// or fails for a container that still exists, gives an empty map. No ids run nothing.
MountMap volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime);

// The same, telling an answer from none: none when the engine has not answered within `limit`,
// `cancel` ended the query, or the query failed and a container it asked for still exists without
// its line (a listing tells those gone since from those the engine failed on).
std::optional<MountMap> volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime,
                                     std::chrono::milliseconds limit, const Platform::Cancellation* cancel);

// The arguments of the listing by which volumeMounts tells containers gone since they were listed
// from those the engine failed on: every container's full identifier and name.
QStringList existingContainersArgs();

// The output of the inspect template volumeMounts uses: "/name|vol1,vol2," per line.
MountMap parseMounts(const QString& text);

// The plan of deleting `project`. `allContainers` and their `mounts` say who else uses a volume;
// `declaredVolumes` (engine names the compose file declares) are planned even when nothing mounts
// them; `externalVolumes` (engine names the compose file declares external) belong to no project and
// are never planned; `sizes` maps volume names to display texts.
TeardownPlan plan(const ComposeProject& project, const QList<Container>& allContainers,
                  const MountMap& mounts, const QStringList& declaredVolumes,
                  const QMap<QString, QString>& sizes, const QStringList& externalVolumes);

// What the engine answered when asked for a plan.
struct PlanReadings {
    std::optional<MountMap> mounts;      // every listed container's; none when the query ran out of time
    std::optional<ComposeConfig> config; // the project's file as compose resolves it; none when unread
    bool configTimedOut = false;         // compose did not finish reading it in time
    QList<DockerVolume> listed;          // the volumes of the project's runtime, with their labels
    QMap<QString, QString> created;      // volume -> its creation time, of those the engine gave
    // The volumes other projects name in their compose files, by "project <name>": those are kept.
    QMap<QString, QStringList> namedElsewhere = {};
    // Projects only remembered whose compose files could not be read: every volume is kept for them,
    // and `unknownWhy` says why, one sentence each.
    QStringList heldByUnknown = {};
    QStringList unknownWhy = {};
    // Whether the project's folder may be offered for the Trash, as judgeTrashOffer found it; none
    // when it was not judged, and then it is not offered.
    std::optional<TrashOffer> trash;
    // Who else holds a volume (its data folder bound or mounted, its name in another project's files, a
    // doubt about either): each keeps it.
    QMap<QString, QList<VolumeHold>> heldBy = {};
};

// The plan of deleting `project` by the rules a deletion follows, from what the engine answered. A
// volume may go only when the listing shows it labelled with the project's name, as compose labels
// every volume it creates for a project; every other volume the project mounts or declares (one an
// override file or the environment made external, one the user made) is left out, as external ones
// are. A project whose containers were started from different folders gets no folder, nor one whose
// folder cannot be named exactly (Docker::namesExactly), nor one `readings.trash` does not offer. A
// query that ran out of time, or a folder left out, is a note; without the mounts no volume is
// planned at all. The plan carries the identities of what it names, as far as they are known.
TeardownPlan planFrom(ComposeProject project, const QList<Container>& allContainers,
                      const PlanReadings& readings, const QMap<QString, QString>& sizes);

} // namespace Docker
