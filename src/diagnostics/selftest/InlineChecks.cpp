#include "diagnostics/selftest/Cases.h"

#include "app/shell/MenuRow.h"
#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/Compose.h"
#include "engine/ComposeProject.h"
#include "engine/Container.h"
#include "engine/Listings.h"
#include "engine/Runtime.h"

#include <QFileInfo>
#include <QSet>

namespace SelfTest {

namespace {

const QString project = QString::fromLatin1(Docker::projectLabel);
const QString service = QString::fromLatin1(Docker::serviceLabel);
const QString workingDir = QString::fromLatin1(Docker::workingDirLabel);

void composeLabelsCheck()
{
    const CaseScope scope(QStringLiteral("check 1, compose labels"));
    const QString kelp = QStringLiteral(
        "com.docker.compose.config-hash=5c4eee,com.docker.compose.container-number=1,"
        "com.docker.compose.project.config_files=/Users/qel/Git/KELP/kelp/docker-compose.yml,"
        "com.docker.compose.project.working_dir=/Users/qel/Git/KELP/kelp,com.docker.compose.project=kelp,"
        "com.docker.compose.service=php");
    check(kelp.size() == 286, QStringLiteral("the kelp label fixture is the engine's whole column"));
    const QMap<QString, QString> labels = Docker::parseLabels(kelp);
    checkEqual(labels.value(project), QStringLiteral("kelp"),
               QStringLiteral("the project of the kelp labels"));
    checkEqual(labels.value(service), QStringLiteral("php"),
               QStringLiteral("the service of the kelp labels"));
    checkEqual(labels.value(workingDir), QStringLiteral("/Users/qel/Git/KELP/kelp"),
               QStringLiteral("the working folder of the kelp labels"));

    const QMap<QString, QString> files = Docker::parseLabels(QStringLiteral(
        "com.docker.compose.project.config_files=/a/x.yml,/a/y.yml,com.docker.compose.project=p"));
    const QMap<QString, QString> expected{
        {QStringLiteral("com.docker.compose.project.config_files"), QStringLiteral("/a/x.yml,/a/y.yml")},
        {project, QStringLiteral("p")}};
    checkEqual(files, expected, QStringLiteral("a label value holding commas stays whole"));

    check(Docker::parseLabels(QString()).isEmpty(), QStringLiteral("an empty label text gives no labels"));
}

void workingDirCheck()
{
    const CaseScope scope(QStringLiteral("check 2, working directory"));
    const Container container = makeContainer(
        {.id = QStringLiteral("1"),
         .name = QStringLiteral("a"),
         .labels = {{project, QStringLiteral("p")},
                    {QString::fromLatin1(Docker::workingDirLabelAlt), QStringLiteral("/tmp")}}});
    checkEqual(container.workingDir(), std::optional<QString>(QStringLiteral("/tmp")),
               QStringLiteral("the hyphenated working-dir label is the working directory"));
}

void groupingCheck()
{
    const CaseScope scope(QStringLiteral("check 3, grouping"));
    const QList<Container> containers{
        makeContainer({.id = QStringLiteral("1"),
                       .name = QStringLiteral("kelp-php-1"),
                       .image = QStringLiteral("php"),
                       .labels = {{project, QStringLiteral("kelp")},
                                  {workingDir, QStringLiteral("/Users/qel/Git/KELP/kelp")}}}),
        makeContainer({.id = QStringLiteral("2"),
                       .name = QStringLiteral("web-1"),
                       .image = QStringLiteral("web"),
                       .state = QStringLiteral("exited"),
                       .status = QStringLiteral("Exited"),
                       .labels = {{project, QStringLiteral("website")}}}),
        makeContainer(
            {.id = QStringLiteral("3"), .name = QStringLiteral("loose"), .image = QStringLiteral("pg")}),
    };
    const QList<ComposeProject> projects = Docker::group(containers);
    checkEqual(textsOf(projects, &ComposeProject::name),
               QStringList{QStringLiteral("kelp"), QStringLiteral("website")},
               QStringLiteral("the projects the three containers form"));
    checkEqual(projects.first().runningCount(), 1, QStringLiteral("the running count of kelp"));

    checkEqual(textsOf(Docker::ungrouped(containers), &Container::name), QStringList{QStringLiteral("loose")},
               QStringLiteral("the containers of no project"));
}

void missingFolderCheck()
{
    const CaseScope scope(QStringLiteral("check 4, compose file of a missing folder"));
    const QString missing = QStringLiteral("/nope/missing");
    if (QFileInfo::exists(missing))
        checkEqual(Docker::composeFile(missing), std::optional<QString>(),
                   QStringLiteral("no compose file in /nope/missing"));
}

void trayButtonCheck()
{
    const CaseScope scope(QStringLiteral("check 5, tray row button"));
    struct Row {
        QString state;
        QString word;
        std::optional<bool> running;
    };
    const Row rows[] = {
        {QStringLiteral("paused"), QStringLiteral("Resume"), false},
        {QStringLiteral("running"), QStringLiteral("Stop"), true},
        {QStringLiteral("exited"), QStringLiteral("Start"), std::nullopt},
    };
    for (const Row& row : rows) {
        checkEqual(MenuRow::actionTitle(row.state), row.word,
                   QStringLiteral("the button word for ") + describe(row.state));
        if (row.running)
            checkEqual(row.state == u"running", *row.running,
                       QStringLiteral("whether ") + describe(row.state) +
                           QStringLiteral(" counts as running"));
    }
}

void shortPortsCheck()
{
    const CaseScope scope(QStringLiteral("check 6, short port list"));
    const std::pair<const char*, const char*> rows[] = {
        {"0.0.0.0:8000->80/tcp", "8000:80"},
        {"0.0.0.0:80->80/tcp, [::]:80->80/tcp", "80:80"},
        {"0.0.0.0:80->80/tcp, 0.0.0.0:443->443/tcp", "80:80, 443:443"},
        {"80/tcp", ""},
        {"", ""},
        {"0.0.0.0:53->53/udp", "53:53"},
    };
    for (const auto& [input, expected] : rows)
        checkEqual(Docker::shortPorts(QString::fromLatin1(input)), QString::fromLatin1(expected),
                   QStringLiteral("Docker::shortPorts(") + describe(input) + u')');
}

void failedExitCheck()
{
    const CaseScope scope(QStringLiteral("check 7, failed exit"));
    struct Row {
        const char* id;
        const char* state;
        const char* status;
        bool failed;
    };
    const Row rows[] = {
        {"1", "exited", "Exited (0) 6 days ago", false},
        {"1", "exited", "Exited (1) 3 hours ago", true},
        {"9", "running", "s", false},
        {"1", "exited", "Exited", false},
    };
    for (const Row& row : rows) {
        const Container container = makeContainer({.id = QString::fromLatin1(row.id),
                                                   .name = QStringLiteral("n"),
                                                   .state = QString::fromLatin1(row.state),
                                                   .status = QString::fromLatin1(row.status)});
        checkEqual(container.isFailed(), row.failed,
                   QStringLiteral("whether ") + describe(row.status) + QStringLiteral(" is a failure"));
    }
}

void healthWordsCheck()
{
    const CaseScope scope(QStringLiteral("check 8, health words"));
    struct Row {
        const char* status;
        bool unhealthy;
        bool healthy;
    };
    const Row rows[] = {
        {"Up 1 day (unhealthy)", true, false},
        {"Up 1 day (healthy)", false, true},
        {"Up 1 day", false, false},
    };
    for (const Row& row : rows) {
        const QString status = QString::fromLatin1(row.status);
        checkEqual(status.contains(u"(unhealthy)"), row.unhealthy,
                   describe(status) + QStringLiteral(" holds \"(unhealthy)\""));
        checkEqual(status.contains(u"(healthy)"), row.healthy,
                   describe(status) + QStringLiteral(" holds \"(healthy)\""));
    }
}

void hostPortsCheck()
{
    const CaseScope scope(QStringLiteral("check 9, published host ports"));
    const Container published = makeContainer(
        {.id = QStringLiteral("1"),
         .name = QStringLiteral("n"),
         .ports = QStringLiteral("127.0.0.1:7474->7474/tcp, 127.0.0.1:7687->7687/tcp, 80/tcp")});
    checkEqual(published.hostPorts(), QStringList{QStringLiteral("7474"), QStringLiteral("7687")},
               QStringLiteral("the host ports of two published ports and an exposed one"));
    const Container none = makeContainer(
        {.id = QStringLiteral("9"), .name = QStringLiteral("n"), .status = QStringLiteral("s")});
    checkEqual(none.hostPorts(), QStringList(), QStringLiteral("the host ports of no ports"));
}

void appleListedOnceCheck()
{
    const CaseScope scope(QStringLiteral("check 10, the Apple runtime listed once"));
    const QString socktainer =
        QStringLiteral("unix:///opt/homebrew/var/run/socktainer/.socktainer/container.sock");
    check(QSet<QString>{socktainer}.contains(Docker::appleEndpoint()),
          QStringLiteral("a context on the bridge's socket already lists the Apple runtime"));
    check(!QSet<QString>{QStringLiteral("unix:///var/run/docker.sock")}.contains(Docker::appleEndpoint()),
          QStringLiteral("a context on the default socket does not list the Apple runtime"));
}

} // namespace

void inlineChecks()
{
    composeLabelsCheck();
    workingDirCheck();
    groupingCheck();
    missingFolderCheck();
    trayButtonCheck();
    shortPortsCheck();
    failedExitCheck();
    healthWordsCheck();
    hostPortsCheck();
    appleListedOnceCheck();
}

} // namespace SelfTest
