#include "diagnostics/RuntimeDump.h"

#include "diagnostics/Output.h"

#include "diagnostics/RecordedScene.h"
#include "engine/Compose.h"
#include "engine/Docker.h"

using DiagnosticsTest::printed;

namespace {

class RuntimeDump : public DiagnosticsTest::RecordedScene {
protected:
    QString dump(const std::optional<QString>& context)
    {
        return printed([&](QTextStream& s) { Diagnostics::runDump(s, context); });
    }

    QStringList dockerCalls() const
    {
        QStringList calls;
        for (const QString& call : fakes.calls())
            if (call.startsWith("docker "))
                calls << call;
        return calls;
    }

    QStringList lines(const QString& out) const { return out.split('\n', Qt::SkipEmptyParts); }
};

} // namespace

TEST(RuntimeChoice, OnlyTheExactAppleWordReachesTheAppleSocket)
{
    EXPECT_EQ(Diagnostics::chosenRuntime(std::nullopt), std::nullopt);
    EXPECT_EQ(Diagnostics::chosenRuntime(QString("apple-container")), Docker::appleRuntime());
    EXPECT_EQ(Diagnostics::chosenRuntime(QString("Apple-Container")), Runtime::context("Apple-Container"));
    EXPECT_EQ(Diagnostics::chosenRuntime(QString("colima")), Runtime::context("colima"));
}

TEST_F(RuntimeDump, TheCurrentRuntimeReportsProjectsLooseContainersDiskAndOneReading)
{
    expectGolden(dump(std::nullopt), "dump-current.txt");
    // No runtime: the client decides, so nothing names one.
    for (const QString& call : dockerCalls())
        EXPECT_FALSE(call.contains("--context")) << call.toStdString();
}

TEST_F(RuntimeDump, TheAppleRuntimeIsReadThroughItsSocketAndMeasuredByItsOwnTool)
{
    QFile socket(sockets.filePath("apple.sock"));
    ASSERT_TRUE(socket.open(QIODevice::WriteOnly));
    socket.close();
    // The same counters twice: the share over the interval is zero. Were the first sample reported,
    // there would be no share at all.
    fakes.answer("container", {"stats", "--no-stream", "--format", "json"},
                 R"([{"id":"dg7-sidecar","cpuUsageUsec":4000000,"memoryUsageBytes":52428800},)"
                 R"( {"id":"dg7shop-web-1","cpuUsageUsec":9000000,"memoryUsageBytes":104857600}])");

    QString out = dump(QString("apple-container"));
    expectGolden(out.replace(sockets.filePath("apple.sock"), "@APPLE@"), "dump-apple.txt");
    EXPECT_EQ(fakes.calls().filter("container stats").size(), 2);
    EXPECT_TRUE(fakes.calls().filter("docker stats").isEmpty());
}

TEST_F(RuntimeDump, AFailedListingEndsTheDumpWithItsErrorText)
{
    answerDocker({"context", "ls", "--format", "json"},
                 recorded("context-ls.ndjson").replace("/var/run/docker.sock", socketPath()) +
                     R"({"Current":false,"DockerEndpoint":"unix:///nonexistent/other.sock","Name":"other"})"
                     "\n");
    fakes.answer("docker", QStringList{"--context", "other"} + Docker::volumeListingArgs(), "",
                 "Cannot connect to the Docker daemon at unix:///nonexistent/other.sock. "
                 "Is the docker daemon running?\n",
                 1);

    expectGolden(dump(QString("other")), "dump-other-failing.txt");
    // Only the context list and the compose checks belong to the client's own current context.
    for (const QString& call : dockerCalls())
        EXPECT_TRUE(call.startsWith("docker --context other ") || call.startsWith("docker context ls") ||
                    call.startsWith("docker compose"))
            << call.toStdString();
}

TEST_F(RuntimeDump, WithoutAContainerListingOnlyTheRuntimesAndTheFailureArePrinted)
{
    answerDocker({"context", "ls", "--format", "json"}, "", "context store unreadable", 1);
    answerDocker(Docker::containerListingArgs(), "", "  permission denied\n", 1);
    EXPECT_EQ(dump(std::nullopt), "dump failed: permission denied\n");
}

TEST_F(RuntimeDump, TheComposeFileStateDecidesTheSuffixAndTheCheckLine)
{
    const QString unsetVariable = TestSupport::fixture("engine/compose-unset-one.err");
    const QString invalidProperty = TestSupport::fixture("engine/compose-invalid-property.err");
    struct Row {
        const char* what;
        std::function<void()> arrange;
        QStringList expected; // the lines after "runtime: (current) ..." up to the first container
    };
    const Row rows[] = {
        {"a warning takes a second line, six blanks in",
         [&] { fakes.answer("docker", composeCheck(), "", unsetVariable); },
         {"  project dg7shop  1/2", "    compose config: ok - WARNING",
          "      " + *Docker::composeWarningSummary(unsetVariable)}},
        {"an invalid file",
         [&] { fakes.answer("docker", composeCheck(), "", invalidProperty, 15); },
         {"  project dg7shop  1/2", "    compose config: INVALID - validating "
                                    "/tmp/vskrec/c4/docker-compose.yml: services.web Additional "
                                    "property imag is not allowed"}},
        {"a folder without a compose file",
         [&] { QFile::remove(workdir.filePath("compose.yaml")); },
         {"  project dg7shop  1/2  [no compose file - compose disabled]"}},
        {"a folder that is gone",
         [&] { workdir.remove(); },
         {"  project dg7shop  1/2  [workdir missing - compose disabled]"}},
    };
    for (const Row& row : rows) {
        row.arrange();
        const QStringList out = lines(dump(std::nullopt));
        const qsizetype header = out.indexOf("runtime: (current)  containers: 4");
        ASSERT_GE(header, 0) << row.what;
        const QStringList section = out.mid(header + 1, row.expected.size() + 1);
        EXPECT_EQ(section.mid(0, row.expected.size()), row.expected) << row.what;
        EXPECT_EQ(section.value(row.expected.size()),
                  "    - dg7shop-web-1  [running]  voskel-test/busybox:latest")
            << row.what;
    }
}

TEST_F(RuntimeDump, ARuntimeThatGivesNoReadingSaysSoLast)
{
    answerDocker({"stats", "--no-stream", "--format", "json"}, "", "stats failed", 1);
    const QStringList out = lines(dump(std::nullopt));
    EXPECT_EQ(out.last(), "in use: this runtime did not report processor or memory");
    // The first sample failed, so no second one was taken.
    EXPECT_EQ(fakes.calls().filter("docker stats").size(), 1);
}

TEST_F(RuntimeDump, WithNothingRunningTheReadingHasNoFiguresAndNoContainerLines)
{
    answerDocker(Docker::containerListingArgs(), "");
    answerDocker({"stats", "--no-stream", "--format", "json"}, "");
    const QStringList out = lines(dump(std::nullopt));
    EXPECT_EQ(out.mid(1, 2), (QStringList{"runtime: (current)  containers: 0", "images: 1  volumes: 3"}));
    EXPECT_EQ(out.last(), "in use: — of the processor  — of 16 GB");
}

TEST_F(RuntimeDump, OnlyRunningContainersGetAReadingLineEvenWhenTheRuntimeReportsOthers)
{
    answerDocker({"stats", "--no-stream", "--format", "json"},
                 recorded("stats.ndjson") +
                     R"({"CPUPerc":"250.00%","MemUsage":"1.5MiB / 23.54GiB","Name":"dg7shop-worker-1"})"
                     "\n");
    const QStringList out = lines(dump(std::nullopt));
    // The stopped worker still counts in the sum: 250% of 8 processors.
    EXPECT_EQ(out.mid(out.size() - 3),
              (QStringList{"in use: 31% of the processor  3 MB of 16 GB", "  dg7-sidecar  0%  316 KB",
                           "  dg7shop-web-1  0%  1.2 MB"}));
}

// A context the client does not list is named with the ones it does, and ends with status 2; while
// the client cannot list them, the word is taken as it stands and the listing says what failed.
TEST_F(RuntimeDump, AContextTheClientDoesNotKnowIsNamedWithTheOnesItKnows)
{
    int status = -1;
    EXPECT_EQ(printed([&](QTextStream& s) { status = Diagnostics::runDump(s, QString("nosuch")); }),
              "no runtime named nosuch. Found: default\n");
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(fakes.calls().filter("--context nosuch").isEmpty());

    printed([&](QTextStream& s) { status = Diagnostics::runDump(s, QString("default")); });
    EXPECT_EQ(status, 0);

    answerDocker({"context", "ls", "--format", "json"}, "", "cannot read the contexts", 1);
    fakes.answer("docker", QStringList{"--context", "nosuch"} + Docker::containerListingArgs(), "",
                 "context \"nosuch\": context not found", 1);
    EXPECT_EQ(printed([&](QTextStream& s) { status = Diagnostics::runDump(s, QString("nosuch")); }),
              "dump failed: context \"nosuch\": context not found\n");
    EXPECT_EQ(status, 0);
}

// Names and labels are whoever made the containers' to choose; none of them may steer the terminal
// or start a line of its own.
TEST(PrintLine, ControlCharactersLineBreaksDirectionMarksAndInvisiblesAreWrittenOut)
{
    const struct {
        QString line;
        QString printed;
    } rows[] = {
        {"  project shop  1/2", "  project shop  1/2\n"},
        {QStringLiteral(u"  project \u00FCn\u00EF \u2014 caf\u00E9"),
         QStringLiteral(u"  project \u00FCn\u00EF \u2014 caf\u00E9\n")},
        {"red\x1B[31mtext", "red\\x1B[31mtext\n"},
        {"title\x1B]0;owned\x07", "title\\x1B]0;owned\\x07\n"},
        {"over\rwrite\b", "over\\x0Dwrite\\x08\n"},
        {QString("nul") + QChar(0) + "del\x7F", "nul\\x00del\\x7F\n"},
        {QStringLiteral(u"csi\u009B2J"), "csi\\u009B2J\n"},
        {"x\nruntime: evil\r\tz", "x\\x0Aruntime: evil\\x0D\\x09z\n"},
        {QStringLiteral(u"a\u2028b\u2029c"), "a\\u2028b\\u2029c\n"},
        {QStringLiteral(u"\u202Eevil\u202C \u2066x\u2069 \u202A\u202D"),
         "\\u202Eevil\\u202C \\u2066x\\u2069 \\u202A\\u202D\n"},
        // Marks and characters of no width, which would hide in a name.
        {QStringLiteral(u"\uFEFFweb"), "\\uFEFFweb\n"},
        {QStringLiteral(u"a\u200Bb\u200Cc\u200Dd\u200Ee\u200Ff"),
         "a\\u200Bb\\u200Cc\\u200Dd\\u200Ee\\u200Ff\n"},
        {QStringLiteral(u"\u061Cx\u2060y\u2064z\u206F"), "\\u061Cx\\u2060y\\u2064z\\u206F\n"},
        {QStringLiteral(u"\u200A\u2010\u2027\u202F\u2065\u2070\uFEFE"),
         QStringLiteral(u"\u200A\u2010\u2027\u202F\u2065\u2070\uFEFE\n")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(DiagnosticsTest::printed([&](QTextStream& s) { Diagnostics::printLine(s, row.line); }),
                  row.printed);
    // A script of the program's own keeps its lines and indentation.
    EXPECT_EQ(DiagnosticsTest::printed([](QTextStream& s) { Diagnostics::printLines(s, "one\n    two\n"); }),
              "one\n    two\n\n");
}
