#include "screens/AddProjectButton.h"
#include "screens/ProjectChooser.h"

#include "ProjectsFixture.h"
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

TEST(ProjectChooser, OffersTheReachableRuntimesWithTheDefaultSelectedAndAnswersWithTheOnePicked)
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
        {"the shown runtime is the default", {entry("a"), entry("b"), entry("c")}, "b", 2, {"a", "b", "c"}, 1, "c"},
        {"an unreachable one is not offered", {entry("a", false), entry("b")}, "b", 0, {"b"}, 0, "b"},
        // The shown runtime cannot take it: the first addable one is preselected and used.
        {"the shown runtime does not answer", {entry("a"), entry("b", false)}, "b", 0, {"a"}, 0, "a"},
        {"an answer outside the pop-up", {entry("a")}, "a", 5, {"a"}, 0, std::nullopt},
        {"no runtime at all", {}, std::nullopt, std::nullopt, {}, 0, std::nullopt},
        {"nothing reachable", {entry("a", false)}, "a", std::nullopt, {}, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Fixture f;
        f.store.setRuntimes(row.runtimes);
        f.store.setRuntime(row.shown ? std::optional(Runtime::context(*row.shown)) : std::nullopt);
        RecordingHost host;
        host.answerFolder(Host::FolderChoice{"/srv/shop", row.picked});

        const auto chosen = QCoro::waitFor(chooseProjectToAdd(f.store, nullptr));

        ASSERT_EQ(host.folderRequests.size(), 1);
        const Host::FolderRequest& request = host.folderRequests.first();
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

TEST(AddProjectButton, AddsTheChosenFolderOnThePickedRuntimeAndSwitchesToIt)
{
    Fixture f;
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "shop");
    f.engine->setComposeProject(dir, ComposeConfig{"shop", {"web", "db"}, {}, {}});
    f.store.setRuntimes({entry("a"), entry("b")});
    f.store.setRuntime(Runtime::context("a"));
    RecordingHost host;
    host.answerFolder(Host::FolderChoice{dir, 1});

    AddProjectButton button(f.store, VoskButtonStyle::Variant::accent);
    EXPECT_EQ(button.text(), "Add project…");
    EXPECT_EQ(button.buttonStyle().variant, VoskButtonStyle::Variant::accent);
    QTest::mouseClick(&button, Qt::LeftButton);

    ASSERT_TRUE(eventually([&] { return f.store.registry().knows("shop", QString("b")); }));
    EXPECT_EQ(f.store.registry().byRuntime.value("b").first().workingDir, dir);
    EXPECT_EQ(f.store.runtime(), Runtime::context("b"));
    EXPECT_EQ(f.store.error(), std::nullopt);
}

TEST(AddProjectButton, ACancelledChooserChangesNothingAndAMissingRuntimeIsTheStoresMessage)
{
    Fixture f;
    f.store.setError(QString("left from before"));
    RecordingHost host;
    host.answerFolder(std::nullopt);
    AddProjectButton button(f.store, VoskButtonStyle::Variant::quiet);
    QTest::mouseClick(&button, Qt::LeftButton);
    settle();
    EXPECT_EQ(host.folderRequests.size(), 1);
    EXPECT_EQ(f.store.error(), std::optional<QString>("left from before"));
    EXPECT_EQ(f.engine->composeNamesAsked(), QStringList());

    // No reachable runtime: no pop-up, and adding ends in the store's message in the error banner.
    host.answerFolder(Host::FolderChoice{"/srv/shop", std::nullopt});
    QTest::mouseClick(&button, Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return f.store.error() == "Choose a runtime to add the project to."; }));
    EXPECT_TRUE(host.folderRequests.last().choices.isEmpty());
}

TEST(AddProjectButton, TheFlowEndsEvenWhenTheButtonGoesWhileTheStoreReadsTheFolder)
{
    Fixture f;
    QTemporaryDir parent;
    const QString dir = projectFolder(parent, "shop");
    f.engine->setComposeProject(dir, ComposeConfig{"shop", {"web"}, {}, {}});
    f.store.setRuntimes({entry("a")});
    f.store.setRuntime(Runtime::context("a"));
    const auto gate = f.engine->hold(StoreTesting::ScriptedEngine::Call::ComposeProject);
    RecordingHost host;
    host.answerFolder(Host::FolderChoice{dir, 0});

    auto button = std::make_unique<AddProjectButton>(f.store, VoskButtonStyle::Variant::accent);
    QTest::mouseClick(button.get(), Qt::LeftButton);
    button.reset(); // the empty state that held it is gone
    gate->open();
    ASSERT_TRUE(eventually([&] { return f.store.registry().knows("shop", QString("a")); }));
}

} // namespace
