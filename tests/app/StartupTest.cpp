#include "app/Startup.h"

#include "support/TestSupport.h"

#include <QProcess>

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

TEST(StartupDecision, TheProgramsOwnPathIsSearchedLikeEveryOtherArgument)
{
    // The program's own path is an argument like the others.
    EXPECT_EQ(Startup::decide({"--dump"}), dump());
    EXPECT_EQ(Startup::decide({}), only(Mode::Application));
}

namespace {

struct Ran {
    int exitCode = -1;
    QString out;
    QString err;
};

Ran runVoskel(const QStringList& arguments)
{
    QProcess process;
    process.setProgram(QStringLiteral(VOSKEL_BINARY));
    process.setArguments(arguments);
    process.start();
    Ran ran;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "voskel did not finish";
        return ran;
    }
    ran.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

} // namespace

TEST(StartupProgram, ModesThatAreNotBuiltSaySoInOneLineAndFail)
{
    for (const QStringList& arguments : {QStringList{"--selftest"}, QStringList{"--shot", "pictures"},
                                         QStringList{}, QStringList{"--plan"}}) {
        const Ran ran = runVoskel(arguments);
        EXPECT_NE(ran.exitCode, 0) << arguments.join(' ').toStdString();
        EXPECT_TRUE(ran.out.isEmpty());
        EXPECT_TRUE(ran.err.endsWith(" is not built yet.\n")) << ran.err.toStdString();
        EXPECT_EQ(ran.err.count('\n'), 1);
    }
}

TEST(StartupProgram, TheToolsDumpPrintsItsScriptsAndEndsWithStatusZero)
{
    const Ran ran = runVoskel({"--script", "--tools"});
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
