#include "platform/DiskLook.h"

#include <QCoroTask>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

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
