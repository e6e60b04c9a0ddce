#include "app/RunProgram.h"
#include "diagnostics/EngineScene.h"

using AppTest::runVoskel;

TEST(StartupProgramOnEngine, PrintsThePlanOfAProjectAndTouchesNothing)
{
    VOSKEL_REQUIRE_ENGINE();
    const DiagnosticsTest::EngineScene scene;
    const AppTest::Ran ran = runVoskel({"--plan", scene.project});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_EQ(ran.out, scene.expectedPlan());
    EXPECT_EQ(TestSupport::docker({"volume", "inspect", scene.data()}).status, 0);
}

TEST(StartupProgramOnEngine, DumpsTheCurrentRuntimeAndEndsWithStatusZero)
{
    VOSKEL_REQUIRE_ENGINE();
    const DiagnosticsTest::EngineScene scene;
    const AppTest::Ran ran = runVoskel({"--dump"});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.out.contains("\nruntime: (current)  containers: ")) << ran.out.toStdString();
    EXPECT_TRUE(ran.out.contains("\n  project " + scene.project + "  1/2\n    compose config: ok\n"));
    EXPECT_TRUE(ran.out.contains("\n  (no project) " + scene.failed + "  [exited]\n"));
    EXPECT_TRUE(ran.out.contains("\nin use: "));
    EXPECT_TRUE(ran.err.isEmpty()) << ran.err.toStdString();
}

TEST(StartupProgramOnEngine, AContextThatDoesNotExistEndsInOneFailureLineAndStatusZero)
{
    VOSKEL_REQUIRE_ENGINE();
    const QString nowhere = TestSupport::uniqueName("nowhere");
    const AppTest::Ran ran = runVoskel({"--dump", nowhere});
    EXPECT_EQ(ran.exitCode, 0);
    const QStringList lines = ran.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.last().startsWith("dump failed: ")) << ran.out.toStdString();
    EXPECT_FALSE(ran.out.contains("runtime: " + nowhere));
}
