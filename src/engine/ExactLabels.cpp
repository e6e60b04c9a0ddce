#include "engine/ExactLabels.h"

#include "engine/BoundedMemo.h"
#include "engine/Docker.h"
#include "platform/Json.h"
#include "platform/TimedRunner.h"

#include <QJsonObject>

namespace {

// What the engine said of each container's labels, by runtime and identifier.
BoundedMemo<Docker::LabelMap>& remembered()
{
    static BoundedMemo<Docker::LabelMap> labels;
    return labels;
}

// Runs an inspect that prints one object per line, bounded as a listing. Whatever it printed is read:
// an item gone since it was listed makes the client fail but still print the others.
QString inspected(const QStringList& args, const std::optional<Runtime>& runtime,
                  std::chrono::milliseconds limit)
{
    if (limit.count() <= 0)
        return {};
    const Platform::TimedCompletion done =
        Platform::runTimed(Docker::process(args, runtime), limit, std::chrono::seconds(2));
    if (done.timedOut || done.cancelled)
        return {};
    return Platform::decodeUtf8Strict(done.run.out);
}

// Gives every item of `items` whose listing left one of `keys` unsure the labels `ask` gets from the
// engine for its identity; one the engine does not answer for loses those labels.
template <typename T, typename Ask>
void settle(QList<T>& items, const QStringList& keys, QString T::*identity, Docker::LabelMap T::*labels,
            const Ask& ask)
{
    QStringList unsure;
    for (const T& item : std::as_const(items))
        if (Docker::holdsUnsureLabel(item.*labels, keys))
            unsure << item.*identity;
    if (unsure.isEmpty())
        return;
    const QHash<QString, Docker::LabelMap> exact = ask(unsure);
    for (T& item : items) {
        if (!Docker::holdsUnsureLabel(item.*labels, keys))
            continue;
        if (const auto found = exact.constFind(item.*identity); found != exact.cend()) {
            item.*labels = found.value();
            continue;
        }
        for (const QString& key : keys)
            if (const auto it = (item.*labels).find(key); it != (item.*labels).end() && it->isEmpty())
                (item.*labels).erase(it);
    }
}

} // namespace

namespace Docker {

bool holdsUnsureLabel(const LabelMap& labels, const QStringList& keys)
{
    for (const QString& key : keys)
        if (const auto it = labels.constFind(key); it != labels.cend() && it->isEmpty())
            return true;
    return false;
}

QHash<QString, LabelMap> parseLabelMaps(const QString& text, const QStringList& asked, bool byPrefix)
{
    QHash<QString, LabelMap> maps;
    for (const QJsonObject& line : ndjson(text)) {
        const QString id = str(line, QLatin1StringView("id"));
        if (id.isEmpty())
            continue;
        LabelMap labels;
        const QJsonObject printed = line.value(QLatin1StringView("labels")).toObject();
        for (auto it = printed.constBegin(); it != printed.constEnd(); ++it)
            labels.insert(it.key(), it.value().toString());
        for (const QString& name : asked)
            if (!name.isEmpty() && (id == name || (byPrefix && id.startsWith(name))))
                maps.insert(name, labels);
    }
    return maps;
}

QHash<QString, LabelMap> containerLabelMaps(const QStringList& ids, const std::optional<Runtime>& runtime,
                                            std::chrono::milliseconds limit)
{
    QHash<QString, LabelMap> maps;
    QStringList unknown;
    for (const QString& id : ids) {
        if (const std::optional<LabelMap> known = remembered().find(runtimeId(runtime) + u'/' + id))
            maps.insert(id, *known);
        else if (!id.isEmpty())
            unknown << id;
    }
    if (unknown.isEmpty())
        return maps;
    QStringList args{QStringLiteral("inspect"), QStringLiteral("--type"), QStringLiteral("container")};
    args << unknown << QStringLiteral("--format")
         << QStringLiteral(R"({"id":{{json .Id}},"labels":{{json .Config.Labels}}})");
    const QHash<QString, LabelMap> asked = parseLabelMaps(inspected(args, runtime, limit), unknown, true);
    for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
        remembered().keep(runtimeId(runtime) + u'/' + it.key(), it.value());
        maps.insert(it.key(), it.value());
    }
    return maps;
}

QHash<QString, LabelMap> volumeLabelMaps(const QStringList& names, const std::optional<Runtime>& runtime,
                                         std::chrono::milliseconds limit)
{
    if (names.isEmpty())
        return {};
    QStringList args{QStringLiteral("volume"), QStringLiteral("inspect")};
    args << names << QStringLiteral("--format")
         << QStringLiteral(R"({"id":{{json .Name}},"labels":{{json .Labels}}})");
    return parseLabelMaps(inspected(args, runtime, limit), names, false);
}

void settleUnsureLabels(QList<Container>& containers, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    settle(containers, keys, &Container::id, &Container::labels,
           [&](const QStringList& ids) { return containerLabelMaps(ids, runtime, limit); });
}

void settleUnsureLabels(QList<DockerVolume>& volumes, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    settle(volumes, keys, &DockerVolume::name, &DockerVolume::labels,
           [&](const QStringList& names) { return volumeLabelMaps(names, runtime, limit); });
}

} // namespace Docker
