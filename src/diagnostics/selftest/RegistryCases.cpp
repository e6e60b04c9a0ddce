#include "diagnostics/selftest/Cases.h"

#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/Compose.h"
#include "engine/ComposeProject.h"
#include "engine/Listings.h"
#include "engine/ProjectRegistry.h"
#include "platform/Settings.h"

#include <QDir>
#include <QFileInfo>

namespace SelfTest {

namespace {

const QString appleId = QStringLiteral("apple-container");
const QString rt = QStringLiteral("rt");

Container registryContainer(const QString& name, const QString& project, const QString& service,
                            const std::optional<QString>& dir = std::nullopt)
{
    return makeContainer({.id = name, .name = name, .labels = composeLabels(project, service, dir)});
}

QList<KnownProject> listOf(const ProjectRegistry& registry, const QString& runtime)
{
    return registry.byRuntime.value(runtime);
}

// The first project of a merge; a merge that gives none fails the check that needed one.
ComposeProject firstOf(const QList<ComposeProject>& projects, const QString& what)
{
    check(!projects.isEmpty(), what + QStringLiteral(" gives a project"));
    return projects.first();
}

void storage(const ProjectRegistry& r1)
{
    const QString registryName = QStringLiteral("voskel.selftest.registry");
    const QString key = QString::fromLatin1(ProjectRegistry::settingsKey);

    std::unique_ptr<Platform::Settings> suite = openEmptySuite(registryName);
    r1.save(*suite);
    suite->sync();
    {
        // Read through a second handle on the same suite, so the file itself is what is read.
        const std::unique_ptr<Platform::Settings> reread = openSuite(registryName);
        checkEqual(ProjectRegistry::load(*reread).byRuntime == r1.byRuntime, true,
                   QStringLiteral("the registry read back from the settings equals the one stored"));
    }

    {
        const std::unique_ptr<Platform::Settings> empty = openSuite(QStringLiteral("voskel.selftest.empty"));
        check(listOf(ProjectRegistry::load(*empty), appleId).isEmpty(),
              QStringLiteral("a suite never written remembers no project"));
    }

    suite->setValue(key, QByteArray("not json"));
    check(listOf(ProjectRegistry::load(*suite), appleId).isEmpty(),
          QStringLiteral("stored data that is not JSON remembers no project"));

    removeSuite(suite, registryName);
}

} // namespace

void testProjectRegistry()
{
    const CaseScope scope(QStringLiteral("testProjectRegistry"));

    ProjectRegistry r1;
    r1.record(Docker::group({registryContainer(QStringLiteral("kelp-php-1"), QStringLiteral("kelp"),
                                               QStringLiteral("php"), QStringLiteral("/tmp")),
                             registryContainer(QStringLiteral("kelp-db-1"), QStringLiteral("kelp"),
                                               QStringLiteral("db"), QStringLiteral("/tmp"))}),
              appleId);
    const QList<ComposeProject> remembered = ProjectRegistry::merge({}, listOf(r1, appleId));
    checkEqual(remembered.size(), qsizetype(1), QStringLiteral("a recorded project is remembered once"));
    checkEqual(remembered.first().containers.size(), qsizetype(0),
               QStringLiteral("a remembered project shows without containers"));
    checkEqual(remembered.first().serviceCount, qint64(2),
               QStringLiteral("a remembered project keeps its services"));
    checkEqual(remembered.first().runningCount(), 0, QStringLiteral("a remembered project runs nothing"));
    checkEqual(remembered.first().workingDir, std::optional<QString>(QStringLiteral("/tmp")),
               QStringLiteral("a remembered project keeps its folder"));
    check(listOf(r1, QStringLiteral("default")).isEmpty(),
          QStringLiteral("each runtime remembers its own projects"));
    check(r1.knows(QStringLiteral("kelp"), appleId), QStringLiteral("the runtime that saw kelp knows it"));
    check(!r1.knows(QStringLiteral("kelp"), QStringLiteral("default")),
          QStringLiteral("another runtime does not"));

    ProjectRegistry r2;
    r2.record(
        Docker::group({registryContainer(QStringLiteral("x-1"), QStringLiteral("x"), QStringLiteral("s"))}),
        appleId);
    check(listOf(r2, appleId).isEmpty(),
          QStringLiteral("a project without a working folder is not remembered"));

    ProjectRegistry r3;
    r3.add({QStringLiteral("kelp"),
            QStringLiteral("/remembered"),
            {QStringLiteral("php"), QStringLiteral("db")}},
           rt);
    const QList<ComposeProject> completed = ProjectRegistry::merge(
        Docker::group(
            {registryContainer(QStringLiteral("kelp-php-1"), QStringLiteral("kelp"), QStringLiteral("php"))}),
        listOf(r3, rt));
    checkEqual(completed.size(), qsizetype(1), QStringLiteral("a running remembered project shows once"));
    checkEqual(completed.first().containers.size(), qsizetype(1),
               QStringLiteral("a running remembered project shows its container"));
    checkEqual(completed.first().serviceCount, qint64(2),
               QStringLiteral("the remembered services fill in what the labels lack"));
    checkEqual(completed.first().workingDir, std::optional<QString>(QStringLiteral("/remembered")),
               QStringLiteral("the remembered folder fills in what the labels lack"));

    r3.record({ComposeProject{QStringLiteral("kelp"), QStringLiteral("/remembered"), {}, 0, std::nullopt}},
              rt);
    checkEqual(listOf(r3, rt).value(0).services.size(), qsizetype(2),
               QStringLiteral("recording a project without containers keeps its services"));

    r3.record(Docker::group({registryContainer(QStringLiteral("kelp-php-1"), QStringLiteral("kelp"),
                                               QStringLiteral("php"), QStringLiteral("/remembered"))}),
              rt);
    checkEqual(listOf(r3, rt).value(0).services, QStringList{QStringLiteral("php")},
               QStringLiteral("recording running containers replaces the services"));

    ProjectRegistry r4;
    r4.add({QStringLiteral("zebra"), QStringLiteral("/z"), {}}, rt);
    r4.add({QStringLiteral("alpha"), QStringLiteral("/a"), {}}, rt);
    checkEqual(textsOf(ProjectRegistry::merge(
                           Docker::group({registryContainer(QStringLiteral("m-1"), QStringLiteral("middle"),
                                                            QStringLiteral("s"), QStringLiteral("/m"))}),
                           listOf(r4, rt)),
                       &ComposeProject::name),
               QStringList{QStringLiteral("alpha"), QStringLiteral("middle"), QStringLiteral("zebra")},
               QStringLiteral("discovered and remembered projects together, by name"));

    ProjectRegistry copy = r1;
    copy.forget(QStringLiteral("kelp"), appleId);
    check(listOf(copy, appleId).isEmpty(), QStringLiteral("the copy forgets kelp"));
    check(r1.knows(QStringLiteral("kelp"), appleId),
          QStringLiteral("forgetting in a copy leaves the original"));

    const QString folder = makeTemporaryFolder(QStringLiteral("voskel-selftest-locate-"));
    writeFile(folder + QStringLiteral("/docker-compose.yml"), QStringLiteral("services: {}"));
    const Container moved = registryContainer(QStringLiteral("moved-1"), QStringLiteral("moved"),
                                              QStringLiteral("s"), QStringLiteral("/nope/old/moved"));

    ProjectRegistry r5;
    r5.record(Docker::group({moved}), rt);
    checkEqual(listOf(r5, rt).value(0).workingDir, QStringLiteral("/nope/old/moved"),
               QStringLiteral("a project is first remembered in its labels' folder"));
    r5.add({QStringLiteral("moved"), folder, {QStringLiteral("s")}}, rt);
    const ComposeProject relocated = firstOf(ProjectRegistry::merge(Docker::group({moved}), listOf(r5, rt)),
                                             QStringLiteral("the relocated merge"));
    check(QFileInfo(folder).isDir(), QStringLiteral("the new folder exists"));
    check(Docker::composeFile(folder).has_value(), QStringLiteral("the new folder holds a compose file"));
    checkEqual(
        relocated.workingDir, std::optional<QString>(QStringLiteral("/nope/old/moved")),
        QStringLiteral("a project with containers shows the folder they name, whatever was located since"));
    r5.record(Docker::group({moved}), rt);
    checkEqual(listOf(r5, rt).value(0).workingDir, QStringLiteral("/nope/old/moved"),
               QStringLiteral("recording takes the folder the containers name"));

    ProjectRegistry r6;
    r6.add({QStringLiteral("here"), QStringLiteral("/nope/remembered"), {}}, rt);
    const ComposeProject here =
        firstOf(ProjectRegistry::merge(
                    Docker::group({registryContainer(QStringLiteral("here-1"), QStringLiteral("here"),
                                                     QStringLiteral("s"), folder)}),
                    listOf(r6, rt)),
                QStringLiteral("the merge of a project whose remembered folder is gone"));
    checkEqual(here.workingDir, std::optional<QString>(folder),
               QStringLiteral("an existing folder from the labels wins over a remembered one that is gone"));

    storage(r1);
    removeFolder(folder);
}

void testComposeCheck()
{
    const CaseScope scope(QStringLiteral("testComposeCheck"));

    const auto warning = [](const char* name) {
        return QStringLiteral("time=\"2026-09-18T22:44:55+07:00\" level=warning msg=\"The \\\"") +
               QString::fromLatin1(name) +
               QStringLiteral("\\\" variable is not set. Defaulting to a blank string.\"");
    };
    const QString w = warning("DB_ROOT_PASSWORD") + u'\n' + warning("DB_PASSWORD");
    check(w.size() == 252, QStringLiteral("the warning fixture is the plug-in's two lines"));

    const QStringList messages = Docker::composeMessages(w);
    checkEqual(messages.size(), qsizetype(2), QStringLiteral("two warning lines are two messages"));
    checkEqual(messages.first(),
               QStringLiteral("The \"DB_ROOT_PASSWORD\" variable is not set. Defaulting to a blank string."),
               QStringLiteral("the first message, unescaped"));

    const std::optional<QString> summary = Docker::composeWarningSummary(w);
    check(summary.has_value(), QStringLiteral("two unset variables are summed up"));
    for (const char* part : {"2 variables have no value", "DB_ROOT_PASSWORD, DB_PASSWORD", ".env"})
        check(summary->contains(QString::fromLatin1(part)),
              QStringLiteral("the summary of two unset variables holds ") + describe(part));
    check(!summary->contains(u'\n'), QStringLiteral("the summary is one line"));

    const std::optional<QString> one =
        Docker::composeWarningSummary(QStringLiteral("time=\"x\" level=warning msg=\"The \\\"ONLY\\\" "
                                                     "variable is not set. Defaulting to a blank string.\""));
    check(one && one->startsWith(u"ONLY has no value"), QStringLiteral("one unset variable is named first"));
    checkEqual(Docker::composeWarningSummary(QString()), std::optional<QString>(),
               QStringLiteral("no warning sums up to nothing"));
    check(Docker::composeMessages(QStringLiteral("\n  \n")).isEmpty(),
          QStringLiteral("blank lines are no messages"));

    const QString invalid = QStringLiteral(
        "validating /x/docker-compose.yml: services.db additional properties 'imagex' not allowed");
    checkEqual(Docker::composeMessages(invalid), QStringList{invalid},
               QStringLiteral("a plain error line is one message"));
    checkEqual(Docker::composeWarningSummary(invalid), std::optional<QString>(invalid),
               QStringLiteral("a plain error line is passed on whole"));

    const QString root = makeTemporaryFolder(QStringLiteral("voskel-selftest-compose-"));
    const QString child = root + QStringLiteral("/child");
    QDir().mkpath(child);
    writeFile(root + QStringLiteral("/docker-compose.yml"), QStringLiteral("services: {}"));

    checkEqual(Docker::composeFile(root), std::optional<QString>(QStringLiteral("docker-compose.yml")),
               QStringLiteral("the compose file of a folder"));
    checkEqual(Docker::composeFile(child), std::optional<QString>(),
               QStringLiteral("a parent folder's compose file does not count"));
    checkEqual(Docker::composeFile(QStringLiteral("/nope/missing")), std::optional<QString>(),
               QStringLiteral("a missing folder has no compose file"));
    check(QFileInfo(child).isDir(), QStringLiteral("the child folder exists"));
    checkEqual(Docker::composeFile(child), std::optional<QString>(),
               QStringLiteral("an existing folder without a compose file has none"));

    writeFile(root + QStringLiteral("/compose.yaml"), QStringLiteral("services: {}"));
    checkEqual(Docker::composeFile(root), std::optional<QString>(QStringLiteral("compose.yaml")),
               QStringLiteral("compose.yaml comes before docker-compose.yml"));

    const ComposeCheck missing = Docker::checkCompose(child);
    check(!missing.isValid(), QStringLiteral("a folder without a compose file cannot start"));
    check(missing.message.contains(u"No compose file"),
          QStringLiteral("the check says there is no compose file"));

    removeFolder(root);
}

} // namespace SelfTest
