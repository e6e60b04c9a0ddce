#include "sheets/RegistryLoginView.h"

#include "app/design/Vosk.h"
#include "app/design/VoskLabel.h"
#include "sheets/SheetHost.h"
#include "sheets/SheetTesting.h"
#include "store/StoreFixture.h"

#include <QLineEdit>
#include <QTest>

namespace {

using namespace StoreTesting;
using namespace SheetTesting;

TEST(RegistryLogin, ReadyNeedsAUserNameBeyondBlanksAndAnyPasswordAndNoLoginUnderWay)
{
    struct Case {
        const char* username;
        const char* password;
        bool working;
        bool ready;
    };
    for (const Case& c : QList<Case>{{"me", "secret", false, true},
                                     {"", "secret", false, false},
                                     {" \t ", "secret", false, false},
                                     {"me", "", false, false},
                                     {"me", "   ", false, true}, // sent as typed
                                     {"  me ", "x", false, true},
                                     {"me", "secret", true, false}}) {
        SCOPED_TRACE(std::string(c.username) + "|" + c.password);
        EXPECT_EQ(RegistryLoginView::ready(c.username, c.password, c.working), c.ready);
    }
}

class LoginSheet : public ScriptedStore {
protected:
    void SetUp() override
    {
        host = window();
        storeOn({entry(alpha)}, alpha);
        sheet = SheetHost::open(host.get(), new RegistryLoginView(*store));
    }

    void TearDown() override
    {
        host.reset();
        ScriptedStore::TearDown();
    }

    void type(const char* field, const QString& text) { part<QLineEdit>(sheet, field)->setText(text); }

    std::unique_ptr<QWidget> host;
    QPointer<RegistryLoginView> sheet;
};

TEST_F(LoginSheet, WhatIsTypedGoesToTheClientAsTypedAndTheFormWaitsMeanwhile)
{
    const QStringList args{"login", "--username", "me", "--password-stdin", "--", "ghcr.io"};
    engine->answer(args, {0, "Login Succeeded\n", "WARNING! Your credentials are stored unencrypted\n"});
    const auto gate = engine->hold(ScriptedEngine::Call::Capture, alpha);
    type("serverField", " ghcr.io ");
    type("usernameField", " me ");
    type("passwordField", "  pass word  ");
    EXPECT_TRUE(part(sheet, "loginButton")->isEnabled());
    QTest::keyClick(part<QLineEdit>(sheet, "passwordField"), Qt::Key_Return);

    ASSERT_TRUE(gate->waitArrived());
    EXPECT_TRUE(sheet->working());
    EXPECT_FALSE(part<QLineEdit>(sheet, "serverField")->isEnabled());
    EXPECT_FALSE(part(sheet, "loginButton")->isEnabled());
    gate->open();
    ASSERT_TRUE(eventually([&] { return !sheet->working(); }));

    ASSERT_EQ(engine->commands().size(), 1);
    EXPECT_EQ(engine->commands()[0].args, args);
    EXPECT_EQ(engine->commands()[0].input, "  pass word  ");
    auto* said = part<VoskLabel>(sheet, "resultLabel");
    EXPECT_EQ(said->plainText(), "Login Succeeded");
    EXPECT_EQ(&said->ink(), &Vosk::success);
    EXPECT_EQ(part<QLineEdit>(sheet, "passwordField")->text(), "");
    EXPECT_EQ(part<QLineEdit>(sheet, "usernameField")->text(), " me ");
    EXPECT_TRUE(sheet->isVisible());
}

TEST_F(LoginSheet, OpensWithTheFocusInItsFirstEmptyField)
{
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    EXPECT_TRUE(part<QLineEdit>(sheet, "serverField")->hasFocus());

    // A field already filled is passed over.
    auto* second = new RegistryLoginView(*store);
    second->findChild<QLineEdit*>("serverField")->setText("ghcr.io");
    SheetHost::open(host.get(), second);
    EXPECT_EQ(second->focusWidget(), second->findChild<QLineEdit*>("usernameField"));
    second->reject();
}

TEST_F(LoginSheet, TheHeaderNamesTheShownRuntimeOnlyWhenThereIsOne)
{
    auto* runtime = part<VoskLabel>(sheet, "runtimeLabel");
    EXPECT_EQ(runtime->plainText(), "ON ALPHA");
    store->setRuntime(std::nullopt);
    EXPECT_FALSE(runtime->isVisibleTo(sheet));
}

TEST_F(LoginSheet, RendersInBothLooks)
{
    engine->answer({"login", "--username", "me", "--password-stdin", "--", "registry.example"},
                   {1, "", "Error response from daemon: Get \"https://registry.example/v2/\": unauthorized"});
    const QStringList files = TestSupport::renderToGallery("login-sheet", [&]() -> std::unique_ptr<QWidget> {
        auto view = std::make_unique<RegistryLoginView>(*store);
        view->findChild<QLineEdit*>("serverField")->setText("registry.example");
        view->findChild<QLineEdit*>("usernameField")->setText("me");
        view->findChild<QLineEdit*>("passwordField")->setText("wrong");
        view->login();
        EXPECT_TRUE(eventually([&] { return view->result().has_value(); }));
        return view;
    });
    EXPECT_EQ(files.size(), 2);
}

} // namespace
