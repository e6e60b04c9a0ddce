#include "diagnostics/selftest/Cases.h"

#include "app/design/Appearance.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/Runtime.h"
#include "toolchain/Scripts.h"
#include "toolchain/ServicesStatus.h"
#include "toolchain/Survey.h"
#include "toolchain/Tool.h"
#include "toolchain/ToolJob.h"
#include "toolchain/ToolchainStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace SelfTest {

namespace {

const QString exitOnFailure = QStringLiteral("|| exit $?");

void versions()
{
    const std::pair<const char*, std::optional<QString>> rows[] = {
        {"container CLI version 1.4.1 (build: release, commit: unspeci)", QStringLiteral("1.4.1")},
        {"socktainer: 1.2.1 (git commit: unspecified)", QStringLiteral("1.2.1")},
        {"tool2 version 3.1.0", QStringLiteral("3.1.0")},
        {"no numbers here", std::nullopt},
        {"v2.0. released", QStringLiteral("2.0")},
    };
    for (const auto& [text, expected] : rows)
        checkEqual(Toolchain::firstVersion(QString::fromLatin1(text)), expected,
                   QStringLiteral("Toolchain::firstVersion(") + describe(text) + u')');

    struct Order {
        const char* version;
        const char* than;
        bool older;
    };
    const Order orders[] = {
        {"1.4.1", "1.5.0", true},  {"1.9.0", "1.10.0", true},  {"1.5.0", "1.4.1", false},
        {"1.4.1", "1.4.1", false}, {"9.7.1", "9.7.1_1", true}, {"9.7.1_1", "9.7.1", false},
        {"1.4", "1.4.1", true},
    };
    for (const Order& row : orders)
        checkEqual(Toolchain::isOlder(QString::fromLatin1(row.version), QString::fromLatin1(row.than)),
                   row.older,
                   QStringLiteral("whether ") + describe(row.version) + QStringLiteral(" is older than ") +
                       describe(row.than));

    checkEqual(
        Toolchain::newest({QStringLiteral("1.2.0"), QStringLiteral("1.10.0"), QStringLiteral("1.9.9")}),
        std::optional<QString>(QStringLiteral("1.10.0")), QStringLiteral("the newest of three versions"));
    checkEqual(Toolchain::newest({}), std::optional<QString>(), QStringLiteral("the newest of no versions"));
}

void homebrewOutput()
{
    const QMap<QString, QString> installed{{QStringLiteral("container"), QStringLiteral("1.4.1")},
                                           {QStringLiteral("ca-certificates"), QStringLiteral("2026-08-13")}};
    checkEqual(
        Toolchain::parseBrewList(QStringLiteral("container 1.4.1\nca-certificates 2026-05-14 2026-08-13\n")),
        installed, QStringLiteral("Toolchain::parseBrewList of two formulae"));
    check(Toolchain::parseBrewList(QString()).isEmpty(),
          QStringLiteral("Toolchain::parseBrewList(\"\") is empty"));

    const QString info =
        QStringLiteral(
            "{\"formulae\":[{\"name\":\"container\",\"revision\":0,\"versions\":{\"stable\":\"1.4.1\"}},\n") +
        QString(13, u' ') +
        QStringLiteral("{\"name\":\"socktainer\",\"revision\":2,\"versions\":{\"stable\":\"1.2.1\"}}],"
                       "\"casks\":[]}");
    const QMap<QString, QString> latest{{QStringLiteral("container"), QStringLiteral("1.4.1")},
                                        {QStringLiteral("socktainer"), QStringLiteral("1.2.1_2")}};
    checkEqual(Toolchain::parseBrewInfo(info), latest,
               QStringLiteral("Toolchain::parseBrewInfo of two formulae"));
    check(Toolchain::parseBrewInfo(QStringLiteral("not json")).isEmpty(),
          QStringLiteral("Toolchain::parseBrewInfo(\"not json\") is empty"));
}

void systemStatus()
{
    const SystemStatus full = Toolchain::parseStatus(
        QStringLiteral("FIELD               VALUE\nstatus              running\nclient.version      1.5.0\n"
                       "host.architecture   arm64\nserver.version      1.4.1"));
    checkEqual(full.running, true, QStringLiteral("the full status table says running"));
    checkEqual(full.clientVersion, std::optional<QString>(QStringLiteral("1.5.0")),
               QStringLiteral("the client version of the full status table"));
    checkEqual(full.serverVersion, std::optional<QString>(QStringLiteral("1.4.1")),
               QStringLiteral("the server version of the full status table"));
    checkEqual(full.needsRestart(), true,
               QStringLiteral("a 1.5.0 client with a 1.4.1 server needs a restart"));

    const SystemStatus same = Toolchain::parseStatus(
        QStringLiteral("status  running\nclient.version  1.4.1\nserver.version  1.4.1"));
    checkEqual(same.needsRestart(), false, QStringLiteral("equal versions need no restart"));

    const SystemStatus stopped = Toolchain::parseStatus(QStringLiteral("status  stopped"));
    checkEqual(stopped.running, false, QStringLiteral("a stopped status is not running"));
    checkEqual(stopped.needsRestart(), false, QStringLiteral("stopped services need no restart"));

    checkEqual(Toolchain::parseStatus(QStringLiteral("cannot connect to service")).running, false,
               QStringLiteral("an unreadable status is not running"));
}

void scripts()
{
    const QString runtime =
        Toolchain::installScript({QStringLiteral("container"), QStringLiteral("socktainer")});
    check(runtime.startsWith(u"brew install container socktainer"),
          QStringLiteral("the runtime's install script begins with brew install"));
    for (const char* part : {"|| exit $?", "container system start", "brew services start socktainer",
                             "--enable-kernel-install", "brew list --formula socktainer"})
        check(runtime.contains(QString::fromLatin1(part)),
              QStringLiteral("the runtime's install script holds ") + describe(part));

    const QString start = ToolJob::start().script();
    check(start.contains(u"--enable-kernel-install"), QStringLiteral("the start job installs the kernel"));
    check(!start.contains(u"container system stop"), QStringLiteral("the start job stops nothing"));
    const QString restart = ToolJob::restart().script();
    check(restart.startsWith(u"container system stop"), QStringLiteral("the restart job stops first"));
    check(restart.contains(u"brew services restart socktainer"),
          QStringLiteral("the restart job restarts socktainer"));
    check(start.contains(u"brew list --formula socktainer"),
          QStringLiteral("the start job asks Homebrew for socktainer"));
    check(restart.contains(u"brew list --formula socktainer"),
          QStringLiteral("the restart job asks Homebrew for socktainer"));
    checkEqual(ToolJob::upgrade({QStringLiteral("container")}).script(),
               QStringLiteral("brew upgrade container"), QStringLiteral("the upgrade job of container"));

    const QString docker = Toolchain::installScript({QStringLiteral("docker")});
    checkEqual(docker, QStringLiteral("brew install docker || exit $?\n"),
               QStringLiteral("the install script of docker"));
    check(!docker.contains(u"container system start"), QStringLiteral("installing docker starts no runtime"));

    const QString compose = Toolchain::installScript({QStringLiteral("docker-compose")});
    check(compose.contains(u"ln -sfn"), QStringLiteral("installing the compose plug-in links it"));
    check(compose.contains(u".docker/cli-plugins/docker-compose"),
          QStringLiteral("installing the compose plug-in links it into the plug-in folder"));
    check(!compose.contains(u"container system start"),
          QStringLiteral("installing compose starts no runtime"));
    checkEqual(compose.split(exitOnFailure).size(), qsizetype(4),
               QStringLiteral("the compose install script is three commands that stop on failure"));

    const Tool* plugin = nullptr;
    for (const Tool& tool : Toolchain::all())
        if (tool.formula == u"docker-compose")
            plugin = &tool;
    check(plugin != nullptr, QStringLiteral("the catalogue has the compose plug-in"));
    checkEqual(plugin->versionArgs, QStringList{QStringLiteral("compose"), QStringLiteral("version")},
               QStringLiteral("the compose plug-in's version arguments"));
    checkEqual(Toolchain::firstVersion(QStringLiteral("Docker Compose version 5.5.1")),
               std::optional<QString>(QStringLiteral("5.5.1")), QStringLiteral("the version compose prints"));
    checkEqual(Toolchain::firstVersion(QStringLiteral("Docker version 29.8.1, build 6d6f47b")),
               std::optional<QString>(QStringLiteral("29.8.1")), QStringLiteral("the version docker prints"));

    const QString colima = Toolchain::installScript({QStringLiteral("colima")});
    checkEqual(colima,
               QStringLiteral("brew install colima || exit $?\ncolima start --activate=false || exit $?\n"),
               QStringLiteral("the install script of colima"));
    check(!colima.contains(u"container system start"),
          QStringLiteral("installing colima starts no Apple runtime"));

    checkEqual(Toolchain::engineStartScript(4, 8),
               QStringLiteral("colima start --activate=false --cpus 4 --memory 8"),
               QStringLiteral("the engine start script with 4 processors and 8 GB"));
    checkEqual(ToolJob::engineRestart(std::nullopt, 4).script(),
               QStringLiteral("colima stop\ncolima start --activate=false --memory 4"),
               QStringLiteral("the engine restart job with 4 GB"));
}

void engineStatus()
{
    const EngineStatus two = Toolchain::parseEngine(QStringLiteral(
        "{\"name\":\"other\",\"status\":\"Running\",\"cpus\":8,\"memory\":8589934592}\n"
        "{\"name\":\"default\",\"status\":\"Stopped\",\"arch\":\"aarch64\",\"cpus\":2,\"memory\":2147483648,"
        "\"disk\":107374182400,\"runtime\":\"docker\"}"));
    checkEqual(two.running, false, QStringLiteral("only the machine named default counts: it is stopped"));
    checkEqual(two.cpus, std::optional<int>(2), QStringLiteral("the processors of the default machine"));
    checkEqual(two.memoryBytes, std::optional<qint64>(2147483648),
               QStringLiteral("the memory of the default machine"));

    checkEqual(
        Toolchain::parseEngine(
            QStringLiteral("{\"name\":\"default\",\"status\":\"Running\",\"cpus\":4,\"memory\":4294967296}"))
            .running,
        true, QStringLiteral("a running default machine runs"));

    const EngineStatus none = Toolchain::parseEngine(QString());
    checkEqual(none.running, false, QStringLiteral("no machine is not running"));
    checkEqual(none.cpus, std::optional<int>(), QStringLiteral("no machine has no processors"));
    checkEqual(none.memoryBytes, std::optional<qint64>(), QStringLiteral("no machine has no memory"));
}

void catalogueAndUpdates()
{
    checkEqual(textsOf(Toolchain::all(), &Tool::formula),
               QStringList{QStringLiteral("container"), QStringLiteral("socktainer"),
                           QStringLiteral("docker"), QStringLiteral("docker-compose"),
                           QStringLiteral("colima")},
               QStringLiteral("the formulae of the catalogue, in order"));

    Tool tool;
    tool.formula = QStringLiteral("container");
    tool.name = QStringLiteral("Apple container");
    tool.purpose = QStringLiteral("Runs Linux containers in lightweight VMs on macOS.");
    tool.homepage = QStringLiteral("https://apple.github.io/container/documentation/");
    tool.binary = QStringLiteral("container");
    tool.versionArgs = {QStringLiteral("--version")};
    tool.installed = QStringLiteral("1.4.1");
    tool.latest = QStringLiteral("1.5.0");
    check(tool.hasUpdate(), QStringLiteral("1.4.1 with 1.5.0 offered has an update"));
    tool.brewManaged = true;
    check(tool.hasUpdate(),
          QStringLiteral("1.4.1 with 1.5.0 offered has an update when Homebrew manages it"));
    tool.installed = QStringLiteral("1.5.0");
    check(!tool.hasUpdate(), QStringLiteral("1.5.0 with 1.5.0 offered has no update"));

    const QDateTime now = QDateTime::currentDateTimeUtc();
    check(!ToolchainStore::isStale(now.addSecs(-3600), now),
          QStringLiteral("a check an hour ago is not stale"));
    check(ToolchainStore::isStale(now.addSecs(-90000), now),
          QStringLiteral("a check 90000 seconds ago is stale"));
    check(ToolchainStore::isStale(now.addSecs(3600), now), QStringLiteral("a check an hour ahead is stale"));
}

// The look an appearance gives the application, read back by its name.
QString lookNameUnder(Appearance appearance)
{
    Theme& theme = Theme::instance();
    const Appearance before = theme.appearance();
    theme.setAppearance(appearance);
    const QString name = lookName(Theme::currentLook());
    theme.setAppearance(before);
    return name;
}

void appearances()
{
    checkEqual(lookNameUnder(Appearance::light), QStringLiteral("Aqua"),
               QStringLiteral("the light look's name"));
    checkEqual(lookNameUnder(Appearance::dark), QStringLiteral("DarkAqua"),
               QStringLiteral("the dark look's name"));
    checkEqual(appearanceFromRawValue(QStringLiteral("dark")), std::optional<Appearance>(Appearance::dark),
               QStringLiteral("the appearance whose raw value is \"dark\""));
}

} // namespace

void testToolchain()
{
    const CaseScope scope(QStringLiteral("testToolchain"));
    versions();
    homebrewOutput();
    systemStatus();
    scripts();
    engineStatus();
    catalogueAndUpdates();
    appearances();
}

void testRuntimeReachability()
{
    const CaseScope scope(QStringLiteral("testRuntimeReachability"));
    const QString folder = makeTemporaryFolder(QStringLiteral("voskel-selftest-sock-"));
    const QString there = folder + QStringLiteral("/there.sock");
    writeFile(there, QString());
    const QString dangling = folder + QStringLiteral("/dangling.sock");
    QFile::link(folder + QStringLiteral("/gone.sock"), dangling);

    const QString unix = QStringLiteral("unix://");
    checkEqual(Docker::isReachable(unix + there), true,
               QStringLiteral("an endpoint at an existing file is reachable"));
    checkEqual(Docker::isReachable(unix + folder + QStringLiteral("/missing.sock")), false,
               QStringLiteral("an endpoint at a missing file is not reachable"));
    if (!QFileInfo::exists(dangling))
        checkEqual(Docker::isReachable(unix + dangling), false,
                   QStringLiteral("an endpoint at a dangling link is not reachable"));
    checkEqual(Docker::isReachable(QStringLiteral("ssh://qel@build.example")), true,
               QStringLiteral("an ssh endpoint is reachable without a look"));
    checkEqual(Docker::isReachable(QStringLiteral("tcp://192.168.1.20:2375")), true,
               QStringLiteral("a tcp endpoint is reachable without a look"));
    checkEqual(Docker::isReachable(unix), false, QStringLiteral("\"unix://\" alone is not reachable"));

    const Runtime defaultContext = Runtime::context(QStringLiteral("default"));
    const Runtime apple = Runtime::socket(QStringLiteral("apple-container"), QStringLiteral("/x"));
    const RuntimeEntry a{defaultContext, QStringLiteral("unix:///nonexistent/voskel-selftest/docker.sock"),
                         false, false};
    const RuntimeEntry b{apple, QStringLiteral("unix:///x"), true, false};

    checkEqual(
        Docker::preferred({a, b}, defaultContext), std::optional<Runtime>(apple),
        QStringLiteral("the first reachable runtime is preferred to a current one that does not answer"));
    checkEqual(Docker::preferred({a, b}, apple), std::optional<Runtime>(apple),
               QStringLiteral("a current runtime that answers stays preferred"));
    checkEqual(Docker::preferred({a}, defaultContext), std::optional<Runtime>(defaultContext),
               QStringLiteral("with nothing answering the current runtime stays preferred"));
    checkEqual(Docker::preferred({}, std::nullopt), std::optional<Runtime>(),
               QStringLiteral("nothing is preferred among no runtimes"));

    checkEqual(a.label(), QStringLiteral(u"default \u00B7 offline"),
               QStringLiteral("the picker label of default"));
    checkEqual(Docker::isReachable(a.endpoint), false,
               QStringLiteral("the endpoint of default is not reachable"));

    checkEqual(Docker::handover(defaultContext, {a, b}), std::optional<Runtime>(apple),
               QStringLiteral("a runtime that does not answer hands over to the first that does"));
    checkEqual(Docker::handover(apple, {a, b}), std::optional<Runtime>(),
               QStringLiteral("a runtime that answers hands over to nothing"));
    checkEqual(Docker::handover(defaultContext, {a}), std::optional<Runtime>(),
               QStringLiteral("with nothing answering there is no hand-over"));
    checkEqual(Docker::handover(Runtime::context(QStringLiteral("removed")), {b}),
               std::optional<Runtime>(apple),
               QStringLiteral("a runtime that is gone hands over to the first that answers"));

    removeFolder(folder);
}

} // namespace SelfTest
