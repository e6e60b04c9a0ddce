#include "engine/Compose.h"

#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Docker.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/Json.h"
#include "platform/ProcessRunner.h"
#include "platform/TimedRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>

namespace {

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

// The message of one trimmed line: the quoted msg= field of the plugin's structured form with its
// escapes undone, else the whole line.
QString messageOf(const QString& line)
{
    static const QString marker = QStringLiteral("msg=\"");
    const qsizetype at = line.indexOf(marker);
    if (at < 0)
        return line;
    const qsizetype from = at + marker.size();
    const qsizetype lastQuote = line.lastIndexOf(u'"');
    if (lastQuote < from)
        return line;
    QString message = line.mid(from, lastQuote - from);
    message.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    message.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return message;
}

// The variable an unset-variable warning names, if it names one between its first two quotes.
std::optional<QString> unsetVariable(const QString& message)
{
    if (!message.contains(QStringLiteral("variable is not set")))
        return std::nullopt;
    const qsizetype open = message.indexOf(u'"');
    if (open < 0)
        return std::nullopt;
    const qsizetype close = message.indexOf(u'"', open + 1);
    if (close < 0 || close == open + 1)
        return std::nullopt;
    return message.mid(open + 1, close - open - 1);
}

// A volume entry's engine name: its "name" when it has one, else its key in the file.
QString volumeName(const QString& key, const QJsonValue& value)
{
    const QJsonValue name = value.toObject().value(QLatin1StringView("name"));
    return name.isString() ? name.toString() : key;
}

// compose writes `external: true`; the older `external: {name: ...}` form counts as external too, so
// that nothing ever takes such a volume for the project's own.
bool isExternal(const QJsonValue& value)
{
    const QJsonValue external = value.toObject().value(QLatin1StringView("external"));
    return (external.isBool() && external.toBool()) || external.isObject();
}

// compose told a path that cannot be named exactly would read whatever bears that name instead.
std::optional<QString> inexactPath(const QString& dir, const QStringList& files)
{
    for (const QString& path : QStringList{dir} + files)
        if (!Docker::namesExactly(path))
            return Docker::inexactNameMessage(path) + QStringLiteral(" compose is not run with it.");
    return std::nullopt;
}

// Why compose is not run in `dir` on `files`: a folder or file that cannot be named exactly, or, told no
// files, a folder without a compose file of its own, or one whose look server has not answered within
// the time a folder is given (or `cancel`, may be null, ended the wait). None when it may run.
std::optional<QString> notToBeRun(const QString& dir, const QStringList& files,
                                  const Platform::Cancellation* cancel)
{
    if (const auto inexact = inexactPath(dir, files))
        return inexact;
    if (!files.isEmpty())
        return std::nullopt;
    // Never the application's own folder.
    if (dir.isEmpty())
        return Docker::noComposeFileMessage(dir);
    const std::optional<std::optional<QString>> found =
        Platform::startFolderLook(dir, Docker::Looks::composeFile(dir))
            .wait(Platform::folderAnswerLimit, cancel);
    if (!found)
        return Platform::folderNotAnswering(dir);
    if (!*found)
        return Docker::noComposeFileMessage(dir);
    return std::nullopt;
}

} // namespace

namespace Docker {

bool composeAcceptsName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool alnum = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
        if (!alnum && (i == 0 || (c != u'-' && c != u'_')))
            return false;
    }
    return true;
}

QString composeRefusalMessage(const QString& name)
{
    const QString why =
        name.isEmpty()
            ? QStringLiteral("This project has no name, and compose takes a project without one for that "
                             "of the folder it runs in")
            : QStringLiteral(
                  "Compose does not take \u201c%1\u201d as a project name (it takes lowercase "
                  "letters, digits, \u201c-\u201d and \u201c_\u201d, starting with a letter or digit)")
                  .arg(name);
    return why +
           QStringLiteral(", so Voskel runs no compose command for it: Up, Rebuild and Project logs are not "
                          "available. Down and Delete remove its containers one by one.");
}

QString labelsOnlyDir()
{
    return QDir::rootPath();
}

const QStringList& composeFileNames()
{
    static const QStringList names{QStringLiteral("compose.yaml"), QStringLiteral("compose.yml"),
                                   QStringLiteral("docker-compose.yaml"),
                                   QStringLiteral("docker-compose.yml")};
    return names;
}

std::optional<QString> composeFile(const QString& dir)
{
    if (dir.isEmpty())
        return std::nullopt;
    const QDir directory(dir);
    for (const QString& name : composeFileNames())
        if (QFileInfo::exists(directory.filePath(name)))
            return name;
    return std::nullopt;
}

QString noComposeFileMessage(const QString& dir)
{
    return QStringLiteral("No compose file in %1 \u2014 looked for %2.")
        .arg(dir, composeFileNames().join(QStringLiteral(", ")));
}

ComposeFileNames composeFileNames(const ComposeProject& project)
{
    if (const auto inexact = inexactPath(project.workingDir.value_or(QString()), {}))
        throw DockerError::cli(*inexact);
    const auto maker = std::find_if(project.containers.cbegin(), project.containers.cend(),
                                    [](const Container& c) { return !c.configFiles().isEmpty(); });
    if (maker == project.containers.cend()) {
        // Remembered: what it was last started from, taken from its folder as it was then.
        ComposeFileNames names;
        for (const QString& named : project.rememberedFiles) {
            const QString file = QDir::isRelativePath(named) && project.workingDir
                                     ? QDir(*project.workingDir).filePath(named)
                                     : named;
            if (const auto inexact = inexactPath(QString(), {file}))
                throw DockerError::cli(*inexact);
            names.files << file;
            names.madeWith << named;
        }
        return names;
    }
    // Moved: the folder the user located once the one the containers were made in was gone.
    const std::optional<QString> madeIn = maker->workingDir();
    const bool moved = madeIn && !madeIn->isEmpty() && project.workingDir &&
                       QDir::cleanPath(*madeIn) != QDir::cleanPath(*project.workingDir);
    ComposeFileNames names;
    for (const QString& named : maker->configFiles()) {
        QString file = QDir::isRelativePath(named) && project.workingDir
                           ? QDir(*project.workingDir).filePath(named)
                           : named;
        if (moved && !QDir::isRelativePath(named)) {
            const QString inside = QDir(*madeIn).relativeFilePath(named);
            if (QDir::isRelativePath(inside) && inside != u".." &&
                !inside.startsWith(QLatin1StringView("../")))
                file = QDir(*project.workingDir).filePath(inside);
        }
        if (const auto inexact = inexactPath(QString(), {file}))
            throw DockerError::cli(*inexact);
        names.files << file;
        names.madeWith << named;
    }
    return names;
}

std::optional<QString> missingComposeFilesMessage(const ComposeFileNames& names, const QStringList& missing)
{
    if (missing.isEmpty())
        return std::nullopt;
    QStringList madeWith;
    for (qsizetype i = 0; i < names.files.size(); ++i)
        if (missing.contains(names.files[i]))
            madeWith << names.madeWith.value(i);
    const bool one = missing.size() == 1;
    const QString list = missing.join(QStringLiteral(", "));
    const QString what = one ? QStringLiteral("The compose file %1 is missing.").arg(list)
                             : QStringLiteral("The compose files %1 are missing.").arg(list);
    const QString it = one ? QStringLiteral("it") : QStringLiteral("them");
    // Moved: where they were, which says what is to be brought along.
    if (madeWith != missing)
        return what + QStringLiteral(
                          " The project's containers were made with %1, so compose is not run without %2.")
                          .arg(madeWith.join(QStringLiteral(", ")), it);
    return what +
           QStringLiteral(" The project's containers were made with %1, so compose is not run without %1.")
               .arg(it);
}

QStringList composeFilesOf(const ComposeProject& project)
{
    const ComposeFileNames names = composeFileNames(project);
    QStringList missing;
    for (const QString& file : names.files)
        if (!QFileInfo::exists(file))
            missing << file;
    if (const std::optional<QString> message = missingComposeFilesMessage(names, missing))
        throw DockerError::cli(*message);
    return names.files;
}

QStringList fileArgs(const QStringList& files, const QString& dir)
{
    QStringList args;
    if (!files.isEmpty())
        args << QStringLiteral("--project-directory") << dir;
    for (const QString& file : files)
        args << QStringLiteral("-f") << file;
    return args;
}

QString composeTimeoutMessage(std::chrono::seconds limit)
{
    return QStringLiteral("Compose config did not finish within %1 seconds.").arg(limit.count());
}

ComposeCheck checkCompose(const QString& dir, const QStringList& files)
{
    if (const std::optional<QString> why = notToBeRun(dir, files, nullptr))
        return ComposeCheck::invalid(*why);
    const Platform::TimedCompletion timed =
        Platform::runTimed(process(QStringList{QStringLiteral("compose")} + fileArgs(files, dir) +
                                       QStringList{QStringLiteral("config"), QStringLiteral("-q")},
                                   std::nullopt, dir),
                           composeCheckLimit);
    if (timed.timedOut)
        return ComposeCheck::invalid(composeTimeoutMessage());
    const Platform::Completed& done = timed.run;
    if (!done.started)
        return ComposeCheck::invalid(done.launchError);
    const QString err = Platform::decodeUtf8Strict(done.err);
    if (done.succeeded())
        return ComposeCheck::valid(composeWarningSummary(err));
    const QString messages = composeMessages(err).join(u'\n');
    if (!messages.isEmpty())
        return ComposeCheck::invalid(messages);
    return ComposeCheck::invalid(QStringLiteral("compose config exited %1.").arg(done.status()));
}

QStringList composeMessages(const QString& err)
{
    QStringList messages;
    for (const QStringView piece : QStringView(err).split(u'\n', Qt::SkipEmptyParts)) {
        const QString line = trimBlanks(piece);
        if (!line.isEmpty())
            messages << messageOf(line);
    }
    return messages;
}

std::optional<QString> composeWarningSummary(const QString& err)
{
    QStringList names;
    QStringList others;
    for (const QString& message : composeMessages(err)) {
        // The plugin warns once per use of a variable; a variable used twice is still one.
        if (const auto name = unsetVariable(message)) {
            if (!names.contains(*name))
                names << *name;
        } else {
            others << message;
        }
    }
    QStringList lines;
    if (names.size() == 1)
        lines << names.first() +
                     QStringLiteral(
                         " has no value; compose substituted an empty string. Check the .env beside "
                         "the compose file.");
    else if (names.size() > 1)
        lines << QString::number(names.size()) + QStringLiteral(" variables have no value: ") +
                     names.join(QStringLiteral(", ")) +
                     QStringLiteral(
                         ". compose substituted empty strings. Check the .env beside the compose file.");
    lines << others;
    if (lines.isEmpty())
        return std::nullopt;
    return lines.join(u'\n');
}

namespace {

// A .env that is a named pipe, or an include on a hung network share, holds compose up for good.
ComposeConfig readComposeProject(const QString& dir, const std::optional<QString>& projectName,
                                 const QStringList& files, const Platform::Cancellation* cancel,
                                 std::chrono::seconds limit)
{
    if (const std::optional<QString> why = notToBeRun(dir, files, cancel))
        throw DockerError::cli(*why);
    QStringList projectArgs;
    if (projectName)
        projectArgs << QStringLiteral("-p") << *projectName;
    QString json;
    try {
        json =
            run(QStringList{QStringLiteral("compose")} + projectArgs + fileArgs(files, dir) +
                    QStringList{QStringLiteral("config"), QStringLiteral("--format"), QStringLiteral("json")},
                std::nullopt, dir, limit, cancel);
    } catch (const TimedOut&) {
        throw TimedOut(composeTimeoutMessage(limit));
    }
    return parseComposeConfig(json, dir);
}

} // namespace

ComposeConfig composeProject(const QString& dir)
{
    return readComposeProject(dir, std::nullopt, {}, nullptr, composeCheckLimit);
}

ComposeConfig composeProject(const QString& dir, const std::optional<QString>& projectName,
                             const QStringList& files, const Platform::Cancellation* cancel,
                             std::chrono::seconds limit)
{
    return readComposeProject(dir, projectName, files, cancel, limit);
}

ComposeConfig parseComposeConfig(const QString& json, const QString& dir)
{
    // Anything but an object reads as an empty one, which has no name.
    const QJsonObject resolved = Platform::parseJson(json).toObject();
    const QJsonValue name = resolved.value(QLatin1StringView("name"));
    if (!name.isString() || name.toString().isEmpty())
        throw DockerError::cli(QStringLiteral("Could not read a compose project from %1.").arg(dir));

    ComposeConfig config;
    config.name = name.toString();
    config.services = sorted(resolved.value(QLatin1StringView("services")).toObject().keys());
    const QJsonObject volumes = resolved.value(QLatin1StringView("volumes")).toObject();
    for (auto it = volumes.begin(); it != volumes.end(); ++it) {
        const QString volume = volumeName(it.key(), it.value());
        config.volumes << volume;
        if (isExternal(it.value()))
            config.externalVolumes << volume;
    }
    std::sort(config.volumes.begin(), config.volumes.end());
    std::sort(config.externalVolumes.begin(), config.externalVolumes.end());
    return config;
}

} // namespace Docker
