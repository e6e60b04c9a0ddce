#include "diagnostics/shot/ShotFixtures.h"
#include "diagnostics/shot/ShotPanes.h"
#include "platform/Settings.h"
#include "store/AppStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace {

using TestSupport::ScopedEnv;

bool write(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Every file and folder under `dir`, relative to it, sorted.
QStringList tree(const QString& dir)
{
    QStringList entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(dir).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

struct LeftCase {
    const char* name;
    std::function<void(const QString& projects)> before;    // what the home holds before the run
    std::function<void(const QString& projects)> meanwhile; // what happens while the run goes on
    QStringList left;                                       // what is under the home afterwards
};

// Named in test output by its name rather than its bytes.
void PrintTo(const LeftCase& c, std::ostream* os)
{
    *os << c.name;
}

class FixtureFolders : public testing::TestWithParam<LeftCase> {};

} // namespace

TEST_P(FixtureFolders, OnlyWhatTheRunMadeAndNobodyTouchedIsTakenAway)
{
    const LeftCase& c = GetParam();
    QTemporaryDir home;
    ScopedEnv env("HOME", home.path().toUtf8());
    const QString projects = home.filePath(QStringLiteral("Projects"));
    ASSERT_EQ(ShotFixtures::root(), projects);
    if (c.before)
        c.before(projects);
    const ShotFixtures::CreatedPaths created = ShotFixtures::makeFixtureDirs();
    if (c.meanwhile)
        c.meanwhile(projects);
    ShotFixtures::removeFixtureDirs(created);
    EXPECT_EQ(tree(home.path()), c.left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixtureFolders,
    testing::Values(
        LeftCase{"NothingThere", {}, {}, {}},
        LeftCase{"AnEmptyProjectsFolder", [](const QString& p) { QDir().mkpath(p); }, {}, {"Projects"}},
        LeftCase{"AProjectFolderOfTheUser",
                 [](const QString& p) {
                     QDir().mkpath(p + "/atlas-analytics");
                     write(p + "/atlas-analytics/notes.md", "mine");
                 },
                 {},
                 {"Projects", "Projects/atlas-analytics", "Projects/atlas-analytics/notes.md"}},
        LeftCase{"AStubEditedToOtherBytesOfTheSameSize",
                 {},
                 [](const QString& p) { write(p + "/storefront/docker-compose.yml", "services: []\n"); },
                 {"Projects", "Projects/storefront", "Projects/storefront/docker-compose.yml"}},
        LeftCase{
            "AStubThatGrew",
            {},
            [](const QString& p) { write(p + "/nightly-reports/docker-compose.yml", "services: {}\n\n"); },
            {"Projects", "Projects/nightly-reports", "Projects/nightly-reports/docker-compose.yml"}},
        LeftCase{"AFileAddedToTheFolderWithoutCompose",
                 {},
                 [](const QString& p) { write(p + "/docs-site/index.md", "# docs"); },
                 {"Projects", "Projects/docs-site", "Projects/docs-site/index.md"}},
        LeftCase{"AFolderAddedInsideAProject",
                 {},
                 [](const QString& p) { QDir().mkpath(p + "/media-library/data"); },
                 {"Projects", "Projects/media-library", "Projects/media-library/data"}},
        LeftCase{"AHomeThatCannotHoldFolders",
                 [](const QString& p) { write(p, "a file where the folder would go"); },
                 {},
                 {"Projects"}}),
    [](const testing::TestParamInfo<LeftCase>& info) { return std::string(info.param.name); });

TEST(FixtureFolders, TheRunMakesTheRootFirstAndAStubInEveryFolderButTheLast)
{
    QTemporaryDir home;
    ScopedEnv env("HOME", home.path().toUtf8());
    const QString root = home.filePath(QStringLiteral("Projects"));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/atlas-analytics")));
    const ShotFixtures::CreatedPaths created = ShotFixtures::makeFixtureDirs();
    // The root was there already, and so was one project: neither is the run's.
    EXPECT_EQ(created.folders, (QStringList{root + "/storefront", root + "/media-library",
                                            root + "/nightly-reports", root + "/docs-site"}));
    EXPECT_EQ(created.composeFiles, (QStringList{root + "/storefront/docker-compose.yml",
                                                 root + "/media-library/docker-compose.yml",
                                                 root + "/nightly-reports/docker-compose.yml"}));
    QFile stub(created.composeFiles.first());
    ASSERT_TRUE(stub.open(QIODevice::ReadOnly));
    EXPECT_EQ(stub.readAll(), QByteArray("services: {}\n"));
    EXPECT_TRUE(QDir(root + "/atlas-analytics").isEmpty());
    ShotFixtures::removeFixtureDirs(created);
}

TEST(FixtureStore, ShowsEveryKindOfProjectWithTheFiguresTheParsersMakeOfTheOutput)
{
    QTemporaryDir home;
    ScopedEnv env("HOME", home.path().toUtf8());
    const ShotFixtures::CreatedPaths created = ShotFixtures::makeFixtureDirs();
    const std::unique_ptr<Platform::Settings> settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    ShotFixtures::fill(store);

    // The remembered project is filed under the shown runtime, so it lists beside the others.
    EXPECT_EQ(TestSupport::names(store.projects()),
              (QStringList{"atlas-analytics", "docs-site", "legacy-invoicing", "media-library",
                           "nightly-reports", "storefront"}));
    EXPECT_TRUE(store.registry().knows(QStringLiteral("nightly-reports"), QStringLiteral("apple-container")));

    // Processor shares follow from ten seconds of counters; unsampled containers have none.
    const LiveStats& stats = *store.stats();
    EXPECT_DOUBLE_EQ(stats.cpu.value("storefront-web-1"), 4.0);
    EXPECT_DOUBLE_EQ(stats.cpu.value("storefront-api-1"), 52.0);
    EXPECT_EQ(stats.memory.value("storefront-api-1"), 416509952);
    for (const char* unsampled :
         {"atlas-analytics-worker-1", "legacy-invoicing-php-1", "media-library-db-1"}) {
        EXPECT_FALSE(stats.cpu.contains(unsampled)) << unsampled;
        EXPECT_FALSE(stats.memory.contains(unsampled)) << unsampled;
    }

    // Running containers get addresses in list order; the paused one gets none.
    EXPECT_EQ(store.addresses(), (QMap<QString, QString>{{"storefront-web-1", "192.168.64.2"},
                                                         {"storefront-api-1", "192.168.64.3"},
                                                         {"atlas-analytics-db-1", "192.168.64.4"},
                                                         {"docs-site-web-1", "192.168.64.5"},
                                                         {"media-library-cache-1", "192.168.64.6"},
                                                         {"portainer", "192.168.64.7"}}));
    const std::optional<QString> address = store.address(store.containers().at(0));
    EXPECT_EQ(address, QStringLiteral("192.168.64.2"));

    // The picture of the reclaim sheet ticks three candidates; the image built here needs its source.
    const QList<Reclaimable>& candidates = store.usage()->candidates;
    const QSet<QString> chosen = ShotPanes::reclaimChoice(candidates);
    EXPECT_EQ(chosen.size(), 3);
    const auto built = std::find_if(candidates.cbegin(), candidates.cend(),
                                    [](const Reclaimable& r) { return r.name == "storefront-api:dev"; });
    ASSERT_NE(built, candidates.cend());
    EXPECT_EQ(built->recovery, Reclaimable::Recovery::NeedsSource);
    EXPECT_EQ(built->project, QStringLiteral("storefront"));
    EXPECT_EQ(store.usage()->mounts.value("storefront-api-1"),
              (QStringList{"storefront_pgdata", "storefront_uploads"}));

    ShotFixtures::removeFixtureDirs(created);
}

TEST(FixtureStore, ContainerIdsAreTwelveDigitsAtMostAndTheSameOnEveryRead)
{
    const QList<Container> first = ShotFixtures::containers();
    const QList<Container> second = ShotFixtures::containers();
    QSet<QString> ids;
    for (qsizetype i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first.at(i).id, second.at(i).id);
        EXPECT_LE(first.at(i).id.size(), 12);
        bool digits = false;
        first.at(i).id.toULongLong(&digits);
        EXPECT_TRUE(digits) << first.at(i).id.toStdString();
        ids.insert(first.at(i).id);
    }
    EXPECT_EQ(ids.size(), first.size());
}
