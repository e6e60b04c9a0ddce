#include "app/RunProgram.h"
#include "diagnostics/EngineScene.h"
#include "platform/Settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

// The run script's main job on a machine without a display.
TEST(StartupProgramOnEngine, DumpsEveryRuntimeAndLeavesNoSettingsBehind)
{
    VOSKEL_REQUIRE_ENGINE();
    const DiagnosticsTest::EngineScene scene;
    QTemporaryDir config;
    const TestSupport::ScopedEnv configHome("XDG_CONFIG_HOME", config.path().toUtf8());

    const AppTest::Ran ran = AppTest::runVoskel({"--dump", "all"});
    EXPECT_EQ(ran.exitCode, 0) << ran.err.toStdString();
    EXPECT_TRUE(ran.err.isEmpty()) << ran.err.toStdString();
    const auto has = [&](const QString& pattern) {
        return QRegularExpression("(^|\n)" + pattern + "\n").match(ran.out).hasMatch();
    };
    const QString on = "  on \\S+";
    EXPECT_TRUE(has(R"(containers: \d+  running: \d+)")) << ran.out.toStdString();
    EXPECT_TRUE(has("  project " + scene.project + on + "  1/2\n    - " + scene.web() + "  \\[running\\]" +
                    on + "\n    - " + scene.worker() + "  \\[exited\\]" + on));
    EXPECT_TRUE(has("  \\(no project\\) " + scene.failed + "  \\[exited\\]" + on));
    EXPECT_TRUE(has("  could remove container " + scene.failed + on));
    EXPECT_TRUE(has(R"(in use: (\d+%|<1%) of the processor  .+ (bytes?|KB|MB))"));
    EXPECT_FALSE(QFile::exists(Platform::Settings::suiteFile("voskel.dump")));
}
