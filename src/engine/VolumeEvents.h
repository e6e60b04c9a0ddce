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
//
// The engine keeps only its last events (a few hundred of every kind), and a filter picks among those
// it still keeps: it never reaches further back. Whether the events of a time are all still there is
// told by an older one the engine still keeps.
namespace Docker {

// The engine's own time now, as it prints it; none when it does not say within `limit`.
std::optional<QString> engineTime(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit);

// A time as the engine prints it (RFC 3339, to the nanosecond at most), in nanoseconds since the epoch;
// none when it is not such a time.
std::optional<qint64> engineNanos(const QString& time);

// The command that prints every creation and removal of the named volumes the engine kept from `since`
// to `until` (engine times), one JSON object a line. The engine takes a name as the start of one, so
// other volumes may be among them.
QStringList eventsQuery(const QString& since, const QString& until, const QStringList& names);

// The command that prints the time of every event the engine kept up to `until`, in nanoseconds since
// the epoch, one a line.
QStringList keptEventsQuery(const QString& until);

// Of `names`, each volume that was made or removed in what eventsQuery printed, with what happened to
// it last ("create" or "destroy").
QMap<QString, QString> parseVolumeEvents(const QString& text, const QStringList& names);

// Whether the engine still keeps every event since `since` (an engine time), from what keptEventsQuery
// printed: it keeps one a second or more older, and let go only of events older than that. A second,
// as the engine stamps an event a moment before it keeps it.
bool keptSince(const QString& printed, const QString& since);

// Of the named volumes, those made or removed from `since` (an engineTime) to now, asked of the engine;
// none when it did not answer within `limit` or no longer keeps every event of that time.
std::optional<QMap<QString, QString>> volumeEvents(const QStringList& names, const QString& since,
                                                   const std::optional<Runtime>& runtime,
                                                   std::chrono::milliseconds limit);

} // namespace Docker
