#include "engine/Docker.h"

#include "platform/Json.h"
#include "platform/ProcessRunner.h"

namespace {

template <typename Key>
QString stringAt(const QJsonObject& object, Key key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
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
    if (runtime && runtime->isSocket())
        env.insert(QStringLiteral("DOCKER_HOST"), QStringLiteral("unix://") + runtime->path);
    prepared.environment = env;
    prepared.workingDirectory = cwd;
    return prepared;
}

QString run(const QStringList& args, const std::optional<Runtime>& runtime, const std::optional<QString>& cwd)
{
    const Platform::Completed done = Platform::runToEnd(process(args, runtime, cwd));
    if (!done.started)
        throw Platform::LaunchError(done.launchError);
    if (done.succeeded())
        return Platform::decodeUtf8Strict(done.out);

    QString message = Platform::decodeUtf8Strict(done.err);
    if (message.isEmpty() && !done.err.isEmpty())
        message = QStringLiteral("docker exited %1").arg(done.status());
    throw DockerError::cli(message.trimmed());
}

Platform::Capture capture(const QStringList& args, const std::optional<Runtime>& runtime,
                          const std::optional<QString>& cwd, const std::optional<QString>& input)
{
    std::optional<QByteArray> bytes;
    if (input)
        bytes = input->toUtf8();
    return Platform::capture(process(args, runtime, cwd), bytes);
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
