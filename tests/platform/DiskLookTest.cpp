#include "platform/DiskLook.h"
#include "platform/FolderLooks.h"
#include "support/TestSupport.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A stall as a mount that stops answering makes one, in this process before the look is sent: it
// holds until `release` is set (or half a minute has passed), counting the looks it held in `holding`.
std::function<void()>
stallUntil(std::shared_ptr<std::atomic_bool> release,
           std::shared_ptr<std::atomic_int> holding = std::make_shared<std::atomic_int>())
{
    return [release, holding] {
        ++*holding;
        const QDeadlineTimer limit(30000);
        while (!*release && !limit.hasExpired())
            std::this_thread::sleep_for(5ms);
        --*holding;
    };
}

} // namespace

TEST(DiskLook, AnAnswerInTimeIsHandedOverAndAStalledLookIsGivenUpOnAtItsLimit)
{
    QTemporaryDir dir;
    EXPECT_EQ(QCoro::waitFor(Platform::lookAtDisk(Platform::Looks::exists(dir.path()), 5s)),
              std::optional<bool>(true));

    // A look held like one on a mount that stalls: the caller resumes at the limit, empty-handed,
    // while the look is still held.
    const auto release = std::make_shared<std::atomic_bool>(false);
    const auto holding = std::make_shared<std::atomic_int>(0);
    Platform::LookRequest<bool> stalled = Platform::Looks::exists(dir.path());
    stalled.beforeLook = stallUntil(release, holding);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(QCoro::waitFor(Platform::lookAtDisk(std::move(stalled), 200ms)), std::nullopt);
    EXPECT_EQ(*holding, 1);
    EXPECT_LT(clock.elapsed(), 5000);
    *release = true;
    EXPECT_TRUE(TestSupport::eventually([&] { return *holding == 0; }));
    EXPECT_EQ(Platform::folderNotAnswering(QStringLiteral("/mnt/nas/shop")),
              "/mnt/nas/shop does not answer.");
}

// More looks held up than the disk pool has threads, as on a mount that stalls under many folders: a
// look at a folder that answers does not wait behind them, and each held one answers once it is let go.
TEST(DiskLook, ALookThatAnswersIsNotQueuedBehindHeldUpOnes)
{
    QTemporaryDir dir;
    const auto release = std::make_shared<std::atomic_bool>(false);
    const auto holding = std::make_shared<std::atomic_int>(0);
    std::vector<QCoro::Task<std::optional<bool>>> stalled;
    for (int i = 0; i < 20; ++i) {
        Platform::LookRequest<bool> look = Platform::Looks::exists(dir.path());
        look.beforeLook = stallUntil(release, holding);
        stalled.push_back(Platform::lookAtDisk(std::move(look), 30s));
    }
    EXPECT_EQ(QCoro::waitFor(Platform::lookAtDisk(Platform::Looks::exists(dir.path()), 8s)),
              std::optional<bool>(true));

    *release = true;
    for (QCoro::Task<std::optional<bool>>& look : stalled)
        EXPECT_EQ(QCoro::waitFor(std::move(look)), std::optional<bool>(true));
    EXPECT_EQ(*holding, 0);
}

// A folder whose look is held up does not answer, at once while that look is under way, and is not
// looked at again meanwhile; other folders answer all along, and the folder once its look is back.
TEST(DiskLook, AFolderHeldUpIsNotLookedAtAgainUntilItsLookIsBack)
{
    QTemporaryDir root;
    const QString shop = root.filePath("shop");
    const QString blog = root.filePath("blog");
    ASSERT_TRUE(QDir().mkpath(shop) && QDir().mkpath(blog));
    TestSupport::HeldLooks looks(shop);

    EXPECT_EQ(Platform::lookAtFolder(shop, Platform::Looks::exists(shop), 1s), std::nullopt);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Platform::lookAtFolder(shop, Platform::Looks::exists(shop), 5s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1000) << "waited for a folder known to be held up";
    EXPECT_EQ(Platform::lookAtFolder(blog, Platform::Looks::exists(blog), 5s), std::optional<bool>(true));
    EXPECT_EQ(looks.held(), 1);

    looks.release();
    std::optional<bool> answered;
    const QDeadlineTimer limit(5000);
    while (!answered && !limit.hasExpired())
        answered = Platform::lookAtFolder(shop, Platform::Looks::exists(shop), 1s);
    EXPECT_EQ(answered, std::optional<bool>(true));
}
