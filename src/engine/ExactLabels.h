#pragma once

#include "engine/Container.h"
#include "engine/Runtime.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// The labels of containers and volumes as the engine holds them. A listing prints each label the
// application acts on in a field of its own, but that field reads the same for a label with an empty
// value and for one that is not there; only the client's joined text tells them apart, and that text
// can be forged (another label's value holding ",com.docker.compose.project=,"). Where it decides,
// inspect's label map is asked instead.
namespace Docker {

using LabelMap = QMap<QString, QString>;

// Whether `labels`, as a listing made them, hold one of `keys` with an empty value: only the joined
// text said so.
bool holdsUnsureLabel(const LabelMap& labels, const QStringList& keys);

// The label maps of the containers `ids` (identifiers as listed), by the identifier asked. A
// container's labels never change, so the engine is asked for each once per process. Containers that
// are gone, or an engine that has not answered within `limit`, give no entry.
QHash<QString, LabelMap> containerLabelMaps(const QStringList& ids, const std::optional<Runtime>& runtime,
                                            std::chrono::milliseconds limit);
// The label maps of the volumes `names`, by name. A volume may be made again under its name with other
// labels, so nothing is remembered.
QHash<QString, LabelMap> volumeLabelMaps(const QStringList& names, const std::optional<Runtime>& runtime,
                                         std::chrono::milliseconds limit);

// What those queries print, one {"id": ..., "labels": {...}} object per line, by each name of `asked`
// that the printed identifier is (or, `byPrefix`, begins with: a container's is printed whole).
QHash<QString, LabelMap> parseLabelMaps(const QString& text, const QStringList& asked, bool byPrefix);

// Gives every item whose listing left one of `keys` unsure the engine's own labels; one the engine
// does not answer for loses those labels (the safe reading: it then belongs to no project), and when
// the engine gave no answer at all in time it is marked `labelsUnanswered`: not gone, but unknown.
void settleUnsureLabels(QList<Container>& containers, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit);
void settleUnsureLabels(QList<DockerVolume>& volumes, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit);

} // namespace Docker
