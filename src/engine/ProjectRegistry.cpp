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

// What the project's containers say it was started from: none when none of them says, nor when they
// say different things (started from several setups, none of which is all of it).
std::optional<StartedFrom> startedFromLabels(const ComposeProject& project)
{
    std::optional<StartedFrom> said;
    for (const Container& container : project.containers) {
        const QString files = container.labels.value(QString::fromLatin1(Docker::configFilesLabel));
        const std::optional<QString> dir = container.workingDir();
        if (files.isEmpty() && !dir)
            continue;
        const StartedFrom from{files, dir.value_or(QString()),
                               container.labels.value(QString::fromLatin1(Docker::environmentFileLabel))};
        if (said && *said != from)
            return std::nullopt;
        said = from;
    }
    return said;
}

// The compose files a remembered project was started from, read from the label as compose joined them.
QStringList rememberedFiles(const KnownProject& known)
{
    if (!known.startedFrom || known.startedFrom->files.isEmpty())
        return {};
    Container made;
    made.labels.insert(QString::fromLatin1(Docker::configFilesLabel), known.startedFrom->files);
    made.labels.insert(QString::fromLatin1(Docker::workingDirLabel), known.startedFrom->projectDir);
    return made.configFiles();
}

QList<KnownProject>::iterator findByName(QList<KnownProject>& list, const QString& name)
{
    return std::find_if(list.begin(), list.end(), [&](const KnownProject& p) { return p.name == name; });
}

} // namespace

size_t qHash(const KnownProject& project, size_t seed) noexcept
{
    const StartedFrom from = project.startedFrom.value_or(StartedFrom());
    return qHashMulti(seed, project.name, project.workingDir, project.services, project.movedFrom,
                      project.startedFrom.has_value(), from.files, from.projectDir, from.envFiles);
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
            if (!object.value(QLatin1StringView("files")).isString() ||
                !object.value(QLatin1StringView("projectDir")).isString() ||
                !object.value(QLatin1StringView("envFiles")).isString())
                continue;
            project.startedFrom =
                StartedFrom{text(object, "files"), text(object, "projectDir"), text(object, "envFiles")};
        }
    }
}

QByteArray ProjectRegistry::sourcesJson() const
{
    QJsonObject runtimes;
    for (auto it = byRuntime.cbegin(); it != byRuntime.cend(); ++it) {
        QJsonObject sources;
        for (const KnownProject& project : it.value())
            if (project.startedFrom && !sources.contains(project.name))
                sources.insert(project.name, QJsonObject{{QStringLiteral("files"), project.startedFrom->files},
                                                         {QStringLiteral("projectDir"),
                                                          project.startedFrom->projectDir},
                                                         {QStringLiteral("envFiles"),
                                                          project.startedFrom->envFiles}});
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
    QList<KnownProject> list = byRuntime.value(*runtimeId);
    for (const ComposeProject& project : discovered) {
        // Remembered to be brought up again from its folder, which compose cannot do under a name it
        // does not take (an empty one would bring up the folder's own project).
        if (!project.workingDir || !Docker::composeAcceptsName(project.name))
            continue;
        // Looked up without touching the list: a poll that changes nothing copies none of it.
        const auto known = std::find_if(list.cbegin(), list.cend(),
                                        [&](const KnownProject& p) { return p.name == project.name; });
        // The containers say where the project runs from now, also when it was brought up from
        // another folder (or other files) since it was remembered. Only a project the user located
        // elsewhere once their folder was gone stays there while they still name the old one.
        QString dir = *project.workingDir;
        QString movedFrom;
        // What its containers say it was started from; what was remembered when they say nothing, or
        // name the folder it was moved from.
        std::optional<StartedFrom> from = startedFromLabels(project);
        if (known != list.cend() && !known->movedFrom.isEmpty() && known->movedFrom == dir) {
            dir = known->workingDir;
            movedFrom = known->movedFrom;
            from = known->startedFrom;
        } else if (!from && known != list.cend() && known->workingDir == dir) {
            from = known->startedFrom;
        }

        QStringList services;
        for (const Container& container : project.containers)
            if (const auto service = container.service())
                services << *service;
        std::sort(services.begin(), services.end());
        if (services.isEmpty() && known != list.cend())
            services = known->services;

        KnownProject entry{project.name, dir, services, movedFrom, from};
        if (known == list.cend())
            list << entry;
        else if (!(*known == entry))
            list[known - list.cbegin()] = entry;
    }
    byRuntime.insert(*runtimeId, list);
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
            result << ComposeProject{k.name, k.workingDir, {}, k.services.size(), std::nullopt,
                                     rememberedFiles(k)};
    std::stable_sort(result.begin(), result.end(),
                     [](const ComposeProject& a, const ComposeProject& b) { return a.name < b.name; });
    return result;
}
