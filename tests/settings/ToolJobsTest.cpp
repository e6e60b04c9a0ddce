#include "settings/SettingsWindow.h"

#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "platform/Pools.h"
#include "platform/StreamingProcess.h"
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

const QString contextList = "docker context ls --format json";

// The state letter and process group of a process, from "pid (name) state ppid pgrp ..." (the name
// may hold blanks, so the fields are read after its ")").
std::optional<std::pair<QByteArray, int>> stateAndGroup(const QString& pid)
{
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 3)
        return std::nullopt;
    return std::pair(fields.at(0), fields.at(2).toInt());
}

int groupOf(int pid)
{
    const auto found = stateAndGroup(QString::number(pid));
    return found ? found->second : -1;
}

// The members of process group `group` that are still alive (zombies left aside).
QList<int> groupMembers(int group)
{
    QList<int> members;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        const auto found = stateAndGroup(entry);
        if (found && found->first != "Z" && found->second == group)
            members << entry.toInt();
    }
    return members;
}

// The Settings window with Homebrew, Apple's container and Colima all faked: what a job runs is what
// the fake tools log.
class Jobs : public SettingsTest::OnFakeTools {
protected:
    void SetUp() override
    {
        OnFakeTools::SetUp();
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
        OnFakeTools::TearDown();
    }

    // colima that records who it is in `pidFile` and then hangs beside a sleep, as a VM that never
    // comes up would; with `ignoringTerm` both ignore the request to end. `before` runs first.
    void hangingColima(const QString& pidFile, bool ignoringTerm, const QString& before = {})
    {
        QFile::remove(fakes.dir() + "/colima");
        QFile script(fakes.dir() + "/colima");
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\n"
                             "printf 'colima %s\\n' \"$*\" >> \"$VOSKEL_FAKE_LOG\"\n"
                             "case \"$1\" in\n"
                             "--version) echo 'colima version 0.8.1' ;;\n"
                             "list) echo '{\"name\":\"default\",\"status\":\"Running\",\"cpus\":2}' ;;\n"
                             "*) %1%3echo $$ > '%2'; sleep 3600 & wait ;;\n"
                             "esac\n")
                         .arg(ignoringTerm ? "trap '' TERM; " : "", pidFile, before)
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
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

    const qsizetype closedAt = fakes.calls().size();
    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_EQ(quiet(), before + 1);
    ASSERT_TRUE(eventually([&] { return calls(contextList) == contexts + 1; }));
    EXPECT_EQ(window->job(), std::nullopt);
    // The runtimes are read once the tools are: a job may have added one (Colima's context).
    const QStringList afterClose = fakes.calls().mid(closedAt);
    EXPECT_GE(afterClose.indexOf(engineList), 0);
    EXPECT_LT(afterClose.indexOf(engineList), afterClose.indexOf(contextList))
        << afterClose.join('\n').toStdString();

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
    const QString pidFile = fakes.dir() + "/colima.pid";
    hangingColima(pidFile, false);

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
    // colima and its sleep, and the shell unless it made way; the sleep starts after the id is written.
    EXPECT_TRUE(eventually([&] { return groupMembers(group).size() >= 2; }));

    const int before = quiet();
    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_FALSE(window->job());
    EXPECT_TRUE(eventually([&] { return groupMembers(group).isEmpty(); }, 10000));
    EXPECT_EQ(quiet(), before + 1);
}

// What the job started out of its group (a helper that made a session of its own) is asked to end with
// the rest as the job is cancelled, not left to the kill that follows when something ignores the request.
TEST_F(Jobs, CancelAsksWhatTheJobStartedOutOfItsGroupToEnd)
{
    const QString pidFile = fakes.dir() + "/colima.pid";
    const QString awayFile = fakes.dir() + "/away.pid";
    const QString askedFile = fakes.dir() + "/away.asked";
    hangingColima(pidFile, false,
                  QString("setsid sh -c 'trap \"echo asked > %1; exit 0\" TERM; echo $$ > %2; "
                          "while :; do sleep 0.05; done' & ")
                      .arg(askedFile, awayFile));

    window->runtimeTools()->engineRow()->findChild<VoskButton*>("engineStopButton")->click();
    CommandRunView* sheet = window->jobSheet();
    ASSERT_TRUE(sheet);
    ASSERT_TRUE(eventually([&] { return QFile(pidFile).size() > 0 && QFile(awayFile).size() > 0; }));
    const qint64 away = TestSupport::pidFromFile(awayFile);
    ASSERT_NE(groupOf(int(away)), groupOf(TestSupport::pidFromFile(pidFile))) << "it left the job's group";

    sheet->findChild<VoskButton*>("closeButton")->click();
    EXPECT_TRUE(eventually([&] { return !TestSupport::processRuns(away); }, Platform::reapGraceMs + 5000));
    EXPECT_TRUE(QFile::exists(askedFile)) << "it was killed without being asked to end";
    ::kill(pid_t(away), SIGKILL);
}

TEST_F(Jobs, AJobWaitsUntilEverythingOfTheCancelledOneBeforeItHasEnded)
{
    const QString pidFile = fakes.dir() + "/colima.pid";
    hangingColima(pidFile, true);
    const auto stop = [&] {
        window->runtimeTools()->engineRow()->findChild<VoskButton*>("engineStopButton")->click();
    };

    stop();
    CommandRunView* first = window->jobSheet();
    ASSERT_TRUE(first);
    ASSERT_TRUE(eventually([&] { return QFile(pidFile).size() > 0; }));
    QFile pid(pidFile);
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    const int group = groupOf(pid.readAll().trimmed().toInt());
    ASSERT_GT(group, 1);
    ASSERT_TRUE(eventually([&] { return groupMembers(group).size() >= 2; }));
    first->findChild<VoskButton*>("closeButton")->click();
    const int ran = calls("colima stop");

    stop();
    CommandRunView* second = window->jobSheet();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->text().contains("waiting for the previous command to end"))
        << second->text().toStdString();
    // The first job's processes are killed once their grace is over; only then may the second run.
    bool ranBeside = false;
    EXPECT_TRUE(eventually(
        [&] {
            const bool secondRuns = calls("colima stop") > ran;
            ranBeside = ranBeside || (secondRuns && !groupMembers(group).isEmpty());
            return secondRuns;
        },
        Platform::reapGraceMs + 10000));
    EXPECT_FALSE(ranBeside);
    EXPECT_TRUE(groupMembers(group).isEmpty());

    const Platform::ChildGroup secondGroup = second->group();
    second->findChild<VoskButton*>("closeButton")->click();
    EXPECT_TRUE(eventually([&] { return secondGroup.gone(); }, Platform::reapGraceMs + 10000));
}

TEST_F(Jobs, TheUpdateCheckShowsItselfAndItsProblem)
{
    fakes.answer("brew", {"update", "--quiet"}, "",
                 "fatal: unable to access 'https://github.com/Homebrew/brew/': Could not resolve host\n"
                 "line two\nline three\nline four\n",
                 1);
    auto* check = window->findChild<VoskButton*>("checkButton");
    auto* note = window->findChild<VoskLabel*>("checkNoteLabel");
    EXPECT_FALSE(SettingsTest::shown(note));
    check->click();
    ASSERT_TRUE(eventually([&] { return check->text() == "Checking…"; }));
    EXPECT_FALSE(check->isEnabled());
    EXPECT_TRUE(SettingsTest::shown(window->findChild<QWidget*>("checkingIndicator")));

    ASSERT_TRUE(eventually([&] { return check->text() == "Check for updates"; }));
    EXPECT_TRUE(check->isEnabled());
    EXPECT_FALSE(SettingsTest::shown(window->findChild<QWidget*>("checkingIndicator")));
    ASSERT_TRUE(SettingsTest::shown(note));
    EXPECT_TRUE(note->plainText().startsWith("fatal: unable to access")) << note->plainText().toStdString();
    EXPECT_TRUE(note->textInteractionFlags() & Qt::TextSelectableByMouse);
}
