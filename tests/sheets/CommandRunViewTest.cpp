#include "sheets/CommandRunView.h"
#include "sheets/SheetHost.h"

#include "app/design/VoskBadge.h"
#include "app/design/VoskButton.h"
#include "sheets/BoundedText.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QMainWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using TestSupport::eventually;
using TestSupport::shell;

namespace {

struct Finishes {
    QList<std::optional<int>> calls;
    CommandRunView::OnFinish hook()
    {
        return [this](std::optional<int> status) { calls << status; };
    }
};

// A sheet for `script`, shown (which starts it) and left to run.
std::unique_ptr<CommandRunView> shownSheet(const QString& script, Finishes& finishes,
                                           const QString& banner = QStringLiteral("$ work"))
{
    TestSupport::prepareWidgets();
    auto sheet = std::make_unique<CommandRunView>(
        QStringLiteral("Working"), banner, [script] { return shell(script); }, finishes.hook());
    sheet->show();
    return sheet;
}

VoskButton* headerButton(const CommandRunView& sheet)
{
    return sheet.findChild<VoskButton*>(QStringLiteral("closeButton"));
}

QString badge(const CommandRunView& sheet)
{
    const auto* badge = sheet.findChild<VoskBadge*>(QStringLiteral("statusBadge"));
    return badge && badge->isVisible() ? badge->text() : QString();
}

} // namespace

TEST(CommandRunView, StreamsBothOutputsUnderItsBannerAndShowsTheEnd)
{
    Finishes finishes;
    auto sheet =
        shownSheet(QStringLiteral("printf 'out\\n'; sleep 0.05; printf 'err\\n' >&2; exit 4"), finishes);
    EXPECT_EQ(headerButton(*sheet)->text(), "Cancel");
    ASSERT_TRUE(eventually([&] { return sheet->exitStatus().has_value(); }));
    EXPECT_TRUE(eventually([&] { return sheet->text() == "$ work\nout\nerr\n"; }))
        << sheet->text().toStdString();
    EXPECT_EQ(sheet->exitStatus(), 4);
    EXPECT_EQ(badge(*sheet), "failed (4)");
    EXPECT_EQ(headerButton(*sheet)->text(), "Close");

    headerButton(*sheet)->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(finishes.calls, (QList<std::optional<int>>{4}));
}

TEST(CommandRunView, AQuietSuccessShowsTheBannerAndDone)
{
    Finishes finishes;
    auto sheet = shownSheet(QStringLiteral("exit 0"), finishes);
    ASSERT_TRUE(eventually([&] { return sheet->exitStatus().has_value(); }));
    EXPECT_EQ(sheet->text(), "$ work\n");
    EXPECT_EQ(badge(*sheet), "done");
}

TEST(CommandRunView, ALaunchFailureIsReportedAndClosesWithMinusOne)
{
    TestSupport::prepareWidgets();
    Finishes finishes;
    Platform::PreparedProcess missing;
    missing.program = QStringLiteral("/nonexistent/voskel-tool");
    CommandRunView sheet(
        QStringLiteral("Working"), QStringLiteral("$ tool"), [missing] { return missing; }, finishes.hook());
    sheet.show();
    EXPECT_EQ(sheet.exitStatus(), -1);
    EXPECT_TRUE(sheet.text().startsWith(QStringLiteral("$ tool\ncannot run: ")))
        << sheet.text().toStdString();
    EXPECT_TRUE(sheet.text().endsWith(u'\n'));
    EXPECT_EQ(badge(sheet), "failed (-1)");
    EXPECT_EQ(headerButton(sheet)->text(), "Close");
    headerButton(sheet)->click();
    EXPECT_EQ(finishes.calls, (QList<std::optional<int>>{-1}));
}

TEST(CommandRunView, KeepsExactlyTheBoundAndCutsOnePast)
{
    // The banner "b" and its line end are two characters of the transcript.
    for (const int printed : {BoundedText::limit - 2, BoundedText::limit - 1}) {
        Finishes finishes;
        auto sheet = shownSheet(QStringLiteral("yes xxxxxxxxx | head -c %1; printf y").arg(printed - 1),
                                finishes, QStringLiteral("b"));
        ASSERT_TRUE(eventually([&] { return sheet->text().endsWith(u'y'); }));
        QString shown = QStringLiteral("b\n");
        while (shown.size() < printed + 1)
            shown += QStringLiteral("xxxxxxxxx\n");
        shown = shown.first(printed + 1) + u'y';
        if (printed == BoundedText::limit - 2)
            EXPECT_EQ(sheet->text(), shown);
        else
            EXPECT_EQ(sheet->text(), shown.right(BoundedText::keep));
    }
}

TEST(CommandRunView, CancelEndsTheWholeGroupAndTellsTheOpenerOnce)
{
    Finishes finishes;
    auto sheet = shownSheet(QStringLiteral("sleep 100 & echo $!; wait"), finishes);
    ASSERT_TRUE(eventually([&] { return sheet->text().count(u'\n') == 2; }));
    const qint64 sleeper = sheet->text().section(u'\n', 1, 1).toLongLong();
    ASSERT_TRUE(TestSupport::processRuns(sleeper));

    headerButton(*sheet)->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(finishes.calls, (QList<std::optional<int>>{std::nullopt})) << "none: it still ran";
    // Escape or a second press after closing changes nothing.
    sheet->reject();
    headerButton(*sheet)->click();
    EXPECT_EQ(finishes.calls.size(), 1);
    // A background job ignores the interrupt; the termination that follows reaches the whole group.
    EXPECT_TRUE(eventually([&] { return !TestSupport::processRuns(sleeper); }));
}

// What stayed in its group, that is; a daemon it started out of the group on purpose runs on.
TEST(CommandRunView, CloseEndsWhatTheCommandLeftRunningAfterItWasDone)
{
    Finishes finishes;
    QTemporaryDir dir;
    const QString daemonFile = dir.filePath(QStringLiteral("daemon"));
    auto sheet = shownSheet(QStringLiteral("setsid sh -c 'echo $$ > %1; exec sleep 333' >/dev/null 2>&1 & "
                                           "sleep 333 & echo $!; while [ ! -s '%1' ]; do sleep 0.01; done")
                                .arg(daemonFile),
                            finishes);
    ASSERT_TRUE(eventually([&] { return badge(*sheet) == "done"; }));
    ASSERT_TRUE(eventually([&] { return sheet->text().count(u'\n') == 2; }));
    const qint64 sleeper = sheet->text().section(u'\n', 1, 1).toLongLong();
    const qint64 daemon = TestSupport::pidFromFile(daemonFile);
    ASSERT_TRUE(TestSupport::processRuns(sleeper));

    headerButton(*sheet)->click();
    EXPECT_EQ(finishes.calls, (QList<std::optional<int>>{0}));
    EXPECT_TRUE(eventually([&] { return !TestSupport::processRuns(sleeper); }));
    EXPECT_TRUE(eventually([&] { return sheet->group().gone(); }));
    EXPECT_TRUE(TestSupport::processRuns(daemon));
    ::kill(pid_t(daemon), SIGKILL);
}

TEST(CommandRunView, EscapeTakesTheCancelPath)
{
    Finishes finishes;
    auto sheet = shownSheet(QStringLiteral("sleep 100"), finishes);
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(finishes.calls.size(), 1);
}

TEST(CommandRunView, DroppedByItsOpenerItEndsTheCommandSilently)
{
    Finishes finishes;
    auto sheet = shownSheet(QStringLiteral("sleep 100 & echo $!; wait"), finishes);
    ASSERT_TRUE(eventually([&] { return sheet->text().count(u'\n') == 2; }));
    const qint64 sleeper = sheet->text().section(u'\n', 1, 1).toLongLong();
    sheet.reset();
    EXPECT_TRUE(eventually([&] { return !TestSupport::processRuns(sleeper); }));
    EXPECT_TRUE(finishes.calls.isEmpty());
}

TEST(SheetHost, OpensOverTheWindowSoTheAskingWidgetCanVanish)
{
    TestSupport::prepareWidgets();
    QMainWindow window;
    auto* card = new QWidget(&window);
    window.setCentralWidget(card);
    window.show();

    Finishes finishes;
    auto* sheet =
        SheetHost::open(card, new CommandRunView(
                                  QStringLiteral("Working"), QStringLiteral("$ sleep"),
                                  [] { return shell(QStringLiteral("sleep 100")); }, finishes.hook()));
    QPointer<CommandRunView> guard(sheet);
    EXPECT_EQ(sheet->parentWidget(), &window);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(sheet->isVisible());

    delete card; // the next refresh replaced the card
    EXPECT_TRUE(guard);
    EXPECT_FALSE(sheet->exitStatus().has_value()) << "its command still runs";

    headerButton(*sheet)->click();
    EXPECT_TRUE(eventually([&] { return guard.isNull(); })) << "a closed sheet is deleted";
}
