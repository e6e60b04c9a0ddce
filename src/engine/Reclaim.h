#pragma once

#include "engine/Docker.h"
#include "engine/Runtime.h"
#include "engine/Usage.h"

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

} // namespace Docker
