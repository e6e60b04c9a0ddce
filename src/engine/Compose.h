#pragma once

#include <QString>
#include <QStringList>

#include <optional>

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

// The compose file names, most preferred first.
const QStringList& composeFileNames();

// The name (not the path) of the first compose file present in `dir`; none when there is none.
// Only existence is tested.
std::optional<QString> composeFile(const QString& dir);

// "No compose file in <dir> — looked for ...": what the check and the reader say about a directory
// without a compose file.
QString noComposeFileMessage(const QString& dir);

// Asks the compose plugin (on the client's current context) whether the project in `dir` can start.
// Never throws; a plugin that has not finished within composeCheckLimit is ended and the check fails.
ComposeCheck checkCompose(const QString& dir);

// The plugin's error output reduced to its messages, one per non-blank line; the structured form
// (... msg="...") gives the unescaped message text.
QStringList composeMessages(const QString& err);

// The warning of a successful check: the unset variables summed up in one line, then every other
// message; none when the plugin said nothing.
std::optional<QString> composeWarningSummary(const QString& err);

// The project in `dir` as the compose plugin resolves it. Throws DockerError with the no-file
// message, the plugin's own error text, or "Could not read a compose project from <dir>." (and
// Platform::LaunchError when no child could be started).
ComposeConfig composeProject(const QString& dir);

// The same, resolved under the name the project's containers carry. A project started under another
// name than its folder's (`-p`, or a renamed folder) has its volumes named after that name, and only
// these names say which volumes are the project's.
ComposeConfig composeProject(const QString& dir, const QString& projectName);

// The reader's second half: the plugin's JSON configuration to the project. Throws DockerError
// naming `dir` when the text is not a configuration with a name.
ComposeConfig parseComposeConfig(const QString& json, const QString& dir);

} // namespace Docker
