#include "diagnostics/selftest/Cases.h"

#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/ComposeProject.h"
#include "engine/Listings.h"
#include "engine/Runtime.h"
#include "engine/Stats.h"
#include "engine/Usage.h"
#include "screens/Git.h"
#include "sheets/LogSource.h"
#include "toolchain/DefaultSocket.h"
#include "toolchain/Scripts.h"
#include "toolchain/ServicesStatus.h"

#include <QDateTime>
#include <QSet>
#include <QTimeZone>

#include <cmath>

namespace SelfTest {

namespace {

QDateTime secondsAfterEpoch(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
}

void dockerStats()
{
    const LiveStats stats = Docker::parseDockerStats(
        QStringLiteral("{\"CPUPerc\":\"12.50%\",\"MemUsage\":\"43.57MiB / 7.654GiB\",\"Name\":\"web-1\"}\n"
                       "{\"CPUPerc\":\"0.00%\",\"MemUsage\":\"1.5GiB / 7.654GiB\",\"Name\":\"db-1\"}\n"
                       "{\"CPUPerc\":\"--\",\"MemUsage\":\"-- / --\",\"Name\":\"gone-1\"}"));
    const QMap<QString, double> cpu{{QStringLiteral("web-1"), 12.5}, {QStringLiteral("db-1"), 0.0}};
    const QMap<QString, qint64> memory{{QStringLiteral("web-1"), 45686456},
                                       {QStringLiteral("db-1"), 1610612736}};
    checkEqual(stats.cpu, cpu, QStringLiteral("the processor shares of the statistics lines"));
    checkEqual(stats.memory, memory, QStringLiteral("the memory of the statistics lines"));
}

LiveStats appleStats()
{
    const Docker::ContainerStatsReading first = Docker::parseContainerStats(
        QStringLiteral("[{\"id\":\"web-1\",\"cpuUsageUsec\":5000000,\"memoryUsageBytes\":1000},"
                       "{\"id\":\"db-1\",\"cpuUsageUsec\":9000000,\"memoryUsageBytes\":2000}]"),
        CPUSample::initial(), secondsAfterEpoch(100));
    check(first.stats.cpu.isEmpty(), QStringLiteral("a first sample gives no processor share"));
    const QMap<QString, qint64> memory{{QStringLiteral("web-1"), 1000}, {QStringLiteral("db-1"), 2000}};
    checkEqual(first.stats.memory, memory, QStringLiteral("the memory of a first sample"));

    const Docker::ContainerStatsReading second = Docker::parseContainerStats(
        QStringLiteral("[{\"id\":\"web-1\",\"cpuUsageUsec\":6000000,\"memoryUsageBytes\":1500},"
                       "{\"id\":\"db-1\",\"cpuUsageUsec\":100,\"memoryUsageBytes\":2000}]"),
        first.sample, secondsAfterEpoch(110));
    const std::optional<double> web =
        second.stats.cpu.contains(QStringLiteral("web-1"))
            ? std::optional<double>(second.stats.cpu.value(QStringLiteral("web-1")))
            : std::nullopt;
    check(web && std::abs(*web - 10.0) < 0.001,
          QStringLiteral("one processor second over ten seconds is 10 %"));
    check(!second.stats.cpu.contains(QStringLiteral("db-1")),
          QStringLiteral("a counter that went back gives no share"));
    checkEqual(second.sample.usec.value(QStringLiteral("db-1")), qint64(100),
               QStringLiteral("the counter that went back is remembered"));

    const Docker::ContainerStatsReading unreadable =
        Docker::parseContainerStats(QStringLiteral("not json"), CPUSample::initial(), secondsAfterEpoch(110));
    check(unreadable.stats.cpu.isEmpty() && unreadable.stats.memory.isEmpty(),
          QStringLiteral("statistics that are not JSON give nothing"));
    return second.stats;
}

void sums(const LiveStats& stats)
{
    checkEqual(stats.memoryOf({QStringLiteral("web-1"), QStringLiteral("db-1"), QStringLiteral("absent")}),
               std::optional<qint64>(3500), QStringLiteral("names without figures add nothing to memory"));
    checkEqual(stats.cpuOf({QStringLiteral("absent")}), std::optional<double>(),
               QStringLiteral("the processor share of no known name is none"));
}

void shares()
{
    // Pinned, so a machine with many processors reads the same as any other.
    Docker::setCoresForTesting(8);
    const QString whole = Docker::percent(100.0);
    const QString idle = Docker::percent(0);
    const QString little = Docker::percent(0.01);
    Docker::setCoresForTesting(std::nullopt);
    checkEqual(whole, QStringLiteral("13%"),
               QStringLiteral("one busy processor of eight, rounded half away from zero"));
    checkEqual(idle, QStringLiteral("0%"), QStringLiteral("no processor time"));
    checkEqual(little, QStringLiteral("<1%"), QStringLiteral("a sliver of processor time"));
}

void logArguments()
{
    const Container web = makeContainer({.id = QStringLiteral("abc123"), .name = QStringLiteral("web-1")});
    const LogSource logs = LogSource::container(web);
    checkEqual(logs.args(300, std::nullopt), QStringList{"logs", "-f", "--tail", "300", "abc123"},
               QStringLiteral("the log arguments with a tail"));
    checkEqual(logs.args(std::nullopt, std::nullopt), QStringList{"logs", "-f", "abc123"},
               QStringLiteral("the log arguments with neither tail nor since"));
    checkEqual(logs.bootArgs(300),
               std::optional<QStringList>({"container", "logs", "--boot", "-f", "-n", "300", "web-1"}),
               QStringLiteral("the boot log arguments"));
    checkEqual(logs.args(std::nullopt, QStringLiteral("1h")),
               QStringList{"logs", "-f", "--since", "1h", "abc123"},
               QStringLiteral("the log arguments with a since"));
    const ComposeProject p{QStringLiteral("p"), QStringLiteral("/tmp"), {}, 0, std::nullopt};
    // Project logs name their project, as up and down do: a folder another project also runs from
    // never shows that other project's logs.
    checkEqual(LogSource::project(p).args(300, QStringLiteral("5m")),
               QStringList{"compose", "-p", "p", "logs", "-f", "--tail", "300", "--since", "5m"},
               QStringLiteral("the project log arguments"));
    checkEqual(LogSource::systemArgs(QStringLiteral("5m")),
               QStringList{"container", "system", "logs", "--last", "5m"},
               QStringLiteral("the system log arguments"));
    checkEqual(LogSource::inspect(web).args(std::nullopt, std::nullopt), QStringList{"inspect", "abc123"},
               QStringLiteral("the inspect arguments"));
}

void imageReference()
{
    DockerImage image;
    image.id = QStringLiteral("sha256:fff");
    image.repository = QStringLiteral("ghcr.io/me/app");
    image.tag = QStringLiteral("1.0");
    check(image.repository != u"<none>" && image.tag != u"<none>",
          QStringLiteral("the image has a repository and a tag"));
    checkEqual(image.ref(), QStringLiteral("ghcr.io/me/app:1.0"),
               QStringLiteral("a tagged image's reference"));
    checkEqual(LogSource::inspectImage(image).saveName(), QStringLiteral("ghcr.io-me-app-1.0.json"),
               QStringLiteral("the inspect file name"));
}

void addresses()
{
    const QMap<QString, QString> found = Docker::parseAddresses(QStringLiteral(
        "[{\"configuration\":{\"id\":\"web-1\"},\"id\":\"web-1\",\"status\":{\"networks\":[{\"ipv4Address\":"
        "\"192.168.64.10/24\",\"network\":\"default\"}],\"state\":\"running\"}},\n "
        "{\"configuration\":{\"id\":"
        "\"db-1\"},\"id\":\"db-1\",\"status\":{\"networks\":[],\"state\":\"stopped\"}}]"));
    checkEqual(found, QMap<QString, QString>{{QStringLiteral("web-1"), QStringLiteral("192.168.64.10")}},
               QStringLiteral("the address of the running container, without its prefix length"));
    check(Docker::parseAddresses(QStringLiteral("not json")).isEmpty(),
          QStringLiteral("text that is not JSON has no addresses"));
}

void runArguments()
{
    checkEqual(Docker::runArgs(QStringLiteral("redis:7"), {}, {}, {}, {}),
               QStringList{"run", "-d", "redis:7"}, QStringLiteral("the run arguments of an image alone"));
    checkEqual(
        Docker::runArgs(
            QStringLiteral("postgres:16"), QStringLiteral(" db "), QStringLiteral("5432:5432, 8080:80"),
            QStringLiteral("POSTGRES_PASSWORD=q r\n\n  TZ=UTC  \n"), QStringLiteral("postgres -c fsync=off")),
        QStringList{"run", "-d", "--name", "db", "-p", "5432:5432", "-p", "8080:80", "-e",
                    "POSTGRES_PASSWORD=q r", "-e", "TZ=UTC", "postgres:16", "postgres", "-c", "fsync=off"},
        QStringLiteral("the run arguments of a filled-in form"));
}

void cloneRules()
{
    const std::pair<const char*, std::optional<QString>> names[] = {
        {"https://github.com/owner/repo.git", QStringLiteral("repo")},
        {" https://gitlab.com/group/sub/app/ ", QStringLiteral("app")},
        {"git@github.com:owner/repo.git", QStringLiteral("repo")},
        {"host:repo", QStringLiteral("repo")},
        {"", std::nullopt},
        {"repo", std::nullopt},
        {"https://github.com/..", std::nullopt},
    };
    for (const auto& [url, expected] : names)
        checkEqual(Git::folderName(QString::fromLatin1(url)), expected,
                   QStringLiteral("the folder a clone of ") + describe(url) + QStringLiteral(" goes to"));
    checkEqual(Git::cloneArgs(QStringLiteral(" --upload-pack=x "), QStringLiteral("/tmp/r")),
               QStringList{"git", "clone", "--", "--upload-pack=x", "/tmp/r"},
               QStringLiteral("an address is never read as an option"));
}

const QString colimaFixture = QStringLiteral("/Users/x/.colima/default/docker.sock");

DefaultSocket::Paths systemPaths()
{
    return {QString::fromLatin1(DefaultSocket::socketPath),
            QString::fromLatin1(DefaultSocket::tmpfilesEntryPath), colimaFixture, QStringLiteral("/tmp")};
}

// This host keeps the default socket with a systemd-tmpfiles entry that root installs through
// pkexec, in place of a launch daemon.
void defaultSocket()
{
    check(!DefaultSocket::pointsAt(QStringLiteral("/Applications/Gone.app/docker.sock"), colimaFixture),
          QStringLiteral("a link into another application does not lead to Colima"));
    check(!DefaultSocket::pointsAt(QStringLiteral("/Users/x/.orbstack/run/docker.sock"), colimaFixture),
          QStringLiteral("a link to another engine in the same home does not lead to Colima"));
    checkEqual(DefaultSocket::shellQuote(QStringLiteral("/Users/o'kestin/.colima/default/docker.sock")),
               QStringLiteral("'/Users/o'\\''kestin/.colima/default/docker.sock'"),
               QStringLiteral("a path with a quote, quoted for the shell"));
    const QString install =
        DefaultSocket::Linux::installCommand(QStringLiteral("/tmp/p.conf"), colimaFixture, systemPaths());
    check(install.contains(u"/usr/bin/install -D -m 644 '/tmp/p.conf' '/etc/tmpfiles.d/"),
          QStringLiteral("the install command puts the tmpfiles entry in place"));
    check(install.contains(u"/bin/ln -sfn '/Users/x/.colima/default/docker.sock' '/var/run/docker.sock'"),
          QStringLiteral("the install command links at once"));
    checkSocketRemoval(DefaultSocket::Linux::removeCommand(colimaFixture, systemPaths()));
    checkEqual(DefaultSocket::Linux::tmpfilesEntry(colimaFixture, systemPaths().socket),
               std::optional<QString>(QStringLiteral(
                   "L+ \"/var/run/docker.sock\" - - - - /Users/x/.colima/default/docker.sock\n")),
               QStringLiteral("the tmpfiles entry links the socket at boot"));
    check(DefaultSocket::Linux::tmpfilesEntry(QStringLiteral("/a b%c"), systemPaths().socket)
              .value_or(QString())
              .endsWith(u" /a\\x20b%%c\n"),
          QStringLiteral("the tmpfiles entry escapes its target"));
    check(!DefaultSocket::Linux::tmpfilesEntry(QStringLiteral("/a\nb"), systemPaths().socket),
          QStringLiteral("a target with a line break gets no tmpfiles entry"));
}

void runtimes()
{
    const QString colimaSocket = QStringLiteral("/Users/x/.colima/default/docker.sock");
    const QString defaultSocket = QStringLiteral("/var/run/docker.sock");
    const RuntimeEntry apple{Runtime::context(QStringLiteral("apple-container")),
                             QStringLiteral("unix:///s/a.sock"), true, true};
    const RuntimeEntry colima{Runtime::context(QStringLiteral("colima")),
                              QStringLiteral("unix://") + colimaSocket, true, false};
    const RuntimeEntry alias{Runtime::context(QStringLiteral("default")),
                             QStringLiteral("unix://") + defaultSocket, true, false};
    const Docker::Resolve toColima = [&](const QString& path) {
        return path == defaultSocket ? colimaSocket : path;
    };
    const Docker::Resolve unchanged = [](const QString& path) { return path; };
    const auto ids = [](const QList<RuntimeEntry>& entries) { return textsOf(entries, &RuntimeEntry::id); };
    checkEqual(ids(Docker::withoutAlias({apple, colima, alias}, toColima)),
               QStringList{"apple-container", "colima"},
               QStringLiteral("default is dropped when it reaches Colima's socket"));
    checkEqual(ids(Docker::withoutAlias({apple, colima, alias}, unchanged)),
               QStringList{"apple-container", "colima", "default"},
               QStringLiteral("default stays when it reaches a socket of its own"));
    RuntimeEntry currentAlias = alias;
    currentAlias.current = true;
    checkEqual(ids(Docker::withoutAlias({colima, currentAlias}, toColima)), QStringList{"colima", "default"},
               QStringLiteral("a current default is never dropped"));

    checkEqual(apple.label(), QStringLiteral(u"apple-container \u00B7 current"),
               QStringLiteral("the picker label of a current runtime"));
    const RuntimeEntry offline{Runtime::context(QStringLiteral("default")), QString(), false, true};
    checkEqual(offline.label(), QStringLiteral(u"default \u00B7 current \u00B7 offline"),
               QStringLiteral("the picker label of a current runtime that does not answer"));

    checkEqual(Docker::socketPath(QStringLiteral("unix:///s/a.sock")),
               std::optional<QString>(QStringLiteral("/s/a.sock")),
               QStringLiteral("the socket path of a unix endpoint"));
}

void builder()
{
    const BuilderStatus running = Toolchain::parseBuilder(QStringLiteral(
        "[{\"configuration\":{\"id\":\"buildkit\",\"resources\":{\"cpus\":4,\"memoryInBytes\":4294967296}},"
        "\"id\":\"buildkit\",\"status\":{\"networks\":[],\"state\":\"running\"}}]"));
    checkEqual(running, BuilderStatus{true, true, 4, 4294967296},
               QStringLiteral("a running builder with its sizes"));
    const BuilderStatus none = Toolchain::parseBuilder(QStringLiteral("[]"));
    check(!none.exists && !none.running, QStringLiteral("no builder neither exists nor runs"));
    const BuilderStatus stopped =
        Toolchain::parseBuilder(QStringLiteral("[{\"status\":{\"state\":\"stopped\"}}]"));
    check(stopped.exists && !stopped.running, QStringLiteral("a stopped builder exists"));

    checkEqual(Toolchain::builderStartScript(std::nullopt, std::nullopt),
               QStringLiteral("container builder start"),
               QStringLiteral("the builder start script without sizes"));
    checkEqual(Toolchain::builderStartScript(4, 8),
               QStringLiteral("container builder start --cpus 4 --memory 8G"),
               QStringLiteral("the builder start script with 4 processors and 8 GB"));
}

void buildDetection()
{
    const QString folder = makeTemporaryFolder(QStringLiteral("voskel-selftest-build-"));
    const auto project = [&](const QString& text) {
        writeFile(folder + QStringLiteral("/compose.yaml"), text);
        return ComposeProject{QStringLiteral("p"), folder, {}, 0, std::nullopt};
    };
    check(project(QStringLiteral("services:\n  web:\n    build: .\n")).hasBuild(),
          QStringLiteral("a service with build: . builds"));
    check(project(QStringLiteral("services:\n  web:\n    build:\n      context: .\n")).hasBuild(),
          QStringLiteral("a service with a build block builds"));
    check(!project(QStringLiteral("services:\n  web:\n    image: nginx\n    # build: .\n")).hasBuild(),
          QStringLiteral("a commented build line does not build"));
    removeFolder(folder);
}

} // namespace

void testStats()
{
    const CaseScope scope(QStringLiteral("testStats"));
    dockerStats();
    sums(appleStats());
    shares();
}

void checkSocketRemoval(const QString& removeCommand)
{
    check(removeCommand.contains(u"/bin/rm -f '/etc/tmpfiles.d/"),
          QStringLiteral("the remove command deletes the tmpfiles entry"));
    // Named once to read the link and once to remove it, and removed only inside the test: whatever
    // else sits at the path (another engine's socket) stays.
    const QString guarded = QStringLiteral(
        "if [ \"$(/usr/bin/readlink '/var/run/docker.sock')\" = '/Users/x/.colima/default/docker.sock' ]; "
        "then /bin/rm -f '/var/run/docker.sock'; fi");
    check(removeCommand.contains(guarded) && removeCommand.count(u"/var/run/docker.sock") == 2,
          QStringLiteral("the remove command deletes the socket only while it is our link to Colima"));
}

void testLogsAndAddresses()
{
    const CaseScope scope(QStringLiteral("testLogsAndAddresses"));
    logArguments();
    imageReference();
    addresses();
    runArguments();
    cloneRules();
    defaultSocket();
    runtimes();
    builder();
    buildDetection();
}

void testAllRuntimes()
{
    const CaseScope scope(QStringLiteral("testAllRuntimes"));
    const Runtime apple = Runtime::socket(QStringLiteral("apple-container"), QStringLiteral("/x"));
    const Runtime colima = Runtime::context(QStringLiteral("colima"));
    const auto shop = [](const QString& name, const QString& image, const Runtime& runtime) {
        return makeContainer({.id = name + runtime.name,
                              .name = name,
                              .image = image,
                              .labels = composeLabels(QStringLiteral("shop")),
                              .runtime = runtime});
    };
    const QList<ComposeProject> projects =
        Docker::group({shop(QStringLiteral("shop-web-1"), QStringLiteral("w"), apple),
                       shop(QStringLiteral("shop-db-1"), QStringLiteral("d"), colima),
                       shop(QStringLiteral("shop-db-1"), QStringLiteral("d"), apple)});
    checkEqual(projects.size(), qsizetype(2),
               QStringLiteral("one project name on two runtimes is two projects"));
    check(projects.at(0).id() != projects.at(1).id(), QStringLiteral("the two projects have distinct keys"));
    for (const ComposeProject& project : projects) {
        const QStringList names = textsOf(project.containers, &Container::name);
        if (project.runtime == apple)
            checkEqual(names, QStringList{"shop-db-1", "shop-web-1"},
                       QStringLiteral("the project on apple-container"));
        else if (project.runtime == colima)
            checkEqual(names.size(), qsizetype(1), QStringLiteral("the project on colima"));
        else
            fail(QStringLiteral("a project of shop is on apple-container or colima"));
    }

    Reclaimable oldHere;
    oldHere.kind = Reclaimable::Kind::Container;
    oldHere.ref = oldHere.name = QStringLiteral("old");
    oldHere.bytes = 5;
    oldHere.runtime = apple;
    Reclaimable oldThere = oldHere;
    oldThere.bytes = 7;
    oldThere.runtime = colima;
    DiskUsage a;
    a.total = 100;
    a.containerSize = {{QStringLiteral("x"), 1}};
    a.candidates = {oldHere};
    DiskUsage b;
    b.total = 40;
    b.containerSize = {{QStringLiteral("y"), 2}};
    b.candidates = {oldThere};
    const DiskUsage merged = a.merging(b);
    checkEqual(merged.total, qint64(140), QStringLiteral("merged totals add up"));
    checkEqual(merged.reclaimable(), qint64(12), QStringLiteral("merged candidates add up"));
    checkEqual(merged.containerSize,
               QMap<QString, qint64>{{QStringLiteral("x"), 1}, {QStringLiteral("y"), 2}},
               QStringLiteral("merged container sizes"));
    QSet<QString> ids;
    for (const Reclaimable& candidate : merged.candidates)
        ids.insert(candidate.id());
    checkEqual(ids.size(), qsizetype(2), QStringLiteral("equal candidates on two runtimes stay two"));

    LiveStats here;
    here.cpu = {{QStringLiteral("y"), 7.0}};
    here.memory = {{QStringLiteral("y"), 20}};
    LiveStats there;
    there.cpu = {{QStringLiteral("x"), 5.0}};
    there.memory = {{QStringLiteral("x"), 10}};
    const LiveStats both = here.merging(there);
    checkEqual(both.cpuOf({QStringLiteral("x"), QStringLiteral("y")}), std::optional<double>(12.0),
               QStringLiteral("merged processor shares add up"));
    checkEqual(both.memoryOf({QStringLiteral("x"), QStringLiteral("y")}), std::optional<qint64>(30),
               QStringLiteral("merged memory adds up"));
}

} // namespace SelfTest
