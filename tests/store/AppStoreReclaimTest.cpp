#include "store/StoreFixture.h"

#include "platform/PreparedProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace StoreTesting;
using Call = ScriptedEngine::Call;
using Command = ScriptedEngine::Command;

namespace {

class Reclaim : public ScriptedStore {
protected:
    static Reclaimable item(Reclaimable::Kind kind, const QString& ref, const std::optional<Runtime>& runtime)
    {
        Reclaimable r;
        r.kind = kind;
        r.ref = ref;
        r.name = ref;
        r.runtime = runtime;
        return r;
    }

    static DiskUsage total(qint64 bytes) { return DiskUsage{bytes, {}, {}, {}, {}}; }
};

class Login : public ScriptedStore {};

const QString secret = QStringLiteral("  s3cret pass ");

} // namespace

TEST_F(Reclaim, EachRuntimesItemsAreRemovedOnThatRuntime)
{
    AppStore& s = storeOn({entry(alpha), entry(beta)}, beta, true);
    const QList<Reclaimable> items{
        item(Reclaimable::Kind::Image, "web:1", alpha),
        item(Reclaimable::Kind::Container, "old", std::nullopt),
        item(Reclaimable::Kind::Container, "older", alpha),
        item(Reclaimable::Kind::BuildCache, "", beta),
    };

    EXPECT_TRUE(run(s.reclaim(items)).isEmpty());

    QList<Command> ran = engine->commands();
    std::sort(ran.begin(), ran.end(),
              [](const Command& a, const Command& b) { return a.runtime < b.runtime; });
    EXPECT_EQ(ran, (QList<Command>{{{"rm", "older"}, "alpha", {}, {}},
                                   {{"rmi", "web:1"}, "alpha", {}, {}},
                                   {{"rm", "old"}, "beta", {}, {}},
                                   {{"builder", "prune", "-f"}, "beta", {}, {}}}))
        << "a candidate without a runtime goes to the one shown, in the same group as beta's own";
    EXPECT_FALSE(s.busy());
}

TEST_F(Reclaim, FailuresAreReturnedOnePerCommandAndEverythingIsReloaded)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    engine->failCommand({"rm", "old"}, "Error: container is running\n");
    engine->failCommand({"volume", "rm", "data"}, "");
    QSignalSpy busy(&s, &AppStore::busyChanged);

    const QStringList failed = run(s.reclaim(
        {item(Reclaimable::Kind::Container, "old", alpha), item(Reclaimable::Kind::Volume, "data", alpha)}));

    EXPECT_EQ(failed, (QStringList{"Error: container is running", "docker volume rm exited 1."}));
    EXPECT_EQ(engine->count(Call::Usage, alpha), 1);
    // Once to weigh the volume just before it goes, once for the refresh.
    EXPECT_EQ(engine->count(Call::Containers, alpha), 2);
    EXPECT_EQ(busy.size(), 2);
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(s.error(), std::nullopt) << "the sheet shows the failures";
}

// A volume removed and made again under its name since it was measured has another creation time: it
// stays with its data and fails alone, while the volumes still as measured go.
TEST_F(Reclaim, AVolumeMadeAgainSinceItWasMeasuredStaysAndTheRestGo)
{
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const auto measured = [](const QString& name, const QString& createdAt) {
        Reclaimable r = item(Reclaimable::Kind::Volume, name, alpha);
        r.createdAt = createdAt;
        return r;
    };
    const auto now = [this](const QString& name, const QString& createdAt) {
        engine->answer({"volume", "inspect", "--", name},
                       {0, QString(R"([{"Name":"%1","CreatedAt":"%2"}])").arg(name, createdAt), {}});
    };
    now("data", "2026-12-07T21:53:26Z");
    now("spare", "2026-12-07T21:50:00Z");
    engine->answer({"volume", "inspect", "--", "gone"},
                   {1, "[]\n", "Error response from daemon: get gone: no such volume\n"});

    const QStringList failed = run(s.reclaim(
        {measured("data", "2026-12-07T21:53:25Z"), measured("spare", "2026-12-07T21:50:00Z"),
         measured("gone", "2026-12-07T21:50:00Z"), item(Reclaimable::Kind::Volume, "by-hand", alpha)}));

    EXPECT_EQ(failed, (QStringList{"data was made again since it was measured; not removed.",
                                   "Error response from daemon: get gone: no such volume"}));
    QList<QStringList> removals = engine->commandArgs();
    removals.removeIf([](const QStringList& args) { return args.value(1) != "rm"; });
    EXPECT_EQ(removals, (QList<QStringList>{{"volume", "rm", "spare", "by-hand"}}))
        << "one with no measured time to compare goes as it did";
}

TEST_F(Reclaim, TheNoticeSaysHowMuchTheTotalFell)
{
    const struct {
        const char* name;
        std::optional<DiskUsage> before;
        std::optional<DiskUsage> after;
        std::optional<QString> notice;
    } rows[] = {
        {"fell", total(5'000'000), total(3'500'000), "Reclaimed 1.5 MB."},
        {"did not fall", total(5'000'000), total(5'000'000), "earlier"},
        {"grew meanwhile", total(5'000'000), total(6'000'000), "earlier"},
        {"unknown before", std::nullopt, total(1), "earlier"},
        {"unreadable after", total(5'000'000), std::nullopt, "earlier"},
    };
    for (const auto& row : rows) {
        AppStore& s = makeStore();
        storeOn({entry(alpha)}, alpha);
        s.setUsage(row.before);
        s.setNotice(QStringLiteral("earlier"));
        engine->setUsage(alpha, row.after);
        run(s.reclaim({item(Reclaimable::Kind::Image, "web:1", alpha)}));
        EXPECT_EQ(s.notice(), row.notice) << row.name;
    }
}

// Counted runtime by runtime: one whose measurement brings no figures after the reclaim had its earlier
// figures dropped, not freed.
TEST_F(Reclaim, TheNoticeCountsOnlyWhatEachRuntimeMeasuredFreed)
{
    AppStore& s = storeOn({entry(alpha), entry(beta)}, alpha, true);
    engine->setUsage(alpha, total(5'000'000));
    engine->setUsage(beta, total(2'000'000));
    run(s.loadUsage());
    ASSERT_EQ(s.usage()->total, 7'000'000);
    engine->setUsage(alpha, total(3'500'000));
    engine->setUsage(beta, std::nullopt);
    run(s.reclaim({item(Reclaimable::Kind::Image, "web:1", alpha)}));
    EXPECT_EQ(s.usage()->total, 3'500'000);
    EXPECT_EQ(s.notice(), "Reclaimed 1.5 MB.");
}

TEST_F(Login, ThePasswordGoesOnlyToStandardInputAndTheServerOnlyWhenGiven)
{
    AppStore& s = storeOn({entry(alpha), entry(beta)}, beta);
    run(s.login(" registry.example:5000\t", " \tme ", secret));
    run(s.login(" \t ", "me", secret));

    EXPECT_EQ(
        engine->commands(),
        (QList<Command>{{{"login", "--username", "me", "--password-stdin", "--", "registry.example:5000"},
                         "beta",
                         {},
                         secret},
                        {{"login", "--username", "me", "--password-stdin"}, "beta", {}, secret}}))
        << "the password unchanged, blanks and all";
    EXPECT_FALSE(s.busy());
    EXPECT_EQ(engine->total(Call::Containers), 0) << "no refresh";
}

TEST_F(Login, WhatTheClientSaidOrItsStatus)
{
    const QStringList args{"login", "--username", "me", "--password-stdin", "--", "r.example"};
    const struct {
        Platform::Capture done;
        AppStore::LoginResult result;
    } rows[] = {
        {{0, "Login Succeeded\n", "WARNING! stored unencrypted\n"}, {true, "Login Succeeded"}},
        {{0, "", "WARNING!"}, {true, "docker login exited 0."}},
        {{1, "", "  Error response from daemon: unauthorized\n"},
         {false, "Error response from daemon: unauthorized"}},
        {{1, "noise", ""}, {false, "docker login exited 1."}},
        {{-1, "", "No such file or directory"}, {false, "No such file or directory"}},
    };
    AppStore& s = storeOn({entry(alpha)}, alpha);
    s.setError(QStringLiteral("kept"));
    for (const auto& row : rows) {
        engine->answer(args, row.done);
        EXPECT_EQ(run(s.login("r.example", "me", "pw")), row.result) << row.done.err.toStdString();
    }
    EXPECT_EQ(s.error(), "kept");
}

TEST_F(Login, ThePasswordNeverShowsInWhatTheUserIsShown)
{
    const QStringList args{"login", "--username", "me", "--password-stdin"};
    engine->answer(args, {1, "", "Error: bad credentials for me:" + secret + "\n"});
    AppStore& s = storeOn({entry(alpha)}, alpha);
    const AppStore::LoginResult result = run(s.login("", "me", secret));
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.said.contains(secret));
    EXPECT_TRUE(result.said.startsWith("Error: bad credentials for me:"));
}

// The client never prints the password it reads, so its message is shown as it came: a password that
// is also a piece of its words ("e" of "Error") leaves them whole, and only one standing alone is masked.
TEST_F(Login, AShortPasswordLeavesTheClientsWordsWhole)
{
    const QStringList args{"login", "--username", "me", "--password-stdin"};
    const struct {
        QString password;
        QString err;
        QString said;
    } rows[] = {
        {"e", "Error response from daemon: Get \"https://r.example/v2/\": unauthorized",
         "Error response from daemon: Get \"https://r.example/v2/\": unauthorized"},
        {"pass", "passenger pass: pass_word (pass)",
         "passenger \u2022\u2022\u2022\u2022: pass_word (\u2022\u2022\u2022\u2022)"},
        {"!x!", "a!x!b !x!", "a!x!b \u2022\u2022\u2022\u2022"},
    };
    AppStore& s = storeOn({entry(alpha)}, alpha);
    for (const auto& row : rows) {
        engine->answer(args, {1, "", row.err + "\n"});
        EXPECT_EQ(run(s.login("", "me", row.password)).said, row.said) << row.password.toStdString();
    }
}

// A runtime that takes a removal and never answers: the reclaim sheet, which nothing closes while it
// removes, is not held for good. The command is ended after its time and the runtime named.
TEST(ReclaimOnAHungRuntime, TheRemovalIsEndedAfterItsTimeAndTheRuntimeNamed)
{
    // Takes a removal and never answers; measures and lists nothing.
    const TestSupport::ScriptedTool docker(
        "docker", "#!/bin/sh\ncase \" $* \" in *\" rm \"*) exec sleep 60 ;; esac\nexit 0\n");

    auto settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    store.setRuntimes({entry(alpha)});
    store.setRuntime(alpha);
    store.setRemovalLimit(std::chrono::milliseconds(300));
    const Reclaimable item{Reclaimable::Kind::Container,      "shop-web", "shop-web", 1000, {},
                           Reclaimable::Recovery::Restorable, "shop",     alpha};
    EXPECT_EQ(QCoro::waitFor(store.reclaim({item})), QStringList{"alpha is not answering."});
    EXPECT_FALSE(store.busy());
}

// On the way out the removal under way is ended with what it started, nothing after it starts, and the
// reclaim ends at once, without measuring and listing again. One asked for afterwards removes nothing.
TEST(ReclaimOnTheWayOut, TheRunningRemovalIsEndedAndNothingElseStarts)
{
    QTemporaryDir scratch;
    const QString pidFile = scratch.filePath("pid");
    const QString log = scratch.filePath("log");
    const TestSupport::ScriptedTool docker("docker", ("#!/bin/sh\necho \"$*\" >> '" + log +
                                                      "'\ncase \" $* \" in *\" rm \"*) echo $$ > '" +
                                                      pidFile + "'; exec sleep 60 ;; esac\nexit 0\n")
                                                         .toUtf8());
    const auto ran = [&log] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    };
    auto settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    store.setRuntimes({entry(alpha)});
    store.setRuntime(alpha);
    const auto item = [](Reclaimable::Kind kind, const QString& ref) {
        return Reclaimable{kind, ref, ref, 1000, {}, Reclaimable::Recovery::Gone, {}, alpha};
    };

    QElapsedTimer took;
    took.start();
    auto removal =
        store.reclaim({item(Reclaimable::Kind::Container, "old"), item(Reclaimable::Kind::Volume, "v")});
    ASSERT_TRUE(eventually([&] { return TestSupport::pidFromFile(pidFile) > 0; }));
    EXPECT_EQ(store.reclaims(), 1);
    store.windDown();
    const QStringList failures = QCoro::waitFor(std::move(removal));

    EXPECT_LT(took.elapsed(), 10'000) << "not the removal's own limit";
    EXPECT_TRUE(TestSupport::processGone(TestSupport::pidFromFile(pidFile)));
    EXPECT_EQ(failures, QStringList{Docker::stoppedMessage()});
    EXPECT_EQ(ran(), QStringList{"--context alpha rm old"});
    EXPECT_EQ(store.reclaims(), 0);
    EXPECT_FALSE(store.busy());

    EXPECT_TRUE(QCoro::waitFor(store.reclaim({item(Reclaimable::Kind::Volume, "w")})).isEmpty());
    EXPECT_EQ(ran().size(), 1);
}

TEST(LoginThroughTheClient, ThePasswordIsWrittenToStandardInputAndNeverEchoed)
{
    TestSupport::FakeTools tools({"docker"});
    auto settings = Platform::Settings::inMemory();
    AppStore store(*settings);
    const QString password = QStringLiteral("pa55 word");

    // A client that repeats what it read: what the user is shown still does not hold the password.
    TestSupport::ScopedEnv echo("VOSKEL_FAKE_MODE", QByteArray("stdin"));
    const AppStore::LoginResult echoed = QCoro::waitFor(store.login("r.example", "me", password));
    EXPECT_TRUE(echoed.ok);
    EXPECT_EQ(echoed.said, QStringLiteral("\u2022\u2022\u2022\u2022")) << "it did read the password";

    TestSupport::ScopedEnv args("VOSKEL_FAKE_MODE", QByteArray("args"));
    const AppStore::LoginResult listed = QCoro::waitFor(store.login("r.example", "me", password));
    EXPECT_EQ(listed.said, "login\n--username\nme\n--password-stdin\n--\nr.example");

    ASSERT_EQ(tools.calls().size(), 2);
    for (const QString& call : tools.calls())
        EXPECT_FALSE(call.contains(password)) << call.toStdString();
}
