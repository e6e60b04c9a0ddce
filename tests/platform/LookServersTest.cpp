#include "platform/LookServers.h"
#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "platform/KeeperProgram.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

template <typename R>
std::optional<R> asked(Platform::LookRequest<R> request, std::chrono::milliseconds limit = 10s)
{
    return QCoro::waitFor(Platform::lookAtDisk(std::move(request), limit));
}

// The look servers this process started that still run, by process id.
QSet<qint64> servers()
{
    QSet<qint64> found;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ..."
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (line.contains("(voskel-look)") && fields.size() > 1 && fields[1].toLongLong() == ::getpid())
            found.insert(entry.toLongLong());
    }
    return found;
}

} // namespace

// Each operation, asked of a server, answers as its function does here, over the kinds of thing a path
// may name: what the arguments and the answers go through on the way must keep them whole.
TEST(LookServers, EachLookAnswersAsItsFunctionDoes)
{
    QTemporaryDir root;
    const QString folder = root.filePath("shop");
    ASSERT_TRUE(QDir().mkpath(folder + "/b-web") && QDir().mkpath(folder + "/A-db") &&
                QDir().mkpath(folder + "/ünï"));
    QFile file(folder + "/compose.yaml");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(QFile::link(folder, root.filePath("to-shop")));
    ASSERT_TRUE(QFile::link(root.filePath("nowhere"), root.filePath("dangling")));
    const Platform::FileIdentity shop = *Platform::identityOf(folder);

    const QStringList paths{folder,
                            folder + "/compose.yaml",
                            root.filePath("to-shop"),
                            root.filePath("dangling"),
                            root.filePath("missing"),
                            root.filePath("to-shop/b-web/../../shop")};
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(asked(Platform::Looks::folderListing(path, true)), Platform::listFolder(path, true));
        EXPECT_EQ(asked(Platform::Looks::folder(path)), Platform::isFolder(path));
        EXPECT_EQ(asked(Platform::Looks::saveTarget(path)), Platform::lookAtSaveTarget(path));
        EXPECT_EQ(asked(Platform::Looks::taken(path)), Platform::isTaken(path));
        EXPECT_EQ(asked(Platform::Looks::exists(path)), Platform::pathExists(path));
        EXPECT_EQ(asked(Platform::Looks::gone(path)), Platform::isGone(path));
        EXPECT_EQ(asked(Platform::Looks::resolved(path)), Platform::resolvedPath(path));
        EXPECT_EQ(asked(Platform::Looks::reach(path, folder, shop)), Platform::reachOf(path, folder, shop));
    }
    EXPECT_EQ(asked(Platform::Looks::folderListing(folder, false))->folders,
              (QStringList{"A-db", "b-web", "ünï"}));

    // The changes, made there.
    EXPECT_EQ(asked(Platform::Looks::newFolder(folder, "cache")), std::optional<bool>(true));
    EXPECT_TRUE(QFileInfo(folder + "/cache").isDir());
    EXPECT_EQ(asked(Platform::Looks::newFolder(folder, "cache")), std::optional<bool>(false));
    const QString text = "line one\nline ü\n";
    EXPECT_EQ(asked(Platform::Looks::textWrite(folder + "/saved.log", text)),
              std::optional<std::optional<QString>>(std::optional<QString>()));
    QFile saved(folder + "/saved.log");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), text);
    const Platform::FileIdentity top = *Platform::identityOf("/");
    const std::optional<std::optional<QString>> refused = asked(Platform::Looks::trashMove("/", top));
    ASSERT_TRUE(refused && *refused);
    EXPECT_EQ(**refused, Platform::moveToTrash("/", top));
}

// The folders of the projects screen are looked at every ten seconds: once started, the servers answer
// round after round, and no round starts a process.
TEST(LookServers, LooksAtFoldersThatAnswerStartNoProcess)
{
    QTemporaryDir root;
    ASSERT_EQ(asked(Platform::Looks::exists(root.path())), std::optional<bool>(true));
    const QSet<qint64> first = servers();
    ASSERT_FALSE(first.isEmpty());
    for (int round = 0; round < 5; ++round)
        for (int i = 0; i < 20; ++i)
            ASSERT_EQ(asked(Platform::Looks::exists(root.filePath(QString::number(i)))),
                      std::optional<bool>(false));
    EXPECT_EQ(servers(), first);
    EXPECT_EQ(Platform::lookServerCount().abandoned, 0);
}

// A server holds nothing of this process's session: a session of its own without a terminal, the root
// as its folder, and no descriptor but its two pipes and the null device.
TEST(LookServers, AServerHoldsNoTerminalSocketOrFolderOfOurs)
{
    QTemporaryDir root;
    ASSERT_EQ(asked(Platform::Looks::exists(root.path())), std::optional<bool>(true));
    const QSet<qint64> running = servers();
    ASSERT_FALSE(running.isEmpty());
    for (const qint64 pid : running) {
        const QString proc = "/proc/" + QString::number(pid);
        QFile stat(proc + "/stat");
        ASSERT_TRUE(stat.open(QIODevice::ReadOnly));
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        ASSERT_GT(fields.size(), 4);
        EXPECT_EQ(fields[3].toLongLong(), pid) << "a session of its own";
        EXPECT_EQ(fields[4].toLongLong(), 0) << "no terminal";
        char cwd[256] = {};
        EXPECT_EQ(::readlink(QFile::encodeName(proc + "/cwd").constData(), cwd, sizeof cwd - 1), 1);
        EXPECT_STREQ(cwd, "/");
        QStringList held;
        for (const QString& fd : QDir(proc + "/fd").entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[256] = {};
            const ssize_t got =
                ::readlink(QFile::encodeName(proc + "/fd/" + fd).constData(), target, sizeof target - 1);
            held << fd + "=" + QString::fromLocal8Bit(target, got > 0 ? got : 0);
        }
        held.sort();
        ASSERT_EQ(held.size(), 3) << held.join(' ').toStdString();
        EXPECT_TRUE(held[0].startsWith("0=pipe:")) << held.join(' ').toStdString();
        EXPECT_TRUE(held[1].startsWith("1=pipe:")) << held.join(' ').toStdString();
        EXPECT_EQ(held[2], "2=/dev/null");
    }
}

// What a server looks at depends on the home it was started for: one started under another is not
// asked again, so a move to the Trash lands in the Trash of the home there is now.
TEST(LookServers, AServerOfAnotherHomeIsNotAskedAgain)
{
    QTemporaryDir root;
    const QStringList names{"first", "second"};
    for (const QString& name : names)
        ASSERT_TRUE(QDir().mkpath(root.filePath(name)));
    for (const QString& name : names) {
        const QString data = root.filePath("data-" + name);
        const TestSupport::ScopedEnv home("XDG_DATA_HOME", data.toUtf8());
        const QString folder = root.filePath(name);
        EXPECT_EQ(asked(Platform::Looks::trashMove(folder, *Platform::identityOf(folder))),
                  std::optional<std::optional<QString>>(std::optional<QString>()));
        EXPECT_TRUE(QFile::exists(data + "/Trash/files/" + name)) << name.toStdString();
    }
}

// A request the server cannot make is answered with nothing, and the server goes on serving.
TEST(LookServers, ALookTheServerDoesNotKnowAnswersNothing)
{
    QTemporaryDir root;
    const Platform::LookServerCount before = Platform::lookServerCount();
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(asked(Platform::LookRequest<bool>{"noSuchLook", {}}), std::nullopt);
    // Arguments that do not read as the operation's.
    EXPECT_EQ(asked(Platform::LookRequest<bool>{"exists", Platform::Wire::encoded(quint8(1))}), std::nullopt);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(asked(Platform::Looks::exists(root.path())), std::optional<bool>(true));
    EXPECT_EQ(Platform::lookServerCount().abandoned, before.abandoned);
}

// Without the server's program no folder is looked at: the looks answer nothing, at once.
TEST(LookServers, WithoutItsProgramNothingIsLookedAt)
{
    Platform::setLookServerProgram("/nonexistent/voskel-look");
    const auto restore = qScopeGuard([] { Platform::setLookServerProgram(QString()); });
    QTemporaryDir root;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(asked(Platform::Looks::exists(root.path())), std::nullopt);
    EXPECT_LT(clock.elapsed(), 5000);
}

// A folder on a mount that stalls holds up its server, never this process: the look is given up at its
// limit, the server is left behind, the folder is not looked at again while it lingers, other folders
// answer all along, and once the mount answers the server ends and the folder is looked at again.
TEST(LookServers, AStalledFolderHoldsItsServerAndNotThisProcess)
{
    TestSupport::StalledFolder mount;
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QTemporaryDir root;
    const QString stalled = mount.stalledPath();
    const int abandoned = Platform::lookServerCount().abandoned;

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Platform::lookAtFolder(stalled, Platform::Looks::exists(stalled), 1s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 3000);
    // Given up as the wait ends, on the thread that asked it.
    EXPECT_TRUE(TestSupport::eventually(
        [&] { return Platform::lookServerCount().abandoned == abandoned + 1; }, 2000));

    clock.restart();
    EXPECT_EQ(Platform::lookAtFolder(stalled, Platform::Looks::exists(stalled), 1s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 500) << "waited for a folder known to be held up";
    EXPECT_EQ(Platform::lookServerCount().abandoned, abandoned + 1) << "started another server for it";
    EXPECT_EQ(Platform::lookAtFolder(root.path(), Platform::Looks::exists(root.path()), 5s),
              std::optional<bool>(true));

    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned == abandoned; }, 20000));
    EXPECT_EQ(Platform::lookAtFolder(stalled, Platform::Looks::exists(stalled), 5s),
              std::optional<bool>(false));
}

// Nineteen folders on a mount that stalls, looked at round after round as the projects screen does:
// one server lingers for each at most, however many rounds there are, and a folder that answers is
// looked at in every round.
TEST(LookServers, ServersLeftBehindDoNotPileUpRoundAfterRound)
{
    TestSupport::StalledFolder mount;
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QTemporaryDir root;
    const int before = Platform::lookServerCount().abandoned;
    const QSet<qint64> serving = servers();
    for (int round = 0; round < 4; ++round) {
        QList<Platform::PendingLook<bool>> looks;
        for (int i = 0; i < 19; ++i) {
            const QString path = mount.stalledPath() + QString::number(i);
            looks << Platform::startFolderLook(path, Platform::Looks::exists(path), 500ms);
        }
        for (const Platform::PendingLook<bool>& look : looks)
            EXPECT_EQ(look.wait(1s), std::nullopt);
        EXPECT_EQ(Platform::lookAtFolder(root.path(), Platform::Looks::exists(root.path()), 5s),
                  std::optional<bool>(true))
            << "round " << round;
        const Platform::LookServerCount count = Platform::lookServerCount();
        EXPECT_LE(count.abandoned, before + 19) << "round " << round;
        EXPECT_LE(servers().size(), serving.size() + 19 + count.idle) << "round " << round;
    }
    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}

// Looks at many folders on a mount that stalls, under way at once and awaited by nobody yet (as a dump
// starts them all before it waits for the first): a folder that answers is still looked at, within its
// own limit, rather than queued behind them.
TEST(LookServers, AFolderThatAnswersIsLookedAtWhileManyOthersStall)
{
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QTemporaryDir root;
    const int before = Platform::lookServerCount().abandoned;
    QList<Platform::PendingLook<bool>> stalled;
    for (int i = 0; i < 24; ++i) {
        const QString path = mount.stalledPath() + QString::number(i);
        stalled << Platform::startFolderLook(path, Platform::Looks::exists(path), 10s);
    }
    EXPECT_EQ(Platform::lookAtFolder(root.path(), Platform::Looks::exists(root.path()), 3s),
              std::optional<bool>(true));
    for (const Platform::PendingLook<bool>& look : stalled)
        EXPECT_EQ(look.wait(0ms), std::nullopt);
    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}

// More folders on a mount that stalls than servers may be held at one mount: as many servers as that
// wait there, as the mount itself sees them, and the looks at the others do not answer, at once and
// starting nothing; a folder elsewhere answers all along; once the mount answers the servers end and
// take nothing with them.
TEST(LookServers, ServersHeldAtOneMountAreBoundedAndDoNotStopLooksElsewhere)
{
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    QTemporaryDir root;
    const int before = Platform::lookServerCount().abandoned;
    constexpr int folders = 3 * Platform::detail::mostHeldOnOneMount;
    QList<Platform::PendingLook<bool>> looks;
    for (int i = 0; i < folders; ++i) {
        const QString path = mount.stalledPath() + QString::number(i);
        looks << Platform::startFolderLook(path, Platform::Looks::exists(path), 2s);
    }
    for (const Platform::PendingLook<bool>& look : looks)
        EXPECT_EQ(look.wait(3s), std::nullopt);
    EXPECT_TRUE(TestSupport::eventually(
        [&] { return mount.held().size() == Platform::detail::mostHeldOnOneMount; }, 5000))
        << mount.held().size();

    QElapsedTimer clock;
    clock.start();
    const QString another = mount.stalledPath() + "-another";
    EXPECT_EQ(Platform::lookAtFolder(another, Platform::Looks::exists(another), 5s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 200) << "waited for a look past the bound";
    for (int i = 0; i < 3; ++i) {
        const QString path = root.filePath(QString::number(i));
        ASSERT_TRUE(QDir().mkpath(path));
        EXPECT_EQ(Platform::lookAtFolder(path, Platform::Looks::exists(path), 3s), std::optional<bool>(true))
            << "look " << i;
    }
    EXPECT_EQ(mount.held().size(), Platform::detail::mostHeldOnOneMount);

    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}

// Folders that stall on several mounts, more than servers may be held in all: as many servers as that
// wait, and then even a folder that answers does not, at once, until a stall lifts.
TEST(LookServers, PastTheBoundOnHeldServersALookDoesNotAnswerAtOnce)
{
    constexpr int mounts = Platform::detail::mostHeldServers / Platform::detail::mostHeldOnOneMount + 1;
    std::vector<std::unique_ptr<TestSupport::StalledFolder>> stalled;
    for (int m = 0; m < mounts; ++m) {
        stalled.push_back(std::make_unique<TestSupport::StalledFolder>(true));
        if (stalled.back()->whyNot())
            GTEST_SKIP() << stalled.back()->whyNot()->toStdString();
    }
    QTemporaryDir root;
    const int before = Platform::lookServerCount().abandoned;
    QList<Platform::PendingLook<bool>> looks;
    for (const auto& mount : stalled)
        for (int i = 0; i < Platform::detail::mostHeldOnOneMount; ++i) {
            const QString path = mount->stalledPath() + QString::number(i);
            looks << Platform::startFolderLook(path, Platform::Looks::exists(path), 2s);
        }
    for (const Platform::PendingLook<bool>& look : looks)
        EXPECT_EQ(look.wait(3s), std::nullopt);
    const auto heldInAll = [&] {
        qsizetype held = 0;
        for (const auto& mount : stalled)
            held += mount->held().size();
        return held;
    };
    EXPECT_TRUE(
        TestSupport::eventually([&] { return heldInAll() == Platform::detail::mostHeldServers; }, 5000))
        << heldInAll();

    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Platform::lookAtFolder(root.path(), Platform::Looks::exists(root.path()), 5s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 200) << "waited for a look past the bound";

    stalled.front()->release();
    std::optional<bool> answered;
    const QDeadlineTimer limit(20000);
    while (!answered && !limit.hasExpired())
        answered = Platform::lookAtFolder(root.path(), Platform::Looks::exists(root.path()), 1s);
    EXPECT_EQ(answered, std::optional<bool>(true));
    EXPECT_EQ(heldInAll(), Platform::detail::mostHeldServers);
    stalled.clear();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}

// Two looks at one folder on a mount that stalls, asked at the same moment: the second waits for the
// first, and once that is held up does not answer; one server waits at the folder, as the mount sees it.
TEST(LookServers, ASecondLookAtAStalledFolderStartsNoSecondServer)
{
    TestSupport::StalledFolder mount(true);
    if (mount.whyNot())
        GTEST_SKIP() << mount.whyNot()->toStdString();
    const QString path = mount.stalledPath();
    const int before = Platform::lookServerCount().abandoned;
    const Platform::PendingLook<bool> first =
        Platform::startFolderLook(path, Platform::Looks::exists(path), 2s);
    const Platform::PendingLook<bool> second =
        Platform::startFolderLook(path, Platform::Looks::exists(path), 2s);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(second.wait(3s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1000) << "the second look waited past the first being held up";
    EXPECT_EQ(first.wait(3s), std::nullopt);
    QThread::msleep(200);
    EXPECT_EQ(mount.held().size(), 1);
    mount.release();
    EXPECT_TRUE(
        TestSupport::eventually([&] { return Platform::lookServerCount().abandoned <= before; }, 20000));
}
