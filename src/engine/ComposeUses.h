#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// What another project's compose files make compose read on the host: the files they include or
// extend, env files, build contexts, bind-mount sources, config and secret files. `docker compose
// config` resolves these away, so they are read from the files themselves.
namespace Docker {

// The compose files of one project as its containers or the registry name them.
struct ComposeSource {
    QStringList files;    // absolute; none: the compose files compose would find in `projectDir`
    QString projectDir;   // where its relative paths start from; may be empty
    QStringList envFiles; // the env files it was started with (--env-file); none: `.env` in projectDir

    bool operator==(const ComposeSource&) const = default;
};

// Every host path a project's compose files name, as far as they can be known.
struct ComposeFileUses {
    // Paths compose or a container reads, with what lies below them: a bind mount or build context
    // of a parent folder sees a folder inside it. Absolute, as written (links and ".." left for the
    // file system to tell).
    QStringList paths;
    // Folders an included part runs in: only what lies in them is read.
    QStringList folders;
    // Why not every path could be known (a file that cannot be read or is not YAML, a path through a
    // variable that is not set here); then any folder may be used.
    std::optional<QString> unknown;

    bool operator==(const ComposeFileUses&) const = default;
};

// Reads `source`'s compose files, and every file they include or extend, from the disk. A file that is
// not there names nothing (compose could not read it either). Interpolation takes a variable from
// `shell` (the environment compose was most likely started with, shellVariables), else from the
// project's env files; a path through one set in neither (and without a default) is known up to the
// folder before it, and unknown when nothing before it is. Looks at the disk: run it as a folder look.
ComposeFileUses composeFileUses(const ComposeSource& source, const QHash<QString, QString>& shell);

// The host paths a volume's driver options name: the device and every path among the mount options
// ("o=bind", "o=rbind", an overlay's "lowerdir=/a:/b,upperdir=/c,workdir=/d"), whatever the type and
// flags, sorted. Relative ones are left as they are.
QStringList optionPaths(const QHash<QString, QString>& options);

} // namespace Docker
