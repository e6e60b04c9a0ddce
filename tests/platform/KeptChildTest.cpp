#include "platform/KeptChild.h"
#include "platform/ProcessRunner.h"
#include "platform/StreamingProcess.h"
#include "platform/TimedRunner.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <thread>

using namespace std::chrono_literals;
using TestSupport::eventually;
using TestSupport::processRuns;
using TestSupport::shell;

namespace {

// The process ids a script wrote to `path`, one a line.
QList<qint64> pidsIn(const QString& path)
{
    QFile file(path);
    QList<qint64> pids;
    if (!file.open(QIODevice::ReadOnly))
        return pids;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (const qint64 pid = line.trimmed().toLongLong(); pid > 0)
            pids << pid;
    return pids;
}

// Every signal a runner sends to a group, with whether the group's leader was still unreaped then:
// once reaped, its number may already name another group.
class SignalLog {
public:
    struct Sent {
        pid_t group;
        int signal;
        bool leaderHeld;
    };

    SignalLog()
    {
        Platform::setGroupSignalWatcher([this](pid_t group, int signal) {
            siginfo_t info{};
            const bool held = ::waitid(P_PID, id_t(group), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
            QMutexLocker lock(&m_mutex);
            m_sent.push_back({group, signal, held});
        });
    }
    ~SignalLog() { Platform::setGroupSignalWatcher(nullptr); }

    std::vector<Sent> sent() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sent;
    }

private:
    mutable QMutex m_mutex;
    std::vector<Sent> m_sent;
};

// The number of the process that started `pid`, as the process table has it.
pid_t parentOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    return pid_t(line.mid(line.lastIndexOf(')') + 4).split(' ').value(0).toLongLong());
}

struct KilledHolder {
    const char* mode;
    const char* script;
    int pids;
    bool keeperToo = false;
};

const char* const twoInTheGroup = "sleep 60 & echo $! >> '%1'; echo $$ >> '%1'; wait";
const char* const oneAway =
    "setsid sh -c 'trap \"\" TERM; echo $$ >> %1; exec sleep 60' & echo $$ >> '%1'; wait";

// Starts the row's child in a holder, kills the holder (and with `keeperToo` its keeper) and expects
// every process the script named to end within a few seconds. With `stalled`, a thread of the holder
// is held in the kernel meanwhile, and the holder stays until the stall is released.
void expectTheyEndWithTheApplication(const KilledHolder& row, TestSupport::StalledFolder* stalled)
{
    const std::string name = std::string(row.mode) + (stalled ? " stalled: " : ": ") + row.script;
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pids"));
    QStringList arguments = {QString::fromLatin1(row.mode), QString::fromLatin1(row.script).arg(pidFile)};
    if (stalled)
        arguments << stalled->stalledPath();
    QProcess holder;
    holder.start(QStringLiteral(VOSKEL_CHILD_HOLDER), arguments);
    ASSERT_TRUE(holder.waitForStarted(5000));
    ASSERT_TRUE(eventually([&] { return pidsIn(pidFile).size() == row.pids; }, 10000)) << name;
    const QList<qint64> pids = pidsIn(pidFile);
    const pid_t keeper = parentOf(pids.back());

    ::kill(pid_t(holder.processId()), SIGKILL);
    if (row.keeperToo)
        ::kill(keeper, SIGKILL);
    EXPECT_TRUE(eventually([&] { return std::none_of(pids.cbegin(), pids.cend(), processRuns); }, 6000))
        << name;
    if (stalled) {
        EXPECT_TRUE(QFile::exists(QStringLiteral("/proc/%1").arg(holder.processId())))
            << "the holder went at once, so nothing held it: " << name;
        stalled->release();
    }
    EXPECT_TRUE(eventually([&] { return holder.state() == QProcess::NotRunning; }, 5000)) << name;
    for (const qint64 pid : pids)
        ::kill(pid_t(pid), SIGKILL); // whatever a failure left behind
}

} // namespace

// However the application dies, what it started goes within a few seconds: a child run to its end on
// a pool thread, a streamed one, one that ignores the request to terminate (killed after the keeper's
// grace) and one that left the group. The holder is killed with SIGKILL, so nothing of its own can
// clean up; in the last row its keeper goes with it, as a kill by name takes both, and the program
// still ends.
TEST(KeptChild, ChildrenEndWhenTheApplicationIsKilled)
{
    const KilledHolder rows[] = {
        {"run", twoInTheGroup, 2},
        {"stream", twoInTheGroup, 2},
        {"run", "trap '' TERM; sleep 60 & echo $! >> '%1'; echo $$ >> '%1'; wait", 2},
        {"run", oneAway, 2},
        {"run", "echo $$ >> '%1'; exec sleep 60", 1, true},
    };
    for (const KilledHolder& row : rows)
        expectTheyEndWithTheApplication(row, nullptr);
}

// The same while a thread of the application is held in the kernel by a stalled folder: the process
// stays (a zombie) and keeps its descriptors open, the keepers' lifelines among them.
TEST(KeptChild, ChildrenEndWhenTheApplicationIsKilledWhileAThreadIsHeld)
{
    for (const KilledHolder& row :
         {KilledHolder{"run", twoInTheGroup, 2}, KilledHolder{"stream", oneAway, 2}}) {
        TestSupport::StalledFolder stalled;
        if (stalled.whyNot())
            GTEST_SKIP() << "no stalled folder here: " << stalled.whyNot()->toStdString();
        expectTheyEndWithTheApplication(row, &stalled);
    }
}

// A program whose start is held entering its folder on a mount that stalls holds nothing of its
// keeper's open: the keeper, killed for want of an answer, is seen to end, and the run ends near its
// limit rather than waiting on it.
TEST(KeptChild, AStartHeldInAStalledFolderDoesNotHoldItsRunPastItsLimit)
{
    TestSupport::StalledFolder stalled;
    if (stalled.whyNot())
        GTEST_SKIP() << "no stalled folder here: " << stalled.whyNot()->toStdString();
    Platform::PreparedProcess prepared = shell(QStringLiteral("true"));
    prepared.workingDirectory = stalled.stalledPath();
    QElapsedTimer clock;
    clock.start();
    const Platform::TimedCompletion done = Platform::runTimed(prepared, 300ms, 300ms);
    EXPECT_TRUE(done.timedOut);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(Platform::keptChildren().isEmpty());
    stalled.release();
}

// A keeper that dies (killed by hand, say) takes its group with it while the application runs on, and
// the run says its command was cut off, where a failure's words are looked for: first, above what the
// command wrote there before (progress, say), which a banner would otherwise show in its place.
TEST(KeptChild, AKilledKeeperEndsItsGroupAndTheRunSaysItWasCutOff)
{
    const QString cutOff =
        QStringLiteral("\u201c/bin/sh\u201d was cut off: Voskel's keeper ended unexpectedly.");
    for (const bool streamed : {false, true}) {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath(QStringLiteral("pids"));
        const Platform::PreparedProcess script = shell(
            QStringLiteral("echo said; echo progress >&2; sleep 60 & echo $! >> '%1'; echo $$ >> '%1'; wait")
                .arg(pidFile));
        std::optional<Platform::Completed> done;
        std::thread worker;
        Platform::StreamingProcess stream;
        QString streamedText;
        std::optional<int> streamedStatus;
        QObject::connect(&stream, &Platform::StreamingProcess::output,
                         [&](const QString& text) { streamedText += text; });
        QObject::connect(&stream, &Platform::StreamingProcess::finished,
                         [&](int status) { streamedStatus = status; });
        if (streamed)
            ASSERT_EQ(stream.start(script), std::nullopt);
        else
            worker = std::thread([&] { done = Platform::runToEnd(script); });
        ASSERT_TRUE(eventually([&] { return pidsIn(pidFile).size() == 2; }, 10000));
        const QList<qint64> pids = pidsIn(pidFile);
        const pid_t keeper = parentOf(pids.back());

        ::kill(keeper, SIGKILL);
        EXPECT_TRUE(eventually([&] { return std::none_of(pids.cbegin(), pids.cend(), processRuns); }, 3000))
            << "streamed " << streamed;
        if (streamed) {
            ASSERT_TRUE(eventually([&] { return streamedStatus.has_value(); }, 5000));
            EXPECT_EQ(streamedStatus, SIGKILL);
            EXPECT_TRUE(stream.endedBySignal());
            EXPECT_EQ(streamedText, QStringLiteral("said\nprogress\n") + cutOff + u'\n');
        } else {
            worker.join();
            ASSERT_TRUE(done && done->started);
            EXPECT_TRUE(done->crashed);
            EXPECT_EQ(done->exitCode, SIGKILL);
            EXPECT_EQ(done->out, "said\n");
            EXPECT_EQ(QString::fromUtf8(done->err), cutOff + QStringLiteral("\nprogress\n"));
        }
        EXPECT_TRUE(eventually([&] { return !TestSupport::groupListed(keeper); }, 3000));
        for (const qint64 pid : pids)
            ::kill(pid_t(pid), SIGKILL);
    }
}

// The thread that started a child may end first: a pool retires idle threads. What the child left
// in its group runs on, and the way out still reaches it.
TEST(KeptChild, WhatAChildLeftRunsOnAfterItsThreadEndsUntilTheWayOut)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    std::thread([&] {
        Platform::runToEnd(shell(QStringLiteral("sleep 60 & echo $! > '%1'").arg(pidFile)));
    }).join();
    const qint64 leftBehind = TestSupport::pidFromFile(pidFile);
    ASSERT_GT(leftBehind, 0);
    eventually([] { return false; }, 300);
    EXPECT_TRUE(processRuns(leftBehind));
    EXPECT_EQ(Platform::trackedChildCount(), 1) << "its group is still known";

    Platform::endRunningChildren(1000);
    EXPECT_TRUE(eventually([&] { return !processRuns(leftBehind); }, 3000));
    EXPECT_EQ(Platform::trackedChildCount(), 0);
}

// A job that ended on its own may have left something running out of its group on purpose (the
// virtual machine a runtime's start leaves behind). Whether the way out follows its run, the
// application is killed or the keeper is (the application runs on, and the daemon comes back to it),
// what stayed in the group ends, the keeper goes without waiting for the rest, and that runs on, also
// after the application. (A sheet's Close is tried with the sheet.)
TEST(KeptChild, WhatAFinishedJobDetachedRunsOnWithoutItsKeeper)
{
    enum class End { wayOut, applicationKilled, keeperKilled };
    for (const End how : {End::wayOut, End::applicationKilled, End::keeperKilled}) {
        const int row = int(how);
        QTemporaryDir dir;
        const QString daemonFile = dir.filePath(QStringLiteral("daemon"));
        const QString groupFile = dir.filePath(QStringLiteral("group"));
        const QString programFile = dir.filePath(QStringLiteral("program"));
        // Ends once the daemon has left the group, as a start that waits for what it started.
        const QString script =
            QStringLiteral("echo $$ > '%3'; setsid sh -c 'echo $$ > %1; exec sleep 60' & sleep 60 & "
                           "echo $! > '%2'; while [ ! -s '%1' ]; do sleep 0.01; done")
                .arg(daemonFile, groupFile, programFile);
        QProcess holder;
        if (how == End::wayOut) {
            Platform::runToEnd(shell(script));
        } else {
            holder.start(QStringLiteral(VOSKEL_CHILD_HOLDER), {QStringLiteral("stream"), script});
            ASSERT_TRUE(holder.waitForStarted(5000));
        }
        const auto finished = [&] {
            const qint64 program = TestSupport::pidFromFile(programFile);
            return program > 0 && !QFile::exists(QStringLiteral("/proc/%1").arg(program)) &&
                   TestSupport::pidFromFile(groupFile) > 0;
        };
        ASSERT_TRUE(eventually(finished, 10000)) << "row " << row;
        const qint64 daemon = TestSupport::pidFromFile(daemonFile);
        const qint64 inGroup = TestSupport::pidFromFile(groupFile);
        const pid_t keeper = parentOf(inGroup); // its orphan now
        ASSERT_TRUE(processRuns(keeper) && processRuns(daemon)) << "row " << row;

        if (how == End::wayOut) {
            Platform::endRunningChildren(0);
        } else if (how == End::applicationKilled) {
            ::kill(pid_t(holder.processId()), SIGKILL);
        } else {
            // Told after what the keeper lets go, so that is known by now.
            ASSERT_TRUE(
                eventually([&] { return holder.readAllStandardOutput().contains("finished"); }, 5000));
            ::kill(keeper, SIGKILL);
        }
        EXPECT_TRUE(eventually([&] { return !processRuns(inGroup) && !processRuns(keeper); }, 5000))
            << "row " << row;
        EXPECT_TRUE(processRuns(daemon)) << "row " << row;
        if (how == End::keeperKilled) {
            EXPECT_TRUE(eventually([&] { return parentOf(daemon) == pid_t(holder.processId()); }, 3000))
                << "it came back to the application";
            // Reaped once what it left was dealt with.
            EXPECT_TRUE(TestSupport::processGone(keeper, 3000));
            EXPECT_TRUE(processRuns(daemon));
            ::kill(pid_t(holder.processId()), SIGKILL);
            EXPECT_TRUE(eventually([&] { return holder.state() == QProcess::NotRunning; }, 5000));
            EXPECT_TRUE(processRuns(daemon)) << "the application's end took it along";
        }
        EXPECT_EQ(Platform::trackedChildCount(), 0);
        ::kill(pid_t(daemon), SIGKILL);
        ::kill(pid_t(inGroup), SIGKILL);
    }
}

// The application is the subreaper of what it starts: when a job's keeper is killed, what had left
// the job's group comes back to the application and ends there at once, while the application runs
// on. It comes back as the program dies when the program held it, and as the keeper dies when the
// keeper held it (a daemon whose parent went at once); a daemon an earlier job let go on purpose stays.
TEST(KeptChild, WhatAKilledKeeperLeftOutOfItsGroupEndsWhileTheApplicationRuns)
{
    const char* const leavers[] = {
        "setsid sh -c 'trap \"\" TERM; echo $$ >> %1; exec sleep 60' & echo $$ > '%2'; wait",
        R"(sh -c "setsid sh -c 'echo \$\$ >> %1; exec sleep 60' &"; echo $$ > '%2'; exec sleep 60)",
    };
    for (const char* const mode : {"run", "stream", "then"}) {
        for (const char* const leaver : leavers) {
            const std::string name = std::string(mode) + ": " + leaver;
            QTemporaryDir dir;
            const QString leftFile = dir.filePath(QStringLiteral("left"));
            const QString programFile = dir.filePath(QStringLiteral("program"));
            const QString daemonFile = dir.filePath(QStringLiteral("daemon"));
            const QString job = QString::fromLatin1(leaver).arg(leftFile, programFile);
            QStringList arguments{QString::fromLatin1(mode)};
            if (arguments.first() == u"then")
                arguments << QStringLiteral("setsid sh -c 'echo $$ > %1; exec sleep 60' & "
                                            "while [ ! -s '%1' ]; do sleep 0.01; done")
                                 .arg(daemonFile);
            arguments << job;
            QProcess holder;
            holder.start(QStringLiteral(VOSKEL_CHILD_HOLDER), arguments);
            ASSERT_TRUE(holder.waitForStarted(5000)) << name;
            ASSERT_TRUE(eventually(
                [&] { return pidsIn(leftFile).size() == 1 && pidsIn(programFile).size() == 1; }, 10000))
                << name;
            const qint64 left = pidsIn(leftFile).first();
            const pid_t keeper = parentOf(pidsIn(programFile).first());
            const qint64 daemon = TestSupport::pidFromFile(daemonFile);
            ASSERT_EQ(daemon > 0, arguments.first() == u"then") << name;

            ::kill(keeper, SIGKILL);
            EXPECT_TRUE(eventually([&] { return !processRuns(left); }, 3000)) << name;
            EXPECT_EQ(holder.state(), QProcess::Running) << name;
            if (daemon > 0) {
                EXPECT_TRUE(processRuns(daemon)) << name;
                // Ended, it is reaped by the application it came back to, not left as its zombie.
                EXPECT_EQ(parentOf(daemon), pid_t(holder.processId())) << name;
                ::kill(pid_t(daemon), SIGKILL);
                EXPECT_TRUE(TestSupport::processGone(daemon, 5000)) << name;
            }
            ::kill(pid_t(holder.processId()), SIGKILL);
            EXPECT_TRUE(eventually([&] { return holder.state() == QProcess::NotRunning; }, 5000)) << name;
            ::kill(pid_t(left), SIGKILL);
            if (daemon > 0)
                ::kill(pid_t(daemon), SIGKILL);
        }
    }
}

// No runner signals a group after reaping its leader, whose number may name another group by then.
// The child ends at the request to terminate; in the second script it leaves something in its group
// that ignores the request and has to be killed, while the group's number is still held.
TEST(KeptChild, GroupsAreSignalledOnlyWhileTheirLeaderIsHeld)
{
    const auto timed = [](const QString& script) { Platform::runTimed(shell(script), 300ms, 300ms); };
    const auto dropped = [](const QString& script) {
        auto run = std::make_unique<Platform::StreamingProcess>();
        ASSERT_EQ(run->start(shell(script)), std::nullopt);
        eventually([] { return false; }, 300);
        const Platform::ChildGroup group = run->group();
        run.reset();
        EXPECT_TRUE(eventually([&] { return group.gone(); }, Platform::reapGraceMs + 3000));
    };
    const auto wayOut = [](const QString& script) {
        std::thread worker([&] { Platform::runToEnd(shell(script)); });
        eventually([] { return false; }, 300);
        Platform::endRunningChildren(300);
        worker.join();
    };
    const std::function<void(const QString&)> runners[] = {timed, dropped, wayOut};
    const struct {
        const char* script;
        bool leavesAStubbornOne;
    } scripts[] = {
        {"trap 'exit 0' TERM; echo $$ > '%1'; while :; do sleep 0.05; done", false},
        {"trap 'exit 0' TERM; (trap '' TERM; exec sleep 60) & echo $! > '%1'; wait", true},
        // Out of the group's reach, but not of its keeper's.
        {"trap 'exit 0' TERM; setsid sh -c 'trap \"\" TERM; echo $$ > %1; exec sleep 60' & wait", true},
    };
    for (const auto& row : scripts) {
        for (std::size_t i = 0; i < std::size(runners); ++i) {
            QTemporaryDir dir;
            const QString pidFile = dir.filePath(QStringLiteral("pid"));
            SignalLog log;
            runners[i](QString::fromLatin1(row.script).arg(pidFile));
            const qint64 last = TestSupport::pidFromFile(pidFile);
            EXPECT_TRUE(eventually([&] { return last > 0 && !processRuns(last); }, 3000))
                << row.script << " runner " << i;

            const auto sent = log.sent();
            ASSERT_FALSE(sent.empty()) << row.script << " runner " << i;
            EXPECT_EQ(sent.front().signal, SIGTERM) << row.script << " runner " << i;
            if (row.leavesAStubbornOne) {
                EXPECT_EQ(sent.back().signal, SIGKILL) << row.script << " runner " << i;
            }
            for (const auto& one : sent)
                EXPECT_TRUE(one.leaderHeld) << row.script << " runner " << i << ": signal " << one.signal
                                            << " after the leader was reaped";
        }
    }
}

// Without its keeper no child starts, since none of the above would hold for it: every runner says so
// with the keeper's path, and nothing is left running. `/bin/true` stands for a file at the keeper's
// place that is no keeper: it ends without a word about the program.
TEST(KeptChild, NothingStartsWithoutItsKeeper)
{
    QTemporaryDir dir;
    const QString notExecutable = dir.filePath(QStringLiteral("voskel-keeper"));
    QFile file(notExecutable);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString missing = dir.filePath(QStringLiteral("gone/voskel-keeper"));
    const struct {
        QString keeper;
        QString failure;
    } rows[] = {
        {missing,
         QStringLiteral("\u201c/bin/sh\u201d was not started: Voskel's keeper \u201c%1\u201d was not found.")
             .arg(missing)},
        {notExecutable,
         QStringLiteral("\u201c/bin/sh\u201d was not started: Voskel's keeper \u201c%1\u201d cannot "
                        "be run: permission denied.")
             .arg(notExecutable)},
        {QStringLiteral("/bin/true"),
         QStringLiteral(
             "\u201c/bin/sh\u201d was not started: Voskel's keeper \u201c/bin/true\u201d ended without "
             "starting it.")},
    };
    QTemporaryDir ran;
    const QString mark = ran.filePath(QStringLiteral("ran"));
    const Platform::PreparedProcess touch = shell(QStringLiteral("touch '%1'").arg(mark));
    for (const auto& row : rows) {
        Platform::setKeeperProgram(row.keeper);
        const Platform::Completed done = Platform::runToEnd(touch);
        EXPECT_FALSE(done.started) << row.keeper.toStdString();
        EXPECT_EQ(done.launchError, row.failure);
        const Platform::TimedCompletion timed = Platform::runTimed(touch, 5s);
        EXPECT_EQ(timed.run.launchError, row.failure);
        Platform::StreamingProcess streamed;
        EXPECT_EQ(streamed.start(touch), std::optional<QString>(row.failure));
        Platform::setKeeperProgram(QString());

        EXPECT_FALSE(QFile::exists(mark)) << row.keeper.toStdString();
        EXPECT_EQ(Platform::trackedChildCount(), 0) << row.keeper.toStdString();
        EXPECT_EQ(Platform::streamingChildCount(), 0) << row.keeper.toStdString();
    }
    // The keeper this build made is found again.
    EXPECT_EQ(Platform::capture(touch).status, 0);
    EXPECT_TRUE(QFile::exists(mark));
}

// The keeper takes its own options from the front of its command line: whatever the program's argument
// list and working folder hold, options of the keeper's among them, they reach the program unchanged.
TEST(KeptChild, TheProgramGetsItsArgumentsAndFolderUnchanged)
{
    QTemporaryDir root;
    const QStringList folders = {QStringLiteral("--"), QStringLiteral("-"), QStringLiteral("a,b=c d"),
                                 QString(250, u'f')};
    const QStringList arguments = {QString(),
                                   QStringLiteral("--"),
                                   QStringLiteral("--news"),
                                   QStringLiteral("3"),
                                   QStringLiteral("--directory"),
                                   QStringLiteral("a,b"),
                                   QStringLiteral("caf\u00e9"),
                                   QString(250, u'x')};
    for (const QString& name : folders) {
        const QString folder = root.filePath(name);
        ASSERT_TRUE(QDir().mkpath(folder)) << name.toStdString();
        Platform::PreparedProcess prepared = shell(QStringLiteral("printf '%s|' \"$@\"; pwd"));
        prepared.arguments << QStringLiteral("sh") << arguments;
        prepared.workingDirectory = folder;
        const Platform::Capture done = Platform::capture(prepared);
        EXPECT_EQ(done.status, 0) << done.err.toStdString();
        EXPECT_EQ(done.out, arguments.join(u'|') + u'|' + folder + u'\n') << name.toStdString();
    }
}
