#pragma once

#include "platform/FolderContents.h"
#include "platform/FolderIdentity.h"
#include "platform/LookWire.h"
#include "platform/Trash.h"

#include <QString>
#include <QStringList>

#include <optional>

// The looks at a user's folders that the platform makes, as plain functions of plain values, and the
// look server's operations that make them (Platform::Looks). The application asks for them through
// Platform::lookAtDisk and its kin and never calls the functions itself: a folder on a mount that stalls
// holds the thread that looks at it in the kernel for good, and only another process can be left behind.
namespace Platform {

QDataStream& operator<<(QDataStream& out, const FileIdentity& identity);
QDataStream& operator>>(QDataStream& in, FileIdentity& identity);
QDataStream& operator<<(QDataStream& out, const Reach& reach);
QDataStream& operator>>(QDataStream& in, Reach& reach);
QDataStream& operator<<(QDataStream& out, const FolderListing& listing);
QDataStream& operator>>(QDataStream& in, FolderListing& listing);
QDataStream& operator<<(QDataStream& out, const SaveTarget& target);
QDataStream& operator>>(QDataStream& in, SaveTarget& target);
QDataStream& operator<<(QDataStream& out, const Bookmarks& bookmarks);
QDataStream& operator>>(QDataStream& in, Bookmarks& bookmarks);

// Whether anything is at `path`, a link that leads nowhere included.
bool isTaken(const QString& path);
// Whether `path` names something, every link followed.
bool pathExists(const QString& path);
// Whether nothing is at `path` by that name (a link left there still counts as there).
bool isGone(const QString& path);
// `path` with every link resolved; empty when nothing is there.
QString resolvedPath(const QString& path);

namespace Looks {

// The choosers' and the save panel's (FolderContents.h).
inline constexpr LookOperation<FolderListing(const QString&, bool)> folderListing{"folderListing",
                                                                                  &listFolder};
inline constexpr LookOperation<bool(const QString&, const QString&)> newFolder{"newFolder", &makeFolder,
                                                                               true};
inline constexpr LookOperation<bool(const QString&)> folder{"folder", &isFolder};
inline constexpr LookOperation<SaveTarget(const QString&)> saveTarget{"saveTarget", &lookAtSaveTarget};
inline constexpr LookOperation<std::optional<QString>(const QString&, const QString&)> textWrite{
    "textWrite", &writeTextFile, true};
inline constexpr LookOperation<Bookmarks(const QString&)> bookmarks{"bookmarks", &readBookmarks};
inline constexpr LookOperation<QStringList(const QString&)> drives{"drives", &mountedDrives};

inline constexpr LookOperation<bool(const QString&)> taken{"taken", &isTaken};
inline constexpr LookOperation<bool(const QString&)> exists{"exists", &pathExists};
inline constexpr LookOperation<bool(const QString&)> gone{"gone", &isGone};
inline constexpr LookOperation<QString(const QString&)> resolved{"resolved", &resolvedPath};
inline constexpr LookOperation<Reach(const QString&, const QString&, const FileIdentity&)> reach{"reach",
                                                                                                 &reachOf};
inline constexpr LookOperation<std::optional<QString>(const QString&, const FileIdentity&)> trashMove{
    "trashMove", &moveToTrash, true};

// The operations above, for the look server's table.
LookTable operations();

} // namespace Looks

} // namespace Platform
