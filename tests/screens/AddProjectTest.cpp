#include "screens/AddProjectButton.h"
#include "screens/ProjectChooser.h"

#include "ProjectsTesting.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace ProjectsTesting;
using TestSupport::eventually;
using TestSupport::RecordingHost;

namespace {

const QString prompt = "Add";
const QString message = "Choose a project directory containing a compose file.";

RuntimeEntry named(const char* name, bool reachable = true)
{
    return entry(Runtime::context(name), reachable);
}

class Adding : public ProjectsStore {
protected:
    RecordingHost host;
};

TEST_F(Adding, OffersTheReachableRuntimesWithTheDefaultSelectedAndAnswersWithTheOnePicked)
{
    struct Row {
        const char* what;
        QList<RuntimeEntry> runtimes;
        std::optional<QString> shown;
        std::optional<int> picked; // what the pop-up answers
        QStringList choices;
        int chosen;
        std::optional<QString> runtime;
    };
    const QList<Row> rows = {
        {"the shown runtime is the default",
         {named("a"), named("b"), named("c")},
         "b",
         2,
         {"a", "b", "c"},
         1,
         "c"},
        {"an unreachable one is not offered", {named("a", false), named("b")}, "b", 0, {"b"}, 0, "b"},
        // The shown runtime cannot take it: the first addable one is preselected and used.
        {"the shown runtime does not answer", {named("a"), named("b", false)}, "b", 0, {"a"}, 0, "a"},
        {"an answer outside the pop-up", {named("a")}, "a", 5, {"a"}, 0, std::nullopt},
        {"no runtime at all", {}, std::nullopt, std::nullopt, {}, 0, std::nullopt},
        {"nothing reachable", {named("a", false)}, "a", std::nullopt, {}, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AppStore& s =
            storeOn(row.runtimes, row.shown ? std::optional(Runtime::context(*row.shown)) : std::nullopt);
        host.answerFolder(Host::FolderChoice{"/srv/shop", row.picked});

        const auto chosen = run(chooseProjectToAdd(s, nullptr));

        const Host::FolderRequest& request = host.folderRequests.last();
        EXPECT_EQ(request.prompt, prompt);
        EXPECT_EQ(request.message, message);
        EXPECT_EQ(request.choices, row.choices);
        EXPECT_EQ(request.choicesLabel, row.choices.isEmpty() ? QString() : QString("Run on:"));
        EXPECT_EQ(request.chosen, row.chosen);
        ASSERT_TRUE(chosen);
        EXPECT_EQ(chosen->dir, "/srv/shop");
        EXPECT_EQ(chosen->runtime,
                  row.runtime ? std::optional(Runtime::context(*row.runtime)) : std::optional<Runtime>());
    }
}

TEST_F(Adding, TheButtonAddsTheChosenFolderOnThePickedRuntimeAndSwitchesToIt)
{
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web", "db"}, {}, {}});
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha);
    host.answerFolder(Host::FolderChoice{dir, 1});

    AddProjectButton button(s, VoskButtonStyle::Variant::accent);
    EXPECT_EQ(button.text(), "Add project…");
    EXPECT_EQ(button.buttonStyle().variant, VoskButtonStyle::Variant::accent);
    QTest::mouseClick(&button, Qt::LeftButton);

    ASSERT_TRUE(eventually([&] { return s.registry().knows("shop", QString("beta")); }));
    EXPECT_EQ(s.registry().byRuntime.value("beta").first().workingDir, dir);
    EXPECT_EQ(s.runtime(), beta);
    EXPECT_EQ(s.error(), std::nullopt);
}

TEST_F(Adding, ACancelledChooserChangesNothingAndAMissingRuntimeIsTheStoresMessage)
{
    AppStore& s = makeStore();
    s.setError(QString("left from before"));
    host.answerFolder(std::nullopt);
    AddProjectButton button(s, VoskButtonStyle::Variant::quiet);
    QTest::mouseClick(&button, Qt::LeftButton);
    settle();
    EXPECT_EQ(host.folderRequests.size(), 1);
    EXPECT_EQ(s.error(), std::optional<QString>("left from before"));
    EXPECT_EQ(engine->composeNamesAsked(), QStringList());

    // No reachable runtime: no pop-up, and adding ends in the store's message in the error banner.
    host.answerFolder(Host::FolderChoice{"/srv/shop", std::nullopt});
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return s.error() == "Choose a runtime to add the project to."; }));
    EXPECT_TRUE(host.folderRequests.last().choices.isEmpty());
}

TEST_F(Adding, TheFlowEndsEvenWhenTheButtonGoesWhileTheStoreReadsTheFolder)
{
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "shop");
    engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    AppStore& s = showing();
    const auto gate = engine->hold(ScriptedEngine::Call::ComposeProject);
    host.answerFolder(Host::FolderChoice{dir, 0});

    auto button = std::make_unique<AddProjectButton>(s, VoskButtonStyle::Variant::accent);
    QTest::mouseClick(button.get(), Qt::LeftButton);
    button.reset(); // the empty state that held it is gone
    gate->open();
    ASSERT_TRUE(eventually([&] { return s.registry().knows("shop", QString("alpha")); }));
}

} // namespace
