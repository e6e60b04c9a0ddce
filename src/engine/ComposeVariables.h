#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>

// The variables compose fills into a project's files when it reads them.
namespace Docker {

// The text with compose's `${VAR}`, `${VAR:-default}`, `${VAR-default}`, `${VAR:?error}`,
// `${VAR:+other}`, `$VAR` and `$$` forms filled in from `env`; none past the first variable that cannot
// be filled in, with `known` holding what came before it. An unset variable with a default takes the
// default; one without, or one compose would have refused to start without, cannot be filled in.
std::optional<QString> interpolated(QStringView text, const QHash<QString, QString>& env,
                                    QString* known = nullptr);

// The bytes of the plain file at `path`, when it is no larger than a compose or env file can be; none
// for anything else (a pipe in a file's place is not opened: that would wait for a writer). Looks at
// the disk.
std::optional<QByteArray> smallFileContents(const QString& path);

// The `KEY=value` lines of an env file (`export`, quotes and comments as compose takes them); nothing
// for a file that is not there or cannot be read. Looks at the disk.
QHash<QString, QString> envFileValues(const QString& path);

// The process's own environment: what a shell that started compose would most likely have had.
QHash<QString, QString> shellVariables();

} // namespace Docker
