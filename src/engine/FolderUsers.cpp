#include "engine/FolderUsers.h"

#include "engine/Docker.h"
#include "platform/DiskLook.h"
#include "platform/Json.h"
#include "platform/TimedRunner.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

namespace Docker {

namespace {

// The most places a compose-file label may be split at: every start pairs with every end after it, so
// the readings grow with the square of the places. A project made from a dozen files has a dozen.
constexpr qsizetype mostSplits = 16;

// Every path the comma-joined compose-file label may hold. compose joins absolute paths with commas,
// so a path starts at the beginning or after a comma that a "/" follows, and ends before such a comma
// or at the end; a folder whose name ends in a comma makes more than one reading possible, and each
// is taken. None for a label with more places than mostSplits: it is not read at all.
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

// "<container> of <project>", or the container alone.
QString userName(const FolderUse& use)
{
    return use.project && !use.project->isEmpty() ? QStringLiteral("%1 of %2").arg(use.container, *use.project)
                                                  : use.container;
}

} // namespace

QStringList bindSourcesQuery(const QStringList& ids)
{
    return QStringList{QStringLiteral("inspect"), QStringLiteral("--type"), QStringLiteral("container"),
                       QStringLiteral("--format"),
                       QStringLiteral(R"([{{json .Id}}{{range .Mounts}}{{if eq .Type "bind"}},{{json .Source}}{{end}}{{end}}])")} +
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
        // "No such container: x", "get x: no such volume": the engine spells it both ways.
        const bool onlyGone = !said.isEmpty() && std::all_of(said.cbegin(), said.cend(), [](const QString& line) {
            return line.contains(QLatin1StringView("no such"), Qt::CaseInsensitive);
        });
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
    return QStringList{QStringLiteral("volume"), QStringLiteral("inspect"), QStringLiteral("--format"),
                       QStringLiteral("[{{json .Name}},{{json .Options}}]"), QStringLiteral("--")} +
           names;
}

QMap<QString, QString> parseVolumeFolders(const QString& text)
{
    QMap<QString, QString> folders;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        const QJsonValue parsed = Platform::parseJson(line.toString());
        const QJsonArray fields = parsed.toArray();
        if (fields.size() < 2 || !fields.at(1).isObject())
            continue;
        const QJsonObject options = fields.at(1).toObject();
        const QString device = options.value(QLatin1StringView("device")).toString();
        const QStringList flags = options.value(QLatin1StringView("o")).toString().split(u',');
        if (flags.contains(QStringLiteral("bind")) && device.startsWith(u'/'))
            folders.insert(fields.at(0).toString(), device);
    }
    return folders;
}

std::optional<QMap<QString, QString>> volumeFolders(const QStringList& names, const std::optional<Runtime>& runtime,
                                                    std::chrono::milliseconds limit,
                                                    const Platform::Cancellation* cancel)
{
    if (names.isEmpty())
        return QMap<QString, QString>();
    const std::optional<QString> out = inspected(volumeFoldersQuery(names), runtime, limit, cancel);
    if (!out)
        return std::nullopt;
    return parseVolumeFolders(*out);
}

QList<FolderUse> folderUses(const QList<Container>& containers, const BindMap& binds)
{
    QList<FolderUse> uses;
    for (const Container& container : containers) {
        const auto use = [&](const QString& path) {
            if (!path.isEmpty())
                uses << FolderUse{path, container.id, container.name, container.project()};
        };
        if (const std::optional<QString> dir = container.workingDir())
            use(*dir);
        const std::optional<QStringList> files =
            possibleFiles(container.labels.value(QString::fromLatin1(configFilesLabel)));
        if (!files)
            uses << FolderUse{QString(), container.id, container.name, container.project()};
        for (const QString& file : files.value_or(QStringList()))
            use(file);
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
    struct Itself {
        bool there = false;
        std::optional<QString> refusal;
        std::optional<Platform::FileIdentity> identity;
        QString folder;
    };
    const std::optional<Itself> itself = Platform::startFolderLook(folder, [folder, first, passingMounts] {
        if (first)
            first();
        Itself look;
        look.there = QFileInfo::exists(folder);
        if (!look.there)
            return look;
        look.refusal = Platform::trashOfferRefusal(folder, passingMounts);
        if (!look.refusal && !QFileInfo(folder).isDir())
            look.refusal = QStringLiteral("it is not a folder");
        if (!look.refusal) {
            look.identity = Platform::identityOf(folder);
            look.folder = QFileInfo(folder).canonicalFilePath();
        }
        return look;
    }).wait(left(), cancel);
    if (!itself)
        return std::nullopt;
    TrashOffer offer;
    if (!itself->there)
        return offer;
    if (itself->refusal || !itself->identity) {
        offer.refusal = itself->refusal;
        return offer;
    }
    // A container whose compose files could not be read may use any folder.
    for (const FolderUse& use : others)
        if (use.path.isEmpty()) {
            offer.refusal = QStringLiteral("the compose files of %1 could not be read").arg(userName(use));
            return offer;
        }

    // Each path on its own look: one on a mount that stalls keeps the folder, and no other look waits
    // for it.
    const Platform::FileIdentity identity = *itself->identity;
    QHash<QString, Platform::PendingLook<bool>> looks;
    for (const QList<FolderUse>* uses : {&others, &own})
        for (const FolderUse& use : *uses)
            if (!looks.contains(use.path))
                looks.insert(use.path, Platform::startFolderLook(use.path, [path = use.path, identity, first] {
                                 if (first)
                                     first();
                                 return Platform::liesWithin(path, identity);
                             }));
    QHash<QString, std::optional<bool>> within;
    for (auto look = looks.cbegin(); look != looks.cend(); ++look)
        within.insert(look.key(), look.value().wait(left(), cancel));

    QList<FolderUse> users;
    QList<FolderUse> unknown;
    for (const FolderUse& use : others) {
        const std::optional<bool> inside = within.value(use.path);
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
        if (within.value(use.path).value_or(false) && !offer.ownBinds.contains(use.path))
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
