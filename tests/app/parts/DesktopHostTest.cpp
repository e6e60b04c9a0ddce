#include "app/parts/DesktopHost.h"
#include "app/parts/FolderChooser.h"
#include "platform/DiskLook.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <QCoroTask>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace {

QProcessEnvironment environmentWith(const QString& path, const std::optional<QString>& terminal)
{
    QProcessEnvironment env;
    env.insert("PATH", path);
    if (terminal)
        env.insert("TERMINAL", *terminal);
    return env;
}

void makeExecutable(const QString& file)
{
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(DesktopHost, TerminalIsTheOneTheUserNamedElseTheSystemsOwn)
{
    QTemporaryDir bin;
    makeExecutable(bin.filePath("x-terminal-emulator"));
    makeExecutable(bin.filePath("kitty"));

    EXPECT_EQ(DesktopHost::terminalProgram(environmentWith(bin.path(), "kitty")), bin.filePath("kitty"));
    EXPECT_EQ(DesktopHost::terminalProgram(environmentWith(bin.path(), std::nullopt)),
              bin.filePath("x-terminal-emulator"));
    // A $TERMINAL that is not there falls back rather than failing.
    EXPECT_EQ(DesktopHost::terminalProgram(environmentWith(bin.path(), "no-such-term")),
              bin.filePath("x-terminal-emulator"));

    QTemporaryDir empty;
    EXPECT_EQ(DesktopHost::terminalProgram(environmentWith(empty.path(), std::nullopt)), std::nullopt);
    Platform::PreparedProcess command;
    command.environment = environmentWith(empty.path(), std::nullopt);
    const std::optional<QString> error = DesktopHost().openTerminal(command);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("$TERMINAL"));
}

TEST(DesktopHost, TerminalArgumentsKeepEveryWordWhole)
{
    Platform::PreparedProcess command;
    command.program = "/usr/bin/env";
    command.arguments = {"docker", "--context", "my \"ctx\"; rm -rf ~", "exec", "-it", "web", "sh"};
    const QStringList words{"/usr/bin/env", "docker", "--context", "my \"ctx\"; rm -rf ~",
                            "exec",         "-it",    "web",       "sh"};
    // Each terminal with its own switch for "run the rest as it stands": never one that takes a
    // command line and splits it.
    for (const auto& [terminal, runTheRest] :
         {std::pair{"/usr/bin/x-terminal-emulator", "-e"}, std::pair{"/usr/bin/xterm", "-e"},
          std::pair{"konsole", "-e"}, std::pair{"/usr/bin/gnome-terminal", "--"}, std::pair{"kgx", "--"},
          std::pair{"/usr/local/bin/xfce4-terminal", "-x"}, std::pair{"mate-terminal", "-x"},
          std::pair{"terminator", "-x"}})
        EXPECT_EQ(DesktopHost::terminalArguments(terminal, command), QStringList{runTheRest} + words)
            << terminal;
}

// The chooser is Qt's own dialog with a pop-up row added; driving it as a user would shows both the
// folder and the pop-up's choice come back, and that cancelling answers nothing.
TEST(DesktopHost, FolderChooserReturnsTheFolderAndThePopUpChoice)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    QWidget window;
    window.show();

    Host::FolderRequest request;
    request.prompt = "Add";
    request.message = "Choose a project directory containing a compose file.";
    request.startIn = root.path();
    request.choicesLabel = "Run on:";
    request.choices = {"default", "colima"};
    request.chosen = 1;

    // No bus: no desktop chooser, so the host's own opens.
    DesktopHost host{QDBusConnection(QStringLiteral("voskel-no-bus"))};
    std::optional<std::optional<Host::FolderChoice>> answer;
    QTimer::singleShot(0, [&] {
        auto* dialog = window.findChild<FolderChooser*>();
        ASSERT_NE(dialog, nullptr);
        auto* pop = dialog->findChild<QComboBox*>("runtimeChoice");
        ASSERT_NE(pop, nullptr);
        EXPECT_EQ(pop->currentIndex(), 1);
        pop->setCurrentIndex(0);
        dialog->accept();
    });
    answer = QCoro::waitFor(host.chooseFolder(&window, request));
    ASSERT_TRUE(answer->has_value());
    EXPECT_EQ((*answer)->path, root.path());
    EXPECT_EQ((*answer)->choice, 0);

    answer.reset();
    request.choices.clear();
    QTimer::singleShot(0, [&] {
        auto* dialog = window.findChild<FolderChooser*>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->findChild<QComboBox*>("runtimeChoice"), nullptr);
        dialog->reject();
    });
    answer = QCoro::waitFor(host.chooseFolder(&window, request));
    EXPECT_FALSE(answer->has_value());
}

// A folder typed in the chooser that sits on a mount that stalls: Return leaves the window answering
// while the chooser says it is looking; the folders in it are listed once it answers, and the one picked
// is handed back.
TEST(DesktopHost, TheFolderChooserLooksAtTheDiskOffTheWindowsThread)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("stalled/app"));
    const QString stalled = root.filePath("stalled");
    TestSupport::HeldLooks looks(stalled, std::chrono::milliseconds(20000));
    QWidget window;
    window.show();
    Host::FolderRequest request;
    request.prompt = "Add";
    request.startIn = root.path();
    FolderChooser chooser(request, &window);
    chooser.show();
    auto* list = chooser.findChild<QListWidget*>("folderList");
    ASSERT_TRUE(TestSupport::eventually([&] { return list->count() == 1; }));

    auto* path = chooser.findChild<QLineEdit*>("folderPath");
    path->setText(stalled);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(path, Qt::Key_Return);
    bool ticked = false;
    QTimer::singleShot(0, &chooser, [&] { ticked = true; });
    ASSERT_TRUE(TestSupport::eventually([&] { return ticked; }, 2000));
    EXPECT_LT(clock.elapsed(), 2000) << "the window waited for the folder";
    EXPECT_EQ(chooser.status(), "Looking at " + stalled + "\u2026");
    EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(chooser.isVisible());

    looks.release();
    ASSERT_TRUE(TestSupport::eventually([&] { return list->count() == 1; }));
    EXPECT_EQ(chooser.status(), "");
    list->setCurrentRow(0);
    EXPECT_EQ(chooser.chosenPath(), stalled + "/app");
}

// A name New Folder cannot make is told, not passed over; a good one is made where the chooser stands.
TEST(DesktopHost, TheFolderChooserSaysWhyANewFolderNameWillNotDo)
{
    TestSupport::prepareWidgets();
    QTemporaryDir root;
    Host::FolderRequest request;
    request.prompt = "Clone";
    request.startIn = root.path();
    request.canCreateFolders = true;
    FolderChooser chooser(request);
    chooser.show();
    ASSERT_TRUE(TestSupport::eventually([&] { return chooser.status() == "No folders in here."; }));
    auto* name = chooser.findChild<QLineEdit*>("newFolderName");
    for (const QString& bad : {"a/b", ".."}) {
        name->setText(bad);
        QTest::keyClick(name, Qt::Key_Return);
        EXPECT_EQ(chooser.status(),
                  "A folder's name cannot hold \u201C/\u201D or be \u201C.\u201D or \u201C..\u201D.");
    }
    EXPECT_FALSE(QFileInfo::exists(root.filePath("a")));
    name->setText("fresh");
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(TestSupport::eventually([&] { return QFileInfo(root.filePath("fresh")).isDir(); }));
}

} // namespace
