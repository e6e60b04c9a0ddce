#include "sheets/ExecView.h"
#include "sheets/LogsView.h"

#include "app/design/VoskButton.h"
#include "app/parts/Alert.h"

#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using TestSupport::docker;
using TestSupport::eventually;

namespace {

// A container of the test image running `script`, removed again at the end of the test.
struct Running {
    explicit Running(const QString& script) : name(TestSupport::uniqueName(QStringLiteral("sheet")))
    {
        const auto run = docker(
            {"run", "-d", "--network", "none", "--name", name, TestSupport::testImage(), "sh", "-c", script});
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        container.id = run.out.trimmed();
        container.name = name;
        container.state = QStringLiteral("running");
        container.status = QStringLiteral("Up 1 second");
    }
    ~Running() { docker({"rm", "-f", name}); }

    QString name;
    Container container;
};

// The numbered lines of a log, without a line still being written; they must run on one by one, so a
// line from a replaced stream shows as a break in the count.
bool consecutiveFrom(const QString& text, int first, int* last = nullptr)
{
    QStringList lines = text.split(u'\n');
    lines.removeLast();
    int expected = first;
    for (const QString& line : lines) {
        if (line != QStringLiteral("line %1").arg(expected))
            return false;
        ++expected;
    }
    if (last)
        *last = expected - 1;
    return !lines.isEmpty();
}

// A compose file in `folder` with one service, talk, running `script` in the test image on no network;
// `more` goes under the service as it is.
void writeCompose(const QString& folder, const QString& script, const QString& more = QString())
{
    QFile compose(folder + QStringLiteral("/compose.yaml"));
    ASSERT_TRUE(compose.open(QIODevice::WriteOnly));
    compose.write(QStringLiteral("services:\n"
                                 "  talk:\n"
                                 "    image: %1\n"
                                 "    command: [\"sh\", \"-c\", \"%2\"]\n%3")
                      .arg(TestSupport::testImage(), script, TestSupport::noNetwork)
                      .toUtf8() +
                  more.toUtf8());
}

bool runCommand(ExecView& view, const QString& command)
{
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("commandField"));
    field->setText(command);
    QTest::keyClick(field, Qt::Key_Return);
    return eventually([&] { return !view.running(); }, 20000);
}

} // namespace

TEST(ExecSheetOnEngine, RunsCommandsInTheContainerAndLetsALateOneFinish)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    Running box(QStringLiteral("sleep 1000"));
    auto view = std::make_unique<ExecView>(box.container, std::nullopt);
    view->show();

    ASSERT_TRUE(runCommand(*view, QStringLiteral("echo hi; exit 2")));
    EXPECT_EQ(view->output(), "$ echo hi; exit 2\nhi\n[exit 2]\n");

    // Closed while its command runs: the command still runs to its end.
    auto* field = view->findChild<QLineEdit*>(QStringLiteral("commandField"));
    field->setText(QStringLiteral("sleep 1; echo finished > /tmp/mark"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(view->running());
    view->findChild<VoskButton*>(QStringLiteral("closeButton"))->click();
    EXPECT_FALSE(view->isVisible());
    view.reset();
    EXPECT_TRUE(eventually(
        [&] {
            return docker({"exec", box.name, "cat", "/tmp/mark"}).out == "finished\n";
        },
        15000));
}

// What a command writes to its output and its error shows in the order it wrote it, however the
// engine carries the two; a command whose syntax the shell refuses says so in its place too.
TEST(ExecSheetOnEngine, OutputAndErrorShowInTheOrderWritten)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    Running box(QStringLiteral("sleep 1000"));
    ExecView view(box.container, std::nullopt);
    view.show();

    const QString interleaved = QStringLiteral("echo one; echo two >&2; echo three");
    ASSERT_TRUE(runCommand(view, interleaved));
    const QString many =
        QStringLiteral("for i in 1 2 3 4 5 6; do echo out$i; echo err$i >&2; done; cat /missing; echo end");
    ASSERT_TRUE(runCommand(view, many));
    EXPECT_EQ(view.output(), "$ " + interleaved +
                                 "\none\ntwo\nthree\n"
                                 "$ " +
                                 many +
                                 "\nout1\nerr1\nout2\nerr2\nout3\nerr3\nout4\nerr4\nout5\nerr5\n"
                                 "out6\nerr6\ncat: can't open '/missing': No such file or directory\nend\n");

    // The command runs as typed, with what the shell gives it.
    ASSERT_TRUE(runCommand(view, QStringLiteral("echo \"$0\"; echo a >&2; echo b")));
    EXPECT_TRUE(view.output().endsWith("sh\na\nb\n")) << view.output().toStdString();
}

TEST(LogsSheetOnEngine, FollowsTheTailStartsOverAndSavesWhatItShows)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    TestSupport::RecordingHost host;
    // 400 lines at once; then, once the test says so, one more line every 0.3 s.
    Running box(QStringLiteral("i=1; while [ $i -le 400 ]; do echo line $i; i=$((i+1)); done; "
                               "while [ ! -e /tmp/go ]; do sleep 0.1; done; "
                               "while :; do echo line $i; i=$((i+1)); sleep 0.3; done"));
    ASSERT_TRUE(eventually([&] { return docker({"logs", box.name}).out.contains("line 400\n"); }));

    LogsView view(LogSource::container(box.container), std::nullopt, false);
    view.show();
    ASSERT_TRUE(eventually([&] { return view.text().contains("line 400\n"); }));
    EXPECT_TRUE(view.text().startsWith("line 101\n")) << view.text().left(40).toStdString();
    EXPECT_TRUE(consecutiveFrom(view.text(), 101));
    // Followed: what the container writes later shows up.
    ASSERT_EQ(docker({"exec", box.name, "touch", "/tmp/go"}).status, 0);
    EXPECT_TRUE(eventually([&] { return view.text().contains("line 402\n"); }));

    // "Everything" starts over from the first line, with nothing of the old stream in between.
    view.findChild<QComboBox*>(QStringLiteral("linesPicker"))->setCurrentIndex(3);
    int last = 0;
    ASSERT_TRUE(eventually([&] { return consecutiveFrom(view.text(), 1, &last) && last > 402; }))
        << view.text().left(80).toStdString();

    view.findChild<QComboBox*>(QStringLiteral("sincePicker"))->setCurrentIndex(2);
    EXPECT_TRUE(view.streamedProcess().arguments.contains(QStringLiteral("--since")));
    EXPECT_EQ(view.streamedProcess().arguments.mid(view.streamedProcess().arguments.indexOf("--since"), 2),
              (QStringList{"--since", "1h"}));
    ASSERT_TRUE(eventually([&] { return consecutiveFrom(view.text(), 1, &last) && last > 400; }));

    // Saved: exactly the text shown when the user confirmed.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("web.log"));
    host.answerSaveFile(path);
    view.findChild<VoskButton*>(QStringLiteral("saveButton"))->click();
    const QString shown = view.text();
    EXPECT_EQ(host.saveSuggestions, (QStringList{box.name + QStringLiteral(".log")}));
    ASSERT_TRUE(eventually([&] { return QFile::exists(path); }));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), shown);

    host.answerSaveFile(QStringLiteral("/nonexistent/folder/web.log"));
    view.findChild<VoskButton*>(QStringLiteral("saveButton"))->click();
    EXPECT_TRUE(eventually([&] { return view.findChild<Alert*>(QStringLiteral("alert")) != nullptr; }));
    EXPECT_TRUE(view.isVisible());
}

TEST(LogsSheetOnEngine, AProjectStartedUnderAnotherNameShowsItsOwnServices)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    QTemporaryDir parent;
    // The folder's name is the project name compose would take by itself.
    const QString folderName = TestSupport::uniqueName(QStringLiteral("logsfolder")).toLower();
    ASSERT_TRUE(QDir(parent.path()).mkdir(folderName));
    const QString folder = parent.filePath(folderName);
    ASSERT_NO_FATAL_FAILURE(writeCompose(folder, QStringLiteral("echo mark-$$MARK; sleep 1000"),
                                         QStringLiteral("    environment: [\"MARK=${MARK}\"]\n")));

    const QString named = TestSupport::uniqueName(QStringLiteral("named")).toLower();
    // Both projects go again whatever becomes of the test.
    const auto cleanUp = qScopeGuard([&] {
        docker({"compose", "-p", named, "down", "-t", "1"}, folder);
        docker({"compose", "down", "-t", "1"}, folder);
    });
    {
        TestSupport::ScopedEnv mark("MARK", QByteArray("alpha"));
        const auto up = docker({"compose", "-p", named, "up", "-d"}, folder);
        ASSERT_EQ(up.status, 0) << up.err.toStdString();
    }
    {
        TestSupport::ScopedEnv mark("MARK", QByteArray("beta"));
        const auto up = docker({"compose", "up", "-d"}, folder);
        ASSERT_EQ(up.status, 0) << up.err.toStdString();
    }

    ComposeProject project;
    project.name = named;
    project.workingDir = folder;
    {
        LogsView view(LogSource::project(project), std::nullopt, false);
        view.show();
        EXPECT_TRUE(eventually([&] { return view.text().contains("mark-alpha"); }))
            << view.text().toStdString();
        eventually([] { return false; }, 1000);
        EXPECT_FALSE(view.text().contains("mark-beta")) << view.text().toStdString();
    }
}

// compose (2.26 and later) starts every log line with an erase-line sequence, even into a pipe and with
// --no-color: the sheet shows and saves the lines without it.
TEST(LogsSheetOnEngine, AComposeLogShowsAndSavesWithoutTerminalSequences)
{
    VOSKEL_REQUIRE_ENGINE();
    TestSupport::prepareWidgets();
    TestSupport::RecordingHost host;
    QTemporaryDir folder;
    ASSERT_NO_FATAL_FAILURE(
        writeCompose(folder.path(), QStringLiteral("echo first; echo second; sleep 1000")));
    const QString name = TestSupport::uniqueName(QStringLiteral("escapes")).toLower();
    const auto cleanUp = qScopeGuard([&] {
        docker({"compose", "-p", name, "down", "-t", "1"}, folder.path());
    });
    const auto up = docker({"compose", "-p", name, "up", "-d"}, folder.path());
    ASSERT_EQ(up.status, 0) << up.err.toStdString();

    ComposeProject project;
    project.name = name;
    project.workingDir = folder.path();
    LogsView view(LogSource::project(project), std::nullopt, false);
    view.show();
    ASSERT_TRUE(eventually([&] { return view.text().contains("second\n"); })) << view.text().toStdString();
    const QString shown = view.text();
    EXPECT_FALSE(shown.contains(QChar(0x1b))) << shown.toStdString();
    EXPECT_TRUE(shown.startsWith("talk-1  | first\ntalk-1  | second\n")) << shown.toStdString();

    const QString path = folder.filePath(QStringLiteral("talk.log"));
    host.answerSaveFile(path);
    view.findChild<VoskButton*>(QStringLiteral("saveButton"))->click();
    ASSERT_TRUE(eventually([&] { return QFile::exists(path); }));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), shown);
}
