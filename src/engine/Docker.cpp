#include "engine/Docker.h"

#include "platform/Json.h"
#include "platform/ProcessRunner.h"
#include "platform/TimedRunner.h"

#include <QRegularExpression>

namespace {

template <typename Key>
QString stringAt(const QJsonObject& object, Key key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

// The output of a command that ran to its end, or what its failure throws.
QString outputOf(const Platform::Completed& done)
{
    if (!done.started)
        throw Platform::LaunchError(done.launchError);
    if (done.succeeded())
        return Platform::decodeUtf8Strict(done.out);

    QString message = Platform::decodeUtf8Strict(done.err);
    if (message.isEmpty() && !done.err.isEmpty())
        message = QStringLiteral("docker exited %1").arg(done.status());
    throw DockerError::cli(message.trimmed());
}

} // namespace

namespace Docker {

Platform::PreparedProcess process(const QStringList& args, const std::optional<Runtime>& runtime,
                                  const std::optional<QString>& cwd)
{
    Platform::PreparedProcess prepared;
    prepared.program = QStringLiteral("/usr/bin/env");
    prepared.arguments << QStringLiteral("docker");
    if (runtime && runtime->isContext())
        prepared.arguments << QStringLiteral("--context") << runtime->name;
    prepared.arguments << args;

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), Platform::childSearchPath(Platform::homebrewBinDirectories(),
                                                                 env.value(QStringLiteral("PATH"))));
    env.remove(QStringLiteral("DOCKER_HOST"));
    // Which compose project a folder is, and which file it is read from, is the folder's own (its
    // compose file, its .env) or what we pass: never what the shell the application was started from
    // had set for another project.
    env.remove(QStringLiteral("COMPOSE_PROJECT_NAME"));
    env.remove(QStringLiteral("COMPOSE_FILE"));
    if (runtime && runtime->isSocket())
        env.insert(QStringLiteral("DOCKER_HOST"), QStringLiteral("unix://") + runtime->path);
    prepared.environment = env;
    prepared.workingDirectory = cwd;
    return prepared;
}

QString run(const QStringList& args, const std::optional<Runtime>& runtime, const std::optional<QString>& cwd)
{
    return outputOf(Platform::runToEnd(process(args, runtime, cwd)));
}

QString run(const QStringList& args, const std::optional<Runtime>& runtime, const std::optional<QString>& cwd,
            std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(process(args, runtime, cwd), limit, std::chrono::seconds(2), cancel);
    if (done.timedOut)
        throw TimedOut(notAnswering(runtime));
    if (done.cancelled)
        throw TimedOut(stoppedMessage());
    if (done.run.cutOff)
        throw CutOff(Platform::decodeUtf8Strict(done.run.err).section(u'\n', 0, 0));
    return outputOf(done.run);
}

QString notAnswering(const std::optional<Runtime>& runtime)
{
    return runtime ? runtime->id() + QStringLiteral(" is not answering.")
                   : QStringLiteral("The runtime is not answering.");
}

Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                          const std::optional<QString>& cwd, const std::optional<QString>& input,
                          std::optional<std::chrono::milliseconds> limit)
{
    std::optional<QByteArray> bytes;
    if (input)
        bytes = input->toUtf8();
    const Platform::TimedCompletion done = Platform::runWithin(process(args, runtime, cwd), bytes, limit);
    if (done.timedOut)
        return {-1, Platform::decodeUtf8Strict(done.run.out), notAnswering(runtime)};
    return Platform::capturedFrom(done.run);
}

Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                          const std::optional<QString>& cwd, std::chrono::milliseconds limit,
                          const Platform::Cancellation* cancel)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(process(args, runtime, cwd), limit, std::chrono::seconds(2), cancel);
    if (done.timedOut || done.cancelled)
        return {-1, Platform::decodeUtf8Strict(done.run.out),
                done.timedOut ? notAnswering(runtime) : stoppedMessage()};
    return Platform::capturedFrom(done.run);
}

QString stoppedMessage()
{
    return QStringLiteral("Stopped before it finished.");
}

void requireJsonListing(QStringView output, qsizetype rowsRead)
{
    qsizetype lines = 0;
    for (const QStringView line : output.tokenize(u'\n', Qt::SkipEmptyParts))
        if (!line.trimmed().isEmpty())
            ++lines;
    if (lines <= rowsRead)
        return;
    QString version;
    try {
        version = run({QStringLiteral("--version")}, std::nullopt, std::nullopt, listingLimit);
    } catch (...) {
        return; // nothing to tell; the unreadable lines are skipped as ever
    }
    if (const std::optional<QString> message = tooOldClientMessage(version))
        throw DockerError::cli(*message);
}

std::optional<QString> tooOldClientMessage(const QString& versionOutput)
{
    // "Docker version 20.10.24+dfsg1, build 297e128"
    static const QRegularExpression pattern(QStringLiteral(R"(version\s+v?((\d+)\.[^\s,]*))"));
    const QRegularExpressionMatch match = pattern.match(versionOutput);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int major = match.captured(2).toInt(&ok);
    if (!ok || major >= 23)
        return std::nullopt;
    return QStringLiteral("This docker client (%1) is too old: version 23 or later is needed.")
        .arg(match.captured(1));
}

QList<QJsonObject> ndjson(const QString& text)
{
    return Platform::jsonObjectLines(text);
}

QString str(const QJsonObject& object, const QString& key)
{
    return stringAt(object, key);
}

QString str(const QJsonObject& object, QLatin1StringView key)
{
    return stringAt(object, key);
}

} // namespace Docker
