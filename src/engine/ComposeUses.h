#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// What another project's compose setup makes compose read on the host, and the volumes it names:
// the compose files compose would find for it, the env files it reads, the files they include or
// extend, and every path any field of them names (bind mounts, build contexts, env and label files,
// config and secret files, a seccomp profile, a volume's driver options, ...). `docker compose
// config` resolves these away, so they are read from the files themselves, as compose reads them.
namespace Docker {

// The compose files of one project as its containers or the registry name them.
struct ComposeSource {
    // The compose files it was started from: absolute, or relative to `projectDir`. None: the files
    // compose finds for it in `projectDir` (COMPOSE_FILE, else compose.yaml and its kin with their
    // override). A file "-" is standard input, which cannot be read again.
    QStringList files;
    QString projectDir;   // where its relative paths start from; may be empty
    QStringList envFiles; // the env files it was started with (--env-file); none: `.env` in projectDir
    // Its name, as its containers' label or the registry gives it: a volume it declares without a
    // name of its own is the engine's "<project>_<key>". Empty: the name compose would give it
    // started in `projectDir` without one (COMPOSE_PROJECT_NAME, its files' `name`, its folder's).
    QString project;
    // Also what compose's own rules find in `projectDir` now (COMPOSE_FILE, else compose.yaml and its
    // kin): a remembered project whose files were renamed since runs from those. A folder holding none
    // of them adds nothing.
    bool folderToo = false;

    bool operator==(const ComposeSource&) const = default;
};

// Every host path a project's compose setup names, as far as it can be known.
struct ComposeFileUses {
    // Paths compose or a container reads, with what lies below them: a bind mount or build context
    // of a parent folder sees a folder inside it. Among them every compose and env file read.
    // Absolute, as written (links and ".." left for the file system to tell).
    QStringList paths;
    // Folders an included part runs in: only what lies in them is read.
    QStringList folders;
    // The engine's names of the volumes its files declare: their own `name`, an external one's key,
    // else "<project>_<key>". A volume of another project is that project's to remove.
    QStringList volumes;
    // Why not everything could be known (a file or folder that cannot be looked at or read, is too
    // large, is not YAML, a path or name through a variable that is not set here, compose files that
    // are not found where the project has its folder): the first reason met. Then any folder may be
    // used; which volumes may be, `volumesUnknown` says.
    std::optional<QString> unknown;
    // Why the volumes it names may not all be known (a file that cannot be read or is not YAML, a
    // volume's name through a variable not set here, a limit reached): then it may name any volume.
    // `volumes` still lists every one known to be named, whatever else is unknown.
    std::optional<QString> volumesUnknown = {};
    // The variables not set here that a path or name goes through, each once, in reading order.
    QStringList unsetVariables = {};

    bool operator==(const ComposeFileUses&) const = default;
};

// Reads `source`'s compose setup from the disk, as compose would. Only what is plainly not there
// (ENOENT, ENOTDIR) names nothing: a project whose folder and files are gone uses nothing; anything
// else that cannot be looked at or read makes its uses and its volumes unknown. Interpolation takes a
// variable from `shell` (the environment compose was most likely started with, shellVariables), else
// from the project's env files; a path through one set in neither (and without a default) is known up
// to the folder before it, and unknown when nothing before it is. Nothing unknown stops the reading:
// every other path and volume is still gathered. Looks at the disk: run it as a folder look.
ComposeFileUses composeFileUses(const ComposeSource& source, const QHash<QString, QString>& shell);

// The host paths a volume's driver options name: the device and every path among the mount options
// ("o=bind", "o=rbind", an overlay's "lowerdir=/a:/b,upperdir=/c,workdir=/d"), whatever the type and
// flags, sorted. Relative ones are left as they are.
QStringList optionPaths(const QHash<QString, QString>& options);

} // namespace Docker
