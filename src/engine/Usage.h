#pragma once

#include "engine/Docker.h"
#include "engine/Runtime.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
#include <functional>
#include <optional>

struct ComposeProject;

// One item that can be removed to free disk space, with what removing it costs.
struct Reclaimable {
    enum class Kind { Container, Image, Volume, BuildCache };
    enum class Recovery {
        Restorable,  // comes back without loss: compose recreates it, a pull fetches it, the cache refills
        NeedsSource, // comes back only by building it again
        Gone,        // cannot come back
    };

    Kind kind = Kind::Container;
    QString ref;  // what the removal command is given (a container's identifier); empty for the build cache
    QString name; // what the user sees
    qint64 bytes = 0;
    std::optional<QString> note; // short remarks joined by " · "
    Recovery recovery = Recovery::Restorable;
    std::optional<QString> project;
    std::optional<Runtime> runtime;
    // For an image, the identifier of the image measured. A tag may be moved to another image
    // after that, and then removing by the tag would take an image nobody was shown.
    QString imageId = {};
    // For a volume, its creation time as the engine printed it when it was measured. A volume removed
    // and made again under the same name has another, and removing by the name would take the new
    // one with its data. Empty when the engine gave none.
    QString createdAt = {};

    // "<runtime>/<kind>/<ref>": the runtime's name (empty without one), the kind's raw value, the ref.
    QString id() const;
    static QString rawValue(Kind kind);

    bool operator==(const Reclaimable&) const = default;
};

size_t qHash(const Reclaimable& item, size_t seed = 0) noexcept;

// The sizes one runtime reported, by the names it gives its containers and volumes.
struct UsageSizes {
    QMap<QString, qint64> containerSize; // container name -> bytes of its own layer
    QMap<QString, qint64> volumeSize;    // volume name -> bytes
    QMap<QString, QStringList> mounts;   // container name -> volumes it mounts

    bool operator==(const UsageSizes&) const = default;
};

// Disk use of one runtime (or, merged, of several) with what could be reclaimed.
struct DiskUsage {
    qint64 total = 0;
    QMap<QString, qint64> containerSize; // container name -> bytes of its own layer
    QMap<QString, qint64> volumeSize;    // volume name -> bytes
    QMap<QString, QStringList> mounts;   // container name -> volumes it mounts
    QList<Reclaimable> candidates;       // by kind, then largest first, then name
    // Each measured runtime's own sizes by runtime identifier. Two engines may each hold a container
    // or a volume of the same name, and the united maps above keep only one of them. Empty for a usage
    // not filed by runtime: the maps above then answer for every item.
    QMap<QString, UsageSizes> byRuntime = {};

    // This usage with its sizes filed under the runtime that reported them.
    DiskUsage measuredOn(const std::optional<Runtime>& runtime) const;
    // Totals added, maps united keeping this one's entries, this one's candidates first.
    DiskUsage merging(const DiskUsage& other) const;
    // Bytes all candidates would free.
    qint64 reclaimable() const;
    // The candidates that belong to the named compose project, in stored order.
    QList<Reclaimable> candidatesIn(const QString& project) const;
    // The sizes of the items listed on `runtime`: its own when the usage is filed by runtime (none when
    // it did not answer), else the united maps.
    UsageSizes sizesOn(const std::optional<Runtime>& runtime) const;
    // A container's own layer and a volume's contents on the runtime that lists them; none when that
    // runtime measured nothing under the name.
    std::optional<qint64> containerBytes(const QString& name, const std::optional<Runtime>& runtime) const;
    std::optional<qint64> volumeBytes(const QString& name, const std::optional<Runtime>& runtime) const;
    // The project's containers plus the distinct volumes they mount, on the project's runtime; 0 when
    // nothing is known.
    qint64 bytes(const ComposeProject& project) const;

    bool operator==(const DiskUsage&) const = default;
};

namespace Docker {

// What joins the parts of a note or a warning: a blank, a middle dot, a blank.
inline constexpr QStringView partSeparator = u" \u00B7 ";

// Whether a compose project's working directory can bring its containers back (has a compose file);
// none when the folder did not answer.
using CanCompose = std::function<std::optional<bool>(const QString& workingDir)>;

// The application's own answer: the folder holds a compose file. None when the folder has not answered
// within Platform::heldUpAfter, or an earlier look there is still held up: one measurement waits that
// long at most once for each folder on a mount that stalls.
std::optional<bool> hasComposeFile(const QString& workingDir);

// How long a measurement waits, in all, for the folders of its stopped containers.
inline constexpr std::chrono::milliseconds composeLookLimit{std::chrono::seconds(1)};

// The same for many folders, looked at all at once and waited for together for at most `limit`: whether
// each holds a compose file. A folder that has not answered by then, or whose earlier look is still
// held up, is left out (not known), however many such folders there are.
QHash<QString, bool> composeFilesIn(const QStringList& workingDirs, std::chrono::milliseconds limit);

// Repository prefixes of images that belong to the Apple runtime or its Docker-API bridge; never offered.
inline constexpr auto appleSystemImagePrefix = "ghcr.io/apple/container";
inline constexpr auto bridgeImagePrefix = "socktainer-";
// Whether an image (by its repository) belongs to the Apple runtime or its bridge.
bool isSystemImage(const QString& repository);

// The engine's own label maps of the containers asked for (their identifiers), by identifier; those
// it gave none for are left out.
using LabelsOf = std::function<QHash<QString, QMap<QString, QString>>(const QStringList& ids)>;

// `docker system df --format json` (summary lines) and `docker system df -v --format json` (one
// object) to sizes and reclaim candidates. Never fails: unreadable parts are left out. A null
// `canCompose` answers no. The project of a stopped container is read from `labelsOf`, asked once
// for all of them; one it has no answer for is in no project. Only a null `labelsOf` has it read from
// the report's joined label text, which a label value holding commas can make say another project.
DiskUsage parseUsage(const QString& summary, const QString& detail, const CanCompose& canCompose,
                     const LabelsOf& labelsOf = {});

// The disk use of one runtime, with the volumes each container mounts and local builds marked.
// Throws DockerError (or Platform::LaunchError) when either `system df` command fails; the engine's
// refusal of the mount and image queries after them never fails the call. Its commands share `limit`:
// once it has passed, the one under way is ended and Docker::TimedOut thrown with notAnswering(runtime).
// Without `canCompose`, the folders of the stopped containers are looked at by look servers, all at once
// (composeFilesIn, within composeLookLimit).
DiskUsage usage(const std::optional<Runtime>& runtime, const CanCompose& canCompose = {},
                std::chrono::milliseconds limit = measuringLimit);

// The engine's disk-usage report as JSON text (`system df`, with `verbose` its per-item form). Waits
// out the engine's refusal while another measurement runs; throws what Docker::run throws, and
// notAnswering(runtime) when a measurement has not finished within `limit`, the waits included.
QString diskUsageReport(const std::optional<Runtime>& runtime, bool verbose,
                        std::chrono::milliseconds limit = measuringLimit);

} // namespace Docker
