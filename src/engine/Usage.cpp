#include "engine/Usage.h"

#include "engine/Compose.h"
#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Docker.h"
#include "engine/ExactLabels.h"
#include "engine/ProjectLooks.h"
#include "engine/Reclaim.h"
#include "engine/Stats.h"
#include "engine/Teardown.h"
#include "platform/DiskLook.h"
#include "platform/Json.h"
#include "platform/Numbers.h"
#include "platform/TimedRunner.h"

#include <QDeadlineTimer>
#include <QSet>
#include <QThread>

#include <algorithm>

namespace {

std::optional<qint64> sizeOf(const QJsonObject& object, QLatin1StringView column)
{
    return Docker::bytes(Docker::str(object, column));
}

// What a runtime measured under `name`; none when it measured nothing there.
std::optional<qint64> measured(const QMap<QString, qint64>& sizes, const QString& name)
{
    const auto size = sizes.constFind(name);
    return size == sizes.cend() ? std::nullopt : std::optional<qint64>(size.value());
}

// The client writes counts as text ("0"); a number 0 counts too. A missing column is not zero.
bool isZero(const QJsonValue& value)
{
    if (value.isString())
        return value.toString() == u"0";
    if (value.isDouble())
        return value.toDouble() == 0;
    if (value.isBool())
        return !value.toBool();
    return false;
}

QList<QJsonObject> section(const QJsonObject& detail, QLatin1StringView key)
{
    return Platform::objectArray(detail.value(key)).value_or(QList<QJsonObject>());
}

std::optional<QString> joinedNotes(const QStringList& notes)
{
    if (notes.isEmpty())
        return std::nullopt;
    return notes.join(Docker::partSeparator);
}

// Without note, project or runtime; those are added where they are known.
Reclaimable candidate(Reclaimable::Kind kind, const QString& ref, const QString& name, qint64 bytes,
                      Reclaimable::Recovery recovery)
{
    Reclaimable item;
    item.kind = kind;
    item.ref = ref;
    item.name = name;
    item.bytes = bytes;
    item.recovery = recovery;
    return item;
}

// A container that is not running and may be reclaimed.
bool isStopped(const QJsonObject& object)
{
    const QString state = Docker::str(object, QLatin1StringView("State"));
    return state == u"exited" || state == u"created" || state == u"dead";
}

using LabelMaps = QHash<QString, QMap<QString, QString>>;

// A stopped container's labels: the engine's own label maps where it was asked (`exactLabels`), else
// those of the report's joined text.
Container labelledOf(const QJsonObject& object, const std::optional<LabelMaps>& exactLabels)
{
    Container labelled;
    // One the engine gave no labels for belongs to no project: the joined text could name any.
    if (exactLabels)
        labelled.labels = exactLabels->value(Docker::str(object, QLatin1StringView("ID")));
    else
        labelled.labels = Docker::parseLabels(object.value(QLatin1StringView("Labels")).toString());
    return labelled;
}

std::optional<Reclaimable> containerCandidate(const QJsonObject& object, const QString& name, qint64 size,
                                              const Docker::CanCompose& canCompose,
                                              const std::optional<LabelMaps>& exactLabels)
{
    if (!isStopped(object))
        return std::nullopt;

    // Removed by the identifier measured: a name may be given to a new container meanwhile.
    const QString id = Docker::str(object, QLatin1StringView("ID"));
    const Container labelled = labelledOf(object, exactLabels);
    Reclaimable item = candidate(Reclaimable::Kind::Container, id.isEmpty() ? name : id, name, size,
                                 Reclaimable::Recovery::Restorable);
    item.project = labelled.project();

    // The Apple runtime recreates its image builder on demand.
    if (labelled.labels.value(QStringLiteral("com.apple.container.resource.role")) == u"builder")
        return item;

    QStringList notes;
    const std::optional<QString> workingDir = labelled.workingDir();
    // A folder that does not answer may well hold the file; until it answers, the container is taken
    // to be one that may not come back.
    const std::optional<bool> composable =
        item.project && workingDir && canCompose ? canCompose(*workingDir) : std::optional<bool>(false);
    if (!item.project) {
        item.recovery = Reclaimable::Recovery::Gone;
        notes << QStringLiteral("not in a project");
    } else if (!composable) {
        item.recovery = Reclaimable::Recovery::Gone;
        notes << QStringLiteral("folder does not answer");
    } else if (!*composable) {
        item.recovery = Reclaimable::Recovery::Gone;
        notes << QStringLiteral("compose file missing");
    }
    if (isZero(object.value(QLatin1StringView("LocalVolumes"))))
        notes << QStringLiteral("no volume");
    item.note = joinedNotes(notes);
    return item;
}

std::optional<Reclaimable> imageCandidate(const QJsonObject& object)
{
    if (!isZero(object.value(QLatin1StringView("Containers"))))
        return std::nullopt;
    const QString repository = object.value(QLatin1StringView("Repository")).toString();
    const QString tag = object.value(QLatin1StringView("Tag")).toString();
    if (Docker::isSystemImage(repository))
        return std::nullopt;

    Reclaimable item = candidate(Reclaimable::Kind::Image, {}, {}, 0, Reclaimable::Recovery::Restorable);
    item.imageId = Docker::str(object, QLatin1StringView("ID"));
    if (!repository.isEmpty() && repository != u"<none>" && tag != u"<none>") {
        item.ref = item.name = repository + u':' + tag;
    } else {
        item.ref = Docker::str(object, QLatin1StringView("ID"));
        item.name = QStringLiteral("untagged");
        item.note = QStringLiteral("no tag");
        item.recovery = Reclaimable::Recovery::Gone;
    }
    // What removing it frees is the part no other image shares.
    item.bytes = sizeOf(object, QLatin1StringView("UniqueSize"))
                     .value_or(sizeOf(object, QLatin1StringView("Size")).value_or(0));
    return item;
}

bool candidateOrder(const Reclaimable& a, const Reclaimable& b)
{
    const QString kindA = Reclaimable::rawValue(a.kind);
    const QString kindB = Reclaimable::rawValue(b.kind);
    if (kindA != kindB)
        return kindA < kindB;
    if (a.bytes != b.bytes)
        return a.bytes > b.bytes;
    return a.name < b.name;
}

} // namespace

QString Reclaimable::rawValue(Kind kind)
{
    switch (kind) {
    case Kind::Container:
        return QStringLiteral("container");
    case Kind::Image:
        return QStringLiteral("image");
    case Kind::Volume:
        return QStringLiteral("volume");
    case Kind::BuildCache:
        return QStringLiteral("buildCache");
    }
    return {};
}

QString Reclaimable::id() const
{
    return Docker::runtimeId(runtime) + u'/' + rawValue(kind) + u'/' + ref;
}

size_t qHash(const Reclaimable& item, size_t seed) noexcept
{
    seed = qHashMulti(seed, int(item.kind), item.ref, item.name, item.bytes, int(item.recovery));
    seed = qHashMulti(seed, item.note.has_value(), item.note.value_or(QString()));
    seed = qHashMulti(seed, item.project.has_value(), item.project.value_or(QString()));
    return item.runtime ? qHash(*item.runtime, seed) : seed;
}

DiskUsage DiskUsage::measuredOn(const std::optional<Runtime>& runtime) const
{
    DiskUsage filed = *this;
    filed.byRuntime = {{Docker::runtimeId(runtime), UsageSizes{containerSize, volumeSize, mounts}}};
    return filed;
}

DiskUsage DiskUsage::merging(const DiskUsage& other) const
{
    DiskUsage merged = other;
    merged.total = Platform::saturatingAdd(total, other.total);
    merged.containerSize.insert(containerSize); // ours replace theirs where both have a key
    merged.volumeSize.insert(volumeSize);
    merged.mounts.insert(mounts);
    merged.byRuntime.insert(byRuntime);
    merged.candidates = candidates + other.candidates;
    return merged;
}

UsageSizes DiskUsage::sizesOn(const std::optional<Runtime>& runtime) const
{
    if (byRuntime.isEmpty())
        return UsageSizes{containerSize, volumeSize, mounts};
    return byRuntime.value(Docker::runtimeId(runtime));
}

std::optional<qint64> DiskUsage::containerBytes(const QString& name,
                                                const std::optional<Runtime>& runtime) const
{
    return measured(sizesOn(runtime).containerSize, name);
}

std::optional<qint64> DiskUsage::volumeBytes(const QString& name, const std::optional<Runtime>& runtime) const
{
    return measured(sizesOn(runtime).volumeSize, name);
}

qint64 DiskUsage::reclaimable() const
{
    qint64 sum = 0;
    for (const Reclaimable& item : candidates)
        sum = Platform::saturatingAdd(sum, item.bytes);
    return sum;
}

QList<Reclaimable> DiskUsage::candidatesIn(const QString& project) const
{
    QList<Reclaimable> matching;
    for (const Reclaimable& item : candidates)
        if (item.project == project)
            matching << item;
    return matching;
}

qint64 DiskUsage::bytes(const ComposeProject& project) const
{
    const UsageSizes own = sizesOn(project.runtime);
    qint64 sum = 0;
    QSet<QString> volumes;
    for (const Container& container : project.containers) {
        sum = Platform::saturatingAdd(sum, own.containerSize.value(container.name));
        for (const QString& volume : own.mounts.value(container.name))
            volumes.insert(volume);
    }
    for (const QString& volume : std::as_const(volumes))
        sum = Platform::saturatingAdd(sum, own.volumeSize.value(volume));
    return sum;
}

namespace Docker {

std::optional<bool> hasComposeFile(const QString& workingDir)
{
    const std::optional<std::optional<QString>> found =
        Platform::lookAtFolder(workingDir, Looks::composeFile(workingDir), Platform::heldUpAfter);
    if (!found)
        return std::nullopt;
    return found->has_value();
}

QHash<QString, bool> composeFilesIn(const QStringList& workingDirs, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    QHash<QString, Platform::PendingLook<std::optional<QString>>> looks;
    for (const QString& dir : workingDirs)
        if (!looks.contains(dir))
            looks.insert(dir, Platform::startFolderLook(dir, Looks::composeFile(dir), limit));
    QHash<QString, bool> found;
    for (auto look = looks.cbegin(); look != looks.cend(); ++look)
        if (const std::optional<std::optional<QString>> file = look->wait(Platform::remaining(deadline)))
            found.insert(look.key(), file->has_value());
    return found;
}

bool isSystemImage(const QString& repository)
{
    return repository.startsWith(QLatin1StringView(appleSystemImagePrefix)) ||
           repository.startsWith(QLatin1StringView(bridgeImagePrefix));
}

namespace {

// What says whether the folders of the stopped containers of a report can bring them back, asked once
// with all of those folders.
using ComposeLooks = std::function<CanCompose(const QStringList& workingDirs)>;

DiskUsage parsed(const QString& summary, const QString& detail, const ComposeLooks& composeLooks,
                 const LabelsOf& labelsOf)
{
    DiskUsage usage;
    std::optional<Reclaimable> buildCache;
    for (const QJsonObject& row : ndjson(summary)) {
        usage.total =
            Platform::saturatingAdd(usage.total, sizeOf(row, QLatin1StringView("Size")).value_or(0));
        if (str(row, QLatin1StringView("Type")) != u"Build Cache")
            continue;
        const auto freed = sizeOf(row, QLatin1StringView("Reclaimable"));
        if (freed && *freed >= 1)
            buildCache = candidate(Reclaimable::Kind::BuildCache, QString(), QStringLiteral("Build cache"),
                                   *freed, Reclaimable::Recovery::Restorable);
    }

    const QJsonValue parsed = Platform::parseJson(detail);
    if (!parsed.isObject())
        return usage; // only the total: without the detail nothing can be judged, not even the cache
    const QJsonObject report = parsed.toObject();

    const QList<QJsonObject> containers = section(report, QLatin1StringView("Containers"));
    QStringList stopped;
    for (const QJsonObject& row : containers)
        if (isStopped(row) && !str(row, QLatin1StringView("ID")).isEmpty())
            stopped << str(row, QLatin1StringView("ID"));
    std::optional<LabelMaps> exactLabels;
    if (labelsOf)
        exactLabels = stopped.isEmpty() ? LabelMaps() : labelsOf(stopped);
    QStringList workingDirs;
    QSet<QString> seen;
    for (const QJsonObject& row : containers) {
        if (!isStopped(row))
            continue;
        const Container labelled = labelledOf(row, exactLabels);
        const std::optional<QString> dir = labelled.workingDir();
        if (labelled.project() && dir && !seen.contains(*dir)) {
            seen.insert(*dir);
            workingDirs << *dir;
        }
    }
    const CanCompose canCompose = composeLooks(workingDirs);
    for (const QJsonObject& row : containers) {
        const QString name = row.value(QLatin1StringView("Names")).toString();
        const auto size = sizeOf(row, QLatin1StringView("Size"));
        if (name.isEmpty() || !size)
            continue;
        usage.containerSize.insert(name, *size);
        if (auto item = containerCandidate(row, name, *size, canCompose, exactLabels))
            usage.candidates << *item;
    }

    for (const QJsonObject& row : section(report, QLatin1StringView("Volumes"))) {
        const QString name = row.value(QLatin1StringView("Name")).toString();
        const auto size = sizeOf(row, QLatin1StringView("Size"));
        if (name.isEmpty() || !size)
            continue;
        usage.volumeSize.insert(name, *size);
        if (isZero(row.value(QLatin1StringView("Links"))))
            usage.candidates << candidate(Reclaimable::Kind::Volume, name, name, *size,
                                          Reclaimable::Recovery::Gone);
    }

    // An untagged image kept under several repositories' digests has a row for each; it is still one
    // image, removed once.
    QSet<QString> images;
    for (const QJsonObject& row : section(report, QLatin1StringView("Images")))
        if (auto item = imageCandidate(row); item && !images.contains(item->ref)) {
            images.insert(item->ref);
            usage.candidates << *item;
        }

    if (buildCache)
        usage.candidates << *buildCache;
    std::stable_sort(usage.candidates.begin(), usage.candidates.end(), candidateOrder);
    return usage;
}

} // namespace

DiskUsage parseUsage(const QString& summary, const QString& detail, const CanCompose& canCompose,
                     const LabelsOf& labelsOf)
{
    return parsed(
        summary, detail, [&canCompose](const QStringList&) { return canCompose; }, labelsOf);
}

// The engine measures one disk-usage request at a time and turns away a second one while the first
// runs ("a disk usage operation is already running"). Another view, another window or the command
// line may be measuring at that moment, so such a refusal is waited out for a few seconds.
QString diskUsageReport(const std::optional<Runtime>& runtime, bool verbose, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(std::max<qint64>(limit.count(), 0));
    QStringList args{QStringLiteral("system"), QStringLiteral("df")};
    if (verbose)
        args << QStringLiteral("-v");
    args << QStringLiteral("--format") << QStringLiteral("json");
    constexpr int attempts = 20;
    constexpr unsigned long pauseMs = 250;
    for (int attempt = 1;; ++attempt) {
        try {
            return run(args, runtime, std::nullopt, Platform::remaining(deadline));
        } catch (const DockerError& error) {
            if (attempt == attempts ||
                !error.errorDescription().contains(u"disk usage operation is already running"))
                throw;
        }
        if (deadline.remainingTime() <= qint64(pauseMs))
            throw TimedOut(notAnswering(runtime));
        QThread::msleep(pauseMs);
    }
}

DiskUsage usage(const std::optional<Runtime>& runtime, const CanCompose& canCompose,
                std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(std::max<qint64>(limit.count(), 0));
    const QString summary = diskUsageReport(runtime, false, Platform::remaining(deadline));
    const QString detail = diskUsageReport(runtime, true, Platform::remaining(deadline));
    // Without an answer of the caller's, the folders are looked at all at once, and waited for together.
    const ComposeLooks composeLooks = [&canCompose](const QStringList& dirs) -> CanCompose {
        if (canCompose)
            return canCompose;
        const QHash<QString, bool> found = composeFilesIn(dirs, composeLookLimit);
        return [found](const QString& dir) -> std::optional<bool> {
            const auto file = found.constFind(dir);
            return file == found.cend() ? std::nullopt : std::optional<bool>(*file);
        };
    };
    DiskUsage usage = parsed(summary, detail, composeLooks, [&](const QStringList& ids) {
        return containerLabelMaps(
            ids, runtime, std::min<std::chrono::milliseconds>(listingLimit, Platform::remaining(deadline)));
    });
    // The mounts keep the bound of any listing, within what is left. QMap keys come sorted.
    const std::optional<MountMap> mounts = volumeMounts(
        usage.containerSize.keys(), runtime,
        std::min<std::chrono::milliseconds>(listingLimit, Platform::remaining(deadline)), nullptr);
    if (!mounts && deadline.hasExpired())
        throw TimedOut(notAnswering(runtime));
    usage.mounts = mounts.value_or(MountMap());

    QStringList tagged;
    for (const Reclaimable& item : std::as_const(usage.candidates))
        if (item.kind == Reclaimable::Kind::Image && item.recovery == Reclaimable::Recovery::Restorable)
            tagged << item.ref;
    usage.candidates = marking(usage.candidates, localBuilds(tagged, runtime, Platform::remaining(deadline)));
    QStringList spare;
    for (const Reclaimable& item : std::as_const(usage.candidates))
        if (item.kind == Reclaimable::Kind::Volume)
            spare << item.ref;
    usage.candidates =
        withCreation(usage.candidates, volumeCreation(spare, runtime, Platform::remaining(deadline)));
    for (Reclaimable& item : usage.candidates)
        item.runtime = runtime;
    return usage;
}

} // namespace Docker
