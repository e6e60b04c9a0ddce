#pragma once

#include "engine/Runtime.h"
#include "platform/PreparedProcess.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <exception>
#include <optional>

// The failure of a docker command, carrying the text shown to the user (usually the client's
// trimmed error output).
class DockerError : public std::exception {
public:
    explicit DockerError(const QString& text) : m_text(text), m_utf8(text.toUtf8()) {}

    static DockerError cli(const QString& text) { return DockerError(text); }

    const QString& errorDescription() const { return m_text; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

namespace Docker {

// Prepares `docker <args>` for a runtime: "--context <name>" for a context, DOCKER_HOST for a socket,
// never an inherited DOCKER_HOST. Does not start anything.
Platform::PreparedProcess process(const QStringList& args, const std::optional<Runtime>& runtime = std::nullopt,
                              const std::optional<QString>& cwd = std::nullopt);

// Runs a command to its end and returns its output. Throws DockerError with the trimmed error output
// on a non-zero exit (or death by a signal), Platform::LaunchError when the child cannot start.
QString run(const QStringList& args, const std::optional<Runtime>& runtime = std::nullopt,
            const std::optional<QString>& cwd = std::nullopt);

// Runs a command to its end, optionally writing `input` to it, and returns status and both texts
// untrimmed. Never throws; a child that cannot start gives status -1 and the reason as `err`.
Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime = std::nullopt,
                          const std::optional<QString>& cwd = std::nullopt,
                          const std::optional<QString>& input = std::nullopt);

// One JSON object per line, as the client prints with "--format json"; other lines are skipped.
QList<QJsonObject> ndjson(const QString& text);

// The value under `key` when it is a JSON string, else the empty text.
QString str(const QJsonObject& object, const QString& key);
QString str(const QJsonObject& object, QLatin1StringView key);

} // namespace Docker
