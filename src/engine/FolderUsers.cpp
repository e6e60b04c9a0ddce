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

// Where the files of a label that cannot be split back lie, at the least: every file starts with one of
// the label's pieces, and so lies in the folder that piece's last "/" ends.
QStringList filePlaces(const QString& joined)
{
    QStringList places;
    for (const QString& piece : joined.split(QStringLiteral(",/"))) {
        const QString path = piece.startsWith(u'/') ? piece : u'/' + piece;
        const QString folder = path.left(std::max<qsizetype>(1, path.lastIndexOf(u'/')));
        if (!places.contains(folder))
            places << folder;
    }
    return places;
}

// The sentence said beside an offer for a use that is not known and not tied to the folder.
QString untiedDoubt(const FolderUse& use)
{
    const QString who = userName(use);
    const QString why = use.unknown ? QStringLiteral("What %1 uses is not known: %2.").arg(who, *use.unknown)
                                    : QStringLiteral("The compose files of %1 could not be read.").arg(who);
    return why + (use.places.isEmpty() ? QStringLiteral(" Where its files are is not known either.")
                                       : QStringLiteral(" Its folder and files lie elsewhere."));
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
            const QString joined = container.labels.value(QString::fromLatin1(label));
            const std::optional<QStringList> files = possibleFiles(joined);
            if (!files) {
                FolderUse unknown{QString(), container.id, container.name, container.project()};
                unknown.places = filePlaces(joined);
                if (const std::optional<QString> dir = container.workingDir())
                    unknown.places.prepend(*dir);
                uses << unknown;
            }
            for (const QString& file : files.value_or(QStringList()))
                use(file);
        }
        // A bind of a folder above sees the folder go, but is no use of it.
        for (const QString& source : binds.value(container.id)) {
            use(source);
            if (!source.isEmpty())
                uses.last().holdingSaid = true;
        }
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
    // Each path on its own look: one on a mount that stalls keeps the folder, and no other look waits
    // for it. A use that is not known is looked for at its places.
    const Platform::FileIdentity identity = *itself->identity;
    // A path is asked about once: whether it lies in the folder, and whether the folder lies in it.
    QHash<QString, Platform::PendingLook<Platform::Reach>> looks;
    const auto ask = [&](const QString& path) {
        if (path.isEmpty() || looks.contains(path))
            return;
        Platform::LookRequest<Platform::Reach> reachOf = Platform::Looks::reach(path, folder, identity);
        reachOf.beforeLook = first;
        looks.insert(path, Platform::startFolderLook(path, std::move(reachOf), left()));
    };
    for (const QList<FolderUse>* uses : {&others, &own})
        for (const FolderUse& use : *uses) {
            ask(use.path);
            for (const QString& place : use.places)
                ask(place);
        }
    QHash<QString, std::optional<Platform::Reach>> reach;
    for (auto look = looks.cbegin(); look != looks.cend(); ++look)
        reach.insert(look.key(), look.value().wait(left(), cancel));

    QList<FolderUse> users;
    QList<FolderUse> unknown; // a path that did not answer, as the use that named it
    QList<FolderUse> above;   // holds it, said beside the offer
    QList<FolderUse> untied;  // not known, and nothing of it lies at, in or above the folder
    for (const FolderUse& use : others) {
        if (use.path.isEmpty()) {
            // Tied to the folder by its own folder or files: what it does not say may well be there.
            bool tied = false;
            std::optional<QString> silent;
            for (const QString& place : use.places) {
                const std::optional<Platform::Reach> found = reach.value(place);
                if (!found)
                    silent = place;
                else if (found->within || found->holds)
                    tied = true;
            }
            if (tied) {
                users << use;
            } else if (silent) {
                FolderUse at = use;
                at.path = *silent;
                unknown << at;
            } else {
                untied << use;
            }
            continue;
        }
        const std::optional<Platform::Reach> found = reach.value(use.path);
        if (!found)
            unknown << use;
        else if (found->within || (use.coversBelow && found->holds && !use.holdingSaid))
            users << use;
        else if (use.coversBelow && found->holds)
            above << use;
    }
    if (!users.isEmpty()) {
        // A use found says more than a doubt.
        QList<FolderUse> found = users;
        found.removeIf([](const FolderUse& use) { return use.path.isEmpty(); });
        const FolderUse& doubt = users.first();
        offer.refusal = !found.isEmpty()
                            ? usedByText(found)
                            : QStringLiteral("what %1 uses is not known (%2), and its folder or files lie "
                                             "at, in or above it")
                                  .arg(userName(doubt),
                                       doubt.unknown.value_or(QStringLiteral("its compose files could not "
                                                                              "be read")));
        return offer;
    }
    if (!unknown.isEmpty()) {
        offer.refusal = QStringLiteral("%1 (%2) does not answer, and a link there may lead into it")
                            .arg(unknown.first().path, usedByText({unknown.first()}));
        offer.unsure = true;
        return offer;
    }
    const auto say = [&offer](const QString& note) {
        if (!offer.notes.contains(note))
            offer.notes << note;
    };
    for (const FolderUse& use : std::as_const(untied))
        say(untiedDoubt(use));
    for (const FolderUse& use : std::as_const(above)) {
        say(QStringLiteral("%1 binds %2, which holds this folder: what goes to the Trash is gone from there "
                           "too.")
                .arg(userName(use), use.path));
        if (!use.containerId.isEmpty() && !offer.heldFromAbove.contains(use.containerId))
            offer.heldFromAbove << use.containerId;
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
