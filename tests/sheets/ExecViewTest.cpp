#include "sheets/ExecView.h"

#include "app/design/VoskButton.h"
#include "sheets/BoundedText.h"

#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QLineEdit>
#include <QTest>

using TestSupport::eventually;
using TestSupport::FakeTools;

namespace {

Container box()
{
    Container container;
    container.id = QStringLiteral("c0ffee");
    container.name = QStringLiteral("web-1");
    container.state = QStringLiteral("running");
    return container;
}

// What the sheet runs for `command`: its error sent down the output's pipe first.
QStringList execOf(const QString& command)
{
    return {"exec", "c0ffee", "sh", "-c", "exec 2>&1\n" + command};
}

// Types `command` and presses Return, as a user does, and waits for the sheet to be idle again.
bool typeAndRun(ExecView& view, const QString& command)
{
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("commandField"));
    field->setText(command);
    QTest::keyClick(field, Qt::Key_Return);
    return eventually([&] { return !view.running(); }, 10000);
}

} // namespace

TEST(ExecView, EachCommandAddsItsLineItsOutputAndAFailingStatus)
{
    TestSupport::prepareWidgets();
    FakeTools fakes({QStringLiteral("docker")});
    fakes.answer("docker", execOf("printf word"), "word");
    fakes.answer("docker", execOf("echo line"), "line\n");
    fakes.answer("docker", execOf("true"), "");
    fakes.answer("docker", execOf("false"), "", {}, 1);
    fakes.answer("docker", execOf("echo oops; exit 2"), "oops\n", {}, 2);
    ExecView view(box(), std::nullopt);
    view.show();

    ASSERT_TRUE(typeAndRun(view, QStringLiteral("  printf word\t")));
    ASSERT_TRUE(typeAndRun(view, QStringLiteral("echo line")));
    ASSERT_TRUE(typeAndRun(view, QStringLiteral("true")));
    ASSERT_TRUE(typeAndRun(view, QStringLiteral("false")));
    ASSERT_TRUE(typeAndRun(view, QStringLiteral("echo oops; exit 2")));
    EXPECT_EQ(view.output(), "$ printf word\nword\n"
                             "$ echo line\nline\n"
                             "$ true\n"
                             "$ false\n[exit 1]\n"
                             "$ echo oops; exit 2\noops\n[exit 2]\n");
    EXPECT_TRUE(view.findChild<QLineEdit*>(QStringLiteral("commandField"))->text().isEmpty());
}

TEST(ExecView, BlanksAloneEnableRunButRunNothing)
{
    TestSupport::prepareWidgets();
    FakeTools fakes({QStringLiteral("docker")});
    ExecView view(box(), std::nullopt);
    view.show();
    auto* field = view.findChild<QLineEdit*>(QStringLiteral("commandField"));
    auto* run = view.findChild<VoskButton*>(QStringLiteral("runButton"));
    EXPECT_FALSE(run->isEnabled());
    field->setText(QStringLiteral("   "));
    EXPECT_TRUE(run->isEnabled());
    run->click();
    EXPECT_FALSE(view.running());
    EXPECT_TRUE(view.output().isEmpty());
    EXPECT_EQ(field->text(), "   ");
    EXPECT_TRUE(fakes.calls().isEmpty());
}

TEST(ExecView, OutputIsDecodedLossilyAndEachCommandsOutputIsBounded)
{
    TestSupport::prepareWidgets();
    FakeTools fakes({QStringLiteral("docker")});
    fakes.answerBytes("docker", execOf("cat bad"), "caf\xc3\xa9 \xff end\n", {}, 0);
    QByteArray chatty(BoundedText::limit + 1, 'x');
    chatty.back() = 'z';
    fakes.answerBytes("docker", execOf("cat big"), chatty, {}, 0);
    ExecView view(box(), std::nullopt);
    view.show();

    ASSERT_TRUE(typeAndRun(view, QStringLiteral("cat bad")));
    EXPECT_EQ(view.output(), QStringLiteral(u"$ cat bad\ncaf\u00e9 \uFFFD end\n"))
        << "one bad byte costs one character";

    ASSERT_TRUE(typeAndRun(view, QStringLiteral("cat big")));
    const QString expected = QStringLiteral(u"$ cat bad\ncaf\u00e9 \uFFFD end\n$ cat big\n") +
                             QString(BoundedText::keep - 1, u'x') + QStringLiteral("z\n");
    EXPECT_EQ(view.output(), expected)
        << "the command's last characters are kept, the transcript before them too";
}
