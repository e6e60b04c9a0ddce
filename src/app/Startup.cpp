#include "app/Startup.h"

#include "app/VoskelApp.h"
#include "diagnostics/DumpAll.h"
#include "diagnostics/Output.h"
#include "diagnostics/PlanDump.h"
#include "diagnostics/RuntimeDump.h"
#include "diagnostics/ToolsDump.h"
#include "diagnostics/selftest/SelfTest.h"
#include "diagnostics/shot/ShotGenerator.h"
#include "platform/DiskLook.h"
#include "platform/Foundlings.h"
#include "platform/KeeperProgram.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "platform/SessionBus.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace Startup {

namespace {

using Mode = Choice::Mode;

std::optional<QString> at(const QStringList& arguments, qsizetype index)
{
    if (index < 0 || index >= arguments.size())
        return std::nullopt;
    return arguments.at(index);
}

// The exit status of the mode: 0, except for a self test that found a check that does not hold, and
// a dump or plan given a runtime or project that does not exist.
int runTextMode(const Choice& choice, QTextStream& out)
{
    switch (choice.mode) {
    case Mode::SelfTest: {
        QTextStream err(stderr);
        err.setEncoding(QStringConverter::Utf8);
        return Diagnostics::runSelfTest(out, err);
    }
    case Mode::Tools:
        Diagnostics::runToolsDump(out, choice.withScripts);
        break;
    case Mode::Plan:
        return Diagnostics::runPlan(out, choice.project, choice.context);
    case Mode::Dump:
        return Diagnostics::runDump(out, choice.context);
    case Mode::DumpAll:
        // The store's work comes back to this thread, so its event loop turns until the dump is done.
        QCoro::waitFor(Diagnostics::runDumpAll(out));
        break;
    default:
        break;
    }
    return 0;
}

// A Ctrl+C in the terminal, or a session that ends, stops a text mode while it waits on a tool. The
// tools lead process groups of their own, out of the terminal's reach, so they are ended here rather
// than left waiting on an engine that may never answer. The handler only passes the signal on to a
// thread of its own, as the main thread is the one waiting. (Blocking the signals instead would pass
// the blocked mask on to every tool, which then could not be asked to stop.)
std::atomic<int> stoppedBy{0};
int stopPipe[2] = {-1, -1};

void passOnStop(int signal)
{
    const char number = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(stopPipe[1], &number, 1);
}

void endChildrenOnSignals()
{
    if (::pipe2(stopPipe, O_CLOEXEC) != 0)
        return;
    std::thread([] {
        char number = 0;
        ssize_t got = 0;
        do
            got = ::read(stopPipe[0], &number, 1);
        while (got < 0 && errno == EINTR);
        if (got != 1)
            return;
        stoppedBy = number;
        // What the waiting mode makes of its ended tool ("dump failed: ") is not news to the reader.
        if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0)
            ::dup2(null, STDOUT_FILENO);
        Platform::endRunningChildren();
        letGoOfStreams();
        std::_Exit(128 + number);
    }).detach();
    onStopSignals(passOnStop);
}

// `problem` as the first line, then the modes there are.
QString withModes(const QString& problem)
{
    return QStringLiteral("voskel: ") + problem +
           QStringLiteral(".\nWithout arguments it opens its window. Its other modes: --selftest, "
                          "--tools [--script], --plan <project> [context], --dump [context | all], "
                          "--shot [folder].\n");
}

} // namespace

void onStopSignals(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int finish(QTextStream& out, int status)
{
    // A stop signal came: its thread ends the process once the children are gone.
    while (stoppedBy != 0)
        std::this_thread::sleep_for(std::chrono::seconds(1));
    out.flush();
    std::fflush(stdout);
    // Children first: a worker waiting on a hung tool would otherwise keep the drain, and the
    // process, waiting forever. A worker waiting on what cannot be ended (a move to the Trash under way
    // in a look server) is not waited for past the way out's time.
    const QDeadlineTimer wayOut(Platform::Pools::wayOutLimit);
    Platform::endRunningChildren();
    // A look at a folder still under way goes nowhere now: its server is let go at once.
    Platform::giveUpLooks();
    if (!Platform::Pools::drain(wayOut)) {
        letGoOfStreams();
        std::_Exit(status);
    }
    return status;
}

void letGoOfStreams()
{
    std::fflush(nullptr);
    if (const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC); null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

std::optional<QString> argumentProblem(const QStringList& leftover)
{
    if (leftover.isEmpty())
        return std::nullopt;
    // Every switch of a mode has been looked for already: a "--plan" still here had nothing after it.
    const QString first = leftover.contains(QStringLiteral("--plan"))
                              ? QStringLiteral("--plan needs the name of a compose project")
                              : QStringLiteral("\"%1\" is not an argument Voskel knows")
                                    .arg(Diagnostics::visible(leftover.first()));
    return withModes(first);
}

std::optional<QString> unusedArgument(const QStringList& arguments, const Choice& choice)
{
    QString mode;
    switch (choice.mode) {
    case Mode::SelfTest:
        mode = QStringLiteral("--selftest");
        break;
    case Mode::Tools:
        mode = QStringLiteral("--tools");
        break;
    case Mode::Plan:
        mode = QStringLiteral("--plan");
        break;
    case Mode::Dump:
    case Mode::DumpAll:
        mode = QStringLiteral("--dump");
        break;
    case Mode::Shot:
        mode = QStringLiteral("--shot");
        break;
    case Mode::Application:
        return std::nullopt;
    }
    // The switches of the other modes, and what follows them as they read it, are understood too: the
    // order of the modes decides which one runs ("--tools --selftest" runs the self test), so only an
    // argument that belongs to no switch at all is a mistake.
    QList<bool> taken(arguments.size(), false);
    if (!taken.isEmpty())
        taken[0] = true; // the program's path
    const bool tools = arguments.contains(QStringLiteral("--tools"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments.at(i);
        qsizetype operands = -1;
        if (word == QStringLiteral("--selftest") || word == QStringLiteral("--tools") ||
            (tools && word == QStringLiteral("--script")))
            operands = 0;
        else if (word == QStringLiteral("--plan"))
            operands = 2;
        else if (word == QStringLiteral("--dump") || word == QStringLiteral("--shot"))
            operands = 1;
        if (operands < 0 || taken[i])
            continue;
        for (qsizetype j = i; j <= i + operands && j < arguments.size(); ++j)
            taken[j] = true;
    }
    const qsizetype unused = taken.indexOf(false);
    if (unused < 0)
        return std::nullopt;
    return withModes(
        QStringLiteral("%1 does not take \"%2\"").arg(mode, Diagnostics::visible(arguments.at(unused))));
}

QStringList withoutQtOptions(const QStringList& arguments)
{
    // The options Qt's application objects take for themselves, from its documentation; Qt also
    // accepts each with two dashes. Those of the first list take the next argument as their value.
    static const QStringList withValue{"-platform",
                                       "-platformpluginpath",
                                       "-platformtheme",
                                       "-plugin",
                                       "-qwindowgeometry",
                                       "-geometry",
                                       "-qwindowicon",
                                       "-icon",
                                       "-qwindowtitle",
                                       "-title",
                                       "-session",
                                       "-display",
                                       "-name",
                                       "-style",
                                       "-stylesheet",
                                       "-visual",
                                       "-ncols",
                                       "-cmap"};
    static const QStringList alone{"-reverse", "-widgetcount", "-nograb", "-dograb", "-testability"};
    static const QStringList joined{
        "-style=", "-stylesheet=", "-qmljsdebugger=", "-dialogs=", "-fontengine="};
    QStringList left;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString option = arguments.at(i);
        if (option.startsWith(QStringLiteral("--")))
            option.remove(0, 1);
        if (withValue.contains(option) && i + 1 < arguments.size()) {
            ++i;
            continue;
        }
        const bool qtTakesIt =
            alone.contains(option) || std::any_of(joined.cbegin(), joined.cend(),
                                                  [&](const QString& p) { return option.startsWith(p); });
        if (!qtTakesIt)
            left << arguments.at(i);
    }
    return left;
}

Choice decide(const QStringList& arguments)
{
    Choice choice;
    if (arguments.contains(QStringLiteral("--selftest"))) {
        choice.mode = Mode::SelfTest;
        return choice;
    }
    if (arguments.contains(QStringLiteral("--tools"))) {
        choice.mode = Mode::Tools;
        choice.withScripts = arguments.contains(QStringLiteral("--script"));
        return choice;
    }
    if (const qsizetype plan = arguments.indexOf(QStringLiteral("--plan")); plan >= 0) {
        if (const auto project = at(arguments, plan + 1)) {
            choice.mode = Mode::Plan;
            choice.project = *project;
            choice.context = at(arguments, plan + 2);
            return choice;
        }
    }
    if (const qsizetype dump = arguments.indexOf(QStringLiteral("--dump")); dump >= 0) {
        const std::optional<QString> next = at(arguments, dump + 1);
        choice.mode = next == QStringLiteral("all") ? Mode::DumpAll : Mode::Dump;
        if (choice.mode == Mode::Dump)
            choice.context = next;
        return choice;
    }
    if (const qsizetype shot = arguments.indexOf(QStringLiteral("--shot")); shot >= 0) {
        choice.mode = Mode::Shot;
        choice.directory = at(arguments, shot + 1).value_or(QStringLiteral("shots"));
        return choice;
    }
    return choice;
}

int run(int argc, char** argv)
{
    // Before anything asks for the session bus: where the session has none, none is launched for us.
    Platform::SessionBus::keepFromLaunching();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const Choice choice = decide(arguments);

    // Named before the display is looked for: a mistyped mode is not a missing display. The window
    // looks again once Qt has taken its own arguments.
    const std::optional<QString> problem = choice.mode == Mode::Application
                                               ? argumentProblem(withoutQtOptions(arguments.mid(1)))
                                               : unusedArgument(arguments, choice);
    if (problem) {
        std::fputs(problem->toLocal8Bit().constData(), stderr);
        return 2;
    }
    // Every command runs under the keeper, and none without it: a mode that would run one says only
    // that, before it runs or prints anything that would look like an engine's answer. The self test
    // and the screenshots run no command and go on without it.
    if (choice.mode != Mode::SelfTest && choice.mode != Mode::Shot) {
        if (const std::optional<QString> missing = Platform::keeperMissing()) {
            std::fprintf(stderr, "voskel: %s\n", missing->toLocal8Bit().constData());
            return 1;
        }
    }
    // Every look at a folder is made by the look server, and none without it: a mode that looks at one
    // says only that, rather than taking every folder for one that does not answer.
    if (choice.mode != Mode::Tools) {
        if (const std::optional<QString> missing = Platform::lookServerMissing()) {
            std::fprintf(stderr, "voskel: %s\n", missing->toLocal8Bit().constData());
            return 1;
        }
    }
    // Whatever a command leaves behind comes back here, not to init, so nothing outlives its end.
    Platform::becomeSubreaper();
    if (choice.mode == Mode::Application)
        return VoskelApp::run(argc, argv);
    endChildrenOnSignals();

    if (choice.mode == Mode::Shot) {
        // Checked before anything is drawn or made: eighteen failed writes would say it less clearly.
        if (const std::optional<QString> problem = ShotGenerator::folderProblem(choice.directory)) {
            std::fprintf(stderr, "voskel: cannot write the shots to \"%s\": %s.\n",
                         Diagnostics::visible(choice.directory).toLocal8Bit().constData(),
                         problem->toLocal8Bit().constData());
            return 1;
        }
        // The pictures are drawn off screen whatever the session has, so no display is needed or used.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QTextStream out(stdout);
        out.setEncoding(QStringConverter::Utf8);
        QTextStream err(stderr);
        err.setEncoding(QStringConverter::Utf8);
        const bool written = ShotGenerator::runShot(out, err, choice.directory);
        return finish(out, written ? 0 : 1);
    }

    // The text modes need no display: a core application is enough for processes and settings.
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    out.setEncoding(QStringConverter::Utf8);
    return finish(out, runTextMode(choice, out));
}

} // namespace Startup
