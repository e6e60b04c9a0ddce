#include "platform/DiskLook.h"

#include <QCoroTask>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(DiskLook, AnAnswerInTimeIsHandedOverAndAStalledLookIsGivenUpOnAtItsLimit)
{
    EXPECT_EQ(QCoro::waitFor(Platform::lookAtDisk([] { return 7; }, 5s)), std::optional<int>(7));

    // A look held like one on a mount that stalls: the caller resumes at the limit, empty-handed,
    // while the look is still held.
    std::atomic_bool release = false;
    std::atomic_bool finished = false;
    QElapsedTimer clock;
    clock.start();
    const std::optional<int> stalled = QCoro::waitFor(Platform::lookAtDisk(
        [&] {
            while (!release)
                std::this_thread::sleep_for(5ms);
            finished = true;
            return 1;
        },
        200ms));
    EXPECT_FALSE(stalled);
    EXPECT_FALSE(finished);
    EXPECT_LT(clock.elapsed(), 5000);
    release = true;
    while (!finished)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(Platform::folderNotAnswering(QStringLiteral("/mnt/nas/shop")), "/mnt/nas/shop does not answer.");
}

// More looks held up than the disk pool has threads, as on a mount that stalls under many folders: a
// look at a folder that answers does not wait behind them.
TEST(DiskLook, ALookThatAnswersIsNotQueuedBehindHeldUpOnes)
{
    const auto release = std::make_shared<std::atomic_bool>(false);
    const auto holding = std::make_shared<std::atomic_int>(0);
    std::vector<QCoro::Task<std::optional<int>>> stalled;
    for (int i = 0; i < 20; ++i)
        stalled.push_back(Platform::lookAtDisk(
            [release, holding] {
                ++*holding;
                const QDeadlineTimer limit(30000);
                while (!*release && !limit.hasExpired())
                    std::this_thread::sleep_for(5ms);
                --*holding;
                return 0;
            },
            30s));
    EXPECT_EQ(QCoro::waitFor(Platform::lookAtDisk([] { return 7; }, 8s)), std::optional<int>(7));

    *release = true;
    for (QCoro::Task<std::optional<int>>& look : stalled)
        EXPECT_EQ(QCoro::waitFor(std::move(look)), std::optional<int>(0));
    EXPECT_EQ(*holding, 0);
}

// A folder whose look is held up does not answer, at once while that look is under way, and is not
// looked at again meanwhile; other folders answer all along, and the folder once its look is back.
TEST(DiskLook, AFolderHeldUpIsNotLookedAtAgainUntilItsLookIsBack)
{
    const auto release = std::make_shared<std::atomic_bool>(false);
    const auto holding = std::make_shared<std::atomic_bool>(false);
    Platform::detail::setBeforeFolderLookForTesting([release, holding](const QString& folder) {
        if (folder != u"/mnt/nas/shop")
            return;
        *holding = true;
        const QDeadlineTimer limit(30000);
        while (!*release && !limit.hasExpired())
            std::this_thread::sleep_for(5ms);
        *holding = false;
    });
    const auto restore = qScopeGuard([&] {
        *release = true;
        Platform::detail::setBeforeFolderLookForTesting({});
    });
    std::atomic_int looks = 0;
    const auto look = [&looks] {
        ++looks;
        return true;
    };

    EXPECT_EQ(Platform::lookAtFolder("/mnt/nas/shop", look, 1s), std::nullopt);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Platform::lookAtFolder("/mnt/nas/shop", look, 5s), std::nullopt);
    EXPECT_LT(clock.elapsed(), 1000) << "waited for a folder known to be held up";
    EXPECT_EQ(Platform::lookAtFolder("/srv/blog", look, 5s), std::optional<bool>(true));
    EXPECT_EQ(looks, 1);

    *release = true;
    std::optional<bool> answered;
    const QDeadlineTimer limit(5000);
    while (!answered && !limit.hasExpired())
        answered = Platform::lookAtFolder("/mnt/nas/shop", look, 1s);
    EXPECT_EQ(answered, std::optional<bool>(true));
    EXPECT_FALSE(*holding);
}
