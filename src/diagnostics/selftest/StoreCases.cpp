#include "diagnostics/selftest/Cases.h"

#include "app/design/Appearance.h"
#include "app/design/Theme.h"
#include "app/design/Vosk.h"
#include "diagnostics/selftest/Check.h"
#include "diagnostics/selftest/Fixtures.h"
#include "engine/Runtime.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "toolchain/Tool.h"
#include "toolchain/ToolchainStore.h"

#include <QColor>

namespace SelfTest {

namespace {

// The page colour under a look, as six upper-case hexadecimal digits. "auto" draws like light: the
// desktop's own preference has no say in a fixed check.
QString pageHex(Appearance appearance)
{
    Theme& theme = Theme::instance();
    const Appearance before = theme.appearance();
    theme.setAppearance(appearance == Appearance::dark ? Appearance::dark : Appearance::light);
    const QColor page = QColor(Vosk::page).toRgb();
    theme.setAppearance(before);
    const auto byte = [](float component) { return int(component * 255 + 0.5f); };
    return QString::asprintf("%02X%02X%02X", byte(page.redF()), byte(page.greenF()), byte(page.blueF()));
}

Tool catalogueTool(const QString& formula)
{
    for (const Tool& tool : Toolchain::all())
        if (tool.formula == formula)
            return tool;
    fail(QStringLiteral("the catalogue has ") + describe(formula));
}

Tool managed(const QString& formula, const QString& installed, const QString& latest)
{
    Tool tool = catalogueTool(formula);
    tool.installed = installed;
    tool.latest = latest;
    tool.brewManaged = true;
    return tool;
}

} // namespace

void testAppearance()
{
    const CaseScope scope(QStringLiteral("testAppearance"));
    checkEqual(pageHex(Appearance::light), QStringLiteral("F5F1E9"), QStringLiteral("the light page colour"));
    checkEqual(pageHex(Appearance::dark), QStringLiteral("0A1B3D"), QStringLiteral("the dark page colour"));

    Theme& theme = Theme::instance();
    theme.setAppearance(Appearance::dark);
    checkEqual(theme.appearance(), Appearance::dark,
               QStringLiteral("the application takes the dark appearance"));
    checkEqual(lookName(theme.look()), QStringLiteral("DarkAqua"),
               QStringLiteral("the dark appearance's name"));
    theme.setAppearance(Appearance::automatic);
    checkEqual(theme.appearance(), Appearance::automatic,
               QStringLiteral("the application follows the desktop again"));
}

void testUpdateNotice()
{
    const CaseScope scope(QStringLiteral("testUpdateNotice"));
    onEmptySuite(QStringLiteral("voskel.selftest"), [](Platform::Settings& suite) {
        const Tool container =
            managed(QStringLiteral("container"), QStringLiteral("1.4.1"), QStringLiteral("1.5.0"));
        Tool socktainer =
            managed(QStringLiteral("socktainer"), QStringLiteral("1.2.1"), QStringLiteral("1.2.1"));
        {
            ToolchainStore store(suite);
            store.setTools({container, socktainer});
            checkEqual(textsOf(store.updatable(), &Tool::formula), QStringList{QStringLiteral("container")},
                       QStringLiteral("only the older tool can be updated"));
            checkEqual(store.noticeText(), QStringLiteral("Apple container 1.5.0 is available"),
                       QStringLiteral("the notice of one update"));

            socktainer.latest = QStringLiteral("1.3.0");
            store.setTools({container, socktainer});
            checkEqual(store.noticeText(), QStringLiteral("2 runtime updates are available"),
                       QStringLiteral("the notice of two updates"));

            store.dismissNotice();
            check(store.pendingUpdates().isEmpty(),
                  QStringLiteral("dismissed updates are no longer pending"));
            store.setTools({container, socktainer});
            check(store.pendingUpdates().isEmpty(), QStringLiteral("the same updates again stay dismissed"));
            store.dismissNotice();
        }
        {
            ToolchainStore store(suite);
            store.setTools({container, socktainer});
            check(store.pendingUpdates().isEmpty(),
                  QStringLiteral("a new store remembers the dismissed updates"));
        }
        {
            ToolchainStore store(suite);
            Tool unmanaged = container;
            unmanaged.latest = QStringLiteral("1.9.0");
            unmanaged.brewManaged = false;
            store.setTools({unmanaged});
            check(store.pendingUpdates().isEmpty(),
                  QStringLiteral("a tool Homebrew does not manage is never updatable"));
        }
    });
}

void testErrorOutlivesRefresh()
{
    const CaseScope scope(QStringLiteral("testErrorOutlivesRefresh"));
    onEmptySuite(QStringLiteral("voskel.selftest"), [](Platform::Settings& suite) {
        AppStore store(suite);
        const QString cannotConnect = QStringLiteral("cannot connect");
        const QString inUse = QStringLiteral("image is being used by a running container");
        const QString noFile = QStringLiteral("no configuration file found");
        const auto error = [&] { return store.error(); };

        store.settle(cannotConnect);
        checkEqual(error(), std::optional<QString>(cannotConnect),
                   QStringLiteral("a failed refresh shows its error"));
        store.settle(std::nullopt);
        checkEqual(error(), std::optional<QString>(), QStringLiteral("a good refresh clears its own error"));

        store.setError(inUse);
        store.settle(std::nullopt);
        checkEqual(error(), std::optional<QString>(inUse),
                   QStringLiteral("an action's error outlives a good refresh"));
        store.settle(std::nullopt);
        checkEqual(error(), std::optional<QString>(inUse),
                   QStringLiteral("an action's error outlives two good refreshes"));

        store.settle(cannotConnect);
        store.setError(noFile);
        store.settle(std::nullopt);
        checkEqual(error(), std::optional<QString>(noFile),
                   QStringLiteral("an action failing after a failed refresh keeps its error"));

        store.dismissError();
        checkEqual(error(), std::optional<QString>(), QStringLiteral("dismissing clears the error"));
        store.settle(std::nullopt);
        checkEqual(error(), std::optional<QString>(), QStringLiteral("a good refresh brings no error back"));
    });
}

void testAppleRuntime()
{
    const CaseScope scope(QStringLiteral("testAppleRuntime"));
    onEmptySuite(QStringLiteral("voskel.selftest.apple"), [](Platform::Settings& suite) {
        AppStore store(suite);
        const Runtime appleContext = Runtime::context(QStringLiteral("apple-container"));
        const Runtime orbstack = Runtime::context(QStringLiteral("orbstack"));
        store.setRuntimes(
            {{appleContext,
              QStringLiteral("unix:///opt/homebrew/var/run/socktainer/.socktainer/container.sock"), true,
              false},
             {orbstack, QStringLiteral("unix:///Users/x/.orbstack/run/docker.sock"), true, false}});
        check(store.isApple(Runtime::socket(QStringLiteral("apple-container"), QStringLiteral("/x"))),
              QStringLiteral("a socket runtime is the Apple runtime"));
        check(store.isApple(appleContext),
              QStringLiteral("a context on the bridge's socket is the Apple runtime"));
        check(!store.isApple(orbstack), QStringLiteral("a context on another engine is not"));
    });
}

} // namespace SelfTest
