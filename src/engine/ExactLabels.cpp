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
// an item gone since it was listed makes the client fail but still print the others. None when the
// engine did not answer within `limit` (or no time was left to ask it).
std::optional<QString> inspected(const QStringList& args, const std::optional<Runtime>& runtime,
                                 std::chrono::milliseconds limit)
{
    if (limit.count() <= 0)
        return std::nullopt;
    const Platform::TimedCompletion done =
        Platform::runTimed(Docker::process(args, runtime), limit, std::chrono::seconds(2));
    if (done.timedOut || done.cancelled)
        return std::nullopt;
    return Platform::decodeUtf8Strict(done.run.out);
}

// What the engine said of some items' labels, and whether it answered at all.
struct Answered {
    QHash<QString, Docker::LabelMap> maps;
    bool answered = true;
};

Answered askContainers(const QStringList& ids, const std::optional<Runtime>& runtime,
                       std::chrono::milliseconds limit)
{
    Answered said;
    QStringList unknown;
    for (const QString& id : ids) {
        if (const std::optional<Docker::LabelMap> known = remembered().find(Docker::runtimeId(runtime) + u'/' + id))
            said.maps.insert(id, *known);
        else if (!id.isEmpty())
            unknown << id;
    }
    if (unknown.isEmpty())
        return said;
    QStringList args{QStringLiteral("inspect"), QStringLiteral("--type"), QStringLiteral("container")};
    args << unknown << QStringLiteral("--format")
         << QStringLiteral(R"({"id":{{json .Id}},"labels":{{json .Config.Labels}}})");
    const std::optional<QString> printed = inspected(args, runtime, limit);
    said.answered = printed.has_value();
    const QHash<QString, Docker::LabelMap> asked =
        Docker::parseLabelMaps(printed.value_or(QString()), unknown, true);
    for (auto it = asked.cbegin(); it != asked.cend(); ++it) {
        remembered().keep(Docker::runtimeId(runtime) + u'/' + it.key(), it.value());
        said.maps.insert(it.key(), it.value());
    }
    return said;
}

Answered askVolumes(const QStringList& names, const std::optional<Runtime>& runtime,
                    std::chrono::milliseconds limit)
{
    if (names.isEmpty())
        return {};
    QStringList args{QStringLiteral("volume"), QStringLiteral("inspect")};
    args << names << QStringLiteral("--format")
         << QStringLiteral(R"({"id":{{json .Name}},"labels":{{json .Labels}}})");
    const std::optional<QString> printed = inspected(args, runtime, limit);
    return {Docker::parseLabelMaps(printed.value_or(QString()), names, false), printed.has_value()};
}

// Gives every item of `items` whose listing left one of `keys` unsure the labels `ask` gets from the
// engine for its identity; one the engine does not answer for loses those labels, and is marked as
// unanswered when the engine did not answer at all (rather than for an item gone since the listing).
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
    const Answered said = ask(unsure);
    const QHash<QString, Docker::LabelMap>& exact = said.maps;
    for (T& item : items) {
        if (!Docker::holdsUnsureLabel(item.*labels, keys))
            continue;
        if (const auto found = exact.constFind(item.*identity); found != exact.cend()) {
            item.*labels = found.value();
            continue;
        }
        item.labelsUnanswered = !said.answered;
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
    return askContainers(ids, runtime, limit).maps;
}

QHash<QString, LabelMap> volumeLabelMaps(const QStringList& names, const std::optional<Runtime>& runtime,
                                         std::chrono::milliseconds limit)
{
    return askVolumes(names, runtime, limit).maps;
}

void settleUnsureLabels(QList<Container>& containers, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    settle(containers, keys, &Container::id, &Container::labels,
           [&](const QStringList& ids) { return askContainers(ids, runtime, limit); });
}

void settleUnsureLabels(QList<DockerVolume>& volumes, const QStringList& keys,
                        const std::optional<Runtime>& runtime, std::chrono::milliseconds limit)
{
    settle(volumes, keys, &DockerVolume::name, &DockerVolume::labels,
           [&](const QStringList& names) { return askVolumes(names, runtime, limit); });
}

} // namespace Docker
