#pragma once

#include "platform/PreparedProcess.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// Processor and memory figures per container, as sampled from an engine. Keys are container names
// for Docker engines and container identifiers for the Apple runtime; the store merges runtimes.
struct LiveStats {
    QMap<QString, double> cpu;    // percent of one processor: two busy processors read 200
    QMap<QString, qint64> memory; // bytes in use

    // Both maps united; where both have a key, this one's entry wins.
    LiveStats merging(const LiveStats& other) const;
    // Sums over the given keys, a key listed twice counting twice; none when no key has an entry.
    std::optional<double> cpuOf(const QStringList& names) const;
    std::optional<qint64> memoryOf(const QStringList& names) const;

    bool operator==(const LiveStats&) const = default;
};

// The Apple runtime's cumulative processor time per container, as last read; the percentages of the
// next reading are the growth since then. The caller keeps one per runtime and hands it back.
struct CPUSample {
    QMap<QString, qint64> usec;
    QDateTime at;

    // Nothing read yet: no counters, taken in the distant past.
    static CPUSample initial();
};

namespace Docker {

// The lines of `docker stats --no-stream --format json`, keyed by the "Name" column.
LiveStats parseDockerStats(const QString& text);

struct ContainerStatsReading {
    LiveStats stats;
    CPUSample sample; // to pass as `previous` next time
};

// The JSON array of Apple's `container stats --no-stream --format json`. A container gets a processor
// share only when `previous` holds its counter, the counter did not go back and time has passed.
ContainerStatsReading parseContainerStats(const QString& text, const CPUSample& previous,
                                          const QDateTime& now);

// A processor figure (100 per busy processor) as a share of the whole machine: "0%", "<1%", "12%".
QString percent(double cpu);

// Bytes of a size text as the engines print it ("1.5GiB", "8.19kB", "0B"); only its first blank-separated
// word counts. None when the word has no known unit, its number does not read or is negative, or the
// result does not fit.
std::optional<qint64> bytes(const QString& text);

// The machine's active processors and physical memory, read once.
double cores();
quint64 physicalMemory();

// Test seams: fixed values so outputs are reproducible; nullopt returns to the machine's own.
void setCoresForTesting(std::optional<double> cores);
void setPhysicalMemoryForTesting(std::optional<quint64> bytes);

// Runs a prepared child with a time limit and gives its standard output only when it exited with
// status 0 in time and printed valid UTF-8; otherwise (cannot start, failed, ended by the limit) none.
// Blocks the calling thread for at most about `seconds` plus a grace of two seconds.
std::optional<QString> timed(const Platform::PreparedProcess& process, double seconds);

} // namespace Docker
