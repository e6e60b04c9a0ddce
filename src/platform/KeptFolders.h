#pragma once

#include "platform/FolderIdentity.h"

#include <QList>
#include <QString>

#include <optional>

// The folders that are never moved to the Trash, whoever uses them and whatever a plan says: the
// system's own and the user's own. Parts of Platform::trashOfferRefusal, the one rule of both the offer
// and the move itself.
namespace Platform {

// Why the absolute, clean path `path` is a folder of the system's own, by its text alone: a folder
// directly under the root; one at any depth in the system's trees (/usr, /etc, /boot, /bin, /sbin,
// /lib*, /proc, /sys, /dev, /run but for removable media under /run/media/<user>/, and /var's own:
// /var/lib, /var/cache, /var/log, ...); a folder directly in /var, /home, /media or /mnt. None for any
// other, and for the root itself. What lies in /opt and /srv is told by sharedTreeRefusal.
std::optional<QString> systemFolderReason(const QString& path);

// Why a folder in one of `trees` (/opt and /srv, where programs are installed and many keep their
// projects) must stay: it is the tree itself, or it has no compose file of its own at its top. A
// project's own folder there is judged as any other. Reached by any name, links and binds too. Looks
// at the disk.
std::optional<QString> sharedTreeRefusal(const QString& label, const QStringList& trees);

// A place of the user's, or of Voskel's, that must stay where it is, and what it is, as the user knows
// it ("your Documents folder", "the home folder of alice").
struct KeptPlace {
    QString path;
    QString what;

    bool operator==(const KeptPlace&) const = default;
};

// Every kept place of this process as it runs now: the home folders of all accounts in the password
// database, the XDG base folders (XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_STATE_HOME,
// XDG_RUNTIME_DIR, each with its default), the user's Desktop, Documents, Downloads and kin, Voskel's
// own settings, data and cache folders, and the folder of the running program. The current home
// folder is Platform::trashOfferRefusal's own, and not among them. Looks at the environment and the
// password database.
QList<KeptPlace> keptPlaces();

// Why the folder `label` names (a plain absolute path) is a system folder: by systemFolderReason of the
// path as written and of the path with every link resolved, and by identity with the system's trees,
// so that a link or a bind to one is kept as well. Looks at the disk.
std::optional<QString> systemFolderRefusal(const QString& label);

// Why the folder whose identity is `identity` must stay: it is one of `places`, or holds one (by
// identity, so through links and binds too; a place not made yet is taken from the nearest folder above
// it that is). Looks at the disk.
std::optional<QString> personalFolderRefusal(const FileIdentity& identity, const QList<KeptPlace>& places);

} // namespace Platform
