#include "settings/SettingsWindow.h"

#include "app/design/VoskButton.h"
#include "platform/Pools.h"
#include "settings/RuntimeToolsSection.h"
#include "settings/ToolRow.h"
#include "store/AppStore.h"

#include "SettingsFixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>

using SettingsTest::tool;
using TestSupport::eventually;

namespace {

const QStringList everyFormula{"container", "socktainer", "docker", "docker-compose", "colima"};
const QString engineList = "colima list --json";
const QString contextList = "docker context ls --format json";

// The members of process group `group` that are still alive (zombies left aside).
QList<int> groupMembers(int group)
{
    QList<int> members;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold blanks, so read after its ")".
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(0) != "Z" && fields.at(2).toInt() == group)
            members << pid;
    }
    return members;
}

int groupOf(int pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 2 ? fields.at(2).toInt() : -1;
}

// The Settings window with Homebrew, Apple's container and Colima all faked: what a job runs is what
// the fake tools log.
class Jobs : public SettingsTest::Fixture {
protected:
    void SetUp() override
    {
        Fixture::SetUp();
        fakes.answer("container", {"--version"}, "container CLI version 0.5.0 (build: release)\n");
        fakes.answer("container", {"system", "status"}, "status running\nserver.version 0.5.0\n");
        fakes.answer("container", {"builder", "status", "--format", "json"}, "[]");
        fakes.answer("colima", {"--version"}, "colima version 0.8.1\n");
        fakes.answer("colima", {"list", "--json"}, R"({"name":"default","status":"Running","cpus":2})");
        fakes.answer("docker", {"--version"}, "Docker version 28.0.4, build b8034c0\n");
        fakes.answer("brew", QStringList{"list", "--formula", "--versions"} + everyFormula,
                     "container 0.5.0\ncolima 0.8.1\ndocker 28.0.4\n");
        toolchain = makeToolchain(true);
        // Checked a moment ago: opening the window checks nothing.
        toolchain->setLastChecked(QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC));
        window = std::make_unique<SettingsWindow>(store, *toolchain, preferences, socket());
        window->show();
        ASSERT_TRUE(eventually([&] { return toolchain->colimaInstalled(); }));
        quiet();
    }

    void TearDown() override
    {
        window.reset();
        Fixture::TearDown();
    }

    int calls(const QString& call) const { return int(fakes.calls().count(call)); }

    int quiet()
    {
        int seen = -1;
        while (seen != calls(engineList)) {
            seen = calls(engineList);
            QTest::qWait(100);
            Platform::Pools::drain();
            QCoreApplication::processEvents();
        }
        return seen;
    }

    ToolRow* row(const QString& formula) const
    {
        for (ToolRow* row : window->runtimeTools()->toolRows())
            if (row->tool().formula == formula)
                return row;
        return nullptr;
    }

    // Presses the row's button, waits for the job to end and closes its sheet.
    CommandRunView* runToEnd(const QString& formula)
    {
        row(formula)->findChild<VoskButton*>("toolActionButton")->click();
        CommandRunView* sheet = window->jobSheet();
        if (!sheet || !eventually([&] { return sheet->exitStatus().has_value(); }))
            return nullptr;
        return sheet;
    }

    TestSupport::FakeTools fakes{{"brew", "container", "socktainer", "docker", "colima"}};
    AppStore store{*settings};
    std::unique_ptr<ToolchainStore> toolchain;
    std::unique_ptr<SettingsWindow> window;
};

} // namespace

TEST_F(Jobs, InstallAndUpdateRunTheirScriptsAndReloadOnceWhenClosed)
{
    fakes.answer("brew", {"install", "socktainer"}, "installed\n");
    fakes.answer("container", {"system", "start", "--enable-kernel-install"}, "started\n");
    fakes.answer("brew", {"list", "--formula", "socktainer"}, "");
    fakes.answer("brew", {"services", "start", "socktainer"}, "");
    const int before = quiet();
    const int contexts = calls(contextList);
    const int logged = int(fakes.calls().size());

    CommandRunView* sheet = runToEnd("socktainer");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), "Installing socktainer");
    EXPECT_EQ(*sheet->exitStatus(), 0) << sheet->text().toStdString();
    // The job's own commands, in order, between whatever the window read meanwhile.
    QStringList ran = fakes.calls().mid(logged);
    ran.removeIf([](const QString& call) {
        return call.contains("--version") || call.contains("status") || call.contains("list --json") ||
               call.startsWith("brew list --formula --versions");
    });
    EXPECT_EQ(ran, (QStringList{"brew install socktainer", "container system start --enable-kernel-install",
                                "brew list --formula socktainer", "brew services start socktainer"}));
    EXPECT_TRUE(sheet->text().startsWith("brew install socktainer || exit $?\n"));
    EXPECT_EQ(quiet(), before) << "nothing reloads while the sheet is open";

    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_EQ(quiet(), before + 1);
    ASSERT_TRUE(eventually([&] { return calls(contextList) == contexts + 1; }));
    EXPECT_EQ(window->job(), std::nullopt);

    // docker 28.0.4 with 28.1.1 offered, as a check would have found.
    QList<Tool> tools = toolchain->tools();
    for (Tool& t : tools)
        if (t.formula == "docker")
            t.latest = "28.1.1";
    toolchain->setTools(tools);
    QCoreApplication::processEvents();
    fakes.answer("brew", {"upgrade", "docker"}, "", "Error: docker 28.1.1 is not available\n", 1);
    sheet = runToEnd("docker");
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), "Updating docker");
    EXPECT_TRUE(fakes.calls().contains("brew upgrade docker"));
    EXPECT_EQ(*sheet->exitStatus(), 1);
    EXPECT_TRUE(sheet->text().contains("is not available"));
    // A failed job reloads all the same.
    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_EQ(quiet(), before + 2);
}

TEST_F(Jobs, CancelEndsEveryProcessOfTheJob)
{
    // colima that records who it is and then hangs, as a VM that never comes up would.
    const QString pidFile = fakes.dir() + "/colima.pid";
    QFile::remove(fakes.dir() + "/colima");
    QFile script(fakes.dir() + "/colima");
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(QString("#!/bin/sh\n"
                         "printf 'colima %s\\n' \"$*\" >> \"$VOSKEL_FAKE_LOG\"\n"
                         "case \"$1\" in\n"
                         "--version) echo 'colima version 0.8.1' ;;\n"
                         "list) echo '{\"name\":\"default\",\"status\":\"Running\",\"cpus\":2}' ;;\n"
                         "*) echo $$ > '%1'; sleep 3600 & wait ;;\n"
                         "esac\n")
                     .arg(pidFile)
                     .toUtf8());
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    window->runtimeTools()->engineRow()->findChild<VoskButton*>("engineStopButton")->click();
    CommandRunView* sheet = window->jobSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->windowTitle(), "Stopping the Docker engine");
    ASSERT_TRUE(eventually([&] { return QFile(pidFile).size() > 0; }));
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const int colima = pid.readAll().trimmed().toInt();
    const int group = groupOf(colima);
    ASSERT_GT(group, 1);
    // The job has a group of its own: not the test's.
    EXPECT_NE(group, int(::getpgrp()));
    EXPECT_TRUE(groupMembers(group).contains(colima));
    EXPECT_GE(groupMembers(group).size(), 2); // colima and its sleep, and the shell unless it made way

    const int before = quiet();
    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_FALSE(window->job());
    EXPECT_TRUE(eventually([&] { return groupMembers(group).isEmpty(); }, 10000));
    EXPECT_EQ(quiet(), before + 1);
}
