#pragma once

#include "engine/Runtime.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

struct ComposeProject;
struct Container;
struct DockerVolume;

// One volume of a teardown plan: the containers outside the project that still mount it.
struct VolumeUse {
    QString name;
    QStringList usedBy;          // sorted; empty means the deletion removes the volume
    std::optional<QString> size; // already formatted for display; none when unknown

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

    QList<VolumeUse> removable() const; // nobody else mounts them
    QList<VolumeUse> kept() const;      // mounted outside the project

    bool operator==(const TeardownPlan&) const = default;
};

namespace Docker {

// Container name (without the engine's leading "/") -> the named volumes it mounts, in the engine's order.
using MountMap = QMap<QString, QStringList>;

// Asks the engine which named volumes each given container (name or identifier) mounts. Never fails:
// containers that are gone, or an engine that does not answer, simply give no entry. No ids run nothing.
MountMap volumeMounts(const QStringList& ids, const std::optional<Runtime>& runtime);

// The output of the inspect template volumeMounts uses: "/name|vol1,vol2," per line.
MountMap parseMounts(const QString& text);

// The plan of deleting `project`. `allContainers` and their `mounts` say who else uses a volume;
// `declaredVolumes` (engine names the compose file declares) are planned even when nothing mounts
// them; `externalVolumes` (engine names the compose file declares external) belong to no project and
// are never planned; `sizes` maps volume names to display texts.
TeardownPlan plan(const ComposeProject& project, const QList<Container>& allContainers,
                  const MountMap& mounts, const QStringList& declaredVolumes,
                  const QMap<QString, QString>& sizes, const QStringList& externalVolumes);

// What stands in for the external volumes when the project's compose file cannot be read: of the
// volumes the project's containers mount, every one that compose did not label with the project's
// name (as it does each volume it creates for a project), and every one `listed` does not know.
QStringList borrowedVolumes(const ComposeProject& project, const MountMap& mounts,
                            const QList<DockerVolume>& listed);

} // namespace Docker
