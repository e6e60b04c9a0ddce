#include "engine/FolderUsers.h"

#include "support/TestSupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>

using TestSupport::docker;
using TestSupport::uniqueName;

// What the engine itself prints of a volume bound with "rbind": its device and its mount point. A
// volume removed since it was listed says "no such volume" in its own words, and the others are still
// answered; only an engine that fails otherwise leaves the answer unknown.
TEST(FolderUsersOnEngine, VolumesAreReadAsTheEnginePrintsThemAndOneGoneMeanwhileIsNoFailure)
{
    VOSKEL_REQUIRE_ENGINE();
    QTemporaryDir dir;
    const QString bound = uniqueName("rbind");
    const QString gone = uniqueName("gone");
    const auto cleanUp = qScopeGuard([&] { docker({"volume", "rm", "-f", bound, gone}); });
    ASSERT_EQ(docker({"volume", "create", "--opt", "type=none", "--opt", "o=rbind", "--opt",
                      "device=" + dir.path(), bound})
                  .status,
              0);

    const std::optional<QMap<QString, QStringList>> folders =
        Docker::volumeFolders({bound, gone}, std::nullopt, std::chrono::seconds(30), nullptr);
    ASSERT_TRUE(folders);
    ASSERT_TRUE(folders->contains(bound));
    EXPECT_EQ(folders->value(bound).first(), dir.path());
    EXPECT_TRUE(folders->value(bound).last().endsWith("/" + bound + "/_data"));
    EXPECT_FALSE(folders->contains(gone));

    // And the engine says who it is, the same however it is reached.
    const std::optional<Docker::EngineInfo> info =
        Docker::engineInfo(std::nullopt, std::chrono::seconds(30), nullptr);
    ASSERT_TRUE(info);
    EXPECT_FALSE(info->id.isEmpty());
    EXPECT_TRUE(info->rootDir.startsWith('/'));
}
