#pragma once

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Runtime.h"

#include <QLatin1StringView>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace Docker {

// The containers, images and volumes of a runtime (none: the client's current context), in the
// client's order; images the client lists as equals (one image's names, images made in the same
// second) by repository:tag and then identifier. Throw what Docker::run throws: DockerError with the
// client's error text, or Platform::LaunchError when no child could be started. A runtime that has not
// answered within listingLimit fails with notAnswering(runtime), a client too old for JSON listings
// with tooOldClientMessage. A compose label that the listing shows only as empty (present or not) is
// read from the engine's own label map (settleUnsureLabels), within the same limit.
QList<Container> containers(const std::optional<Runtime>& runtime);
QList<DockerImage> images(const std::optional<Runtime>& runtime);
QList<DockerVolume> volumes(const std::optional<Runtime>& runtime);

// The same listings from output already captured (one JSON object per line). Lines that are not
// JSON objects are skipped; a missing or non-text value reads as the empty text. The compose labels
// of containers and volumes are taken whole from fields of their own (see containerListingArgs);
// the other labels come from the client's comma-joined text as parseLabels splits it. Whether a
// compose label is there with an empty value is the joined text's word here, which the listings check.
QList<Container> parseContainers(QStringView text, const std::optional<Runtime>& runtime);
QList<DockerImage> parseImages(QStringView text, const std::optional<Runtime>& runtime);
QList<DockerVolume> parseVolumes(QStringView text, const std::optional<Runtime>& runtime);

// The arguments after "docker" that list containers and volumes: a template printing one JSON
// object per line with the fields "--format json" gives ("ID", "Names", ..., "Labels") and each
// compose label the application relies on under its own key (its value; the empty text when the
// label is absent or empty, which only the joined "Labels" text tells apart).
QStringList containerListingArgs();
QStringList volumeListingArgs();

// For every JSON object line of `text`, the text values under `keys`, in key order; reads each line
// exactly as Docker::ndjson and Docker::str do, only faster on the client's flat listing objects.
QList<QStringList> ndjsonStrings(QStringView text, const QList<QLatin1StringView>& keys);

// The Apple runtime's container list (a JSON array) to container identifier -> IPv4 address without
// its prefix length. Records without an address are left out; anything unexpected gives an empty map.
QMap<QString, QString> parseAddresses(const QString& json);

// The argument list that starts an image in the background from what the user typed in the run
// sheet. Ports are split at commas and white space, environment at line breaks, the command at
// white space (no quoting).
QStringList runArgs(const QString& image, const QString& name, const QString& ports, const QString& env,
                    const QString& command);

// The compose projects the containers form, one per runtime and project label, sorted by name and
// then identifier. Registry knowledge (service counts, remembered projects) is added by
// ProjectRegistry::merge.
QList<ComposeProject> group(const QList<Container>& containers);

// The containers that belong to no compose project, sorted by name.
QList<Container> ungrouped(const QList<Container>& containers);

} // namespace Docker
