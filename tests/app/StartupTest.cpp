#include "app/Startup.h"

#include "app/RunProgram.h"
#include "engine/Docker.h"
#include "platform/Pools.h"
#include "platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <unistd.h>

using Startup::Choice;
using Mode = Startup::Choice::Mode;

namespace {

Choice plan(const QString& project, std::optional<QString> context = std::nullopt)
{
    Choice choice;
    choice.mode = Mode::Plan;
    choice.project = project;
    choice.context = std::move(context);
    return choice;
}

Choice dump(std::optional<QString> context = std::nullopt)
{
    Choice choice;
    choice.mode = Mode::Dump;
    choice.context = std::move(context);
    return choice;
}

Choice only(Mode mode)
{
    Choice choice;
    choice.mode = mode;
    return choice;
}

Choice tools(bool withScripts)
{
    Choice choice = only(Mode::Tools);
    choice.withScripts = withScripts;
    return choice;
}

Choice shot(const QString& directory)
{
    Choice choice = only(Mode::Shot);
    choice.directory = directory;
    return choice;
}

} // namespace

namespace Startup {
void PrintTo(const Choice& choice, std::ostream* os)
{
    *os << "mode " << int(choice.mode) << " scripts " << choice.withScripts << " project \""
        << choice.project.toStdString() << "\" context "
        << (choice.context ? '"' + choice.context->toStdString() + '"' : "none") << " directory \""
        << choice.directory.toStdString() << '"';
}
} // namespace Startup

namespace {

struct Row {
    QStringList arguments; // after the program's path
    Choice choice;
};

} // namespace

TEST(StartupDecision, PicksTheModeByTheOrderOfTheSwitchesNotByTheirPlaces)
{
    const Row rows[] = {
        {{}, only(Mode::Application)},
        {{"--verbose", "dump"}, only(Mode::Application)},
        // The self test wins wherever it stands; "--tools" comes next, wherever it stands.
        {{"--tools", "--selftest"}, only(Mode::SelfTest)},
        {{"--dump", "all", "--tools"}, tools(false)},
        {{"--script", "--tools"}, tools(true)},
        {{"--tools", "--dump", "--script"}, tools(true)},
        {{"--plan", "shop", "--tools"}, tools(false)},
        // The plan takes the one or two arguments after it as they stand.
        {{"--plan", "shop"}, plan("shop")},
        {{"--plan", "shop", "colima"}, plan("shop", "colima")},
        {{"--plan", "shop", "--dump"}, plan("shop", "--dump")},
        {{"--plan", "--dump"}, plan("--dump")},
        {{"--dump", "x", "--plan", "shop", "ctx", "extra"}, plan("shop", "ctx")},
        // A plan without a project is passed over.
        {{"--dump", "ctx", "--plan"}, dump("ctx")},
        {{"--dump", "--plan"}, dump("--plan")},
        {{"--plan"}, only(Mode::Application)},
        {{"--shot", "--plan"}, shot("--plan")},
        {{"--dump"}, dump()},
        {{"--dump", "all"}, only(Mode::DumpAll)},
        {{"--dump", "ALL"}, dump("ALL")},
        {{"--dump", "apple-container"}, dump("apple-container")},
        {{"--dump", "", "all"}, dump("")},
        // The first "--dump" and the argument after it decide.
        {{"--dump", "colima", "--dump", "all"}, dump("colima")},
        {{"--dump", "--dump", "all"}, dump("--dump")},
        {{"--shot"}, shot("shots")},
        {{"--shot", "/tmp/pictures"}, shot("/tmp/pictures")},
        {{"--shot", "a", "--dump"}, dump()},
        // Whole arguments only, case-sensitive.
        {{"--dump=all"}, only(Mode::Application)},
        {{"--Dump"}, only(Mode::Application)},
        {{"--tool"}, only(Mode::Application)},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Startup::decide(QStringList{"/usr/bin/voskel"} + row.arguments), row.choice)
            << row.arguments.join(' ').toStdString();
}

// Another mode's switch is not a mistake: the order of the modes decides which one runs. Only an
// argument no switch reads is refused.
TEST(StartupDecision, AModeRefusesOnlyArgumentsNoSwitchReads)
{
    const QStringList understood[] = {
        {"--tools", "--selftest"},    {"--dump", "all", "--tools", "--script"},
        {"--plan", "shop", "--dump"}, {"--dump", "colima", "--dump", "all"},
        {"--dump", "ctx", "--plan"},  {"--shot", "a", "--dump"},
    };
    for (const QStringList& arguments : understood) {
        const QStringList line = QStringList{"/usr/bin/voskel"} + arguments;
        EXPECT_EQ(Startup::unusedArgument(line, Startup::decide(line)), std::nullopt)
            << arguments.join(' ').toStdString();
    }
    const QStringList refused = {"/usr/bin/voskel", "--selftest", "--script"};
    EXPECT_NE(Startup::unusedArgument(refused, Startup::decide(refused)), std::nullopt);
}

TEST(StartupDecision, TheProgramsOwnPathIsSearchedLikeEveryOtherArgument)
{
    // The program's own path is an argument like the others.
    EXPECT_EQ(Startup::decide({"--dump"}), dump());
    EXPECT_EQ(Startup::decide({}), only(Mode::Application));
}

TEST(StartupProgram, WithoutADisplayTheWindowSaysWhatToRunInstead)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VOSKEL_BINARY), {});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(err.contains("--dump all")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1);

    // A display that is named but does not answer (a stale DISPLAY) is the same news, not a crash.
    int unused = 900;
    while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(unused)))
        ++unused;
    QTemporaryDir runtime;
    environment.insert("DISPLAY", QString(":%1").arg(unused));
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VOSKEL_BINARY), {});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const QStringList lines =
        QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.last(),
              "voskel: the display does not answer, so there is no window to open. Without one, "
              "`voskel --dump all` prints what every runtime reports.");
}

namespace {

struct Named {
    QStringList arguments;
    QString firstLine;
};

// Starts the program once per row: each ends with status 2 and nothing on standard output, its first
// line naming the argument and the next listing the modes.
void expectNamedWithStatusTwo(const QProcessEnvironment& environment, const QString& folder,
                              const QList<Named>& rows)
{
    for (const Named& row : rows) {
        const std::string shown = row.arguments.join(' ').toStdString();
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(folder);
        process.start(QStringLiteral(VOSKEL_BINARY), row.arguments);
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "voskel went on running for " << shown;
            continue;
        }
        EXPECT_EQ(process.exitCode(), 2) << shown;
        EXPECT_EQ(process.readAllStandardOutput(), QByteArray()) << shown;
        const QStringList err = QString::fromUtf8(process.readAllStandardError()).split('\n');
        EXPECT_EQ(err.first(), row.firstLine);
        EXPECT_TRUE(err.value(1).contains("--plan <project> [context]")) << err.value(1).toStdString();
    }
}

} // namespace

// The window takes no arguments: what is left once Qt took its own is a mistake, named at once with
// status 2 before any window, lock or store exists (a window would otherwise open instead of the
// mode the user meant).
TEST(StartupProgram, AnArgumentTheWindowCannotUseIsNamedWithStatusTwo)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path());
    expectNamedWithStatusTwo(
        environment, home.path(),
        {
            {{"--bogus"}, R"(voskel: "--bogus" is not an argument Voskel knows.)"},
            {{"--plan"}, "voskel: --plan needs the name of a compose project."},
            {{"--dump=all"}, R"(voskel: "--dump=all" is not an argument Voskel knows.)"},
            {{"--script"}, R"(voskel: "--script" is not an argument Voskel knows.)"},
            // Qt's own arguments are Qt's; what follows them is still looked at.
            {{"-platform", "offscreen", "dump"}, R"(voskel: "dump" is not an argument Voskel knows.)"},
        });
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files), QStringList());
}

// An argument no mode takes is named with status 2 before anything runs, whether or not there is a
// display: the window's own check comes first, and a text mode takes only what it was made for.
TEST(StartupProgram, AnArgumentTheModeDoesNotTakeIsNamedWithStatusTwoWithoutADisplay)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(name);
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.path());
    expectNamedWithStatusTwo(
        environment, home.path(),
        {
            {{"--bogus"}, R"(voskel: "--bogus" is not an argument Voskel knows.)"},
            {{"-platform", "offscreen", "--bogus"}, R"(voskel: "--bogus" is not an argument Voskel knows.)"},
            {{"--selftest", "--bogus"}, R"(voskel: --selftest does not take "--bogus".)"},
            {{"--tools", "--selftest", "x"}, R"(voskel: --selftest does not take "x".)"},
            {{"--tools", "--script", "x"}, R"(voskel: --tools does not take "x".)"},
            {{"--plan", "shop", "ctx", "extra"}, R"(voskel: --plan does not take "extra".)"},
            {{"x", "--dump"}, R"(voskel: --dump does not take "x".)"},
            {{"--dump", "all", "now"}, R"(voskel: --dump does not take "now".)"},
            {{"--shot", "pictures", "--bogus"}, R"(voskel: --shot does not take "--bogus".)"},
            // Named as the dumps name values: nothing in it reaches the terminal as a control.
            {{"--selftest", "\x1B[2J\u200Bx"}, R"(voskel: --selftest does not take "\x1B[2J\u200Bx".)"},
        });
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList());
}

// A copy of the program without its keeper beside it runs no command, so a mode that would run one says
// only that, on standard error and with status 1, before anything else: no figures of an engine it did
// not ask, no tool "not installed", no window. The self test runs no command and goes on without it.
namespace {

// The build's program on its own in a folder beside it, with such of the programs it looks for beside
// itself as `with` names, run with a home of its own.
class ProgramBeside {
public:
    explicit ProgramBeside(const QStringList& with)
        : m_beside(QFileInfo(QStringLiteral(VOSKEL_BINARY)).absolutePath() + "/beside-XXXXXX")
    {
        // Beside the build's programs, so a hard link can stand for a copy.
        for (const QString& name : QStringList{"voskel"} + with) {
            const QString built = QFileInfo(QStringLiteral(VOSKEL_BINARY)).absolutePath() + u'/' + name;
            if (::link(QFile::encodeName(built).constData(), QFile::encodeName(path(name)).constData()) != 0)
                QFile::copy(built, path(name));
        }
        m_environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_environment.insert("HOME", m_home.path());
        m_environment.insert("XDG_CONFIG_HOME", m_home.path());
        m_environment.insert("XDG_RUNTIME_DIR", m_home.path());
    }

    QString path(const QString& name) const { return m_beside.filePath(name); }

    AppTest::Ran run(const QStringList& arguments) const
    {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.setWorkingDirectory(m_home.path());
        process.setProgram(path("voskel"));
        process.setArguments(arguments);
        return AppTest::runToItsEnd(process, 60000);
    }

private:
    QTemporaryDir m_beside;
    QTemporaryDir m_home;
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
};

} // namespace

TEST(StartupProgram, WithoutItsKeeperAModeThatRunsCommandsSaysOnlyThat)
{
    const ProgramBeside program({"voskel-look"});
    const auto run = [&](const QStringList& arguments) { return program.run(arguments); };
    const QString keeper = program.path("voskel-keeper");
    const QString tail = " Voskel runs every command under it, so it runs none without it.\n";
    const QString notFound =
        QString("voskel: Voskel's keeper \u201c%1\u201d was not found.").arg(keeper) + tail;
    for (const QStringList& arguments : QList<QStringList>{
             {}, {"--tools"}, {"--dump", "all"}, {"--dump"}, {"--dump", "nowhere"}, {"--plan", "shop"}}) {
        const AppTest::Ran ran = run(arguments);
        const std::string shown = arguments.join(' ').toStdString();
        EXPECT_EQ(ran.exitCode, 1) << shown;
        EXPECT_EQ(ran.out, QString()) << shown;
        EXPECT_EQ(ran.err, notFound) << shown;
    }

    QFile file(keeper);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const AppTest::Ran unrunnable = run({"--dump", "all"});
    EXPECT_EQ(unrunnable.exitCode, 1);
    EXPECT_EQ(
        unrunnable.err,
        QString("voskel: Voskel's keeper \u201c%1\u201d cannot be run: permission denied.").arg(keeper) +
            tail);

    const AppTest::Ran selftest = run({"--selftest"});
    EXPECT_EQ(selftest.exitCode, 0) << selftest.err.toStdString();
    EXPECT_EQ(selftest.out, "selftest ok\n");
}

// Without its look server a mode that looks at folders says only that, rather than take every folder
// for one that does not answer; the tools dump, which looks at none, runs.
TEST(StartupProgram, WithoutItsLookServerAModeThatLooksAtFoldersSaysOnlyThat)
{
    const ProgramBeside program({"voskel-keeper"});
    const QString server = program.path("voskel-look");
    const QString notFound =
        QString("voskel: Voskel's look server \u201c%1\u201d was not found. Voskel looks at "
                "no folder of yours itself, so it looks at none without it.\n")
            .arg(server);
    for (const QStringList& arguments : QList<QStringList>{{},
                                                           {"--dump", "all"},
                                                           {"--dump"},
                                                           {"--plan", "shop"},
                                                           {"--selftest"},
                                                           {"--shot", program.path("shots")}}) {
        const AppTest::Ran ran = program.run(arguments);
        const std::string shown = arguments.join(' ').toStdString();
        EXPECT_EQ(ran.exitCode, 1) << shown;
        EXPECT_EQ(ran.out, QString()) << shown;
        EXPECT_EQ(ran.err, notFound) << shown;
    }
    const AppTest::Ran tools = program.run({"--tools"});
    EXPECT_EQ(tools.exitCode, 0) << tools.err.toStdString();
}

TEST(StartupProgram, TheToolsDumpPrintsItsScriptsAndEndsWithStatusZero)
{
    const AppTest::Ran ran = AppTest::runVoskel({"--script", "--tools"});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    const QStringList lines = ran.out.split('\n');
    ASSERT_GT(lines.size(), 8);
    EXPECT_TRUE(lines.first().startsWith("brew: "));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(lines.at(i).startsWith("  ")) << lines.at(i).toStdString();
    EXPECT_TRUE(lines.at(6).startsWith("services: "));
    EXPECT_TRUE(lines.at(7).startsWith("login item: "));
    EXPECT_TRUE(lines.at(7).endsWith("  bundle " VOSKEL_BINARY));
    EXPECT_TRUE(ran.out.contains("--- install ---\nbrew install container socktainer || exit $?\n"));
    EXPECT_TRUE(ran.out.endsWith("--- restart ---\ncontainer system stop\n"
                                 "container system start --enable-kernel-install || exit $?\n"
                                 "if brew list --formula socktainer >/dev/null 2>&1; then\n"
                                 "    brew services restart socktainer\nfi\n"));
}

TEST(StartupFinish, EndsAChildAWorkerStillWaitsOnAndFlushesTheOutput)
{
    TestSupport::FakeTools fakes({"docker"});
    TestSupport::ScopedEnv hang("VOSKEL_FAKE_MODE", "hang");
    Platform::Pools::utility()->start([] { Platform::runToEnd(Docker::process({"stats"})); });
    QDeadlineTimer started(10000);
    while (Platform::trackedChildCount() == 0 && !started.hasExpired())
        QThread::msleep(10);
    ASSERT_EQ(Platform::trackedChildCount(), 1);

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QTextStream out(&buffer);
    out << "last line\n";
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(Startup::finish(out), 0);
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_EQ(Platform::trackedChildCount(), 0);
    EXPECT_EQ(buffer.data(), "last line\n");
}
