#pragma once

#include "engine/Docker.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

struct ComposeProject;

namespace Platform {
class Cancellation;
}

// The outcome of checking a project's compose file: it cannot be started (the message is shown as
// it stands, possibly on several lines), or it can, with an optional warning to show beside it.
struct ComposeCheck {
    enum class Kind { Invalid, Valid };

    Kind kind = Kind::Invalid;
    QString message;                // Invalid only
    std::optional<QString> warning; // Valid only

    static ComposeCheck invalid(const QString& message) { return {Kind::Invalid, message, std::nullopt}; }
    static ComposeCheck valid(const std::optional<QString>& warning = std::nullopt)
    {
        return {Kind::Valid, QString(), warning};
    }

    bool isValid() const { return kind == Kind::Valid; }

    bool operator==(const ComposeCheck&) const = default;
};

// A project as the compose plugin resolves its file: its name, services and the names of the volumes
// it declares, all sorted. `externalVolumes` are those declared `external: true`: they belong to
// something else, so nothing that removes the project may remove them.
struct ComposeConfig {
    QString name;
    QStringList services;
    QStringList volumes;
    QStringList externalVolumes;

    bool operator==(const ComposeConfig&) const = default;
};

namespace Docker {

// Whether compose takes `name` as given after -p: lowercase letters, digits, "-" and "_", starting
// with a letter or digit. compose takes an empty -p as no name at all (the folder's own project) and
// refuses or rewrites other names, so a compose command for any other name could act on another
// project; such a project's containers are acted on one by one instead.
bool composeAcceptsName(const QString& name);

// Why no compose command is run for a project of a name compose does not take.
QString composeRefusalMessage(const QString& name);

// Where a compose command that is to read no file runs: it then goes by the containers' labels alone.
// compose looks for a file in the folder it runs in and in every folder above it; only an
// administrator can put one in the root.
QString labelsOnlyDir();

// The compose file names, most preferred first.
const QStringList& composeFileNames();

// The name (not the path) of the first compose file present in `dir`; none when there is none.
// Only existence is tested.
std::optional<QString> composeFile(const QString& dir);

// "No compose file in <dir> — looked for ...": what the check and the reader say about a directory
// without a compose file.
QString noComposeFileMessage(const QString& dir);

// One set of what compose reads a project from, as composeFilesOf names its files: the folder it runs
// in (`dir`, the project folder), the compose files and env files it is given, each beside the name its
// container's label or the registry gives it (`madeWith`, `envMadeWith`), and the services made from
// them (sorted; empty when none said).
struct ComposeFileNames {
    QStringList files;
    QStringList madeWith;
    QStringList envFiles = {};
    QStringList envMadeWith = {};
    QString dir = {};
    QStringList services = {};

    bool operator==(const ComposeFileNames&) const = default;
};
// Every set `project`'s containers were made from (those that name files or env files, in container
// order), or a remembered project was started from; none when nothing names any, and compose's own
// rules find the files in the project's folder. Looks at no disk: throws DockerError only for a folder or
// file that cannot be named exactly.
QList<ComposeFileNames> composeSetups(const ComposeProject& project);
// The first of them; without any, no files in the project's folder.
ComposeFileNames composeFileNames(const ComposeProject& project);

// The files a project's folder is looked for by, as the window and the dumps judge it ready: those a
// remembered project was started from, or those its containers were made from when the folder's own look
// would not find them (`-f stack.yml`, a file in another folder). None where the folder's usual compose
// files are its files, or a folder or file of them cannot be named exactly.
QStringList lookedForFiles(const ComposeProject& project);

// What composeFilesOf says when `missing` (of `names.files` and `names.envFiles`) are not there; none
// when none is missing.
std::optional<QString> missingComposeFilesMessage(const ComposeFileNames& names, const QStringList& missing);

// The files compose is to read for `project`: those its containers were made from, in their order
// (a relative one taken from the project's folder), so that what recreates them uses the same
// configuration, overrides and all. Of a project moved to another folder than the one its containers
// name, those that lay inside that folder are taken at the same place in the new one. Empty when its
// containers name none: compose then reads the folder's own file. Throws DockerError naming every one
// of them that is missing, because compose would make other containers without it, and naming the
// folder or file that cannot be named exactly (Docker::namesExactly), because compose would read
// another one.
QStringList composeFilesOf(const ComposeProject& project);

// "-f <file>" for each file and "--env-file <file>" for each env file, in order (a later env file wins),
// after "--project-directory <dir>"; nothing without either. Told files, compose would take the first
// one's folder for the project's, where relative paths (bind mounts, build contexts, env files) are
// read from; the containers were made in `dir`.
QStringList fileArgs(const QStringList& files, const QString& dir, const QStringList& envFiles = {});

// "Compose config did not finish within 30 seconds.": what a read or check that ran out of `limit` says.
QString composeTimeoutMessage(std::chrono::seconds limit = composeCheckLimit);

// Asks the compose plugin (on the client's current context) whether the project in `dir` can start,
// reading `files` when given, else the folder's own file (which a look server looks for first: a
// folder that does not answer fails the check), and `envFiles` when given, else the folder's .env. Never
// throws; a plugin that has not finished within composeCheckLimit is ended and the check fails. A folder or
// file that cannot be named exactly fails it without running anything.
ComposeCheck checkCompose(const QString& dir, const QStringList& files = {},
                          const QStringList& envFiles = {});

// The plugin's error output reduced to its messages, one per non-blank line; the structured form
// (... msg="...") gives the unescaped message text.
QStringList composeMessages(const QString& err);

// The warning of a successful check: the unset variables summed up in one line, then every other
// message; none when the plugin said nothing.
std::optional<QString> composeWarningSummary(const QString& err);

// The project in `dir` as the compose plugin resolves it. Throws DockerError with the no-file
// message, Platform::folderNotAnswering for a folder whose look did not answer, the plugin's own error text,
// Docker::inexactNameMessage for a folder or file that cannot be named exactly, or "Could not read a compose
// project from <dir>." (and Platform::LaunchError when no child could be started). A plugin that has not
// finished within composeCheckLimit is ended: Docker::TimedOut with composeTimeoutMessage().
ComposeConfig composeProject(const QString& dir);

// The same, resolved under the name the project's containers carry, from `files` when given (else
// the folder's own file), within `limit`; `cancel` may end it sooner, as at its limit. A project
// started under another name than its folder's (`-p`, or a renamed folder) has its volumes named after
// that name.
ComposeConfig composeProject(const QString& dir, const std::optional<QString>& projectName,
                             const QStringList& files = {}, const Platform::Cancellation* cancel = nullptr,
                             std::chrono::seconds limit = composeCheckLimit);

// The reader's second half: the plugin's JSON configuration to the project. Throws DockerError
// naming `dir` when the text is not a configuration with a name.
ComposeConfig parseComposeConfig(const QString& json, const QString& dir);

} // namespace Docker
