#include "sheets/RunImageView.h"

#include "app/design/FocusRing.h"
#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "sheets/SheetHost.h"
#include "sheets/SheetTesting.h"
#include "store/StoreFixture.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>

namespace {

using namespace StoreTesting;
using namespace SheetTesting;

DockerImage image(const QString& repository, const QString& tag, const std::optional<Runtime>& runtime)
{
    return {"sha256:0123456789ab", repository, tag, "4.2MB", runtime};
}

class RunSheet : public ScriptedStore {
protected:
    void SetUp() override
    {
        host = window();
        storeOn({entry(alpha), entry(beta)}, alpha);
    }

    void TearDown() override
    {
        host.reset();
        ScriptedStore::TearDown();
    }

    std::unique_ptr<QWidget> host;
};

TEST_F(RunSheet, RunHandsTheFormToTheClientOnTheImagesRuntimeAndClosesAtOnce)
{
    struct Case {
        const char* what;
        DockerImage img;
        QString name, ports, env, command;
        QStringList args;
        QString runtime;
    };
    // Every field's splitting and trimming is the engine's own and is tried on the real engine; here,
    // which image and which runtime.
    const QList<Case> cases{
        {"its own runtime, not the shown one",
         image("web", "1", beta),
         "",
         "",
         "",
         "",
         {"run", "-d", "web:1"},
         "beta"},
        {"no runtime of its own: the shown one",
         image("web", "1", std::nullopt),
         " box ",
         "",
         "",
         "",
         {"run", "-d", "--name", "box", "web:1"},
         "alpha"},
        {"untagged: by id",
         image("<none>", "<none>", alpha),
         "",
         "8080:80",
         "",
         "",
         {"run", "-d", "-p", "8080:80", "sha256:0123456789ab"},
         "alpha"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto gate = engine->hold(ScriptedEngine::Call::Run, Runtime::context(c.runtime));
        const qsizetype before = engine->commands().size();
        QPointer<RunImageView> sheet = SheetHost::open(host.get(), new RunImageView(*store, c.img));
        part<QLineEdit>(sheet, "nameField")->setText(c.name);
        part<QLineEdit>(sheet, "portsField")->setText(c.ports);
        part<QPlainTextEdit>(sheet, "envEditor")->setPlainText(c.env);
        part<QLineEdit>(sheet, "commandField")->setText(c.command);
        QTest::keyClick(part<QLineEdit>(sheet, "commandField"), Qt::Key_Return);
        // Gone before the command has even reached the engine.
        EXPECT_TRUE(eventually([&] { return !sheet; }));
        ASSERT_TRUE(gate->waitArrived());
        gate->open();
        ASSERT_TRUE(eventually([&] { return !store->busy(); }));
        const QList<ScriptedEngine::Command> commands = engine->commands().mid(before);
        ASSERT_EQ(commands.size(), 1);
        EXPECT_EQ(commands[0].args, c.args);
        EXPECT_EQ(commands[0].runtime, c.runtime);
        EXPECT_EQ(commands[0].cwd, std::nullopt);
    }
}

TEST_F(RunSheet, ReturnInTheEnvironmentStartsALineAndTheTitleShowsTheImageAsListed)
{
    QPointer<RunImageView> sheet =
        SheetHost::open(host.get(), new RunImageView(*store, image("<none>", "<none>", alpha)));
    EXPECT_EQ(part<VoskLabel>(sheet, "titleLabel")->plainText(), "Run <none>:<none>");
    auto* env = part<QPlainTextEdit>(sheet, "envEditor");
    env->setFocus();
    QTest::keyClicks(env, "A=1");
    QTest::keyClick(env, Qt::Key_Return);
    QTest::keyClicks(env, "B=2");
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->arguments(),
              QStringList({"run", "-d", "-e", "A=1", "-e", "B=2", "sha256:0123456789ab"}));
    part(sheet, "cancelButton")->click();
    EXPECT_TRUE(eventually([&] { return !sheet; }));
    EXPECT_TRUE(engine->commands().isEmpty());
}

// Return held down on the menu item that opened the sheet goes on arriving as the sheet's: its repeats
// run nothing, and only a Return pressed anew runs the image.
TEST_F(RunSheet, AHeldReturnRunsNothing)
{
    QPointer<RunImageView> sheet =
        SheetHost::open(host.get(), new RunImageView(*store, image("web", "1", alpha)));
    auto* name = part<QLineEdit>(sheet, "nameField");
    ASSERT_EQ(sheet->focusWidget(), name);
    for (const int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        QKeyEvent held(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(name, &held);
        // As X11 repeats a held key, a release and a press of one moment, when Qt did not mark them.
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier);
        up.setTimestamp(4137193);
        QApplication::sendEvent(name, &up);
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        down.setTimestamp(4137193);
        QApplication::sendEvent(name, &down);
    }
    QCoreApplication::processEvents();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(engine->commands().isEmpty());

    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier);
    up.setTimestamp(4137193);
    QApplication::sendEvent(name, &up);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    down.setTimestamp(4137420);
    QApplication::sendEvent(name, &down);
    EXPECT_TRUE(eventually([&] { return !sheet; }));
    EXPECT_TRUE(eventually([&] { return engine->commands().size() == 1; }));
}

// The sheet opens on its first field, which wears the ring before any key is pressed; Tab goes through
// the form as it reads, the environment between the ports and the command, and the environment's box
// wears the ring while its editor has the focus.
TEST_F(RunSheet, TabFollowsTheFormAndTheFieldWithTheFocusWearsTheRing)
{
    QPointer<RunImageView> sheet =
        SheetHost::open(host.get(), new RunImageView(*store, image("web", "1", alpha)));
    auto* name = part<QLineEdit>(sheet, "nameField");
    EXPECT_EQ(sheet->focusWidget(), name); // the first empty field, as Tab visits them
    auto* env = part<QPlainTextEdit>(sheet, "envEditor");
    const auto ringed = [&](QWidget* widget) {
        const QImage picture = widget->grab().toImage();
        const QColor ring = FocusRing::color();
        for (int x = 0; x < 3; ++x) {
            const QColor seen = picture.pixelColor(x, picture.height() / 2);
            if (std::abs(seen.red() - ring.red()) <= 12 && std::abs(seen.green() - ring.green()) <= 12 &&
                std::abs(seen.blue() - ring.blue()) <= 12)
                return true;
        }
        return false;
    };
    QApplication::setActiveWindow(sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    ASSERT_TRUE(name->hasFocus());
    EXPECT_TRUE(ringed(name));
    EXPECT_FALSE(ringed(env->parentWidget()));
    EXPECT_EQ(TestSupport::tabStops(*sheet, 2, name).join(' '), "portsField envEditor");
    EXPECT_TRUE(ringed(env->parentWidget()));
    EXPECT_FALSE(ringed(name));
    EXPECT_EQ(TestSupport::tabStops(*sheet, 4, env).join(' '),
              "commandField runButton cancelButton nameField");
    EXPECT_FALSE(ringed(env->parentWidget()));
    part(sheet, "cancelButton")->click();
}

TEST_F(RunSheet, RendersInBothLooks)
{
    const QStringList files =
        TestSupport::renderToGallery("run-image-sheet", [&]() -> std::unique_ptr<QWidget> {
            auto view = std::make_unique<RunImageView>(
                *store, image("ghcr.io/example/web-frontend", "2024.06", alpha));
            view->findChild<QLineEdit*>("portsField")->setText("8080:80 8443:443");
            view->findChild<QPlainTextEdit*>("envEditor")->setPlainText("MODE=demo\nLOG_LEVEL=debug");
            // Shown once, so the editor settles its scroll bar as it would on screen.
            view->show();
            QCoreApplication::processEvents();
            return view;
        });
    EXPECT_EQ(files.size(), 2);
}

} // namespace
