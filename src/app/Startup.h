#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QTextStream;

// How the process starts: one of the command-line diagnostic modes, or the application itself.
namespace Startup {

struct Choice {
    enum class Mode { SelfTest, Tools, Plan, Dump, DumpAll, Shot, Application };

    Mode mode = Mode::Application;
    bool withScripts = false;       // Tools
    QString project;                // Plan
    std::optional<QString> context; // Plan, Dump
    QString directory;              // Shot

    bool operator==(const Choice&) const = default;
};

// The mode the whole argument list (the program's path first) asks for. "--selftest" and "--tools"
// count anywhere, in that order of precedence; "--plan", "--dump" and "--shot" act at their first
// occurrence and take the one or two arguments after them as they stand, even when those look like
// switches. "--plan" without a project is passed over. Never fails.
Choice decide(const QStringList& arguments);

// What is wrong with the arguments the window was started with, once Qt has taken its own (the
// program's path not among them): none when there are none left, as the window takes no arguments.
// The text names the first argument that is not understood and lists the modes.
std::optional<QString> argumentProblem(const QStringList& leftover);

// What is wrong with the arguments a text mode was started with (the program's path first): none when
// every argument is a mode's switch or what that switch reads after it ("--script" after "--tools",
// the project and context of "--plan", the argument of "--dump" and "--shot"); otherwise the text
// naming the first that is neither, with the modes.
std::optional<QString> unusedArgument(const QStringList& arguments, const Choice& choice);

// The arguments without the options Qt's application objects take for themselves (and their values),
// as far as those can be known before one exists.
QStringList withoutQtOptions(const QStringList& arguments);

// Has a Ctrl+C in the terminal (SIGINT) and the session's end (SIGTERM) call `handler`, which may
// only do what is safe in a signal handler; a call the signal interrupts is restarted.
void onStopSignals(void (*handler)(int));

// How a mode ends before the process does: its output flushed, every child a worker still waits on
// ended (a hung tool first asked, then forced), and every queued worker done. Returns the exit status,
// `status`; a worker still not done after Platform::Pools::wayOutLimit ends the process with it there.
int finish(QTextStream& out, int status = 0);

// Flushes standard output and error and puts the null device in their place, for a process about to end
// while a thread of it is held in the kernel: such a process lingers, and a reader of its output would
// wait for it as long as it keeps the pipes.
void letGoOfStreams();

// The process's entry: decides from the raw arguments before any Qt application object can strip
// some, runs the chosen mode and returns the exit status. Nothing of a mode outlives this call: its
// output is flushed and every child it started has ended.
int run(int argc, char** argv);

} // namespace Startup
