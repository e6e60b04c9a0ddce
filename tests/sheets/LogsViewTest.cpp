#include "sheets/LogsView.h"

#include "app/design/VoskButton.h"
#include "app/design/VoskLabel.h"
#include "app/parts/Alert.h"
#include "engine/Compose.h"
#include "sheets/BoundedText.h"

#include "support/RecordingHost.h"
#include "support/TestSupport.h"
#include "support/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLayout>
#include <QTemporaryDir>
#include <QTimer>

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

// The command line as the user would type it: the program env runs, then its arguments.
QStringList commandOf(const LogsView& view)
{
    return view.streamedProcess().arguments;
}

QStringList items(const QComboBox* box)
{
    QStringList texts;
    for (int i = 0; box && i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

struct Opened {
    explicit Opened(const LogSource& source, bool apple = false,
                    const std::optional<Runtime>& runtime = std::nullopt)
        : view((TestSupport::prepareWidgets(), source), runtime, apple)
    {
        view.show();
    }
    template <typename T>
    T* find(const char* name) const
    {
        return view.findChild<T*>(QString::fromLatin1(name));
    }
    LogsView view;
};

} // namespace

TEST(LogsView, AContainerOnADockerEngineFollowsTheLastLinesWithSinceAndLines)
{
    FakeTools fakes({QStringLiteral("docker")});
    fakes.answer("docker", {"--context", "lab", "logs", "-f", "--tail", "300", "c0ffee"}, "line 1\nline 2\n");
    Opened opened(LogSource::container(box()), false, Runtime::context(QStringLiteral("lab")));
    EXPECT_EQ(commandOf(opened.view),
              (QStringList{"docker", "--context", "lab", "logs", "-f", "--tail", "300", "c0ffee"}));
    ASSERT_TRUE(eventually([&] { return opened.view.text() == "line 1\nline 2\n"; }))
        << opened.view.text().toStdString();
    EXPECT_FALSE(opened.find<QCheckBox>("bootToggle"));
    EXPECT_EQ(items(opened.find<QComboBox>("sincePicker")),
              (QStringList{"Any time", "Last 5 minutes", "Last hour", "Last day"}));
    EXPECT_EQ(items(opened.find<QComboBox>("linesPicker")),
              (QStringList{"Last 300", "Last 1,000", "Last 10,000", "Everything"}));

    // "Everything" starts again without any tail; "Last hour" adds the since flag.
    opened.find<QComboBox>("linesPicker")->setCurrentIndex(3);
    EXPECT_EQ(commandOf(opened.view), (QStringList{"docker", "--context", "lab", "logs", "-f", "c0ffee"}));
    EXPECT_TRUE(opened.view.text().isEmpty() || !opened.view.text().contains("line 1\nline 2"))
        << "the old stream's text is gone";
    opened.find<QComboBox>("sincePicker")->setCurrentIndex(2);
    EXPECT_EQ(commandOf(opened.view),
              (QStringList{"docker", "--context", "lab", "logs", "-f", "--since", "1h", "c0ffee"}));
}

TEST(LogsView, AnAppleContainerOffersItsBootLog)
{
    FakeTools fakes({QStringLiteral("docker"), QStringLiteral("container")});
    fakes.answer("docker", {"logs", "-f", "--tail", "300", "c0ffee"}, "app output\n");
    fakes.answer("container", {"logs", "--boot", "-f", "-n", "300", "web-1"}, "kernel: booted\n");
    Opened opened(LogSource::container(box()), true);
    ASSERT_TRUE(eventually([&] { return opened.view.text() == "app output\n"; }));
    EXPECT_FALSE(opened.find<QComboBox>("sincePicker"));
    ASSERT_TRUE(opened.find<QComboBox>("linesPicker"));
    auto* boot = opened.find<QCheckBox>("bootToggle");
    ASSERT_TRUE(boot);

    boot->setChecked(true);
    EXPECT_EQ(commandOf(opened.view),
              (QStringList{"container", "logs", "--boot", "-f", "-n", "300", "web-1"}));
    EXPECT_EQ(opened.find<VoskLabel>("kindLabel")->plainText(), "BOOT LOG");
    ASSERT_TRUE(eventually([&] { return opened.view.text() == "kernel: booted\n"; }))
        << opened.view.text().toStdString();
}

TEST(LogsView, TheSystemLogLooksBackFiveMinutesUnlessAskedOtherwise)
{
    FakeTools fakes({QStringLiteral("container")});
    Opened opened(LogSource::system());
    EXPECT_EQ(commandOf(opened.view), (QStringList{"container", "system", "logs", "--last", "5m"}));
    EXPECT_EQ(items(opened.find<QComboBox>("sincePicker")),
              (QStringList{"Last 5 minutes", "Last hour", "Last day"}));
    EXPECT_FALSE(opened.find<QComboBox>("linesPicker"));
    EXPECT_FALSE(opened.find<QCheckBox>("bootToggle"));
    opened.find<QComboBox>("sincePicker")->setCurrentIndex(1);
    EXPECT_EQ(commandOf(opened.view), (QStringList{"container", "system", "logs", "--last", "1h"}));
}

TEST(LogsView, InspectOutputHasNoOptionsAndIsNeverCut)
{
    FakeTools fakes({QStringLiteral("docker")});
    const QString json = u'[' + QString(BoundedText::limit + 100, u' ') + u']';
    fakes.answer("docker", {"inspect", "c0ffee"}, json);
    Opened opened(LogSource::inspect(box()));
    EXPECT_FALSE(opened.find<QComboBox>("sincePicker"));
    EXPECT_FALSE(opened.find<QComboBox>("linesPicker"));
    EXPECT_FALSE(opened.find<QCheckBox>("bootToggle"));
    ASSERT_TRUE(eventually([&] { return opened.view.text().endsWith(u']'); }, 10000));
    EXPECT_EQ(opened.view.text(), json);
}

TEST(LogsView, CopyAndSaveWaitForTheFirstChunk)
{
    FakeTools fakes({QStringLiteral("docker")});
    TestSupport::RecordingHost host;
    fakes.answer("docker", {"logs", "-f", "--tail", "300", "c0ffee"}, "hello\n");
    Opened opened(LogSource::container(box()));
    auto* copy = opened.find<VoskButton>("copyButton");
    auto* save = opened.find<VoskButton>("saveButton");
    if (opened.view.text().isEmpty()) {
        EXPECT_FALSE(copy->isEnabled());
        EXPECT_FALSE(save->isEnabled());
    }
    ASSERT_TRUE(eventually([&] { return !opened.view.text().isEmpty(); }));
    EXPECT_TRUE(copy->isEnabled());
    EXPECT_TRUE(save->isEnabled());
    copy->click();
    EXPECT_EQ(host.clipboard, "hello\n");
}

// A project's logs come from its containers' labels, so its folder may be gone; compose is never asked
// for those of a name it does not take, since it would show another project's.
TEST(LogsView, AProjectsLogsNeedNoFolderAndANameComposeDoesNotTakeRunsNothing)
{
    FakeTools fakes({QStringLiteral("docker")});
    fakes.answer("docker", {"compose", "-p", "shop", "logs", "-f", "--tail", "300"}, "web-1  | up\n");
    TestSupport::RecordingHost host;
    ComposeProject project;
    project.name = QStringLiteral("shop");
    project.workingDir = QStringLiteral("/nonexistent/shop");
    {
        Opened opened(LogSource::project(project));
        ASSERT_TRUE(eventually([&] { return opened.view.text() == "web-1  | up\n"; }))
            << opened.view.text().toStdString();
        EXPECT_EQ(opened.view.streamedProcess().workingDirectory, "/");
    }
    project.name.clear();
    Opened opened(LogSource::project(project));
    EXPECT_EQ(opened.view.text(), Docker::composeRefusalMessage(QString()) + "\n");
    EXPECT_TRUE(opened.find<VoskButton>("copyButton")->isEnabled());
    EXPECT_EQ(fakes.calls().size(), 1);
}

TEST(LogsView, SaveWritesTheTextAndAFailureShowsAnAlert)
{
    FakeTools fakes({QStringLiteral("docker")});
    TestSupport::RecordingHost host;
    const QByteArray bytes = "caf\xc3\xa9 \xe2\x80\x94 done\n";
    fakes.answerBytes("docker", {"image", "inspect", "repo/sub:1.0"}, bytes, {}, 0);
    const DockerImage image{QStringLiteral("sha256:1"), QStringLiteral("repo/sub"), QStringLiteral("1.0"),
                            QStringLiteral("1MB"), std::nullopt};
    Opened opened(LogSource::inspectImage(image));
    ASSERT_TRUE(eventually([&] { return opened.view.text().endsWith(QStringLiteral("done\n")); }));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("saved.json"));
    host.answerSaveFile(path);
    opened.find<VoskButton>("saveButton")->click();
    EXPECT_EQ(host.saveSuggestions, (QStringList{"repo-sub-1.0.json"}));
    ASSERT_TRUE(eventually([&] { return QFile::exists(path); }));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), bytes);

    // A folder on a mount that stalls holds the write, never the window: the sheet goes on answering,
    // and the text is there once the folder answers.
    ASSERT_TRUE(QDir(dir.path()).mkdir("stalled"));
    const QString stalled = dir.filePath("stalled");
    TestSupport::HeldLooks looks(stalled, std::chrono::milliseconds(20000));
    host.answerSaveFile(stalled + "/held.json");
    QElapsedTimer clock;
    clock.start();
    opened.find<VoskButton>("saveButton")->click();
    bool ticked = false;
    QTimer::singleShot(0, &opened.view, [&] { ticked = true; });
    ASSERT_TRUE(eventually([&] { return ticked; }, 2000));
    EXPECT_LT(clock.elapsed(), 2000) << "the window waited for the folder";
    EXPECT_FALSE(QFile::exists(stalled + "/held.json"));
    looks.release();
    ASSERT_TRUE(eventually([&] { return QFile::exists(stalled + "/held.json"); }));

    host.answerSaveFile(QStringLiteral("/nonexistent/folder/saved.json"));
    opened.find<VoskButton>("saveButton")->click();
    ASSERT_TRUE(eventually([&] { return opened.find<Alert>("alert") != nullptr; }));
    EXPECT_TRUE(opened.find<Alert>("alert")->isVisible());
    EXPECT_TRUE(opened.view.isVisible());
    EXPECT_EQ(opened.view.text().toUtf8(), bytes);
}

TEST(LogsView, AProjectsNameGetsTheHeaderBeforeThePickers)
{
    FakeTools fakes({QStringLiteral("docker")});
    ComposeProject project;
    project.name = QStringLiteral("orders-frontend");
    Opened opened(LogSource::project(project));
    opened.view.layout()->activate();
    auto* title = opened.find<VoskLabel>("titleLabel");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->fit(title->width()).text, project.name);
    // The pickers show their chosen entries whole, and the kind follows the name.
    for (const char* name : {"sincePicker", "linesPicker"}) {
        auto* picker = opened.find<QComboBox>(name);
        EXPECT_GE(picker->width(), picker->sizeHint().width()) << name;
    }
    auto* kind = opened.find<VoskLabel>("kindLabel");
    EXPECT_EQ(kind->x() - title->geometry().right() - 1, 10);
}
