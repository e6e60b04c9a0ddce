#pragma once

#include "engine/Container.h"
#include "engine/Runtime.h"
#include "platform/FolderIdentity.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

namespace Platform {
class Cancellation;
}

// Who else uses a project's folder: what decides whether moving it to the Trash would take anything
// from a container outside the project.
namespace Docker {

// Container identifier -> the host paths it bind-mounts, in the engine's order.
using BindMap = QMap<QString, QStringList>;

// `docker inspect` of containers printing, per container, one JSON array of its identifier and the
// source of each bind mount (JSON, so a path holding a line break or a bar stays one path).
QStringList bindSourcesQuery(const QStringList& ids);
BindMap parseBindSources(const QString& text);

// The bind-mount sources of the given containers, by the identifiers given (whole or shortened, as the
// listing gives them); none when the engine failed, did not answer within
// `limit`, or `cancel` (may be null) ended the query. A container removed since it was listed simply
// gives no entry: it uses nothing now. No ids run nothing.
std::optional<BindMap> bindSources(const QStringList& ids, const std::optional<Runtime>& runtime,
                                   std::chrono::milliseconds limit, const Platform::Cancellation* cancel);

// `docker volume inspect` of volumes printing, per volume, one JSON array of its name, driver, mount
// point and driver options.
QStringList volumeFoldersQuery(const QStringList& names);
// Volume name -> the host paths it keeps its data in or takes it from: every path its options name
// (Docker::optionPaths: a bound device, an overlay's layers, whatever the type and flags), and its
// mount point, where the engine or a driver keeps the data itself.
QMap<QString, QStringList> parseVolumeFolders(const QString& text);
// The same asked of the engine; none as for bindSources. No names run nothing.
std::optional<QMap<QString, QStringList>> volumeFolders(const QStringList& names,
                                                        const std::optional<Runtime>& runtime,
                                                        std::chrono::milliseconds limit,
                                                        const Platform::Cancellation* cancel);

// What an engine says of itself: its own identifier, the same through every context or socket that
// reaches it, and the folder it keeps its data in. Either is empty when the engine did not say.
struct EngineInfo {
    QString id;
    QString rootDir;

    bool operator==(const EngineInfo&) const = default;
};
QStringList engineInfoQuery();
// None unless the text names the engine and an absolute data folder.
std::optional<EngineInfo> parseEngineInfo(const QString& text);
// None when the engine did not answer within `limit` or `cancel` ended the query; an engine that
// refused gives an empty EngineInfo.
std::optional<EngineInfo> engineInfo(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit,
                                     const Platform::Cancellation* cancel);

// Every path a file label that compose joined with commas may hold (the compose files, the env files);
// none for a label that may be split in too many places to read at all.
std::optional<QStringList> possibleFiles(const QString& joined);

// Something on the host a container, a volume, an engine or a project uses: a working folder, a compose
// or env file, a bind mount's source, a volume's data, a path a compose file names.
struct FolderUse {
    QString path;
    QString containerId; // whoever uses it, once for all its uses
    QString container;   // its name; empty for a project that has no containers
    std::optional<QString> project;
    // Whether it uses what lies below `path` too, so that a folder inside it is used: a bind mount or a
    // build context of a parent folder sees the folder's files. Not so for a working folder, of which
    // compose reads only the files named.
    bool coversBelow = true;
    // With no path: why what it uses cannot be known, and so may be anything.
    std::optional<QString> unknown = {};
    // With no path: where its own folder and files are. A doubt of one whose folder or files lie at,
    // in or above the folder judged is a doubt of that folder; any other is said beside the offer.
    QStringList places = {};
    // A path that holds the folder without naming it (a container's bind of a folder above, of the
    // root): it sees the folder go, and is said beside the offer rather than keeping it.
    bool holdingSaid = false;

    bool operator==(const FolderUse&) const = default;
};

// What `containers` use on the host, by their labels and `binds`: the working folder, the compose and
// env files it was made with. A file label that cannot be split back for sure (a folder whose name ends
// in a comma) gives every path it may hold; one that may be split in too many places gives a use with
// no path: the container may use anything.
QList<FolderUse> folderUses(const QList<Container>& containers, const BindMap& binds);

// What a plan decides of offering a project's folder for the Trash.
struct TrashOffer {
    std::optional<Platform::FileIdentity> identity; // the folder offered; none when it is not
    // Why a folder that is there is not offered ("it is your home folder", "used by ..."), to follow
    // Platform::notOfferedMessage's "<folder> is not offered for the Trash: ".
    std::optional<QString> refusal;
    QStringList ownBinds; // the project's bind-mounted folders inside it, sorted
    // The folder offered by its own name, every link resolved: where its files are, and what the Trash
    // takes. Empty when it is not offered.
    QString folder = {};
    // The refusal is for want of an answer (a path that did not answer), not for a user found: asked
    // again, the folder may well be offered.
    bool unsure = false;
    // Doubts that do not touch the folder itself, said beside an offer that stands: another project
    // that cannot be read, a variable not set here, a mount of a folder above it, a partial view of
    // the machine's processes. One sentence each, naming who and why.
    QStringList notes = {};
    // The containers (identifiers) whose hold of a folder above is among `notes` already.
    QStringList heldFromAbove = {};

    bool operator==(const TrashOffer&) const = default;
};

// Whether `folder` may be offered: it is a folder Platform::trashOfferRefusal does not refuse, and
// nothing of `others` (what containers outside the project use) lies at or under it, nor holds it when
// it covers what lies below, compared by file identity; a hold that is only said (holdingSaid) is a note.
// A use of `others` that is unknown keeps the folder only when one of its places lies at, in or above it;
// any other is a note naming who and why, and the offer stands. `own` (what the project's containers
// bind-mount) says what would go with it. Nothing is offered, and nothing said, for a folder that is not
// there. Every look at the disk runs on the disk pool and is waited for until `deadline`: none when the
// folder itself has not answered by then (or `cancel`, may be null, ended the wait); a path of `others`
// that has not is a refusal naming it, since a link there may lead into the folder.
// `first` runs first in every look (a test's stall). `passingMounts` go to Platform::trashOfferRefusal.
std::optional<TrashOffer> judgeTrashOffer(const QString& folder, const QList<FolderUse>& others,
                                          const QList<FolderUse>& own, const QDeadlineTimer& deadline,
                                          const std::function<void()>& first,
                                          const Platform::Cancellation* cancel,
                                          const QStringList& passingMounts = {});

// "used by <container> of <project>, project <name>, <container>, ...": the users named, the first few
// of them.
QString usedByText(const QList<FolderUse>& users);

} // namespace Docker
