#pragma once

#include "engine/Docker.h"
#include "engine/Runtime.h"
#include "engine/Usage.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace Docker {

// Image reference (repository:tag) -> the compose project that built it, empty when none is known.
using LocalBuilds = QMap<QString, QString>;

// Which of the given tagged images were built on this machine rather than pulled. An engine that
// refuses leaves everything unmarked; when images vanished since they were listed, the others are
// asked one by one. No refs run nothing. The questions share `limit`: once it has passed, what is
// still asked is ended and Docker::TimedOut thrown with notAnswering(runtime), since an image left
// unmarked for want of an answer would be offered as one a pull brings back.
LocalBuilds localBuilds(const QStringList& refs, const std::optional<Runtime>& runtime,
                        std::chrono::milliseconds limit = listingLimit);

// One inspect line per ref ("<compose project>|<number of repository digests>"). When the lines do not
// pair up with the refs one to one, nothing is marked rather than risking a wrong pairing.
LocalBuilds parseLocalBuilds(const QStringList& refs, const QString& out);

// The items with every image of `localBuilds` re-marked: note "built here", needs its source, its project.
QList<Reclaimable> marking(const QList<Reclaimable>& items, const LocalBuilds& localBuilds);

// The warning under a selection: how many items cannot come back and how many need their source;
// none when nothing in it is lost.
std::optional<QString> reclaimWarning(const QList<Reclaimable>& items);

// The docker argument lists that remove the items (all of one runtime): containers, then volumes, then
// images, then the build cache, each only when there is something of that kind. Nothing is forced:
// an item that is in use again since it was listed makes its command fail instead of being removed.
QList<QStringList> reclaimCommands(const QList<Reclaimable>& items);

// The command that prints the identifier of the image `ref` names now.
QStringList imageIdQuery(const QString& ref);

// "<tag> now names another image; not removed.": an image item whose tag was moved since it was measured.
QString movedTagMessage(const QString& tag);

// The command that prints the named volumes as one JSON array; a volume that is gone is left out of
// it, and the command then fails.
QStringList volumeInspectQuery(const QStringList& names);

// Each volume's creation time as the engine printed it, by name, from what volumeInspectQuery printed;
// empty for a volume that names none. Nothing for output that is not such an array.
QMap<QString, QString> parseVolumeCreation(const QString& json);

// How long after `clock` (the engine's time, read before the volume was looked at) a volume made at
// `createdAt` can first be told apart from one made again under its name: the engine prints whole
// seconds, so two volumes made within one second look the same. Zero when that second had passed
// already; none when `createdAt` is not a time.
std::optional<std::chrono::milliseconds> sameSecondLeft(const QString& createdAt, const QDateTime& clock);

// The creation times of the named volumes, for telling each apart later from a volume made again
// under its name. A volume made within the second the measurement began is looked at once more after
// that second, and left out when it was made again meanwhile; one that is gone is left out too. The
// questions share `limit`: once it has passed, what is still asked is ended and Docker::TimedOut thrown
// with notAnswering(runtime).
QMap<QString, QString> volumeCreation(const QStringList& names, const std::optional<Runtime>& runtime,
                                      std::chrono::milliseconds limit = listingLimit);

// The items with every volume carrying its creation time from `createdAt`; a volume missing there is
// no longer offered, as nothing could tell it from another made under its name.
QList<Reclaimable> withCreation(const QList<Reclaimable>& items, const QMap<QString, QString>& createdAt);

// "<name> was made again since it was measured; not removed.": a volume item whose volume was removed
// and made anew under its name since it was measured.
QString madeAgainMessage(const QString& name);

} // namespace Docker
