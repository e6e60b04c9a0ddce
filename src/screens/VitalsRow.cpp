#include "screens/VitalsRow.h"

#include "app/design/AdaptiveGrid.h"
#include "app/design/VitalCaption.h"
#include "app/design/VitalCard.h"
#include "app/design/Vosk.h"
#include "app/design/VoskButton.h"
#include "app/parts/ChangeBatch.h"
#include "engine/Listings.h"
#include "platform/ByteCount.h"
#include "sheets/ReclaimButton.h"
#include "store/AppStore.h"

#include <QStackedLayout>

namespace {

const QString measuringText = QStringLiteral("Measuring\u2026");
const QString nothingRunning = QStringLiteral("Nothing running");
const QString notMeasured = QStringLiteral("Not measured");

QStringList namesOf(const QList<Container>& containers)
{
    QStringList names;
    names.reserve(containers.size());
    for (const Container& c : containers)
        names << c.name;
    return names;
}

// "Measuring…" while containers run without a figure yet, "Nothing running" when none runs.
QString waiting(int running)
{
    return running > 0 ? measuringText : nothingRunning;
}

} // namespace

template <typename T>
std::optional<Vitals::Heaviest<T>>
Vitals::heaviest(const QList<ComposeProject>& projects, const QList<Container>& loose,
                 const std::function<std::optional<T>(const QStringList&)>& metric)
{
    std::optional<Heaviest<T>> best;
    // The winner's name is made once, at the end: this runs at every statistics poll.
    const ComposeProject* bestProject = nullptr;
    const auto consider = [&](const QStringList& names) {
        const std::optional<T> value = metric(names);
        // Strictly greater: on a tie the unit met first stays.
        const bool better = value && (!best || *value > best->value);
        if (better)
            best = Heaviest<T>{names.value(0), *value};
        return better;
    };
    for (const ComposeProject& project : projects)
        if (consider(namesOf(project.containers)))
            bestProject = &project;
    for (const Container& c : loose)
        if (consider({c.name}))
            bestProject = nullptr;
    if (best && bestProject)
        best->name = bestProject->displayName();
    return best;
}

template std::optional<Vitals::Heaviest<double>>
Vitals::heaviest(const QList<ComposeProject>&, const QList<Container>&,
                 const std::function<std::optional<double>(const QStringList&)>&);
template std::optional<Vitals::Heaviest<qint64>>
Vitals::heaviest(const QList<ComposeProject>&, const QList<Container>&,
                 const std::function<std::optional<qint64>(const QStringList&)>&);

Vitals Vitals::of(const QList<Container>& containers, const std::optional<LiveStats>& stats,
                  const std::optional<DiskUsage>& usage, bool answering, bool listed, bool measuring)
{
    return of(containers, listed ? Docker::group(containers) : QList<ComposeProject>(), stats, usage,
              answering, listed, measuring);
}

Vitals Vitals::of(const QList<Container>& containers, const QList<ComposeProject>& projects,
                  const std::optional<LiveStats>& stats, const std::optional<DiskUsage>& usage,
                  bool answering, bool listed, bool measuring)
{
    Vitals v;
    if (!listed) {
        const QString unmeasured = answering ? measuringText : notMeasured;
        v.containersCaption = unmeasured;
        v.processorCaption = unmeasured;
        v.memoryCaption = unmeasured;
        v.diskCaption = unmeasured;
        return v;
    }
    const QStringList names = namesOf(containers);
    const QList<Container> loose = Docker::ungrouped(containers);
    const int total = int(containers.size());
    const int running = int(std::count_if(containers.cbegin(), containers.cend(),
                                          [](const Container& c) { return c.state == u"running"; }));

    v.containers = {QString::number(running), QStringLiteral("of %1 running").arg(total),
                    total > 0 ? double(running) / total : 0.0};
    v.containersCaption = running == total ? QStringLiteral("Nothing stopped")
                                           : QStringLiteral("%1 stopped").arg(total - running);

    const std::optional<double> cpu = stats ? stats->cpuOf(names) : std::nullopt;
    const double load = cpu.value_or(0) / Docker::cores();
    QString loadWord;
    if (cpu)
        loadWord = load < 30   ? QStringLiteral("light load")
                   : load < 70 ? QStringLiteral("moderate load")
                               : QStringLiteral("heavy load");
    v.processor = {cpu ? std::optional(Docker::percent(*cpu)) : std::nullopt, loadWord, load / 100};
    const std::function<std::optional<double>(const QStringList&)> cpuMetric =
        [&stats](const QStringList& of) { return stats ? stats->cpuOf(of) : std::nullopt; };
    if (const auto busiest = heaviest(projects, loose, cpuMetric))
        v.processorCaption =
            QStringLiteral("Busiest: %1, %2").arg(busiest->name, Docker::percent(busiest->value));
    else
        v.processorCaption = waiting(running);

    const std::optional<qint64> memory = stats ? stats->memoryOf(names) : std::nullopt;
    const double physical = double(Docker::physicalMemory());
    v.memory = {memory ? std::optional(Platform::memorySize(*memory)) : std::nullopt,
                memory ? QStringLiteral("of ") + Platform::memorySize(qint64(Docker::physicalMemory()))
                       : QString(),
                physical > 0 ? double(memory.value_or(0)) / physical : 0.0};
    const std::function<std::optional<qint64>(const QStringList&)> memoryMetric =
        [&stats](const QStringList& of) { return stats ? stats->memoryOf(of) : std::nullopt; };
    if (const auto biggest = heaviest(projects, loose, memoryMetric))
        v.memoryCaption =
            QStringLiteral("Biggest: %1, %2").arg(biggest->name, Platform::memorySize(biggest->value));
    else
        v.memoryCaption = waiting(running);

    const qint64 used = usage ? usage->total : 0;
    v.reclaimable = usage ? usage->reclaimable() : 0;
    v.disk = {usage ? std::optional(Platform::fileSize(used)) : std::nullopt,
              usage ? QStringLiteral("used") : QString(),
              used < 1 ? 0.0 : double(used - v.reclaimable) / double(used)};
    if (v.reclaimable < 1)
        v.diskCaption = usage                    ? QStringLiteral("Nothing to free")
                        : answering && measuring ? measuringText
                                                 : notMeasured;
    else
        v.reclaimTitle = QStringLiteral("Free up %1\u2026").arg(Platform::fileSize(v.reclaimable));
    return v;
}

VitalsRow::VitalsRow(AppStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setObjectName(QStringLiteral("vitalsRow"));
    auto* grid = new AdaptiveGrid(minimumTileWidth, spacing, this);

    const auto tile = [&](const char* name, const QString& icon, const QString& title, QWidget* footer,
                          const Token& tint) {
        auto* card = new VitalCard(icon, title, std::nullopt, QString(), 0, tint, nullptr, footer, this);
        card->setObjectName(QLatin1StringView(name));
        grid->addWidget(card);
        return card;
    };
    const auto caption = [](const char* name) {
        auto* label = new VitalCaption(QString());
        label->setObjectName(QLatin1StringView(name));
        return label;
    };

    m_containersCaption = caption("containersCaption");
    m_processorCaption = caption("processorCaption");
    m_memoryCaption = caption("memoryCaption");
    m_diskCaption = caption("diskCaption");
    // Frees space across everything in scope; its label says how much could go.
    m_reclaim = new ReclaimButton(store, QString(), std::nullopt);
    m_reclaim->setToolTip(Vosk::toolTip(QStringLiteral("Choose which stopped containers, unused images and "
                                                       "volumes to remove")));
    auto* diskFooter = new QWidget;
    m_diskFooter = new QStackedLayout(diskFooter);
    m_diskFooter->setContentsMargins(0, 0, 0, 0);
    m_diskFooter->addWidget(m_diskCaption);
    m_diskFooter->addWidget(m_reclaim);

    m_containers = tile("containersVital", QStringLiteral("shippingbox"), QStringLiteral("Containers"),
                        m_containersCaption, Vosk::success);
    m_processor = tile("processorVital", QStringLiteral("cpu"), QStringLiteral("Processor"),
                       m_processorCaption, Vosk::ink);
    m_memory = tile("memoryVital", QStringLiteral("memorychip"), QStringLiteral("Memory"), m_memoryCaption,
                    Vosk::ink);
    m_disk = tile("diskVital", QStringLiteral("externaldrive"), QStringLiteral("Disk space"), diskFooter,
                  Vosk::ink);

    m_batch = new ChangeBatch(this, [this] { refresh(); });
    m_batch->watch(&store, &AppStore::containersChanged);
    m_batch->watch(&store, &AppStore::statsChanged);
    m_batch->watch(&store, &AppStore::usageChanged);
    m_batch->watch(&store, &AppStore::refreshErrorChanged);
    m_batch->watch(&store, &AppStore::listedChanged);
    m_batch->watch(&store, &AppStore::awaitingUsageChanged);
    refresh();
}

void VitalsRow::refresh()
{
    // The store groups once per listing; the statistics polls between listings take the same groups.
    apply(Vitals::of(m_store.containers(), m_store.groups(), m_store.stats(), m_store.usage(),
                     !m_store.refreshError(), m_store.listed(), m_store.awaitingUsage()));
}

void VitalsRow::apply(const Vitals& v)
{
    if (m_applied && v == m_vitals)
        return;
    const bool first = !m_applied;
    m_applied = true;
    const Vitals was = std::exchange(m_vitals, v);

    const auto figure = [first](VitalCard* card, const Vitals::Tile& now, const Vitals::Tile& before) {
        if (first || now != before)
            card->setFigure(now.value, now.unit, now.fraction);
    };
    figure(m_containers, v.containers, was.containers);
    figure(m_processor, v.processor, was.processor);
    figure(m_memory, v.memory, was.memory);
    figure(m_disk, v.disk, was.disk);
    m_containersCaption->setCaption(v.containersCaption);
    m_processorCaption->setCaption(v.processorCaption);
    m_memoryCaption->setCaption(v.memoryCaption);

    const bool offer = v.reclaimable >= 1;
    m_disk->setMeterColors(Vosk::ink, offer ? &Vosk::ion : nullptr);
    if (offer) {
        m_reclaim->setText(v.reclaimTitle);
        m_diskFooter->setCurrentWidget(m_reclaim);
    } else {
        m_diskCaption->setCaption(v.diskCaption);
        m_diskFooter->setCurrentWidget(m_diskCaption);
    }
}
