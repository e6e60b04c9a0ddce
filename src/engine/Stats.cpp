#include "engine/Stats.h"

#include "engine/Docker.h"
#include "platform/Json.h"
#include "platform/Numbers.h"
#include "platform/TimedRunner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <unistd.h>

namespace {

// Zero means "not overridden": neither a machine nor a test has zero processors or zero memory.
std::atomic<double> coresOverride{0.0};
std::atomic<quint64> memoryOverride{0};

struct Unit {
    const char16_t* suffix;
    double multiplier;
};

// Binary units before decimal ones and "B" last, so "MiB" is never read as a number ending in "B".
constexpr Unit units[] = {
    {u"TiB", 1099511627776.0},
    {u"GiB", 1073741824.0},
    {u"MiB", 1048576.0},
    {u"KiB", 1024.0},
    {u"TB", 1e12},
    {u"GB", 1e9},
    {u"MB", 1e6},
    {u"kB", 1e3},
    {u"KB", 1e3},
    {u"B", 1.0},
};

} // namespace

LiveStats LiveStats::merging(const LiveStats& other) const
{
    LiveStats merged = other;
    merged.cpu.insert(cpu); // replaces the other's entries where both have a key
    merged.memory.insert(memory);
    return merged;
}

std::optional<double> LiveStats::cpuOf(const QStringList& names) const
{
    std::optional<double> sum;
    for (const QString& name : names) {
        const auto it = cpu.constFind(name);
        if (it != cpu.cend())
            sum = sum.value_or(0.0) + it.value();
    }
    return sum;
}

std::optional<qint64> LiveStats::memoryOf(const QStringList& names) const
{
    std::optional<qint64> sum;
    for (const QString& name : names) {
        const auto it = memory.constFind(name);
        if (it != memory.cend())
            sum = Platform::saturatingAdd(sum.value_or(0), it.value());
    }
    return sum;
}

CPUSample CPUSample::initial()
{
    return {{}, QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC)};
}

namespace Docker {

LiveStats parseDockerStats(const QString& text)
{
    LiveStats stats;
    for (const QJsonObject& object : ndjson(text)) {
        const QString name = str(object, QLatin1StringView("Name"));
        if (name.isEmpty())
            continue;
        // "12.50%": the last character is the percent sign, whatever it is.
        const QString cpuText = str(object, QLatin1StringView("CPUPerc"));
        if (const auto cpu =
                Platform::parseDecimal(QStringView(cpuText).chopped(std::min<qsizetype>(1, cpuText.size()))))
            stats.cpu.insert(name, *cpu);
        // "43.57MiB / 7.654GiB": the usage before the slash; the limit is not ours to show.
        const QStringList pieces = str(object, QLatin1StringView("MemUsage")).split(u'/', Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            continue;
        if (const auto memory = bytes(pieces.first()))
            stats.memory.insert(name, *memory);
    }
    return stats;
}

ContainerStatsReading parseContainerStats(const QString& text, const CPUSample& previous,
                                          const QDateTime& now)
{
    ContainerStatsReading reading;
    reading.sample.at = now;

    // Anything but a list of records: nothing in it is trusted.
    const std::optional<QList<QJsonObject>> rows = Platform::objectArray(Platform::parseJson(text));
    if (!rows)
        return reading;

    // An invalid time on either side reads as no time passed, so no share is computed.
    const double intervalUsec =
        previous.at.isValid() && now.isValid() ? double(previous.at.msecsTo(now)) * 1000.0 : 0.0;

    for (const QJsonObject& object : *rows) {
        const QString id = object.value(QLatin1StringView("id")).toString();
        if (id.isEmpty())
            continue;
        if (const auto memory = Platform::jsonInteger(object.value(QLatin1StringView("memoryUsageBytes"))))
            reading.stats.memory.insert(id, *memory);
        const auto usec = Platform::jsonInteger(object.value(QLatin1StringView("cpuUsageUsec")));
        if (!usec)
            continue;
        reading.sample.usec.insert(id, *usec);
        const auto before = previous.usec.constFind(id);
        if (before != previous.usec.cend() && *usec >= before.value() && intervalUsec > 0)
            reading.stats.cpu.insert(id, (double(*usec) - double(before.value())) / intervalUsec * 100.0);
    }
    return reading;
}

QString percent(double cpu)
{
    const double share = cpu / cores();
    if (std::isnan(share) || share <= 0)
        return QStringLiteral("0%");
    if (share < 1)
        return QStringLiteral("<1%");
    if (const auto whole = Platform::roundedInt64(share))
        return QString::number(*whole) + u'%';
    return QStringLiteral("—");
}

std::optional<qint64> bytes(const QString& text)
{
    const QList<QStringView> words = QStringView(text).split(u' ', Qt::SkipEmptyParts);
    const QStringView word = words.isEmpty() ? QStringView() : words.first();
    for (const Unit& unit : units) {
        const QStringView suffix(unit.suffix);
        if (!word.endsWith(suffix))
            continue;
        const auto number = Platform::parseDecimal(word.chopped(suffix.size()));
        if (!number || !(*number >= 0))
            return std::nullopt;
        return Platform::roundedInt64(*number * unit.multiplier);
    }
    return std::nullopt;
}

double cores()
{
    if (const double fixed = coresOverride.load(); fixed > 0)
        return fixed;
    static const double machine = [] {
        const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
        return online > 0 ? double(online) : 1.0;
    }();
    return machine;
}

quint64 physicalMemory()
{
    if (const quint64 fixed = memoryOverride.load(); fixed > 0)
        return fixed;
    static const quint64 machine = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGESIZE);
        if (pages <= 0 || pageSize <= 0)
            return quint64(0);
        quint64 total = 0;
        if (__builtin_mul_overflow(quint64(pages), quint64(pageSize), &total))
            return std::numeric_limits<quint64>::max();
        return total;
    }();
    return machine;
}

void setCoresForTesting(std::optional<double> value)
{
    coresOverride.store(value && *value > 0 ? *value : 0.0);
}

void setPhysicalMemoryForTesting(std::optional<quint64> value)
{
    memoryOverride.store(value.value_or(0));
}

std::optional<QString> timed(const Platform::PreparedProcess& process, double seconds)
{
    // A day is far beyond any limit a caller means; it also keeps the milliseconds inside the clock's range.
    constexpr double longestSeconds = 86400.0;
    const double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, longestSeconds);
    const auto limit = std::chrono::milliseconds(Platform::roundedInt64(clamped * 1000.0).value_or(0));

    const Platform::TimedCompletion done = Platform::runTimed(process, limit);
    if (!done.succeeded())
        return std::nullopt;
    const QString text = Platform::decodeUtf8Strict(done.run.out);
    if (text.isEmpty() && !done.run.out.isEmpty())
        return std::nullopt; // not UTF-8
    return text;
}

} // namespace Docker
