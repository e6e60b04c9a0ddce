#include "diagnostics/shot/ShotFixtures.h"

#include "engine/Reclaim.h"
#include "engine/Runtime.h"
#include "store/AppStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace ShotFixtures {

namespace {

constexpr char stubText[] = "services: {}\n";
constexpr char composeFileName[] = "docker-compose.yml";
// The one folder that gets no compose file.
constexpr char bareFolder[] = "docs-site";

QString projectDir(const QString& project)
{
    return root() + QLatin1Char('/') + project;
}

QMap<QString, QString> composeLabels(const QString& project)
{
    return {{QString::fromLatin1(Docker::projectLabel), project},
            {QString::fromLatin1(Docker::workingDirLabel), projectDir(project)}};
}

Container container(const char* name, const char* image, const char* state, const char* status,
                    const char* ports, const char* project)
{
    Container c;
    c.name = QString::fromUtf8(name);
    c.id = containerId(c.name);
    c.image = QString::fromUtf8(image);
    c.state = QString::fromUtf8(state);
    c.status = QString::fromUtf8(status);
    c.ports = QString::fromUtf8(ports);
    if (project)
        c.labels = composeLabels(QString::fromUtf8(project));
    return c;
}

bool writeStub(const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(stubCompose());
    return file.commit();
}

bool holdsOnlyStub(const QString& path)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink() || info.size() != qint64(sizeof stubText - 1))
        return false;
    return file.open(QIODevice::ReadOnly) && file.readAll() == stubCompose();
}

QJsonObject usageContainer(const char* name, const char* state, const char* size, const char* volumes,
                           std::optional<QString> labels = std::nullopt)
{
    QJsonObject row{{"Names", name}, {"State", state}, {"Size", size}, {"LocalVolumes", volumes}};
    if (labels)
        row.insert(QStringLiteral("Labels"), *labels);
    return row;
}

QString usageLabels(const QString& project)
{
    return QString::fromLatin1(Docker::projectLabel) + u'=' + project + u',' +
           QString::fromLatin1(Docker::workingDirLabel) + u'=' + projectDir(project);
}

// What `docker system df --format json` prints: one line per kind.
QString usageSummary()
{
    return QStringLiteral(R"({"Size":"1.9GB","Reclaimable":"0B","Type":"Images"})"
                          "\n"
                          R"({"Size":"14.1GB","Reclaimable":"0B","Type":"Containers"})"
                          "\n"
                          R"({"Size":"388.2MB","Reclaimable":"0B","Type":"Local Volumes"})"
                          "\n"
                          R"({"Size":"412MB","Reclaimable":"412MB","Type":"Build Cache"})");
}

// What `docker system df -v --format json` prints. Built as JSON rather than spliced text, so a home
// folder with a quote or a backslash in its name still makes a readable report.
QString usageDetail()
{
    const QJsonArray containers{
        usageContainer("storefront-web-1", "running", "1.42GB", "0"),
        usageContainer("storefront-api-1", "running", "2.11GB", "2"),
        usageContainer("atlas-analytics-db-1", "running", "1.68GB", "0"),
        usageContainer("atlas-analytics-worker-1", "exited", "2.11GB", "1",
                       usageLabels(QStringLiteral("atlas-analytics"))),
        usageContainer("docs-site-web-1", "running", "1.45GB", "0"),
        usageContainer("legacy-invoicing-php-1", "exited", "1.73GB", "0",
                       usageLabels(QStringLiteral("legacy-invoicing"))),
        usageContainer("media-library-db-1", "paused", "2.24GB", "0"),
        usageContainer("media-library-cache-1", "running", "1.42GB", "0"),
        usageContainer("old-demo-pg", "exited", "1.68GB", "0", QString()),
        usageContainer("portainer", "running", "8.19kB", "0"),
    };
    const auto volume = [](const char* name, const char* links, const char* size) {
        return QJsonObject{{"Name", name}, {"Links", links}, {"Size", size}};
    };
    const QJsonArray volumes{
        volume("storefront_pgdata", "1", "69.4MB"),
        volume("storefront_uploads", "2", "318.8MB"),
        volume("old_experiment_data", "0", "136.5MB"),
    };
    const auto image = [](const char* containers, const char* id, const char* repository, const char* tag,
                          const char* size, const char* unique) {
        return QJsonObject{
            {"Containers", containers}, {"ID", id}, {"Repository", repository}, {"Tag", tag}, {"Size", size},
            {"UniqueSize", unique}};
    };
    const QJsonArray images{
        image("1", "sha256:a1", "postgres", "16-alpine", "248MB", "248MB"),
        image("0", "sha256:b2", "node", "20-alpine", "49MB", "49MB"),
        image("0", "sha256:d4", "storefront-api", "dev", "187MB", "187MB"),
        image("0", "sha256:c3", "<none>", "<none>", "212MB", "211.8MB"),
    };
    const QJsonObject detail{{"Containers", containers}, {"Volumes", volumes}, {"Images", images}};
    return QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact));
}

struct Sampled {
    const char* name;
    qint64 memoryBytes;
    qint64 cpuUsec; // the second sample's counter; the first has 0
};

constexpr Sampled sampled[] = {
    {"storefront-web-1", 38567936, 400000},       {"storefront-api-1", 416509952, 5200000},
    {"atlas-analytics-db-1", 123768832, 1100000}, {"docs-site-web-1", 18956288, 90000},
    {"media-library-cache-1", 9437184, 30000},    {"portainer", 64225280, 260000},
};

// The Apple runtime's statistics array, with every counter at `usec` of the sampled container, or 0.
QString statsText(bool second)
{
    QStringList objects;
    for (const Sampled& each : sampled)
        objects << QStringLiteral(R"({"id":"%1","cpuUsageUsec":%2,"memoryUsageBytes":%3})")
                       .arg(QString::fromLatin1(each.name))
                       .arg(second ? each.cpuUsec : 0)
                       .arg(each.memoryBytes);
    return u'[' + objects.join(u',') + u']';
}

DockerImage image(const char* id, const char* repository, const char* tag, const char* size)
{
    return {QString::fromLatin1(id), QString::fromLatin1(repository), QString::fromLatin1(tag),
            QString::fromLatin1(size), std::nullopt};
}

DockerVolume volume(const char* name)
{
    const QString n = QString::fromLatin1(name);
    return {n, QStringLiteral("local"), QStringLiteral("/var/lib/containers/volumes/") + n, std::nullopt};
}

} // namespace

QString root()
{
    return QDir::homePath() + QStringLiteral("/Projects");
}

const QStringList& folderNames()
{
    static const QStringList names{QStringLiteral("storefront"), QStringLiteral("atlas-analytics"),
                                   QStringLiteral("media-library"), QStringLiteral("nightly-reports"),
                                   QString::fromLatin1(bareFolder)};
    return names;
}

QByteArray stubCompose()
{
    return QByteArray(stubText);
}

CreatedPaths makeFixtureDirs()
{
    CreatedPaths created;
    if (!QFileInfo::exists(root())) {
        if (!QDir().mkpath(root())) {
            created.failure = root();
            return created;
        }
        created.folders << root();
    }
    for (const QString& name : folderNames()) {
        const QString path = projectDir(name);
        // A file or a dangling link under the folder's name is no folder: the cards would show it missing.
        if (QFileInfo(path).isDir())
            continue;
        if (!QDir().mkpath(path)) {
            created.failure = path;
            return created;
        }
        created.folders << path;
        if (name == QLatin1String(bareFolder))
            continue;
        const QString compose = path + QLatin1Char('/') + QLatin1String(composeFileName);
        if (!writeStub(compose)) {
            created.failure = compose;
            return created;
        }
        created.composeFiles << compose;
    }
    return created;
}

void removeFixtureDirs(const CreatedPaths& created)
{
    for (const QString& file : created.composeFiles)
        if (holdsOnlyStub(file))
            QFile::remove(file);
    // rmdir takes a folder only when it is empty, and never follows a link put in its place.
    for (auto it = created.folders.crbegin(); it != created.folders.crend(); ++it)
        QDir().rmdir(*it);
}

QString containerId(const QString& name)
{
    // FNV-1a over the name's UTF-8 bytes: fixed, unlike the process-seeded string hash.
    quint64 hash = 14695981039346656037ull;
    for (const char byte : name.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 1099511628211ull;
    }
    return QString::number(hash % 1000000000000ull);
}

QList<Container> containers()
{
    return {
        container("storefront-web-1", "nginx:1.27-alpine", "running", "Up 4 days",
                  "0.0.0.0:8080->80/tcp, [::]:8080->80/tcp", "storefront"),
        container("storefront-api-1", "storefront-api", "running", "Up 4 days", "", "storefront"),
        container("atlas-analytics-db-1", "postgres:16-alpine", "running", "Up 11 hours",
                  "0.0.0.0:5432->5432/tcp", "atlas-analytics"),
        container("atlas-analytics-worker-1", "atlas-analytics-worker", "exited", "Exited (1) 3 hours ago",
                  "", "atlas-analytics"),
        container("docs-site-web-1", "caddy:2-alpine", "running", "Up 30 minutes", "0.0.0.0:4000->80/tcp",
                  "docs-site"),
        container("legacy-invoicing-php-1", "php:8.2-apache", "exited", "Exited (0) 6 days ago", "",
                  "legacy-invoicing"),
        container("media-library-db-1", "mysql:8.0", "paused", "Paused", "0.0.0.0:3306->3306/tcp",
                  "media-library"),
        container("media-library-cache-1", "redis:7-alpine", "running", "Up 2 days", "", "media-library"),
        container("portainer", "portainer/portainer-ce", "running", "Up 2 weeks", "0.0.0.0:9443->9443/tcp",
                  nullptr),
    };
}

ProjectRegistry registry(const std::optional<QString>& runtimeId)
{
    ProjectRegistry registry;
    const QString name = QStringLiteral("nightly-reports");
    registry.add({name, projectDir(name), {QStringLiteral("db"), QStringLiteral("worker")}}, runtimeId);
    return registry;
}

DiskUsage usage(const std::optional<Runtime>& runtime)
{
    // The report names no mounts: those come from inspecting the containers, so they are set here.
    DiskUsage result = Docker::parseUsage(usageSummary(), usageDetail(), Docker::hasComposeFile);
    result.mounts = {
        {QStringLiteral("storefront-api-1"),
         {QStringLiteral("storefront_pgdata"), QStringLiteral("storefront_uploads")}},
        {QStringLiteral("atlas-analytics-worker-1"), {QStringLiteral("storefront_uploads")}},
    };
    result.candidates = Docker::marking(
        result.candidates, {{QStringLiteral("storefront-api:dev"), QStringLiteral("storefront")}});
    // As a measurement of that runtime would: a project frees only what its own runtime holds.
    for (Reclaimable& item : result.candidates)
        item.runtime = runtime;
    return result;
}

LiveStats stats()
{
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const Docker::ContainerStatsReading first =
        Docker::parseContainerStats(statsText(false), CPUSample::initial(), epoch);
    return Docker::parseContainerStats(statsText(true), first.sample, epoch.addSecs(10)).stats;
}

QMap<QString, QString> addresses(const QList<Container>& containers)
{
    QMap<QString, QString> result;
    int n = 0;
    for (const Container& c : containers)
        if (c.state == QLatin1String("running"))
            result.insert(c.name, QStringLiteral("192.168.64.") + QString::number(n++ + 2));
    return result;
}

void fill(AppStore& store)
{
    const Runtime apple = Runtime::socket(QStringLiteral("apple-container"), QStringLiteral("/x"));
    store.setRuntimes({
        {Runtime::context(QStringLiteral("default")), QStringLiteral("unix:///var/run/docker.sock"), false,
         false},
        {apple, QStringLiteral("unix:///x"), true, false},
    });
    store.setRuntime(apple);
    store.setContainers(containers());
    store.setRegistry(
        registry(store.runtime() ? std::optional<QString>(store.runtime()->id()) : std::nullopt));
    store.setImages({
        image("a1b2c3d4e5f6", "postgres", "16-alpine", "248MB"),
        image("b2c3d4e5f6a1", "mysql", "8.0", "601MB"),
        image("c3d4e5f6a1b2", "nginx", "1.27-alpine", "52.8MB"),
        image("d4e5f6a1b2c3", "redis", "7-alpine", "41.4MB"),
    });
    store.setVolumes({volume("storefront_pgdata"), volume("storefront_uploads")});
    store.setUsage(usage(store.runtime()));
    store.setStats(stats());
    store.setAddresses(addresses(containers()));
    store.setError(
        QStringLiteral("docker compose up -d: no configuration file found in ~/Projects/legacy-invoicing"));
    store.setNotice(QStringLiteral("2 variables have no value: MYSQL_ROOT_PASSWORD, MYSQL_PASSWORD. compose "
                                   "substituted empty strings. Check the .env beside the compose file."));
}

} // namespace ShotFixtures
