#pragma once

#include "engine/Compose.h"
#include "engine/ComposeUses.h"
#include "engine/Runtime.h"
#include "platform/FolderIdentity.h"
#include "platform/LookWire.h"

#include <QString>
#include <QStringList>

#include <optional>

// The looks at a project's folder that the engine makes, as plain functions of plain values, and the
// look server's operations that make them (Docker::Looks). The application asks for them through
// Platform::lookAtDisk and its kin and never calls the functions itself (platform/FolderLooks.h says
// why).
namespace Docker {

// What a project's folder holds, as the screens and the dumps show it.
struct FolderFacts {
    bool there = false;                 // something is at the path, every link followed
    bool folder = false;                // and it is a folder
    std::optional<QString> composeFile; // the name of the first compose file in it
    bool builds = false;                // that file builds an image from source

    bool operator==(const FolderFacts&) const = default;
};

// What up and a deletion plan find in a project's folder before compose reads it.
struct ComposeFilesFound {
    bool there = false;                 // something is at the folder's path
    std::optional<QString> composeFile; // the name of the first compose file in it
    QStringList missing;                // those of the files asked about that are not there, in order

    bool operator==(const ComposeFilesFound&) const = default;
};

// A folder as a deletion would offer it for the Trash, before anyone else's use of it is weighed.
struct TrashCandidate {
    bool there = false;
    // Why it may not go whoever uses it (Platform::trashOfferRefusal, or "it is not a folder").
    std::optional<QString> refusal;
    std::optional<Platform::FileIdentity> identity; // of a folder that may go
    QString folder;                                 // and its own path, every link resolved

    bool operator==(const TrashCandidate&) const = default;
};

QDataStream& operator<<(QDataStream& out, const ComposeSource& source);
QDataStream& operator>>(QDataStream& in, ComposeSource& source);
QDataStream& operator<<(QDataStream& out, const ComposeFileUses& uses);
QDataStream& operator>>(QDataStream& in, ComposeFileUses& uses);
QDataStream& operator<<(QDataStream& out, const FolderFacts& facts);
QDataStream& operator>>(QDataStream& in, FolderFacts& facts);
QDataStream& operator<<(QDataStream& out, const ComposeFilesFound& found);
QDataStream& operator>>(QDataStream& in, ComposeFilesFound& found);
QDataStream& operator<<(QDataStream& out, const TrashCandidate& candidate);
QDataStream& operator>>(QDataStream& in, TrashCandidate& candidate);

// A compose file that has not changed since it was last read is not read again.
FolderFacts factsOfFolder(const QString& dir);
ComposeFilesFound findComposeFiles(const QString& dir, const QStringList& files);
// `passingMounts` go to Platform::trashOfferRefusal.
TrashCandidate trashCandidate(const QString& folder, const QStringList& passingMounts);

namespace Looks {

inline constexpr Platform::LookOperation<std::optional<QString>(const QString&)> composeFile{
    "composeFile", &Docker::composeFile};
inline constexpr Platform::LookOperation<FolderFacts(const QString&)> folderFacts{"folderFacts",
                                                                                  &factsOfFolder};
inline constexpr Platform::LookOperation<ComposeFilesFound(const QString&, const QStringList&)> composeFiles{
    "composeFiles", &findComposeFiles};
inline constexpr Platform::LookOperation<TrashCandidate(const QString&, const QStringList&)> trashOffer{
    "trashOffer", &trashCandidate};

// What another project's compose files name on the host, read with the application's environment: the
// server's is the one it was started with.
inline constexpr Platform::LookOperation<ComposeFileUses(const ComposeSource&,
                                                         const QHash<QString, QString>&)>
    composeUses{"composeUses", &composeFileUses};

// Whether a runtime's socket is there, and what the client's context folder says of the contexts: both
// live in folders of the user's that may be on a mount that stalls.
inline constexpr Platform::LookOperation<bool(const QString&)> reachable{"reachable", &isReachable};
inline constexpr Platform::LookOperation<QByteArray(const QString&, const QString&)> contexts{
    "contexts", &contextsFingerprint};

// The operations above, for the look server's table.
Platform::LookTable operations();

} // namespace Looks

} // namespace Docker
