#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Apple's container system services: whether they run, and the versions of both halves.
struct SystemStatus {
    bool running = false;
    std::optional<QString> clientVersion;
    std::optional<QString> serverVersion;

    // Running with a client and a server of different versions: an update installed the new client,
    // and the services go on running the old one until they are restarted.
    bool needsRestart() const
    {
        return running && clientVersion && serverVersion && *clientVersion != *serverVersion;
    }

    bool operator==(const SystemStatus&) const = default;
};

// Apple container's image builder.
struct BuilderStatus {
    bool exists = false;
    bool running = false;
    std::optional<int> cpus;
    std::optional<qint64> memoryBytes;

    bool operator==(const BuilderStatus&) const = default;
};

// Colima's engine VM, the profile named "default".
struct EngineStatus {
    bool running = false;
    std::optional<int> cpus;
    std::optional<qint64> memoryBytes;

    bool operator==(const EngineStatus&) const = default;
};

// The parsers never fail: output they cannot use gives the empty record.
namespace Toolchain {

// The commands whose output the parsers read (exit status ignored). The system status is read from
// standard output, a line feed and the error output; the other two from standard output alone.
QStringList systemStatusCommand();
QStringList builderStatusCommand();
QStringList engineListCommand();

// The key/value table of `container system status`.
SystemStatus parseStatus(const QString& text);
// The JSON array of `container builder status --format json`; only the first builder counts.
BuilderStatus parseBuilder(const QString& text);
// Colima's one-object-per-line VM list.
EngineStatus parseEngine(const QString& text);

// Run a command above and parse it; blocking, for background pools.
SystemStatus readSystemStatus();
BuilderStatus readBuilderStatus();
EngineStatus readEngineStatus();

} // namespace Toolchain
