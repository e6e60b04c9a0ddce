#pragma once

#include <QString>

#include <optional>

// Moving files and folders to the user's Trash (the freedesktop Trash), where they can be restored.
namespace Platform {

// Why `path` must not go to the Trash: it is not an absolute path, or it is the root of the file
// system, the home folder, a folder that holds the home folder, or where a file system is mounted or
// bound. Symbolic links are followed, so another name for one of these is refused as well. None when
// the path may go.
std::optional<QString> trashRefusal(const QString& path);

// Moves `path` to the Trash unless trashRefusal refuses it (then before anything is made): the home
// Trash, or for an item on another file system that file system's own, whose record names the item
// from that file system's top folder. The record is on the disk before the item moves, and neither
// ever takes the place of something already in the Trash. None on success, otherwise the text to
// show: the refusal, or "Could not move <path> to the Trash: <reason>." at the first thing that fails
// (a name too long for the Trash's record, a full disk), with the item left where it was. Nothing is
// retried but the next free name in the Trash, a bounded number of times.
std::optional<QString> moveToTrash(const QString& path);

} // namespace Platform
