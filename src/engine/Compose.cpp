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

namespace {

// A file a label or the registry names, as compose is to be given it: a relative one from `dir`; of a
// project moved from `madeIn` to `dir`, one that lay inside the old folder at the same place in the new.
QString fileToGive(const QString& named, const QString& dir, const std::optional<QString>& madeIn)
{
    QString file = QDir::isRelativePath(named) && !dir.isEmpty() ? QDir(dir).filePath(named) : named;
    if (madeIn && !QDir::isRelativePath(named)) {
        const QString inside = QDir(*madeIn).relativeFilePath(named);
        if (QDir::isRelativePath(inside) && inside != u".." && !inside.startsWith(QLatin1StringView("../")))
            file = QDir(dir).filePath(inside);
    }
    if (const auto inexact = inexactPath(QString(), {file}))
        throw DockerError::cli(*inexact);
    return file;
}

// One set as compose is to read it, in `dir`; `madeIn` the folder it was made in, when the project was
// moved from there.
ComposeFileNames namesIn(const QStringList& files, const QStringList& envFiles, const QString& dir,
                         const std::optional<QString>& madeIn, const QStringList& services)
{
    if (const auto inexact = inexactPath(dir, {}))
        throw DockerError::cli(*inexact);
    ComposeFileNames names;
    names.dir = dir;
    names.services = services;
    for (const QString& named : files) {
        names.files << fileToGive(named, dir, madeIn);
        names.madeWith << named;
    }
    for (const QString& named : envFiles) {
        names.envFiles << fileToGive(named, dir, madeIn);
        names.envMadeWith << named;
    }
    return names;
}

// "The compose file <f> is missing. The project's containers were made with it, ...", of the files of
// `files` (named `madeWith`) that are among `missing`; none when none is.
std::optional<QString> missingOfKind(const QString& kind, const QStringList& files,
                                     const QStringList& madeWith, const QStringList& missing)
{
    QStringList gone;
    QStringList goneMadeWith;
    for (qsizetype i = 0; i < files.size(); ++i)
        if (missing.contains(files[i]) && !gone.contains(files[i])) {
            gone << files[i];
            goneMadeWith << madeWith.value(i);
        }
    if (gone.isEmpty())
        return std::nullopt;
    const bool one = gone.size() == 1;
    const QString list = gone.join(QStringLiteral(", "));
    const QString what = one ? QStringLiteral("The %1 %2 is missing.").arg(kind, list)
                             : QStringLiteral("The %1s %2 are missing.").arg(kind, list);
    const QString it = one ? QStringLiteral("it") : QStringLiteral("them");
    // Moved: where they were, which says what is to be brought along.
    if (goneMadeWith != gone)
        return what + QStringLiteral(
                          " The project's containers were made with %1, so compose is not run without %2.")
                          .arg(goneMadeWith.join(QStringLiteral(", ")), it);
    return what +
           QStringLiteral(" The project's containers were made with %1, so compose is not run without %1.")
               .arg(it);
}

} // namespace

QList<ComposeFileNames> composeSetups(const ComposeProject& project)
{
    const QString folder = project.workingDir.value_or(QString());
    if (const auto inexact = inexactPath(folder, {}))
        throw DockerError::cli(*inexact);
    QList<ComposeFileNames> setups;
    if (project.containers.isEmpty()) {
        // Remembered: what it was last started from, each set in the folder it was started in then.
        for (const StartedFrom& from : project.startedFrom) {
            const QString dir = from.projectDir.isEmpty() ? folder : from.projectDir;
            setups << namesIn(joinedFiles(from.files, from.projectDir),
                              joinedFiles(from.envFiles, from.projectDir), dir, std::nullopt, from.services);
        }
        return setups;
    }
    // Moved: the folder the user located once the ones the containers were made in were gone, which
    // none of them names.
    const QStringList madeIn = project.containerFolders();
    const bool moved = !folder.isEmpty() && !madeIn.isEmpty() &&
                       std::none_of(madeIn.cbegin(), madeIn.cend(), [&](const QString& dir) {
                           return QDir::cleanPath(dir) == QDir::cleanPath(folder);
                       });
    QList<QStringList> seen; // the labels of each set, as setups has them
    for (const Container& container : project.containers) {
        const QStringList files = container.configFiles();
        const QStringList envFiles = container.envFiles();
        if (files.isEmpty() && envFiles.isEmpty())
            continue;
        const std::optional<QString> dir = container.workingDir();
        const QStringList key{container.labels.value(QString::fromLatin1(configFilesLabel)),
                              dir.value_or(QString()),
                              container.labels.value(QString::fromLatin1(environmentFileLabel))};
        if (const qsizetype same = seen.indexOf(key); same >= 0) {
            ComposeFileNames& names = setups[same];
            if (const auto service = container.service(); service && !names.services.contains(*service)) {
                names.services << *service;
                names.services.sort();
            }
            continue;
        }
        seen << key;
        const std::optional<QString> from = moved && dir && !dir->isEmpty() ? dir : std::nullopt;
        const QString runIn = moved || !dir || dir->isEmpty() ? folder : *dir;
        const std::optional<QString> service = container.service();
        setups << namesIn(files, envFiles, runIn, from, service ? QStringList{*service} : QStringList());
    }
    return setups;
}

ComposeFileNames composeFileNames(const ComposeProject& project)
{
    const QList<ComposeFileNames> setups = composeSetups(project);
    if (setups.isEmpty())
        return ComposeFileNames{{}, {}, {}, {}, project.workingDir.value_or(QString())};
    return setups.first();
}

QStringList lookedForFiles(const ComposeProject& project)
{
    if (const QStringList remembered = project.rememberedFiles(); !remembered.isEmpty())
        return remembered;
    QStringList files;
    try {
        files = composeFileNames(project).files;
    } catch (const DockerError&) {
        return {};
    }
    const QString dir = QDir::cleanPath(project.workingDir.value_or(QString()));
    const bool usual = std::all_of(files.cbegin(), files.cend(), [&](const QString& file) {
        const QFileInfo info(file);
        const QString name = info.fileName();
        static const QStringList overrides{
            QStringLiteral("compose.override.yaml"), QStringLiteral("compose.override.yml"),
            QStringLiteral("docker-compose.override.yaml"), QStringLiteral("docker-compose.override.yml")};
        return QDir::cleanPath(info.absolutePath()) == dir &&
               (composeFileNames().contains(name) || overrides.contains(name));
    });
    return usual ? QStringList() : files;
}

std::optional<QString> missingComposeFilesMessage(const ComposeFileNames& names, const QStringList& missing)
{
    QStringList said;
    if (const auto files =
            missingOfKind(QStringLiteral("compose file"), names.files, names.madeWith, missing))
        said << *files;
    if (const auto env =
            missingOfKind(QStringLiteral("env file"), names.envFiles, names.envMadeWith, missing))
        said << *env;
    if (said.isEmpty())
        return std::nullopt;
    return said.join(u' ');
}

QStringList composeFilesOf(const ComposeProject& project)
{
    const ComposeFileNames names = composeFileNames(project);
    QStringList missing;
    for (const QString& file : names.files + names.envFiles)
        if (!QFileInfo::exists(file))
            missing << file;
    if (const std::optional<QString> message = missingComposeFilesMessage(names, missing))
        throw DockerError::cli(*message);
    return names.files;
}

QStringList fileArgs(const QStringList& files, const QString& dir, const QStringList& envFiles)
{
    QStringList args;
    if (!files.isEmpty() || !envFiles.isEmpty())
        args << QStringLiteral("--project-directory") << dir;
    for (const QString& file : files)
        args << QStringLiteral("-f") << file;
    for (const QString& file : envFiles)
        args << QStringLiteral("--env-file") << file;
    return args;
}

QString composeTimeoutMessage(std::chrono::seconds limit)
{
    return QStringLiteral("Compose config did not finish within %1 seconds.").arg(limit.count());
}

ComposeCheck checkCompose(const QString& dir, const QStringList& files, const QStringList& envFiles)
{
    if (const auto inexact = inexactPath(QString(), envFiles))
        return ComposeCheck::invalid(*inexact);
    if (const std::optional<QString> why = notToBeRun(dir, files, nullptr))
        return ComposeCheck::invalid(*why);
    const Platform::TimedCompletion timed =
        Platform::runTimed(process(QStringList{QStringLiteral("compose")} + fileArgs(files, dir, envFiles) +
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
