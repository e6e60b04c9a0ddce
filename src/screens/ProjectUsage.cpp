#include "screens/ProjectUsage.h"

#include "platform/ByteCount.h"

#include <algorithm>
#include <limits>

namespace {

// The running container with the highest figure in `figures`; none when no running container has one.
template <typename T>
std::optional<std::pair<Container, T>> heaviest(const ComposeProject& project,
                                                const QMap<QString, T>& figures)
{
    std::optional<std::pair<Container, T>> best;
    for (const Container& c : project.containers) {
        if (c.state != u"running")
            continue;
        const auto figure = figures.constFind(c.name);
        if (figure == figures.cend())
            continue;
        // Strictly greater: of equal figures the earlier container keeps its place.
        if (!best || *figure > best->second)
            best = std::pair<Container, T>(c, *figure);
    }
    return best;
}

} // namespace

QString ProjectUsage::shownName(const Container& container)
{
    return container.service().value_or(container.name);
}

ProjectUsage ProjectUsage::of(const ComposeProject& project, const std::optional<LiveStats>& stats,
                              const std::optional<DiskUsage>& usage, bool answering)
{
    QStringList names;
    for (const Container& c : project.containers)
        names << c.name;
    const bool running = std::any_of(project.containers.cbegin(), project.containers.cend(),
                                     [](const Container& c) { return c.state == u"running"; });
    const QString waiting = running ? QStringLiteral("Measuring…") : QStringLiteral("Nothing running");

    ProjectUsage out;

    const std::optional<double> cpu = stats ? stats->cpuOf(names) : std::nullopt;
    if (cpu) {
        out.processor.value = Docker::percent(*cpu);
        out.processor.unit = QStringLiteral("of this computer");
    }
    const double cores = Docker::cores();
    out.processor.fraction = cores > 0 ? cpu.value_or(0) / cores / 100 : 0;
    const auto busiest = stats ? heaviest(project, stats->cpu) : std::nullopt;
    out.processor.caption = busiest ? QStringLiteral("Busiest: ") + shownName(busiest->first) +
                                          QStringLiteral(", ") + Docker::percent(busiest->second)
                                    : waiting;

    const std::optional<qint64> memory = stats ? stats->memoryOf(names) : std::nullopt;
    const quint64 physical = Docker::physicalMemory();
    if (memory) {
        out.memory.value = Platform::memorySize(*memory);
        out.memory.unit = QStringLiteral("of ") +
                          Platform::memorySize(qint64(
                              std::min<quint64>(physical, quint64(std::numeric_limits<qint64>::max()))));
    }
    out.memory.fraction = physical > 0 ? double(memory.value_or(0)) / double(physical) : 0;
    const auto biggest = stats ? heaviest(project, stats->memory) : std::nullopt;
    out.memory.caption = biggest ? QStringLiteral("Biggest: ") + shownName(biggest->first) +
                                       QStringLiteral(", ") + Platform::memorySize(biggest->second)
                                 : waiting;

    if (usage) {
        const qint64 bytes = usage->bytes(project);
        out.disk.value = Platform::diskFigure(bytes);
        out.disk.unit = QStringLiteral("used");
        out.disk.fraction = usage->total >= 1 ? double(bytes) / double(usage->total) : 0;
        out.disk.caption = QStringLiteral("Containers and their volumes");
    } else {
        out.disk.caption = answering ? QStringLiteral("Measuring…") : QStringLiteral("Not measured");
    }
    return out;
}
