#include "engine/Runtime.h"

#include "engine/Docker.h"
#include "engine/ProjectLooks.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMutex>
#include <QSet>

#include <sys/stat.h>

size_t qHash(const Runtime& runtime, size_t seed) noexcept
{
    return qHashMulti(seed, int(runtime.kind), runtime.name, runtime.path);
}

QString RuntimeEntry::label() const
{
    static const QString separator = QStringLiteral(u" \u00B7 ");
    QString text = runtime.name;
    if (current)
        text += separator + QStringLiteral("current");
    if (!reachable)
        text += separator + QStringLiteral("offline");
    return text;
}

size_t qHash(const RuntimeEntry& entry, size_t seed) noexcept
{
    return qHashMulti(seed, entry.runtime, entry.endpoint, entry.reachable, entry.current);
}

namespace Docker {

namespace {

const QString unixScheme = QStringLiteral("unix://");
// The client's descriptions are a few hundred bytes each; anything past this is not one of them.
constexpr qint64 mostReadOfAFile = 1 << 20;
constexpr int mostContexts = 4096;
// How long discovery waits for a look at one socket: a socket file answers at once, unless the mount
// that holds it stalls.
constexpr std::chrono::seconds reachableWithin{2};
const QString defaultSocketPath =
    QStringLiteral("/opt/homebrew/var/run/socktainer/.socktainer/container.sock");

QMutex seamMutex;
QString appleSocketOverride;
Resolve resolverOverride;

bool fileExists(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0; // follows links, as wanted
}

// A file's bytes, up to mostReadOfAFile; none when it cannot be read (absent, a folder, no right).
std::optional<QByteArray> contentsOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(mostReadOfAFile);
}

// Adds one field to the digest, its length first, so that no two lists of fields read alike.
void addField(QCryptographicHash& digest, const QByteArray& field)
{
    const QByteArray length = QByteArray::number(field.size()) + ':';
    digest.addData(length);
    digest.addData(field);
}

Resolve discoveryResolver()
{
    QMutexLocker lock(&seamMutex);
    return resolverOverride ? resolverOverride : Resolve(resolveLinks);
}

} // namespace

QString appleSocketPath()
{
    QMutexLocker lock(&seamMutex);
    return appleSocketOverride.isEmpty() ? defaultSocketPath : appleSocketOverride;
}

QString appleEndpoint()
{
    return unixScheme + appleSocketPath();
}

Runtime appleRuntime()
{
    return Runtime::socket(QString::fromLatin1(appleRuntimeName), appleSocketPath());
}

void setAppleSocketPathForTesting(const QString& path)
{
    QMutexLocker lock(&seamMutex);
    appleSocketOverride = path;
}

void setLinkResolverForTesting(Resolve resolve)
{
    QMutexLocker lock(&seamMutex);
    resolverOverride = std::move(resolve);
}

QString resolveLinks(const QString& path)
{
    // A socket's folder is the user's as much as a project's: it is looked at by a look server.
    const QString canonical =
        Platform::lookAtFolder(path, Platform::Looks::resolved(path), reachableWithin).value_or(QString());
    return canonical.isEmpty() ? path : canonical;
}

std::optional<QString> socketPath(const QString& endpoint)
{
    if (!endpoint.startsWith(unixScheme))
        return std::nullopt;
    return endpoint.mid(unixScheme.size());
}

bool isReachable(const QString& endpoint)
{
    const std::optional<QString> path = socketPath(endpoint);
    if (!path)
        return true;
    return !path->isEmpty() && fileExists(*path);
}

bool isReachableWithin(const QString& endpoint, std::chrono::milliseconds limit)
{
    const std::optional<QString> path = socketPath(endpoint);
    if (!path || path->isEmpty())
        return isReachable(endpoint);
    return Platform::lookAtFolder(*path, Looks::reachable(endpoint), limit).value_or(true);
}

QString clientConfigFolder()
{
    const QString configured = qEnvironmentVariable("DOCKER_CONFIG");
    return configured.isEmpty() ? QDir::homePath() + QStringLiteral("/.docker") : configured;
}

QByteArray contextsFingerprint(const QString& configFolder, const QString& appleSocket)
{
    QCryptographicHash digest(QCryptographicHash::Sha256);
    // Of the configuration only the current context counts: logins write the same file, and asking
    // for the contexts again after each would be for nothing.
    const std::optional<QByteArray> config = contentsOf(configFolder + QStringLiteral("/config.json"));
    if (!config) {
        addField(digest, "no config");
    } else {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*config, &error);
        if (error.error == QJsonParseError::NoError && document.isObject())
            addField(digest,
                     document.object().value(QLatin1StringView("currentContext")).toString().toUtf8());
        else
            addField(digest, *config); // as the client reads it, whatever that makes of it
    }
    const QDir meta(configFolder + QStringLiteral("/contexts/meta"));
    QStringList contexts = meta.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    if (contexts.size() > mostContexts)
        contexts.resize(mostContexts);
    addField(digest, QByteArray::number(contexts.size()));
    for (const QString& context : std::as_const(contexts)) {
        addField(digest, QFile::encodeName(context));
        addField(digest,
                 contentsOf(meta.filePath(context) + QStringLiteral("/meta.json")).value_or("unreadable"));
    }
    addField(digest, fileExists(appleSocket) ? "apple socket" : "no apple socket");
    return digest.result();
}

Discovery runtimes()
{
    const QString output = run(
        {QStringLiteral("context"), QStringLiteral("ls"), QStringLiteral("--format"), QStringLiteral("json")},
        std::nullopt, std::nullopt, listingLimit);
    const QList<QJsonObject> contexts = ndjson(output);
    requireJsonListing(output, contexts.size());
    QList<RuntimeEntry> list;
    QSet<QString> seenEndpoints;
    std::optional<Runtime> clientCurrent;
    for (const QJsonObject& object : contexts) {
        const QString name = str(object, QLatin1StringView("Name"));
        const QString endpoint = str(object, QLatin1StringView("DockerEndpoint"));
        const bool current = object.value(QLatin1StringView("Current")).toBool(false);
        list.append(
            {Runtime::context(name), endpoint, isReachableWithin(endpoint, reachableWithin), current});
        seenEndpoints.insert(endpoint);
        if (current)
            clientCurrent = Runtime::context(name);
    }

    list = withoutAlias(list, discoveryResolver());

    if (!seenEndpoints.contains(appleEndpoint()) &&
        Platform::lookAtFolder(appleSocketPath(), Looks::reachable(appleEndpoint()), reachableWithin)
            .value_or(false))
        list.append({appleRuntime(), appleEndpoint(), true, false});

    return {list, preferred(list, clientCurrent)};
}

QList<RuntimeEntry> withoutAlias(const QList<RuntimeEntry>& entries, const Resolve& resolve)
{
    const auto isDefault = [](const RuntimeEntry& e) {
        return e.runtime.isContext() && e.runtime.name == u"default";
    };
    const auto alias = std::find_if(entries.cbegin(), entries.cend(),
                                    [&](const RuntimeEntry& e) { return isDefault(e) && !e.current; });
    if (alias == entries.cend())
        return entries;
    const std::optional<QString> aliasSocket = socketPath(alias->endpoint);
    if (!aliasSocket)
        return entries;

    const QString aliasPath = resolve(*aliasSocket);
    const bool shared = std::any_of(entries.cbegin(), entries.cend(), [&](const RuntimeEntry& e) {
        const std::optional<QString> socket = socketPath(e.endpoint);
        return !isDefault(e) && socket && resolve(*socket) == aliasPath;
    });
    if (!shared)
        return entries;

    QList<RuntimeEntry> kept;
    for (const RuntimeEntry& e : entries)
        if (!isDefault(e))
            kept.append(e);
    return kept;
}

std::optional<Runtime> preferred(const QList<RuntimeEntry>& entries, const std::optional<Runtime>& current)
{
    if (current) {
        const auto found = std::find_if(entries.cbegin(), entries.cend(),
                                        [&](const RuntimeEntry& e) { return e.runtime == *current; });
        if (found != entries.cend() && found->reachable)
            return current;
    }
    const auto reachable =
        std::find_if(entries.cbegin(), entries.cend(), [](const RuntimeEntry& e) { return e.reachable; });
    if (reachable != entries.cend())
        return reachable->runtime;
    if (current)
        return current;
    if (!entries.isEmpty())
        return entries.first().runtime;
    return std::nullopt;
}

std::optional<Runtime> handover(const std::optional<Runtime>& from, const QList<RuntimeEntry>& entries)
{
    if (!from)
        return std::nullopt;
    const auto found = std::find_if(entries.cbegin(), entries.cend(),
                                    [&](const RuntimeEntry& e) { return e.runtime == *from; });
    if (found != entries.cend() && found->reachable)
        return std::nullopt;
    const auto reachable =
        std::find_if(entries.cbegin(), entries.cend(), [](const RuntimeEntry& e) { return e.reachable; });
    if (reachable == entries.cend() || reachable->runtime == *from)
        return std::nullopt;
    return reachable->runtime;
}

} // namespace Docker
