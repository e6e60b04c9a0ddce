#include "engine/ProjectRegistry.h"

#include "engine/Compose.h"
#include "platform/Settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <algorithm>

namespace {

std::optional<KnownProject> decodeEntry(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue name = object.value(QLatin1StringView("name"));
    const QJsonValue workingDir = object.value(QLatin1StringView("workingDir"));
    const QJsonValue services = object.value(QLatin1StringView("services"));
    if (!name.isString() || !workingDir.isString() || !services.isArray())
        return std::nullopt;
    KnownProject project{name.toString(), workingDir.toString(), {}};
    for (const QJsonValue& service : services.toArray()) {
        if (!service.isString())
            return std::nullopt;
        project.services << service.toString();
    }
    // Without it the project is still there, only no longer known to have moved.
    project.movedFrom = object.value(QLatin1StringView("movedFrom")).toString();
    return project;
}

QString text(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1StringView(key)).toString();
}

// The texts of a JSON array; none when it is not an array of texts.
std::optional<QStringList> texts(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        list << item.toString();
    }
    return list;
}

// One stored set; none unless it holds the three texts (its services may be missing: stored before
// they were).
std::optional<StartedFrom> decodeSet(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    if (!object.value(QLatin1StringView("files")).isString() ||
        !object.value(QLatin1StringView("projectDir")).isString() ||
        !object.value(QLatin1StringView("envFiles")).isString())
        return std::nullopt;
    return StartedFrom{text(object, "files"), text(object, "projectDir"), text(object, "envFiles"),
                       texts(object.value(QLatin1StringView("services"))).value_or(QStringList())};
}

QJsonObject encodeSet(const StartedFrom& from)
{
    QJsonObject object{{QStringLiteral("files"), from.files},
                       {QStringLiteral("projectDir"), from.projectDir},
                       {QStringLiteral("envFiles"), from.envFiles}};
    if (!from.services.isEmpty())
        object.insert(QStringLiteral("services"), QJsonArray::fromStringList(from.services));
    return object;
}

// A listing hands out one copy of equal label texts: most are told equal without reading them.
bool sameText(const QString& a, const QString& b)
{
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

bool sameSet(const StartedFrom& a, const StartedFrom& b)
{
    return sameText(a.files, b.files) && sameText(a.projectDir, b.projectDir) &&
           sameText(a.envFiles, b.envFiles);
}

// Whether `said` tells less of the setup `kept` than `kept` does: no other folder or files than it,
// some of them not named at all, or only some of its env files.
bool saysLess(const StartedFrom& said, const StartedFrom& kept)
{
    if (sameSet(said, kept))
        return false;
    if ((!said.projectDir.isEmpty() && said.projectDir != kept.projectDir) ||
        (!said.files.isEmpty() && said.files != kept.files))
        return false;
    const QStringList keptEnv = Docker::joinedFiles(kept.envFiles, kept.projectDir);
    const QStringList saidEnv = Docker::joinedFiles(said.envFiles, kept.projectDir);
    return std::all_of(saidEnv.cbegin(), saidEnv.cend(),
                       [&](const QString& file) { return keptEnv.contains(file); });
}

// What the project's containers say it was started from: every set they name, in container order,
// each with the services made from it.
QList<StartedFrom> setsNamed(const ComposeProject& project)
{
    static const QString filesLabel = QString::fromLatin1(Docker::configFilesLabel);
    static const QString envLabel = QString::fromLatin1(Docker::environmentFileLabel);
    QList<StartedFrom> sets;
    qsizetype last = -1;
    for (const Container& container : project.containers) {
        const QString files = container.labels.value(filesLabel);
        const std::optional<QString> dir = container.workingDir();
        if (files.isEmpty() && !dir)
            continue;
        const StartedFrom from{files, dir.value_or(QString()), container.labels.value(envLabel)};
        // Most often a container names the set the one before it named.
        if (last < 0 || !sameSet(sets[last], from)) {
            const auto set = std::find_if(sets.cbegin(), sets.cend(),
                                          [&](const StartedFrom& s) { return sameSet(s, from); });
            last = set - sets.cbegin();
            if (set == sets.cend())
                sets << from;
        }
        if (const std::optional<QString> service = container.service())
            sets[last].services << *service;
    }
    for (StartedFrom& set : sets) {
        set.services.sort();
        set.services.removeDuplicates();
    }
    return sets;
}

// Puts `from` in `sets`, with the services of a set already there that is the same.
void addSet(QList<StartedFrom>& sets, const StartedFrom& from)
{
    const auto same =
        std::find_if(sets.begin(), sets.end(), [&](const StartedFrom& s) { return sameSet(s, from); });
    if (same == sets.end()) {
        sets << from;
        return;
    }
    for (const QString& service : from.services)
        if (!same->services.contains(service))
            same->services << service;
    same->services.sort();
}

// The sets to remember of a project whose containers name `said`, `kept` being those remembered.
QList<StartedFrom> recordedSets(const QList<StartedFrom>& said, const QList<StartedFrom>& kept)
{
    if (said.isEmpty())
        return kept;
    QList<StartedFrom> sets;
    QSet<qsizetype> named;
    for (const StartedFrom& from : said) {
        const auto known = std::find_if(kept.cbegin(), kept.cend(), [&](const StartedFrom& k) {
            return sameSet(from, k) || saysLess(from, k);
        });
        if (known == kept.cend()) {
            addSet(sets, from);
            continue;
        }
        named.insert(known - kept.cbegin());
        StartedFrom remembered = *known;
        remembered.services = from.services;
        addSet(sets, remembered);
    }
    // Named only anew: brought up from another setup, which is all of it now. Named all: nothing older.
    if (named.isEmpty() || named.size() == kept.size())
        return sets.mid(0, ProjectRegistry::mostSets);
    // A service is made from one set at a time: an older set brings up only those made from it still.
    QSet<QString> running;
    for (const StartedFrom& from : std::as_const(sets))
        for (const QString& service : from.services)
            running.insert(service);
    for (qsizetype i = 0; i < kept.size(); ++i) {
        if (named.contains(i))
            continue;
        StartedFrom older = kept[i];
        older.services.removeIf([&](const QString& service) { return running.contains(service); });
        addSet(sets, older);
    }
    return sets.mid(0, ProjectRegistry::mostSets);
}

QList<KnownProject>::iterator findByName(QList<KnownProject>& list, const QString& name)
{
    return std::find_if(list.begin(), list.end(), [&](const KnownProject& p) { return p.name == name; });
}

} // namespace

size_t qHash(const KnownProject& project, size_t seed) noexcept
{
    seed = qHashMulti(seed, project.name, project.workingDir, project.services, project.movedFrom,
                      project.mounts);
    for (const StartedFrom& from : project.startedFrom)
        seed = qHashMulti(seed, from.files, from.projectDir, from.envFiles, from.services);
    return seed;
}

ProjectRegistry ProjectRegistry::load(const Platform::Settings& settings)
{
    const auto bytes = [&settings](const char* key) {
        const QVariant stored = settings.value(QLatin1StringView(key));
        return stored.typeId() == QMetaType::QByteArray ? stored.toByteArray() : stored.toString().toUtf8();
    };
    ProjectRegistry registry = fromJson(bytes(settingsKey));
    registry.takeSources(bytes(sourcesKey));
    return registry;
}

void ProjectRegistry::save(Platform::Settings& settings) const
{
    settings.setValue(QLatin1StringView(settingsKey), QString::fromUtf8(toJson()));
    settings.setValue(QLatin1StringView(sourcesKey), QString::fromUtf8(sourcesJson()));
}

void ProjectRegistry::takeSources(const QByteArray& json)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (!doc.isObject())
        return;
    const QJsonObject runtimes = doc.object();
    for (auto list = byRuntime.begin(); list != byRuntime.end(); ++list) {
        const QJsonObject sources = runtimes.value(list.key()).toObject();
        for (KnownProject& project : *list) {
            const QJsonValue source = sources.value(project.name);
            if (!source.isObject())
                continue;
            const QJsonObject object = source.toObject();
            QList<StartedFrom> sets;
            for (const QJsonValue& set : object.value(QLatin1StringView("sets")).toArray())
                if (const std::optional<StartedFrom> from = decodeSet(set))
                    sets << *from;
            // Stored by a version that knew one set only, or holding just one.
            if (sets.isEmpty())
                if (const std::optional<StartedFrom> from = decodeSet(object))
                    sets << *from;
            project.startedFrom = sets.mid(0, mostSets);
            project.mounts =
                texts(object.value(QLatin1StringView("mounts"))).value_or(QStringList()).mid(0, mostMounts);
        }
    }
}

QByteArray ProjectRegistry::sourcesJson() const
{
    QJsonObject runtimes;
    for (auto it = byRuntime.cbegin(); it != byRuntime.cend(); ++it) {
        QJsonObject sources;
        for (const KnownProject& project : it.value()) {
            if ((project.startedFrom.isEmpty() && project.mounts.isEmpty()) || sources.contains(project.name))
                continue;
            // The first set where a version that knows one set only reads it.
            QJsonObject entry =
                project.startedFrom.isEmpty() ? QJsonObject() : encodeSet(project.startedFrom.first());
            if (project.startedFrom.size() > 1) {
                QJsonArray sets;
                for (const StartedFrom& from : project.startedFrom)
                    sets.append(encodeSet(from));
                entry.insert(QStringLiteral("sets"), sets);
            }
            if (!project.mounts.isEmpty())
                entry.insert(QStringLiteral("mounts"), QJsonArray::fromStringList(project.mounts));
            sources.insert(project.name, entry);
        }
        if (!sources.isEmpty())
            runtimes.insert(it.key(), sources);
    }
    return QJsonDocument(runtimes).toJson(QJsonDocument::Compact);
}

ProjectRegistry ProjectRegistry::fromJson(const QByteArray& json)
{
    ProjectRegistry registry;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return registry;
    const QJsonObject runtimes = doc.object();
    for (auto it = runtimes.begin(); it != runtimes.end(); ++it) {
        if (!it.value().isArray())
            continue;
        QList<KnownProject>& list = registry.byRuntime[it.key()];
        for (const QJsonValue& entry : it.value().toArray())
            if (auto project = decodeEntry(entry))
                list << *project;
    }
    return registry;
}

QByteArray ProjectRegistry::toJson() const
{
    QJsonObject runtimes;
    for (auto it = byRuntime.cbegin(); it != byRuntime.cend(); ++it) {
        QJsonArray list;
        for (const KnownProject& project : it.value()) {
            QJsonObject entry{{QStringLiteral("name"), project.name},
                              {QStringLiteral("workingDir"), project.workingDir},
                              {QStringLiteral("services"), QJsonArray::fromStringList(project.services)}};
            if (!project.movedFrom.isEmpty())
                entry.insert(QStringLiteral("movedFrom"), project.movedFrom);
            list.append(entry);
        }
        runtimes.insert(it.key(), list);
    }
    return QJsonDocument(runtimes).toJson(QJsonDocument::Compact);
}

void ProjectRegistry::record(const QList<ComposeProject>& discovered, const std::optional<QString>& runtimeId)
{
    if (!runtimeId)
        return;
    // Written only where something changed: a list recorded again as it was stays shared, and compares
    // equal at once on every listing, however many projects it remembers.
    QList<KnownProject> list = byRuntime.value(*runtimeId);
    for (const ComposeProject& project : discovered) {
        // Remembered to be brought up again from its folder, which compose cannot do under a name it
        // does not take (an empty one would bring up the folder's own project).
        if (!project.workingDir || !Docker::composeAcceptsName(project.name))
            continue;
        const auto found = std::find_if(list.cbegin(), list.cend(),
                                        [&](const KnownProject& p) { return p.name == project.name; });
        const KnownProject* known = found != list.cend() ? &*found : nullptr;
        // The containers say where the project runs from now, also when it was brought up from
        // another folder (or other files) since it was remembered. Only a project the user located
        // elsewhere once their folder was gone stays there while they still name the old one, and keeps
        // what it was remembered with.
        QString dir = *project.workingDir;
        QString movedFrom;
        QList<StartedFrom> sets;
        if (known && !known->movedFrom.isEmpty() && known->movedFrom == dir) {
            dir = known->workingDir;
            movedFrom = known->movedFrom;
            sets = known->startedFrom;
        } else {
            sets = recordedSets(setsNamed(project), known ? known->startedFrom : QList<StartedFrom>());
        }

        QStringList services;
        for (const Container& container : project.containers)
            if (const auto service = container.service())
                services << *service;
        std::sort(services.begin(), services.end());
        if (services.isEmpty() && known)
            services = known->services;

        // What it had mounted is asked of the engine apart (recordMounts).
        KnownProject entry{project.name, dir,  services,
                           movedFrom,    sets, known ? known->mounts : QStringList()};
        if (!known)
            list << entry;
        else if (*known != entry)
            list[found - list.cbegin()] = entry;
    }
    byRuntime.insert(*runtimeId, list);
}

void ProjectRegistry::recordMounts(const QString& name, const QStringList& mounts,
                                   const std::optional<QString>& runtimeId)
{
    if (!runtimeId)
        return;
    const auto list = byRuntime.find(*runtimeId);
    if (list == byRuntime.end())
        return;
    QStringList paths = mounts;
    paths.sort();
    paths.removeDuplicates();
    paths = paths.mid(0, mostMounts);
    for (KnownProject& project : *list)
        if (project.name == name)
            project.mounts = paths;
}

void ProjectRegistry::add(const KnownProject& project, const std::optional<QString>& runtimeId)
{
    if (!runtimeId)
        return;
    QList<KnownProject>& list = byRuntime[*runtimeId];
    const auto known = findByName(list, project.name);
    if (known != list.end())
        *known = project;
    else
        list << project;
}

void ProjectRegistry::forget(const QString& name, const std::optional<QString>& runtimeId)
{
    if (!runtimeId)
        return;
    const auto it = byRuntime.find(*runtimeId);
    if (it == byRuntime.end())
        return;
    it->removeIf([&](const KnownProject& p) { return p.name == name; });
}

bool ProjectRegistry::knows(const QString& name, const std::optional<QString>& runtimeId) const
{
    if (!runtimeId)
        return false;
    const auto it = byRuntime.constFind(*runtimeId);
    return it != byRuntime.cend() &&
           std::any_of(it->cbegin(), it->cend(), [&](const KnownProject& p) { return p.name == name; });
}

QList<ComposeProject> ProjectRegistry::merge(const QList<ComposeProject>& discovered,
                                             const QList<KnownProject>& known)
{
    QList<ComposeProject> result;
    QSet<QString> seen;
    for (ComposeProject project : discovered) {
        const auto match = std::find_if(known.cbegin(), known.cend(),
                                        [&](const KnownProject& k) { return k.name == project.name; });
        // Its folder stays the one its containers name: the remembered one may be where another
        // checkout of the same name was brought up before, and the Trash must never be offered that.
        // Only containers that name none take the remembered folder, and those that name the one the
        // user moved the project from, which was gone when the new one was located.
        if (match != known.cend()) {
            project.serviceCount = match->services.size();
            if (!project.workingDir ||
                (!match->movedFrom.isEmpty() && project.workingDir == match->movedFrom))
                project.workingDir = match->workingDir;
        }
        seen.insert(project.name);
        result << project;
    }
    for (const KnownProject& k : known)
        if (!seen.contains(k.name))
            result << ComposeProject{k.name,       k.workingDir, {}, k.services.size(),
                                     std::nullopt, k.startedFrom};
    std::stable_sort(result.begin(), result.end(),
                     [](const ComposeProject& a, const ComposeProject& b) { return a.name < b.name; });
    return result;
}
