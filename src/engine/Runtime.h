#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

// Which engine a command talks to: a context of the docker client by name, or an engine reached
// through a Unix socket. An absent runtime (std::nullopt) means the client's own current context.
struct Runtime {
    enum class Kind { Context, Socket };

    Kind kind = Kind::Context;
    QString name;
    QString path; // sockets only

    static Runtime context(const QString& name) { return {Kind::Context, name, {}}; }
    static Runtime socket(const QString& name, const QString& path) { return {Kind::Socket, name, path}; }

    bool isContext() const { return kind == Kind::Context; }
    bool isSocket() const { return kind == Kind::Socket; }
    const QString& id() const { return name; }

    bool operator==(const Runtime&) const = default;
};

size_t qHash(const Runtime& runtime, size_t seed = 0) noexcept;

template <>
struct std::hash<Runtime> {
    size_t operator()(const Runtime& runtime) const noexcept { return qHash(runtime); }
};

// One runtime as discovery lists it.
struct RuntimeEntry {
    Runtime runtime;
    QString endpoint;
    bool reachable = false;
    bool current = false;

    const QString& id() const { return runtime.id(); }
    // How the runtime picker names it: the name, then " · current" for the client's current context,
    // then " · offline" when it does not answer.
    QString label() const;
    bool operator==(const RuntimeEntry&) const = default;
};

size_t qHash(const RuntimeEntry& entry, size_t seed = 0) noexcept;

namespace Docker {

struct Discovery {
    QList<RuntimeEntry> list;
    std::optional<Runtime> current; // the runtime to select, not necessarily the client's current context

    bool operator==(const Discovery&) const = default;
};

// Maps a socket path to a canonical form, so two names of one socket compare equal.
using Resolve = std::function<QString(const QString& path)>;

// Lists the client's contexts and, when its bridge socket exists, the Apple runtime. Throws
// DockerError (or Platform::LaunchError) when the context listing fails.
Discovery runtimes();

// Drops the client's built-in "default" context when it is not current and another listed entry
// reaches the same socket.
QList<RuntimeEntry> withoutAlias(const QList<RuntimeEntry>& entries, const Resolve& resolve);

// The runtime to select at start.
std::optional<Runtime> preferred(const QList<RuntimeEntry>& entries, const std::optional<Runtime>& current);

// The runtime to switch to when `from` no longer answers; none when nothing better is listed.
std::optional<Runtime> handover(const std::optional<Runtime>& from, const QList<RuntimeEntry>& entries);

// The socket path a "unix://" endpoint names (possibly empty); none for any other endpoint.
std::optional<QString> socketPath(const QString& endpoint);

// A "unix://" endpoint is reachable when its socket file exists; other endpoints always are.
bool isReachable(const QString& endpoint);
// The same, looked at off the calling thread (never the window's): a socket on a mount that stalls
// holds the caller up for `limit` at most, and counts as reachable meanwhile, so that its listing is
// what says it does not answer.
bool isReachableWithin(const QString& endpoint, std::chrono::milliseconds limit);

// The docker client's configuration folder: $DOCKER_CONFIG, else ~/.docker.
QString clientConfigFolder();
// A digest of everything discovery reads besides the engines: the client's configuration (its current
// context) and every context's description under `configFolder`, and whether the Apple runtime's
// socket exists at `appleSocket`. Equal digests mean discovery would find what it found before, so
// the context listing need not run again. A folder that is not there is a state like any other.
QByteArray contextsFingerprint(const QString& configFolder, const QString& appleSocket);

// The Apple runtime, reached through the socket its bridge program offers.
inline constexpr auto appleRuntimeName = "apple-container";
QString appleSocketPath();
QString appleEndpoint();
Runtime appleRuntime();

// Follows every symbolic link of a path; a path that does not exist comes back unchanged.
QString resolveLinks(const QString& path);

// Test seams: the Apple socket's location and the resolver discovery uses. Empty / null restores.
void setAppleSocketPathForTesting(const QString& path);
void setLinkResolverForTesting(Resolve resolve);

} // namespace Docker
