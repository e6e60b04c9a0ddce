#include "platform/StreamingProcess.h"
#include "platform/ProcessRunner.h"
#include "platform/Utf8Stream.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

using Platform::StreamingProcess;
using TestSupport::eventually;
using TestSupport::groupListed;
using TestSupport::processRuns;
using TestSupport::shell;

namespace {

// Everything a runner reports, in order.
struct Record {
    explicit Record(StreamingProcess& run)
    {
        QObject::connect(&run, &StreamingProcess::output, [this](const QString& text) {
            this->text += text;
            chunks << text;
        });
        QObject::connect(&run, &StreamingProcess::finished, [this](int code) { status = code; });
        QObject::connect(&run, &StreamingProcess::outputEnded, [this] { ended = true; });
    }

    QString text;
    QStringList chunks;
    std::optional<int> status;
    bool ended = false;
};

bool runToEnd(StreamingProcess& run, Record& record)
{
    return eventually([&] { return record.status && record.ended; }, 10000) && !run.isRunning();
}

// The first line a script printed: the process id it reports with `echo $!`.
qint64 firstNumber(const QString& text)
{
    return text.section(QLatin1Char('\n'), 0, 0).trimmed().toLongLong();
}

} // namespace

TEST(Utf8Stream, CarriesUnfinishedCharactersAndReplacesBadBytes)
{
    struct Row {
        const char* what;
        QList<QByteArray> pieces;
        QString expected;
    };
    const Row rows[] = {
        {"two-byte character split", {"caf\xc3", "\xa9!"}, QStringLiteral(u"café!")},
        {"four-byte character in three pieces",
         {"\xf0\x9f", "\x98", "\x80."},
         QStringLiteral(u"\U0001F600.")},
        {"invalid byte alone", {"a\xff", "b"}, QStringLiteral(u"a\uFFFDb")},
        {"encoded surrogate", {"\xed\xa0\x80x"}, QStringLiteral(u"\uFFFD\uFFFD\uFFFDx")},
        {"lead byte followed by a plain one", {"\xc3", "A"}, QStringLiteral(u"\uFFFDA")},
        {"unfinished at the end", {"ok\xe2\x82"}, QStringLiteral(u"ok\uFFFD\uFFFD")},
        {"byte order mark mid-stream is kept",
         {"a", "\xef\xbb\xbf"
               "b"},
         QStringLiteral(u"a\uFEFFb")},
        {"empty pieces", {"", "x", ""}, QStringLiteral(u"x")},
    };
    for (const Row& row : rows) {
        Platform::Utf8Stream stream;
        QString text;
        for (const QByteArray& piece : row.pieces)
            text += stream.decode(piece);
        text += stream.finish();
        EXPECT_EQ(text, row.expected) << row.what;
    }
}

TEST(StreamingProcess, MergesBothOutputsInWriteOrderWithNullInput)
{
    StreamingProcess run;
    Record record(run);
    ASSERT_EQ(
        run.start(shell("printf 'one\\n'; sleep 0.05; printf 'two\\n' >&2; sleep 0.05; printf 'three\\n'; "
                        "cat; echo end; exit 3")),
        std::nullopt);
    EXPECT_TRUE(run.isRunning());
    ASSERT_TRUE(runToEnd(run, record));
    EXPECT_EQ(record.text, "one\ntwo\nthree\nend\n");
    EXPECT_EQ(record.status, 3);
    EXPECT_EQ(run.exitStatus(), 3);
    EXPECT_FALSE(run.endedBySignal());
}

TEST(StreamingProcess, ACharacterSplitAcrossWritesArrivesWhole)
{
    StreamingProcess run;
    Record record(run);
    ASSERT_EQ(run.start(shell("printf 'caf\\303'; sleep 0.1; printf '\\251 \\377 ok'")), std::nullopt);
    ASSERT_TRUE(runToEnd(run, record));
    EXPECT_EQ(record.text, QStringLiteral(u"café \uFFFD ok"));
    // The half character waited for its second byte instead of becoming a replacement of its own.
    EXPECT_EQ(record.chunks.first(), "caf");
}

TEST(StreamingProcess, ALaunchFailureSaysWhyAndStartsNothing)
{
    // What an earlier test let go may still go meanwhile: nothing is added, whatever else goes.
    const int before = Platform::streamingChildCount();
    {
        StreamingProcess run;
        Platform::PreparedProcess missing;
        missing.program = QStringLiteral("/nonexistent/voskel-tool");
        const auto failure = run.start(missing);
        ASSERT_TRUE(failure);
        EXPECT_TRUE(failure->contains("/nonexistent/voskel-tool")) << failure->toStdString();
        EXPECT_FALSE(run.isRunning());
    }
    {
        StreamingProcess run;
        Platform::PreparedProcess inMissingFolder = shell("true");
        inMissingFolder.workingDirectory = QStringLiteral("/nonexistent/folder");
        const auto failure = run.start(inMissingFolder);
        ASSERT_TRUE(failure);
        EXPECT_TRUE(failure->contains("/nonexistent/folder")) << failure->toStdString();
    }
    EXPECT_LE(Platform::streamingChildCount(), before);
}

TEST(StreamingProcess, TerminateEndsTheWholeGroupAtOnce)
{
    StreamingProcess run;
    Record record(run);
    // A shell's background job ignores the interrupt, so only a signal to the group reaches it.
    ASSERT_EQ(run.start(shell("sleep 100 & echo $!; wait")), std::nullopt);
    ASSERT_TRUE(eventually([&] { return record.text.contains('\n'); }));
    const qint64 sleeper = firstNumber(record.text);
    ASSERT_TRUE(processRuns(sleeper));

    QElapsedTimer clock;
    clock.start();
    run.terminate();
    EXPECT_LT(clock.elapsed(), 100);
    ASSERT_TRUE(runToEnd(run, record));
    EXPECT_TRUE(run.endedBySignal());
    EXPECT_EQ(record.status, SIGTERM);
    EXPECT_TRUE(eventually([&] { return !processRuns(sleeper); }, 3000));
}

TEST(StreamingProcess, DroppingARunningChildHandsItToTheReaper)
{
    auto run = std::make_unique<StreamingProcess>();
    Record record(*run);
    ASSERT_EQ(run->start(shell("sleep 100 & echo $!; wait")), std::nullopt);
    ASSERT_TRUE(eventually([&] { return record.text.contains('\n'); }));
    const qint64 leader = run->processId();
    const qint64 sleeper = firstNumber(record.text);

    QElapsedTimer clock;
    clock.start();
    run.reset();
    EXPECT_LT(clock.elapsed(), 100); // no waiting on the thread that let it go
    EXPECT_TRUE(eventually([&] { return !processRuns(leader) && !processRuns(sleeper); }, 3000));
    EXPECT_TRUE(eventually([&] { return !groupListed(leader); }, 3000)) << "the reaper let it go";
}

TEST(StreamingProcess, TheReaperKillsAGroupThatIgnoresTheRequest)
{
    auto run = std::make_unique<StreamingProcess>();
    Record record(*run);
    ASSERT_EQ(run->start(shell("trap '' TERM INT; sleep 100 & echo $!; wait")), std::nullopt);
    ASSERT_TRUE(eventually([&] { return record.text.contains('\n'); }));
    const qint64 leader = run->processId();
    const qint64 sleeper = firstNumber(record.text);

    run.reset();
    QElapsedTimer clock;
    clock.start();
    TestSupport::eventually([] { return false; }, 1000);
    EXPECT_TRUE(processRuns(leader) && processRuns(sleeper)) << "asked to terminate, it is allowed its grace";
    EXPECT_TRUE(eventually([&] { return !processRuns(leader) && !processRuns(sleeper); },
                           Platform::reapGraceMs + 3000));
    EXPECT_GE(clock.elapsed(), Platform::reapGraceMs - 1500);
    EXPECT_TRUE(eventually([&] { return !groupListed(leader); }, 2000));
}

TEST(StreamingProcess, AGroupOutlivesItsChildUntilWhatTheChildLeftHasEndedToo)
{
    for (const bool endItHere : {true, false}) {
        StreamingProcess run;
        Record record(run);
        // The shell ends at once and leaves its background job in the group, holding the output open.
        ASSERT_EQ(run.start(shell(endItHere ? "sleep 100 & echo $!" : "sleep 0.5 & echo $!")), std::nullopt);
        ASSERT_TRUE(eventually([&] { return record.status.has_value(); }));
        const qint64 leader = run.processId();
        const qint64 sleeper = firstNumber(record.text);
        ASSERT_TRUE(processRuns(sleeper));
        EXPECT_FALSE(run.group().gone());
        EXPECT_TRUE(groupListed(leader));
        // The ended leader is held, so no other process can be given the group's number meanwhile.
        EXPECT_EQ(::kill(pid_t(leader), 0), 0);

        if (endItHere)
            run.terminate();
        EXPECT_TRUE(eventually([&] { return !processRuns(sleeper); }, 3000));
        EXPECT_TRUE(eventually([&] { return run.group().gone(); }, 3000));
        EXPECT_FALSE(groupListed(leader));
        EXPECT_NE(::kill(pid_t(leader), 0), 0) << "the leader was reaped";
        EXPECT_TRUE(eventually([&] { return record.ended; }, 3000))
            << "end of output follows its last writer";
    }
}

TEST(StreamingProcess, ALetGoChildRunsToItsEnd)
{
    QTemporaryDir dir;
    const QString mark = dir.filePath(QStringLiteral("done"));
    auto run = std::make_unique<StreamingProcess>();
    run->setWhenDropped(StreamingProcess::WhenDropped::letFinish);
    ASSERT_EQ(run->start(shell(QStringLiteral("sleep 0.3; echo finished > '%1'").arg(mark))), std::nullopt);
    run.reset();
    EXPECT_TRUE(eventually([&] { return QFile::exists(mark); }, 5000));
}

TEST(StreamingProcess, TheWayOutEndsOwnedAndLetGoChildren)
{
    StreamingProcess owned;
    Record record(owned);
    ASSERT_EQ(owned.start(shell("trap '' TERM; sleep 100 & echo $!; wait")), std::nullopt);
    ASSERT_TRUE(eventually([&] { return record.text.contains('\n'); }));
    const qint64 stubborn = firstNumber(record.text);

    // A child that has ended, with what it left behind still in its group.
    StreamingProcess ended;
    Record endedRecord(ended);
    ASSERT_EQ(ended.start(shell("sleep 100 & echo $!")), std::nullopt);
    ASSERT_TRUE(eventually([&] { return endedRecord.status.has_value(); }));
    const qint64 leftBehind = firstNumber(endedRecord.text);

    auto letGo = std::make_unique<StreamingProcess>();
    letGo->setWhenDropped(StreamingProcess::WhenDropped::letFinish);
    ASSERT_EQ(letGo->start(shell("sleep 100")), std::nullopt);
    const qint64 letGoPid = letGo->processId();
    letGo.reset();

    QElapsedTimer clock;
    clock.start();
    Platform::endRunningChildren(500);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(Platform::streamingChildCount(), 0);
    EXPECT_FALSE(processRuns(owned.processId()));
    EXPECT_FALSE(processRuns(letGoPid));
    // The leaders are reaped before the way out returns; the rest of a group has been sent the kill
    // and may take a moment to go. Without that kill it would sleep on, ignoring the request to end.
    EXPECT_TRUE(eventually([&] { return !processRuns(stubborn); }, 10000));
    EXPECT_TRUE(eventually([&] { return !processRuns(leftBehind); }, 10000));
    // The runner still reports the end the way out gave its child.
    ASSERT_TRUE(eventually([&] { return record.status.has_value(); }, 3000));
    EXPECT_EQ(record.status, SIGKILL);
}
