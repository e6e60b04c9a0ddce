#pragma once

#include "platform/FolderIdentity.h"

#include <QString>

#include <optional>

// Moving a project's folder to the user's Trash (the freedesktop Trash), where it can be restored.
namespace Platform {

// Moves the folder `folder` names to the Trash, only while it is the folder `expected` (device, inode
// and, where the file system keeps one, birth time, as the plan saw it) and Platform::trashOfferRefusal
// does not refuse it: never a system or personal folder, nor a path holding a NUL. `folder` is the
// folder's own path: a plain absolute path that no link is on, as the plan resolved it; a link anywhere
// on it now, or another folder under its name, moves nothing. The home Trash takes it, or for a folder
// on another file system that file system's own, whose record names the folder from that file system's
// top folder. The record is on the disk before the folder moves, neither ever takes the place of
// something already in the Trash, and the folder is looked at once more, by what its parent holds,
// just before it goes. None on success, otherwise the text to show: "Refused to move <folder> to the
// Trash: <reason>." for what the rule refuses, or "Could not move <folder> to the Trash: <reason>." at
// the first thing that fails (not the folder the plan showed, a name too long for the Trash's record, a
// full disk), with the folder left where it was. Nothing is retried but the next free name in the
// Trash, a bounded number of times. Looks at the disk.
std::optional<QString> moveToTrash(const QString& folder, const FileIdentity& expected);

} // namespace Platform
