#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Looks at the disk for the choosers and the save panel: what a folder holds, a folder made, where a
// file would be saved, the file written, and the places a chooser offers. Each takes and gives plain
// values and may be held up for good by a mount that stalls, so each is run off the window's thread
// through Platform::lookAtFolderFor or lookAtDisk, never called there.
namespace Platform {

struct FolderListing {
    bool isFolder = false; // the path names a folder whose entries could be read
    QStringList folders;   // by name, hidden ones too, in the order a person sorts them
    QStringList files;     // only when asked for

    bool operator==(const FolderListing&) const = default;
};

// The folders in `folder` (links to folders count), and with `withFiles` the other entries too.
FolderListing listFolder(const QString& folder, bool withFiles);

// Makes the folder `name` in `parent`; whether it is there now as a new folder.
bool makeFolder(const QString& parent, const QString& name);

// Whether `path` names a folder, its links followed.
bool isFolder(const QString& path);

struct SaveTarget {
    bool exists = false;         // something is at the path
    bool isFolder = false;       // and it is a folder
    bool parentIsFolder = false; // the folder it would go in is there

    bool operator==(const SaveTarget&) const = default;
};

SaveTarget lookAtSaveTarget(const QString& path);

// Writes `text` to `path` as UTF-8, all or nothing: what was there stays whole if the write fails.
// None when written, else why not.
std::optional<QString> writeTextFile(const QString& path, const QString& text);

struct Bookmarks {
    QStringList paths; // local folders only, as the file lists them
    QStringList names; // each one's label, else its folder's name

    bool operator==(const Bookmarks&) const = default;
};

// The folders bookmarked in a GTK bookmarks file (one "file://" address a line, a label after a blank).
// Nothing when the file is missing or unreadable; the folders themselves are not looked at.
Bookmarks readBookmarks(const QString& file);

// Where removable and other drives are mounted, from this process's mount table: /media/<drive> or
// /media/<user>/<drive>, /run/media/<user>/<drive>, /mnt and /mnt/<drive>. Sorted.
QStringList mountedDrives(const QString& user);
// The same among the mount points given.
QStringList drivesAmong(const QStringList& mountPoints, const QString& user);

} // namespace Platform
