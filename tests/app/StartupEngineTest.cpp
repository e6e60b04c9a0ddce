#include "app/RunProgram.h"
#include "diagnostics/EngineScene.h"

using AppTest::runVoskel;

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
