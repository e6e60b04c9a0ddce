#include "engine/FolderUsers.h"

#include "engine/ComposeUses.h"
#include "engine/Docker.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/Json.h"
#include "platform/TimedRunner.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace Docker {

namespace {

// The most places a compose-file label may be split at: every start pairs with every end after it, so
// the readings grow with the square of the places. A project made from a dozen files has a dozen.
constexpr qsizetype mostSplits = 16;

// "<container> of <project>", the container alone, or "project <project>" for one without containers.
QString userName(const FolderUse& use)
{
    const bool named = use.project && !use.project->isEmpty();
    if (use.container.isEmpty())
        return QStringLiteral("project ") + use.project.value_or(QString());
    return named ? QStringLiteral("%1 of %2").arg(use.container, *use.project) : use.container;
}

} // namespace

// compose joins absolute paths with commas, so a path starts at the beginning or after a comma that a
// "/" follows, and ends before such a comma or at the end; a folder whose name ends in a comma makes
// more than one reading possible, and each is taken.
std::optional<QStringList> possibleFiles(const QString& joined)
{
    QList<qsizetype> starts{0};
    QList<qsizetype> ends;
    for (qsizetype i = 0; i + 1 < joined.size(); ++i) {
        if (joined[i] == u',' && joined[i + 1] == u'/') {
            starts << i + 1;
            ends << i;
        }
    }
    if (ends.size() > mostSplits)
        return std::nullopt;
    ends << joined.size();
    QStringList files;
    for (const qsizetype start : std::as_const(starts))
        for (const qsizetype end : std::as_const(ends))
            if (end > start)
                files << joined.mid(start, end - start);
    return files;
}

QStringList bindSourcesQuery(const QStringList& ids)
{
    return QStringList{
               QStringLiteral("inspect"), QStringLiteral("--type"), QStringLiteral("container"),
               QStringLiteral("--format"),
               QStringLiteral(
                   R"([{{json .Id}}{{range .Mounts}}{{if eq .Type "bind"}},{{json .Source}}{{end}}{{end}}])")} +
           ids;
}

BindMap parseBindSources(const QString& text)
{
    BindMap binds;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonValue parsed = Platform::parseJson(line.toString());
        if (!parsed.isArray())
            continue;
        const QJsonArray fields = parsed.toArray();
        if (fields.isEmpty() || !fields.first().isString() || fields.first().toString().isEmpty())
            continue;
        QStringList sources;
        for (qsizetype i = 1; i < fields.size(); ++i)
            if (fields.at(i).isString() && !fields.at(i).toString().isEmpty())
                sources << fields.at(i).toString();
        binds.insert(fields.first().toString(), sources);
    }
    return binds;
}

namespace {

// What an inspect of several objects printed; none when the engine failed, did not answer within
// `limit` or `cancel` ended it. The client fails for an object removed since it was listed and still
// prints the others; any other complaint (an engine that is not there) leaves the answer unknown.
std::optional<QString> inspected(const QStringList& args, const std::optional<Runtime>& runtime,
                                 std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(process(args, runtime), limit, std::chrono::seconds(2), cancel);
    if (done.timedOut || done.cancelled || !done.run.started || done.run.crashed)
        return std::nullopt;
    if (done.run.exitCode != 0) {
        const QStringList said = Platform::decodeUtf8Strict(done.run.err).split(u'\n', Qt::SkipEmptyParts);
        // "No such object: <id>" for a container, "get <name>: no such volume" for a volume; not the
        // "no such file or directory" of a socket that is gone.
        static const QRegularExpression gone(QStringLiteral("no such (object|container|volume)"),
                                             QRegularExpression::CaseInsensitiveOption);
        const bool onlyGone =
            !said.isEmpty() &&
            std::all_of(said.cbegin(), said.cend(), [](const QString& line) { return line.contains(gone); });
        if (!onlyGone)
            return std::nullopt;
    }
    return Platform::decodeUtf8Strict(done.run.out);
}

} // namespace

std::optional<BindMap> bindSources(const QStringList& ids, const std::optional<Runtime>& runtime,
                                   std::chrono::milliseconds limit, const Platform::Cancellation* cancel)
{
    if (ids.isEmpty())
        return BindMap();
    const std::optional<QString> out = inspected(bindSourcesQuery(ids), runtime, limit, cancel);
    if (!out)
        return std::nullopt;
    // The engine prints whole identifiers; the listing gives them shortened.
    const BindMap printed = parseBindSources(*out);
    BindMap binds;
    for (const QString& id : ids)
        for (auto bind = printed.cbegin(); bind != printed.cend(); ++bind)
            if (!id.isEmpty() && bind.key().startsWith(id))
                binds.insert(id, bind.value());
    return binds;
}

QStringList volumeFoldersQuery(const QStringList& names)
{
    return QStringList{
               QStringLiteral("volume"), QStringLiteral("inspect"), QStringLiteral("--format"),
               QStringLiteral("[{{json .Name}},{{json .Driver}},{{json .Mountpoint}},{{json .Options}}]"),
               QStringLiteral("--")} +
           names;
}

QMap<QString, QStringList> parseVolumeFolders(const QString& text)
{
    QMap<QString, QStringList> folders;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonArray fields = Platform::parseJson(line.toString()).toArray();
        if (fields.size() < 4 || !fields.at(0).isString() || fields.at(0).toString().isEmpty())
            continue;
        QHash<QString, QString> options;
        const QJsonObject given = fields.at(3).toObject();
        for (auto option = given.constBegin(); option != given.constEnd(); ++option)
            options.insert(option.key(), option.value().toString());
        QStringList paths;
        // Only the engine's own host knows what a relative path would be taken from.
        for (const QString& path : optionPaths(options))
            if (path.startsWith(u'/'))
                paths << path;
        const QString mountpoint = fields.at(2).toString();
        if (mountpoint.startsWith(u'/') && !paths.contains(mountpoint))
            paths << mountpoint;
        folders.insert(fields.at(0).toString(), paths);
    }
    return folders;
}

std::optional<QMap<QString, QStringList>> volumeFolders(const QStringList& names,
                                                        const std::optional<Runtime>& runtime,
                                                        std::chrono::milliseconds limit,
                                                        const Platform::Cancellation* cancel)
{
    if (names.isEmpty())
        return QMap<QString, QStringList>();
    const std::optional<QString> out = inspected(volumeFoldersQuery(names), runtime, limit, cancel);
    if (!out)
        return std::nullopt;
    return parseVolumeFolders(*out);
}

QStringList engineInfoQuery()
{
    return {QStringLiteral("info"), QStringLiteral("--format"),
            QStringLiteral(R"({"id":{{json .ID}},"root":{{json .DockerRootDir}}})")};
}

std::optional<EngineInfo> parseEngineInfo(const QString& text)
{
    const QJsonObject info = Platform::parseJson(text.trimmed()).toObject();
    EngineInfo engine{info.value(QLatin1StringView("id")).toString(),
                      info.value(QLatin1StringView("root")).toString()};
    // Only an engine that says who it is and where its data lies has answered.
    if (engine.id.isEmpty() || !engine.rootDir.startsWith(u'/'))
        return std::nullopt;
    return engine;
}

std::optional<EngineInfo> engineInfo(const std::optional<Runtime>& runtime, std::chrono::milliseconds limit,
                                     const Platform::Cancellation* cancel)
{
    const Platform::TimedCompletion done =
        Platform::runTimed(process(engineInfoQuery(), runtime), limit, std::chrono::seconds(2), cancel);
    // An engine that did not say where its data lies may keep it anywhere, the folder included: only
    // an answer counts as one.
    if (done.timedOut || done.cancelled || !done.succeeded())
        return std::nullopt;
    return parseEngineInfo(Platform::decodeUtf8Strict(done.run.out));
}

QList<FolderUse> folderUses(const QList<Container>& containers, const BindMap& binds)
{
    QList<FolderUse> uses;
    for (const Container& container : containers) {
        const auto use = [&](const QString& path, bool coversBelow = true) {
            if (!path.isEmpty())
                uses << FolderUse{path, container.id, container.name, container.project(), coversBelow};
        };
        if (const std::optional<QString> dir = container.workingDir())
            use(*dir, false);
        for (const char* label : {configFilesLabel, environmentFileLabel}) {
            const std::optional<QStringList> files =
                possibleFiles(container.labels.value(QString::fromLatin1(label)));
            if (!files)
                uses << FolderUse{QString(), container.id, container.name, container.project()};
            for (const QString& file : files.value_or(QStringList()))
                use(file);
        }
        for (const QString& source : binds.value(container.id))
            use(source);
    }
    return uses;
}

std::optional<TrashOffer> judgeTrashOffer(const QString& folder, const QList<FolderUse>& others,
                                          const QList<FolderUse>& own, const QDeadlineTimer& deadline,
                                          const std::function<void()>& first,
                                          const Platform::Cancellation* cancel,
                                          const QStringList& passingMounts)
{
    const auto left = [&deadline] { return Platform::remaining(deadline); };
    Platform::LookRequest<TrashCandidate> candidate = Looks::trashOffer(folder, passingMounts);
    candidate.beforeLook = first;
    const std::optional<TrashCandidate> itself =
        Platform::startFolderLook(folder, std::move(candidate), left()).wait(left(), cancel);
    if (!itself)
        return std::nullopt;
    TrashOffer offer;
    if (!itself->there)
        return offer;
    if (itself->refusal || !itself->identity) {
        offer.refusal = itself->refusal;
        return offer;
    }
    // One whose compose files could not be read may use any folder.
    for (const FolderUse& use : others)
        if (use.path.isEmpty()) {
            offer.refusal =
                use.unknown ? QStringLiteral("what %1 uses is not known: %2").arg(userName(use), *use.unknown)
                            : QStringLiteral("the compose files of %1 could not be read").arg(userName(use));
            return offer;
        }

    // Each path on its own look: one on a mount that stalls keeps the folder, and no other look waits
    // for it.
    const Platform::FileIdentity identity = *itself->identity;
    // A path is asked about once: whether it lies in the folder, and whether the folder lies in it.
    QHash<QString, Platform::PendingLook<Platform::Reach>> looks;
    for (const QList<FolderUse>* uses : {&others, &own})
        for (const FolderUse& use : *uses)
            if (!looks.contains(use.path)) {
                Platform::LookRequest<Platform::Reach> reachOf =
                    Platform::Looks::reach(use.path, folder, identity);
                reachOf.beforeLook = first;
                looks.insert(use.path, Platform::startFolderLook(use.path, std::move(reachOf), left()));
            }
    QHash<QString, std::optional<Platform::Reach>> reach;
    for (auto look = looks.cbegin(); look != looks.cend(); ++look)
        reach.insert(look.key(), look.value().wait(left(), cancel));
    const auto reaches = [&](const FolderUse& use) -> std::optional<bool> {
        const std::optional<Platform::Reach> found = reach.value(use.path);
        if (!found)
            return std::nullopt;
        return found->within || (use.coversBelow && found->holds);
    };

    QList<FolderUse> users;
    QList<FolderUse> unknown;
    for (const FolderUse& use : others) {
        const std::optional<bool> inside = reaches(use);
        if (!inside)
            unknown << use;
        else if (*inside)
            users << use;
    }
    if (!users.isEmpty()) {
        offer.refusal = usedByText(users);
        return offer;
    }
    if (!unknown.isEmpty()) {
        offer.refusal = QStringLiteral("%1 (%2) does not answer, and a link there may lead into it")
                            .arg(unknown.first().path, usedByText({unknown.first()}));
        offer.unsure = true;
        return offer;
    }
    offer.identity = identity;
    offer.folder = itself->folder;
    for (const FolderUse& use : own)
        if (reach.value(use.path).value_or(Platform::Reach()).within && !offer.ownBinds.contains(use.path))
            offer.ownBinds << use.path;
    std::sort(offer.ownBinds.begin(), offer.ownBinds.end());
    return offer;
}

QString usedByText(const QList<FolderUse>& users)
{
    constexpr qsizetype named = 3;
    QStringList names;
    QSet<QString> seen;
    for (const FolderUse& use : users) {
        if (seen.contains(use.containerId))
            continue;
        seen.insert(use.containerId);
        names << userName(use);
    }
    QString text = QStringLiteral("used by ") + names.mid(0, named).join(QStringLiteral(", "));
    if (names.size() > named)
        text += QStringLiteral(" and %1 more").arg(names.size() - named);
    return text;
}

} // namespace Docker
