#pragma once

#include "engine/Runtime.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// What the engine recorded of volumes being made and removed: a volume's printed creation time alone
// cannot tell one made again under its name from one written into, since some engines print the time
// its data folder last changed (and, for a volume bound to a folder of the host, that folder's while it
// is mounted).
namespace Docker {

// The engine keeps its last this many events and lets the older ones go.
inline constexpr qsizetype keptEvents = 256;

// The engine's own time now, as it prints it; none when it does not say within `limit`.
std::optional<QString> engineTime(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit);

// The command that prints every event the engine kept from `since` to `until` (engine times), one JSON
// object a line.
QStringList eventsQuery(const QString& since, const QString& until);

// Of `names`, each volume that was made or removed in what eventsQuery printed, with what happened to it
// last ("create" or "destroy"); none when the output may lack events (as many lines as the engine keeps).
std::optional<QMap<QString, QString>> parseVolumeEvents(const QString& text, const QStringList& names);

// The same asked of the engine, from `since` (an engineTime) to now; none when it did not answer within
// `limit` or may have let go of some of those events.
std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                   const std::optional<Runtime>& runtime,
                                                   std::chrono::milliseconds limit);

} // namespace Docker
