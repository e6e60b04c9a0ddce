#pragma once

#include "engine/Runtime.h"
#include "platform/PreparedProcess.h"

namespace Platform {
class Cancellation;
}

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <chrono>
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
// never an inherited DOCKER_HOST, COMPOSE_PROJECT_NAME or COMPOSE_FILE. Does not start anything.
Platform::PreparedProcess process(const QStringList& args,
                                  const std::optional<Runtime>& runtime = std::nullopt,
                                  const std::optional<QString>& cwd = std::nullopt);

// Runs a command to its end and returns its output. Throws DockerError with the trimmed error output
// on a non-zero exit (or death by a signal), Platform::LaunchError when the child cannot start.
QString run(const QStringList& args, const std::optional<Runtime>& runtime = std::nullopt,
            const std::optional<QString>& cwd = std::nullopt);

// How long the calls a refresh makes may wait for an engine before it counts as not answering; the
// command is then ended with everything it started. A listing of a thousand containers takes well
// under a second, so ten seconds leave a loaded engine ample room while a hung one holds a refresh of
// all runtimes up only briefly. A compose check reads local files and resolves what they include,
// which may be fetched. Disk usage is measured by walking every volume, and a first measurement of a
// large disk can take minutes.
inline constexpr std::chrono::seconds listingLimit{10};
inline constexpr std::chrono::seconds composeCheckLimit{30};
inline constexpr std::chrono::minutes measuringLimit{5};
// One command of a removal the user waits for behind a sheet that nothing else closes (deleting a
// project, reclaiming space), and of any one-shot action (start, stop, remove, ...): compose down stops
// every container within its grace period, and volumes and images go with their data.
inline constexpr std::chrono::minutes removalLimit{10};

// What a runtime that gives no answer is reported as: "<id> is not answering.", or "The runtime is
// not answering." for the client's own current context.
QString notAnswering(const std::optional<Runtime>& runtime);

// What a command ended at its limit throws, as a command that failed: its text says so. Callers that
// can do with less tell it from the engine's refusal this way.
class TimedOut : public DockerError {
public:
    using DockerError::DockerError;
};

// What a command whose keeper died before it ended throws: it was cut off, and said nothing of what it
// was asked. Its text is the keeper's cut-off text.
class CutOff : public DockerError {
public:
    using DockerError::DockerError;
};

// Runs a command as `run` does, but ends it (and what it started) once `limit` has passed and then
// throws TimedOut with notAnswering(runtime). `cancel` may end it sooner, with the same outcome. One cut
// off with its keeper throws CutOff.
QString run(const QStringList& args, const std::optional<Runtime>& runtime, const std::optional<QString>& cwd,
            std::chrono::milliseconds limit, const Platform::Cancellation* cancel = nullptr);

// Runs a command to its end, optionally writing `input` to it, and returns status and both texts
// untrimmed. Never throws; a child that cannot start gives status -1 and the reason as `err`. With a
// `limit` it is ended once that has passed, and then reads as a failure (status -1) whose error
// output is notAnswering(runtime).
Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime = std::nullopt,
                          const std::optional<QString>& cwd = std::nullopt,
                          const std::optional<QString>& input = std::nullopt,
                          std::optional<std::chrono::milliseconds> limit = std::nullopt);

// As capture without input, but ends the command (and what it started) once `limit` has passed; it
// then reads as a failure (status -1) whose error output is notAnswering(runtime). Ended sooner by
// `cancel`, its error output is stoppedMessage().
Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                          const std::optional<QString>& cwd, std::chrono::milliseconds limit,
                          const Platform::Cancellation* cancel = nullptr);
QString stoppedMessage();

// Clients before version 23 do not know "--format json" and print the word "json" for every row, so an
// engine would look empty. Given a listing's output and how many rows were read from it, throws
// DockerError with tooOldClientMessage when some line was not read and the client is one of those;
// does nothing otherwise (and runs nothing when every line was read).
void requireJsonListing(QStringView output, qsizetype rowsRead);

// "This docker client (<version>) is too old: version 23 or later is needed." for what `docker
// --version` printed, when that names a version before 23; none for a newer or unreadable one.
std::optional<QString> tooOldClientMessage(const QString& versionOutput);

// One JSON object per line, as the client prints with "--format json"; other lines are skipped.
QList<QJsonObject> ndjson(const QString& text);

// The value under `key` when it is a JSON string, else the empty text.
QString str(const QJsonObject& object, const QString& key);
QString str(const QJsonObject& object, QLatin1StringView key);

} // namespace Docker
