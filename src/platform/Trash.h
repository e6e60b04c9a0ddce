#pragma once

#include <QString>

#include <optional>

// Moving files and folders to the user's Trash (the freedesktop Trash), where they can be restored.
namespace Platform {

// Why `path` must not go to the Trash: it is not an absolute path, or it is the root of the file
// system, the home folder or a folder that holds the home folder. Symbolic links are followed, so
// another name for one of these is refused as well. None when the path may go.
std::optional<QString> trashRefusal(const QString& path);

// Moves `path` to the Trash unless trashRefusal refuses it. None on success, otherwise the text to
// show: the refusal, or why the move failed.
std::optional<QString> moveToTrash(const QString& path);

} // namespace Platform
