#include "engine/Stats.h"

#include "engine/Docker.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>

#include <cmath>
#include <limits>

using TestSupport::fixture;

namespace {

QDateTime secondsAfterEpoch(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// Fixes the processor count for the life of a test.
class FixedCores {
public:
    explicit FixedCores(double cores) { Docker::setCoresForTesting(cores); }
    ~FixedCores() { Docker::setCoresForTesting(std::nullopt); }
};

} // namespace

TEST(DockerStats, RecordedOutputGivesMemoryAndProcessorPerName)
{
    const LiveStats stats = Docker::parseDockerStats(fixture("engine/stats.ndjson"));
    EXPECT_EQ(stats.cpu, (QMap<QString, double>{{"rec4-live", 0.0}, {"rec4-paused", 0.0}}));
    EXPECT_EQ(stats.memory, (QMap<QString, qint64>{{"rec4-live", 436 * 1024}, {"rec4-paused", 316 * 1024}}));
}

TEST(DockerStats, ColumnsThatDoNotReadLeaveTheirEntryOut)
{
    const QString text =
        "{\"Name\":\"web\",\"CPUPerc\":\"12.50%\",\"MemUsage\":\"1.5GiB / 8GiB\"}\n"
        "{\"Name\":\"gone\",\"CPUPerc\":\"--\",\"MemUsage\":\"-- / --\"}\n"
        "{\"Name\":\"idle\",\"CPUPerc\":\"0.00%\",\"MemUsage\":\"0B / 0B\"}\n"
        "{\"Name\":\"blank\",\"CPUPerc\":\"\",\"MemUsage\":\"\"}\n"
        "{\"Name\":\"spaced\",\"CPUPerc\":\" 3%\",\"MemUsage\":\"//\"}\n"
        "{\"CPUPerc\":\"50%\",\"MemUsage\":\"1MiB / 2MiB\"}\n"
        "{\"Name\":7,\"CPUPerc\":\"50%\"}\n"
        "not json at all\n"
        "{\"Name\":\"huge\",\"CPUPerc\":\"1e999%\",\"MemUsage\":\"99999999999TiB / 1GiB\"}\n";
    const LiveStats stats = Docker::parseDockerStats(text);
    EXPECT_EQ(stats.cpu, (QMap<QString, double>{{"web", 12.5}, {"idle", 0.0}}));
    EXPECT_EQ(stats.memory, (QMap<QString, qint64>{{"web", 1610612736}, {"idle", 0}}));
}

TEST(DockerStats, ALaterLineForTheSameNameReplacesItsEntries)
{
    const LiveStats stats =
        Docker::parseDockerStats("{\"Name\":\"a\",\"CPUPerc\":\"1%\",\"MemUsage\":\"1KiB / 1GiB\"}\n"
                                 "{\"Name\":\"a\",\"CPUPerc\":\"2%\",\"MemUsage\":\"2KiB / 1GiB\"}\n");
    EXPECT_EQ(stats.cpu.value("a"), 2.0);
    EXPECT_EQ(stats.memory.value("a"), 2048);
}

TEST(AppleStats, TwoRecordedSamplesGiveTheGrowthPerSecond)
{
    const auto first = Docker::parseContainerStats(fixture("engine/apple-stats-1.json"), CPUSample::initial(),
                                                   secondsAfterEpoch(100));
    EXPECT_TRUE(first.stats.cpu.isEmpty()); // nothing to compare with yet
    EXPECT_EQ(first.stats.memory, (QMap<QString, qint64>{{"web", 52428800}, {"db", 104857600}}));
    EXPECT_EQ(first.sample.usec, (QMap<QString, qint64>{{"web", 5000000}, {"db", 9000000}}));
    EXPECT_EQ(first.sample.at, secondsAfterEpoch(100));

    const auto second = Docker::parseContainerStats(fixture("engine/apple-stats-2.json"), first.sample,
                                                    secondsAfterEpoch(102));
    // web: 2,000,000 µs in 2 s is one processor; db restarted (its counter went back); cache is new.
    EXPECT_EQ(second.stats.cpu, (QMap<QString, double>{{"web", 100.0}}));
    EXPECT_EQ(second.stats.memory.size(), 3);
    EXPECT_EQ(second.sample.usec.value("db"), 150000);
    EXPECT_EQ(second.sample.usec.value("cache"), 40000);
}

TEST(AppleStats, NoShareWithoutElapsedTime)
{
    const auto first = Docker::parseContainerStats(fixture("engine/apple-stats-1.json"), CPUSample::initial(),
                                                   secondsAfterEpoch(50));
    for (const QDateTime& now : {secondsAfterEpoch(50), secondsAfterEpoch(40), QDateTime()}) {
        const auto again =
            Docker::parseContainerStats(fixture("engine/apple-stats-2.json"), first.sample, now);
        EXPECT_TRUE(again.stats.cpu.isEmpty()) << now.toString().toStdString();
        EXPECT_EQ(again.stats.memory.size(), 3);
    }
}

TEST(AppleStats, UnreadableOutputLosesThePreviousSample)
{
    CPUSample previous{{{"web", 1}}, secondsAfterEpoch(1)};
    for (const QString text : {"not json", "{\"id\":\"web\"}", "[1, 2]", "[{\"id\":\"web\"}, 3]", "[]", ""}) {
        const auto reading = Docker::parseContainerStats(text, previous, secondsAfterEpoch(9));
        EXPECT_EQ(reading.stats, LiveStats{}) << text.toStdString();
        EXPECT_TRUE(reading.sample.usec.isEmpty()) << text.toStdString();
        EXPECT_EQ(reading.sample.at, secondsAfterEpoch(9));
    }
}

TEST(AppleStats, OddFieldsAreSkippedOrCutToWholeNumbers)
{
    const QString text = R"([
        {"id": "", "cpuUsageUsec": 1, "memoryUsageBytes": 1},
        {"id": 42, "cpuUsageUsec": 1, "memoryUsageBytes": 1},
        {"cpuUsageUsec": 1},
        {"id": "frac", "cpuUsageUsec": 2500000.9, "memoryUsageBytes": 1023.99},
        {"id": "text", "cpuUsageUsec": "5", "memoryUsageBytes": "5"},
        {"id": "vast", "cpuUsageUsec": 1e300, "memoryUsageBytes": -1e300},
        {"id": "big", "cpuUsageUsec": 9007199254740993, "memoryUsageBytes": 0}
    ])";
    const CPUSample previous{{{"frac", 500000}}, secondsAfterEpoch(0)};
    const auto reading = Docker::parseContainerStats(text, previous, secondsAfterEpoch(4));
    EXPECT_EQ(reading.stats.memory, (QMap<QString, qint64>{{"frac", 1023}, {"big", 0}}));
    EXPECT_EQ(reading.sample.usec, (QMap<QString, qint64>{{"frac", 2500000}, {"big", 9007199254740993}}));
    EXPECT_DOUBLE_EQ(reading.stats.cpu.value("frac"), 50.0);
}

TEST(SizeText, UnitsAndRounding)
{
    struct Row {
        const char* text;
        std::optional<qint64> bytes;
    };
    const Row rows[] = {
        {"1KB", 1000},
        {"1kB", 1000},
        {"1KiB", 1024},
        {"2.5MB", 2500000},
        {"1.5GiB", 1610612736},
        {"2TiB", 2199023255552},
        {"3TB", 3000000000000},
        {"0B", 0},
        {"  7kB", 7000},
        {"469.5MB (1%)", 469500000},
        {"43.57MiB", 45686456}, // 45,686,456.32
        {"0.5B", 1},            // halves away from zero
        {"1.4999B", 1},
        {"2.5B", 3},
        {"1.0000005kB", 1000}, // 1000.0005 rounds down
        {"1e3B", 1000},
        {".5kB", 500},
        {"-0B", 0},
        {"1.5 GB", std::nullopt}, // the first word has no unit
        {"12", std::nullopt},
        {"-1B", std::nullopt},
        {"abcB", std::nullopt},
        {"1xB", std::nullopt},
        {"1mb", std::nullopt}, // units are case-sensitive
        {"N/A", std::nullopt},
        {"", std::nullopt},
        {"B", std::nullopt},
        {"1\tGB", std::nullopt},
        {"infB", std::nullopt},
        {"nanB", std::nullopt},
        {"0x10B", std::nullopt},
        {"1e400B", std::nullopt},
        {"9000000TiB", std::nullopt}, // beyond 64 bits
        {"8000000TB", 8000000000000000000},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::bytes(QString::fromUtf8(row.text)), row.bytes) << row.text;
}

TEST(ProcessorShare, IsRelativeToTheWholeMachine)
{
    FixedCores four(4);
    struct Row {
        double cpu;
        const char* text;
    };
    const Row rows[] = {
        {0, "0%"},
        {2, "<1%"},
        {4, "1%"},
        {6, "2%"},
        {5.96, "1%"},
        {49.96, "12%"},
        {-3, "0%"},
        {400, "100%"},
        {801.9, "200%"},
        {std::numeric_limits<double>::quiet_NaN(), "0%"},
        {-std::numeric_limits<double>::infinity(), "0%"},
        {std::numeric_limits<double>::infinity(), "—"},
        {1e300, "—"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Docker::percent(row.cpu), QString::fromUtf8(row.text)) << row.cpu;
}

TEST(MachineFigures, TestsCanFixThemAndRestoreTheMachinesOwn)
{
    const double machineCores = Docker::cores();
    const quint64 machineMemory = Docker::physicalMemory();
    EXPECT_GE(machineCores, 1.0);
    EXPECT_GT(machineMemory, 0u);

    Docker::setCoresForTesting(10);
    Docker::setPhysicalMemoryForTesting(quint64(16) << 30);
    EXPECT_EQ(Docker::cores(), 10.0);
    EXPECT_EQ(Docker::physicalMemory(), quint64(16) << 30);
    EXPECT_EQ(Docker::percent(100), "10%");

    Docker::setCoresForTesting(std::nullopt);
    Docker::setPhysicalMemoryForTesting(std::nullopt);
    EXPECT_EQ(Docker::cores(), machineCores);
    EXPECT_EQ(Docker::physicalMemory(), machineMemory);
}

TEST(LiveStatsSums, AbsentOnlyWhenNoNameHasAValue)
{
    const LiveStats stats{{{"web", 10.0}, {"db", 0.0}}, {{"web", 100}, {"db", 50}}};
    EXPECT_EQ(stats.cpuOf({"absent"}), std::nullopt);
    EXPECT_EQ(stats.cpuOf({}), std::nullopt);
    EXPECT_EQ(stats.cpuOf({"db"}), 0.0);
    EXPECT_EQ(stats.cpuOf({"web", "absent", "web"}), 20.0);
    EXPECT_EQ(stats.memoryOf({"web", "db", "absent"}), 150);
    EXPECT_EQ(stats.memoryOf({"absent"}), std::nullopt);

    const LiveStats vast{{}, {{"a", std::numeric_limits<qint64>::max()}, {"b", 1}}};
    EXPECT_EQ(vast.memoryOf({"a", "b"}), std::numeric_limits<qint64>::max());
}

TEST(LiveStatsSums, MergingKeepsTheReceiversEntries)
{
    const LiveStats mine{{{"a", 1.0}}, {{"a", 10}}};
    const LiveStats theirs{{{"a", 2.0}, {"b", 3.0}}, {{"a", 20}, {"c", 30}}};
    const LiveStats merged = mine.merging(theirs);
    EXPECT_EQ(merged.cpu, (QMap<QString, double>{{"a", 1.0}, {"b", 3.0}}));
    EXPECT_EQ(merged.memory, (QMap<QString, qint64>{{"a", 10}, {"c", 30}}));
}

TEST(TimedDocker, GivesOutputOnlyForASuccessfulRunInTime)
{
    TestSupport::FakeTools fakes({"docker"});
    fakes.answer("docker", {"stats", "--no-stream", "--format", "json"}, fixture("engine/stats.ndjson"));
    fakes.answer("docker", {"ps", "--format", "json"}, "partial\n", "engine gone", 1);
    fakes.answer("docker", {"version"}, "");
    fakes.answerBytes("docker", {"images"}, "caf\xc3", {}, 0);

    const auto stats = Docker::timed(Docker::process({"stats", "--no-stream", "--format", "json"}), 10.0);
    ASSERT_TRUE(stats);
    EXPECT_EQ(Docker::parseDockerStats(*stats).memory.size(), 2);
    EXPECT_EQ(Docker::timed(Docker::process({"ps", "--format", "json"}), 10.0), std::nullopt);
    EXPECT_EQ(Docker::timed(Docker::process({"version"}), 10.0), QString());   // empty output is still output
    EXPECT_EQ(Docker::timed(Docker::process({"images"}), 10.0), std::nullopt); // not UTF-8

    Platform::PreparedProcess nowhere =
        Docker::process({"version"}, std::nullopt, QStringLiteral("/nonexistent/voskel"));
    EXPECT_EQ(Docker::timed(nowhere, 10.0), std::nullopt);
}

TEST(TimedDocker, AHungClientIsEndedEvenWhenItIgnoresTermination)
{
    TestSupport::FakeTools fakes({"docker"});
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("ignore-term"));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Docker::timed(Docker::process({"stats", "--no-stream", "--format", "json"}), 0.5),
              std::nullopt);
    // The limit, the two-second grace, then the kill.
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_GE(clock.elapsed(), 400);
}

TEST(TimedDocker, LimitsThatAreNotNumbersEndTheChildAtOnce)
{
    TestSupport::FakeTools fakes({"docker"});
    TestSupport::ScopedEnv mode("VOSKEL_FAKE_MODE", QByteArray("hang"));
    for (const double seconds : {std::numeric_limits<double>::quiet_NaN(), -5.0}) {
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(Docker::timed(Docker::process({"stats"}), seconds), std::nullopt);
        EXPECT_LT(clock.elapsed(), 3000);
    }
}
